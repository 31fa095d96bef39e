// The Mach exception server, exception port sets, forwarding and the
// mapping of exceptions to signals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "LQCrashReporter/Source/DVLQCrashHostInfo.h"
#include "LQCrashReporter/Source/DVLQCrashMachExceptionServer.h"
#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/tests/CrashTestSupport.h"
#include "platform/foundation/TestSupport.h"

namespace {

std::atomic<int> g_calls{0};
std::atomic<int64_t> g_lastCode{0};
kern_return_t g_answer = KERN_SUCCESS;

kern_return_t callback(task_t, thread_t, exception_type_t, mach_exception_data_t code, mach_msg_type_number_t count,
                       void*) {
    ++g_calls;
    if (count >= 2) g_lastCode = code[1];
    return g_answer;
}

TEST(LQCrashMachServer, AnswersRequestsAndStopsWhenDestroyed) {
    ns::Error error;
    auto server = DVLQCrashMachExceptionServer::initWithCallBack(callback, nullptr, &error);
    ASSERT_TRUE(server) << error.description();
    EXPECT_TRUE(mach::isThreadPort(server->serverThread()));
    auto port = server->exceptionPortWithMask(EXC_MASK_BAD_ACCESS, &error);
    ASSERT_TRUE(port);
    EXPECT_EQ(EXC_MASK_BAD_ACCESS, port->mask());
    EXPECT_EQ(static_cast<exception_behavior_t>(EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES), port->behavior());
    EXPECT_EQ(1, mach::portSendRights(port->server_port()));  // the object's own reference only

    g_calls = 0;
    g_answer = KERN_SUCCESS;
    int64_t codes[2] = {KERN_INVALID_ADDRESS, 0xbad};
    EXPECT_EQ(KERN_SUCCESS, mach_exception_raise(port->server_port(), mach_thread_self(), mach_task_self(),
                                                 EXC_BAD_ACCESS, codes, 2));
    EXPECT_EQ(1, g_calls.load());
    EXPECT_EQ(0xbad, g_lastCode.load());
    // A request with 32-bit codes is shorter than the server takes.
    int32_t narrow[2] = {1, 2};
    EXPECT_EQ(KERN_FAILURE, exception_raise(port->server_port(), mach_thread_self(), mach_task_self(), EXC_BAD_ACCESS,
                                            narrow, 2));
    EXPECT_EQ(1, g_calls.load());

    mach_port_t serverPort = port->server_port();
    port.reset();  // the last send right goes: a no-senders notification the server ignores
    mach_port_t right = server->copySendRightForServerAndReturningError(&error);
    EXPECT_EQ(serverPort, right);
    g_answer = KERN_FAILURE;
    EXPECT_EQ(KERN_FAILURE, mach_exception_raise(right, mach_thread_self(), mach_task_self(), EXC_BAD_ACCESS, codes, 2));
    EXPECT_EQ(2, g_calls.load());
    mach_port_deallocate(mach_task_self(), right);
    server.reset();  // returns once the thread acknowledged
    EXPECT_EQ(-1, mach::portSendRights(serverPort));  // the port is gone
}

TEST(LQCrashMachServer, ExceptionsMapToSignals) {
    int signo, code;
    uint64_t address;
    int64_t codes[2] = {KERN_INVALID_ADDRESS, 0x42};
    ASSERT_TRUE(lqcrash_exception_to_signal(EXC_BAD_ACCESS, codes, 2, &signo, &code, &address));
    EXPECT_EQ(11, signo);
    EXPECT_EQ(1, code);
    EXPECT_EQ(0x42u, address);
    codes[0] = KERN_PROTECTION_FAILURE;
    ASSERT_TRUE(lqcrash_exception_to_signal(EXC_BAD_ACCESS, codes, 2, &signo, &code, &address));
    EXPECT_EQ(10, signo);
    EXPECT_EQ(2, code);
    codes[0] = 0x10001;
    ASSERT_TRUE(lqcrash_exception_to_signal(EXC_SOFTWARE, codes, 2, &signo, &code, &address));
    EXPECT_EQ(13, signo);
    codes[0] = 0x12345;
    ASSERT_TRUE(lqcrash_exception_to_signal(EXC_SOFTWARE, codes, 2, &signo, &code, &address));
    EXPECT_EQ(6, signo);
    ASSERT_TRUE(lqcrash_exception_to_signal(EXC_BREAKPOINT, codes, 2, &signo, &code, &address));
    EXPECT_EQ(5, signo);
    EXPECT_EQ(1, code);
    EXPECT_FALSE(lqcrash_exception_to_signal(EXC_BAD_ACCESS, codes, 1, &signo, &code, &address));
    EXPECT_FALSE(lqcrash_exception_to_signal(EXC_CRASH, codes, 2, &signo, &code, &address));
}

TEST(LQCrashMachServer, ForwardingGoesToTheFirstMatchingPreviousPort) {
    ns::Error error;
    g_calls = 0;
    g_answer = KERN_SUCCESS;
    auto previous = DVLQCrashMachExceptionServer::initWithCallBack(callback, nullptr, &error);
    ASSERT_TRUE(previous);
    auto port = previous->exceptionPortWithMask(EXC_MASK_ARITHMETIC, &error);
    DVLQCrashMachExceptionPortSet set({port});
    int64_t codes[2] = {1, 2};
    // Its mask lacks EXC_BAD_ACCESS: skipped, nothing handles it.
    EXPECT_EQ(KERN_FAILURE, lqcrash_exception_forward_mach_exception(mach_task_self(), mach_thread_self(),
                                                                     EXC_BAD_ACCESS, codes, 2,
                                                                     &set.asyncSafeRepresentation()));
    EXPECT_EQ(0, g_calls.load());
    EXPECT_EQ(KERN_SUCCESS, lqcrash_exception_forward_mach_exception(mach_task_self(), mach_thread_self(),
                                                                     EXC_ARITHMETIC, codes, 2,
                                                                     &set.asyncSafeRepresentation()));
    EXPECT_EQ(1, g_calls.load());
}

TEST(LQCrashMachServer, ExceptionTypesNoMaskCanNameAreNotForwarded) {
    ns::Error error;
    g_calls = 0;
    g_answer = KERN_SUCCESS;
    auto previous = DVLQCrashMachExceptionServer::initWithCallBack(callback, nullptr, &error);
    ASSERT_TRUE(previous);
    auto port = previous->exceptionPortWithMask(0xFFFFFFFFu, &error);
    DVLQCrashMachExceptionPortSet set({port});
    int64_t codes[2] = {1, 2};
    for (exception_type_t type : {-1, 32, 40}) {
        EXPECT_EQ(KERN_FAILURE, lqcrash_exception_forward_mach_exception(mach_task_self(), mach_thread_self(), type,
                                                                         codes, 2, &set.asyncSafeRepresentation()))
            << type;
    }
    EXPECT_EQ(0, g_calls.load());
}

TEST(LQCrashMachServer, AnExceptionAPreviousPortHandlesLeavesNoReport) {
    lqcrash_shared_image_list_setup();
    ns::test::TemporaryDirectory dir;
    ns::Error error;
    g_calls = 0;
    auto previous = DVLQCrashMachExceptionServer::initWithCallBack(callback, nullptr, &error);
    ASSERT_TRUE(previous);
    auto port = previous->exceptionPortWithMask(EXC_MASK_BAD_ACCESS, &error);
    DVLQCrashMachExceptionPortSet set({port});

    lqcrash_crash_context context{};
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&context.writer, "app", "1", nullptr, 0, false));
    std::string path = dir.file("live_report.lqcrash");
    std::vector<char> cpath(path.begin(), path.end());
    cpath.push_back('\0');
    context.path = cpath.data();
    context.port_set = set.asyncSafeRepresentation();
    int64_t codes[2] = {KERN_INVALID_ADDRESS, 0x10};

    g_answer = KERN_SUCCESS;
    EXPECT_EQ(KERN_SUCCESS, lqcrash_reporter_mach_callback(mach_task_self(), pl_mach_thread_self(), EXC_BAD_ACCESS,
                                                           codes, 2, &context));
    EXPECT_EQ(1, g_calls.load());
    EXPECT_NE(0, access(path.c_str(), F_OK));  // handled before us: nothing written

    g_answer = KERN_FAILURE;
    EXPECT_EQ(KERN_FAILURE, lqcrash_reporter_mach_callback(mach_task_self(), pl_mach_thread_self(), EXC_BAD_ACCESS,
                                                           codes, 2, &context));
    EXPECT_EQ(2, g_calls.load());
    DVlqcrash_log_writer_free(&context.writer);
    std::vector<uint8_t> bytes = lqtest::readFile(path);
    auto report = DVLQCrashReport::initWithData(ns::Data(bytes.begin(), bytes.end()), &error);
    ASSERT_TRUE(report) << error.description();
    EXPECT_EQ("SIGSEGV", report->signalInfo()->name());
    EXPECT_EQ("SEGV_MAPERR", report->signalInfo()->code());
    EXPECT_EQ(0x10u, report->signalInfo()->address());
    ASSERT_TRUE(report->machExceptionInfo());
    EXPECT_EQ(static_cast<uint64_t>(EXC_BAD_ACCESS), report->machExceptionInfo()->type());
    EXPECT_EQ((std::vector<uint64_t>{KERN_INVALID_ADDRESS, 0x10}), report->machExceptionInfo()->codes());
}

