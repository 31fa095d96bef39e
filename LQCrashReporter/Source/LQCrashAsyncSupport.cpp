#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"

namespace {

uint16_t direct16(uint16_t v) { return v; }
uint32_t direct32(uint32_t v) { return v; }
uint64_t direct64(uint64_t v) { return v; }
uint16_t swapped16(uint16_t v) { return __builtin_bswap16(v); }
uint32_t swapped32(uint32_t v) { return __builtin_bswap32(v); }
uint64_t swapped64(uint64_t v) { return __builtin_bswap64(v); }

}  // namespace

const lqcrash_async_byteorder_t lqcrash_async_byteorder_direct_record = {direct16, direct32, direct64};
const lqcrash_async_byteorder_t lqcrash_async_byteorder_swapped_record = {swapped16, swapped32, swapped64};

const lqcrash_async_byteorder_t* DVlqcrash_async_byteorder_direct() { return &lqcrash_async_byteorder_direct_record; }
const lqcrash_async_byteorder_t* DVlqcrash_async_byteorder_swapped() { return &lqcrash_async_byteorder_swapped_record; }

const char* lqcrash_async_strerror(lqcrash_error_t error) {
    switch (error) {
        case LQCRASH_ESUCCESS: return "No error";
        case LQCRASH_EUNKNOWN: return "Unknown error";
        case LQCRASH_OUTPUT_ERR: return "Output file can not be opened (or written to)";
        case LQCRASH_ENOMEM: return "No memory available";
        case LQCRASH_ENOTSUP: return "Operation not supported";
        case LQCRASH_EINVAL: return "Invalid argument";
        case LQCRASH_EINTERNAL: return "Internal error";
        case LQCRASH_EACCESS: return "Access denied";
        case LQCRASH_ENOTFOUND: return "Not found";
        case LQCRASH_EINVALID_DATA: return "The input data is in an unknown or invalid format.";
    }
    return "Unhandled error code";
}

bool lqcrash_async_address_apply_offset(pl_vm_address_t base, pl_vm_off_t offset, pl_vm_address_t* result) {
    pl_vm_address_t sum;
    if (offset >= 0) {
        if (__builtin_add_overflow(base, static_cast<pl_vm_address_t>(offset), &sum)) return false;
    } else {
        // -offset without overflowing for the smallest value.
        pl_vm_address_t magnitude = static_cast<pl_vm_address_t>(-(offset + 1)) + 1;
        if (magnitude > base) return false;
        sum = base - magnitude;
    }
    if (result) *result = sum;
    return true;
}

lqcrash_error_t DVlqcrash_async_task_memcpy(task_t task, pl_vm_address_t address, pl_vm_off_t offset, void* dest,
                                            pl_vm_size_t length) {
    pl_vm_address_t target;
    if (!lqcrash_async_address_apply_offset(address, offset, &target)) return LQCRASH_ENOMEM;
    mach_vm_size_t read = 0;
    kern_return_t kr = mach_vm_read_overwrite(task, target, length, reinterpret_cast<uintptr_t>(dest), &read);
    switch (kr) {
        case KERN_SUCCESS: return LQCRASH_ESUCCESS;
        case KERN_INVALID_ADDRESS: return LQCRASH_ENOTFOUND;
        case KERN_PROTECTION_FAILURE: return LQCRASH_EACCESS;
        default: return LQCRASH_EUNKNOWN;
    }
}

lqcrash_error_t lqcrash_async_task_read_uint32(task_t task, const lqcrash_async_byteorder_t* byteorder,
                                               pl_vm_address_t address, pl_vm_off_t offset, uint32_t* result) {
    lqcrash_error_t err = DVlqcrash_async_task_memcpy(task, address, offset, result, sizeof(*result));
    *result = byteorder->swap32(*result);
    return err;
}

lqcrash_error_t lqcrash_async_task_read_uint64(task_t task, const lqcrash_async_byteorder_t* byteorder,
                                               pl_vm_address_t address, pl_vm_off_t offset, uint64_t* result) {
    lqcrash_error_t err = DVlqcrash_async_task_memcpy(task, address, offset, result, sizeof(*result));
    *result = byteorder->swap64(*result);
    return err;
}

int lqcrash_async_strncmp(const char* a, const char* b, size_t n) {
    while (n-- > 0) {
        unsigned char ca = static_cast<unsigned char>(*a++);
        unsigned char cb = static_cast<unsigned char>(*b++);
        if (ca != cb) return ca - cb;
        if (ca == '\0') return 0;
    }
    return 0;
}

void* lqcrash_async_memcpy(void* dest, const void* source, size_t n) {
    volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
    const uint8_t* s = static_cast<const uint8_t*>(source);
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
    return dest;
}

void* lqcrash_async_memset(void* dest, uint8_t value, size_t n) {
    volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
    for (size_t i = 0; i < n; ++i) d[i] = value;
    return dest;
}

size_t lqcrash_async_strlen(const char* s) {
    size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

thread_t pl_mach_thread_self() {
    thread_t self = mach_thread_self();
    mach_port_deallocate(mach_task_self(), self);
    return self;
}

size_t lqcrash_async_format_int(int32_t value, char* buffer, size_t size) {
    char digits[12];
    size_t n = 0;
    int64_t v = value;
    bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0 && n < sizeof(digits));
    size_t length = 0;
    if (negative && length + 1 < size) buffer[length++] = '-';
    while (n > 0 && length + 1 < size) buffer[length++] = digits[--n];
    if (size > 0) buffer[length] = '\0';
    return length;
}
