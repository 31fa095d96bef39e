#include "LQCrashReporter/Source/LQCrashAsyncThreadState.h"

#include <cstddef>

namespace {

uint32_t flavor(const lqcrash_async_thread_state* state) { return state->arm_state.ash.flavor; }
bool is32(const lqcrash_async_thread_state* state) { return flavor(state) == ARM_THREAD_STATE32; }
bool isX86_64(const lqcrash_async_thread_state* state) { return flavor(state) == x86_THREAD_STATE64; }

const char* const kNames64[LQCRASH_ARM64_REG_COUNT] = {
    "pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",
    "x9",  "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17", "x18", "x19", "x20",
    "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr"};

const char* const kNames32[LQCRASH_ARM_REG_COUNT] = {"pc", "r7", "sp", "r0",  "r1",  "r2", "r3",  "r4",  "r5",
                                                     "r6", "r8", "r9", "r10", "r11", "r12", "lr", "cpsr"};

const char* const kNamesX86_64[LQCRASH_X86_64_REG_COUNT] = {
    "rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx", "rdi", "rsi", "r8", "r9",
    "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs", "fs", "gs"};

// The x86-64 registers by engine number.
uint64_t* x86Register(lqcrash_async_thread_state* state, lqcrash_regnum_t regnum) {
    static const uint8_t kOffsets[LQCRASH_X86_64_REG_COUNT] = {
        offsetof(x86_thread_state64_t, rip), offsetof(x86_thread_state64_t, rbp),
        offsetof(x86_thread_state64_t, rsp), offsetof(x86_thread_state64_t, rax),
        offsetof(x86_thread_state64_t, rbx), offsetof(x86_thread_state64_t, rcx),
        offsetof(x86_thread_state64_t, rdx), offsetof(x86_thread_state64_t, rdi),
        offsetof(x86_thread_state64_t, rsi), offsetof(x86_thread_state64_t, r8),
        offsetof(x86_thread_state64_t, r9),  offsetof(x86_thread_state64_t, r10),
        offsetof(x86_thread_state64_t, r11), offsetof(x86_thread_state64_t, r12),
        offsetof(x86_thread_state64_t, r13), offsetof(x86_thread_state64_t, r14),
        offsetof(x86_thread_state64_t, r15), offsetof(x86_thread_state64_t, rflags),
        offsetof(x86_thread_state64_t, cs),  offsetof(x86_thread_state64_t, fs),
        offsetof(x86_thread_state64_t, gs)};
    if (regnum >= LQCRASH_X86_64_REG_COUNT) __builtin_trap();
    return reinterpret_cast<uint64_t*>(reinterpret_cast<uint8_t*>(&state->x86_state.uts.ts64) + kOffsets[regnum]);
}

uint64_t callee_saved_mask(const lqcrash_async_thread_state* state) {
    if (isX86_64(state)) {
        return (1ull << LQCRASH_REG_FP) | (1ull << LQCRASH_X86_64_RBX) | (1ull << LQCRASH_X86_64_R12) |
               (1ull << LQCRASH_X86_64_R13) | (1ull << LQCRASH_X86_64_R14) | (1ull << LQCRASH_X86_64_R15);
    }
    if (is32(state)) {
        return (1ull << 7) | (1ull << 8) | (1ull << 9) | (1ull << LQCRASH_REG_FP) | (1ull << 10) | (1ull << 12) |
               (1ull << 13);
    }
    uint64_t mask = 1ull << LQCRASH_REG_FP;
    for (lqcrash_regnum_t r = LQCRASH_ARM64_X19; r <= LQCRASH_ARM64_X28; ++r) mask |= 1ull << r;
    return mask;
}

}  // namespace

bool lqcrash_async_thread_state_matches_cpu(const lqcrash_async_thread_state* state, int32_t cputype) {
    if (isX86_64(state)) return cputype == 0x01000007;  // CPU_TYPE_X86_64
    if (is32(state)) return cputype == 12;  // CPU_TYPE_ARM
    return cputype == 0x0100000C || cputype == 0x0200000C;  // CPU_TYPE_ARM64, CPU_TYPE_ARM64_32
}

