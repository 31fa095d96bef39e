#pragma once
// The linker's compact unwind index (__TEXT,__unwind_info): lookup of the
// 32-bit encoding that covers a function, decoding it into an unwind entry
// and applying the entry to a thread state. Async-signal-safe.

#include "LQCrashReporter/Source/LQCrashAsyncMObject.h"
#include "LQCrashReporter/Source/LQCrashFrameCursor.h"

struct lqcrash_compact_unwind_header {
    uint32_t version;
    uint32_t commonEncodingsArraySectionOffset;
    uint32_t commonEncodingsArrayCount;
    uint32_t personalityArraySectionOffset;
    uint32_t personalityArrayCount;
    uint32_t indexSectionOffset;
    uint32_t indexCount;
};
static_assert(sizeof(lqcrash_compact_unwind_header) == 28);

struct lqcrash_compact_unwind_reader {
    lqcrash_async_mobject* mobj;
    int32_t cputype;
    lqcrash_compact_unwind_header header;
    const lqcrash_async_byteorder_t* byteorder;
};

enum : uint32_t {
    LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR = 1,
    LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD = 2,
    LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT = 3,
    LQCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF = 4,
    LQCRASH_ASYNC_CFE_ENTRY_TYPE_NONE = 5,
};

inline constexpr uint32_t LQCRASH_REG_INVALID = 0x7fffffff;
inline constexpr uint32_t LQCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;

struct lqcrash_compact_unwind_entry {
    uint32_t type;
    int32_t cputype;
    int64_t stack_offset;
    uint32_t stack_adjust;
    uint32_t return_address_register;
    uint32_t register_count;
    uint32_t register_list[LQCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];
};

lqcrash_error_t lqcrash_compact_unwind_reader_init(lqcrash_compact_unwind_reader* reader, lqcrash_async_mobject* mobj,
                                                   int32_t cputype);
lqcrash_error_t lqcrash_compact_unwind_reader_find_pc(lqcrash_compact_unwind_reader* reader, pl_vm_address_t pc,
                                                      pl_vm_address_t* function_base, uint32_t* encoding);
void lqcrash_compact_unwind_reader_free(lqcrash_compact_unwind_reader* reader);

lqcrash_error_t lqcrash_compact_unwind_entry_init(lqcrash_compact_unwind_entry* entry, int32_t cputype,
                                                  uint32_t encoding);
lqcrash_error_t lqcrash_compact_unwind_entry_apply(task_t task, pl_vm_address_t function_address,
                                                   const lqcrash_async_thread_state* thread_state,
                                                   const lqcrash_compact_unwind_entry* entry,
                                                   lqcrash_async_thread_state* new_thread_state);
