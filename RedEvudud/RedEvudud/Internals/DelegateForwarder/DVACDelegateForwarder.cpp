#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACDelegateForwarder.h"

#include <algorithm>

#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/foundation/Bundle.h"

namespace {

// ---- Method table ----

struct MethodTableState {
  std::mutex mutex;
  std::map<std::string, std::map<std::string, std::shared_ptr<DVACImplementation>>> classes;
};

MethodTableState& methodTable() {
  static auto* state = new MethodTableState();
  return *state;
}

// ---- Trace buffer ----

struct TraceBuffer {
  std::recursive_mutex mutex;
  std::optional<std::vector<std::function<void()>>> blocks{std::in_place};
  bool started = false;
};

TraceBuffer& traceBuffer() {
  static auto* buffer = new TraceBuffer();
  return *buffer;
}

// The lock a forwarding call holds, as on the forwarder's class.
std::recursive_mutex& forwardingMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

}  // namespace

// ------------------------------------------------------------ Method table

std::optional<DVACImplementation> DVACMethodTable::instanceMethod(const std::string& className,
                                                                  const std::string& selector) {
  auto& table = methodTable();
  std::lock_guard lock(table.mutex);
  auto cls = table.classes.find(className);
  if (cls == table.classes.end()) return std::nullopt;
  auto method = cls->second.find(selector);
  if (method == cls->second.end()) return std::nullopt;
  return *method->second;
}

bool DVACMethodTable::respondsToSelector(const std::string& className, const std::string& selector) {
  return instanceMethod(className, selector).has_value();
}

std::optional<DVACImplementation> DVACMethodTable::setImplementation(const std::string& className,
                                                                     const std::string& selector,
                                                                     DVACImplementation implementation) {
  auto& table = methodTable();
  std::lock_guard lock(table.mutex);
  auto cls = table.classes.find(className);
  if (cls == table.classes.end()) return std::nullopt;
  auto method = cls->second.find(selector);
  if (method == cls->second.end()) return std::nullopt;
  DVACImplementation previous = *method->second;
  method->second = std::make_shared<DVACImplementation>(std::move(implementation));
  return previous;
}

bool DVACMethodTable::addMethod(const std::string& className, const std::string& selector,
                                DVACImplementation implementation) {
  auto& table = methodTable();
  std::lock_guard lock(table.mutex);
  auto& methods = table.classes[className];
  if (methods.count(selector)) return false;
  methods[selector] = std::make_shared<DVACImplementation>(std::move(implementation));
  return true;
}

bool DVACMethodTable::invoke(const std::string& className, DVACInvocation& invocation) {
  std::shared_ptr<DVACImplementation> implementation;
  {
    auto& table = methodTable();
    std::lock_guard lock(table.mutex);
    auto cls = table.classes.find(className);
    if (cls == table.classes.end()) return false;
    auto method = cls->second.find(invocation.selector);
    if (method == cls->second.end()) return false;
    implementation = method->second;
  }
  // Outside the table's lock: the implementation may swizzle.
  if (*implementation) (*implementation)(invocation);
  return true;
}

void DVACMethodTable::removeAllForTesting() {
  auto& table = methodTable();
  std::lock_guard lock(table.mutex);
  table.classes.clear();
}

// -------------------------------------------------------------- Delegates

void DVACDelegateForwarder::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
  if (!enabled) delegates_.clear();
}

void DVACDelegateForwarder::setEnabledFromPlistForKey(const std::string& plistKey) {
  bool enabled = true;
  if (auto value = ns::Bundle::main()->objectForInfoDictionaryKey(plistKey)) {
    enabled = value->asBool().value_or(true);
  }
  setEnabled(enabled);
  addTraceBlock([plistKey, enabled] {
    if (enabled) {
      DVACLogDebug(kDVACLogTag,
                   "Delegate forwarder for info.plist key '" + plistKey + "' enabled. It may use swizzling.");
    } else {
      DVACLogDebug(kDVACLogTag,
                   "Delegate forwarder for info.plist key '" + plistKey + "' disabled. It won't use swizzling.");
    }
  });
}

void DVACDelegateForwarder::addDelegate(const std::shared_ptr<DVACCustomDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  if (!enabled_ || !delegate) return;
  std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
  for (const auto& weak : delegates_) {
    if (weak.lock() == delegate) return;
  }
  delegates_.push_back(delegate);
}

void DVACDelegateForwarder::removeDelegate(const std::shared_ptr<DVACCustomDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  if (!enabled_) return;
  std::erase_if(delegates_, [&](const auto& weak) {
    auto strong = weak.lock();
    return !strong || strong == delegate;
  });
}

std::vector<std::shared_ptr<DVACCustomDelegate>> DVACDelegateForwarder::delegates() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<DVACCustomDelegate>> out;
  for (const auto& weak : delegates_) {
    if (auto strong = weak.lock()) out.push_back(std::move(strong));
  }
  return out;
}

// --------------------------------------------------------------- Swizzling

void DVACDelegateForwarder::addDelegateSelectorToSwizzle(const std::string& selector) {
  if (!isEnabled()) return;
  if (std::once_flag* token = swizzlingOnceToken(); token && originalClassForSetDelegate()) {
    std::call_once(*token, [this] {
      const std::string cls = *originalClassForSetDelegate();
      auto previous = swizzleOriginalSelector("setDelegate:", "custom_setDelegate:", cls);
      std::lock_guard lock(mutex_);
      originalSetDelegateImp_ = std::move(previous);
    });
  }
  std::lock_guard lock(mutex_);
  selectorsToSwizzle_.insert(selector);
}

