#include "platform/machcompat/MachException.h"

#include <errno.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/machcompat/detail/Internal.h"

const NDR_record_t NDR_record = {0, 0, 0, 0, 1, 0, 0, 0};

namespace mach {
namespace {

// ---- Ports ------------------------------------------------------------------

enum PortState : int { kFree = 0, kReceive = 1, kPortSet = 2, kClaiming = 3 };

struct Port {
    std::atomic<int> state{kFree};
    std::atomic<int> sendRights{0};
    std::atomic<int> sendOnceRights{0};
    std::atomic<uint32_t> memberOf{0};
    std::atomic<uint32_t> noSendersNotify{0};
    // The thread that last waited for messages on this port or port set.
    std::atomic<int> receiverTid{0};
};

constexpr int kMaxPorts = 128;
Port g_ports[kMaxPorts];

// Bumped on every change a waiter may care about; receivers sleep on it.
std::atomic<int> g_generation{0};
std::atomic<uint64_t> g_sequence{1};

using detail::futexWord;
using detail::monotonicMs;

void bump() {
    g_generation.fetch_add(1, std::memory_order_acq_rel);
    ::syscall(SYS_futex, futexWord(&g_generation), FUTEX_WAKE_PRIVATE, 0x7fffffff, nullptr, nullptr, 0);
}

// Waits for the generation to move on from seen; false when the deadline
// (-1: none) has passed.
bool waitForChange(int seen, int64_t deadline) {
    if (deadline >= 0) {
        int64_t left = deadline - monotonicMs();
        if (left <= 0) return false;
        struct timespec ts = {static_cast<time_t>(left / 1000), static_cast<long>((left % 1000) * 1000000)};
        ::syscall(SYS_futex, futexWord(&g_generation), FUTEX_WAIT_PRIVATE, seen, &ts, nullptr, 0);
    } else {
        ::syscall(SYS_futex, futexWord(&g_generation), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
    }
    return true;
}

Port* portFor(mach_port_name_t name, int wanted = -1) {
    if (!isIpcPort(name)) return nullptr;
    uint32_t index = (name & ~kPortKindMask);
    if (index == 0 || index > static_cast<uint32_t>(kMaxPorts)) return nullptr;
    Port* p = &g_ports[index - 1];
    int s = p->state.load(std::memory_order_acquire);
    if (s != kReceive && s != kPortSet) return nullptr;
    if (wanted >= 0 && s != wanted) return nullptr;
    return p;
}

mach_port_name_t nameFor(const Port* p) { return kIpcPortKind | static_cast<uint32_t>(p - g_ports + 1); }

// ---- Messages ---------------------------------------------------------------

enum SlotState : int { kSlotFree = 0, kSlotWriting = 1, kSlotReady = 2, kSlotReading = 3 };

struct MessageSlot {
    std::atomic<int> state{kSlotFree};
    std::atomic<uint32_t> destination{0};
    uint64_t sequence = 0;
    uint32_t size = 0;
    alignas(8) uint8_t data[kMaxMessageSize];
};

constexpr int kMaxMessages = 32;
MessageSlot g_messages[kMaxMessages];

void discardMessagesFor(mach_port_name_t port) {
    for (MessageSlot& m : g_messages) {
        int expected = kSlotReady;
        if (m.destination.load() == port && m.state.compare_exchange_strong(expected, kSlotReading)) {
            m.state.store(kSlotFree, std::memory_order_release);
        }
    }
}

void destroyPort(Port* p) {
    mach_port_name_t name = nameFor(p);
    int s = p->state.exchange(kClaiming);
    if (s == kPortSet) {
        for (Port& q : g_ports) {
            uint32_t expected = name;
            q.memberOf.compare_exchange_strong(expected, 0);
        }
    } else {
        discardMessagesFor(name);
    }
    p->sendRights.store(0);
    p->sendOnceRights.store(0);
    p->memberOf.store(0);
    p->noSendersNotify.store(0);
    p->receiverTid.store(0);
    p->state.store(kFree, std::memory_order_release);
    bump();
}

mach_msg_return_t send(mach_msg_header_t* msg, mach_msg_size_t size, int64_t deadline);

void postNoSenders(Port* p) {
    uint32_t notify = p->noSendersNotify.exchange(0);
    if (!MACH_PORT_VALID(notify)) return;
#pragma pack(push, 4)
    struct {
        mach_msg_header_t head;
        NDR_record_t ndr;
        uint32_t mscount;
    } n;
#pragma pack(pop)
    std::memset(&n, 0, sizeof(n));
    n.head.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_MOVE_SEND_ONCE, 0);
    n.head.msgh_size = sizeof(n);
    n.head.msgh_remote_port = notify;
    n.head.msgh_local_port = MACH_PORT_NULL;
    n.head.msgh_id = MACH_NOTIFY_NO_SENDERS;
    n.ndr = NDR_record;
    send(&n.head, sizeof(n), 0);
}

mach_msg_return_t send(mach_msg_header_t* msg, mach_msg_size_t size, int64_t deadline) {
    if (size < sizeof(mach_msg_header_t) || (size & 3) != 0) return MACH_SEND_MSG_TOO_SMALL;
    if (size > kMaxMessageSize) return MACH_SEND_NO_BUFFER;
    mach_port_name_t dest = msg->msgh_remote_port;
    Port* destination = portFor(dest, kReceive);
    if (!destination) return MACH_SEND_INVALID_DEST;
    for (;;) {
        int seen = g_generation.load(std::memory_order_acquire);
        for (MessageSlot& m : g_messages) {
            int expected = kSlotFree;
            if (!m.state.compare_exchange_strong(expected, kSlotWriting, std::memory_order_acq_rel)) continue;
            std::memcpy(m.data, msg, size);
            mach_msg_header_t* h = reinterpret_cast<mach_msg_header_t*>(m.data);
            mach_msg_bits_t remote = MACH_MSGH_BITS_REMOTE(msg->msgh_bits);
            mach_msg_bits_t local = MACH_MSGH_BITS_LOCAL(msg->msgh_bits);
            mach_msg_bits_t replyDisposition = 0;
            if (MACH_PORT_VALID(msg->msgh_local_port)) {
                if (local == MACH_MSG_TYPE_MAKE_SEND_ONCE || local == MACH_MSG_TYPE_MOVE_SEND_ONCE) {
                    replyDisposition = MACH_MSG_TYPE_MOVE_SEND_ONCE;
                } else if (local != 0) {
                    replyDisposition = MACH_MSG_TYPE_MOVE_SEND;
                }
            }
            h->msgh_bits = (msg->msgh_bits & MACH_MSGH_BITS_COMPLEX) |
                           MACH_MSGH_BITS(replyDisposition, remote == MACH_MSG_TYPE_MAKE_SEND_ONCE ||
                                                                    remote == MACH_MSG_TYPE_MOVE_SEND_ONCE
                                                                ? MACH_MSG_TYPE_MOVE_SEND_ONCE
                                                                : MACH_MSG_TYPE_MOVE_SEND);
            h->msgh_size = size;
            h->msgh_remote_port = MACH_PORT_VALID(msg->msgh_local_port) ? msg->msgh_local_port : MACH_PORT_NULL;
            h->msgh_local_port = dest;
            m.size = size;
            m.sequence = g_sequence.fetch_add(1);
            m.destination.store(dest);
            if (remote == MACH_MSG_TYPE_MOVE_SEND_ONCE) {
                int once = destination->sendOnceRights.load();
                if (once > 0) destination->sendOnceRights.compare_exchange_strong(once, once - 1);
            }
            if (Port* reply = portFor(msg->msgh_local_port, kReceive)) {
                if (replyDisposition == MACH_MSG_TYPE_MOVE_SEND_ONCE && local == MACH_MSG_TYPE_MAKE_SEND_ONCE) {
                    reply->sendOnceRights.fetch_add(1);
                } else if (local == MACH_MSG_TYPE_MAKE_SEND || local == MACH_MSG_TYPE_COPY_SEND) {
                    reply->sendRights.fetch_add(1);
                }
            }
            m.state.store(kSlotReady, std::memory_order_release);
            bump();
            return MACH_MSG_SUCCESS;
        }
        if (deadline == 0 || !waitForChange(seen, deadline)) return MACH_SEND_TIMED_OUT;
        if (!portFor(dest, kReceive)) return MACH_SEND_INVALID_DEST;
    }
}

mach_msg_return_t receive(mach_msg_header_t* msg, mach_msg_size_t rcvSize, mach_port_name_t name, bool large,
                          int64_t deadline) {
    Port* p = portFor(name);
    if (!p) return MACH_RCV_INVALID_NAME;
    bool isSet = p->state.load() == kPortSet;
    p->receiverTid.store(static_cast<int>(::syscall(SYS_gettid)), std::memory_order_relaxed);
    for (;;) {
        int seen = g_generation.load(std::memory_order_acquire);
        if (!portFor(name)) return MACH_RCV_PORT_DIED;
        MessageSlot* best = nullptr;
        for (MessageSlot& m : g_messages) {
            if (m.state.load(std::memory_order_acquire) != kSlotReady) continue;
            uint32_t dest = m.destination.load();
            bool match = dest == name;
            if (!match && isSet) {
                Port* d = portFor(dest, kReceive);
                match = d && d->memberOf.load() == name;
            }
            if (match && (!best || m.sequence < best->sequence)) best = &m;
        }
        if (best) {
            int expected = kSlotReady;
            if (!best->state.compare_exchange_strong(expected, kSlotReading, std::memory_order_acq_rel)) continue;
            if (best->size > rcvSize) {
                if (large) {
                    if (rcvSize >= 8) msg->msgh_size = best->size;
                    best->state.store(kSlotReady, std::memory_order_release);
                    return MACH_RCV_TOO_LARGE;
                }
                best->state.store(kSlotFree, std::memory_order_release);
                bump();
                return MACH_RCV_TOO_LARGE;
            }
            std::memcpy(msg, best->data, best->size);
            best->state.store(kSlotFree, std::memory_order_release);
            bump();
            return MACH_MSG_SUCCESS;
        }
        if (deadline == 0 || !waitForChange(seen, deadline)) return MACH_RCV_TIMED_OUT;
    }
}

kern_return_t allocatePort(int kind, mach_port_name_t* name) {
    for (Port& p : g_ports) {
        int expected = kFree;
        if (p.state.compare_exchange_strong(expected, kClaiming, std::memory_order_acq_rel)) {
            p.sendRights.store(0);
            p.sendOnceRights.store(0);
            p.memberOf.store(0);
            p.noSendersNotify.store(0);
            p.receiverTid.store(0);
            p.state.store(kind, std::memory_order_release);
            *name = nameFor(&p);
            return KERN_SUCCESS;
        }
    }
    return KERN_RESOURCE_SHORTAGE;
}

// ---- Exception ports ----------------------------------------------------------

struct ExceptionEntry {
    std::atomic<uint32_t> port{0};
    std::atomic<int> behavior{0};
    std::atomic<int> flavor{0};
};

struct ThreadExceptionPorts {
    std::atomic<int> tid{0};
    ExceptionEntry entries[EXC_TYPES_COUNT];
};

ExceptionEntry g_taskPorts[EXC_TYPES_COUNT];
constexpr int kMaxThreadPortSets = 32;
ThreadExceptionPorts g_threadPorts[kMaxThreadPortSets];

ExceptionEntry* threadEntries(int tid, bool create) {
    for (ThreadExceptionPorts& t : g_threadPorts) {
        if (t.tid.load() == tid) return t.entries;
    }
    if (!create) return nullptr;
    for (ThreadExceptionPorts& t : g_threadPorts) {
        int expected = 0;
        if (t.tid.compare_exchange_strong(expected, tid)) return t.entries;
    }
    return nullptr;
}

void addSendRight(mach_port_t port, int delta) {
    if (Port* p = portFor(port, kReceive)) {
        int now = p->sendRights.fetch_add(delta) + delta;
        if (now <= 0 && delta < 0) {
            p->sendRights.store(0);
            postNoSenders(p);
        }
    }
}

kern_return_t getPorts(ExceptionEntry* entries, exception_mask_t mask, exception_mask_array_t masks,
                       mach_msg_type_number_t* count, exception_port_array_t ports,
                       exception_behavior_array_t behaviors, exception_flavor_array_t flavors) {
    if (!count) return KERN_INVALID_ARGUMENT;
    mach_msg_type_number_t capacity = *count;
    mach_msg_type_number_t n = 0;
    for (int type = 1; type < EXC_TYPES_COUNT; ++type) {
        if (!(mask & (1u << type))) continue;
        uint32_t port = entries ? entries[type].port.load() : 0;
        if (!MACH_PORT_VALID(port)) continue;
        int behavior = entries[type].behavior.load();
        int flavor = entries[type].flavor.load();
        mach_msg_type_number_t i = 0;
        for (; i < n; ++i) {
            if (ports[i] == port && behaviors[i] == behavior && flavors[i] == flavor) break;
        }
        if (i < n) {
            masks[i] |= 1u << type;
            continue;
        }
        if (n >= capacity) break;
        masks[n] = 1u << type;
        ports[n] = port;
        behaviors[n] = behavior;
        flavors[n] = flavor;
        addSendRight(port, 1);  // the caller receives its own send right
        ++n;
    }
    *count = n;
    return KERN_SUCCESS;
}

void installTrampolines();

kern_return_t setPorts(ExceptionEntry* entries, exception_mask_t mask, mach_port_t port, exception_behavior_t behavior,
                       thread_state_flavor_t flavor) {
    if (port != MACH_PORT_NULL && !portFor(port, kReceive)) return KERN_INVALID_CAPABILITY;
    for (int type = 1; type < EXC_TYPES_COUNT; ++type) {
        if (!(mask & (1u << type))) continue;
        uint32_t old = entries[type].port.exchange(0);
        entries[type].behavior.store(behavior);
        entries[type].flavor.store(flavor);
        entries[type].port.store(port);
        if (MACH_PORT_VALID(port)) addSendRight(port, 1);
        if (MACH_PORT_VALID(old)) addSendRight(old, -1);
    }
    installTrampolines();
    return KERN_SUCCESS;
}

// ---- The fault trampoline ---------------------------------------------------------

constexpr int kTrampolineSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
struct sigaction g_previousActions[65];
std::mutex g_trampolineMutex;

bool exceptionForSignal(int sig, const siginfo_t* info, const darwin_mcontext64_t& ctx, exception_type_t* type,
                        int64_t codes[2]) {
    uint64_t address = reinterpret_cast<uint64_t>(info->si_addr);
    switch (sig) {
        case SIGSEGV:
            *type = EXC_BAD_ACCESS;
            codes[0] = info->si_code == SEGV_ACCERR ? KERN_PROTECTION_FAILURE : KERN_INVALID_ADDRESS;
            codes[1] = static_cast<int64_t>(address);
            return true;
        case SIGBUS:
            *type = EXC_BAD_ACCESS;
            codes[0] = info->si_code == BUS_ADRALN ? 0x101 /* EXC_ARM_DA_ALIGN */ : KERN_PROTECTION_FAILURE;
            codes[1] = static_cast<int64_t>(address);
            return true;
        case SIGILL:
            *type = EXC_BAD_INSTRUCTION;
            codes[0] = 1;  // EXC_ARM_UNDEFINED
            codes[1] = static_cast<int64_t>(address);
            return true;
        case SIGFPE:
            *type = EXC_ARITHMETIC;
            codes[0] = info->si_code;
            codes[1] = static_cast<int64_t>(address);
            return true;
        case SIGTRAP:
            *type = EXC_BREAKPOINT;
            codes[0] = 1;  // EXC_ARM_BREAKPOINT
            codes[1] = static_cast<int64_t>(ctx.ss.pc);
            return true;
        default:
            return false;
    }
}

kern_return_t deliver(const ExceptionEntry& e, exception_type_t type, int64_t codes[2],
                      const darwin_mcontext64_t& ctx, thread_t thread) {
    mach_port_t port = e.port.load();
    exception_behavior_t behavior = e.behavior.load();
    bool wide = (static_cast<uint32_t>(behavior) & 0x80000000u) != 0;
    int32_t narrow[2] = {static_cast<int32_t>(codes[0]), static_cast<int32_t>(codes[1])};
    switch (behavior & 0x7fffffff) {
        case EXCEPTION_DEFAULT:
            return wide ? mach_exception_raise(port, thread, mach_task_self(), type, codes, 2)
                        : exception_raise(port, thread, mach_task_self(), type, narrow, 2);
        case EXCEPTION_STATE:
        case EXCEPTION_STATE_IDENTITY: {
            int flavor = e.flavor.load();
            alignas(8) natural_t state[ARM_UNIFIED_THREAD_STATE_COUNT];
            mach_msg_type_number_t stateCount = 0;
            if (flavor == ARM_THREAD_STATE64) {
                std::memcpy(state, &ctx.ss, sizeof(ctx.ss));
                stateCount = ARM_THREAD_STATE64_COUNT;
            } else {
                arm_unified_thread_state_t u;
                std::memset(&u, 0, sizeof(u));
                u.ash.flavor = ARM_THREAD_STATE64;
                u.ash.count = ARM_THREAD_STATE64_COUNT;
                u.uts.ts_64 = ctx.ss;
                std::memcpy(state, &u, sizeof(u));
                stateCount = ARM_UNIFIED_THREAD_STATE_COUNT;
            }
            alignas(8) natural_t newState[THREAD_STATE_MAX];
            mach_msg_type_number_t newCount = THREAD_STATE_MAX;
            if ((behavior & 0x7fffffff) == EXCEPTION_STATE) {
                return wide ? mach_exception_raise_state(port, type, codes, 2, &flavor, state, stateCount, newState,
                                                         &newCount)
                            : exception_raise_state(port, type, narrow, 2, &flavor, state, stateCount, newState,
                                                    &newCount);
            }
            return wide ? mach_exception_raise_state_identity(port, thread, mach_task_self(), type, codes, 2, &flavor,
                                                              state, stateCount, newState, &newCount)
                        : exception_raise_state_identity(port, thread, mach_task_self(), type, narrow, 2, &flavor,
                                                         state, stateCount, newState, &newCount);
        }
        default:
            return KERN_FAILURE;
    }
}

void setDefaultAction(int sig) {
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
}

// Whether tid is the thread that waits for messages on port, directly or
// through the port set the port belongs to.
bool receivesOn(mach_port_t port, int tid) {
    Port* p = portFor(port, kReceive);
    if (!p) return false;
    if (p->receiverTid.load(std::memory_order_relaxed) == tid) return true;
    Port* set = portFor(p->memberOf.load(), kPortSet);
    return set && set->receiverTid.load(std::memory_order_relaxed) == tid;
}

void passOn(int sig, siginfo_t* info, void* uc, bool synchronous) {
    const struct sigaction& previous = g_previousActions[sig];
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) {
            previous.sa_sigaction(sig, info, uc);
            return;
        }
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
        return;
    }
    if (previous.sa_handler == SIG_IGN && !synchronous) return;
    setDefaultAction(sig);
    if (!synchronous) {
        // A sent signal does not come back on its own; it stays pending until
        // this handler returns, then takes the default action.
        ::syscall(SYS_tgkill, ::getpid(), static_cast<int>(::syscall(SYS_gettid)), sig);
    }
}

