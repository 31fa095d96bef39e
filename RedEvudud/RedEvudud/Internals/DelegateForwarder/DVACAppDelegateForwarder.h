#pragma once
// The forwarder of the application's delegate. The application side sets its
// delegate through DVACMethodTable::invoke("NSApplication", "setDelegate:"),
// which is where this forwarder hooks in.

#include <memory>
#include <mutex>

#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACDelegateForwarder.h"

inline constexpr const char* kDVACAppDelegateForwarderEnabledKey = "RedEvududAppDelegateForwarderEnabled";
inline constexpr const char* kDVACApplicationClassName = "NSApplication";
inline constexpr const char* kDVACSetDelegateSelector = "setDelegate:";

// Neither declares anything: markers of what a forwarder forwards to.
class DVACCustomApplicationDelegate : public DVACCustomDelegate {};

class DVACAppDelegateForwarder : public DVACDelegateForwarder {
 public:
  // Made once; making it reads "RedEvududAppDelegateForwarderEnabled".
  static std::shared_ptr<DVACAppDelegateForwarder> sharedInstance();
  static void resetSharedInstance();

 protected:
  std::optional<std::string> originalClassForSetDelegate() const override { return kDVACApplicationClassName; }
  std::once_flag* swizzlingOnceToken() override;
  std::optional<DVACImplementation> customImplementation(const std::string& customSelector) override;

 private:
  DVACAppDelegateForwarder() = default;
};
