#pragma once
// System-control and process-record queries made when the engine is enabled
// (never at crash time).

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// A newly allocated (malloc) copy of a string system control, or null with
// errno kept.
char* DVlqcrash_sysctl_string(const char* name);
// Reads a 4-byte system control.
bool DVlqcrash_sysctl_int(const char* name, int32_t* result);

// Number of bytes of the longest valid UTF-8 prefix of at most length bytes,
// stopping at a zero byte; a leading byte-order mark counts as valid.
size_t lqcrash_utf8_prefix_length(const uint8_t* bytes, size_t length);

// The kernel's record of a process.
struct lqcrash_process_record {
    pid_t process_id;
    bool has_name;
    char name[17];  // the valid UTF-8 prefix of the command name, NUL-terminated
    pid_t parent_process_id;
    int64_t start_seconds;
    int32_t start_microseconds;
    bool traced;
};
bool lqcrash_process_record_read(pid_t pid, lqcrash_process_record* record);