TEST(LQCrashMachServer, TaskPortSetsRoundTripThroughTheKernel) {
    ns::Error error;
    auto server = DVLQCrashMachExceptionServer::initWithCallBack(callback, nullptr, &error);
    auto port = server->exceptionPortWithMask(EXC_MASK_EMULATION, &error);
    std::shared_ptr<DVLQCrashMachExceptionPortSet> previous;
    ASSERT_TRUE(port->registerForTask(mach_task_self(), &previous, &error)) << error.description();
    ASSERT_TRUE(previous);
    EXPECT_EQ(0u, previous->asyncSafeRepresentation().count);
    auto current = DVLQCrashMachExceptionPort::exceptionPortsForTask(mach_task_self(), EXC_MASK_EMULATION, &error);
    ASSERT_TRUE(current);
    ASSERT_EQ(1u, current->set().size());
    EXPECT_EQ(port->server_port(), current->set()[0]->server_port());
    int rights = mach::portSendRights(port->server_port());
    current.reset();
    EXPECT_EQ(rights - 1, mach::portSendRights(port->server_port()));
    task_set_exception_ports(mach_task_self(), EXC_MASK_EMULATION, MACH_PORT_NULL, EXCEPTION_DEFAULT, 0);
}

kern_return_t faultingCallback(task_t, thread_t, exception_type_t, mach_exception_data_t, mach_msg_type_number_t,
                               void*) {
    lqtest::storeToUnmappedPage();
    return KERN_FAILURE;
}

