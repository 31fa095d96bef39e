#include "platform/machcompat/MachThread.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/machcompat/detail/Internal.h"

namespace mach {
namespace {

enum SuspendState : int {
    kIdle = 0,
    kRequested = 1,
    kSuspended = 2,
    kResuming = 3,
    kAbandoned = 4,
};

struct ThreadSlot {
    std::atomic<int> tid{0};
    std::atomic<int> state{kIdle};
    std::atomic<int> parked{0};
    darwin_mcontext64_t context;
};

constexpr int kMaxSlots = 512;
ThreadSlot g_slots[kMaxSlots];
std::atomic<int> g_installed{0};
std::atomic<int> g_timeoutMs{500};

int gettidRaw() { return static_cast<int>(::syscall(SYS_gettid)); }

using detail::futexWord;
using detail::monotonicMs;

void futexWake(std::atomic<int>* a) {
    ::syscall(SYS_futex, futexWord(a), FUTEX_WAKE_PRIVATE, 0x7fffffff, nullptr, nullptr, 0);
}

void futexWait(std::atomic<int>* a, int expected, const struct timespec* timeout) {
    ::syscall(SYS_futex, futexWord(a), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

ThreadSlot* findSlot(int tid) {
    for (ThreadSlot& s : g_slots) {
        if (s.tid.load(std::memory_order_acquire) == tid) return &s;
    }
    return nullptr;
}

ThreadSlot* slotFor(int tid) {
    if (ThreadSlot* s = findSlot(tid)) return s;
    for (ThreadSlot& s : g_slots) {
        int expected = 0;
        if (s.tid.compare_exchange_strong(expected, tid, std::memory_order_acq_rel)) {
            s.state.store(kIdle);
            s.parked.store(0);
            return &s;
        }
    }
    return nullptr;
}

void releaseSlotIfUnused(ThreadSlot* s, int tid) {
    if (s->parked.load() == 0 && s->state.load() == kIdle) {
        int expected = tid;
        s->tid.compare_exchange_strong(expected, 0);
    }
}

void suspendHandler(int, siginfo_t*, void* uc) {
    int savedErrno = errno;
    int tid = gettidRaw();
    ThreadSlot* s = findSlot(tid);
    if (s) {
        darwinMcontextFromLinux(uc, &s->context);
        int expected = kRequested;
        if (s->state.compare_exchange_strong(expected, kSuspended, std::memory_order_acq_rel)) {
            futexWake(&s->state);
            while (s->state.load(std::memory_order_acquire) == kSuspended) futexWait(&s->state, kSuspended, nullptr);
            s->state.store(kIdle, std::memory_order_release);
            futexWake(&s->state);
            releaseSlotIfUnused(s, tid);
        } else if (expected == kAbandoned) {
            // The suspender gave up on us long ago.
            s->state.store(kIdle, std::memory_order_release);
            releaseSlotIfUnused(s, tid);
        }
    }
    errno = savedErrno;
}

// Where an x86-64 context keeps its segment registers (the general ones take
// x0-x13, in the order of darwinMcontextFromLinux).
constexpr int kX86SlotCs = 14;
constexpr int kX86SlotFs = 15;
constexpr int kX86SlotGs = 16;

}  // namespace

int suspendSignal() { return SIGRTMAX - 3; }

void installThreadSuspension() {
    int expected = 0;
    if (!g_installed.compare_exchange_strong(expected, 1)) return;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_sigaction = suspendHandler;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&sa.sa_mask);
    sigdelset(&sa.sa_mask, SIGSEGV);
    sigdelset(&sa.sa_mask, SIGBUS);
    sigdelset(&sa.sa_mask, SIGILL);
    sigdelset(&sa.sa_mask, SIGFPE);
    sigdelset(&sa.sa_mask, SIGTRAP);
    sigdelset(&sa.sa_mask, SIGABRT);
    ::sigaction(suspendSignal(), &sa, nullptr);
}

void setSuspendTimeoutMilliseconds(int milliseconds) { g_timeoutMs.store(milliseconds); }

void darwinMcontextFromLinux(const void* linuxUcontext, darwin_mcontext64_t* out) {
    std::memset(out, 0, sizeof(*out));
    if (!linuxUcontext) return;
    const ucontext_t* uc = static_cast<const ucontext_t*>(linuxUcontext);
#if defined(__aarch64__)
    const mcontext_t& mc = uc->uc_mcontext;
    for (int i = 0; i < 29; ++i) out->ss.x[i] = mc.regs[i];
    out->ss.fp = mc.regs[29];
    out->ss.lr = mc.regs[30];
    out->ss.sp = mc.sp;
    out->ss.pc = mc.pc;
    out->ss.cpsr = static_cast<uint32_t>(mc.pstate);
    out->es.far = mc.fault_address;
    // Extension records in the reserved area: floating-point/vector registers
    // and the exception syndrome.
    const uint8_t* p = reinterpret_cast<const uint8_t*>(mc.__reserved);
    const uint8_t* end = p + sizeof(mc.__reserved);
    while (p + 8 <= end) {
        uint32_t magic, size;
        std::memcpy(&magic, p, 4);
        std::memcpy(&size, p + 4, 4);
        if (magic == 0 || size < 8 || size > static_cast<uint32_t>(end - p)) break;
        if (magic == 0x46508001u && size >= 16 + 512) {  // FPSIMD
            std::memcpy(&out->ns.fpsr, p + 8, 4);
            std::memcpy(&out->ns.fpcr, p + 12, 4);
            std::memcpy(out->ns.v, p + 16, 512);
        } else if (magic == 0x45535201u && size >= 16) {  // ESR
            uint64_t esr;
            std::memcpy(&esr, p + 8, 8);
            out->es.esr = static_cast<uint32_t>(esr);
        }
        p += size;
    }
#elif defined(__x86_64__)
    const greg_t* g = uc->uc_mcontext.gregs;
    const int order[] = {REG_RDI, REG_RSI, REG_RDX, REG_RCX, REG_R8, REG_R9, REG_RAX, REG_RBX,
                         REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
    for (size_t i = 0; i < sizeof(order) / sizeof(order[0]); ++i) out->ss.x[i] = static_cast<uint64_t>(g[order[i]]);
    // cs, gs and fs share one word, 16 bits each.
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    out->ss.x[kX86SlotCs] = segments & 0xFFFF;
    out->ss.x[kX86SlotFs] = (segments >> 32) & 0xFFFF;
    out->ss.x[kX86SlotGs] = (segments >> 16) & 0xFFFF;
    out->ss.fp = static_cast<uint64_t>(g[REG_RBP]);
    out->ss.sp = static_cast<uint64_t>(g[REG_RSP]);
    out->ss.pc = static_cast<uint64_t>(g[REG_RIP]);
    out->ss.cpsr = static_cast<uint32_t>(g[REG_EFL]);
    out->es.far = static_cast<uint64_t>(g[REG_CR2]);
#else
#error "unsupported architecture"
#endif
}

void x86ThreadStateFromMcontext(const darwin_mcontext64_t* context, x86_thread_state64_t* out) {
    const arm_thread_state64_t& ss = context->ss;
    out->rdi = ss.x[0];
    out->rsi = ss.x[1];
    out->rdx = ss.x[2];
    out->rcx = ss.x[3];
    out->r8 = ss.x[4];
    out->r9 = ss.x[5];
    out->rax = ss.x[6];
    out->rbx = ss.x[7];
    out->r10 = ss.x[8];
    out->r11 = ss.x[9];
    out->r12 = ss.x[10];
    out->r13 = ss.x[11];
    out->r14 = ss.x[12];
    out->r15 = ss.x[13];
    out->cs = ss.x[kX86SlotCs];
    out->fs = ss.x[kX86SlotFs];
    out->gs = ss.x[kX86SlotGs];
    out->rbp = ss.fp;
    out->rsp = ss.sp;
    out->rip = ss.pc;
    out->rflags = ss.cpsr;
}

namespace detail {

void parkThreadWithContext(int tid, const darwin_mcontext64_t* context) {
    ThreadSlot* s = slotFor(tid);
    if (!s) return;
    std::memcpy(&s->context, context, sizeof(*context));
    s->parked.store(1, std::memory_order_release);
}

void unparkThread(int tid) {
    ThreadSlot* s = findSlot(tid);
    if (!s) return;
    s->parked.store(0, std::memory_order_release);
    releaseSlotIfUnused(s, tid);
}

}  // namespace detail
}  // namespace mach

using namespace mach;

kern_return_t task_threads(task_t task, thread_act_array_t* threads, mach_msg_type_number_t* count) {
    if (!threads || !count) return KERN_INVALID_ARGUMENT;
    *threads = nullptr;
    *count = 0;
    if (task != mach_task_self()) return KERN_SUCCESS;  // fake tasks have no threads
    if (kern_return_t injected; detail::takeInjectedFailure(InjectedCall::taskThreads, &injected)) return injected;
    int fd = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, "/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0) return KERN_FAILURE;
    size_t capacity = vm_page_size / sizeof(thread_act_t);
    void* mem = ::mmap(nullptr, capacity * sizeof(thread_act_t), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
    if (mem == MAP_FAILED) {
        ::close(fd);
        return KERN_RESOURCE_SHORTAGE;
    }
    thread_act_t* list = static_cast<thread_act_t*>(mem);
    size_t n = 0;
    alignas(8) char buf[4096];
    for (;;) {
        long got = ::syscall(SYS_getdents64, fd, buf, sizeof(buf));
        if (got <= 0) break;
        for (long off = 0; off < got;) {
            // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
            uint16_t reclen;
            std::memcpy(&reclen, buf + off + 16, 2);
            const char* name = buf + off + 19;
            int tid = 0;
            bool numeric = name[0] != '\0';
            for (const char* c = name; *c; ++c) {
                if (*c < '0' || *c > '9') {
                    numeric = false;
                    break;
                }
                tid = tid * 10 + (*c - '0');
            }
            if (numeric) {
                if (n == capacity) {
                    size_t bigger = capacity * 2;
                    void* grown = ::mremap(list, capacity * sizeof(thread_act_t), bigger * sizeof(thread_act_t),
                                           MREMAP_MAYMOVE);
                    if (grown == MAP_FAILED) break;
                    list = static_cast<thread_act_t*>(grown);
                    capacity = bigger;
                }
                list[n++] = threadPortForTid(tid);
            }
            if (reclen == 0) break;
            off += reclen;
        }
    }
    ::close(fd);
    if (n == 0) {
        ::munmap(list, capacity * sizeof(thread_act_t));
        return KERN_SUCCESS;
    }
    *threads = list;
    *count = static_cast<mach_msg_type_number_t>(n);
    return KERN_SUCCESS;
}

int64_t mach::threadSuspensionDeadline() { return monotonicMs() + g_timeoutMs.load(); }

kern_return_t mach::requestThreadSuspension(thread_act_t thread, int64_t deadline) {
    if (!isThreadPort(thread)) return KERN_INVALID_ARGUMENT;
    int tid = tidForThreadPort(thread);
    if (tid == gettidRaw()) return KERN_FAILURE;
    ThreadSlot* s = slotFor(tid);
    if (!s) return KERN_RESOURCE_SHORTAGE;
    if (s->parked.load(std::memory_order_acquire)) return KERN_SUCCESS;
    installThreadSuspension();
    // A previous resume may still be on its way out of the handler.
    while (s->state.load() == kResuming && monotonicMs() < deadline) {
        struct timespec ts = {0, 1000000};
        futexWait(&s->state, kResuming, &ts);
    }
    int expected = s->state.load();
    if (expected != kIdle && expected != kAbandoned) return KERN_FAILURE;
    if (!s->state.compare_exchange_strong(expected, kRequested)) return KERN_FAILURE;
    if (::syscall(SYS_tgkill, ::getpid(), tid, suspendSignal()) != 0) {
        s->state.store(kIdle);
        releaseSlotIfUnused(s, tid);
        return KERN_INVALID_ARGUMENT;
    }
    return KERN_SUCCESS;
}

kern_return_t mach::awaitThreadSuspension(thread_act_t thread, int64_t deadline) {
    if (!isThreadPort(thread)) return KERN_INVALID_ARGUMENT;
    ThreadSlot* s = findSlot(tidForThreadPort(thread));
    if (!s) return KERN_FAILURE;
    if (s->parked.load(std::memory_order_acquire)) return KERN_SUCCESS;
    while (s->state.load(std::memory_order_acquire) == kRequested) {
        int64_t left = deadline - monotonicMs();
        if (left <= 0) {
            int requested = kRequested;
            if (s->state.compare_exchange_strong(requested, kAbandoned)) return KERN_OPERATION_TIMED_OUT;
            break;
        }
        struct timespec ts = {static_cast<time_t>(left / 1000), static_cast<long>((left % 1000) * 1000000)};
        futexWait(&s->state, kRequested, &ts);
    }
    return s->state.load() == kSuspended ? KERN_SUCCESS : KERN_FAILURE;
}

kern_return_t thread_suspend(thread_act_t thread) {
    int64_t deadline = threadSuspensionDeadline();
    kern_return_t kr = requestThreadSuspension(thread, deadline);
    return kr == KERN_SUCCESS ? awaitThreadSuspension(thread, deadline) : kr;
}

kern_return_t thread_resume(thread_act_t thread) {
    if (!isThreadPort(thread)) return KERN_INVALID_ARGUMENT;
    int tid = tidForThreadPort(thread);
    ThreadSlot* s = findSlot(tid);
    if (!s) return KERN_FAILURE;
    if (s->parked.load(std::memory_order_acquire) && s->state.load() != kSuspended) return KERN_SUCCESS;
    int expected = kSuspended;
    if (!s->state.compare_exchange_strong(expected, kResuming)) return KERN_FAILURE;
    futexWake(&s->state);
    return KERN_SUCCESS;
}

kern_return_t thread_get_state(thread_act_t thread, thread_state_flavor_t flavor, thread_state_t state,
                               mach_msg_type_number_t* count) {
    if (!isThreadPort(thread) || !state || !count) return KERN_INVALID_ARGUMENT;
    ThreadSlot* s = findSlot(tidForThreadPort(thread));
    if (!s || !(s->parked.load(std::memory_order_acquire) || s->state.load(std::memory_order_acquire) == kSuspended)) {
        return KERN_FAILURE;
    }
    const darwin_mcontext64_t& ctx = s->context;
    switch (flavor) {
        case ARM_THREAD_STATE: {
            if (*count < ARM_UNIFIED_THREAD_STATE_COUNT) return KERN_INVALID_ARGUMENT;
            arm_unified_thread_state_t out;
            std::memset(&out, 0, sizeof(out));
            out.ash.flavor = ARM_THREAD_STATE64;
            out.ash.count = ARM_THREAD_STATE64_COUNT;
            out.uts.ts_64 = ctx.ss;
            std::memcpy(state, &out, sizeof(out));
            *count = ARM_UNIFIED_THREAD_STATE_COUNT;
            return KERN_SUCCESS;
        }
        case ARM_THREAD_STATE64:
            if (*count < ARM_THREAD_STATE64_COUNT) return KERN_INVALID_ARGUMENT;
            std::memcpy(state, &ctx.ss, sizeof(ctx.ss));
            *count = ARM_THREAD_STATE64_COUNT;
            return KERN_SUCCESS;
        case ARM_EXCEPTION_STATE64:
            if (*count < ARM_EXCEPTION_STATE64_COUNT) return KERN_INVALID_ARGUMENT;
            std::memcpy(state, &ctx.es, sizeof(ctx.es));
            *count = ARM_EXCEPTION_STATE64_COUNT;
            return KERN_SUCCESS;
#if defined(__x86_64__)
        case x86_THREAD_STATE64: {
            if (*count < x86_THREAD_STATE64_COUNT) return KERN_INVALID_ARGUMENT;
            x86_thread_state64_t x86;
            x86ThreadStateFromMcontext(&ctx, &x86);
            std::memcpy(state, &x86, sizeof(x86));
            *count = x86_THREAD_STATE64_COUNT;
            return KERN_SUCCESS;
        }
#endif
        case ARM_NEON_STATE64:
            if (*count < sizeof(arm_neon_state64_t) / 4) return KERN_INVALID_ARGUMENT;
            std::memcpy(state, &ctx.ns, sizeof(ctx.ns));
            *count = sizeof(arm_neon_state64_t) / 4;
            return KERN_SUCCESS;
        default:
            return KERN_INVALID_ARGUMENT;
    }
}
