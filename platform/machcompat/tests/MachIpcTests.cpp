#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/machcompat/MachException.h"

namespace {

mach_port_t newPort() {
    mach_port_t port = MACH_PORT_NULL;
    EXPECT_EQ(KERN_SUCCESS, mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &port));
    return port;
}

void destroy(mach_port_t port) { mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_RECEIVE, -1); }

TEST(MachCompatIpc, SendAndReceiveThroughAPortSetSwapsTheHeaderPorts) {
    mach_port_t port = newPort(), reply = newPort(), set = MACH_PORT_NULL;
    ASSERT_EQ(KERN_SUCCESS, mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_PORT_SET, &set));
    ASSERT_EQ(KERN_SUCCESS, mach_port_insert_right(mach_task_self(), port, port, MACH_MSG_TYPE_MAKE_SEND));
    ASSERT_EQ(KERN_SUCCESS, mach_port_move_member(mach_task_self(), port, set));

    struct {
        mach_msg_header_t head;
        uint32_t payload[30];
    } msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.head.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE);
    msg.head.msgh_remote_port = port;
    msg.head.msgh_local_port = reply;
    msg.head.msgh_id = 77;
    msg.payload[29] = 0xabcdef;
    ASSERT_EQ(MACH_MSG_SUCCESS, mach_msg(&msg.head, MACH_SEND_MSG, sizeof(msg), 0, MACH_PORT_NULL, 0, MACH_PORT_NULL));
    EXPECT_EQ(1, mach::portQueuedMessages(port));

    // Too small a buffer with MACH_RCV_LARGE: the size is reported and the message stays.
    mach_msg_header_t small;
    std::memset(&small, 0, sizeof(small));
    EXPECT_EQ(MACH_RCV_TOO_LARGE, mach_msg(&small, MACH_RCV_MSG | MACH_RCV_LARGE, 0, sizeof(small), set, 0, 0));
    EXPECT_EQ(sizeof(msg), small.msgh_size);

    decltype(msg) in;
    ASSERT_EQ(MACH_MSG_SUCCESS, mach_msg(&in.head, MACH_RCV_MSG, 0, sizeof(in), set, 0, 0));
    EXPECT_EQ(77, in.head.msgh_id);
    EXPECT_EQ(reply, in.head.msgh_remote_port);
    EXPECT_EQ(port, in.head.msgh_local_port);
    EXPECT_EQ(static_cast<mach_msg_bits_t>(MACH_MSG_TYPE_MOVE_SEND_ONCE), MACH_MSGH_BITS_REMOTE(in.head.msgh_bits));
    EXPECT_EQ(0xabcdefu, in.payload[29]);

    EXPECT_EQ(MACH_RCV_TIMED_OUT, mach_msg(&in.head, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof(in), set, 10, 0));
    destroy(port);
    destroy(reply);
    mach_port_mod_refs(mach_task_self(), set, MACH_PORT_RIGHT_PORT_SET, -1);
    msg.head.msgh_remote_port = port;
    EXPECT_EQ(MACH_SEND_INVALID_DEST, mach_msg(&msg.head, MACH_SEND_MSG, sizeof(msg), 0, 0, 0, 0));
}

TEST(MachCompatIpc, DroppingTheLastSendRightPostsNoSenders) {
    mach_port_t port = newPort(), notify = newPort();
    ASSERT_EQ(KERN_SUCCESS, mach_port_insert_right(mach_task_self(), port, port, MACH_MSG_TYPE_MAKE_SEND));
    mach_port_t previous = 1;
    ASSERT_EQ(KERN_SUCCESS, mach_port_request_notification(mach_task_self(), port, MACH_NOTIFY_NO_SENDERS, 0, notify,
                                                           MACH_MSG_TYPE_MAKE_SEND_ONCE, &previous));
    EXPECT_EQ(MACH_PORT_NULL, previous);
    ASSERT_EQ(KERN_SUCCESS, mach_port_deallocate(mach_task_self(), port));
    struct {
        mach_msg_header_t head;
        uint8_t rest[64];
    } in;
    ASSERT_EQ(MACH_MSG_SUCCESS, mach_msg(&in.head, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof(in), notify, 1000, 0));
    EXPECT_EQ(MACH_NOTIFY_NO_SENDERS, in.head.msgh_id);
    destroy(port);
    destroy(notify);
}

