#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/machcompat/MachThread.h"

namespace {

TEST(MachCompatThreads, ListsTheCallingThreadAndSuspendsAnother) {
    std::atomic<thread_t> port{MACH_PORT_NULL};
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> spins{0};
    std::thread worker([&] {
        port = mach_thread_self();
        while (!stop.load()) spins.fetch_add(1);
    });
    while (port.load() == MACH_PORT_NULL) std::this_thread::yield();

    thread_act_array_t threads = nullptr;
    mach_msg_type_number_t count = 0;
    ASSERT_EQ(KERN_SUCCESS, task_threads(mach_task_self(), &threads, &count));
    bool sawSelf = false, sawWorker = false;
    for (mach_msg_type_number_t i = 0; i < count; ++i) {
        sawSelf |= threads[i] == mach_thread_self();
        sawWorker |= threads[i] == port.load();
    }
    vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(threads), count * sizeof(thread_t));
    EXPECT_TRUE(sawSelf);
    EXPECT_TRUE(sawWorker);

    EXPECT_EQ(KERN_FAILURE, thread_suspend(mach_thread_self()));
    mach::setSuspendTimeoutMilliseconds(5000);  // a loaded machine may answer late
    ASSERT_EQ(KERN_SUCCESS, thread_suspend(port));
    mach::setSuspendTimeoutMilliseconds(500);
    uint64_t before = spins.load();
    arm_unified_thread_state_t state;
    mach_msg_type_number_t stateCount = ARM_UNIFIED_THREAD_STATE_COUNT;
    ASSERT_EQ(KERN_SUCCESS, thread_get_state(port, ARM_THREAD_STATE, reinterpret_cast<thread_state_t>(&state),
                                             &stateCount));
    EXPECT_EQ(ARM_UNIFIED_THREAD_STATE_COUNT, stateCount);
    EXPECT_EQ(static_cast<uint32_t>(ARM_THREAD_STATE64), state.ash.flavor);
    EXPECT_EQ(68u, state.ash.count);
    EXPECT_NE(0u, state.uts.ts_64.pc);
    EXPECT_NE(0u, state.uts.ts_64.sp);
#if defined(__x86_64__)
    // The same registers under their own names.
    x86_thread_state64_t x86;
    mach_msg_type_number_t x86Count = x86_THREAD_STATE64_COUNT;
    ASSERT_EQ(KERN_SUCCESS,
              thread_get_state(port, x86_THREAD_STATE64, reinterpret_cast<thread_state_t>(&x86), &x86Count));
    EXPECT_EQ(state.uts.ts_64.pc, x86.rip);
    EXPECT_EQ(state.uts.ts_64.sp, x86.rsp);
    EXPECT_EQ(0x33u, x86.cs);  // the 64-bit user code segment
#endif
    EXPECT_EQ(before, spins.load());  // parked
    ASSERT_EQ(KERN_SUCCESS, thread_resume(port));
    EXPECT_EQ(KERN_FAILURE, thread_get_state(port, ARM_THREAD_STATE, reinterpret_cast<thread_state_t>(&state),
                                             &stateCount));
    stop = true;
    worker.join();
}

TEST(MachCompatThreads, SuspensionOfAThreadThatNeverAnswersTimesOut) {
    // A thread blocking the suspension signal stands for qemu's own thread.
    std::atomic<thread_t> port{MACH_PORT_NULL};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, mach::suspendSignal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        port = mach_thread_self();
        while (!stop.load()) std::this_thread::yield();
    });
    while (port.load() == MACH_PORT_NULL) std::this_thread::yield();
    mach::setSuspendTimeoutMilliseconds(50);
    EXPECT_EQ(KERN_OPERATION_TIMED_OUT, thread_suspend(port));
    mach::setSuspendTimeoutMilliseconds(500);
    arm_unified_thread_state_t state;
    mach_msg_type_number_t stateCount = ARM_UNIFIED_THREAD_STATE_COUNT;
    EXPECT_NE(KERN_SUCCESS, thread_get_state(port, ARM_THREAD_STATE, reinterpret_cast<thread_state_t>(&state),
                                             &stateCount));
    stop = true;
    worker.join();
}

TEST(MachCompatThreads, LinuxContextConvertsToTheDarwinLayout) {
    ucontext_t uc;
    std::memset(&uc, 0, sizeof(uc));
#if defined(__aarch64__)
    for (int i = 0; i < 31; ++i) uc.uc_mcontext.regs[i] = 100 + i;
    uc.uc_mcontext.sp = 0x7000;
    uc.uc_mcontext.pc = 0x4000;
    uc.uc_mcontext.fault_address = 0xdead;
    darwin_mcontext64_t mc;
    mach::darwinMcontextFromLinux(&uc, &mc);
    EXPECT_EQ(100u, mc.ss.x[0]);
    EXPECT_EQ(128u, mc.ss.x[28]);
    EXPECT_EQ(129u, mc.ss.fp);
    EXPECT_EQ(130u, mc.ss.lr);
#else
    for (int i = 0; i < NGREG; ++i) uc.uc_mcontext.gregs[i] = 100 + i;
    uc.uc_mcontext.gregs[REG_RIP] = 0x4000;
    uc.uc_mcontext.gregs[REG_RSP] = 0x7000;
    uc.uc_mcontext.gregs[REG_RBP] = 0x7010;
    uc.uc_mcontext.gregs[REG_CR2] = 0xdead;
    uc.uc_mcontext.gregs[REG_CSGSFS] = 0x002B000500070033;  // ss, fs, gs, cs
    darwin_mcontext64_t mc;
    mach::darwinMcontextFromLinux(&uc, &mc);
    EXPECT_EQ(0x7010u, mc.ss.fp);
    // Every register comes back under its own name.
    x86_thread_state64_t x86;
    mach::x86ThreadStateFromMcontext(&mc, &x86);
    const std::pair<uint64_t, int> registers[] = {
        {x86.rax, REG_RAX}, {x86.rbx, REG_RBX}, {x86.rcx, REG_RCX}, {x86.rdx, REG_RDX}, {x86.rdi, REG_RDI},
        {x86.rsi, REG_RSI}, {x86.rbp, REG_RBP}, {x86.rsp, REG_RSP}, {x86.r8, REG_R8},   {x86.r9, REG_R9},
        {x86.r10, REG_R10}, {x86.r11, REG_R11}, {x86.r12, REG_R12}, {x86.r13, REG_R13}, {x86.r14, REG_R14},
        {x86.r15, REG_R15}, {x86.rip, REG_RIP}, {x86.rflags, REG_EFL}};
    for (const auto& [value, reg] : registers) EXPECT_EQ(static_cast<uint64_t>(uc.uc_mcontext.gregs[reg]), value) << reg;
    EXPECT_EQ(0x33u, x86.cs);
    EXPECT_EQ(5u, x86.fs);
    EXPECT_EQ(7u, x86.gs);
#endif
    EXPECT_EQ(0x4000u, mc.ss.pc);
    EXPECT_EQ(0x7000u, mc.ss.sp);
    EXPECT_EQ(0xdeadu, mc.es.far);
}

}  // namespace
