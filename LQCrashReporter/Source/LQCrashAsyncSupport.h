#pragma once
// The small services the crash-time code stands on: result codes and their
// texts, bounded memory and string helpers, checked reads of a task's
// memory, byte-order records and the current thread's port. Everything here
// is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "platform/machcompat/Mach.h"

typedef uint64_t pl_vm_address_t;
typedef int64_t pl_vm_off_t;
typedef uint64_t pl_vm_size_t;

typedef enum {
    LQCRASH_ESUCCESS = 0,
    LQCRASH_EUNKNOWN = 1,
    LQCRASH_OUTPUT_ERR = 2,
    LQCRASH_ENOMEM = 3,
    LQCRASH_ENOTSUP = 4,
    LQCRASH_EINVAL = 5,
    LQCRASH_EINTERNAL = 6,
    LQCRASH_EACCESS = 7,
    LQCRASH_ENOTFOUND = 8,
    LQCRASH_EINVALID_DATA = 9,
} lqcrash_error_t;

const char* lqcrash_async_strerror(lqcrash_error_t error);

// base + offset into *result; false when a positive offset wraps past the
// top or a negative one is larger than base.
bool lqcrash_async_address_apply_offset(pl_vm_address_t base, pl_vm_off_t offset, pl_vm_address_t* result);

lqcrash_error_t DVlqcrash_async_task_memcpy(task_t task, pl_vm_address_t address, pl_vm_off_t offset, void* dest,
                                            pl_vm_size_t length);

// Conversion functions between an image's byte order and the host's.
struct DVlqcrash_async_byteorder {
    uint16_t (*swap16)(uint16_t);
    uint32_t (*swap32)(uint32_t);
    uint64_t (*swap64)(uint64_t);
};
typedef DVlqcrash_async_byteorder lqcrash_async_byteorder_t;

extern const lqcrash_async_byteorder_t lqcrash_async_byteorder_direct_record;
extern const lqcrash_async_byteorder_t lqcrash_async_byteorder_swapped_record;
const lqcrash_async_byteorder_t* DVlqcrash_async_byteorder_direct();
const lqcrash_async_byteorder_t* DVlqcrash_async_byteorder_swapped();

lqcrash_error_t lqcrash_async_task_read_uint32(task_t task, const lqcrash_async_byteorder_t* byteorder,
                                               pl_vm_address_t address, pl_vm_off_t offset, uint32_t* result);
lqcrash_error_t lqcrash_async_task_read_uint64(task_t task, const lqcrash_async_byteorder_t* byteorder,
                                               pl_vm_address_t address, pl_vm_off_t offset, uint64_t* result);

int lqcrash_async_strncmp(const char* a, const char* b, size_t n);
void* lqcrash_async_memcpy(void* dest, const void* source, size_t n);
void* lqcrash_async_memset(void* dest, uint8_t value, size_t n);
size_t lqcrash_async_strlen(const char* s);

// The calling thread's port, without keeping the right that asking made.
thread_t pl_mach_thread_self();

// Formats value in decimal into buffer (at least 12 bytes with the sign);
// returns the length. Used for "#%d" texts at crash time.
size_t lqcrash_async_format_int(int32_t value, char* buffer, size_t size);
