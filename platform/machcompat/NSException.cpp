#include "platform/machcompat/NSException.h"

#include <execinfo.h>

#include <atomic>

namespace ns {
namespace {
std::atomic<NSUncaughtExceptionHandler> g_handler{nullptr};
}

NSException::NSException(std::string name, std::optional<std::string> reason,
                         std::vector<uint64_t> callStackReturnAddresses)
    : name_(std::move(name)), reason_(std::move(reason)), callStack_(std::move(callStackReturnAddresses)) {
    if (!callStack_.empty()) return;
    void* frames[128];
    const int count = ::backtrace(frames, 128);
    // From the maker on: the frame this constructor returns to. (An
    // interposed backtrace, a sanitizer's, may put frames of its own first.)
    void* const maker = __builtin_return_address(0);
    int from = count;
    for (int i = 0; i < count; ++i) {
        if (frames[i] == maker) {
            from = i;
            break;
        }
    }
    if (from == count) from = count > 1 ? 1 : count;
    callStack_.reserve(static_cast<size_t>(count - from));
    for (int i = from; i < count; ++i) callStack_.push_back(reinterpret_cast<uint64_t>(frames[i]));
}

NSException::~NSException() = default;

void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler handler) { g_handler.store(handler); }

NSUncaughtExceptionHandler NSGetUncaughtExceptionHandler() { return g_handler.load(); }

}  // namespace ns
