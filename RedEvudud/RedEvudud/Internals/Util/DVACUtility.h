#pragma once
// Class-level helpers shared by the whole telemetry client: SDK identity,
// keyed archiving, wire-format dates, the application's state, configuration
// string parsing, property validation and the SDK's private directory.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace appkit {
class NSApplication;
class NSApplicationDelegate;
}  // namespace appkit

enum DVACApplicationState : int {
  DVACApplicationStateActive = 0,
  DVACApplicationStateInactive = 1,
  DVACApplicationStateBackground = 2,
  DVACApplicationStateUnknown = 3,
};

// The "other" environment; this platform has no store or sandbox receipts.
inline constexpr int DVACEnvironmentOther = 99;

inline constexpr int kDVACMaxPropertiesPerLog = 20;
inline constexpr int kDVACMaxPropertyKeyLength = 125;
inline constexpr int kDVACMaxPropertyValueLength = 125;

// Properties of a log: string keys to string values.
using DVACPropertiesDictionary = std::map<std::string, std::string>;

// The wire-format date formatter: "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", always UTC.
class DVACISO8601DateFormatter {
 public:
  std::string stringFromDate(const ns::Date& date) const;
  std::optional<ns::Date> dateFromString(std::string_view text) const;
  const std::string& dateFormat() const { return dateFormat_; }
  const std::string& timeZone() const { return timeZone_; }

 private:
  std::string dateFormat_ = "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'";
  std::string timeZone_ = "UTC";
};

class DVACUtility {
 public:
  DVACUtility() = delete;

  // ---- SDK identity --------------------------------------------------------
  static std::string sdkName();
  static std::string sdkVersion();

  // ---- Keyed archiving -----------------------------------------------------
  // Old class name -> today's class name; later entries replace earlier ones.
  static void addMigrationClasses(const std::map<std::string, std::string>& migrationClasses);
  // The client core's own migrations ("DVDevice" -> "DVACDevice", ...),
  // registered when the SDK's shared instance is made.
  static const std::map<std::string, std::string>& redEvududMigrationClasses();
  static void removeMigrationClassesForTesting();
  // The root object as keyed-archive bytes; nil for a null value or when
  // archiving fails (logged).
  static std::optional<ns::Data> archiveKeyedData(const ns::Value& object);
  // The root object, with old class names mapped through the migration
  // table; nil for no data, a nil root, or bytes that cannot be read
  // (garbage, truncation, unknown classes, cycles, wrong kinds; logged).
  static std::optional<ns::Value> unarchiveKeyedData(const std::optional<ns::Data>& data);

  // ---- Dates ---------------------------------------------------------------
  // Seconds since 1970 times 1000, not rounded.
  static double nowInMilliseconds();
  static std::string dateToISO8601(const ns::Date& date);
  static std::optional<ns::Date> dateFromISO8601(std::string_view text);
  // The shared formatter, made on first use.
  static std::shared_ptr<const DVACISO8601DateFormatter> ISO8601DateFormatter();
  static void resetDateFormatterInstance();

  // ---- Application ---------------------------------------------------------
  // Unknown for an app extension, else sharedAppState().
  static DVACApplicationState applicationState();
  // Unknown off the main thread; background while the shared application
  // is hidden; active otherwise.
  static DVACApplicationState sharedAppState();
  // The shared application object and its delegate.
  static appkit::NSApplication& sharedApp();
  static std::shared_ptr<appkit::NSApplicationDelegate> sharedAppDelegate();
  // Opens the URL with the shared workspace on a later turn of the main
  // queue and hands the handler whether it was opened. The options are not
  // looked at.
  static void sharedAppOpenUrl(const ns::URL& url, const ns::Dictionary& options,
                               std::function<void(bool)> completionHandler);

  // ---- Environment ---------------------------------------------------------
  static int currentAppEnvironment();
  static bool hasEmbeddedMobileProvision();
  static bool isAppStoreReceiptSandbox();

  // ---- String formatting ---------------------------------------------------
  // The parts between separators, empty ones included: "a,,b" gives three.
  static std::vector<std::string> splitString(std::string_view text, char separator);
  static std::string joinStrings(const std::vector<std::string>& parts, std::string_view separator);
  // Lower-case hex SHA-256 of the text's UTF-8 bytes.
  static std::string sha256(std::string_view text);
  // The app secret of a configuration string of ";"-separated parts.
  static std::optional<std::string> appSecretFrom(const std::optional<std::string>& string);
  // The first non-empty "target=" value of a configuration string.
  static std::optional<std::string> transmissionTargetTokenFrom(const std::optional<std::string>& string);
  // The token up to its first "-"; nil when that is empty.
  static std::optional<std::string> targetKeyFromTargetToken(const std::optional<std::string>& token);
  // "o:" + the target key.
  static std::optional<std::string> iKeyFromTargetToken(const std::optional<std::string>& token);
  // The JSON re-written pretty-printed; non-JSON comes back as text, and
  // bytes that are not UTF-8 give nil.
  static std::optional<std::string> prettyPrintJson(const std::optional<ns::Data>& data);
  // Every case-insensitive match of the pattern replaced by the template,
  // which may use "$1"-style capture references and "\\" escapes. Patterns
  // are POSIX extended expressions with the GNU escapes (\s, \w, \b ...);
  // matching takes time and stack linear in the text, whatever its size.
  // Nil for a bad pattern (logged).
  static std::optional<std::string> obfuscateString(const std::optional<std::string>& string, std::string_view pattern,
                                                    std::string_view templ);

  // ---- Property validation -------------------------------------------------
  // At most 20 string pairs; keys and values cut to 125 UTF-16 units without
  // splitting a surrogate pair. Non-string pairs are skipped.
  static DVACPropertiesDictionary validateProperties(const ns::Value& properties, std::string_view logName,
                                                     std::string_view type);
  static DVACPropertiesDictionary validateProperties(const DVACPropertiesDictionary& properties,
                                                     std::string_view logName, std::string_view type);

  // ---- Files ---------------------------------------------------------------
  // Every path component is relative to the SDK directory:
  // <Application Support>/<bundle identifier>/com.diruriduv.redevudud
  static ns::URL redEvududDirectoryURL();
  static std::optional<ns::URL> fullURLForPathComponent(const std::optional<std::string>& component);
  static bool fileExistsForPathComponent(const std::optional<std::string>& component);
  static std::optional<ns::URL> createFileAtPathComponent(const std::optional<std::string>& component,
                                                          const std::optional<ns::Data>& data, bool atomically,
                                                          bool forceOverwrite);
  static bool deleteItemForPathComponent(const std::optional<std::string>& component);
  static bool deleteFileAtURL(const std::optional<ns::URL>& url);
  static std::optional<ns::URL> createDirectoryForPathComponent(const std::optional<std::string>& component);
  static std::optional<ns::Data> loadDataForPathComponent(const std::optional<std::string>& component);
  // Entries of a folder (no particular order); nil for no or an empty
  // component, and when listing fails (logged).
  static std::optional<std::vector<ns::URL>> contentsOfDirectory(const std::optional<std::string>& component,
                                                                 const std::vector<std::string>& propertiesForKeys);
  static bool createFileAtPath(const std::string& path, const ns::Data& contents,
                               const ns::Dictionary& attributes = {});
  static bool createDirectoryAtURL(const std::optional<ns::URL>& url);
  static bool disableBackupForDirectoryURL(const std::optional<ns::URL>& url);
  // Forgets the computed SDK directory so the next use computes it again
  // (tests that move the standard directories).
  static void resetRedEvududDirectoryForTesting();
};