void trampoline(int sig, siginfo_t* info, void* uc) {
    int savedErrno = errno;
    bool synchronous = info && info->si_code > 0;
    if (synchronous) {
        int tid = static_cast<int>(::syscall(SYS_gettid));
        darwin_mcontext64_t ctx;
        darwinMcontextFromLinux(uc, &ctx);
        exception_type_t type = 0;
        int64_t codes[2] = {0, 0};
        if (exceptionForSignal(sig, info, ctx, &type, codes)) {
            const ExceptionEntry* entry = nullptr;
            if (ExceptionEntry* t = threadEntries(tid, false); t && MACH_PORT_VALID(t[type].port.load())) {
                entry = &t[type];
            } else if (MACH_PORT_VALID(g_taskPorts[type].port.load())) {
                entry = &g_taskPorts[type];
            }
            if (entry && receivesOn(entry->port.load(), tid)) {
                // The faulting thread is the one that answers this port: an
                // answer would never come. End the process at once.
                setDefaultAction(sig);
                errno = savedErrno;
                return;
            }
            if (entry) {
                detail::parkThreadWithContext(tid, &ctx);
                kern_return_t kr = deliver(*entry, type, codes, ctx, threadPortForTid(tid));
                detail::unparkThread(tid);
                if (kr == KERN_SUCCESS) {
                    errno = savedErrno;
                    return;
                }
            }
        }
    }
    passOn(sig, info, uc, synchronous);
    errno = savedErrno;
}

