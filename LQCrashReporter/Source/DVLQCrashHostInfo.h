#pragma once
// The host's kernel version, used to choose the Mach exception mask.

#include <cstdint>
#include <memory>
#include <string>

struct LQCrashHostInfoVersion {
    uint64_t major = 0;
    uint64_t minor = 0;
    uint64_t revision = 0;
};

class DVLQCrashHostInfo {
public:
    static std::shared_ptr<DVLQCrashHostInfo> currentHostInfo();
    // Null (and a log line) when kern.osrelease can't be read.
    static std::shared_ptr<DVLQCrashHostInfo> init();
    // Parses "major.minor.revision" from the start of text; false (keeping
    // what was parsed) when the text doesn't match.
    static bool parseRelease(const std::string& text, LQCrashHostInfoVersion* version);

    LQCrashHostInfoVersion darwinVersion() const { return _darwinVersion; }

private:
    LQCrashHostInfoVersion _darwinVersion;
};
