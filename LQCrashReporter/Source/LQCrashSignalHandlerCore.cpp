#include "LQCrashReporter/Source/LQCrashSignalHandlerCore.h"

#include <errno.h>
#include <pthread.h>

#include <cstring>
#include <new>

#include "LQCrashReporter/Source/LQCrashAlternateStacks.h"

using lqcrash::DV::async::async_list;

namespace {

// Built in static storage before main and never destroyed, so a signal that
// arrives during exit still finds them; their nodes are released by an
// exit handler.
alignas(async_list<lqcrash_signal_user_callback>) unsigned char g_callbacksStorage[sizeof(
    async_list<lqcrash_signal_user_callback>)];
alignas(async_list<lqcrash_previous_action>) unsigned char g_previousStorage[sizeof(
    async_list<lqcrash_previous_action>)];
async_list<lqcrash_signal_user_callback>* g_callbacks = nullptr;
async_list<lqcrash_previous_action>* g_previous = nullptr;
pthread_mutex_t g_registerMutex = PTHREAD_MUTEX_INITIALIZER;

void freeLists() {
    g_previous->free_all();
    g_callbacks->free_all();
}

__attribute__((constructor)) void initLists() {
    g_callbacks = new (g_callbacksStorage) async_list<lqcrash_signal_user_callback>();
    g_previous = new (g_previousStorage) async_list<lqcrash_previous_action>();
    atexit(freeLists);
}

using CallbackNode = async_list<lqcrash_signal_user_callback>::node;

bool iterate(int signo, siginfo_t* info, ucontext_t* uap, void* current) {
    async_list<lqcrash_signal_user_callback>& list = *g_callbacks;
    list.set_reading(true);
    CallbackNode* node = list.next(static_cast<CallbackNode*>(current));
    if (!node) {
        list.set_reading(false);
        return false;
    }
    lqcrash_signal_handler_callback next = {iterate, node};
    lqcrash_signal_user_callback cb = node->value();
    bool handled = cb.callback(signo, info, uap, cb.context, node->next() ? &next : nullptr);
    list.set_reading(false);
    return handled;
}

}  // namespace

async_list<lqcrash_signal_user_callback>& lqcrash_signal_handler_callbacks() { return *g_callbacks; }
async_list<lqcrash_previous_action>& lqcrash_signal_handler_previous_actions() { return *g_previous; }

bool lqcrash_signal_handler_callback_next(lqcrash_signal_handler_callback* next, int signo, siginfo_t* info,
                                          ucontext_t* uap) {
    return next->callback(signo, info, uap, next->next);
}

void lqcrash_signal_handler_dispatch(int signo, siginfo_t* info, void* uapVoid) {
    ucontext_t* uap = static_cast<ucontext_t*>(uapVoid);
    if (iterate(signo, info, uap, nullptr)) return;
    // Nobody handled it. Unless a callback already restored the default
    // action, do so now: re-raising into this handler would never end.
    struct sigaction current;
    if (::sigaction(signo, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
        current.sa_sigaction == lqcrash_signal_handler_dispatch) {
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof(dfl));
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(signo, &dfl, nullptr);
    }
    ::raise(signo);
}

bool lqcrash_signal_handler_previous_action_callback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                                                     lqcrash_signal_handler_callback* next) {
    if (next && lqcrash_signal_handler_callback_next(next, signo, info, uap)) return true;
    async_list<lqcrash_previous_action>& list = *g_previous;
    list.set_reading(true);
    bool found = false;
    struct sigaction action;
    for (auto* n = list.next(nullptr); n; n = n->next()) {
        if (n->value().signo == signo) {
            action = n->value().action;
            found = true;
            break;
        }
    }
    list.set_reading(false);
    if (!found) return false;
    if (action.sa_flags & SA_SIGINFO) {
        if (action.sa_sigaction) {
            action.sa_sigaction(signo, info, uap);
            return true;
        }
        return false;
    }
    if (action.sa_handler == SIG_IGN) return true;
    if (action.sa_handler == SIG_DFL) return false;
    action.sa_handler(signo);
    return true;
}

bool lqcrash_signal_handler_register_signal(const stack_t* altstack, int signo, int* error_number,
                                            const char** failure) {
    pthread_mutex_lock(&g_registerMutex);
    bool result = false;
    do {
        if (::sigaltstack(altstack, nullptr) != 0) {
            *error_number = errno;
            *failure = "Could not initialize alternative signal stack";
            break;
        }
        // A crash may come on any thread, not only this one.
        lqcrash_alternate_stacks_cover_new_threads();
        g_callbacks->nasync_append({lqcrash_signal_handler_previous_action_callback, nullptr});
        bool installed = false;
        g_previous->set_reading(true);
        for (auto* n = g_previous->next(nullptr); n; n = n->next()) {
            if (n->value().signo == signo) {
                installed = true;
                break;
            }
        }
        g_previous->set_reading(false);
        if (installed) {
            result = true;
            break;
        }
        struct sigaction sa;
        std::memset(&sa, 0, sizeof(sa));
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        sa.sa_sigaction = lqcrash_signal_handler_dispatch;
        lqcrash_previous_action previous;
        previous.signo = signo;
        if (::sigaction(signo, &sa, &previous.action) != 0) {
            *error_number = errno;
            *failure = "Failed to register signal handler";
            break;
        }
        // After resetHandlers the engine's own handler may be what was
        // replaced; handing a signal on to it would recurse forever.
        if ((previous.action.sa_flags & SA_SIGINFO) && previous.action.sa_sigaction == lqcrash_signal_handler_dispatch) {
            std::memset(&previous.action, 0, sizeof(previous.action));
            previous.action.sa_handler = SIG_DFL;
        }
        g_previous->nasync_append(previous);
        result = true;
    } while (false);
    pthread_mutex_unlock(&g_registerMutex);
    return result;
}

bool lqcrash_signal_handler_register_callback(const stack_t* altstack, int signo,
                                              lqcrash_signal_handler_callback_func callback, void* context,
                                              int* error_number, const char** failure) {
    if (!lqcrash_signal_handler_register_signal(altstack, signo, error_number, failure)) return false;
    g_callbacks->nasync_prepend({callback, context});
    return true;
}

void lqcrash_signal_handler_reset() {
    for (auto* n = g_previous->next(nullptr); n;) {
        auto* next = n->next();
        g_previous->nasync_remove_node(n);
        n = next;
    }
    for (auto* n = g_callbacks->next(nullptr); n;) {
        auto* next = n->next();
        g_callbacks->nasync_remove_node(n);
        n = next;
    }
}
