// The crash-time support layer: result texts, bounded helpers, task reads,
// memory objects, the async list, thread states and the frame cursor.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "LQCrashReporter/Source/LQCrashAsyncList.h"
#include "LQCrashReporter/Source/LQCrashAsyncMObject.h"
#include "LQCrashReporter/Source/LQCrashFrameCursor.h"
#include "LQCrashReporter/Source/LQCrashSysctl.h"
#include "platform/machcompat/Mach.h"

namespace {

TEST(LQCrashAsyncSupport, ErrorTextsAndOffsets) {
    EXPECT_STREQ("No error", lqcrash_async_strerror(LQCRASH_ESUCCESS));
    EXPECT_STREQ("The input data is in an unknown or invalid format.", lqcrash_async_strerror(LQCRASH_EINVALID_DATA));
    EXPECT_STREQ("Unhandled error code", lqcrash_async_strerror(static_cast<lqcrash_error_t>(10)));

    pl_vm_address_t r = 0;
    EXPECT_FALSE(lqcrash_async_address_apply_offset(3, -5, &r));
    EXPECT_FALSE(lqcrash_async_address_apply_offset(~0ull, 1, &r));
    EXPECT_TRUE(lqcrash_async_address_apply_offset(~0ull, 0, &r));
    EXPECT_EQ(~0ull, r);
    EXPECT_TRUE(lqcrash_async_address_apply_offset(10, -10, &r));
    EXPECT_EQ(0u, r);
    EXPECT_TRUE(lqcrash_async_address_apply_offset(5, INT64_MIN + 1, nullptr) == false);

    EXPECT_EQ(0, lqcrash_async_strncmp("abc", "abd", 2));
    EXPECT_LT(lqcrash_async_strncmp("abc", "abd", 3), 0);
    EXPECT_EQ(0, lqcrash_async_strncmp("ab", "ab\0x", 4));
    char buf[16];
    EXPECT_EQ(11u, lqcrash_async_format_int(INT32_MIN, buf, sizeof(buf)));
    EXPECT_STREQ("-2147483648", buf);
}

TEST(LQCrashAsyncSupport, TaskReadsMapKernelResults) {
    task_t task = mach::fakeTaskCreate();
    uint32_t word = 0x11223344;
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x5000, &word, sizeof(word)));
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x9000, &word, sizeof(word), VM_PROT_NONE));
    uint32_t out = 0;
    EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_async_task_read_uint32(task, DVlqcrash_async_byteorder_swapped(), 0x5000, 0, &out));
    EXPECT_EQ(0x44332211u, out);
    EXPECT_EQ(LQCRASH_ENOTFOUND, DVlqcrash_async_task_memcpy(task, 0x7000, 0, &out, 4));
    EXPECT_EQ(LQCRASH_EACCESS, DVlqcrash_async_task_memcpy(task, 0x9000, 0, &out, 4));
    EXPECT_EQ(LQCRASH_ENOMEM, DVlqcrash_async_task_memcpy(task, 2, -3, &out, 4));
    mach::fakeTaskDestroy(task);
}

TEST(LQCrashAsyncSupport, Utf8PrefixStopsBeforeAnIncompleteSequence) {
    // 15 ASCII bytes then the lead byte of a 3-byte sequence at the 16th.
    uint8_t name[18] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 0xE2, 0x82, 0xAC};
    EXPECT_EQ(15u, lqcrash_utf8_prefix_length(name, 16));
    EXPECT_EQ(18u, lqcrash_utf8_prefix_length(name, 18));
    const uint8_t bom[] = {0xEF, 0xBB, 0xBF, 'x', 0xFF};
    EXPECT_EQ(4u, lqcrash_utf8_prefix_length(bom, 5));
    const uint8_t bad[] = {'a', 0xC3, 'b'};
    EXPECT_EQ(1u, lqcrash_utf8_prefix_length(bad, 3));
}

