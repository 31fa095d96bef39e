#pragma once
// A read-only local mapping of a range of a task's memory, with bounds-
// checked access. Async-signal-safe: the pages come from the kernel, never
// from the heap.

#include <cstddef>
#include <cstdint>

#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"

struct lqcrash_async_mobject {
    task_t task;
    uintptr_t address;              // local address of task_address
    pl_vm_address_t task_address;   // the requested task address
    pl_vm_size_t length;            // usable bytes from task_address
    pl_vm_off_t vm_slide;           // task_address - address
    uintptr_t vm_address;           // the page-aligned local mapping
    pl_vm_size_t vm_length;
};

lqcrash_error_t lqcrash_async_mobject_init(lqcrash_async_mobject* mobj, task_t task, pl_vm_address_t task_addr,
                                           pl_vm_size_t length, bool require_full);
// The same over a copy of the range in the caller's buffer (at most
// buffer_size bytes): one read and no mapping, for small records read often.
// Free releases nothing.
lqcrash_error_t lqcrash_async_mobject_init_copy(lqcrash_async_mobject* mobj, task_t task, pl_vm_address_t task_addr,
                                                pl_vm_size_t length, void* buffer, size_t buffer_size);
void* lqcrash_async_mobject_remap_address(lqcrash_async_mobject* mobj, pl_vm_address_t address, pl_vm_off_t offset,
                                          size_t length);
bool lqcrash_async_mobject_verify_local_pointer(lqcrash_async_mobject* mobj, uintptr_t local, pl_vm_off_t offset,
                                                size_t length);
lqcrash_error_t lqcrash_async_mobject_read_uint8(lqcrash_async_mobject* mobj, pl_vm_address_t address,
                                                 pl_vm_off_t offset, uint8_t* result);
lqcrash_error_t lqcrash_async_mobject_read_uint16(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t address, pl_vm_off_t offset, uint16_t* result);
lqcrash_error_t lqcrash_async_mobject_read_uint32(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t address, pl_vm_off_t offset, uint32_t* result);
lqcrash_error_t lqcrash_async_mobject_read_uint64(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t address, pl_vm_off_t offset, uint64_t* result);
pl_vm_address_t lqcrash_async_mobject_base_address(lqcrash_async_mobject* mobj);
pl_vm_size_t lqcrash_async_mobject_length(lqcrash_async_mobject* mobj);
task_t lqcrash_async_mobject_task(lqcrash_async_mobject* mobj);
void lqcrash_async_mobject_free(lqcrash_async_mobject* mobj);
