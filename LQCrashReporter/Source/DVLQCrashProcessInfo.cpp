#include "LQCrashReporter/Source/DVLQCrashProcessInfo.h"

#include <unistd.h>

#include "LQCrashReporter/Source/LQCrashSysctl.h"

std::shared_ptr<DVLQCrashProcessInfo> DVLQCrashProcessInfo::currentProcessInfo() { return initWithProcessID(::getpid()); }

std::shared_ptr<DVLQCrashProcessInfo> DVLQCrashProcessInfo::initWithProcessID(pid_t pid) {
    lqcrash_process_record record;
    if (!lqcrash_process_record_read(pid, &record)) return nullptr;
    std::shared_ptr<DVLQCrashProcessInfo> info(new DVLQCrashProcessInfo());
    info->_processID = record.process_id;
    if (record.has_name) info->_processName = std::string(record.name);
    info->_parentProcessID = record.parent_process_id;
    info->_startTime.tv_sec = static_cast<time_t>(record.start_seconds);
    info->_startTime.tv_usec = record.start_microseconds;
    info->_traced = record.traced;
    return info;
}