TEST(LQCrashMemoryObject, MapsWhatIsReadableUnlessTheWholeRangeIsRequired) {
    size_t page = vm_page_size;
    task_t task = mach::fakeTaskCreate();
    std::vector<uint8_t> bytes(page, 0x5A);
    bytes[10] = 0x01;
    bytes[11] = 0x02;
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x100000, bytes.data(), bytes.size()));
    lqcrash_async_mobject mobj;
    EXPECT_EQ(LQCRASH_ENOMEM, lqcrash_async_mobject_init(&mobj, task, 0x100008, 2 * page, true));
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_mobject_init(&mobj, task, 0x100008, 2 * page, false));
    EXPECT_EQ(page - 8, lqcrash_async_mobject_length(&mobj));
    EXPECT_EQ(1, mach::fakeTaskExtraRights(task));
    uint16_t v = 0;
    EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_async_mobject_read_uint16(&mobj, DVlqcrash_async_byteorder_direct(), 0x100008, 2, &v));
    EXPECT_EQ(0x0201, v);
    EXPECT_EQ(nullptr, lqcrash_async_mobject_remap_address(&mobj, 0x100000, 0, 4));            // before the start
    EXPECT_EQ(nullptr, lqcrash_async_mobject_remap_address(&mobj, 0x100008, page - 9, 2));      // past the end
    EXPECT_NE(nullptr, lqcrash_async_mobject_remap_address(&mobj, 0x100008, page - 10, 2));
    EXPECT_EQ(nullptr, lqcrash_async_mobject_remap_address(&mobj, ~0ull, 2, 2));                // wraps
    uint8_t b;
    EXPECT_EQ(LQCRASH_EINVAL, lqcrash_async_mobject_read_uint8(&mobj, 0x100008, static_cast<pl_vm_off_t>(page), &b));
    lqcrash_async_mobject_free(&mobj);
    EXPECT_EQ(0, mach::fakeTaskExtraRights(task));
    mach::fakeTaskDestroy(task);
}

TEST(LQCrashAsyncList, RemovedNodesWaitOnTheFreeListWhileReadersRemain) {
    lqcrash::DV::async::async_list<int> list;
    list.nasync_append(1);
    list.nasync_append(2);
    list.nasync_prepend(0);
    std::vector<int> seen;
    for (auto* n = list.next(nullptr); n; n = n->next()) seen.push_back(n->value());
    EXPECT_EQ((std::vector<int>{0, 1, 2}), seen);

    list.set_reading(true);
    auto* one = list.next(list.next(nullptr));
    list.nasync_remove_node(one);
    EXPECT_EQ(one, list.free_list());  // parked, a reader may still stand on it
    list.set_reading(false);
    list.nasync_append(3);  // reuses the parked node
    EXPECT_EQ(nullptr, list.free_list());
    seen.clear();
    for (auto* n = list.next(nullptr); n; n = n->next()) seen.push_back(n->value());
    EXPECT_EQ((std::vector<int>{0, 2, 3}), seen);

    EXPECT_TRUE(list.nasync_remove_first_value(0));  // no reader: freed at once
    EXPECT_EQ(nullptr, list.free_list());
    EXPECT_FALSE(list.nasync_remove_first_value(42));

    // A reader standing on a node removed after another one walks on into
    // the list, never into the free list, and nothing parked is reused
    // under it.
    list.nasync_append(5);
    list.set_reading(true);
    auto* two = list.next(nullptr);
    list.nasync_remove_node(two->next());  // 3 is parked first
    list.nasync_remove_node(two);
    list.nasync_append(4);
    seen.clear();
    for (auto* n = two; n; n = n->next()) seen.push_back(n->value());
    list.set_reading(false);
    EXPECT_EQ((std::vector<int>{2, 5, 4}), seen);
}

lqcrash_async_thread_state state64() {
    darwin_mcontext64_t mc;
    std::memset(&mc, 0, sizeof(mc));
    for (int i = 0; i < 29; ++i) mc.ss.x[i] = 0xAB00000000000000ull + i;
    mc.ss.fp = 0x7000;
    mc.ss.sp = 0x6000;
    mc.ss.lr = 0x123;
    mc.ss.pc = 0xFF00001234567890ull;  // authentication bits above the address
    lqcrash_async_thread_state s;
    lqcrash_async_thread_state_mcontext_init(&s, &mc);
    return s;
}

