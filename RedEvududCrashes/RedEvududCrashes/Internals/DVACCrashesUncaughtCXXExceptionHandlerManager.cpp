#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesUncaughtCXXExceptionHandlerManager.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/machcompat/NSException.h"

namespace {

using CxaThrowFunction = void (*)(void*, std::type_info*, void (*)(void*));

// A spin lock: the terminate handler may run on any thread, also while the
// allocator is in an unknown state.
class SpinLock {
 public:
  void lock() {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  void unlock() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

struct HandlerState {
  SpinLock lock;
  std::vector<DVACCrashesUncaughtCXXExceptionHandlerFunction> handlers;
  std::terminate_handler previous = nullptr;
};

// Never destroyed: a terminate during exit still finds it.
HandlerState& handlerState() {
  static auto* state = new HandlerState();
  return *state;
}

std::atomic<uint8_t> g_installed{0};

pthread_key_t g_backtraceKey;
std::once_flag g_backtraceKeyOnce;

void createBacktraceKey() {
  std::call_once(g_backtraceKeyOnce, [] { pthread_key_create(&g_backtraceKey, std::free); });
}

struct RuntimeSymbols {
  CxaThrowFunction cxaThrow = nullptr;
  const void* objcEhtypeVtable = nullptr;
};

const RuntimeSymbols& runtimeSymbols() {
  static const RuntimeSymbols symbols = [] {
    RuntimeSymbols resolved;
    resolved.cxaThrow = reinterpret_cast<CxaThrowFunction>(dlsym(RTLD_NEXT, "__cxa_throw"));
    resolved.objcEhtypeVtable = dlsym(RTLD_DEFAULT, "objc_ehtype_vtable");
    return resolved;
  }();
  return symbols;
}

// This thread's record, made on its first recorded throw; null when it
// cannot be made.
DVACCrashesThrowBacktrace* threadBacktraceRecord() {
  createBacktraceKey();
  auto* record = static_cast<DVACCrashesThrowBacktrace*>(pthread_getspecific(g_backtraceKey));
  if (!record) {
    record = static_cast<DVACCrashesThrowBacktrace*>(std::calloc(1, sizeof(DVACCrashesThrowBacktrace)));
    if (!record) return nullptr;
    pthread_setspecific(g_backtraceKey, record);
  }
  return record;
}

// Recorded throws whose exception objects still exist. The hook hands the
// runtime its own destructor for each, which frees the entry before the
// object goes; so a thread's record whose entry is gone, or now holds a later
// ticket, belongs to an exception that no longer exists, even when a new one
// was made at the same address. Lock-free: throws happen on any thread.
using ExceptionDestructor = void (*)(void*);

struct LiveThrow {
  std::atomic<uint64_t> ticket{0};  // 0: free
  std::atomic<void*> object{nullptr};
  std::atomic<ExceptionDestructor> destructor{nullptr};
};

constexpr int kLiveThrowCount = 64;
constexpr uint64_t kClaiming = ~uint64_t(0);
LiveThrow g_liveThrows[kLiveThrowCount];
std::atomic<uint64_t> g_nextTicket{1};

// The entry's index, or -1 when every entry is taken.
int claimLiveThrow(void* object, ExceptionDestructor destructor, uint64_t* ticket) {
  for (int i = 0; i < kLiveThrowCount; ++i) {
    uint64_t expected = 0;
    if (!g_liveThrows[i].ticket.compare_exchange_strong(expected, kClaiming, std::memory_order_acquire)) continue;
    g_liveThrows[i].object.store(object, std::memory_order_relaxed);
    g_liveThrows[i].destructor.store(destructor, std::memory_order_relaxed);
    *ticket = g_nextTicket.fetch_add(1, std::memory_order_relaxed);
    g_liveThrows[i].ticket.store(*ticket, std::memory_order_release);
    return i;
  }
  return -1;
}

// The destructor the runtime calls for a recorded exception object.
void destroyRecordedException(void* object) {
  ExceptionDestructor destructor = nullptr;
  for (auto& entry : g_liveThrows) {
    const uint64_t ticket = entry.ticket.load(std::memory_order_acquire);
    if (ticket == 0 || ticket == kClaiming || entry.object.load(std::memory_order_relaxed) != object) continue;
    destructor = entry.destructor.load(std::memory_order_relaxed);
    entry.ticket.store(0, std::memory_order_release);
    break;
  }
  if (destructor) destructor(object);
}

const char* withoutTopBit(const char* name) {
  return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(name) & ~(uintptr_t(1) << 63));
}

}  // namespace

// Every throw compiled into the executable comes here first. (Declared by
// the runtime's header in its own namespace, with C linkage.)
namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* thrownException, std::type_info* tinfo, void (*destructor)(void*)) {
  const RuntimeSymbols& symbols = runtimeSymbols();
  bool objectRuntimeException = false;
  if (tinfo && symbols.objcEhtypeVtable) {
    const void* vtable = *reinterpret_cast<void* const*>(tinfo);
    objectRuntimeException = vtable == static_cast<const char*>(symbols.objcEhtypeVtable) + 16;
  }
  if (!objectRuntimeException && g_installed.load(std::memory_order_relaxed) == 1) {
    // Taken here, not in a helper: the first frame is this hook's own, the
    // second the thrower's.
    if (DVACCrashesThrowBacktrace* record = threadBacktraceRecord()) {
      record->object = thrownException;
      record->type = tinfo;
      record->liveIndex = claimLiveThrow(thrownException, destructor, &record->liveTicket);
      if (record->liveIndex >= 0) destructor = destroyRecordedException;
      void* frames[128];
      const int count = ::backtrace(frames, 128);
      // An interposed backtrace (a sanitizer's) adds frames of its own:
      // the thrower's frame is the one this hook returns to.
      void* const thrower = __builtin_return_address(0);
      int from = 1;
      for (int i = 1; i < count; ++i) {
        if (frames[i] == thrower) {
          from = i;
          break;
        }
      }
      uint32_t n = 0;
      if (count > 0) record->frames[n++] = reinterpret_cast<uint64_t>(frames[0]);
      for (int i = from; i < count; ++i) record->frames[n++] = reinterpret_cast<uint64_t>(frames[i]);
      record->count = n;
    }
  }
  if (symbols.cxaThrow) symbols.cxaThrow(thrownException, tinfo, destructor);
  std::abort();
}
}  // namespace __cxxabiv1

