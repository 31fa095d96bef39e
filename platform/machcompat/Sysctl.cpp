#include "platform/machcompat/Sysctl.h"

#include <errno.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "platform/machcompat/MachO.h"

namespace mach {
namespace {

std::mutex g_factsMutex;
std::map<std::string, std::optional<std::string>> g_overrides;
std::optional<std::string> g_systemFilesRoot;

std::string systemPath(const std::string& absolutePath) {
    std::lock_guard<std::mutex> lock(g_factsMutex);
    return g_systemFilesRoot ? *g_systemFilesRoot + absolutePath : absolutePath;
}

// A small text file of the system; nullopt when it cannot be read.
std::optional<std::string> readSystemFile(const std::string& absolutePath) {
    constexpr size_t kMaxSize = 64 * 1024;
    std::ifstream file(systemPath(absolutePath), std::ios::binary);
    if (!file) return std::nullopt;
    std::string text(kMaxSize, '\0');
    file.read(text.data(), static_cast<std::streamsize>(kMaxSize));
    text.resize(static_cast<size_t>(file.gcount()));
    return text;
}

bool isSpaceOrNul(char c) { return c == '\0' || std::isspace(static_cast<unsigned char>(c)); }

std::string trimmed(std::string_view text) {
    while (!text.empty() && isSpaceOrNul(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpaceOrNul(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool isValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t value = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            value = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            value = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            value = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = (value << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// A one-line value of the firmware or device tree: nullopt when unreadable,
// empty, or not UTF-8.
std::optional<std::string> readSystemValue(const std::string& absolutePath) {
    auto text = readSystemFile(absolutePath);
    if (!text) return std::nullopt;
    std::string value = trimmed(*text);
    if (value.empty() || !isValidUtf8(value)) return std::nullopt;
    return value;
}

std::optional<struct utsname> kernelName() {
    struct utsname name {};
    if (::uname(&name) != 0) return std::nullopt;
    return name;
}

std::string int32Bytes(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), sizeof(v)); }

// The answer for a name, as bytes (strings with their terminating zero).
std::optional<std::string> answer(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(g_factsMutex);
        auto it = g_overrides.find(name);
        if (it != g_overrides.end()) return it->second;
    }
    std::optional<std::string> text;
    if (name == "kern.osproductversion") {
        text = operatingSystemVersionString();
    } else if (name == "kern.osversion") {
        text = operatingSystemBuild();
    } else if (name == "kern.osrelease") {
        if (auto kernel = kernelName()) text = std::string(kernel->release);
    } else if (name == "hw.model") {
        text = hardwareModel();
    }
    if (text) return *text + '\0';
    if (name == "hw.cputype" || name == "hw.cpusubtype") {
#if defined(__aarch64__)
        return int32Bytes(name == "hw.cputype" ? CPU_TYPE_ARM64 : CPU_SUBTYPE_ARM64_ALL);
#elif defined(__x86_64__)
        return int32Bytes(name == "hw.cputype" ? CPU_TYPE_X86_64 : CPU_SUBTYPE_X86_64_ALL);
#else
        return std::nullopt;
#endif
    }
    if (name == "hw.physicalcpu_max" || name == "hw.logicalcpu_max") {
        long n = ::sysconf(_SC_NPROCESSORS_CONF);
        if (n <= 0) return std::nullopt;
        return int32Bytes(static_cast<int32_t>(n));
    }
    return std::nullopt;  // "sysctl.proc_native" and anything else
}

// Reads /proc/<pid>/stat: the command name, the parent and the start time.
bool readProcStat(pid_t pid, std::string* comm, pid_t* ppid, unsigned long long* startTicks) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in) return false;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t open = all.find('(');
    size_t close = all.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    *comm = all.substr(open + 1, close - open - 1);
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    // Fields after the name: state(3) ppid(4) ... starttime(22).
    for (int i = 3; i <= 22 && rest >> field; ++i) {
        if (i == 4) *ppid = static_cast<pid_t>(std::stol(field));
        if (i == 22) *startTicks = std::stoull(field);
    }
    return true;
}

bool isTraced(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::stol(line.substr(10)) != 0;
    }
    return false;
}

double bootTime() {
    std::ifstream in("/proc/stat");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("btime ", 0) == 0) return std::stod(line.substr(6));
    }
    struct timespec now, up;
    ::clock_gettime(CLOCK_REALTIME, &now);
    ::clock_gettime(CLOCK_BOOTTIME, &up);
    return static_cast<double>(now.tv_sec - up.tv_sec);
}

}  // namespace

std::optional<std::string> osReleaseValue(std::string_view key) {
    auto text = readSystemFile("/etc/os-release");
    if (!text) text = readSystemFile("/usr/lib/os-release");
    if (!text) return std::nullopt;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        std::string_view line(text->data() + start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != key) continue;
        std::string_view raw = line.substr(equals + 1);
        while (!raw.empty() && std::isspace(static_cast<unsigned char>(raw.back()))) raw.remove_suffix(1);
        std::string value;
        if (!raw.empty() && (raw.front() == '"' || raw.front() == '\'')) {
            const char quote = raw.front();
            for (size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
                if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) ++i;
                value += raw[i];
            }
        } else {
            value = std::string(raw);
        }
        if (value.empty() || !isValidUtf8(value)) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::string operatingSystemName() {
    if (auto name = osReleaseValue("NAME")) return *name;
    if (auto kernel = kernelName()) return kernel->sysname;
    return "Linux";
}

