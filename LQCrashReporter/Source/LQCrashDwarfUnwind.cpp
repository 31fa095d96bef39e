#include "LQCrashReporter/Source/LQCrashDwarfCFAState.h"
#include "LQCrashReporter/Source/LQCrashDwarfExpression.h"
#include "LQCrashReporter/Source/LQCrashFrameCursor.h"

namespace lqcrash::DV::async {

namespace {

// An operand times the data alignment factor, in two's complement: the
// program's numbers come from the image and may be anything, so the product
// wraps instead of overflowing.
uint64_t factored(uint64_t operand, int64_t factor) { return operand * static_cast<uint64_t>(factor); }

}  // namespace

template <typename machine_ptr, typename machine_ptr_s>
dwarf_cfa_state<machine_ptr, machine_ptr_s>::dwarf_cfa_state() : _table_depth(0) {
    for (uint8_t d = 0; d < MAX_STATES; ++d) {
        _register_count[d] = 0;
        for (uint8_t b = 0; b < BUCKET_COUNT; ++b) _table_stack[d][b] = EMPTY;
        _cfa_value[d] = dwarf_cfa_rule_t<machine_ptr, machine_ptr_s>();
    }
    for (uint8_t i = 0; i < MAX_REGISTERS; ++i) {
        _entries[i] = entry{0, 0, 0, static_cast<uint8_t>(i + 1 < MAX_REGISTERS ? i + 1 : EMPTY)};
    }
    _free_list = 0;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_register(uint32_t regnum, lqcrash_dwarf_cfa_reg_rule_t rule,
                                                               machine_ptr value) {
    uint8_t bucket = static_cast<uint8_t>(regnum % BUCKET_COUNT);
    uint8_t* link = &_table_stack[_table_depth][bucket];
    while (*link != EMPTY) {
        entry& e = _entries[*link];
        if (e.regnum == regnum) {
            e.rule = static_cast<uint8_t>(rule);
            e.value = value;
            return true;
        }
        link = &e.next;
    }
    if (_free_list == EMPTY) return false;
    uint8_t index = _free_list;
    _free_list = _entries[index].next;
    _entries[index] = entry{value, regnum, static_cast<uint8_t>(rule), EMPTY};
    *link = index;
    _register_count[_table_depth]++;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::get_register_rule(uint32_t regnum,
                                                                    lqcrash_dwarf_cfa_reg_rule_t* rule,
                                                                    machine_ptr* value) const {
    uint8_t index = _table_stack[_table_depth][regnum % BUCKET_COUNT];
    while (index != EMPTY) {
        const entry& e = _entries[index];
        if (e.regnum == regnum) {
            *rule = static_cast<lqcrash_dwarf_cfa_reg_rule_t>(e.rule);
            *value = e.value;
            return true;
        }
        index = e.next;
    }
    return false;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::remove_register(uint32_t regnum) {
    uint8_t* link = &_table_stack[_table_depth][regnum % BUCKET_COUNT];
    while (*link != EMPTY) {
        uint8_t index = *link;
        entry& e = _entries[index];
        if (e.regnum == regnum) {
            *link = e.next;
            e.next = _free_list;
            _free_list = index;
            _register_count[_table_depth]--;
            return;
        }
        link = &e.next;
    }
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::release_level() {
    for (uint8_t b = 0; b < BUCKET_COUNT; ++b) {
        while (_table_stack[_table_depth][b] != EMPTY) remove_register(_entries[_table_stack[_table_depth][b]].regnum);
    }
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register(uint32_t regnum, machine_ptr offset) {
    dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> rule;
    rule.type = DWARF_CFA_STATE_CFA_TYPE_REGISTER;
    rule.reg = regnum;
    rule.offset = offset;
    _cfa_value[_table_depth] = rule;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset) {
    dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> rule;
    rule.type = DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED;
    rule.reg = regnum;
    rule.offset = static_cast<machine_ptr>(offset);
    _cfa_value[_table_depth] = rule;
}

template <typename machine_ptr, typename machine_ptr_s>
void dwarf_cfa_state<machine_ptr, machine_ptr_s>::set_cfa_expression(pl_vm_address_t address, pl_vm_size_t length) {
    dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> rule;
    rule.type = DWARF_CFA_STATE_CFA_TYPE_EXPRESSION;
    rule.expression_address = address;
    rule.expression_length = length;
    _cfa_value[_table_depth] = rule;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::push_state() {
    if (_table_depth + 1 >= MAX_STATES) return false;
    uint8_t from = _table_depth;
    uint8_t to = from + 1;
    _table_depth = to;
    _cfa_value[to] = _cfa_value[from];
    _register_count[to] = 0;
    for (uint8_t b = 0; b < BUCKET_COUNT; ++b) _table_stack[to][b] = EMPTY;
    for (uint8_t b = 0; b < BUCKET_COUNT; ++b) {
        for (uint8_t i = _table_stack[from][b]; i != EMPTY; i = _entries[i].next) {
            const entry e = _entries[i];
            if (!set_register(e.regnum, static_cast<lqcrash_dwarf_cfa_reg_rule_t>(e.rule), e.value)) {
                // Give the entries taken so far back and stay where we were.
                release_level();
                _table_depth = from;
                return false;
            }
        }
    }
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
bool dwarf_cfa_state<machine_ptr, machine_ptr_s>::pop_state() {
    if (_table_depth == 0) return false;
    // The dropped level's entries go back to the pool: functions with many
    // remember/restore pairs would exhaust it otherwise.
    release_level();
    _table_depth--;
    return true;
}

template <typename machine_ptr, typename machine_ptr_s>
lqcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::eval_program(
    lqcrash_async_mobject* mobj, pl_vm_address_t pc, pl_vm_address_t initial_pc_value,
    lqcrash_async_dwarf_cie_info_t* cie_info, gnu_ehptr_reader<machine_ptr>* ptr_reader,
    const lqcrash_async_byteorder_t* byteorder, pl_vm_address_t address, pl_vm_off_t offset, pl_vm_size_t length) {
    // The rules in force at the start, for the restore opcodes.
    const dwarf_cfa_state initial = *this;
    uint8_t setLocEncoding = 0;
    if (cie_info->has_eh_augmentation && ptr_reader && cie_info->eh_augmentation.has_pointer_encoding) {
        setLocEncoding = cie_info->eh_augmentation.pointer_encoding;
    }
    dwarf_opstream<machine_ptr> ops;
    if (ops.init(mobj, byteorder, address, offset, length) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;

    const uint64_t caf = cie_info->code_alignment_factor;
    const int64_t daf = cie_info->data_alignment_factor;
    machine_ptr location = static_cast<machine_ptr>(initial_pc_value);
    if (pc != 0 && pc < location) return LQCRASH_ESUCCESS;

    auto readReg = [&](uint32_t* reg) -> lqcrash_error_t {
        uint64_t v;
        lqcrash_error_t err = ops.read_uleb128(&v);
        if (err != LQCRASH_ESUCCESS) return err;
        if (v > UINT32_MAX) return LQCRASH_ENOTSUP;
        *reg = static_cast<uint32_t>(v);
        return LQCRASH_ESUCCESS;
    };
    auto set = [&](uint32_t reg, lqcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value) -> lqcrash_error_t {
        return set_register(reg, rule, value) ? LQCRASH_ESUCCESS : LQCRASH_ENOMEM;
    };
    auto restore = [&](uint32_t reg) {
        lqcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
        if (initial.get_register_rule(reg, &rule, &value)) {
            return set(reg, rule, value);
        }
        remove_register(reg);
        return LQCRASH_ESUCCESS;
    };
    // Skips an expression block (its length first); *blockStart is where the
    // bytes begin, *lengthAddress where the length was.
    auto block = [&](pl_vm_address_t* lengthAddress, pl_vm_address_t* blockStart, uint64_t* blockLength) {
        *lengthAddress = ops.task_position();
        lqcrash_error_t err = ops.read_uleb128(blockLength);
        if (err != LQCRASH_ESUCCESS) return err;
        *blockStart = ops.task_position();
        if (*blockLength > static_cast<uint64_t>(ops.length() - ops.position()) ||
            !ops.skip(static_cast<pl_vm_off_t>(*blockLength))) {
            return LQCRASH_EINVAL;
        }
        return LQCRASH_ESUCCESS;
    };

    while (!ops.at_end()) {
        uint8_t opcode;
        if (!ops.read_intU(&opcode)) return LQCRASH_EINVAL;
        lqcrash_error_t err = LQCRASH_ESUCCESS;
        uint8_t high = opcode & 0xC0;
        uint8_t low = opcode & 0x3F;
        if (high == 0x40) {
            location += static_cast<machine_ptr>(low * caf);
        } else if (high == 0x80) {
            uint64_t n;
            err = ops.read_uleb128(&n);
            if (err == LQCRASH_ESUCCESS) {
                err = set(low, LQCRASH_DWARF_CFA_REG_RULE_OFFSET, static_cast<machine_ptr>(factored(n, daf)));
            }
        } else if (high == 0xC0) {
            err = restore(low);
        } else {
            uint32_t reg = 0, reg2 = 0;
            uint64_t u = 0;
            int64_t s = 0;
            dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> cfa = get_cfa_rule();
            switch (opcode) {
                case 0x00:  // nop
                    break;
                case 0x01: {  // set_loc
                    if (cie_info->address_info.segment_size != 0) return LQCRASH_ENOTSUP;
                    machine_ptr value;
                    pl_vm_size_t size;
                    if (!ptr_reader) return LQCRASH_ENOTSUP;
                    err = ptr_reader->read(mobj, ops.task_position(), 0, setLocEncoding, &value, &size);
                    if (err == LQCRASH_ESUCCESS && !ops.skip(static_cast<pl_vm_off_t>(size))) err = LQCRASH_EINVAL;
                    if (err == LQCRASH_ESUCCESS) location = value;
                    break;
                }
                case 0x02: {
                    uint8_t d;
                    if (!ops.read_intU(&d)) return LQCRASH_EINVAL;
                    location += static_cast<machine_ptr>(d * caf);
                    break;
                }
                case 0x03: {
                    uint16_t d;
                    if (!ops.read_intU(&d)) return LQCRASH_EINVAL;
                    location += static_cast<machine_ptr>(d * caf);
                    break;
                }
                case 0x04: {
                    uint32_t d;
                    if (!ops.read_intU(&d)) return LQCRASH_EINVAL;
                    location += static_cast<machine_ptr>(d * caf);
                    break;
                }
                case 0x05:  // offset_extended
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = ops.read_uleb128(&u)) == LQCRASH_ESUCCESS) {
                        err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_OFFSET, static_cast<machine_ptr>(factored(u, daf)));
                    }
                    break;
                case 0x06:  // restore_extended
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS) err = restore(reg);
                    break;
                case 0x07:  // undefined
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS) err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_UNDEFINED, 0);
                    break;
                case 0x08:  // same_value
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS) err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0);
                    break;
                case 0x09:  // register
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = readReg(&reg2)) == LQCRASH_ESUCCESS) {
                        err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_REGISTER, reg2);
                    }
                    break;
                case 0x0A:  // remember_state
                    if (!push_state()) return LQCRASH_ENOMEM;
                    break;
                case 0x0B:  // restore_state
                    if (!pop_state()) return LQCRASH_EINVAL;
                    break;
                case 0x0C:  // def_cfa
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = ops.read_uleb128(&u)) == LQCRASH_ESUCCESS) {
                        set_cfa_register(reg, static_cast<machine_ptr>(u));
                    }
                    break;
                case 0x0D:  // def_cfa_register
                    if ((err = readReg(&reg)) != LQCRASH_ESUCCESS) break;
                    if (cfa.type == DWARF_CFA_STATE_CFA_TYPE_UNDEFINED) return LQCRASH_EINVAL;
                    if (cfa.type != DWARF_CFA_STATE_CFA_TYPE_EXPRESSION) {
                        cfa.reg = reg;
                        set_cfa_rule(cfa);
                    }
                    break;
                case 0x0E:  // def_cfa_offset
                    if ((err = ops.read_uleb128(&u)) != LQCRASH_ESUCCESS) break;
                    if (cfa.type == DWARF_CFA_STATE_CFA_TYPE_UNDEFINED) return LQCRASH_EINVAL;
                    if (cfa.type != DWARF_CFA_STATE_CFA_TYPE_EXPRESSION) set_cfa_register(cfa.reg, static_cast<machine_ptr>(u));
                    break;
                case 0x0F: {  // def_cfa_expression
                    pl_vm_address_t lengthAddress, start;
                    if ((err = block(&lengthAddress, &start, &u)) == LQCRASH_ESUCCESS) set_cfa_expression(start, u);
                    break;
                }
                case 0x10:    // expression
                case 0x16: {  // val_expression
                    pl_vm_address_t lengthAddress, start;
                    if ((err = readReg(&reg)) != LQCRASH_ESUCCESS) break;
                    if ((err = block(&lengthAddress, &start, &u)) != LQCRASH_ESUCCESS) break;
                    err = set(reg,
                              opcode == 0x10 ? LQCRASH_DWARF_CFA_REG_RULE_EXPRESSION
                                             : LQCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION,
                              static_cast<machine_ptr>(lengthAddress));
                    break;
                }
                case 0x11:  // offset_extended_sf
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = ops.read_sleb128(&s)) == LQCRASH_ESUCCESS) {
                        err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_OFFSET,
                                  static_cast<machine_ptr>(factored(static_cast<uint64_t>(s), daf)));
                    }
                    break;
                case 0x12:  // def_cfa_sf
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = ops.read_sleb128(&s)) == LQCRASH_ESUCCESS) {
                        set_cfa_register_signed(reg,
                                                static_cast<machine_ptr_s>(factored(static_cast<uint64_t>(s), daf)));
                    }
                    break;
                case 0x13:  // def_cfa_offset_sf
                    if ((err = ops.read_sleb128(&s)) != LQCRASH_ESUCCESS) break;
                    if (cfa.type == DWARF_CFA_STATE_CFA_TYPE_UNDEFINED) return LQCRASH_EINVAL;
                    if (cfa.type != DWARF_CFA_STATE_CFA_TYPE_EXPRESSION) {
                        set_cfa_register_signed(cfa.reg,
                                                static_cast<machine_ptr_s>(factored(static_cast<uint64_t>(s), daf)));
                    }
                    break;
                case 0x14:  // val_offset
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = ops.read_uleb128(&u)) == LQCRASH_ESUCCESS) {
                        err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                                  static_cast<machine_ptr>(factored(u, daf)));
                    }
                    break;
                case 0x15:  // val_offset_sf
                    if ((err = readReg(&reg)) == LQCRASH_ESUCCESS && (err = ops.read_sleb128(&s)) == LQCRASH_ESUCCESS) {
                        err = set(reg, LQCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET,
                                  static_cast<machine_ptr>(factored(static_cast<uint64_t>(s), daf)));
                    }
                    break;
                case 0x2D:  // GNU window save / AArch64 return-address signing state: nothing to track here
                    break;
                case 0x2E:  // GNU_args_size: only matters to exception handling
                    err = ops.read_uleb128(&u);
                    break;
                default:
                    return LQCRASH_ENOTSUP;
            }
        }
        if (err != LQCRASH_ESUCCESS) return err;
        if (pc != 0 && pc < location) return LQCRASH_ESUCCESS;
    }
    return LQCRASH_ESUCCESS;
}