TEST(LQCrashThreadState, RegistersNamesAndMasks) {
    lqcrash_async_thread_state s = state64();
    EXPECT_EQ(34u, lqcrash_async_thread_state_get_reg_count(&s));
    EXPECT_EQ(8u, lqcrash_async_thread_state_get_greg_size(&s));
    EXPECT_EQ(0x1234567890ull, lqcrash_async_thread_state_get_reg(&s, LQCRASH_REG_IP));
    EXPECT_EQ(0xAB00000000000000ull, lqcrash_async_thread_state_get_reg(&s, LQCRASH_ARM64_X0));
    EXPECT_STREQ("x28", lqcrash_async_thread_state_get_reg_name(&s, LQCRASH_ARM64_X28));
    EXPECT_STREQ("cpsr", lqcrash_async_thread_state_get_reg_name(&s, LQCRASH_ARM64_CPSR));
    lqcrash_async_thread_state_clear_volatile_regs(&s);
    EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&s, LQCRASH_REG_IP));
    EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&s, LQCRASH_ARM64_LR));
    EXPECT_TRUE(lqcrash_async_thread_state_has_reg(&s, LQCRASH_REG_FP));
    EXPECT_TRUE(lqcrash_async_thread_state_has_reg(&s, LQCRASH_ARM64_X19));
    EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&s, LQCRASH_ARM64_X19 - 1));
    lqcrash_regnum_t r;
    EXPECT_TRUE(lqcrash_async_thread_state_map_dwarf_to_reg(&s, 30, &r));
    EXPECT_EQ(LQCRASH_ARM64_LR, r);
    EXPECT_TRUE(lqcrash_async_thread_state_map_dwarf_to_reg(&s, 31, &r));
    EXPECT_EQ(LQCRASH_REG_SP, r);
    EXPECT_FALSE(lqcrash_async_thread_state_map_dwarf_to_reg(&s, 32, &r));

    lqcrash_async_thread_state s32;
    std::memset(&s32, 0, sizeof(s32));
    s32.arm_state.ash.flavor = ARM_THREAD_STATE32;
    s32.greg_size = 4;
    lqcrash_async_thread_state_set_reg(&s32, LQCRASH_REG_FP, 0x1122334455ull);
    EXPECT_EQ(0x22334455u, lqcrash_async_thread_state_get_reg(&s32, LQCRASH_REG_FP));
    EXPECT_STREQ("r7", lqcrash_async_thread_state_get_reg_name(&s32, LQCRASH_REG_FP));
    EXPECT_EQ(17u, lqcrash_async_thread_state_get_reg_count(&s32));
    EXPECT_TRUE(lqcrash_async_thread_state_map_dwarf_to_reg(&s32, 15, &r));
    EXPECT_EQ(LQCRASH_REG_IP, r);
    lqcrash_async_thread_state_set_reg(&s32, LQCRASH_ARM_R8 + 1, 9);  // r9 is not callee-saved
    lqcrash_async_thread_state_set_reg(&s32, LQCRASH_ARM_R8 + 2, 10);
    lqcrash_async_thread_state_clear_volatile_regs(&s32);
    EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&s32, LQCRASH_ARM_R8 + 1));
    EXPECT_TRUE(lqcrash_async_thread_state_has_reg(&s32, LQCRASH_ARM_R8 + 2));
}

// Readers scripted by the tests.
lqcrash_frame_error_t g_nextResult;
uint64_t g_nextPc;
int g_readerCalls;

lqcrash_frame_error_t scripted(task_t, lqcrash_async_image_list*, const lqcrash_async_thread_state* current,
                               const lqcrash_async_thread_state*, lqcrash_async_thread_state* next) {
    ++g_readerCalls;
    if (g_nextResult != LQCRASH_FRAME_ESUCCESS) return g_nextResult;
    lqcrash_async_thread_state_copy(next, current);
    lqcrash_async_thread_state_clear_all_regs(next);
    lqcrash_async_thread_state_set_reg(next, LQCRASH_REG_IP, g_nextPc);
    return LQCRASH_FRAME_ESUCCESS;
}

lqcrash_frame_error_t failsWith5(task_t, lqcrash_async_image_list*, const lqcrash_async_thread_state*,
                                 const lqcrash_async_thread_state*, lqcrash_async_thread_state*) {
    ++g_readerCalls;
    return LQCRASH_FRAME_EINVAL;
}