uint64_t lqcrash_async_thread_state_pointer_mask() { return mach::kPointerAddressMask; }

namespace {

// An empty 64-bit record on a downward stack with the given registers known.
void reset64(lqcrash_async_thread_state* state, uint64_t validRegs) {
    lqcrash_async_memset(state, 0, sizeof(*state));
    state->stack_direction = LQCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
    state->greg_size = 8;
    state->valid_regs = validRegs;
}

}  // namespace

void lqcrash_async_thread_state_mcontext_init(lqcrash_async_thread_state* state, const darwin_mcontext64_t* mctx) {
    reset64(state, ~0ull);
    state->arm_state.ash = {ARM_THREAD_STATE64, ARM_THREAD_STATE64_COUNT};
    lqcrash_async_memcpy(&state->arm_state.uts.ts_64, &mctx->ss, sizeof(mctx->ss));
}

void lqcrash_async_thread_state_x86_64_init(lqcrash_async_thread_state* state, const x86_thread_state64_t* registers) {
    reset64(state, (1ull << LQCRASH_X86_64_REG_COUNT) - 1);
    state->x86_state.tsh = {x86_THREAD_STATE64, x86_THREAD_STATE64_COUNT};
    lqcrash_async_memcpy(&state->x86_state.uts.ts64, registers, sizeof(*registers));
}

void lqcrash_async_thread_state_host_mcontext_init(lqcrash_async_thread_state* state,
                                                   const darwin_mcontext64_t* mctx) {
#if defined(__x86_64__)
    x86_thread_state64_t registers;
    mach::x86ThreadStateFromMcontext(mctx, &registers);
    lqcrash_async_thread_state_x86_64_init(state, &registers);
#else
    lqcrash_async_thread_state_mcontext_init(state, mctx);
#endif
}

lqcrash_error_t lqcrash_async_thread_state_mach_thread_init(lqcrash_async_thread_state* state, thread_t thread) {
#if defined(__x86_64__)
    x86_thread_state64_t registers;
    mach_msg_type_number_t count = x86_THREAD_STATE64_COUNT;
    if (thread_get_state(thread, x86_THREAD_STATE64, reinterpret_cast<thread_state_t>(&registers), &count) !=
        KERN_SUCCESS) {
        return LQCRASH_EINTERNAL;
    }
    lqcrash_async_thread_state_x86_64_init(state, &registers);
    return LQCRASH_ESUCCESS;
#else
    mach_msg_type_number_t count = ARM_UNIFIED_THREAD_STATE_COUNT;
    kern_return_t kr = thread_get_state(thread, ARM_THREAD_STATE, reinterpret_cast<thread_state_t>(&state->arm_state),
                                        &count);
    if (kr != KERN_SUCCESS) return LQCRASH_EINTERNAL;
    state->stack_direction = LQCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
    state->greg_size = state->arm_state.ash.flavor == ARM_THREAD_STATE64 ? 8 : 4;
    state->valid_regs = ~0ull;
    return LQCRASH_ESUCCESS;
#endif
}

void lqcrash_async_thread_state_copy(lqcrash_async_thread_state* dest, const lqcrash_async_thread_state* source) {
    lqcrash_async_memcpy(dest, source, sizeof(*dest));
}

uint32_t lqcrash_async_thread_state_get_reg_count(const lqcrash_async_thread_state* state) {
    if (isX86_64(state)) return LQCRASH_X86_64_REG_COUNT;
    return is32(state) ? static_cast<uint32_t>(LQCRASH_ARM_REG_COUNT) : static_cast<uint32_t>(LQCRASH_ARM64_REG_COUNT);
}

