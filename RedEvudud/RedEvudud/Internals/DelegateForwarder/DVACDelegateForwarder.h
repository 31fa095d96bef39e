#pragma once
// Lets the SDK observe calls made on an application-side delegate without the
// application writing code for it.
//
// There is no class runtime to swizzle in C++, so the application side
// dispatches the calls it wants observable through DVACMethodTable: a
// process-wide table of named implementations per class name, which the
// forwarder can look up, replace and extend, once, as it would swizzle them.
// A forwarded call then reaches every registered SDK delegate (and the
// original implementation). Whether any of this may happen comes from the
// Info.plist. A trace buffer keeps the forwarder's messages until the SDK's
// log level is set.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

// One call: its selector, its arguments and (for calls that return one) its
// result.
struct DVACInvocation {
  std::string selector;
  std::vector<ns::Value> arguments;
  ns::Value returnValue;
};

using DVACImplementation = std::function<void(DVACInvocation& invocation)>;

// The stand-in for the class runtime: class name -> selector -> implementation.
class DVACMethodTable {
 public:
  DVACMethodTable() = delete;

  static std::optional<DVACImplementation> instanceMethod(const std::string& className, const std::string& selector);
  static bool respondsToSelector(const std::string& className, const std::string& selector);
  // Replaces an existing method's implementation; the previous one, or nil
  // (and nothing changed) when the class has no such method.
  static std::optional<DVACImplementation> setImplementation(const std::string& className,
                                                             const std::string& selector,
                                                             DVACImplementation implementation);
  // False when the method exists already.
  static bool addMethod(const std::string& className, const std::string& selector,
                        DVACImplementation implementation);
  // Runs the class's implementation; false when it has none.
  static bool invoke(const std::string& className, DVACInvocation& invocation);
  static void removeAllForTesting();
};

// A delegate the forwarder passes calls to.
class DVACCustomDelegate {
 public:
  virtual ~DVACCustomDelegate() = default;
  virtual bool respondsToSelector(const std::string& /*selector*/) const { return false; }
  virtual void invoke(DVACInvocation& /*invocation*/) {}
};

class DVACDelegateForwarder : public std::enable_shared_from_this<DVACDelegateForwarder> {
 public:
  virtual ~DVACDelegateForwarder() = default;

  bool isEnabled() const { return enabled_.load(); }
  // Disabling also drops every delegate.
  void setEnabled(bool enabled);
  // The key's boolean value in the main bundle's Info.plist; enabled when
  // absent. Leaves a trace saying which.
  void setEnabledFromPlistForKey(const std::string& plistKey);

  // Only while enabled; held weakly.
  void addDelegate(const std::shared_ptr<DVACCustomDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<DVACCustomDelegate>& delegate);
  std::vector<std::shared_ptr<DVACCustomDelegate>> delegates() const;

  // Asks for the selector of the delegate to be observed: installs the
  // forwarder's setDelegate: once, and remembers the selector. Nothing while
  // disabled.
  void addDelegateSelectorToSwizzle(const std::string& selector);
  // Observes the remembered selectors on the delegate's class.
  void swizzleOriginalDelegate(const std::string& delegateClassName);
  // Puts the forwarder's implementation of customSelector in place of the
  // selector on the class (adding it when the class has none); the replaced
  // implementation, nil when there was none.
  std::optional<DVACImplementation> swizzleOriginalSelector(const std::string& originalSelector,
                                                           const std::string& customSelector,
                                                           const std::string& originalClassName);
  // Passes the call to every delegate that answers it; a selector ending in
  // "returnedValue:" chains each answer into the last argument.
  void forwardInvocation(DVACInvocation& invocation);

  std::set<std::string> selectorsToSwizzle() const;
  std::map<std::string, DVACImplementation> originalImplementations() const;
  std::optional<DVACImplementation> originalSetDelegateImp() const;
  void setDeprecatedSelectors(std::map<std::string, std::string> deprecatedSelectors);

  // ---- Trace buffer -----------------------------------------------------------
  // Buffered until the first flush; run at once afterwards.
  static void addTraceBlock(std::function<void()> block);
  static void flushTraceBuffer();
  // A fresh buffer, as at load time.
  static void resetTraceBufferForTesting();

 protected:
  DVACDelegateForwarder() = default;

  virtual std::optional<std::string> originalClassForSetDelegate() const { return std::nullopt; }
  virtual std::once_flag* swizzlingOnceToken() { return nullptr; }
  // The forwarder's own implementation of a "custom_" selector; by default
  // one that forwards the call and then runs the replaced implementation.
  virtual std::optional<DVACImplementation> customImplementation(const std::string& customSelector);

  mutable std::recursive_mutex mutex_;

 private:
  std::atomic<bool> enabled_{true};
  std::vector<std::weak_ptr<DVACCustomDelegate>> delegates_;
  std::optional<DVACImplementation> originalSetDelegateImp_;
  std::map<std::string, DVACImplementation> originalImplementations_;
  std::map<std::string, std::string> deprecatedSelectors_;
  std::set<std::string> selectorsToSwizzle_;
};