TEST(LQCrashFrameCursor, FirstStepNeedsNoReaderAndLowPcsEndTheWalk) {
    lqcrash_async_thread_state s = state64();
    lqcrash_async_thread_state_set_reg(&s, LQCRASH_REG_IP, 0);
    lqcrash_async_image_list images;
    images.task = mach_task_self();
    lqcrash_frame_cursor cursor;
    lqcrash_frame_cursor_init(&cursor, mach_task_self(), &s, &images);
    const lqcrash_frame_reader readers[] = {scripted};
    g_readerCalls = 0;
    EXPECT_EQ(LQCRASH_FRAME_ESUCCESS, lqcrash_frame_cursor_next_with_readers(&cursor, readers, 1));
    EXPECT_EQ(0, g_readerCalls);
    EXPECT_EQ(LQCRASH_FRAME_EINVAL, lqcrash_frame_cursor_next_with_readers(&cursor, readers, 0));

    g_nextResult = LQCRASH_FRAME_ESUCCESS;
    for (uint64_t pc : {uint64_t{0}, uint64_t{1}, static_cast<uint64_t>(vm_page_size)}) {
        g_nextPc = pc;
        EXPECT_EQ(LQCRASH_FRAME_ENOFRAME, lqcrash_frame_cursor_next_with_readers(&cursor, readers, 1)) << pc;
    }
    g_nextPc = vm_page_size + 1;
    EXPECT_EQ(LQCRASH_FRAME_ESUCCESS, lqcrash_frame_cursor_next_with_readers(&cursor, readers, 1));
    uint64_t value = 0;
    EXPECT_EQ(LQCRASH_FRAME_ENOTSUP, lqcrash_frame_cursor_get_reg(&cursor, LQCRASH_ARM64_X0, &value));
    EXPECT_EQ(LQCRASH_FRAME_ESUCCESS, lqcrash_frame_cursor_get_reg(&cursor, LQCRASH_REG_IP, &value));
    EXPECT_EQ(vm_page_size + 1, value);
    lqcrash_frame_cursor_free(&cursor);
}

TEST(LQCrashFrameCursor, WhenEveryReaderFailsTheLastResultIsReturned) {
    lqcrash_async_thread_state s = state64();
    lqcrash_async_thread_state_set_reg(&s, LQCRASH_REG_FP, 0);
    lqcrash_async_image_list images;
    images.task = mach_task_self();
    lqcrash_frame_cursor cursor;
    lqcrash_frame_cursor_init(&cursor, mach_task_self(), &s, &images);
    lqcrash_frame_cursor_next(&cursor);
    const lqcrash_frame_reader readers[] = {failsWith5, lqcrash_frame_pointer_frame_reader};
    EXPECT_EQ(LQCRASH_FRAME_ENOFRAME, lqcrash_frame_cursor_next_with_readers(&cursor, readers, 2));
    lqcrash_frame_cursor_free(&cursor);
}

struct FramePointerCase {
    const char* name;
    uint32_t growth;
    uint64_t previousFp;  // 0: no previous frame
    uint64_t fp;
    lqcrash_frame_error_t result;
    uint64_t callerFp;
    uint64_t callerPc;
    uint64_t sp = 0;  // 0: unknown, as after a step along the chain
};

