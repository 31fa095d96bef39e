#include "LQCrashReporter/Source/LQCrashDwarfExpression.h"

using lqcrash::DV::async::dwarf_opstream;

namespace {

constexpr size_t kStackSize = 100;
// Branches may jump backwards, so a damaged expression can loop; no rule of a
// real image comes near this many operations.
constexpr size_t kMaxSteps = 10000;

template <typename machine_ptr>
struct Stack {
    machine_ptr values[kStackSize];
    size_t depth = 0;
    bool push(machine_ptr v) {
        if (depth >= kStackSize) return false;
        values[depth++] = v;
        return true;
    }
    bool pop(machine_ptr* v) {
        if (depth == 0) return false;
        *v = values[--depth];
        return true;
    }
};

template <typename machine_ptr>
lqcrash_error_t read_task(task_t task, const lqcrash_async_byteorder_t* bo, machine_ptr address, size_t size,
                          machine_ptr* out) {
    uint8_t bytes[8] = {};
    lqcrash_error_t err = DVlqcrash_async_task_memcpy(task, address, 0, bytes, size);
    if (err != LQCRASH_ESUCCESS) return err;
    uint64_t v = 0;
    switch (size) {
        case 1: v = bytes[0]; break;
        case 2: {
            uint16_t x;
            lqcrash_async_memcpy(&x, bytes, 2);
            v = bo->swap16(x);
            break;
        }
        case 4: {
            uint32_t x;
            lqcrash_async_memcpy(&x, bytes, 4);
            v = bo->swap32(x);
            break;
        }
        default: {
            uint64_t x;
            lqcrash_async_memcpy(&x, bytes, 8);
            v = bo->swap64(x);
            break;
        }
    }
    *out = static_cast<machine_ptr>(v);
    return LQCRASH_ESUCCESS;
}

}  // namespace

