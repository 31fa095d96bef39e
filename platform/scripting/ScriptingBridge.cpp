#include "platform/scripting/ScriptingBridge.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/scripting/SimulatedPlayers.h"
#include "platform/sim/World.h"

namespace sb {

// ---------------------------------------------------------------- codes

std::optional<FourCharCode> fourCharCodeFromString(std::string_view text) {
  if (text.size() != 4) return std::nullopt;
  FourCharCode code = 0;
  for (char c : text) code = (code << 8) | static_cast<unsigned char>(c);
  return code;
}

std::string fourCharCodeString(FourCharCode code) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    auto byte = static_cast<unsigned char>((code >> shift) & 0xFF);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(static_cast<char>(byte));
    } else {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02X", byte);
      out += buf;
    }
  }
  return out;
}

ns::Error scriptingError(std::int64_t code) {
  const char* text = "The scripting event failed.";
  switch (code) {
    case kProcNotFound:
      text = "The application isn't running.";
      break;
    case kErrAEEventNotHandled:
      text = "The application doesn't understand the event.";
      break;
    case kErrAENoSuchObject:
      text = "The requested object doesn't exist.";
      break;
    case kErrAEEventFailed:
      text = "The application could not handle the event.";
      break;
    default:
      break;
  }
  return ns::Error::withDescription(NSOSStatusErrorDomain, code, text);
}

std::string AppleEvent::description() const { return selector + " of " + receiver + " of " + application; }

bool valueRespondsToSelector(const ns::Value& value, std::string_view selector) {
  auto object = value.object();
  if (!object) return false;
  if (auto reference = std::dynamic_pointer_cast<SBObject>(object)) return reference->respondsToSelector(selector);
  if (auto image = std::dynamic_pointer_cast<ImageObject>(object)) return image->respondsToSelector(selector);
  return false;
}

// ---------------------------------------------------------------- connection

struct SBObject::Key {};

namespace detail {

// What every reference made from one SBApplication shares.
struct Connection : std::enable_shared_from_this<Connection> {
  std::string bundleIdentifier;
  std::shared_ptr<ScriptableApplication> application;  // nullptr: known but not scriptable
  mutable std::mutex mutex;
  std::weak_ptr<SBApplicationDelegate> delegate;

  bool running() const { return application ? application->isRunning() : isApplicationRunning(bundleIdentifier); }

  std::shared_ptr<SBApplicationDelegate> currentDelegate() const {
    std::lock_guard lock(mutex);
    return delegate.lock();
  }

  ns::Value fail(const AppleEvent& event, const ns::Error& error) const {
    if (auto d = currentDelegate()) return d->eventDidFail(event, error);
    return {};
  }

  ns::Value send(const SBObject& from, std::string_view selector, const ns::Array& arguments) {
    AppleEvent event{bundleIdentifier, from.scriptingClass(), std::string(selector)};
    if (!from.target_) return fail(event, scriptingError(kErrAENoSuchObject));
    if (!running()) return fail(event, scriptingError(kProcNotFound));
    if (application) {
      if (auto refused = application->willHandleEvent(event)) return fail(event, *refused);
    }
    EventReply reply = from.target_->handleEvent(selector, arguments);
    if (reply.error) return fail(event, *reply.error);
    return from.wrap(std::move(reply.value));
  }

  std::shared_ptr<SBObject> reference(std::shared_ptr<ScriptableObject> target) {
    return std::make_shared<SBObject>(SBObject::Key{}, shared_from_this(), std::move(target));
  }
};

}  // namespace detail

// ---------------------------------------------------------------- SBObject

SBObject::SBObject(const Key&, std::shared_ptr<detail::Connection> connection, std::shared_ptr<ScriptableObject> target)
    : connection_(std::move(connection)), target_(std::move(target)) {}

bool SBObject::isBaseSelector(std::string_view selector) {
  return selector == "get" || selector == "respondsToSelector:" || selector == "isEqual:";
}

bool SBObject::respondsToSelector(std::string_view selector) const {
  if (!target_) return false;
  return isBaseSelector(selector) || target_->respondsToSelector(selector);
}

ns::Value SBObject::wrap(ns::Value reply) const {
  if (auto object = reply.object()) {
    if (std::dynamic_pointer_cast<MissingValue>(object)) return ns::Value(connection_->reference(nullptr));
    if (auto scriptable = std::dynamic_pointer_cast<ScriptableObject>(object)) {
      return ns::Value(connection_->reference(std::move(scriptable)));
    }
    return reply;
  }
  if (auto elements = reply.array()) {
    ns::Array wrapped;
    wrapped.reserve(elements->size());
    for (auto& element : *elements) wrapped.push_back(wrap(element));
    return ns::Value(std::make_shared<SBElementArray>(std::move(wrapped)));
  }
  return reply;
}

ns::Value SBObject::sendEvent(std::string_view selector, const ns::Array& arguments) {
  return connection_->send(*this, selector, arguments);
}

std::string SBObject::stringForSelector(std::string_view selector, std::string fallback) {
  auto value = sendEvent(selector);
  if (auto s = value.string()) return *s;
  return fallback;
}

double SBObject::doubleForSelector(std::string_view selector, double fallback) {
  auto value = sendEvent(selector);
  if (value.isNumber()) return value.asDouble().value_or(fallback);
  return fallback;
}

std::int64_t SBObject::integerForSelector(std::string_view selector, std::int64_t fallback) {
  auto value = sendEvent(selector);
  if (value.isNumber()) return value.asInt64().value_or(fallback);
  return fallback;
}