uint64_t lqcrash_async_thread_state_get_reg(const lqcrash_async_thread_state* state, lqcrash_regnum_t regnum) {
    if (isX86_64(state)) return *x86Register(const_cast<lqcrash_async_thread_state*>(state), regnum);
    if (is32(state)) {
        const arm_thread_state32_t& s = state->arm_state.uts.ts_32;
        switch (regnum) {
            case LQCRASH_REG_IP: return s.pc;
            case LQCRASH_REG_FP: return s.r[7];
            case LQCRASH_REG_SP: return s.sp;
            case LQCRASH_ARM_LR: return s.lr;
            case LQCRASH_ARM_CPSR: return s.cpsr;
            default:
                if (regnum >= LQCRASH_ARM_R0 && regnum <= LQCRASH_ARM_R6) return s.r[regnum - LQCRASH_ARM_R0];
                if (regnum >= LQCRASH_ARM_R8 && regnum <= LQCRASH_ARM_R12) return s.r[8 + regnum - LQCRASH_ARM_R8];
                __builtin_trap();
        }
    }
    const arm_thread_state64_t& s = state->arm_state.uts.ts_64;
    const uint64_t mask = lqcrash_async_thread_state_pointer_mask();
    switch (regnum) {
        case LQCRASH_REG_IP: return s.pc & mask;
        case LQCRASH_REG_FP: return s.fp & mask;
        case LQCRASH_REG_SP: return s.sp & mask;
        case LQCRASH_ARM64_LR: return s.lr & mask;
        case LQCRASH_ARM64_CPSR: return s.cpsr;
        default:
            if (regnum >= LQCRASH_ARM64_X0 && regnum <= LQCRASH_ARM64_X28) return s.x[regnum - LQCRASH_ARM64_X0];
            __builtin_trap();
    }
}

void lqcrash_async_thread_state_set_reg(lqcrash_async_thread_state* state, lqcrash_regnum_t regnum, uint64_t value) {
    if (isX86_64(state)) {
        *x86Register(state, regnum) = value;
    } else if (is32(state)) {
        arm_thread_state32_t& s = state->arm_state.uts.ts_32;
        uint32_t v = static_cast<uint32_t>(value);
        switch (regnum) {
            case LQCRASH_REG_IP: s.pc = v; break;
            case LQCRASH_REG_FP: s.r[7] = v; break;
            case LQCRASH_REG_SP: s.sp = v; break;
            case LQCRASH_ARM_LR: s.lr = v; break;
            case LQCRASH_ARM_CPSR: s.cpsr = v; break;
            default:
                if (regnum >= LQCRASH_ARM_R0 && regnum <= LQCRASH_ARM_R6) {
                    s.r[regnum - LQCRASH_ARM_R0] = v;
                } else if (regnum >= LQCRASH_ARM_R8 && regnum <= LQCRASH_ARM_R12) {
                    s.r[8 + regnum - LQCRASH_ARM_R8] = v;
                } else {
                    __builtin_trap();
                }
        }
    } else {
        arm_thread_state64_t& s = state->arm_state.uts.ts_64;
        switch (regnum) {
            case LQCRASH_REG_IP: s.pc = value; break;
            case LQCRASH_REG_FP: s.fp = value; break;
            case LQCRASH_REG_SP: s.sp = value; break;
            case LQCRASH_ARM64_LR: s.lr = value; break;
            case LQCRASH_ARM64_CPSR: s.cpsr = static_cast<uint32_t>(value); break;
            default:
                if (regnum >= LQCRASH_ARM64_X0 && regnum <= LQCRASH_ARM64_X28) {
                    s.x[regnum - LQCRASH_ARM64_X0] = value;
                } else {
                    __builtin_trap();
                }
        }
    }
    state->valid_regs |= 1ull << regnum;
}

bool lqcrash_async_thread_state_has_reg(const lqcrash_async_thread_state* state, lqcrash_regnum_t regnum) {
    return regnum < 64 && (state->valid_regs & (1ull << regnum)) != 0;
}

void lqcrash_async_thread_state_clear_reg(lqcrash_async_thread_state* state, lqcrash_regnum_t regnum) {
    if (regnum < 64) state->valid_regs &= ~(1ull << regnum);
}

void lqcrash_async_thread_state_clear_all_regs(lqcrash_async_thread_state* state) { state->valid_regs = 0; }

