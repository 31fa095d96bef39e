#include "LQCrashReporter/Source/LQCrashMachExceptionCore.h"

#include <errno.h>
#include <sched.h>

#include <cstddef>
#include <cstdio>
#include <new>
#include <cstdlib>
#include <cstring>

#include "platform/machcompat/MachThread.h"

namespace {

constexpr mach_msg_size_t kRequestSize = sizeof(mach_exception_raise_request_t);  // 84

mach_msg_size_t roundPage(mach_msg_size_t size) {
    return static_cast<mach_msg_size_t>((size + vm_page_mask) & ~vm_page_mask);
}

void answer(const mach_msg_header_t* request, kern_return_t result) {
    mig_reply_error_t reply;
    std::memset(&reply, 0, sizeof(reply));
    reply.Head.msgh_bits = MACH_MSGH_BITS(MACH_MSGH_BITS_REMOTE(request->msgh_bits), 0);
    reply.Head.msgh_remote_port = request->msgh_remote_port;
    reply.Head.msgh_local_port = MACH_PORT_NULL;
    reply.Head.msgh_size = sizeof(reply);
    reply.Head.msgh_id = request->msgh_id + 100;
    reply.NDR = NDR_record;
    reply.RetCode = result;
    mach_msg(&reply.Head, MACH_SEND_MSG, sizeof(reply), 0, MACH_PORT_NULL, MACH_MSG_TIMEOUT_NONE, MACH_PORT_NULL);
}

// The server ends without being asked to: no crash may wait on it. Its port
// leaves the task's exception ports, so that faults take their signal path
// (the handlers installed before, or the default action); the requests that
// reached it already are answered with a failure; and a later stop finds it
// stopped.
void retire(lqcrash_exception_server_context* ctx) {
    const exception_mask_t every = ((1u << EXC_TYPES_COUNT) - 1) & ~1u;
    lqcrash_mach_exception_port_set ports{};
    ports.count = EXC_TYPES_COUNT;
    if (task_get_exception_ports(mach_task_self(), every, ports.masks, &ports.count, ports.ports, ports.behaviors,
                                 ports.flavors) == KERN_SUCCESS) {
        for (uint32_t i = 0; i < ports.count; ++i) {
            if (ports.ports[i] == ctx->server_port) {
                task_set_exception_ports(mach_task_self(), ports.masks[i], MACH_PORT_NULL, EXCEPTION_DEFAULT, 0);
            }
            mach_port_deallocate(mach_task_self(), ports.ports[i]);
        }
    }
    union {
        mach_msg_header_t head;
        uint8_t bytes[kRequestSize];
    } request;
    for (;;) {
        // Larger messages are no exception requests: receiving drops them.
        mach_msg_return_t mr = mach_msg(&request.head, MACH_RCV_MSG | MACH_RCV_TIMEOUT, 0, sizeof(request),
                                        ctx->port_set, 0, MACH_PORT_NULL);
        if (mr == MACH_RCV_TOO_LARGE) continue;
        if (mr != MACH_MSG_SUCCESS) break;
        if (request.head.msgh_local_port != ctx->notify_port) answer(&request.head, KERN_FAILURE);
    }
    pthread_mutex_lock(&ctx->lock);
    ctx->server_stopped = true;
    pthread_cond_signal(&ctx->server_cond);
    pthread_mutex_unlock(&ctx->lock);
}

void* serve(lqcrash_exception_server_context* ctx, vm_address_t buffer, mach_msg_size_t size) {
    for (;;) {
        auto* request = reinterpret_cast<mach_msg_header_t*>(buffer);
        mach_msg_return_t mr = mach_msg(request, MACH_RCV_MSG | MACH_RCV_LARGE, 0, size, ctx->port_set,
                                        MACH_MSG_TIMEOUT_NONE, MACH_PORT_NULL);
        if (mr == MACH_RCV_TOO_LARGE) {
            mach_msg_size_t needed = roundPage(request->msgh_size);
            vm_deallocate(mach_task_self(), buffer, size);
            size = needed;
            kern_return_t kr = vm_allocate(mach_task_self(), &buffer, size, VM_FLAGS_ANYWHERE);
            if (kr != KERN_SUCCESS) {
                std::fprintf(stderr, "Unexpected error in vm_allocate(): 0x%x\n", static_cast<unsigned>(kr));
                retire(ctx);
                return nullptr;
            }
            continue;
        }
        if (mr != MACH_MSG_SUCCESS) continue;

        if (request->msgh_local_port == ctx->notify_port) {
            if (request->msgh_id == LQCRASH_EXCEPTION_SERVER_STOP_ID && ctx->server_should_stop.load()) {
                pthread_mutex_lock(&ctx->lock);
                ctx->server_stopped = true;
                pthread_cond_signal(&ctx->server_cond);
                pthread_mutex_unlock(&ctx->lock);
                vm_deallocate(mach_task_self(), buffer, size);
                return nullptr;
            }
            continue;  // no-senders notifications and anything else
        }

        kern_return_t result = KERN_FAILURE;
        if (request->msgh_size >= kRequestSize) {
            auto* req = reinterpret_cast<mach_exception_raise_request_t*>(request);
            mach_msg_type_number_t count = req->codeCnt > 2 ? 2 : req->codeCnt;
            // The message is packed to 4 bytes; hand the codes over aligned.
            mach_exception_data_type_t codes[2] = {0, 0};
            std::memcpy(codes, reinterpret_cast<const uint8_t*>(req) + offsetof(mach_exception_raise_request_t, code),
                        sizeof(codes[0]) * count);
            result = ctx->callback(req->task.name, req->thread.name, req->exception, codes, count,
                                   ctx->callback_context);
        }
        answer(request, result);
    }
}

// How the server thread's start went, told to the thread that starts it.
enum ThreadStartState : int { kStarting, kServing, kFailed };

struct ThreadStart {
    lqcrash_exception_server_context* ctx;
    std::atomic<int> state{kStarting};
    thread_t port = MACH_PORT_NULL;
    kern_return_t kr = KERN_SUCCESS;
};

void* serverEntry(void* arg) {
    auto* start = static_cast<ThreadStart*>(arg);
    lqcrash_exception_server_context* ctx = start->ctx;
    mach_msg_size_t size = roundPage(kRequestSize);
    vm_address_t buffer = 0;
    kern_return_t kr = vm_allocate(mach_task_self(), &buffer, size, VM_FLAGS_ANYWHERE);
    // start lives on the starting thread's stack: nothing touches it once
    // its state is told.
    if (kr != KERN_SUCCESS) {
        std::fprintf(stderr, "Unexpected error in vm_allocate(): %x\n", static_cast<unsigned>(kr));
        start->kr = kr;
        start->state.store(kFailed);
        return nullptr;
    }
    start->port = pl_mach_thread_self();
    start->state.store(kServing);
    return serve(ctx, buffer, size);
}

}  // namespace