FourCharCode SBObject::codeForSelector(std::string_view selector, FourCharCode fallback) {
  auto value = sendEvent(selector);
  if (auto text = value.string()) return fourCharCodeFromString(*text).value_or(fallback);
  if (!value.isInteger()) return fallback;
  auto code = value.asUInt64();
  if (!code || *code > 0xFFFFFFFFu) return fallback;
  return static_cast<FourCharCode>(*code);
}

bool SBObject::boolForSelector(std::string_view selector, bool fallback) {
  auto value = sendEvent(selector);
  if (value.isNumber()) return value.asBool().value_or(fallback);
  return fallback;
}

std::shared_ptr<SBObject> SBObject::objectForSelector(std::string_view selector) {
  return sendEvent(selector).objectAs<SBObject>();
}

std::shared_ptr<SBElementArray> SBObject::elementArrayForSelector(std::string_view selector) {
  return sendEvent(selector).objectAs<SBElementArray>();
}

ns::Value SBObject::get() {
  if (!target_) return {};
  return ns::Value(shared_from_this());
}

std::string SBObject::scriptingClass() const { return target_ ? target_->scriptingClass() : "missing value"; }

std::string SBObject::description() const {
  return "<" + className() + ": " + scriptingClass() + " of " + connection_->bundleIdentifier + ">";
}

// ---------------------------------------------------------------- SBElementArray

ns::Value SBElementArray::elementAtIndex(std::size_t index) const {
  if (index >= elements_.size()) return {};
  return elements_[index];
}

std::shared_ptr<SBObject> SBElementArray::objectAtIndex(std::size_t index) const {
  return elementAtIndex(index).objectAs<SBObject>();
}

// ---------------------------------------------------------------- SBApplication

SBApplication::SBApplication(const Key& key, std::shared_ptr<detail::Connection> connection,
                             std::shared_ptr<ScriptableObject> target)
    : SBObject(key, std::move(connection), std::move(target)) {}

std::shared_ptr<SBApplication> SBApplication::applicationWithBundleIdentifier(const std::string& bundleIdentifier) {
  auto application = ScriptingRegistry::shared().application(bundleIdentifier);
  if (!application && !isApplicationRunning(bundleIdentifier)) return nullptr;
  auto connection = std::make_shared<detail::Connection>();
  connection->bundleIdentifier = bundleIdentifier;
  connection->application = application;
  auto root = application ? application->applicationObject() : nullptr;
  return std::make_shared<SBApplication>(Key{}, std::move(connection), std::move(root));
}

const std::string& SBApplication::bundleIdentifier() const { return connection_->bundleIdentifier; }

bool SBApplication::isRunning() const { return connection_->running(); }

void SBApplication::activate() {
  auto& world = sim::World::shared();
  for (const auto& app : world.runningApplications()) {
    if (app.bundleIdentifier == connection_->bundleIdentifier) {
      world.activateApplication(app.pid);
      return;
    }
  }
}

std::shared_ptr<SBApplicationDelegate> SBApplication::delegate() const { return connection_->currentDelegate(); }

void SBApplication::setDelegate(std::weak_ptr<SBApplicationDelegate> delegate) {
  std::lock_guard lock(connection_->mutex);
  connection_->delegate = std::move(delegate);
}

bool SBApplication::respondsToSelector(std::string_view selector) const {
  if (selector == "isRunning" || selector == "activate" || selector == "delegate" || selector == "setDelegate:" ||
      isBaseSelector(selector)) {
    return true;
  }
  return target_ && target_->respondsToSelector(selector);
}

// ---------------------------------------------------------------- installed applications

bool isApplicationRunning(const std::string& bundleIdentifier) {
  auto apps = sim::World::shared().runningApplications();
  return std::any_of(apps.begin(), apps.end(), [&](const sim::ApplicationInfo& app) {
    return !app.terminated && app.bundleIdentifier == bundleIdentifier;
  });
}

bool ScriptableApplication::isRunning() const { return isApplicationRunning(bundleIdentifier()); }

ScriptingRegistry& ScriptingRegistry::shared() {
  static ScriptingRegistry registry;
  return registry;
}

ScriptingRegistry::ScriptingRegistry() {
  applications_.push_back(MusicPlayer::shared());
  applications_.push_back(SpotifyPlayer::shared());
}

void ScriptingRegistry::install(std::shared_ptr<ScriptableApplication> application) {
  if (!application) return;
  auto id = application->bundleIdentifier();
  std::lock_guard lock(mutex_);
  std::erase_if(applications_, [&](const auto& a) { return a->bundleIdentifier() == id; });
  applications_.push_back(std::move(application));
}

bool ScriptingRegistry::uninstall(const std::string& bundleIdentifier) {
  std::lock_guard lock(mutex_);
  return std::erase_if(applications_, [&](const auto& a) { return a->bundleIdentifier() == bundleIdentifier; }) > 0;
}

std::shared_ptr<ScriptableApplication> ScriptingRegistry::application(const std::string& bundleIdentifier) const {
  std::lock_guard lock(mutex_);
  for (const auto& a : applications_) {
    if (a->bundleIdentifier() == bundleIdentifier) return a;
  }
  return nullptr;
}

std::vector<std::string> ScriptingRegistry::bundleIdentifiers() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  for (const auto& a : applications_) ids.push_back(a->bundleIdentifier());
  return ids;
}

void ScriptingRegistry::reset() {
  auto music = MusicPlayer::shared();
  auto spotify = SpotifyPlayer::shared();
  music->reset();
  spotify->reset();
  std::lock_guard lock(mutex_);
  applications_ = {music, spotify};
}

}  // namespace sb