void lqcrash_async_thread_state_clear_volatile_regs(lqcrash_async_thread_state* state) {
    state->valid_regs &= callee_saved_mask(state);
}

uint64_t lqcrash_async_thread_state_get_greg_size(const lqcrash_async_thread_state* state) { return state->greg_size; }

uint32_t lqcrash_async_thread_state_get_stackgrowth(const lqcrash_async_thread_state* state) {
    return state->stack_direction;
}

const char* lqcrash_async_thread_state_get_reg_name(const lqcrash_async_thread_state* state, lqcrash_regnum_t regnum) {
    if (regnum >= lqcrash_async_thread_state_get_reg_count(state)) __builtin_trap();
    if (isX86_64(state)) return kNamesX86_64[regnum];
    return is32(state) ? kNames32[regnum] : kNames64[regnum];
}

namespace {

// DWARF numbering of x86-64: rax, rdx, rcx, rbx, rsi, rdi, rbp, rsp, r8-r15,
// then the return address column, which unwinds (and names in expressions)
// rip.
bool map_x86_64_dwarf(uint64_t dwarf_reg, lqcrash_regnum_t* regnum) {
    static const lqcrash_regnum_t kFirst[17] = {
        LQCRASH_X86_64_RAX, LQCRASH_X86_64_RDX, LQCRASH_X86_64_RCX, LQCRASH_X86_64_RBX, LQCRASH_X86_64_RSI,
        LQCRASH_X86_64_RDI, LQCRASH_REG_FP,     LQCRASH_REG_SP,     LQCRASH_X86_64_R8,  LQCRASH_X86_64_R8 + 1,
        LQCRASH_X86_64_R8 + 2, LQCRASH_X86_64_R8 + 3, LQCRASH_X86_64_R12, LQCRASH_X86_64_R13, LQCRASH_X86_64_R14,
        LQCRASH_X86_64_R15, LQCRASH_REG_IP};
    if (dwarf_reg < 17) {
        *regnum = kFirst[dwarf_reg];
        return true;
    }
    switch (dwarf_reg) {
        case 49: *regnum = LQCRASH_X86_64_RFLAGS; return true;
        case 51: *regnum = LQCRASH_X86_64_CS; return true;
        case 54: *regnum = LQCRASH_X86_64_FS; return true;
        case 55: *regnum = LQCRASH_X86_64_GS; return true;
        default: return false;
    }
}

}  // namespace

bool lqcrash_async_thread_state_map_dwarf_to_reg(const lqcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 lqcrash_regnum_t* regnum) {
    if (isX86_64(state)) return map_x86_64_dwarf(dwarf_reg, regnum);
    if (is32(state)) {
        if (dwarf_reg <= 6) {
            *regnum = LQCRASH_ARM_R0 + static_cast<lqcrash_regnum_t>(dwarf_reg);
        } else if (dwarf_reg == 7) {
            *regnum = LQCRASH_REG_FP;
        } else if (dwarf_reg >= 8 && dwarf_reg <= 12) {
            *regnum = LQCRASH_ARM_R8 + static_cast<lqcrash_regnum_t>(dwarf_reg - 8);
        } else if (dwarf_reg == 13) {
            *regnum = LQCRASH_REG_SP;
        } else if (dwarf_reg == 14) {
            *regnum = LQCRASH_ARM_LR;
        } else if (dwarf_reg == 15) {
            *regnum = LQCRASH_REG_IP;
        } else {
            return false;
        }
        return true;
    }
    if (dwarf_reg <= 28) {
        *regnum = LQCRASH_ARM64_X0 + static_cast<lqcrash_regnum_t>(dwarf_reg);
    } else if (dwarf_reg == 29) {
        *regnum = LQCRASH_REG_FP;
    } else if (dwarf_reg == 30) {
        *regnum = LQCRASH_ARM64_LR;
    } else if (dwarf_reg == 31) {
        *regnum = LQCRASH_REG_SP;
    } else {
        return false;
    }
    return true;
}

