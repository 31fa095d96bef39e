#include "app/ApplicationMethods.h"

#include <string>

#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACAppDelegateForwarder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACApplicationForwarder.h"
#include "platform/appkit/NSApplication.h"
#include "platform/foundation/Log.h"
#include "platform/machcompat/NSException.h"

namespace {

constexpr const char* kApplicationClass = "NSApplication";

void setDelegate(DVACInvocation& invocation) {
  std::shared_ptr<appkit::NSApplicationDelegate> delegate;
  if (!invocation.arguments.empty()) delegate = invocation.arguments[0].objectAs<appkit::NSApplicationDelegate>();
  appkit::NSApplication::shared().storeDelegate(std::move(delegate));
}

void sendEvent(DVACInvocation& invocation) {
  if (invocation.arguments.empty()) return;
  auto event = invocation.arguments[0].objectAs<appkit::NSEventObject>();
  if (event && event->deliver) event->deliver();
}

// What AppKit does with an exception it caught while handling an event:
// writes it to the system log and carries on.
void reportException(DVACInvocation& invocation) {
  if (invocation.arguments.empty()) return;
  const ns::Value& argument = invocation.arguments[0];
  if (auto object = argument.objectAs<DVACNSExceptionObject>(); object && object->exception) {
    const auto& exception = *object->exception;
    ns::NSLog(exception.name() + ": " + exception.reason().value_or(""));
    return;
  }
  ns::NSLog(argument.description());
}

bool invoke(const std::string& selector, ns::Array& arguments) {
  DVACInvocation invocation{selector, arguments, {}};
  const bool handled = DVACMethodTable::invoke(kApplicationClass, invocation);
  arguments = std::move(invocation.arguments);
  return handled;
}

}  // namespace

void installApplicationMethods() {
  DVACMethodTable::addMethod(kApplicationClass, kDVACSetDelegateSelector, setDelegate);
  DVACMethodTable::addMethod(kApplicationClass, kDVACSendEventSelector, sendEvent);
  DVACMethodTable::addMethod(kApplicationClass, kDVACReportExceptionSelector, reportException);
  appkit::NSApplication::shared().setMethodDispatcher([](const std::string& selector, ns::Array& arguments) {
    if (selector != kDVACSendEventSelector) return invoke(selector, arguments);
    // An exception that escapes an event's handling is reported, as the
    // run loop does, and the loop goes on.
    try {
      return invoke(selector, arguments);
    } catch (const ns::NSException& exception) {
      ns::Array report{ns::Value(std::make_shared<DVACNSExceptionObject>(
          std::make_shared<const ns::NSException>(exception)))};
      if (!invoke(kDVACReportExceptionSelector, report)) ns::NSLog(exception.name());
      return true;
    }
  });
}
