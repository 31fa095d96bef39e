#include "LQCrashReporter/Source/LQCrashFrameCursor.h"

lqcrash_frame_error_t lqcrash_frame_cursor_init(lqcrash_frame_cursor* cursor, task_t task,
                                                const lqcrash_async_thread_state* thread_state,
                                                lqcrash_async_image_list* image_list) {
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
    lqcrash_async_thread_state_copy(&cursor->frame, thread_state);
    lqcrash_async_memset(&cursor->prev_frame, 0, sizeof(cursor->prev_frame));
    return LQCRASH_FRAME_ESUCCESS;
}

lqcrash_frame_error_t lqcrash_frame_cursor_next_with_readers(lqcrash_frame_cursor* cursor,
                                                             const lqcrash_frame_reader readers[], size_t reader_count) {
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return LQCRASH_FRAME_ESUCCESS;
    }
    if (reader_count == 0) return LQCRASH_FRAME_EINVAL;
    const lqcrash_async_thread_state* previous = cursor->depth == 1 ? nullptr : &cursor->prev_frame;
    lqcrash_async_thread_state next;
    lqcrash_frame_error_t result = LQCRASH_FRAME_EINVAL;
    for (size_t i = 0; i < reader_count; ++i) {
        result = readers[i](cursor->task, cursor->image_list, &cursor->frame, previous, &next);
        if (result == LQCRASH_FRAME_ESUCCESS) break;
    }
    if (result != LQCRASH_FRAME_ESUCCESS) return result;
    if (!lqcrash_async_thread_state_has_reg(&next, LQCRASH_REG_IP)) return LQCRASH_FRAME_ENOFRAME;
    if (lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_IP) <= vm_page_size) return LQCRASH_FRAME_ENOFRAME;
    lqcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
    lqcrash_async_thread_state_copy(&cursor->frame, &next);
    cursor->depth++;
    return LQCRASH_FRAME_ESUCCESS;
}

lqcrash_frame_error_t lqcrash_frame_cursor_next(lqcrash_frame_cursor* cursor) {
    static const lqcrash_frame_reader readers[] = {
        lqcrash_compact_unwind_frame_reader,
        lqcrash_dwarf_frame_reader,
        lqcrash_frame_pointer_frame_reader,
    };
    return lqcrash_frame_cursor_next_with_readers(cursor, readers, sizeof(readers) / sizeof(readers[0]));
}

lqcrash_frame_error_t lqcrash_frame_cursor_get_reg(lqcrash_frame_cursor* cursor, lqcrash_regnum_t regnum,
                                                   uint64_t* reg) {
    if (!lqcrash_async_thread_state_has_reg(&cursor->frame, regnum)) return LQCRASH_FRAME_ENOTSUP;
    *reg = lqcrash_async_thread_state_get_reg(&cursor->frame, regnum);
    return LQCRASH_FRAME_ESUCCESS;
}

const char* lqcrash_frame_cursor_get_regname(lqcrash_frame_cursor* cursor, lqcrash_regnum_t regnum) {
    return lqcrash_async_thread_state_get_reg_name(&cursor->frame, regnum);
}

size_t lqcrash_frame_cursor_get_regcount(lqcrash_frame_cursor* cursor) {
    return lqcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void lqcrash_frame_cursor_free(lqcrash_frame_cursor* cursor) {
    if (cursor->task != MACH_PORT_NULL) mach_port_mod_refs(mach_task_self(), cursor->task, MACH_PORT_RIGHT_SEND, -1);
    cursor->task = MACH_PORT_NULL;
}

const char* lqcrash_frame_strerror(lqcrash_frame_error_t error) {
    switch (error) {
        case LQCRASH_FRAME_ESUCCESS: return "No error";
        case LQCRASH_FRAME_ENOFRAME: return "No frames are available";
        case LQCRASH_FRAME_EBADFRAME: return "Corrupted frame";
        case LQCRASH_FRAME_ENOTSUP: return "Operation not supported";
        case LQCRASH_FRAME_EINVAL: return "Invalid argument";
        case LQCRASH_FRAME_EINTERNAL: return "Internal error";
    }
    return "Unhandled error code";
}

lqcrash_frame_error_t lqcrash_frame_pointer_frame_reader(task_t task, lqcrash_async_image_list*,
                                                         const lqcrash_async_thread_state* current_frame,
                                                         const lqcrash_async_thread_state* previous_frame,
                                                         lqcrash_async_thread_state* next_frame) {
    if (!lqcrash_async_thread_state_has_reg(current_frame, LQCRASH_REG_FP)) return LQCRASH_FRAME_EBADFRAME;
    uint64_t fp = lqcrash_async_thread_state_get_reg(current_frame, LQCRASH_REG_FP);
    if (fp == 0) return LQCRASH_FRAME_ENOFRAME;
    uint64_t width = lqcrash_async_thread_state_get_greg_size(current_frame);
    // The record must lie where the walk has not been yet: at or beyond the
    // frame's stack pointer, or, after a step along the chain (which leaves
    // none), beyond the record that step read. A chain that stands still or
    // turns back (code without frame pointers leaves anything in the
    // register, a self-referencing structure too) would repeat forever. The
    // previous frame's own frame pointer is no measure: a function without
    // a frame record leaves it to its caller unchanged.
    bool down = lqcrash_async_thread_state_get_stackgrowth(current_frame) == LQCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
    bool known = true;
    uint64_t stand = 0;
    if (lqcrash_async_thread_state_has_reg(current_frame, LQCRASH_REG_SP)) {
        stand = lqcrash_async_thread_state_get_reg(current_frame, LQCRASH_REG_SP);
    } else if (previous_frame && lqcrash_async_thread_state_has_reg(previous_frame, LQCRASH_REG_FP)) {
        uint64_t previousFp = lqcrash_async_thread_state_get_reg(previous_frame, LQCRASH_REG_FP);
        if (down ? __builtin_add_overflow(previousFp, 2 * width, &stand)
                 : __builtin_sub_overflow(previousFp, 2 * width, &stand)) {
            return LQCRASH_FRAME_EBADFRAME;
        }
    } else {
        known = false;
    }
    if (known && (down ? fp < stand : fp > stand)) return LQCRASH_FRAME_EBADFRAME;
    uint64_t words[2] = {0, 0};
    if (width == 4) {
        uint32_t small[2];
        if (DVlqcrash_async_task_memcpy(task, fp, 0, small, sizeof(small)) != LQCRASH_ESUCCESS) {
            return LQCRASH_FRAME_EBADFRAME;
        }
        words[0] = small[0];
        words[1] = small[1];
    } else if (DVlqcrash_async_task_memcpy(task, fp, 0, words, sizeof(words)) != LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_EBADFRAME;
    }
    // A record that names itself as its caller's is no frame record.
    if (words[0] == fp) return LQCRASH_FRAME_EBADFRAME;
    lqcrash_async_thread_state_copy(next_frame, current_frame);
    lqcrash_async_thread_state_clear_all_regs(next_frame);
    lqcrash_async_thread_state_set_reg(next_frame, LQCRASH_REG_FP, words[0]);
    lqcrash_async_thread_state_set_reg(next_frame, LQCRASH_REG_IP, words[1]);
    return LQCRASH_FRAME_ESUCCESS;
}
