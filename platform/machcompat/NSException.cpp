#include "platform/machcompat/NSException.h"

#include <atomic>

namespace ns {
namespace {
std::atomic<NSUncaughtExceptionHandler> g_handler{nullptr};
}

NSException::NSException(std::string name, std::optional<std::string> reason,
                         std::vector<uint64_t> callStackReturnAddresses)
    : name_(std::move(name)), reason_(std::move(reason)), callStack_(std::move(callStackReturnAddresses)) {}

NSException::~NSException() = default;

void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler handler) { g_handler.store(handler); }

NSUncaughtExceptionHandler NSGetUncaughtExceptionHandler() { return g_handler.load(); }

}  // namespace ns
