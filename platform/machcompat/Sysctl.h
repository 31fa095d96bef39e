#pragma once
// System controls and process queries the crash engine makes, answered from
// uname(2), sysconf(3) and /proc. None of these is async-signal-safe.

#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The names the engine asks for: "kern.osproductversion" and
// "kern.osversion" (the system's version and build, as mach::
// operatingSystemVersionString and operatingSystemBuild give them),
// "kern.osrelease" (the kernel's release), "hw.model", "hw.cputype",
// "hw.cpusubtype", "hw.physicalcpu_max", "hw.logicalcpu_max",
// "sysctl.proc_native". Unknown or unavailable names fail with ENOENT. With oldp null, *oldlenp receives the size needed; a
// buffer that is too small fails with ENOMEM.
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

inline constexpr int CTL_KERN = 1;
inline constexpr int KERN_PROC = 14;
inline constexpr int KERN_PROC_PID = 1;
inline constexpr int MAXCOMLEN = 16;
inline constexpr int P_TRACED = 0x00000800;

// The fields of the kernel's process record that the engine reads.
struct extern_proc {
    struct timeval p_starttime;
    int p_flag;
    char p_comm[MAXCOMLEN + 1];
};
struct eproc {
    pid_t e_ppid;
};
struct kinfo_proc {
    struct extern_proc kp_proc;
    struct eproc kp_eproc;
};

// {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid} fills a kinfo_proc; a process that
// does not exist leaves *oldlenp 0 and succeeds, as the platform does.
int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

// The executable's path; -1 with *bufsize set to the size needed (with the
// terminating zero) when buf is too small.
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

namespace mach {

// What the system says of itself: the one source for the crash engine's
// system info and the telemetry client's device record, so that a crash log
// describes the same system as every other log. None of these is
// async-signal-safe.

// The value of a key of os-release (/etc, else /usr/lib): KEY=value, the
// value optionally quoted; nullopt when absent, empty or not UTF-8.
std::optional<std::string> osReleaseValue(std::string_view key);
// The distribution's name (os-release NAME), else the kernel's name.
std::string operatingSystemName();
// The distribution's version (os-release VERSION_ID, "12"), else the
// kernel release's leading numbers ("6.1.0").
std::optional<std::string> operatingSystemVersionString();
// The kernel release ("6.1.0-18-amd64").
std::optional<std::string> operatingSystemBuild();
// The firmware's product name, else the device tree's model.
std::optional<std::string> hardwareModel();
// The firmware's system vendor.
std::optional<std::string> hardwareVendor();
// Reads the system's files (/etc, /usr/lib, /sys, /proc/device-tree) below
// this directory instead of "/" (tests); nullopt for "/".
void setSystemFilesRootForTesting(std::optional<std::string> root);

struct OperatingSystemVersion {
    long majorVersion = 0;
    long minorVersion = 0;
    long patchVersion = 0;
};
// operatingSystemVersionString as major.minor.patch.
OperatingSystemVersion operatingSystemVersion();

// Overrides one answer of sysctlbyname (nullptr value: make it unavailable);
// for tests. clearSysctlOverrides drops them all.
void setSysctlOverride(const char* name, const void* value, size_t length);
void setSysctlUnavailable(const char* name);
void clearSysctlOverrides();

}  // namespace mach
