#include "LQCrashReporter/Source/LQCrashAlternateStacks.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_coverNewThreads{false};

using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
std::atomic<CreateFunction> g_create{nullptr};

CreateFunction realCreate() {
    CreateFunction create = g_create.load(std::memory_order_acquire);
    if (!create) {
        create = reinterpret_cast<CreateFunction>(::dlsym(RTLD_NEXT, "pthread_create"));
        g_create.store(create, std::memory_order_release);
    }
    return create;
}

// An alternate stack the calling thread uses while this object lives, with
// a guard page below it so that overrunning it faults instead of writing
// over whatever lies there. What the thread had before comes back after.
class OwnAlternateStack {
public:
    OwnAlternateStack() {
        size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        size_t length = LQCRASH_ALTERNATE_STACK_SIZE + page;
        void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mapping == MAP_FAILED) return;
        ::mprotect(mapping, page, PROT_NONE);
        stack_t stack{};
        stack.ss_sp = static_cast<char*>(mapping) + page;
        stack.ss_size = LQCRASH_ALTERNATE_STACK_SIZE;
        if (::sigaltstack(&stack, &previous_) != 0) {
            ::munmap(mapping, length);
            return;
        }
        mapping_ = mapping;
        length_ = length;
        stack_ = stack.ss_sp;
    }

    ~OwnAlternateStack() {
        if (!mapping_) return;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == stack_) {
            stack_t restore = previous_;
            restore.ss_flags &= SS_DISABLE;
            ::sigaltstack(&restore, nullptr);
        }
        ::munmap(mapping_, length_);
    }

    OwnAlternateStack(const OwnAlternateStack&) = delete;
    OwnAlternateStack& operator=(const OwnAlternateStack&) = delete;

private:
    void* mapping_ = nullptr;
    size_t length_ = 0;
    void* stack_ = nullptr;
    stack_t previous_{};
};

struct StartRecord {
    void* (*start)(void*);
    void* arg;
};

void* startWithAlternateStack(void* record) {
    StartRecord start = *static_cast<StartRecord*>(record);
    std::free(record);
    // Released when the start routine returns, and by the unwinding that
    // pthread_exit and cancellation do.
    OwnAlternateStack stack;
    return start.start(start.arg);
}

// The main thread's, for the life of the process.
alignas(OwnAlternateStack) unsigned char g_mainStackStorage[sizeof(OwnAlternateStack)];

__attribute__((constructor)) void coverMainThread() {
    if (::syscall(SYS_gettid) == ::getpid()) new (g_mainStackStorage) OwnAlternateStack();
}

}  // namespace

void lqcrash_alternate_stacks_cover_new_threads() {
    realCreate();
    g_coverNewThreads.store(true, std::memory_order_release);
}

bool lqcrash_alternate_stacks_covering_new_threads() { return g_coverNewThreads.load(std::memory_order_acquire); }

// Every thread of the process starts here (the executable's definition
// comes before the C library's).
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) noexcept {
    CreateFunction create = realCreate();
    if (!create) return EAGAIN;
    if (!g_coverNewThreads.load(std::memory_order_acquire)) return create(thread, attr, start, arg);
    auto* record = static_cast<StartRecord*>(std::malloc(sizeof(StartRecord)));
    if (!record) return create(thread, attr, start, arg);
    record->start = start;
    record->arg = arg;
    int err = create(thread, attr, startWithAlternateStack, record);
    if (err != 0) std::free(record);
    return err;
}