kern_return_t lqcrash_exception_forward_mach_exception(task_t task, thread_t thread, exception_type_t exception_type,
                                                       mach_exception_data_t code, mach_msg_type_number_t code_count,
                                                       const lqcrash_mach_exception_port_set* port_set) {
    // The type comes from a message: one no mask can name is forwarded nowhere.
    if (exception_type < 0 || exception_type >= 32) return KERN_FAILURE;
    exception_mask_t bit = 1u << exception_type;
    const uint32_t count = port_set->count < EXC_TYPES_COUNT ? port_set->count : EXC_TYPES_COUNT;
    uint32_t i = 0;
    for (; i < count; ++i) {
        if (MACH_PORT_VALID(port_set->ports[i]) && (port_set->masks[i] & bit)) break;
    }
    if (i == count) return KERN_FAILURE;
    mach_port_t port = port_set->ports[i];
    exception_behavior_t behavior = port_set->behaviors[i];
    thread_state_flavor_t flavor = port_set->flavors[i];
    bool wide = (static_cast<uint32_t>(behavior) & 0x80000000u) != 0;
    exception_data_type_t narrow[EXC_TYPES_COUNT];
    mach_msg_type_number_t n = code_count < EXC_TYPES_COUNT ? code_count : EXC_TYPES_COUNT;
    for (mach_msg_type_number_t k = 0; k < n; ++k) narrow[k] = static_cast<exception_data_type_t>(code[k]);
    switch (behavior & 0x7fffffff) {
        case EXCEPTION_DEFAULT:
            return wide ? mach_exception_raise(port, thread, task, exception_type, code, code_count)
                        : exception_raise(port, thread, task, exception_type, narrow, n);
        case EXCEPTION_STATE:
        case EXCEPTION_STATE_IDENTITY: {
            natural_t state[THREAD_STATE_MAX];
            mach_msg_type_number_t stateCount = THREAD_STATE_MAX;
            kern_return_t kr = thread_get_state(thread, flavor, state, &stateCount);
            if (kr != KERN_SUCCESS) return kr;
            natural_t newState[THREAD_STATE_MAX];
            mach_msg_type_number_t newCount = THREAD_STATE_MAX;
            int f = flavor;
            if ((behavior & 0x7fffffff) == EXCEPTION_STATE) {
                return wide ? mach_exception_raise_state(port, exception_type, code, code_count, &f, state, stateCount,
                                                         newState, &newCount)
                            : exception_raise_state(port, exception_type, narrow, n, &f, state, stateCount, newState,
                                                    &newCount);
            }
            return wide ? mach_exception_raise_state_identity(port, thread, task, exception_type, code, code_count, &f,
                                                              state, stateCount, newState, &newCount)
                        : exception_raise_state_identity(port, thread, task, exception_type, narrow, n, &f, state,
                                                         stateCount, newState, &newCount);
        }
        default:
            return KERN_FAILURE;
    }
}