// (Re-)arms the trampoline for every fault signal whose action is something
// else now, such as a handler installed after the last arming: that action
// becomes the one faults are passed on to.
void installTrampolines() {
    std::lock_guard<std::mutex> lock(g_trampolineMutex);
    for (int sig : kTrampolineSignals) {
        struct sigaction current;
        if (::sigaction(sig, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
            current.sa_sigaction == trampoline) {
            continue;
        }
        struct sigaction sa;
        std::memset(&sa, 0, sizeof(sa));
        sa.sa_sigaction = trampoline;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, &g_previousActions[sig]);
    }
}

// ---- Client side of the exception requests -------------------------------------

#pragma pack(push, 4)
struct RequestHead {
    mach_msg_header_t Head;
    mach_msg_body_t msgh_body;
    mach_msg_port_descriptor_t thread;
    mach_msg_port_descriptor_t task;
};
struct StateReply {
    mach_msg_header_t Head;
    NDR_record_t NDR;
    kern_return_t RetCode;
    int flavor;
    mach_msg_type_number_t new_stateCnt;
    natural_t new_state[THREAD_STATE_MAX];
};
#pragma pack(pop)

void fillPortDescriptor(mach_msg_port_descriptor_t* d, mach_port_t name) {
    std::memset(d, 0, sizeof(*d));
    d->name = name;
    d->disposition = MACH_MSG_TYPE_COPY_SEND;
    d->type = 0;  // MACH_MSG_PORT_DESCRIPTOR
}

