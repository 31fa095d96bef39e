#pragma once
// The loaded images of a task, kept up to date by the dynamic loader's
// callbacks and read at crash time without locks (see LQCrashAsyncList.h).

#include "LQCrashReporter/Source/LQCrashAsyncList.h"
#include "LQCrashReporter/Source/LQCrashAsyncMachO.h"

struct lqcrash_async_image_list {
    task_t task;
    lqcrash::DV::async::async_list<lqcrash_async_macho*> list;
};

// Not async-signal-safe.
void lqcrash_image_list_init(lqcrash_async_image_list* list, task_t task);
void lqcrash_image_list_free(lqcrash_async_image_list* list);
lqcrash_error_t lqcrash_async_image_list_append(lqcrash_async_image_list* list, pl_vm_address_t header,
                                                const char* name);
void lqcrash_async_image_list_remove(lqcrash_async_image_list* list, pl_vm_address_t header);

// Async-signal-safe; bracket lookups and walks with set_reading.
void lqcrash_async_image_list_set_reading(lqcrash_async_image_list* list, bool enable);
lqcrash_async_macho* lqcrash_image_list_image_for_address(lqcrash_async_image_list* list, pl_vm_address_t address);
lqcrash_async_macho* lqcrash_async_image_list_next(lqcrash_async_image_list* list, lqcrash_async_macho* current);