bool lqcrash_exception_to_signal(exception_type_t exception_type, const mach_exception_data_type_t* code,
                                 mach_msg_type_number_t code_count, int* signo, int* si_code, uint64_t* address) {
    if (code_count < 2) return false;
    *address = static_cast<uint64_t>(code[1]);
    *si_code = 0;
    switch (exception_type) {
        case EXC_BAD_ACCESS:
            if (code[0] == KERN_INVALID_ADDRESS) {
                *signo = 11;  // SIGSEGV
                *si_code = 1;  // SEGV_MAPERR
            } else {
                *signo = 10;  // SIGBUS
                *si_code = 2;  // BUS_ADRERR
            }
            return true;
        case EXC_BAD_INSTRUCTION: *signo = 4; return true;
        case EXC_ARITHMETIC: *signo = 8; return true;
        case EXC_EMULATION: *signo = 7; return true;
        case EXC_SOFTWARE:
            switch (code[0]) {
                case 0x10000: *signo = 12; break;  // SIGSYS
                case 0x10001: *signo = 13; break;  // SIGPIPE
                case 0x10002: *signo = 6; break;   // SIGABRT
                case 0x10003: *signo = 9; break;   // SIGKILL
                default: *signo = 6; break;
            }
            return true;
        case EXC_BREAKPOINT:
            *signo = 5;
            *si_code = 1;  // TRAP_BRKPT
            return true;
        default:
            return false;
    }
}