// Sends the request (its header's remote port and id already set) and waits
// for the reply in reply (capacity replySize).
kern_return_t call(mach_msg_header_t* request, mach_msg_size_t size, mach_msg_header_t* reply,
                   mach_msg_size_t replySize, bool complex) {
    mach_port_name_t replyPort = MACH_PORT_NULL;
    if (allocatePort(kReceive, &replyPort) != KERN_SUCCESS) return KERN_RESOURCE_SHORTAGE;
    mach_msg_id_t id = request->msgh_id;
    request->msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE) |
                         (complex ? MACH_MSGH_BITS_COMPLEX : 0);
    request->msgh_size = size;
    request->msgh_local_port = replyPort;
    mach_msg_return_t mr = send(request, size, -1);
    if (mr == MACH_MSG_SUCCESS) {
        for (;;) {
            mr = receive(reply, replySize, replyPort, false, -1);
            if (mr != MACH_MSG_SUCCESS || reply->msgh_id == id + 100) break;
        }
    }
    if (Port* p = portFor(replyPort)) destroyPort(p);
    if (mr != MACH_MSG_SUCCESS) return mr;
    return reinterpret_cast<mig_reply_error_t*>(reply)->RetCode;
}

template <typename Code>
kern_return_t raiseDefault(mach_port_t port, mach_port_t thread, mach_port_t task, exception_type_t exception,
                           const Code* code, mach_msg_type_number_t codeCnt, mach_msg_id_t id) {
    if (codeCnt > 2) return KERN_INVALID_ARGUMENT;
#pragma pack(push, 4)
    struct {
        RequestHead h;
        NDR_record_t NDR;
        exception_type_t exception;
        mach_msg_type_number_t codeCnt;
        Code code[2];
    } req;
#pragma pack(pop)
    std::memset(&req, 0, sizeof(req));
    req.h.Head.msgh_remote_port = port;
    req.h.Head.msgh_id = id;
    req.h.msgh_body.msgh_descriptor_count = 2;
    fillPortDescriptor(&req.h.thread, thread);
    fillPortDescriptor(&req.h.task, task);
    req.NDR = NDR_record;
    req.exception = exception;
    req.codeCnt = codeCnt;
    for (mach_msg_type_number_t i = 0; i < codeCnt; ++i) req.code[i] = code[i];
    mach_msg_size_t size = static_cast<mach_msg_size_t>(sizeof(req) - sizeof(Code) * (2 - codeCnt));
    mig_reply_error_t reply;
    std::memset(&reply, 0, sizeof(reply));
    return call(&req.h.Head, size, &reply.Head, sizeof(reply), true);
}

