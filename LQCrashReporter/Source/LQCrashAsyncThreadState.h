#pragma once
// One thread's registers in the engine's architecture-neutral numbering,
// with a mask of the registers whose values are known.

#include <cstdint>

#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"
#include "platform/machcompat/MachThread.h"

typedef uint32_t lqcrash_regnum_t;

// Numbers shared by every architecture.
enum : lqcrash_regnum_t {
    LQCRASH_REG_IP = 0,
    LQCRASH_REG_FP = 1,
    LQCRASH_REG_SP = 2,
};

// 64-bit ARM.
enum : lqcrash_regnum_t {
    LQCRASH_ARM64_X0 = 3,
    LQCRASH_ARM64_X19 = 22,
    LQCRASH_ARM64_X28 = 31,
    LQCRASH_ARM64_LR = 32,
    LQCRASH_ARM64_CPSR = 33,
    LQCRASH_ARM64_REG_COUNT = 34,
};

// 32-bit ARM.
enum : lqcrash_regnum_t {
    LQCRASH_ARM_R0 = 3,
    LQCRASH_ARM_R6 = 9,
    LQCRASH_ARM_R8 = 10,
    LQCRASH_ARM_R12 = 14,
    LQCRASH_ARM_LR = 15,
    LQCRASH_ARM_CPSR = 16,
    LQCRASH_ARM_REG_COUNT = 17,
};

// 64-bit x86: the numbers the compact-unwind encodings of x86-64 images name.
enum : lqcrash_regnum_t {
    LQCRASH_X86_64_RAX = 3,
    LQCRASH_X86_64_RBX = 4,
    LQCRASH_X86_64_RCX = 5,
    LQCRASH_X86_64_RDX = 6,
    LQCRASH_X86_64_RDI = 7,
    LQCRASH_X86_64_RSI = 8,
    LQCRASH_X86_64_R8 = 9,
    LQCRASH_X86_64_R12 = 13,
    LQCRASH_X86_64_R13 = 14,
    LQCRASH_X86_64_R14 = 15,
    LQCRASH_X86_64_R15 = 16,
    LQCRASH_X86_64_RFLAGS = 17,
    LQCRASH_X86_64_CS = 18,
    LQCRASH_X86_64_FS = 19,
    LQCRASH_X86_64_GS = 20,
    LQCRASH_X86_64_REG_COUNT = 21,
};

enum : uint32_t {
    LQCRASH_ASYNC_THREAD_STACK_DIRECTION_UP = 1,
    LQCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN = 2,
};

struct lqcrash_async_thread_state {
    uint32_t stack_direction;
    uint64_t greg_size;
    uint64_t valid_regs;
    // The flavor in the header (the same place in both) selects the layout:
    // x86_THREAD_STATE64 the x86-64 one, any other the ARM one.
    union {
        arm_unified_thread_state_t arm_state;
        x86_thread_state_t x86_state;
    };
};

// A 64-bit ARM state from a machine context in the ARM layout.
void lqcrash_async_thread_state_mcontext_init(lqcrash_async_thread_state* state, const darwin_mcontext64_t* mctx);
// An x86-64 state.
void lqcrash_async_thread_state_x86_64_init(lqcrash_async_thread_state* state, const x86_thread_state64_t* registers);
// The state of this host's architecture from a machine context made here
// (a converted signal context or a capture of the current thread).
void lqcrash_async_thread_state_host_mcontext_init(lqcrash_async_thread_state* state,
                                                   const darwin_mcontext64_t* mctx);
lqcrash_error_t lqcrash_async_thread_state_mach_thread_init(lqcrash_async_thread_state* state, thread_t thread);
void lqcrash_async_thread_state_copy(lqcrash_async_thread_state* dest, const lqcrash_async_thread_state* source);

uint64_t lqcrash_async_thread_state_get_reg(const lqcrash_async_thread_state* state, lqcrash_regnum_t regnum);
void lqcrash_async_thread_state_set_reg(lqcrash_async_thread_state* state, lqcrash_regnum_t regnum, uint64_t value);
bool lqcrash_async_thread_state_has_reg(const lqcrash_async_thread_state* state, lqcrash_regnum_t regnum);
void lqcrash_async_thread_state_clear_reg(lqcrash_async_thread_state* state, lqcrash_regnum_t regnum);
void lqcrash_async_thread_state_clear_all_regs(lqcrash_async_thread_state* state);
void lqcrash_async_thread_state_clear_volatile_regs(lqcrash_async_thread_state* state);
uint64_t lqcrash_async_thread_state_get_greg_size(const lqcrash_async_thread_state* state);
uint32_t lqcrash_async_thread_state_get_stackgrowth(const lqcrash_async_thread_state* state);
uint32_t lqcrash_async_thread_state_get_reg_count(const lqcrash_async_thread_state* state);
const char* lqcrash_async_thread_state_get_reg_name(const lqcrash_async_thread_state* state, lqcrash_regnum_t regnum);
bool lqcrash_async_thread_state_map_dwarf_to_reg(const lqcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 lqcrash_regnum_t* regnum);
// Whether code of an image of this Mach CPU type runs with this register set
// (the readers apply an image's unwind data only then).
bool lqcrash_async_thread_state_matches_cpu(const lqcrash_async_thread_state* state, int32_t cputype);

// The register's own mask, as used by the 64-bit layout for pc, fp, sp and lr.
uint64_t lqcrash_async_thread_state_pointer_mask();

typedef lqcrash_error_t (*lqcrash_async_thread_state_current_callback)(lqcrash_async_thread_state* state,
                                                                       void* context);

// Captures the calling thread's registers (as they are at the call, with pc
// the return address into the caller) and calls callback with them.
extern "C" lqcrash_error_t lqcrash_async_thread_state_current(lqcrash_async_thread_state_current_callback callback,
                                                              void* context);