const DVACCrashesThrowBacktrace* DVACCrashesCurrentThreadThrowBacktrace() {
  createBacktraceKey();
  return static_cast<const DVACCrashesThrowBacktrace*>(pthread_getspecific(g_backtraceKey));
}

bool DVACCrashesThrowBacktraceDescribes(const DVACCrashesThrowBacktrace& record, const void* object,
                                        const void* type) {
  if (!object || record.object != object) return false;
  if (record.liveIndex < 0 || record.liveIndex >= kLiveThrowCount) return record.type == type;
  return g_liveThrows[record.liveIndex].ticket.load(std::memory_order_acquire) == record.liveTicket;
}

void DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
    DVACCrashesUncaughtCXXExceptionHandlerFunction handler) {
  createBacktraceKey();
  auto& state = handlerState();
  state.lock.lock();
  if (g_installed.load() != 1) {
    state.previous = std::set_terminate(DVACCrashesUncaughtCXXTerminateHandler);
    g_installed.store(1);
  }
  state.handlers.push_back(handler);
  state.lock.unlock();
}

void DVACCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(
    DVACCrashesUncaughtCXXExceptionHandlerFunction handler) {
  auto& state = handlerState();
  state.lock.lock();
  for (auto it = state.handlers.begin(); it != state.handlers.end(); ++it) {
    if (*it == handler) {
      state.handlers.erase(it);
      break;
    }
  }
  if (g_installed.load() == 1 && state.handlers.empty()) {
    std::terminate_handler replaced = std::set_terminate(state.previous);
    if (replaced == DVACCrashesUncaughtCXXTerminateHandler) {
      g_installed.store(0);
      state.previous = nullptr;
    } else {
      // Someone else replaced ours meanwhile: theirs stays.
      std::set_terminate(replaced);
    }
  }
  state.lock.unlock();
}

uint32_t DVACCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() {
  auto& state = handlerState();
  state.lock.lock();
  const auto count = static_cast<uint32_t>(state.handlers.size());
  state.lock.unlock();
  return count;
}

bool DVACCrashesUncaughtCXXExceptionHandlerManager::isInstalled() { return g_installed.load() == 1; }

void DVACCrashesUncaughtCXXTerminateHandler() {
  DVACCrashesUncaughtCXXExceptionInfo info;
  std::memset(&info, 0, sizeof info);
  std::exception_ptr current = std::current_exception();
  auto& state = handlerState();
  state.lock.lock();
  if (!current) {
    std::terminate_handler previous = state.previous;
    state.lock.unlock();
    if (previous) {
      previous();
      return;
    }
    std::abort();
  }

  info.exception = &current;
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type) info.exception_type_name = withoutTopBit(type->name());

  // The frames of this thread's latest recorded throw belong to this
  // exception only when it is that throw's object (an exception raised
  // without a throw, or thrown where the hook doesn't see it, is not).
  // The runtime's handle holds the thrown object's address.
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  void* object = nullptr;
  std::memcpy(&object, static_cast<const void*>(&current), sizeof object);
  uint64_t local[128];
  const DVACCrashesThrowBacktrace* record = DVACCrashesCurrentThreadThrowBacktrace();
  if (record && !DVACCrashesThrowBacktraceDescribes(*record, object, type)) record = nullptr;
  if (record) {
    info.exception_frames = record->count > 1 ? &record->frames[1] : nullptr;
    info.exception_frames_count = record->count > 1 ? record->count - 1 : 0;
  } else {
    std::memset(local, 0, sizeof local);
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    for (int i = 0; i < count; ++i) local[i] = reinterpret_cast<uint64_t>(frames[i]);
    info.exception_frames = count > 1 ? &local[1] : nullptr;
    info.exception_frames_count = count > 1 ? static_cast<uint32_t>(count - 1) : 0;
  }

  try {
    std::rethrow_exception(current);
  } catch (const ns::NSException& e) {
    // An exception of the object runtime is not a CXX exception: it goes the
    // platform's way, to the uncaught-exception handler.
    std::terminate_handler previous = state.previous;
    state.lock.unlock();
    if (auto handler = ns::NSGetUncaughtExceptionHandler()) handler(e);
    if (previous) {
      previous();
      return;
    }
    std::abort();
  } catch (const std::exception& e) {
    info.exception_message = e.what();
  } catch (const std::exception* e) {
    info.exception_message = e ? e->what() : nullptr;
  } catch (const std::string& s) {
    info.exception_message = s.c_str();
  } catch (const std::string* s) {
    info.exception_message = s ? s->c_str() : nullptr;
  } catch (const char* s) {
    info.exception_message = s;
  } catch (...) {
    info.exception_message = nullptr;
  }

  for (auto handler : state.handlers) handler(&info);

  std::terminate_handler previous = state.previous;
  state.lock.unlock();
  if (previous) {
    previous();
    return;
  }
  std::abort();
}