template <typename Code>
kern_return_t raiseState(mach_port_t port, bool identity, mach_port_t thread, mach_port_t task,
                         exception_type_t exception, const Code* code, mach_msg_type_number_t codeCnt, int* flavor,
                         const natural_t* oldState, mach_msg_type_number_t oldCount, natural_t* newState,
                         mach_msg_type_number_t* newCount, mach_msg_id_t id) {
    if (codeCnt > 2 || oldCount > THREAD_STATE_MAX || !flavor) return KERN_INVALID_ARGUMENT;
    // Large enough for the identity form; the plain form leaves out the port
    // descriptors, so the tail is assembled at an offset.
    alignas(8) uint8_t buffer[sizeof(RequestHead) + 8 + 8 + 2 * sizeof(Code) + 8 + THREAD_STATE_MAX * 4];
    std::memset(buffer, 0, sizeof(buffer));
    mach_msg_header_t* head = reinterpret_cast<mach_msg_header_t*>(buffer);
    size_t at = sizeof(mach_msg_header_t);
    if (identity) {
        RequestHead* h = reinterpret_cast<RequestHead*>(buffer);
        h->msgh_body.msgh_descriptor_count = 2;
        fillPortDescriptor(&h->thread, thread);
        fillPortDescriptor(&h->task, task);
        at = sizeof(RequestHead);
    }
    auto put = [&](const void* p, size_t n) {
        std::memcpy(buffer + at, p, n);
        at += n;
    };
    put(&NDR_record, sizeof(NDR_record));
    put(&exception, 4);
    put(&codeCnt, 4);
    put(code, sizeof(Code) * codeCnt);
    put(flavor, 4);
    put(&oldCount, 4);
    put(oldState, 4 * oldCount);
    head->msgh_remote_port = port;
    head->msgh_id = id;
    StateReply reply;
    std::memset(&reply, 0, sizeof(reply));
    kern_return_t kr = call(head, static_cast<mach_msg_size_t>(at), &reply.Head, sizeof(reply), identity);
    if (kr == KERN_SUCCESS && newState && newCount) {
        mach_msg_type_number_t n = reply.new_stateCnt;
        if (n > *newCount) n = *newCount;
        std::memcpy(newState, reply.new_state, 4 * n);
        *newCount = n;
        *flavor = reply.flavor;
    }
    return kr;
}

}  // namespace