// The server's own fault goes to the server's port, whose only receiver is
// the thread that faulted: it must end the process at once.
TEST(LQCrashMachServer, AFaultOnTheServerThreadEndsTheProcessWithTheDefaultAction) {
    GTEST_FLAG_SET(death_test_style, "fast");
    auto child = [] {
        signal(SIGSEGV, SIG_DFL);
        alarm(10);  // a hang ends here, with another signal
        ns::Error error;
        auto server = DVLQCrashMachExceptionServer::initWithCallBack(faultingCallback, nullptr, &error);
        if (!server) _exit(10);
        auto port = server->exceptionPortWithMask(EXC_MASK_BAD_ACCESS, &error);
        if (!port || !port->registerForTask(mach_task_self(), nullptr, &error)) _exit(11);
        faultingCallback(mach_task_self(), mach_thread_self(), 0, nullptr, 0, nullptr);
        _exit(12);
    };
    EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGSEGV), "");
}

// The server thread ends when it can't get a receive buffer, saying why: no
// server starts, or its port leaves the task's and a fault takes its signal.
TEST(LQCrashMachServer, AFailedBufferAllocationIsReportedWithItsError) {
    GTEST_FLAG_SET(death_test_style, "fast");
    struct Case {
        int allocationsThatWork;  // the first buffer, or the larger one a large message needs
        const char* message;
    };
    const Case cases[] = {{0, "Unexpected error in vm_allocate(): 6\n"},
                          {1, "Unexpected error in vm_allocate(): 0x6\n"}};
    for (const Case& c : cases) {
        ns::test::TemporaryDirectory dir;
        std::string log = dir.file("stderr");
        auto child = [&] {
            signal(SIGSEGV, SIG_DFL);
            alarm(10);  // a fault waiting on a server that is gone ends here, with another signal
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDERR_FILENO);
            mach::injectFailure(mach::InjectedCall::vmAllocate, KERN_RESOURCE_SHORTAGE, c.allocationsThatWork);
            lqcrash_exception_server_failure failure;
            lqcrash_exception_server_context* server = lqcrash_exception_server_start(callback, nullptr, &failure);
            if (!server != (c.allocationsThatWork == 0)) _exit(10);  // none starts without its first buffer
            if (!server && failure.kr != KERN_RESOURCE_SHORTAGE) _exit(14);
            if (c.allocationsThatWork > 0) {
                // Larger than the page the server starts with.
                static struct {
                    mach_msg_header_t head;
                    uint8_t body[6000];
                } large;
                mach_port_insert_right(mach_task_self(), server->server_port, server->server_port,
                                       MACH_MSG_TYPE_MAKE_SEND);
                task_set_exception_ports(mach_task_self(), EXC_MASK_BAD_ACCESS, server->server_port,
                                         EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, ARM_THREAD_STATE);
                large.head.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, 0);
                large.head.msgh_remote_port = server->server_port;
                if (mach_msg(&large.head, MACH_SEND_MSG, sizeof(large), 0, MACH_PORT_NULL, 0, MACH_PORT_NULL) !=
                    MACH_MSG_SUCCESS) {
                    _exit(11);
                }
                // The server's thread gives up and ends.
                int tid = mach::tidForThreadPort(server->server_thread);
                while (syscall(SYS_tgkill, getpid(), tid, 0) == 0) sched_yield();
            }
            if (lqtest::readText(log) != c.message) _exit(12);
            lqtest::storeToUnmappedPage();
            _exit(13);
        };
        EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGSEGV), "") << c.message;
    }
}

TEST(LQCrashHostInfo, ReleaseParsingAndTheExceptionMask) {
    LQCrashHostInfoVersion v;
    EXPECT_TRUE(DVLQCrashHostInfo::parseRelease("21.6.0", &v));
    EXPECT_EQ(21u, v.major);
    EXPECT_EQ(6u, v.minor);
    EXPECT_FALSE(DVLQCrashHostInfo::parseRelease("6.1", &v));
    EXPECT_EQ(6u, v.major);  // what was parsed is kept
    EXPECT_EQ(1u, v.minor);
    EXPECT_EQ(110u, DVLQCrashReporter::exceptionMaskForDarwinMajorVersion(12));
    EXPECT_EQ(4206u, DVLQCrashReporter::exceptionMaskForDarwinMajorVersion(13));
    EXPECT_EQ(110u, DVLQCrashReporter::exceptionMaskForDarwinMajorVersion(std::nullopt));
    auto host = DVLQCrashHostInfo::currentHostInfo();
    ASSERT_TRUE(host);
    EXPECT_GT(host->darwinVersion().major, 0u);
}

}  // namespace
