#include "platform/foundation/Bundle.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <iterator>

#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

#ifndef MORVALENT_VERSION
#define MORVALENT_VERSION "0.0.0"
#endif

namespace ns {

namespace {

std::mutex gMainMutex;
std::shared_ptr<Bundle> gMain;

std::string selfExecutable() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

Bundle::Bundle(Dictionary info, std::optional<std::string> bundlePath, bool isMain)
    : info_(std::move(info)), bundlePath_(std::move(bundlePath)), isMainExecutable_(isMain) {}

std::shared_ptr<Bundle> Bundle::makeDefaultMain() {
    Dictionary info{
        {"CFBundleIdentifier", kMainBundleIdentifier},
        {"CFBundleName", "Morvalent"},
        {"CFBundleExecutable", "morvalent"},
        {"CFBundleShortVersionString", MORVALENT_VERSION},
        {"CFBundleVersion", MORVALENT_VERSION},
    };
    const std::string exe = selfExecutable();
    std::optional<std::string> dir;
    if (!exe.empty()) dir = paths::deletingLastPathComponent(exe);
    return std::shared_ptr<Bundle>(new Bundle(std::move(info), std::move(dir), true));
}

std::shared_ptr<Bundle> Bundle::main() {
    std::lock_guard<std::mutex> lock(gMainMutex);
    if (!gMain) gMain = makeDefaultMain();
    return gMain;
}

void Bundle::setMain(std::shared_ptr<Bundle> bundle) {
    std::shared_ptr<Bundle> old;
    std::lock_guard<std::mutex> lock(gMainMutex);
    old = std::move(gMain);
    gMain = std::move(bundle);
}

std::shared_ptr<Bundle> Bundle::withInfoDictionary(Dictionary info, std::optional<std::string> bundlePath) {
    return std::shared_ptr<Bundle>(new Bundle(std::move(info), std::move(bundlePath), false));
}

std::shared_ptr<Bundle> Bundle::fromInfoPlist(const std::string& infoPlistPath, Error* error,
                                              std::optional<std::string> bundlePath) {
    std::ifstream in(infoPlistPath, std::ios::binary);
    if (!in) {
        if (error) {
            *error = Error::withDescription(NSCocoaErrorDomain, NSFileReadNoSuchFileError,
                                            "The file \u201c" + infoPlistPath + "\u201d couldn\u2019t be opened.");
        }
        return nullptr;
    }
    const Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto value = PropertyListSerialization::propertyListWithData(bytes, error);
    if (!value) return nullptr;
    if (!value->isDictionary()) {
        if (error) {
            *error = Error::withDescription(NSCocoaErrorDomain, NSPropertyListReadCorruptError,
                                            "The Info.plist root is not a dictionary.");
        }
        return nullptr;
    }
    if (!bundlePath) bundlePath = paths::deletingLastPathComponent(infoPlistPath);
    return withInfoDictionary(std::move(*value->dictionary()), std::move(bundlePath));
}

std::optional<std::string> Bundle::stringValue(std::string_view key) const {
    auto it = info_.find(key);
    if (it == info_.end() || !it->second.isString()) return std::nullopt;
    return *it->second.string();
}

std::string Bundle::name() const {
    if (auto n = stringValue("CFBundleName")) return *n;
    if (auto e = stringValue("CFBundleExecutable")) return *e;
    return paths::lastPathComponent(executablePath());
}

std::optional<Value> Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    auto it = info_.find(key);
    if (it == info_.end()) return std::nullopt;
    return it->second;
}

std::optional<URL> Bundle::bundleURL() const {
    if (!bundlePath_) return std::nullopt;
    return URL::fileURLWithPath(*bundlePath_, true);
}

std::string Bundle::executablePath() const {
    if (isMainExecutable_) return selfExecutable();
    const auto exe = stringValue("CFBundleExecutable");
    if (!bundlePath_ || !exe) return {};
    return paths::appendingPathComponent(*bundlePath_, *exe);
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type) const {
    if (!bundlePath_) return std::nullopt;
    std::string file(name);
    if (!type.empty()) {
        file += '.';
        file += type;
    }
    for (const char* dir : {"Resources", ""}) {
        const std::string candidate = paths::appendingPathComponent(paths::appendingPathComponent(*bundlePath_, dir), file);
        if (paths::fileExists(candidate)) return candidate;
    }
    return std::nullopt;
}

std::vector<std::string> Bundle::preferredLocalizations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return localizations_;
}

void Bundle::setPreferredLocalizations(std::vector<std::string> localizations) {
    std::lock_guard<std::mutex> lock(mutex_);
    localizations_ = std::move(localizations);
}

std::string Bundle::localizedString(std::string_view key, std::string_view value, std::string_view table) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto t = tables_.find(table.empty() ? std::string_view("Localizable") : table);
    if (t != tables_.end()) {
        auto it = t->second.find(key);
        if (it != t->second.end()) return it->second;
    }
    return std::string(value.empty() ? key : value);
}

void Bundle::setStringTable(std::string table, std::map<std::string, std::string, std::less<>> strings) {
    std::lock_guard<std::mutex> lock(mutex_);
    tables_[std::move(table)] = std::move(strings);
}

}  // namespace ns
