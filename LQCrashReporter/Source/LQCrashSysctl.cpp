#include "LQCrashReporter/Source/LQCrashSysctl.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "platform/machcompat/Sysctl.h"

char* DVlqcrash_sysctl_string(const char* name) {
    for (;;) {
        size_t length = 0;
        if (sysctlbyname(name, nullptr, &length, nullptr, 0) != 0) return nullptr;
        char* value = static_cast<char*>(std::malloc(length + 1));
        if (!value) return nullptr;
        if (sysctlbyname(name, value, &length, nullptr, 0) != 0) {
            int saved = errno;
            std::free(value);
            if (saved == ENOMEM) continue;  // it grew in between
            errno = saved;
            return nullptr;
        }
        value[length] = '\0';
        return value;
    }
}

bool DVlqcrash_sysctl_int(const char* name, int32_t* result) {
    size_t length = sizeof(*result);
    return sysctlbyname(name, result, &length, nullptr, 0) == 0 && length == sizeof(*result);
}

size_t lqcrash_utf8_prefix_length(const uint8_t* bytes, size_t length) {
    size_t i = 0;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
    while (i < length) {
        uint8_t c = bytes[i];
        if (c == 0) break;
        size_t continuation;
        if (c < 0x80) {
            continuation = 0;
        } else if ((c & 0xE0) == 0xC0) {
            continuation = 1;
        } else if ((c & 0xF0) == 0xE0) {
            continuation = 2;
        } else if ((c & 0xF8) == 0xF0) {
            continuation = 3;
        } else {
            break;
        }
        if (i + continuation >= length) break;
        bool valid = true;
        for (size_t k = 1; k <= continuation; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) valid = false;
        }
        if (!valid) break;
        i += 1 + continuation;
    }
    return i;
}

bool lqcrash_process_record_read(pid_t pid, lqcrash_process_record* record) {
    std::memset(record, 0, sizeof(*record));
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    kinfo_proc info;
    size_t size = sizeof(info);
    if (sysctl(mib, 4, &info, &size, nullptr, 0) != 0 || size == 0) return false;
    record->process_id = pid;
    record->traced = (info.kp_proc.p_flag & P_TRACED) != 0;
    size_t n = lqcrash_utf8_prefix_length(reinterpret_cast<const uint8_t*>(info.kp_proc.p_comm),
                                          strnlen(info.kp_proc.p_comm, MAXCOMLEN));
    if (n > 0) {
        std::memcpy(record->name, info.kp_proc.p_comm, n);
        record->name[n] = '\0';
        record->has_name = true;
    }
    record->parent_process_id = info.kp_eproc.e_ppid;
    record->start_seconds = info.kp_proc.p_starttime.tv_sec;
    record->start_microseconds = static_cast<int32_t>(info.kp_proc.p_starttime.tv_usec);
    return true;
}
