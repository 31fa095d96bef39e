#pragma once
// The register-rule table built by running a CIE's and an FDE's call-frame
// programs, and its application to a thread state. Fixed-size (6 levels,
// 100 pooled rule entries, 14 hash buckets a level); no heap.

#include "LQCrashReporter/Source/LQCrashAsyncThreadState.h"
#include "LQCrashReporter/Source/LQCrashDwarfEncoding.h"

typedef enum {
    LQCRASH_DWARF_CFA_REG_RULE_OFFSET = 0,
    LQCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET = 1,
    LQCRASH_DWARF_CFA_REG_RULE_REGISTER = 2,
    LQCRASH_DWARF_CFA_REG_RULE_EXPRESSION = 3,
    LQCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION = 4,
    LQCRASH_DWARF_CFA_REG_RULE_SAME_VALUE = 5,
    // DW_CFA_undefined: the caller's value is lost; on the return-address
    // column it marks the outermost frame.
    LQCRASH_DWARF_CFA_REG_RULE_UNDEFINED = 6,
} lqcrash_dwarf_cfa_reg_rule_t;

namespace lqcrash::DV::async {

enum dwarf_cfa_rule_type_t : uint8_t {
    DWARF_CFA_STATE_CFA_TYPE_UNDEFINED = 0,
    DWARF_CFA_STATE_CFA_TYPE_EXPRESSION = 1,
    DWARF_CFA_STATE_CFA_TYPE_REGISTER = 2,
    DWARF_CFA_STATE_CFA_TYPE_REGISTER_SIGNED = 3,
};

template <typename machine_ptr, typename machine_ptr_s>
struct dwarf_cfa_rule_t {
    dwarf_cfa_rule_type_t type = DWARF_CFA_STATE_CFA_TYPE_UNDEFINED;
    uint32_t reg = 0;
    machine_ptr offset = 0;  // also the signed offset, as its two's complement
    pl_vm_address_t expression_address = 0;
    pl_vm_size_t expression_length = 0;
};

template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state {
public:
    static constexpr uint8_t MAX_REGISTERS = 100;
    static constexpr uint8_t BUCKET_COUNT = 14;
    static constexpr uint8_t MAX_STATES = 6;
    static constexpr uint8_t EMPTY = 0xFF;

    dwarf_cfa_state();

    bool set_register(uint32_t regnum, lqcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value);
    bool get_register_rule(uint32_t regnum, lqcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value) const;
    void remove_register(uint32_t regnum);
    uint8_t get_register_count() const { return _register_count[_table_depth]; }

    void set_cfa_register(uint32_t regnum, machine_ptr offset);
    void set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset);
    void set_cfa_expression(pl_vm_address_t address, pl_vm_size_t length);
    dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> get_cfa_rule() const { return _cfa_value[_table_depth]; }
    void set_cfa_rule(const dwarf_cfa_rule_t<machine_ptr, machine_ptr_s>& rule) { _cfa_value[_table_depth] = rule; }

    bool push_state();
    bool pop_state();
    uint8_t depth() const { return _table_depth; }

    lqcrash_error_t eval_program(lqcrash_async_mobject* mobj, pl_vm_address_t pc, pl_vm_address_t initial_pc_value,
                                 lqcrash_async_dwarf_cie_info_t* cie_info,
                                 gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                 const lqcrash_async_byteorder_t* byteorder, pl_vm_address_t address,
                                 pl_vm_off_t offset, pl_vm_size_t length);
    lqcrash_error_t apply_state(task_t task, lqcrash_async_dwarf_cie_info_t* cie_info,
                                const lqcrash_async_thread_state* thread_state,
                                const lqcrash_async_byteorder_t* byteorder,
                                lqcrash_async_thread_state* new_thread_state);

    struct entry {
        machine_ptr value;
        uint32_t regnum;
        uint8_t rule;
        uint8_t next;
    };

private:
    template <typename M, typename S>
    friend class dwarf_cfa_state_iterator;

    // Returns every rule entry of the current level to the pool.
    void release_level();

    uint8_t _register_count[MAX_STATES];
    uint8_t _table_stack[MAX_STATES][BUCKET_COUNT];
    dwarf_cfa_rule_t<machine_ptr, machine_ptr_s> _cfa_value[MAX_STATES];
    uint8_t _table_depth;
    entry _entries[MAX_REGISTERS];
    uint8_t _free_list;
};

template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state_iterator {
public:
    explicit dwarf_cfa_state_iterator(const dwarf_cfa_state<machine_ptr, machine_ptr_s>* state)
        : _state(state), _bucket(0), _entry(state->_table_stack[state->_table_depth][0]) {}

    bool next(uint32_t* regnum, lqcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value) {
        using S = dwarf_cfa_state<machine_ptr, machine_ptr_s>;
        while (_entry == S::EMPTY) {
            if (++_bucket >= S::BUCKET_COUNT) return false;
            _entry = _state->_table_stack[_state->_table_depth][_bucket];
        }
        const auto& e = _state->_entries[_entry];
        *regnum = e.regnum;
        *rule = static_cast<lqcrash_dwarf_cfa_reg_rule_t>(e.rule);
        *value = e.value;
        _entry = e.next;
        return true;
    }

private:
    const dwarf_cfa_state<machine_ptr, machine_ptr_s>* _state;
    uint8_t _bucket;
    uint8_t _entry;
};

}  // namespace lqcrash::DV::async
