#pragma once
// The scripting bridge: references to the scriptable objects of other
// applications, through which properties are read and commands sent as
// scripting events.
//
// An application is found by its bundle identifier among the applications
// that carry a scripting dictionary (ScriptingRegistry) or that the simulated
// desktop knows. Every object made from it shares one connection: the
// application's delegate, told about every event that fails, and the test of
// whether the application still runs. Selectors are plain names
// ("currentTrack", "playpause", "setDelegate:"); respondsToSelector() answers
// from the dictionary without sending an event, as the bridge's generated
// classes do, and sendEvent() sends one.
//
// Thread safety: every member may be called from any thread. The delegate is
// called on the thread that sent the failed event, with no lock held.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/image/Image.h"

namespace sb {

// ---------------------------------------------------------------- codes

using FourCharCode = std::uint32_t;

// The four characters read as a big-endian number ('kPSP' is 0x6B505350).
constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return (static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}
// nullopt unless the text is exactly four bytes.
std::optional<FourCharCode> fourCharCodeFromString(std::string_view text);
// The four characters; bytes outside printable ASCII as "\xNN".
std::string fourCharCodeString(FourCharCode code);

// Errors of scripting events, in the OSStatus domain as the system reports them.
inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr std::int64_t kProcNotFound = -600;           // the application isn't running
inline constexpr std::int64_t kErrAEEventNotHandled = -1708;  // the event isn't understood
inline constexpr std::int64_t kErrAENoSuchObject = -1728;     // the object doesn't exist
inline constexpr std::int64_t kErrAEEventFailed = -10000;     // the application refused the event
// An error of the domain above with the system's description of the code.
ns::Error scriptingError(std::int64_t code);

// ---------------------------------------------------------------- events

// One scripting event, as the delegate sees it when it fails.
struct AppleEvent {
  std::string application;  // bundle identifier
  std::string receiver;     // the receiver's scripting class ("application", "track", ...)
  std::string selector;
  // "<selector> of <receiver> of <application>"
  std::string description() const;
};

// What the application answers to one event: a reply, or an error.
struct EventReply {
  ns::Value value;
  std::optional<ns::Error> error;

  static EventReply reply(ns::Value value = {}) { return {std::move(value), std::nullopt}; }
  static EventReply failure(ns::Error error) { return {{}, std::move(error)}; }
  static EventReply failure(std::int64_t code) { return failure(scriptingError(code)); }
};

// The application's side of a reference: an object of its scripting
// dictionary. Replies may hold other ScriptableObjects (handed out as
// SBObjects), arrays of them (handed out as SBElementArrays), images
// (ImageObject) and plain values.
class ScriptableObject : public ns::Object {
 public:
  virtual std::string scriptingClass() const = 0;
  // Whether the dictionary declares the selector for this object; no event.
  virtual bool respondsToSelector(std::string_view selector) const = 0;
  // Handles one event: a property read when `arguments` is empty and the
  // selector names a property, else a command or setter.
  virtual EventReply handleEvent(std::string_view selector, const ns::Array& arguments) = 0;

  std::string className() const override { return scriptingClass(); }
};

// The object of a property that names nothing (a stopped player's current
// track): the bridge hands it out as a missing SBObject, which answers no
// selector.
class MissingValue : public ScriptableObject {
 public:
  std::string scriptingClass() const override { return "missing value"; }
  bool respondsToSelector(std::string_view) const override { return false; }
  EventReply handleEvent(std::string_view, const ns::Array&) override {
    return EventReply::failure(kErrAENoSuchObject);
  }
};

// An image inside a reply (NSImage): it answers `size`.
class ImageObject : public ns::Object {
 public:
  explicit ImageObject(img::Image image) : image(std::move(image)) {}
  std::string className() const override { return "NSImage"; }
  bool respondsToSelector(std::string_view selector) const { return selector == "size"; }
  img::Size size() const { return image.size(); }
  const img::Image image;
};

// Whether the object inside a reply answers the selector: an SBObject as its
// dictionary says, an image for `size`, anything else (plain values, raw
// data, descriptors) never.
bool valueRespondsToSelector(const ns::Value& value, std::string_view selector);

// Told when an event fails; its reply is used as the event's result.
class SBApplicationDelegate {
 public:
  virtual ~SBApplicationDelegate() = default;
  virtual ns::Value eventDidFail(const AppleEvent& event, const ns::Error& error) = 0;
};

// ---------------------------------------------------------------- references

class SBElementArray;

namespace detail {
struct Connection;
}

class SBObject : public ns::Object, public std::enable_shared_from_this<SBObject> {
 public:
  // The selectors every reference answers.
  static bool isBaseSelector(std::string_view selector);

  // False for a missing object (a property that named no object), which
  // answers no selector at all.
  virtual bool respondsToSelector(std::string_view selector) const;

