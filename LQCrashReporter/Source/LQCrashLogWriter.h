#pragma once
// Writes a crash report (the "lqcrash" file) from inside a crashing process.
// Everything that needs allocation or system queries is gathered into the
// writer record before any crash; at crash time the writer only reads that
// record, walks the threads and images, and streams protobuf bytes through a
// 256-byte buffer into an open descriptor.

#include <cstddef>
#include <cstdint>

#include "LQCrashReporter/Source/LQCrashAsyncImageList.h"
#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"
#include "LQCrashReporter/Source/LQCrashAsyncThreadState.h"
#include "platform/machcompat/NSException.h"

// Field types, numbered as protobuf-c numbers them.
enum : int {
    LQCRASH_PB_TYPE_INT32 = 0,
    LQCRASH_PB_TYPE_SINT32 = 1,
    LQCRASH_PB_TYPE_SFIXED32 = 2,
    LQCRASH_PB_TYPE_INT64 = 3,
    LQCRASH_PB_TYPE_SINT64 = 4,
    LQCRASH_PB_TYPE_SFIXED64 = 5,
    LQCRASH_PB_TYPE_UINT32 = 6,
    LQCRASH_PB_TYPE_FIXED32 = 7,
    LQCRASH_PB_TYPE_UINT64 = 8,
    LQCRASH_PB_TYPE_FIXED64 = 9,
    LQCRASH_PB_TYPE_FLOAT = 10,
    LQCRASH_PB_TYPE_DOUBLE = 11,
    LQCRASH_PB_TYPE_BOOL = 12,
    LQCRASH_PB_TYPE_ENUM = 13,
    LQCRASH_PB_TYPE_STRING = 14,
    LQCRASH_PB_TYPE_BYTES = 15,
    LQCRASH_PB_TYPE_MESSAGE = 16,
};

// The value of a bytes field: a length and a pointer.
struct lqcrash_pb_bytes {
    size_t len;
    const uint8_t* data;
};

inline constexpr int64_t LQCRASH_REPORT_MAX_BYTES = 262144;
inline constexpr uint32_t LQCRASH_MAX_FRAMES = 512;
// Pages of the process's memory a report keeps copies of (reserved when the
// reporter is enabled), so that each is read from the kernel once.
inline constexpr size_t LQCRASH_PAGE_CACHE_PAGES = 256;

struct lqcrash_log_string {
    size_t length;
    char* bytes;
};

// Custom data: its length, then the bytes.
struct lqcrash_custom_data_block {
    size_t length;
    lqcrash_custom_data_block* retired_next;  // on the writer's retired list
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this + 1); }
};

struct lqcrash_log_writer_t {
    uint32_t symbol_strategy;
    bool user_requested;
    uint8_t report_uuid[16];
    struct {
        lqcrash_log_string version;
        lqcrash_log_string build;
    } system_info;
    struct {
        lqcrash_log_string model;
        uint64_t cpu_type;
        uint64_t cpu_subtype;
        uint32_t processor_count;
        uint32_t logical_processor_count;
    } machine_info;
    struct {
        lqcrash_log_string app_identifier;
        lqcrash_log_string app_version;
        lqcrash_log_string app_marketing_version;
    } application_info;
    struct {
        lqcrash_log_string process_name;
        uint32_t process_id;
        lqcrash_log_string process_path;
        uint64_t start_time;
        lqcrash_log_string parent_process_name;
        uint32_t parent_process_id;
        bool native;
    } process_info;
    struct {
        bool has_exception;
        char* name;
        char* reason;
        uint64_t* callstack;
        size_t callstack_count;
    } uncaught_exception;
    // Replaced at any time while a crash on another thread may be writing
    // a report: the block is swapped as one pointer, and a report counts
    // itself in readers while it uses one (see the functions below).
    struct {
        lqcrash_custom_data_block* block;
        int32_t readers;
        lqcrash_custom_data_block* retired;  // replaced while read; freed once nothing reads
    } custom_data;
};

struct lqcrash_log_bsd_signal_info_t {
    int32_t signo;  // the platform's numbering
    int32_t code;
    uint64_t address;
};

struct lqcrash_log_mach_signal_info_t {
    int32_t type;
    const int64_t* code;
    uint32_t code_count;
};

struct lqcrash_log_signal_info_t {
    lqcrash_log_bsd_signal_info_t* bsd_info;
    lqcrash_log_mach_signal_info_t* mach_info;
};

struct lqcrash_async_file_t {
    int fd;
    int64_t limit_bytes;
    int64_t total_bytes;
    size_t buflen;
    char buffer[256];
    bool failed;  // a write was refused or did not reach the descriptor
    // Counts the report's steps, so that others can see it move on (none:
    // nowhere).
    uint32_t* progress;
};

// The system calls behind the output file; tests put failing ones in their
// place.
struct lqcrash_async_file_ops {
    ssize_t (*write)(int fd, const void* data, size_t len);
    int (*close)(int fd);
};
// Installs ops (none: the system's own) and returns those used before. Not
// while a report is being written.
const lqcrash_async_file_ops* lqcrash_async_file_set_ops(const lqcrash_async_file_ops* ops);

void DVlqcrash_async_file_init(lqcrash_async_file_t* file, int fd, int64_t output_limit);
// Counts one more step of the report in file->progress. Every accepted
// write is one.
void lqcrash_async_file_progress(lqcrash_async_file_t* file);
bool DVlqcrash_async_file_write(lqcrash_async_file_t* file, const void* data, size_t len);
bool DVlqcrash_async_file_flush(lqcrash_async_file_t* file);
bool DVlqcrash_async_file_close(lqcrash_async_file_t* file);
ssize_t DVlqcrash_async_writen(int fd, const void* data, size_t len);

size_t lqcrash_writer_pack(lqcrash_async_file_t* file, uint32_t field_id, int type, const void* value);

lqcrash_error_t DVlqcrash_log_writer_init(lqcrash_log_writer_t* writer, const char* app_identifier,
                                          const char* app_version, const char* app_marketing_version,
                                          uint32_t symbol_strategy, bool user_requested);
void DVlqcrash_log_writer_set_exception(lqcrash_log_writer_t* writer, const ns::NSException& exception);
// Replaces the custom data; bytes null clears it. The block it replaces is
// freed unless a report is reading it; then it waits until a later call
// finds no report reading (or the writer is freed).
void DVlqcrash_log_writer_set_custom_data(lqcrash_log_writer_t* writer, const uint8_t* bytes, size_t length);
// The custom data a report writes, kept valid until the matching end.
// Async-signal-safe.
const lqcrash_custom_data_block* lqcrash_log_writer_custom_data_begin(lqcrash_log_writer_t* writer);
void lqcrash_log_writer_custom_data_end(lqcrash_log_writer_t* writer);

// Writes one whole report of at most the file's limit: what doesn't fit is
// left out (frames beyond what fits, threads beyond the first ones, images
// beyond the first ones, custom data that doesn't fit whole), so the report
// always decodes. LQCRASH_OUTPUT_ERR when any write failed.
lqcrash_error_t DVlqcrash_log_writer_write(lqcrash_log_writer_t* writer, thread_t crashed_thread,
                                           lqcrash_async_image_list* image_list, lqcrash_async_file_t* file,
                                           lqcrash_log_signal_info_t* siginfo,
                                           const lqcrash_async_thread_state* current_state);
lqcrash_error_t DVlqcrash_log_writer_close(lqcrash_log_writer_t* writer);
void DVlqcrash_log_writer_free(lqcrash_log_writer_t* writer);