template <typename machine_ptr, typename machine_ptr_s>
lqcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::apply_state(
    task_t task, lqcrash_async_dwarf_cie_info_t* cie_info, const lqcrash_async_thread_state* thread_state,
    const lqcrash_async_byteorder_t* byteorder, lqcrash_async_thread_state* new_thread_state) {
    lqcrash_async_thread_state_copy(new_thread_state, thread_state);
    lqcrash_async_thread_state_clear_volatile_regs(new_thread_state);
    const uint64_t width = lqcrash_async_thread_state_get_greg_size(thread_state);

    auto readWord = [&](machine_ptr address, machine_ptr* value) -> lqcrash_error_t {
        if (width == 4) {
            uint32_t v;
            lqcrash_error_t err = lqcrash_async_task_read_uint32(task, byteorder, address, 0, &v);
            *value = static_cast<machine_ptr>(v);
            return err;
        }
        uint64_t v;
        lqcrash_error_t err = lqcrash_async_task_read_uint64(task, byteorder, address, 0, &v);
        *value = static_cast<machine_ptr>(v);
        return err;
    };
    // Evaluates the expression whose bytes start at address.
    auto evaluate = [&](pl_vm_address_t address, pl_vm_size_t length, const machine_ptr* initial, size_t count,
                        machine_ptr* out) -> lqcrash_error_t {
        lqcrash_async_mobject mobj;
        lqcrash_error_t err = lqcrash_async_mobject_init(&mobj, task, address, length, true);
        if (err != LQCRASH_ESUCCESS) return err;
        err = lqcrash_async_dwarf_expression_eval<machine_ptr, machine_ptr_s>(&mobj, task, thread_state, byteorder,
                                                                              address, 0, length, initial, count, out);
        lqcrash_async_mobject_free(&mobj);
        return err;
    };

    machine_ptr cfa = 0;
    dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> rule = get_cfa_rule();
    switch (rule.type) {
        case DWARF_CFA_STATE_CFA_TYPE_REGISTER:
        case DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED: {
            lqcrash_regnum_t reg;
            if (!lqcrash_async_thread_state_map_dwarf_to_reg(thread_state, rule.reg, &reg)) return LQCRASH_ENOTSUP;
            if (!lqcrash_async_thread_state_has_reg(thread_state, reg)) return LQCRASH_ENOTFOUND;
            cfa = static_cast<machine_ptr>(lqcrash_async_thread_state_get_reg(thread_state, reg)) + rule.offset;
            break;
        }
        case DWARF_CFA_STATE_CFA_TYPE_EXPRESSION: {
            lqcrash_error_t err = evaluate(rule.expression_address, rule.expression_length, nullptr, 0, &cfa);
            if (err != LQCRASH_ESUCCESS) return err;
            break;
        }
        default:
            return LQCRASH_EINVAL;
    }
    lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_SP, cfa);

    lqcrash_regnum_t raReg = 0;
    const bool raMapped =
        lqcrash_async_thread_state_map_dwarf_to_reg(thread_state, cie_info->return_address_register, &raReg);

    dwarf_cfa_state_iterator<machine_ptr, machine_ptr_s> it(this);
    uint32_t dwarfReg;
    lqcrash_dwarf_cfa_reg_rule_t regRule;
    machine_ptr operand;
    bool outermost = false;
    while (it.next(&dwarfReg, &regRule, &operand)) {
        lqcrash_regnum_t dest;
        if (regRule == LQCRASH_DWARF_CFA_REG_RULE_UNDEFINED) {
            if (dwarfReg == cie_info->return_address_register) outermost = true;
            if (lqcrash_async_thread_state_map_dwarf_to_reg(thread_state, dwarfReg, &dest)) {
                lqcrash_async_thread_state_clear_reg(new_thread_state, dest);
            }
            continue;
        }
        if (!lqcrash_async_thread_state_map_dwarf_to_reg(thread_state, dwarfReg, &dest)) {
            if (dwarfReg != cie_info->return_address_register) return LQCRASH_EINVAL;
            dest = LQCRASH_REG_IP;
        }
        machine_ptr value = 0;
        switch (regRule) {
            case LQCRASH_DWARF_CFA_REG_RULE_OFFSET: {
                lqcrash_error_t err = readWord(cfa + operand, &value);
                if (err != LQCRASH_ESUCCESS) return err;
                break;
            }
            case LQCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET:
                value = cfa + operand;
                break;
            case LQCRASH_DWARF_CFA_REG_RULE_REGISTER: {
                lqcrash_regnum_t source;
                if (!lqcrash_async_thread_state_map_dwarf_to_reg(thread_state, operand, &source)) return LQCRASH_EINVAL;
                if (!lqcrash_async_thread_state_has_reg(thread_state, source)) return LQCRASH_ENOTFOUND;
                value = static_cast<machine_ptr>(lqcrash_async_thread_state_get_reg(thread_state, source));
                break;
            }
            case LQCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
                if (!lqcrash_async_thread_state_has_reg(thread_state, dest)) return LQCRASH_ENOTFOUND;
                value = static_cast<machine_ptr>(lqcrash_async_thread_state_get_reg(thread_state, dest));
                break;
            case LQCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
            case LQCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
                uint64_t length;
                pl_vm_size_t size;
                lqcrash_error_t err = dwarf_read_task_uleb128(task, operand, 0, &length, &size);
                if (err != LQCRASH_ESUCCESS) return err;
                machine_ptr initial[1] = {cfa};
                machine_ptr result;
                err = evaluate(operand + size, length, initial, 1, &result);
                if (err != LQCRASH_ESUCCESS) return err;
                if (regRule == LQCRASH_DWARF_CFA_REG_RULE_EXPRESSION) {
                    err = readWord(result, &value);
                    if (err != LQCRASH_ESUCCESS) return err;
                } else {
                    value = result;
                }
                break;
            }
            default:
                continue;
        }
        lqcrash_async_thread_state_set_reg(new_thread_state, dest, value);
        if (dwarfReg == cie_info->return_address_register && dest != LQCRASH_REG_IP) {
            lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_IP, value);
        }
    }
    if (outermost) {
        // No caller: a state without a pc ends the cursor's walk here instead
        // of handing the frame to a reader that would guess one.
        lqcrash_async_thread_state_clear_reg(new_thread_state, LQCRASH_REG_IP);
        return LQCRASH_ESUCCESS;
    }
    if (!lqcrash_async_thread_state_has_reg(new_thread_state, LQCRASH_REG_IP)) {
        // A return-address column that is the pc itself has nothing to offer.
        if (!raMapped || raReg == LQCRASH_REG_IP || !lqcrash_async_thread_state_has_reg(thread_state, raReg)) {
            return LQCRASH_EINVAL;
        }
        lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_IP,
                                           lqcrash_async_thread_state_get_reg(thread_state, raReg));
    }
    return LQCRASH_ESUCCESS;
}

