#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACApplicationForwarder.h"

#include <mutex>
#include <optional>

#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACDelegateForwarder.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"

namespace {

struct ForwarderState {
  std::mutex mutex;
  bool reportExceptionReplaced = false;
  bool sendEventReplaced = false;
  std::optional<DVACImplementation> originalReportException;
  std::optional<DVACImplementation> originalSendEvent;
};

ForwarderState& forwarderState() {
  static auto* state = new ForwarderState();
  return *state;
}

std::optional<DVACImplementation> originalReportException() {
  std::lock_guard lock(forwarderState().mutex);
  return forwarderState().originalReportException;
}

std::optional<DVACImplementation> originalSendEvent() {
  std::lock_guard lock(forwarderState().mutex);
  return forwarderState().originalSendEvent;
}

void swizzledReportException(DVACInvocation& invocation) {
  if (!invocation.arguments.empty()) {
    if (auto object = invocation.arguments[0].objectAs<DVACNSExceptionObject>(); object && object->exception) {
      DVACCrashes::applicationDidReportException(*object->exception);
    }
  }
  if (auto original = originalReportException(); original && *original) (*original)(invocation);
}

void swizzledSendEvent(DVACInvocation& invocation) {
  auto original = originalSendEvent();
  try {
    if (original && *original) (*original)(invocation);
  } catch (const ns::NSException& exception) {
    DVACInvocation report{kDVACReportExceptionSelector,
                          {ns::Value(std::make_shared<DVACNSExceptionObject>(
                              std::make_shared<const ns::NSException>(exception)))},
                          {}};
    swizzledReportException(report);
  }
}

// Replaces the method once; false when the class does not implement it.
bool replace(const char* selector, DVACImplementation replacement, bool ForwarderState::*done,
             std::optional<DVACImplementation> ForwarderState::*original) {
  auto& state = forwarderState();
  std::lock_guard lock(state.mutex);
  if (state.*done) return true;
  auto kept = DVACMethodTable::setImplementation(kDVACApplicationForwarderClassName, selector, std::move(replacement));
  if (!kept) {
    DVACLogWarning(kDVACCrashesLogTag, std::string("Cannot swizzle selector '") + selector + "' of class '" +
                                           kDVACApplicationForwarderClassName + "': it is not implemented.");
    return false;
  }
  state.*original = std::move(kept);
  state.*done = true;
  DVACLogDebug(kDVACCrashesLogTag, std::string("Selector '") + selector + "' of class '" +
                                       kDVACApplicationForwarderClassName + "' is swizzled.");
  return true;
}

}  // namespace

void DVACApplicationForwarder::registerForwarding() {
  bool enabled = true;
  if (auto value = ns::Bundle::main()->objectForInfoDictionaryKey(kDVACApplicationForwarderEnabledKey)) {
    enabled = value->asBool().value_or(true);
  }
  const std::string key = kDVACApplicationForwarderEnabledKey;
  if (!enabled) {
    DVACLogDebug(kDVACCrashesLogTag,
                 "Application forwarder for info.plist key '" + key + "' disabled. It won't use swizzling.");
    return;
  }
  DVACLogDebug(kDVACCrashesLogTag,
               "Application forwarder for info.plist key '" + key + "' enabled. It may use swizzling.");
  if (!ns::UserDefaults::standard()->boolForKey(kDVACApplicationCrashOnExceptionsKey)) {
    DVACLogInfo(kDVACCrashesLogTag,
                std::string("Catching uncaught exceptions thrown on the main thread disabled. Set `") +
                    kDVACApplicationCrashOnExceptionsKey +
                    "` flag before SDK initialization, to allow crash on uncaught exceptions and the SDK can "
                    "report them.");
    return;
  }
  replace(kDVACReportExceptionSelector, swizzledReportException, &ForwarderState::reportExceptionReplaced,
          &ForwarderState::originalReportException);
  replace(kDVACSendEventSelector, swizzledSendEvent, &ForwarderState::sendEventReplaced,
          &ForwarderState::originalSendEvent);
}

bool DVACApplicationForwarder::isReportExceptionReplaced() {
  std::lock_guard lock(forwarderState().mutex);
  return forwarderState().reportExceptionReplaced;
}

bool DVACApplicationForwarder::isSendEventReplaced() {
  std::lock_guard lock(forwarderState().mutex);
  return forwarderState().sendEventReplaced;
}

void DVACApplicationForwarder::resetForTesting() {
  auto& state = forwarderState();
  std::lock_guard lock(state.mutex);
  state.reportExceptionReplaced = state.sendEventReplaced = false;
  state.originalReportException.reset();
  state.originalSendEvent.reset();
}
