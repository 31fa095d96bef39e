#pragma once
// NSBundle stand-in: the main bundle's identity, its Info.plist values and
// string tables. The main bundle is built in (identifier
// "com.morvalent.Morvalent") until the program or a test installs another.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace ns {

inline constexpr const char* kMainBundleIdentifier = "com.morvalent.Morvalent";

class Bundle {
public:
    static std::shared_ptr<Bundle> main();
    static void setMain(std::shared_ptr<Bundle> bundle);
    // The built-in main bundle: identifier, name "Morvalent", the build's version.
    static std::shared_ptr<Bundle> makeDefaultMain();

    static std::shared_ptr<Bundle> withInfoDictionary(Dictionary info, std::optional<std::string> bundlePath = {});
    // Reads an Info.plist (binary or XML, root a dictionary). The bundle's path
    // is the given one, or the file's directory.
    static std::shared_ptr<Bundle> fromInfoPlist(const std::string& infoPlistPath, Error* error = nullptr,
                                                 std::optional<std::string> bundlePath = {});

    std::optional<std::string> bundleIdentifier() const { return stringValue("CFBundleIdentifier"); }
    // "CFBundleName", else "CFBundleExecutable", else the executable's file name.
    std::string name() const;
    std::optional<std::string> version() const { return stringValue("CFBundleShortVersionString"); }
    std::optional<std::string> buildVersion() const { return stringValue("CFBundleVersion"); }

    const Dictionary& infoDictionary() const { return info_; }
    std::optional<Value> objectForInfoDictionaryKey(std::string_view key) const;

    const std::optional<std::string>& bundlePath() const { return bundlePath_; }
    std::optional<URL> bundleURL() const;
    // The running executable (/proc/self/exe) for the main bundle, else
    // "<bundle path>/<CFBundleExecutable>".
    std::string executablePath() const;
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;

    std::vector<std::string> preferredLocalizations() const;
    void setPreferredLocalizations(std::vector<std::string> localizations);

    // The entry of the table ("Localizable" when table is empty); when absent,
    // value if it is not empty, else the key.
    std::string localizedString(std::string_view key, std::string_view value = {}, std::string_view table = {}) const;
    void setStringTable(std::string table, std::map<std::string, std::string, std::less<>> strings);

private:
    Bundle(Dictionary info, std::optional<std::string> bundlePath, bool isMain);
    std::optional<std::string> stringValue(std::string_view key) const;

    Dictionary info_;
    std::optional<std::string> bundlePath_;
    bool isMainExecutable_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> localizations_{"en"};
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> tables_;
};

}  // namespace ns
