#pragma once
// The DWARF expression stack machine used by call-frame rules. Templated over
// the image's address width; the stack (100 words) lives on the caller's
// stack. Async-signal-safe.

#include "LQCrashReporter/Source/LQCrashAsyncThreadState.h"
#include "LQCrashReporter/Source/LQCrashDwarfEncoding.h"

template <typename machine_ptr, typename machine_ptr_s>
lqcrash_error_t lqcrash_async_dwarf_expression_eval(lqcrash_async_mobject* mobj, task_t task,
                                                    const lqcrash_async_thread_state* thread_state,
                                                    const lqcrash_async_byteorder_t* byteorder,
                                                    pl_vm_address_t address, pl_vm_off_t offset, pl_vm_size_t length,
                                                    const machine_ptr initial_state[], size_t initial_count,
                                                    machine_ptr* result);
