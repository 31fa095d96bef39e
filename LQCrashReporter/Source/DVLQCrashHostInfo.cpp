#include "LQCrashReporter/Source/DVLQCrashHostInfo.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "LQCrashReporter/Source/LQCrashErrors.h"
#include "LQCrashReporter/Source/LQCrashSysctl.h"

std::shared_ptr<DVLQCrashHostInfo> DVLQCrashHostInfo::currentHostInfo() { return init(); }

bool DVLQCrashHostInfo::parseRelease(const std::string& text, LQCrashHostInfoVersion* version) {
    *version = LQCrashHostInfoVersion{};
    uint64_t* parts[3] = {&version->major, &version->minor, &version->revision};
    const char* p = text.c_str();
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9') return false;
        char* end = nullptr;
        *parts[i] = std::strtoull(p, &end, 10);
        p = end;
        if (i < 2) {
            if (*p != '.') return false;
            ++p;
        }
    }
    return true;
}

std::shared_ptr<DVLQCrashHostInfo> DVLQCrashHostInfo::init() {
    char* release = DVlqcrash_sysctl_string("kern.osrelease");
    if (!release) {
        int e = errno;
        lqcrash_log("[LQCrashReporter] Failed to fetch kern.osrelease value " + std::to_string(e) + ": " +
                    std::strerror(e));
        return nullptr;
    }
    auto info = std::make_shared<DVLQCrashHostInfo>();
    if (!parseRelease(release, &info->_darwinVersion)) {
        lqcrash_log(std::string("[LQCrashReporter] Unexpected kern.osrelease string format: ") + release);
    }
    std::free(release);
    return info;
}