// Answers every exception request on port with result, after running fix.
template <typename Fix>
std::thread serve(mach_port_t port, kern_return_t result, Fix fix, std::atomic<int>* handled) {
    return std::thread([=] {
        struct {
            mach_msg_header_t head;
            uint8_t rest[mach::kMaxMessageSize];
        } in;
        if (mach_msg(&in.head, MACH_RCV_MSG, 0, sizeof(in), port, 0, 0) != MACH_MSG_SUCCESS) return;
        const auto* req = reinterpret_cast<const mach_exception_raise_request_t*>(&in);
        fix(*req);
        mig_reply_error_t reply;
        std::memset(&reply, 0, sizeof(reply));
        reply.Head.msgh_bits = MACH_MSGH_BITS(MACH_MSGH_BITS_REMOTE(in.head.msgh_bits), 0);
        reply.Head.msgh_remote_port = in.head.msgh_remote_port;
        reply.Head.msgh_size = sizeof(reply);
        reply.Head.msgh_id = in.head.msgh_id + 100;
        reply.NDR = NDR_record;
        reply.RetCode = result;
        mach_msg(&reply.Head, MACH_SEND_MSG, sizeof(reply), 0, 0, 0, 0);
        handled->fetch_add(1);
    });
}

TEST(MachCompatExceptionPorts, SwapReturnsThePreviousPortsGroupedByTarget) {
    mach_port_t a = newPort(), b = newPort();
    exception_mask_t masks[EXC_TYPES_COUNT];
    mach_port_t ports[EXC_TYPES_COUNT];
    exception_behavior_t behaviors[EXC_TYPES_COUNT];
    thread_state_flavor_t flavors[EXC_TYPES_COUNT];
    mach_msg_type_number_t count = EXC_TYPES_COUNT;
    ASSERT_EQ(KERN_SUCCESS, task_swap_exception_ports(mach_task_self(), EXC_MASK_ARITHMETIC | EXC_MASK_EMULATION, a,
                                                      EXCEPTION_DEFAULT, ARM_THREAD_STATE64, masks, &count, ports,
                                                      behaviors, flavors));
    EXPECT_EQ(0u, count);
    count = EXC_TYPES_COUNT;
    ASSERT_EQ(KERN_SUCCESS, task_swap_exception_ports(mach_task_self(), EXC_MASK_ARITHMETIC | EXC_MASK_EMULATION, b,
                                                      EXCEPTION_STATE, ARM_THREAD_STATE64, masks, &count, ports,
                                                      behaviors, flavors));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(EXC_MASK_ARITHMETIC | EXC_MASK_EMULATION, masks[0]);
    EXPECT_EQ(a, ports[0]);
    EXPECT_EQ(EXCEPTION_DEFAULT, behaviors[0]);
    ASSERT_EQ(KERN_SUCCESS, task_set_exception_ports(mach_task_self(), EXC_MASK_ARITHMETIC | EXC_MASK_EMULATION,
                                                     MACH_PORT_NULL, EXCEPTION_DEFAULT, 0));
    destroy(a);
    destroy(b);
}

