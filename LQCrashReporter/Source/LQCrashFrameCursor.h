#pragma once
// Walks a thread's stack from the innermost frame outward by asking frame
// readers, in order, for the caller's registers.

#include "LQCrashReporter/Source/LQCrashAsyncImageList.h"
#include "LQCrashReporter/Source/LQCrashAsyncThreadState.h"

typedef enum {
    LQCRASH_FRAME_ESUCCESS = 0,
    LQCRASH_FRAME_ENOFRAME = 2,
    LQCRASH_FRAME_EBADFRAME = 3,
    LQCRASH_FRAME_ENOTSUP = 4,
    LQCRASH_FRAME_EINVAL = 5,
    LQCRASH_FRAME_EINTERNAL = 6,
} lqcrash_frame_error_t;

struct lqcrash_frame_cursor {
    task_t task;
    lqcrash_async_image_list* image_list;
    uint32_t depth;
    lqcrash_async_thread_state prev_frame;
    lqcrash_async_thread_state frame;
};

typedef lqcrash_frame_error_t (*lqcrash_frame_reader)(task_t task, lqcrash_async_image_list* image_list,
                                                      const lqcrash_async_thread_state* current_frame,
                                                      const lqcrash_async_thread_state* previous_frame,
                                                      lqcrash_async_thread_state* next_frame);

lqcrash_frame_error_t lqcrash_frame_cursor_init(lqcrash_frame_cursor* cursor, task_t task,
                                                const lqcrash_async_thread_state* thread_state,
                                                lqcrash_async_image_list* image_list);
lqcrash_frame_error_t lqcrash_frame_cursor_next(lqcrash_frame_cursor* cursor);
lqcrash_frame_error_t lqcrash_frame_cursor_next_with_readers(lqcrash_frame_cursor* cursor,
                                                             const lqcrash_frame_reader readers[], size_t reader_count);
lqcrash_frame_error_t lqcrash_frame_cursor_get_reg(lqcrash_frame_cursor* cursor, lqcrash_regnum_t regnum,
                                                   uint64_t* reg);
const char* lqcrash_frame_cursor_get_regname(lqcrash_frame_cursor* cursor, lqcrash_regnum_t regnum);
size_t lqcrash_frame_cursor_get_regcount(lqcrash_frame_cursor* cursor);
void lqcrash_frame_cursor_free(lqcrash_frame_cursor* cursor);
const char* lqcrash_frame_strerror(lqcrash_frame_error_t error);

lqcrash_frame_error_t lqcrash_frame_pointer_frame_reader(task_t task, lqcrash_async_image_list* image_list,
                                                         const lqcrash_async_thread_state* current_frame,
                                                         const lqcrash_async_thread_state* previous_frame,
                                                         lqcrash_async_thread_state* next_frame);
// Defined with their unwinders.
lqcrash_frame_error_t lqcrash_compact_unwind_frame_reader(task_t task, lqcrash_async_image_list* image_list,
                                                          const lqcrash_async_thread_state* current_frame,
                                                          const lqcrash_async_thread_state* previous_frame,
                                                          lqcrash_async_thread_state* next_frame);
lqcrash_frame_error_t lqcrash_dwarf_frame_reader(task_t task, lqcrash_async_image_list* image_list,
                                                 const lqcrash_async_thread_state* current_frame,
                                                 const lqcrash_async_thread_state* previous_frame,
                                                 lqcrash_async_thread_state* next_frame);