TEST(LQCrashFrameCursor, FramePointerChainMustMoveOutward) {
    // Frame records at 0x8000 -> 0x8100 -> 0x8200, and one at 0x8300 that
    // names itself (as a self-referencing structure under a register that
    // holds no frame pointer does).
    task_t task = mach::fakeTaskCreate();
    uint64_t stack[0x80] = {};
    stack[0x00] = 0x8100, stack[0x01] = 0x40001000;
    stack[0x20] = 0x8200, stack[0x21] = 0x40002000;
    stack[0x60] = 0x8300, stack[0x61] = 0x40004000;
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x8000, stack, sizeof(stack)));
    lqcrash_async_image_list images;
    images.task = task;
    constexpr uint32_t kDown = LQCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN, kUp = LQCRASH_ASYNC_THREAD_STACK_DIRECTION_UP;
    const FramePointerCase cases[] = {
        {"chain end", kDown, 0, 0, LQCRASH_FRAME_ENOFRAME, 0, 0},
        {"first step", kDown, 0, 0x8000, LQCRASH_FRAME_ESUCCESS, 0x8100, 0x40001000},
        {"record at the stack pointer", kDown, 0, 0x8000, LQCRASH_FRAME_ESUCCESS, 0x8100, 0x40001000, 0x8000},
        {"record below the stack pointer", kDown, 0, 0x8000, LQCRASH_FRAME_EBADFRAME, 0, 0, 0x8008},
        // A callee without a frame record left the frame pointer as it was.
        {"frameless callee", kDown, 0x8000, 0x8000, LQCRASH_FRAME_ESUCCESS, 0x8100, 0x40001000, 0x7FF0},
        {"moves outward", kDown, 0x8000, 0x8100, LQCRASH_FRAME_ESUCCESS, 0x8200, 0x40002000},
        {"stands still", kDown, 0x8100, 0x8100, LQCRASH_FRAME_EBADFRAME, 0, 0},
        {"inside the record read", kDown, 0x8100, 0x8108, LQCRASH_FRAME_EBADFRAME, 0, 0},
        {"moves inward", kDown, 0x8100, 0x8000, LQCRASH_FRAME_EBADFRAME, 0, 0},
        {"upward stack moving up", kUp, 0x8000, 0x8100, LQCRASH_FRAME_EBADFRAME, 0, 0},
        {"upward stack standing still", kUp, 0x8100, 0x8100, LQCRASH_FRAME_EBADFRAME, 0, 0},
        {"upward stack moving down", kUp, 0x8100, 0x8000, LQCRASH_FRAME_ESUCCESS, 0x8100, 0x40001000},
        {"record names itself", kDown, 0x8000, 0x8300, LQCRASH_FRAME_EBADFRAME, 0, 0},
        {"unreadable record", kDown, 0x8000, 0x9000, LQCRASH_FRAME_EBADFRAME, 0, 0},
    };
    for (const FramePointerCase& c : cases) {
        lqcrash_async_thread_state prev = state64(), cur = state64(), next;
        prev.stack_direction = cur.stack_direction = c.growth;
        lqcrash_async_thread_state_set_reg(&prev, LQCRASH_REG_FP, c.previousFp);
        lqcrash_async_thread_state_set_reg(&cur, LQCRASH_REG_FP, c.fp);
        if (c.sp) lqcrash_async_thread_state_set_reg(&cur, LQCRASH_REG_SP, c.sp);
        if (!c.sp) lqcrash_async_thread_state_clear_reg(&cur, LQCRASH_REG_SP);
        ASSERT_EQ(c.result,
                  lqcrash_frame_pointer_frame_reader(task, &images, &cur, c.previousFp ? &prev : nullptr, &next))
            << c.name;
        if (c.result != LQCRASH_FRAME_ESUCCESS) continue;
        EXPECT_EQ(c.callerFp, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_FP)) << c.name;
        EXPECT_EQ(c.callerPc, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_IP)) << c.name;
        EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&next, LQCRASH_REG_SP)) << c.name;
    }

    // A walk into the self-naming record ends there instead of repeating it
    // up to the frame limit.
    mach::fakeTaskDestroy(task);
    task = mach::fakeTaskCreate();
    images.task = task;
    stack[0x21] = 0x40003000, stack[0x20] = 0x8300;
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x8000, stack, sizeof(stack)));
    lqcrash_async_thread_state s = state64();
    lqcrash_async_thread_state_set_reg(&s, LQCRASH_REG_FP, 0x8000);
    lqcrash_frame_cursor cursor;
    lqcrash_frame_cursor_init(&cursor, task, &s, &images);
    const lqcrash_frame_reader readers[] = {lqcrash_frame_pointer_frame_reader};
    std::vector<uint64_t> pcs;
    while (pcs.size() < 600 && lqcrash_frame_cursor_next_with_readers(&cursor, readers, 1) == LQCRASH_FRAME_ESUCCESS) {
        uint64_t pc = 0;
        lqcrash_frame_cursor_get_reg(&cursor, LQCRASH_REG_IP, &pc);
        pcs.push_back(pc);
    }
    EXPECT_EQ((std::vector<uint64_t>{0x1234567890, 0x40001000, 0x40003000}), pcs);
    lqcrash_frame_cursor_free(&cursor);
    mach::fakeTaskDestroy(task);
}

}  // namespace