int portSendRights(mach_port_t port) {
    Port* p = portFor(port);
    return p ? p->sendRights.load() : -1;
}

int portQueuedMessages(mach_port_t port) {
    int n = 0;
    for (MessageSlot& m : g_messages) {
        if (m.state.load() == kSlotReady && m.destination.load() == port) ++n;
    }
    return n;
}

namespace detail {

kern_return_t ipcModRefs(mach_port_name_t name, mach_port_right_t right, mach_port_delta_t delta) {
    Port* p = portFor(name);
    if (!p) return KERN_INVALID_NAME;
    switch (right) {
        case MACH_PORT_RIGHT_SEND:
            if (p->state.load() != kReceive) return KERN_INVALID_RIGHT;
            if (delta < 0 && p->sendRights.load() + delta < 0) return KERN_INVALID_VALUE;
            addSendRight(name, delta);
            return KERN_SUCCESS;
        case MACH_PORT_RIGHT_SEND_ONCE:
            p->sendOnceRights.fetch_add(delta);
            return KERN_SUCCESS;
        case MACH_PORT_RIGHT_RECEIVE:
            if (p->state.load() != kReceive) return KERN_INVALID_RIGHT;
            if (delta < 0) destroyPort(p);
            return KERN_SUCCESS;
        case MACH_PORT_RIGHT_PORT_SET:
            if (p->state.load() != kPortSet) return KERN_INVALID_RIGHT;
            if (delta < 0) destroyPort(p);
            return KERN_SUCCESS;
        default:
            return KERN_INVALID_VALUE;
    }
}

kern_return_t ipcDeallocate(mach_port_name_t name) {
    Port* p = portFor(name);
    if (!p) return KERN_INVALID_NAME;
    if (p->state.load() == kPortSet) {
        destroyPort(p);
        return KERN_SUCCESS;
    }
    if (p->sendRights.load() > 0) {
        addSendRight(name, -1);
        return KERN_SUCCESS;
    }
    if (p->sendOnceRights.load() > 0) {
        p->sendOnceRights.fetch_sub(1);
        return KERN_SUCCESS;
    }
    return KERN_INVALID_RIGHT;
}

}  // namespace detail
}  // namespace mach