TEST(MachCompatExceptionPorts, ClientCallsCarryCodesAndTheAnswer) {
    mach_port_t port = newPort();
    std::atomic<int> handled{0};
    int64_t seen[2] = {0, 0};
    exception_type_t seenType = 0;
    auto server = serve(port, KERN_FAILURE, [&](const mach_exception_raise_request_t& r) {
        seenType = r.exception;
        seen[0] = r.code[0];
        seen[1] = r.code[1];
    }, &handled);
    int64_t codes[2] = {1, 0x1234};
    EXPECT_EQ(KERN_FAILURE, mach_exception_raise(port, mach_thread_self(), mach_task_self(), EXC_BAD_ACCESS, codes, 2));
    server.join();
    EXPECT_EQ(1, handled.load());
    EXPECT_EQ(EXC_BAD_ACCESS, seenType);
    EXPECT_EQ(0x1234, seen[1]);
    destroy(port);
}

TEST(MachCompatExceptionPorts, AFaultBecomesARequestAndAHandledOneResumes) {
    size_t page = vm_page_size;
    void* mem = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, mem);
    mach_port_t port = newPort();
    exception_mask_t masks[EXC_TYPES_COUNT];
    mach_port_t ports[EXC_TYPES_COUNT];
    exception_behavior_t behaviors[EXC_TYPES_COUNT];
    thread_state_flavor_t flavors[EXC_TYPES_COUNT];
    mach_msg_type_number_t count = EXC_TYPES_COUNT;
    ASSERT_EQ(KERN_SUCCESS, thread_swap_exception_ports(mach_thread_self(), EXC_MASK_BAD_ACCESS, port,
                                                        EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, ARM_THREAD_STATE64,
                                                        masks, &count, ports, behaviors, flavors));
    std::atomic<int> handled{0};
    uint64_t faultAddress = 0;
    uint64_t faultPc = 0;
    thread_t faulting = mach_thread_self();
    auto server = serve(port, KERN_SUCCESS, [&](const mach_exception_raise_request_t& r) {
        faultAddress = static_cast<uint64_t>(r.code[1]);
        arm_thread_state64_t state;
        mach_msg_type_number_t n = ARM_THREAD_STATE64_COUNT;
        if (thread_get_state(r.thread.name, ARM_THREAD_STATE64, reinterpret_cast<thread_state_t>(&state), &n) ==
            KERN_SUCCESS) {
            faultPc = state.pc;
        }
        mprotect(mem, page, PROT_READ | PROT_WRITE);
    }, &handled);
    volatile int* p = static_cast<volatile int*>(mem);
    int value = *p;  // faults once, then succeeds
    server.join();
    EXPECT_EQ(0, value);
    EXPECT_EQ(1, handled.load());
    EXPECT_EQ(reinterpret_cast<uint64_t>(mem), faultAddress);
    EXPECT_NE(0u, faultPc);
    (void)faulting;
    count = EXC_TYPES_COUNT;
    thread_swap_exception_ports(mach_thread_self(), EXC_MASK_BAD_ACCESS, MACH_PORT_NULL, EXCEPTION_DEFAULT, 0, masks,
                                &count, ports, behaviors, flavors);
    munmap(mem, page);
    destroy(port);
}

// A fault handler installed after the exception ports were set would take
// faults away from them; setting ports again puts the exception ports first.
TEST(MachCompatExceptionPorts, SettingPortsAgainComesBeforeALaterFaultHandler) {
    GTEST_FLAG_SET(death_test_style, "fast");
    auto child = [] {
        size_t page = vm_page_size;
        void* mem = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        mach_port_t port = newPort();
        const exception_behavior_t behavior = EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES;
        task_set_exception_ports(mach_task_self(), EXC_MASK_BAD_ACCESS, port, behavior, ARM_THREAD_STATE64);
        signal(SIGSEGV, [](int) { _exit(3); });
        task_set_exception_ports(mach_task_self(), EXC_MASK_BAD_ACCESS, port, behavior, ARM_THREAD_STATE64);
        std::atomic<int> handled{0};
        auto server = serve(port, KERN_SUCCESS, [&](const mach_exception_raise_request_t&) {
            mprotect(mem, page, PROT_READ | PROT_WRITE);
        }, &handled);
        int value = *static_cast<volatile int*>(mem);
        server.join();
        _exit(handled.load() == 1 && value == 0 ? 0 : 4);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
