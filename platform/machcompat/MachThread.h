#pragma once
// Mach threads on Linux: the task's threads come from /proc/self/task; a
// thread is suspended by a reserved real-time signal whose handler parks the
// thread and leaves its registers, converted to the Darwin ARM layout, where
// thread_get_state finds them. A thread that never answers (qemu-user has one
// such host thread) is given up on after a bounded wait, and the suspension
// reports failure.
//
// Register records follow the Darwin 64-bit ARM layout the engine is written
// for; on an x86-64 host the general registers are placed in it by role (pc,
// frame pointer, stack pointer, the rest in fixed slots, see
// darwinMcontextFromLinux) so nothing is lost, and x86_THREAD_STATE64 gives
// them back under their own names.

#include <cstdint>

#include "platform/machcompat/Mach.h"

using thread_state_flavor_t = int;
using thread_state_t = natural_t*;

enum : thread_state_flavor_t {
    ARM_THREAD_STATE = 1,
    ARM_UNIFIED_THREAD_STATE = ARM_THREAD_STATE,
    ARM_EXCEPTION_STATE64 = 7,
    ARM_THREAD_STATE64 = 6,
    ARM_THREAD_STATE32 = 9,
    ARM_NEON_STATE64 = 17,
    x86_THREAD_STATE64 = 4,  // x86-64 hosts only
};

struct arm_thread_state32_t {
    uint32_t r[13];
    uint32_t sp;
    uint32_t lr;
    uint32_t pc;
    uint32_t cpsr;
};

struct arm_thread_state64_t {
    uint64_t x[29];
    uint64_t fp;
    uint64_t lr;
    uint64_t sp;
    uint64_t pc;
    uint32_t cpsr;
    uint32_t pad;
};
static_assert(sizeof(arm_thread_state64_t) == 272);

struct arm_state_hdr_t {
    uint32_t flavor;
    uint32_t count;
};

struct arm_unified_thread_state_t {
    arm_state_hdr_t ash;
    union {
        arm_thread_state32_t ts_32;
        arm_thread_state64_t ts_64;
    } uts;
};
static_assert(sizeof(arm_unified_thread_state_t) == 280);

// The 64-bit x86 general registers, in the platform's order.
struct x86_thread_state64_t {
    uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip, rflags, cs, fs, gs;
};
static_assert(sizeof(x86_thread_state64_t) == 168);

struct x86_state_hdr_t {
    uint32_t flavor;
    uint32_t count;
};

struct x86_thread_state_t {
    x86_state_hdr_t tsh;
    union {
        x86_thread_state64_t ts64;
    } uts;
};

struct arm_exception_state64_t {
    uint64_t far;
    uint32_t esr;
    uint32_t exception;
};

struct alignas(16) arm_neon_state64_t {
    unsigned __int128 v[32];
    uint32_t fpsr;
    uint32_t fpcr;
};

// The machine context of a Darwin 64-bit ARM user context: exception state,
// general registers, floating-point and vector registers (816 bytes).
struct darwin_mcontext64_t {
    arm_exception_state64_t es;
    arm_thread_state64_t ss;
    arm_neon_state64_t ns;
};
static_assert(sizeof(darwin_mcontext64_t) == 816);

// The user context record handed to crash callbacks: the size of the machine
// context that follows and a pointer to it.
struct darwin_ucontext_t {
    uint64_t uc_mcsize;
    darwin_mcontext64_t* uc_mcontext;
};

inline constexpr mach_msg_type_number_t ARM_THREAD_STATE64_COUNT = sizeof(arm_thread_state64_t) / 4;    // 68
inline constexpr mach_msg_type_number_t ARM_UNIFIED_THREAD_STATE_COUNT = sizeof(arm_unified_thread_state_t) / 4;  // 70
inline constexpr mach_msg_type_number_t ARM_EXCEPTION_STATE64_COUNT = sizeof(arm_exception_state64_t) / 4;
inline constexpr mach_msg_type_number_t x86_THREAD_STATE64_COUNT = sizeof(x86_thread_state64_t) / 4;  // 42
inline constexpr mach_msg_type_number_t THREAD_STATE_MAX = 1296;

// The task's threads, in /proc order, as thread ports in memory from
// vm_allocate (release with vm_deallocate, and each port with
// mach_port_deallocate).
kern_return_t task_threads(task_t task, thread_act_array_t* threads, mach_msg_type_number_t* count);
kern_return_t thread_suspend(thread_act_t thread);
kern_return_t thread_resume(thread_act_t thread);
// The registers of a suspended thread (or of one stopped in an exception).
// ARM_THREAD_STATE fills a unified record, ARM_THREAD_STATE64 a 64-bit one,
// ARM_EXCEPTION_STATE64 the fault address.
kern_return_t thread_get_state(thread_act_t thread, thread_state_flavor_t flavor, thread_state_t state,
                               mach_msg_type_number_t* count);

namespace mach {

// The signal that parks threads. Installed on first use; installing it
// earlier (as the crash reporter does when it is enabled) keeps sigaction out
// of crash time.
int suspendSignal();
void installThreadSuspension();
// How long a suspension waits for the thread to answer.
void setSuspendTimeoutMilliseconds(int milliseconds);

// Suspension in two steps, so that many threads share one bounded wait: the
// request signals the thread and returns at once, the wait ends when the
// thread has stopped or at the deadline (a threadSuspensionDeadline), where
// a thread that has not answered is given up on as thread_suspend gives it
// up. thread_suspend is the two in a row. Async-signal-safe.
int64_t threadSuspensionDeadline();
kern_return_t requestThreadSuspension(thread_act_t thread, int64_t deadline);
kern_return_t awaitThreadSuspension(thread_act_t thread, int64_t deadline);

// Converts the machine context of a Linux signal (the ucontext_t the kernel
// passed to an SA_SIGINFO handler) into the Darwin layout. Async-signal-safe.
void darwinMcontextFromLinux(const void* linuxUcontext, darwin_mcontext64_t* out);
// The x86-64 registers of a context made on an x86-64 host (by the call above
// or in the same slots). Async-signal-safe.
void x86ThreadStateFromMcontext(const darwin_mcontext64_t* context, x86_thread_state64_t* out);

namespace detail {
// A thread stopped in an exception trampoline offers its fault context, so
// that suspension and thread_get_state use it instead of signalling it.
void parkThreadWithContext(int tid, const darwin_mcontext64_t* context);
void unparkThread(int tid);
}  // namespace detail

}  // namespace mach
