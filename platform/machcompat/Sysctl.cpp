#include "platform/machcompat/Sysctl.h"

#include <errno.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

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

std::mutex g_mutex;
std::map<std::string, std::optional<std::string>> g_overrides;

std::optional<std::string> readFirstLine(const char* path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line, '\0');
    while (!line.empty() && (line.back() == '\n' || line.back() == '\0')) line.pop_back();
    if (line.empty()) return std::nullopt;
    return line;
}

std::string int32Bytes(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), sizeof(v)); }

// The answer for a name, as bytes (strings with their terminating zero).
std::optional<std::string> answer(const std::string& name) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_overrides.find(name);
        if (it != g_overrides.end()) return it->second;
    }
    struct utsname u;
    if (name == "kern.osversion" || name == "kern.osrelease") {
        if (::uname(&u) != 0) return std::nullopt;
        std::string s = name == "kern.osversion" ? u.version : u.release;
        return s + '\0';
    }
    if (name == "hw.model") {
        auto model = readFirstLine("/proc/device-tree/model");
        if (!model) model = readFirstLine("/sys/devices/virtual/dmi/id/product_name");
        if (!model) return std::nullopt;
        return *model + '\0';
    }
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

OperatingSystemVersion operatingSystemVersion() {
    OperatingSystemVersion v;
    struct utsname u;
    if (::uname(&u) != 0) return v;
    long* parts[3] = {&v.majorVersion, &v.minorVersion, &v.patchVersion};
    const char* p = u.release;
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
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!value) {
        g_overrides[name] = std::nullopt;
    } else {
        g_overrides[name] = std::string(static_cast<const char*>(value), length);
    }
}

void setSysctlUnavailable(const char* name) { setSysctlOverride(name, nullptr, 0); }

void clearSysctlOverrides() {
    std::lock_guard<std::mutex> lock(g_mutex);
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
