#pragma once
// A process's record as the kernel keeps it.

#include <sys/time.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

class DVLQCrashProcessInfo {
public:
    static std::shared_ptr<DVLQCrashProcessInfo> currentProcessInfo();
    // Null when the process record can't be read.
    static std::shared_ptr<DVLQCrashProcessInfo> initWithProcessID(pid_t pid);

    int32_t processID() const { return _processID; }
    const std::optional<std::string>& processName() const { return _processName; }
    int32_t parentProcessID() const { return _parentProcessID; }
    struct timeval startTime() const { return _startTime; }
    bool isTraced() const { return _traced; }

private:
    DVLQCrashProcessInfo() = default;
    int32_t _processID = 0;
    std::optional<std::string> _processName;
    int32_t _parentProcessID = 0;
    struct timeval _startTime = {0, 0};
    bool _traced = false;
};