  // Sends one event to the object: a property read or a command without
  // arguments, or a command or setter with them. A failed event goes to the
  // application's delegate, whose reply is the result (null without a
  // delegate). Objects in the reply come back as SBObject and SBElementArray.
  ns::Value sendEvent(std::string_view selector, const ns::Array& arguments = {});

  // Typed reads: the reply of sendEvent() converted, or the fallback when the
  // reply is of another kind (a failed event answered nil included).
  std::string stringForSelector(std::string_view selector, std::string fallback = {});
  double doubleForSelector(std::string_view selector, double fallback = 0);
  std::int64_t integerForSelector(std::string_view selector, std::int64_t fallback = 0);
  FourCharCode codeForSelector(std::string_view selector, FourCharCode fallback = 0);
  bool boolForSelector(std::string_view selector, bool fallback = false);
  std::shared_ptr<SBObject> objectForSelector(std::string_view selector);
  std::shared_ptr<SBElementArray> elementArrayForSelector(std::string_view selector);

  // SBObjectProtocol's `get`: the object itself; null for a missing object.
  ns::Value get();

  bool isMissing() const { return target_ == nullptr; }
  // The scripting class ("track", "artwork"); "missing value" for a missing object.
  std::string scriptingClass() const;
  std::string className() const override { return "SBObject"; }
  std::string description() const override;

  struct Key;  // only the bridge makes references
  SBObject(const Key&, std::shared_ptr<detail::Connection> connection, std::shared_ptr<ScriptableObject> target);

 protected:
  friend struct detail::Connection;
  ns::Value wrap(ns::Value reply) const;
  std::shared_ptr<detail::Connection> connection_;
  std::shared_ptr<ScriptableObject> target_;
};

// A list of objects (an element list such as a track's artworks).
class SBElementArray : public ns::Object {
 public:
  explicit SBElementArray(ns::Array elements) : elements_(std::move(elements)) {}
  std::size_t count() const { return elements_.size(); }
  // The element as a value; null when out of range.
  ns::Value elementAtIndex(std::size_t index) const;
  // The element when it is an object; nullptr when out of range or not one.
  std::shared_ptr<SBObject> objectAtIndex(std::size_t index) const;
  std::string className() const override { return "SBElementArray"; }

 private:
  ns::Array elements_;
};

class SBApplication : public SBObject {
 public:
  // A new reference to the application with that bundle identifier: one
  // with a scripting dictionary, or one the simulated desktop runs or ran
  // (which then answers only the base selectors). nullptr when there is none.
  static std::shared_ptr<SBApplication> applicationWithBundleIdentifier(const std::string& bundleIdentifier);

  const std::string& bundleIdentifier() const;
  // Whether a process with the bundle identifier runs now. Sends no event.
  bool isRunning() const;
  // Brings the application forward (when it runs).
  void activate();

  std::shared_ptr<SBApplicationDelegate> delegate() const;
  // Held weakly, as the bridge does.
  void setDelegate(std::weak_ptr<SBApplicationDelegate> delegate);

  bool respondsToSelector(std::string_view selector) const override;
  std::string className() const override { return "SBApplication"; }

  SBApplication(const Key&, std::shared_ptr<detail::Connection> connection, std::shared_ptr<ScriptableObject> target);
};

// ---------------------------------------------------------------- installed applications

// An installed application with a scripting dictionary.
class ScriptableApplication {
 public:
  virtual ~ScriptableApplication() = default;
  virtual std::string bundleIdentifier() const = 0;
  // The root object of the dictionary; nullptr for an application that is
  // installed but not scriptable.
  virtual std::shared_ptr<ScriptableObject> applicationObject() = 0;
  // Whether the application runs; by default, whether the simulated desktop
  // runs a process with the bundle identifier.
  virtual bool isRunning() const;
  // Called for every event the bridge sends to a running application, before
  // it is handled (a player records them). An error fails the event.
  virtual std::optional<ns::Error> willHandleEvent(const AppleEvent&) { return std::nullopt; }
};

// Whether the simulated desktop runs a process with the bundle identifier.
bool isApplicationRunning(const std::string& bundleIdentifier);

// The applications the bridge can script, by bundle identifier. It starts
// with the two simulated music players (SimulatedPlayers.h).
class ScriptingRegistry {
 public:
  static ScriptingRegistry& shared();

  // Replaces an application with the same bundle identifier.
  void install(std::shared_ptr<ScriptableApplication> application);
  bool uninstall(const std::string& bundleIdentifier);
  std::shared_ptr<ScriptableApplication> application(const std::string& bundleIdentifier) const;
  std::vector<std::string> bundleIdentifiers() const;
  // Back to the simulated players alone (each reset to its first state).
  void reset();

 private:
  ScriptingRegistry();
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<ScriptableApplication>> applications_;
};

}  // namespace sb