using namespace mach;

kern_return_t mach_port_allocate(ipc_space_t task, mach_port_right_t right, mach_port_name_t* name) {
    if (task != mach_task_self() || !name) return KERN_INVALID_ARGUMENT;
    if (right == MACH_PORT_RIGHT_RECEIVE) return allocatePort(kReceive, name);
    if (right == MACH_PORT_RIGHT_PORT_SET) return allocatePort(kPortSet, name);
    return KERN_INVALID_VALUE;
}

kern_return_t mach_port_insert_right(ipc_space_t task, mach_port_name_t name, mach_port_t poly,
                                     mach_msg_type_name_t polyPoly) {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    Port* p = portFor(name, kReceive);
    if (!p || poly != name) return KERN_INVALID_NAME;
    if (polyPoly != MACH_MSG_TYPE_MAKE_SEND && polyPoly != MACH_MSG_TYPE_COPY_SEND) return KERN_INVALID_VALUE;
    p->sendRights.fetch_add(1);
    return KERN_SUCCESS;
}

kern_return_t mach_port_move_member(ipc_space_t task, mach_port_name_t member, mach_port_name_t after) {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    Port* p = portFor(member, kReceive);
    if (!p) return KERN_INVALID_NAME;
    if (after != MACH_PORT_NULL && !portFor(after, kPortSet)) return KERN_INVALID_NAME;
    p->memberOf.store(after);
    bump();
    return KERN_SUCCESS;
}

kern_return_t mach_port_request_notification(ipc_space_t task, mach_port_name_t name, mach_msg_id_t msgid,
                                             mach_port_t /*sync*/, mach_port_t notify,
                                             mach_msg_type_name_t notifyPoly, mach_port_t* previous) {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    if (msgid != MACH_NOTIFY_NO_SENDERS) return KERN_INVALID_VALUE;
    if (notifyPoly != MACH_MSG_TYPE_MAKE_SEND_ONCE && notifyPoly != MACH_MSG_TYPE_MOVE_SEND_ONCE) {
        return KERN_INVALID_VALUE;
    }
    Port* p = portFor(name, kReceive);
    if (!p) return KERN_INVALID_NAME;
    if (notify != MACH_PORT_NULL && !portFor(notify, kReceive)) return KERN_INVALID_CAPABILITY;
    uint32_t old = p->noSendersNotify.exchange(notify);
    if (previous) *previous = old;
    return KERN_SUCCESS;
}

mach_msg_return_t mach_msg(mach_msg_header_t* msg, mach_msg_option_t option, mach_msg_size_t send_size,
                           mach_msg_size_t rcv_size, mach_port_name_t rcv_name, mach_msg_timeout_t timeout,
                           mach_port_name_t /*notify*/) {
    if (!msg) return MACH_SEND_INVALID_DATA;
    if (option & MACH_SEND_MSG) {
        int64_t deadline = (option & MACH_SEND_TIMEOUT) ? monotonicMs() + timeout : -1;
        mach_msg_return_t mr = send(msg, send_size, deadline);
        if (mr != MACH_MSG_SUCCESS) return mr;
    }
    if (option & MACH_RCV_MSG) {
        int64_t deadline = (option & MACH_RCV_TIMEOUT) ? (timeout == 0 ? 0 : monotonicMs() + timeout) : -1;
        return receive(msg, rcv_size, rcv_name, (option & MACH_RCV_LARGE) != 0, deadline);
    }
    return MACH_MSG_SUCCESS;
}

kern_return_t task_get_exception_ports(task_t task, exception_mask_t mask, exception_mask_array_t masks,
                                       mach_msg_type_number_t* count, exception_port_array_t ports,
                                       exception_behavior_array_t behaviors, exception_flavor_array_t flavors) {
    if (task != mach_task_self()) return KERN_INVALID_ARGUMENT;
    return getPorts(g_taskPorts, mask, masks, count, ports, behaviors, flavors);
}

kern_return_t task_swap_exception_ports(task_t task, exception_mask_t mask, mach_port_t new_port,
                                        exception_behavior_t behavior, thread_state_flavor_t flavor,
                                        exception_mask_array_t masks, mach_msg_type_number_t* count,
                                        exception_port_array_t ports, exception_behavior_array_t behaviors,
                                        exception_flavor_array_t flavors) {
    if (task != mach_task_self()) return KERN_INVALID_ARGUMENT;
    if (new_port != MACH_PORT_NULL && !portFor(new_port, kReceive)) return KERN_INVALID_CAPABILITY;
    kern_return_t kr = getPorts(g_taskPorts, mask, masks, count, ports, behaviors, flavors);
    if (kr != KERN_SUCCESS) return kr;
    return setPorts(g_taskPorts, mask, new_port, behavior, flavor);
}

