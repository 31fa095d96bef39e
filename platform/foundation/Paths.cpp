#include "platform/foundation/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/foundation/Bundle.h"

namespace ns::paths {

namespace {

std::mutex gMutex;
std::optional<std::string> gRoot;

std::optional<std::string> root() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gRoot;
}

std::string realHome() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_dir) return result->pw_dir;
    return "/tmp";
}

std::string xdg(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    return appendingPathComponent(realHome(), fallbackUnderHome);
}

}  // namespace

std::string homeDirectory() {
    if (auto r = root()) return *r;
    return realHome();
}

std::string applicationSupportDirectory() {
    if (auto r = root()) return appendingPathComponent(*r, "ApplicationSupport");
    return xdg("XDG_DATA_HOME", ".local/share");
}

std::string cachesDirectory() {
    if (auto r = root()) return appendingPathComponent(*r, "Caches");
    return xdg("XDG_CACHE_HOME", ".cache");
}

std::string preferencesDirectory() {
    if (auto r = root()) return appendingPathComponent(*r, "Preferences");
    return xdg("XDG_CONFIG_HOME", ".config");
}

std::string simulatedSystemDirectory() {
    return appendingPathComponent(appendingPathComponent(applicationSupportDirectory(), kMainBundleIdentifier),
                                  "SimulatedSystem");
}

std::string temporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && tmp[0] == '/') return tmp;
    return "/tmp";
}

void setRootForTesting(std::optional<std::string> newRoot) {
    std::lock_guard<std::mutex> lock(gMutex);
    gRoot = std::move(newRoot);
}

std::optional<std::string> rootForTesting() { return root(); }

std::string appendingPathComponent(std::string_view base, std::string_view component) {
    std::string out(base);
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    if (component.empty()) return out;
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out.append(component);
    return out;
}

std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return "/";
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return "";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

bool fileExists(const std::string& path, bool* isDirectory) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool createDirectory(const std::string& path, Error* error) {
    auto fail = [&](int err, const std::string& at) {
        if (error) {
            Dictionary info;
            info.emplace(NSLocalizedDescriptionKey, Value("Couldn\u2019t create directory " + at + ": " + std::strerror(err)));
            info.emplace(NSFilePathErrorKey, Value(at));
            *error = Error(NSPOSIXErrorDomain, err, std::move(info));
        }
        return false;
    };
    if (path.empty()) return fail(ENOENT, path);
    bool isDir = false;
    if (fileExists(path, &isDir)) return isDir ? true : fail(ENOTDIR, path);
    // Create each missing component from the top down.
    size_t pos = path[0] == '/' ? 1 : 0;
    for (;;) {
        const size_t slash = path.find('/', pos);
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return fail(errno, prefix);
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    if (!fileExists(path, &isDir) || !isDir) return fail(ENOTDIR, path);
    return true;
}

}  // namespace ns::paths