template class dwarf_cfa_state<uint32_t, int32_t>;
template class dwarf_cfa_state<uint64_t, int64_t>;

}  // namespace lqcrash::DV::async

namespace {

using namespace lqcrash::DV::async;

// Runs the FDE's rules (and its CIE's) for pc and applies them. The CIE and
// the FDE may lie in different mappings; offsets are from each one's start.
template <typename machine_ptr, typename machine_ptr_s>
lqcrash_frame_error_t apply_fde(task_t task, lqcrash_async_mobject* cieObject, lqcrash_async_mobject* fdeObject,
                                const lqcrash_async_byteorder_t* byteorder, pl_vm_address_t pc,
                                const lqcrash_async_dwarf_fde_info_t& fde, const lqcrash_async_thread_state* current,
                                lqcrash_async_thread_state* next) {
    gnu_ehptr_reader<machine_ptr> ptrReader(byteorder);
    lqcrash_async_dwarf_cie_info_t cie;
    if (lqcrash_async_dwarf_cie_info_init<machine_ptr>(&cie, cieObject, byteorder, &ptrReader,
                                                       cieObject->task_address + fde.cie_offset) != LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    if (state.eval_program(cieObject, pc, fde.pc_start, &cie, &ptrReader, byteorder, cieObject->task_address,
                           static_cast<pl_vm_off_t>(cie.initial_instructions_offset),
                           cie.initial_instructions_length) != LQCRASH_ESUCCESS ||
        state.eval_program(fdeObject, pc, fde.pc_start, &cie, &ptrReader, byteorder, fdeObject->task_address,
                           static_cast<pl_vm_off_t>(fde.instructions_offset), fde.instructions_length) !=
            LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    if (state.apply_state(task, &cie, current, byteorder, next) != LQCRASH_ESUCCESS) return LQCRASH_FRAME_ENOFRAME;
    return LQCRASH_FRAME_ESUCCESS;
}

// Searches the whole mapped section for the FDE of pc.
template <typename machine_ptr, typename machine_ptr_s>
lqcrash_frame_error_t unwind_section(task_t task, lqcrash_async_mobject* mobj,
                                     const lqcrash_async_byteorder_t* byteorder, bool debugFrame, pl_vm_address_t pc,
                                     const lqcrash_async_thread_state* current, lqcrash_async_thread_state* next) {
    lqcrash_async_dwarf_frame_reader_t reader;
    if (lqcrash_async_dwarf_frame_reader_init(&reader, mobj, byteorder, sizeof(machine_ptr) == 8, debugFrame) !=
        LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_EINVAL;
    }
    lqcrash_async_dwarf_fde_info_t fde;
    if (lqcrash_async_dwarf_frame_reader_find_fde(&reader, 0, static_cast<machine_ptr>(pc), &fde) != LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    return apply_fde<machine_ptr, machine_ptr_s>(task, mobj, mobj, byteorder, pc, fde, current, next);
}

// Maps a small record: copied onto the stack when it fits, else mapped.
lqcrash_error_t map_record(lqcrash_async_mobject* mobj, task_t task, pl_vm_address_t address, pl_vm_size_t length,
                           void* buffer, size_t bufferSize) {
    if (length <= bufferSize) return lqcrash_async_mobject_init_copy(mobj, task, address, length, buffer, bufferSize);
    return lqcrash_async_mobject_init(mobj, task, address, length, true);
}

// An ELF image's .eh_frame_hdr index names the FDE: only that FDE and its CIE
// are read (the whole section is often hundreds of kilobytes, and mapping
// copies it).
lqcrash_frame_error_t unwind_indexed(task_t task, lqcrash_async_macho* image, pl_vm_address_t pc,
                                     const lqcrash_async_thread_state* current, lqcrash_async_thread_state* next) {
    const lqcrash_async_byteorder_t* byteorder = image->byteorder;
    uint64_t fdeAddress = 0;
    if (mach::elf::findIndexedFde(task, image->elf, pc, &fdeAddress) != KERN_SUCCESS) return LQCRASH_FRAME_ENOTSUP;
    // The 32-bit format (what linkers write): length, then the distance
    // back to the CIE.
    uint32_t header[2];
    uint32_t cieLength;
    if (DVlqcrash_async_task_memcpy(task, fdeAddress, 0, header, sizeof(header)) != LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    const uint32_t fdeLength = byteorder->swap32(header[0]);
    const uint32_t ciePointer = byteorder->swap32(header[1]);
    if (fdeLength == 0 || fdeLength == 0xFFFFFFFF || ciePointer == 0 || ciePointer > fdeAddress + 4) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    const pl_vm_address_t cieAddress = fdeAddress + 4 - ciePointer;
    if (DVlqcrash_async_task_memcpy(task, cieAddress, 0, &cieLength, sizeof(cieLength)) != LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    cieLength = byteorder->swap32(cieLength);
    if (cieLength == 0 || cieLength == 0xFFFFFFFF) return LQCRASH_FRAME_ENOTSUP;
    lqcrash_async_mobject fdeObject, cieObject;
    alignas(8) uint8_t fdeBytes[1024];
    alignas(8) uint8_t cieBytes[256];
    if (map_record(&fdeObject, task, fdeAddress, 4ull + fdeLength, fdeBytes, sizeof(fdeBytes)) != LQCRASH_ESUCCESS) {
        return LQCRASH_FRAME_ENOTSUP;
    }
    lqcrash_frame_error_t result = LQCRASH_FRAME_ENOTSUP;
    if (map_record(&cieObject, task, cieAddress, 4ull + cieLength, cieBytes, sizeof(cieBytes)) == LQCRASH_ESUCCESS) {
        lqcrash_async_dwarf_fde_info_t fde;
        if (lqcrash_async_dwarf_fde_info_init<uint64_t>(&fde, &fdeObject, byteorder, fdeAddress, false, &cieObject) ==
                LQCRASH_ESUCCESS &&
            pc >= fde.pc_start && pc < fde.pc_end) {
            result = apply_fde<uint64_t, int64_t>(task, &cieObject, &fdeObject, byteorder, pc, fde, current, next);
        }
        lqcrash_async_mobject_free(&cieObject);
    }
    lqcrash_async_mobject_free(&fdeObject);
    return result;
}

}  // namespace

lqcrash_frame_error_t lqcrash_dwarf_frame_reader(task_t task, lqcrash_async_image_list* image_list,
                                                 const lqcrash_async_thread_state* current_frame,
                                                 const lqcrash_async_thread_state* previous_frame,
                                                 lqcrash_async_thread_state* next_frame) {
    if (!lqcrash_async_thread_state_has_reg(current_frame, LQCRASH_REG_IP)) return LQCRASH_FRAME_EBADFRAME;
    pl_vm_address_t pc = lqcrash_async_thread_state_get_reg(current_frame, LQCRASH_REG_IP);
    if (pc == 0) return LQCRASH_FRAME_ENOTSUP;
    // A caller's pc is a return address: find the rules of the call itself
    // (after a call that never returns it lies in the next function).
    if (previous_frame) pc -= 1;
    lqcrash_async_image_list_set_reading(image_list, true);
    lqcrash_frame_error_t result = LQCRASH_FRAME_ENOTSUP;
    lqcrash_async_macho* image = lqcrash_image_list_image_for_address(image_list, pc);
    if (image && !lqcrash_async_thread_state_matches_cpu(current_frame, lqcrash_async_macho_cpu_type(image))) {
        image = nullptr;  // another architecture's call-frame rules say nothing about these registers
    }
    if (image && image->is_elf && image->m64 && image->elf.ehFrameIndexAddress != 0) {
        result = unwind_indexed(task, image, pc, current_frame, next_frame);
    } else if (image) {
        lqcrash_async_mobject mobj;
        bool debugFrame = false;
        lqcrash_error_t err = lqcrash_async_macho_map_section(image, "__TEXT", "__eh_frame", &mobj);
        if (err != LQCRASH_ESUCCESS) {
            err = lqcrash_async_macho_map_section(image, "__DWARF", "__debug_frame", &mobj);
            debugFrame = true;
        }
        if (err != LQCRASH_ESUCCESS) {
            result = LQCRASH_FRAME_ENOFRAME;
        } else {
            result = image->m64 ? unwind_section<uint64_t, int64_t>(task, &mobj, image->byteorder, debugFrame, pc,
                                                                    current_frame, next_frame)
                                : unwind_section<uint32_t, int32_t>(task, &mobj, image->byteorder, debugFrame, pc,
                                                                    current_frame, next_frame);
            lqcrash_async_mobject_free(&mobj);
        }
    }
    lqcrash_async_image_list_set_reading(image_list, false);
    return result;
}