kern_return_t task_set_exception_ports(task_t task, exception_mask_t mask, mach_port_t new_port,
                                       exception_behavior_t behavior, thread_state_flavor_t flavor) {
    if (task != mach_task_self()) return KERN_INVALID_ARGUMENT;
    return setPorts(g_taskPorts, mask, new_port, behavior, flavor);
}

kern_return_t thread_get_exception_ports(thread_act_t thread, exception_mask_t mask, exception_mask_array_t masks,
                                         mach_msg_type_number_t* count, exception_port_array_t ports,
                                         exception_behavior_array_t behaviors, exception_flavor_array_t flavors) {
    if (!isThreadPort(thread)) return KERN_INVALID_ARGUMENT;
    return getPorts(threadEntries(tidForThreadPort(thread), false), mask, masks, count, ports, behaviors, flavors);
}

kern_return_t thread_swap_exception_ports(thread_act_t thread, exception_mask_t mask, mach_port_t new_port,
                                          exception_behavior_t behavior, thread_state_flavor_t flavor,
                                          exception_mask_array_t masks, mach_msg_type_number_t* count,
                                          exception_port_array_t ports, exception_behavior_array_t behaviors,
                                          exception_flavor_array_t flavors) {
    if (!isThreadPort(thread)) return KERN_INVALID_ARGUMENT;
    if (new_port != MACH_PORT_NULL && !portFor(new_port, kReceive)) return KERN_INVALID_CAPABILITY;
    ExceptionEntry* entries = threadEntries(tidForThreadPort(thread), true);
    if (!entries) return KERN_RESOURCE_SHORTAGE;
    kern_return_t kr = getPorts(entries, mask, masks, count, ports, behaviors, flavors);
    if (kr != KERN_SUCCESS) return kr;
    return setPorts(entries, mask, new_port, behavior, flavor);
}

kern_return_t exception_raise(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                              exception_type_t exception, exception_data_t code, mach_msg_type_number_t codeCnt) {
    return raiseDefault<int32_t>(exception_port, thread, task, exception, code, codeCnt, 2401);
}

kern_return_t exception_raise_state(mach_port_t exception_port, exception_type_t exception, exception_data_t code,
                                    mach_msg_type_number_t codeCnt, int* flavor, thread_state_t old_state,
                                    mach_msg_type_number_t old_stateCnt, thread_state_t new_state,
                                    mach_msg_type_number_t* new_stateCnt) {
    return raiseState<int32_t>(exception_port, false, MACH_PORT_NULL, MACH_PORT_NULL, exception, code, codeCnt, flavor,
                               old_state, old_stateCnt, new_state, new_stateCnt, 2402);
}

kern_return_t exception_raise_state_identity(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                                             exception_type_t exception, exception_data_t code,
                                             mach_msg_type_number_t codeCnt, int* flavor, thread_state_t old_state,
                                             mach_msg_type_number_t old_stateCnt, thread_state_t new_state,
                                             mach_msg_type_number_t* new_stateCnt) {
    return raiseState<int32_t>(exception_port, true, thread, task, exception, code, codeCnt, flavor, old_state,
                               old_stateCnt, new_state, new_stateCnt, 2403);
}

kern_return_t mach_exception_raise(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                                   exception_type_t exception, mach_exception_data_t code,
                                   mach_msg_type_number_t codeCnt) {
    return raiseDefault<int64_t>(exception_port, thread, task, exception, code, codeCnt, 2405);
}

kern_return_t mach_exception_raise_state(mach_port_t exception_port, exception_type_t exception,
                                         mach_exception_data_t code, mach_msg_type_number_t codeCnt, int* flavor,
                                         thread_state_t old_state, mach_msg_type_number_t old_stateCnt,
                                         thread_state_t new_state, mach_msg_type_number_t* new_stateCnt) {
    return raiseState<int64_t>(exception_port, false, MACH_PORT_NULL, MACH_PORT_NULL, exception, code, codeCnt, flavor,
                               old_state, old_stateCnt, new_state, new_stateCnt, 2406);
}

kern_return_t mach_exception_raise_state_identity(mach_port_t exception_port, mach_port_t thread, mach_port_t task,
                                                  exception_type_t exception, mach_exception_data_t code,
                                                  mach_msg_type_number_t codeCnt, int* flavor,
                                                  thread_state_t old_state, mach_msg_type_number_t old_stateCnt,
                                                  thread_state_t new_state, mach_msg_type_number_t* new_stateCnt) {
    return raiseState<int64_t>(exception_port, true, thread, task, exception, code, codeCnt, flavor, old_state,
                               old_stateCnt, new_state, new_stateCnt, 2407);
}