void DVACDelegateForwarder::swizzleOriginalDelegate(const std::string& delegateClassName) {
  std::set<std::string> selectors;
  {
    std::lock_guard lock(mutex_);
    selectors = selectorsToSwizzle_;
  }
  for (const auto& selector : selectors) {
    if (auto replaced = swizzleOriginalSelector(selector, "custom_" + selector, delegateClassName)) {
      std::lock_guard lock(mutex_);
      originalImplementations_[selector] = std::move(*replaced);
    }
  }
  std::lock_guard lock(mutex_);
  selectorsToSwizzle_.clear();
}

std::optional<DVACImplementation> DVACDelegateForwarder::swizzleOriginalSelector(
    const std::string& originalSelector, const std::string& customSelector, const std::string& originalClassName) {
  std::optional<DVACImplementation> custom = customImplementation(customSelector);
  std::optional<DVACImplementation> replaced;
  bool changed = false;
  std::optional<std::string> reason;
  std::map<std::string, std::string> deprecated;
  {
    std::lock_guard lock(mutex_);
    deprecated = deprecatedSelectors_;
  }
  if (custom && DVACMethodTable::respondsToSelector(originalClassName, originalSelector)) {
    replaced = DVACMethodTable::setImplementation(originalClassName, originalSelector, *custom);
    changed = replaced.has_value();
  } else if (custom) {
    auto predecessor = deprecated.find(originalSelector);
    if (predecessor != deprecated.end() &&
        DVACMethodTable::respondsToSelector(originalClassName, predecessor->second)) {
      reason = "No implementation found for this selector, though an implementation of its deprecated API '" +
               predecessor->second + "' exists.";
    } else if (std::any_of(deprecated.begin(), deprecated.end(),
                           [&](const auto& entry) { return entry.second == originalSelector; })) {
      return std::nullopt;
    } else {
      changed = DVACMethodTable::addMethod(originalClassName, originalSelector, *custom);
    }
  }
  if (changed) {
    addTraceBlock([originalSelector, originalClassName] {
      DVACLogDebug(kDVACLogTag, "Selector '" + originalSelector + "' of class '" + originalClassName + "' is swizzled.");
    });
  } else {
    const std::string message = "Cannot swizzle selector '" + originalSelector + "' of class '" + originalClassName + "'.";
    addTraceBlock([message, reason] {
      if (reason) {
        DVACLogWarning(kDVACLogTag, message + " " + *reason);
      } else {
        DVACLogError(kDVACLogTag,
                     message + " You need to explicitly call the Red Evudud API from your app delegate implementation.");
      }
    });
  }
  return replaced;
}

std::optional<DVACImplementation> DVACDelegateForwarder::customImplementation(const std::string& customSelector) {
  const std::string selector = customSelector.rfind("custom_", 0) == 0 ? customSelector.substr(7) : customSelector;
  std::weak_ptr<DVACDelegateForwarder> weakSelf = weak_from_this();
  return DVACImplementation([weakSelf, selector](DVACInvocation& invocation) {
    auto self = weakSelf.lock();
    if (!self) return;
    self->forwardInvocation(invocation);
    std::optional<DVACImplementation> original;
    {
      std::lock_guard lock(self->mutex_);
      auto found = self->originalImplementations_.find(selector);
      if (found != self->originalImplementations_.end()) original = found->second;
    }
    if (original && *original) (*original)(invocation);
  });
}

void DVACDelegateForwarder::forwardInvocation(DVACInvocation& invocation) {
  std::lock_guard lock(forwardingMutex());
  const bool chained = invocation.selector.ends_with("returnedValue:") && !invocation.arguments.empty();
  bool answered = false;
  for (const auto& delegate : delegates()) {
    if (!delegate->respondsToSelector(invocation.selector)) continue;
    answered = true;
    delegate->invoke(invocation);
    if (chained) invocation.arguments.back() = invocation.returnValue;
  }
  if (chained && !answered) invocation.returnValue = invocation.arguments.back();
}

std::set<std::string> DVACDelegateForwarder::selectorsToSwizzle() const {
  std::lock_guard lock(mutex_);
  return selectorsToSwizzle_;
}

std::map<std::string, DVACImplementation> DVACDelegateForwarder::originalImplementations() const {
  std::lock_guard lock(mutex_);
  return originalImplementations_;
}

std::optional<DVACImplementation> DVACDelegateForwarder::originalSetDelegateImp() const {
  std::lock_guard lock(mutex_);
  return originalSetDelegateImp_;
}

void DVACDelegateForwarder::setDeprecatedSelectors(std::map<std::string, std::string> deprecatedSelectors) {
  std::lock_guard lock(mutex_);
  deprecatedSelectors_ = std::move(deprecatedSelectors);
}

// ------------------------------------------------------------ Trace buffer

void DVACDelegateForwarder::addTraceBlock(std::function<void()> block) {
  auto& buffer = traceBuffer();
  std::unique_lock lock(buffer.mutex);
  if (buffer.blocks) {
    if (!buffer.started) {
      buffer.started = true;
      buffer.blocks->push_back([] { DVACLogVerbose(kDVACLogTag, "Start buffering traces."); });
    }
    buffer.blocks->push_back(std::move(block));
    return;
  }
  lock.unlock();
  if (block) block();
}

void DVACDelegateForwarder::flushTraceBuffer() {
  auto& buffer = traceBuffer();
  std::lock_guard lock(buffer.mutex);
  if (!buffer.blocks) return;
  auto blocks = std::move(*buffer.blocks);
  buffer.blocks.reset();
  for (const auto& block : blocks) {
    if (block) block();
  }
  DVACLogVerbose(kDVACLogTag, "Stop buffering traces, flushed.");
}

void DVACDelegateForwarder::resetTraceBufferForTesting() {
  auto& buffer = traceBuffer();
  std::lock_guard lock(buffer.mutex);
  buffer.blocks.emplace();
  buffer.started = false;
}