template <typename machine_ptr, typename machine_ptr_s>
lqcrash_error_t lqcrash_async_dwarf_expression_eval(lqcrash_async_mobject* mobj, task_t task,
                                                    const lqcrash_async_thread_state* thread_state,
                                                    const lqcrash_async_byteorder_t* byteorder,
                                                    pl_vm_address_t address, pl_vm_off_t offset, pl_vm_size_t length,
                                                    const machine_ptr initial_state[], size_t initial_count,
                                                    machine_ptr* result) {
    dwarf_opstream<machine_ptr> ops;
    if (ops.init(mobj, byteorder, address, offset, length) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
    Stack<machine_ptr> stack;
    for (size_t i = 0; i < initial_count; ++i) {
        if (!stack.push(initial_state[i])) return LQCRASH_EINTERNAL;
    }
    const unsigned shiftMask = sizeof(machine_ptr) == 8 ? 63 : 31;

#define LQ_POP(v, err)                      \
    do {                                    \
        if (!stack.pop(&(v))) return (err); \
    } while (0)
#define LQ_PUSH(v)                                     \
    do {                                               \
        if (!stack.push(v)) return LQCRASH_EINTERNAL; \
    } while (0)

    size_t steps = 0;
    while (!ops.at_end()) {
        if (++steps > kMaxSteps) return LQCRASH_EINVALID_DATA;
        uint8_t opcode;
        if (!ops.read_intU(&opcode)) return LQCRASH_EINVAL;
        switch (opcode) {
            case 0x06: {  // deref
                machine_ptr a, v;
                LQ_POP(a, LQCRASH_EINTERNAL);
                lqcrash_error_t err = read_task(task, byteorder, a, sizeof(machine_ptr), &v);
                if (err != LQCRASH_ESUCCESS) return err;
                LQ_PUSH(v);
                break;
            }
            case 0x08: { uint8_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(v)); break; }
            case 0x09: { int8_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(static_cast<machine_ptr_s>(v))); break; }
            case 0x0A: { uint16_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(v)); break; }
            case 0x0B: { int16_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(static_cast<machine_ptr_s>(v))); break; }
            case 0x0C: { uint32_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(v)); break; }
            case 0x0D: { int32_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(static_cast<machine_ptr_s>(v))); break; }
            case 0x0E: { uint64_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(v)); break; }
            case 0x0F: { int64_t v; if (!ops.read_intU(&v)) return LQCRASH_EINVAL; LQ_PUSH(static_cast<machine_ptr>(v)); break; }
            case 0x10: {
                uint64_t v;
                lqcrash_error_t err = ops.read_uleb128(&v);
                if (err != LQCRASH_ESUCCESS) return err;
                LQ_PUSH(static_cast<machine_ptr>(v));
                break;
            }
            case 0x11: {
                int64_t v;
                lqcrash_error_t err = ops.read_sleb128(&v);
                if (err != LQCRASH_ESUCCESS) return err;
                LQ_PUSH(static_cast<machine_ptr>(v));
                break;
            }
            case 0x12: {  // dup
                if (stack.depth == 0 || stack.depth >= kStackSize) return LQCRASH_EINVAL;
                LQ_PUSH(stack.values[stack.depth - 1]);
                break;
            }
            case 0x13: {  // drop
                machine_ptr v;
                LQ_POP(v, LQCRASH_EINVAL);
                break;
            }
            case 0x14: {  // over
                if (stack.depth < 2) return LQCRASH_EINVAL;
                LQ_PUSH(stack.values[stack.depth - 2]);
                break;
            }
            case 0x15: {  // pick
                uint8_t index;
                if (!ops.read_intU(&index)) return LQCRASH_EINVAL;
                if (index >= stack.depth) return LQCRASH_EINVAL;
                LQ_PUSH(stack.values[stack.depth - 1 - index]);
                break;
            }
            case 0x16: {  // swap
                if (stack.depth < 2) return LQCRASH_EINVAL;
                machine_ptr t = stack.values[stack.depth - 1];
                stack.values[stack.depth - 1] = stack.values[stack.depth - 2];
                stack.values[stack.depth - 2] = t;
                break;
            }
            case 0x17: {  // rot: top moves below the next two
                if (stack.depth < 3) return LQCRASH_EINVAL;
                machine_ptr* v = &stack.values[stack.depth - 3];
                machine_ptr top = v[2];
                v[2] = v[1];
                v[1] = v[0];
                v[0] = top;
                break;
            }
            case 0x18: {  // xderef
                machine_ptr a, space, v;
                LQ_POP(a, LQCRASH_EINTERNAL);
                LQ_POP(space, LQCRASH_EINTERNAL);
                lqcrash_error_t err = read_task(task, byteorder, a, sizeof(machine_ptr), &v);
                if (err != LQCRASH_ESUCCESS) return err;
                LQ_PUSH(v);
                break;
            }
            case 0x19: {  // abs
                machine_ptr v;
                LQ_POP(v, LQCRASH_EINTERNAL);
                // Negated as an unsigned word: the most negative value stays itself.
                bool negative = static_cast<machine_ptr_s>(v) < 0;
                LQ_PUSH(negative ? static_cast<machine_ptr>(static_cast<machine_ptr>(0) - v) : v);
                break;
            }
            case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1E: case 0x21: case 0x22: case 0x27:
            case 0x24: case 0x25: case 0x26:
            case 0x29: case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E: {
                machine_ptr b, a;
                LQ_POP(b, LQCRASH_EINTERNAL);
                LQ_POP(a, LQCRASH_EINTERNAL);
                machine_ptr r = 0;
                switch (opcode) {
                    case 0x1A: r = a & b; break;
                    case 0x1B: if (b == 0) return LQCRASH_EINVAL; r = a / b; break;
                    case 0x1C: r = a - b; break;
                    case 0x1D: if (b == 0) return LQCRASH_EINVAL; r = a % b; break;
                    case 0x1E: r = a * b; break;
                    case 0x21: r = a | b; break;
                    case 0x22: r = a + b; break;
                    case 0x27: r = a ^ b; break;
                    case 0x24: r = a << (b & shiftMask); break;
                    case 0x25: r = a >> (b & shiftMask); break;
                    case 0x26: r = static_cast<machine_ptr>(static_cast<machine_ptr_s>(a) >> (b & shiftMask)); break;
                    case 0x29: r = a == b; break;
                    case 0x2A: r = a >= b; break;
                    case 0x2B: r = a > b; break;
                    case 0x2C: r = a <= b; break;
                    case 0x2D: r = a < b; break;
                    case 0x2E: r = a != b; break;
                    default: break;
                }
                LQ_PUSH(r);
                break;
            }
            case 0x1F: {  // neg
                machine_ptr v;
                LQ_POP(v, LQCRASH_EINTERNAL);
                LQ_PUSH(static_cast<machine_ptr>(0) - v);
                break;
            }
            case 0x20: {  // not
                machine_ptr v;
                LQ_POP(v, LQCRASH_EINTERNAL);
                LQ_PUSH(static_cast<machine_ptr>(~v));
                break;
            }
            case 0x23: {  // plus_uconst
                uint64_t add;
                lqcrash_error_t err = ops.read_uleb128(&add);
                if (err != LQCRASH_ESUCCESS) return err;
                machine_ptr v;
                LQ_POP(v, LQCRASH_EINTERNAL);
                LQ_PUSH(static_cast<machine_ptr>(v + add));
                break;
            }
            case 0x28:    // bra
            case 0x2F: {  // skip
                int16_t delta;
                if (!ops.read_intU(&delta)) return LQCRASH_EINVAL;
                bool jump = true;
                if (opcode == 0x28) {
                    machine_ptr cond;
                    LQ_POP(cond, LQCRASH_EINTERNAL);
                    jump = cond != 0;
                }
                if (jump && !ops.seek(ops.position() + delta)) return LQCRASH_EINVAL;
                break;
            }
            case 0x92:  // bregx
            default: {
                if ((opcode >= 0x70 && opcode <= 0x8F) || opcode == 0x92) {
                    uint64_t dwarfReg = opcode - 0x70u;
                    if (opcode == 0x92) {
                        lqcrash_error_t err = ops.read_uleb128(&dwarfReg);
                        if (err != LQCRASH_ESUCCESS) return err;
                    }
                    int64_t add;
                    lqcrash_error_t err = ops.read_sleb128(&add);
                    if (err != LQCRASH_ESUCCESS) return err;
                    lqcrash_regnum_t reg;
                    if (!lqcrash_async_thread_state_map_dwarf_to_reg(thread_state, dwarfReg, &reg)) {
                        return LQCRASH_ENOTSUP;
                    }
                    if (!lqcrash_async_thread_state_has_reg(thread_state, reg)) return LQCRASH_ENOTFOUND;
                    machine_ptr v = static_cast<machine_ptr>(lqcrash_async_thread_state_get_reg(thread_state, reg));
                    LQ_PUSH(static_cast<machine_ptr>(v + static_cast<machine_ptr>(add)));
                    break;
                }
                if (opcode >= 0x30 && opcode <= 0x4F) {
                    LQ_PUSH(static_cast<machine_ptr>(opcode - 0x30));
                    break;
                }
                if (opcode == 0x94 || opcode == 0x95) {  // deref_size, xderef_size
                    uint8_t size;
                    if (!ops.read_intU(&size)) return LQCRASH_EINVAL;
                    machine_ptr a, v;
                    LQ_POP(a, LQCRASH_EINTERNAL);
                    if (opcode == 0x95) {
                        machine_ptr space;  // ignored
                        LQ_POP(space, LQCRASH_EINTERNAL);
                    }
                    if (size != 1 && size != 2 && size != 4 && size != 8) return LQCRASH_EINVAL;
                    if (size > sizeof(machine_ptr)) return LQCRASH_EINVAL;
                    lqcrash_error_t err = read_task(task, byteorder, a, size, &v);
                    if (err != LQCRASH_ESUCCESS) return err;
                    LQ_PUSH(v);
                    break;
                }
                if (opcode == 0x96) break;  // nop
                return LQCRASH_ENOTSUP;
            }
        }
    }
#undef LQ_POP
#undef LQ_PUSH
    if (stack.depth == 0) return LQCRASH_EINVAL;
    *result = stack.values[stack.depth - 1];
    return LQCRASH_ESUCCESS;
}

template lqcrash_error_t lqcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
    lqcrash_async_mobject*, task_t, const lqcrash_async_thread_state*, const lqcrash_async_byteorder_t*,
    pl_vm_address_t, pl_vm_off_t, pl_vm_size_t, const uint32_t[], size_t, uint32_t*);
template lqcrash_error_t lqcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
    lqcrash_async_mobject*, task_t, const lqcrash_async_thread_state*, const lqcrash_async_byteorder_t*,
    pl_vm_address_t, pl_vm_off_t, pl_vm_size_t, const uint64_t[], size_t, uint64_t*);