lqcrash_exception_server_context* lqcrash_exception_server_start(DVLQCrashMachExceptionHandlerCallback callback,
                                                                 void* context,
                                                                 lqcrash_exception_server_failure* failure) {
    *failure = {nullptr, KERN_SUCCESS, 0};
    auto* ctx = static_cast<lqcrash_exception_server_context*>(std::calloc(1, sizeof(lqcrash_exception_server_context)));
    if (!ctx) {
        *failure = {"Mutex initialization failed", KERN_SUCCESS, ENOMEM};
        return nullptr;
    }
    new (&ctx->server_should_stop) std::atomic<bool>(false);
    ctx->callback = callback;
    ctx->callback_context = context;
    int err = pthread_mutex_init(&ctx->lock, nullptr);
    if (err != 0) {
        std::free(ctx);
        *failure = {"Mutex initialization failed", KERN_SUCCESS, err};
        return nullptr;
    }
    err = pthread_cond_init(&ctx->server_cond, nullptr);
    if (err != 0) {
        pthread_mutex_destroy(&ctx->lock);
        std::free(ctx);
        *failure = {"Condition initialization failed", KERN_SUCCESS, err};
        return nullptr;
    }
    auto fail = [&](const char* text, kern_return_t kr, int e) -> lqcrash_exception_server_context* {
        if (MACH_PORT_VALID(ctx->server_port)) {
            mach_port_mod_refs(mach_task_self(), ctx->server_port, MACH_PORT_RIGHT_RECEIVE, -1);
        }
        if (MACH_PORT_VALID(ctx->notify_port)) {
            mach_port_mod_refs(mach_task_self(), ctx->notify_port, MACH_PORT_RIGHT_RECEIVE, -1);
        }
        if (MACH_PORT_VALID(ctx->port_set)) mach_port_mod_refs(mach_task_self(), ctx->port_set, MACH_PORT_RIGHT_PORT_SET, -1);
        pthread_cond_destroy(&ctx->server_cond);
        pthread_mutex_destroy(&ctx->lock);
        std::free(ctx);
        *failure = {text, kr, e};
        return nullptr;
    };
    kern_return_t kr = mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &ctx->server_port);
    if (kr == KERN_SUCCESS) kr = mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &ctx->notify_port);
    if (kr != KERN_SUCCESS) return fail("Failed to allocate exception server's port", kr, 0);
    kr = mach_port_insert_right(mach_task_self(), ctx->notify_port, ctx->notify_port, MACH_MSG_TYPE_MAKE_SEND);
    if (kr != KERN_SUCCESS) return fail("Failed to add send right to exception server's port", kr, 0);
    mach_port_t previous = MACH_PORT_NULL;
    kr = mach_port_request_notification(mach_task_self(), ctx->server_port, MACH_NOTIFY_NO_SENDERS, 1,
                                        ctx->notify_port, MACH_MSG_TYPE_MAKE_SEND_ONCE, &previous);
    if (kr != KERN_SUCCESS) return fail("Failed to request MACH_NOTIFY_NO_SENDERS on the exception server's port", kr, 0);
    kr = mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_PORT_SET, &ctx->port_set);
    if (kr != KERN_SUCCESS) return fail("Failed to allocate exception server's port set", kr, 0);
    kr = mach_port_move_member(mach_task_self(), ctx->server_port, ctx->port_set);
    if (kr != KERN_SUCCESS) return fail("Failed to add exception server port to port set", kr, 0);
    kr = mach_port_move_member(mach_task_self(), ctx->notify_port, ctx->port_set);
    if (kr != KERN_SUCCESS) return fail("Failed to add exception server notify port to port set", kr, 0);

    pthread_attr_t attr;
    err = pthread_attr_init(&attr);
    if (err != 0) return fail("Failed to initialize pthread_attr", KERN_SUCCESS, err);
    ThreadStart start;
    start.ctx = ctx;
    pthread_t thread;
    err = pthread_create(&thread, &attr, serverEntry, &start);
    pthread_attr_destroy(&attr);
    if (err != 0) return fail("Failed to create exception server thread", KERN_SUCCESS, err);
    // A server is running only once it has its receive buffer: one that
    // ends before would leave crashes waiting on a port nobody reads.
    while (start.state.load() == kStarting) sched_yield();
    if (start.state.load() == kFailed) {
        pthread_join(thread, nullptr);
        return fail("Failed to create exception server thread", start.kr, 0);
    }
    pthread_detach(thread);
    pthread_mutex_lock(&ctx->lock);
    ctx->server_thread = start.port;
    pthread_mutex_unlock(&ctx->lock);
    return ctx;
}

bool lqcrash_exception_server_stop(lqcrash_exception_server_context* ctx, kern_return_t* kr) {
    bool expected = false;
    ctx->server_should_stop.compare_exchange_strong(expected, true);
    mach_msg_header_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE);
    msg.msgh_remote_port = ctx->notify_port;
    msg.msgh_local_port = MACH_PORT_NULL;
    msg.msgh_id = LQCRASH_EXCEPTION_SERVER_STOP_ID;
    msg.msgh_size = sizeof(msg);
    kern_return_t result = mach_msg(&msg, MACH_SEND_MSG, sizeof(msg), 0, MACH_PORT_NULL, MACH_MSG_TIMEOUT_NONE,
                                    MACH_PORT_NULL);
    if (result != MACH_MSG_SUCCESS) {
        if (kr) *kr = result;
        return false;
    }
    pthread_mutex_lock(&ctx->lock);
    while (!ctx->server_stopped) pthread_cond_wait(&ctx->server_cond, &ctx->lock);
    pthread_mutex_unlock(&ctx->lock);
    if (MACH_PORT_VALID(ctx->server_port)) mach_port_mod_refs(mach_task_self(), ctx->server_port, MACH_PORT_RIGHT_RECEIVE, -1);
    if (MACH_PORT_VALID(ctx->notify_port)) mach_port_mod_refs(mach_task_self(), ctx->notify_port, MACH_PORT_RIGHT_RECEIVE, -1);
    if (MACH_PORT_VALID(ctx->port_set)) mach_port_mod_refs(mach_task_self(), ctx->port_set, MACH_PORT_RIGHT_PORT_SET, -1);
    pthread_cond_destroy(&ctx->server_cond);
    pthread_mutex_destroy(&ctx->lock);
    std::free(ctx);
    return true;
}