std::optional<std::string> operatingSystemVersionString() {
    if (auto version = osReleaseValue("VERSION_ID")) return version;
    auto kernel = kernelName();
    if (!kernel) return std::nullopt;
    std::string release = kernel->release;
    const size_t end = release.find_first_not_of("0123456789.");
    if (end != std::string::npos) release.resize(end);
    while (!release.empty() && release.back() == '.') release.pop_back();
    if (release.empty()) return std::nullopt;
    return release;
}

std::optional<std::string> operatingSystemBuild() {
    auto kernel = kernelName();
    if (!kernel || !*kernel->release || !isValidUtf8(kernel->release)) return std::nullopt;
    return std::string(kernel->release);
}

std::optional<std::string> hardwareModel() {
    if (auto model = readSystemValue("/sys/class/dmi/id/product_name")) return model;
    return readSystemValue("/proc/device-tree/model");
}

std::optional<std::string> hardwareVendor() { return readSystemValue("/sys/class/dmi/id/sys_vendor"); }

void setSystemFilesRootForTesting(std::optional<std::string> root) {
    std::lock_guard<std::mutex> lock(g_factsMutex);
    g_systemFilesRoot = std::move(root);
}

OperatingSystemVersion operatingSystemVersion() {
    OperatingSystemVersion v;
    const auto version = operatingSystemVersionString();
    if (!version) return v;
    long* parts[3] = {&v.majorVersion, &v.minorVersion, &v.patchVersion};
    const char* p = version->c_str();
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9') break;
        char* end = nullptr;
        *parts[i] = std::strtol(p, &end, 10);
        p = end;
        if (*p != '.') break;
        ++p;
    }
    return v;
}

void setSysctlOverride(const char* name, const void* value, size_t length) {
    std::lock_guard<std::mutex> lock(g_factsMutex);
    if (!value) {
        g_overrides[name] = std::nullopt;
    } else {
        g_overrides[name] = std::string(static_cast<const char*>(value), length);
    }
}

void setSysctlUnavailable(const char* name) { setSysctlOverride(name, nullptr, 0); }

void clearSysctlOverrides() {
    std::lock_guard<std::mutex> lock(g_factsMutex);
    g_overrides.clear();
}

}  // namespace mach

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t /*newlen*/) {
    if (!name || !oldlenp || newp) {
        errno = EINVAL;
        return -1;
    }
    std::optional<std::string> value = mach::answer(name);
    if (!value) {
        errno = ENOENT;
        return -1;
    }
    if (!oldp) {
        *oldlenp = value->size();
        return 0;
    }
    if (*oldlenp < value->size()) {
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, value->data(), value->size());
    *oldlenp = value->size();
    return 0;
}

int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, void* newp, size_t /*newlen*/) {
    if (!name || namelen != 4 || name[0] != CTL_KERN || name[1] != KERN_PROC || name[2] != KERN_PROC_PID || newp ||
        !oldlenp) {
        errno = EINVAL;
        return -1;
    }
    if (!oldp) {
        *oldlenp = sizeof(kinfo_proc);
        return 0;
    }
    if (*oldlenp < sizeof(kinfo_proc)) {
        errno = ENOMEM;
        return -1;
    }
    std::string comm;
    pid_t ppid = 0;
    unsigned long long ticks = 0;
    if (!mach::readProcStat(static_cast<pid_t>(name[3]), &comm, &ppid, &ticks)) {
        *oldlenp = 0;
        return 0;
    }
    kinfo_proc* kp = static_cast<kinfo_proc*>(oldp);
    std::memset(kp, 0, sizeof(*kp));
    std::strncpy(kp->kp_proc.p_comm, comm.c_str(), MAXCOMLEN);
    kp->kp_proc.p_flag = mach::isTraced(static_cast<pid_t>(name[3])) ? P_TRACED : 0;
    long hz = ::sysconf(_SC_CLK_TCK);
    double start = mach::bootTime() + static_cast<double>(ticks) / static_cast<double>(hz > 0 ? hz : 100);
    kp->kp_proc.p_starttime.tv_sec = static_cast<time_t>(start);
    kp->kp_proc.p_starttime.tv_usec = static_cast<suseconds_t>((start - static_cast<double>(static_cast<time_t>(start))) * 1e6);
    kp->kp_eproc.e_ppid = ppid;
    *oldlenp = sizeof(kinfo_proc);
    return 0;
}

int _NSGetExecutablePath(char* buf, uint32_t* bufsize) {
    if (!bufsize) return -1;
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return -1;
    path[n] = '\0';
    uint32_t needed = static_cast<uint32_t>(n) + 1;
    if (!buf || *bufsize < needed) {
        *bufsize = needed;
        return -1;
    }
    std::memcpy(buf, path, needed);
    return 0;
}