// Called by the assembly entry below with the captured machine context.
extern "C" lqcrash_error_t lqcrash_async_thread_state_current_impl(
    lqcrash_async_thread_state_current_callback callback, void* context, darwin_mcontext64_t* mctx) {
    lqcrash_async_thread_state state;
    lqcrash_async_thread_state_host_mcontext_init(&state, mctx);
    return callback(&state, context);
}

static_assert(offsetof(darwin_mcontext64_t, ss) == 16);
static_assert(offsetof(darwin_mcontext64_t, ns) == 288);

// The entry saves the registers before any compiled code can change them.
#if defined(__aarch64__)
__asm__(R"(
    .text
    .globl lqcrash_async_thread_state_current
    .type lqcrash_async_thread_state_current, %function
    .p2align 2
lqcrash_async_thread_state_current:
    .cfi_startproc
    sub sp, sp, #848
    .cfi_def_cfa_offset 848
    stp x29, x30, [sp]
    .cfi_offset x29, -848
    .cfi_offset x30, -840
    stp x9, x10, [sp, #16]
    mov x29, sp
    add x9, sp, #32
    mov x10, #0
1:  str xzr, [x9, x10]
    add x10, x10, #8
    cmp x10, #816
    b.ne 1b
    stp x0, x1, [x9, #16]
    stp x2, x3, [x9, #32]
    stp x4, x5, [x9, #48]
    stp x6, x7, [x9, #64]
    str x8, [x9, #80]
    ldr x10, [sp, #16]
    str x10, [x9, #88]
    ldr x10, [sp, #24]
    str x10, [x9, #96]
    stp x11, x12, [x9, #104]
    stp x13, x14, [x9, #120]
    stp x15, x16, [x9, #136]
    stp x17, x18, [x9, #152]
    stp x19, x20, [x9, #168]
    stp x21, x22, [x9, #184]
    stp x23, x24, [x9, #200]
    stp x25, x26, [x9, #216]
    stp x27, x28, [x9, #232]
    ldr x10, [sp]
    str x10, [x9, #248]
    mov x11, #0
    cbz x10, 2f
    ldr x11, [x10, #8]
2:  str x11, [x9, #256]
    add x12, sp, #848
    str x12, [x9, #264]
    str x30, [x9, #272]
    ldp x0, x1, [x9, #16]
    mov x2, x9
    bl lqcrash_async_thread_state_current_impl
    ldp x29, x30, [sp]
    add sp, sp, #848
    .cfi_def_cfa_offset 0
    ret
    .cfi_endproc
    .size lqcrash_async_thread_state_current, .-lqcrash_async_thread_state_current
)");
#elif defined(__x86_64__)
__asm__(R"(
    .text
    .globl lqcrash_async_thread_state_current
    .type lqcrash_async_thread_state_current, @function
    .p2align 4
lqcrash_async_thread_state_current:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    subq $816, %rsp
    movq %rdi, %r10
    movq %rsi, %r11
    movq %rdx, %r9
    movq %rsp, %rdi
    movl $102, %ecx
    xorl %eax, %eax
    rep stosq
    movq %r10, 16(%rsp)
    movq %r11, 24(%rsp)
    movq %r9, 32(%rsp)
    movq %r8, 48(%rsp)
    movq %rbx, 72(%rsp)
    movq %r12, 96(%rsp)
    movq %r13, 104(%rsp)
    movq %r14, 112(%rsp)
    movq %r15, 120(%rsp)
    movq 0(%rbp), %rax
    movq %rax, 248(%rsp)
    leaq 16(%rbp), %rax
    movq %rax, 264(%rsp)
    movq 8(%rbp), %rax
    movq %rax, 272(%rsp)
    movq %r10, %rdi
    movq %r11, %rsi
    movq %rsp, %rdx
    call lqcrash_async_thread_state_current_impl
    leave
    .cfi_def_cfa %rsp, 8
    ret
    .cfi_endproc
    .size lqcrash_async_thread_state_current, .-lqcrash_async_thread_state_current
)");
#else
#error "unsupported architecture"
#endif
