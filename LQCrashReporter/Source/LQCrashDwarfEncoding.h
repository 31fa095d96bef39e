#pragma once
// Reading DWARF call-frame information: LEB128 numbers, GNU encoded
// pointers, CIE and FDE records of __eh_frame / __debug_frame, the FDE
// search, and a bounded opcode stream over a program. Templated over the
// image's address width. Async-signal-safe; every byte read is bounds-checked
// against the mapped section.

#include <cstdint>
#include <type_traits>

#include "LQCrashReporter/Source/LQCrashAsyncMObject.h"
#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"

// Pointer encodings (DW_EH_PE_*).
enum : uint8_t {
    DW_EH_PE_absptr = 0x00,
    DW_EH_PE_uleb128 = 0x01,
    DW_EH_PE_udata2 = 0x02,
    DW_EH_PE_udata4 = 0x03,
    DW_EH_PE_udata8 = 0x04,
    DW_EH_PE_sleb128 = 0x09,
    DW_EH_PE_sdata2 = 0x0A,
    DW_EH_PE_sdata4 = 0x0B,
    DW_EH_PE_sdata8 = 0x0C,
    DW_EH_PE_pcrel = 0x10,
    DW_EH_PE_textrel = 0x20,
    DW_EH_PE_datarel = 0x30,
    DW_EH_PE_funcrel = 0x40,
    DW_EH_PE_aligned = 0x50,
    DW_EH_PE_indirect = 0x80,
    DW_EH_PE_omit = 0xFF,
};

struct lqcrash_async_dwarf_frame_reader_t {
    lqcrash_async_mobject* mobj;
    const lqcrash_async_byteorder_t* byteorder;
    bool m64;
    bool debug_frame;
};

struct lqcrash_async_dwarf_cie_info_t {
    pl_vm_address_t cie_offset;
    uint64_t cie_length;
    uint64_t cie_id;
    uint8_t cie_version;
    struct {
        uint8_t address_size;
        uint8_t segment_size;
    } address_info;
    uint64_t code_alignment_factor;
    int64_t data_alignment_factor;
    uint64_t return_address_register;
    bool has_eh_augmentation;
    struct {
        bool has_lsda_encoding;
        uint8_t lsda_encoding;
        bool has_personality_address;
        uint64_t personality_address;
        bool has_pointer_encoding;
        uint8_t pointer_encoding;
        bool signal_frame;
    } eh_augmentation;
    pl_vm_address_t initial_instructions_offset;
    pl_vm_size_t initial_instructions_length;
};

struct lqcrash_async_dwarf_fde_info_t {
    pl_vm_address_t fde_offset;
    uint64_t fde_length;
    pl_vm_address_t cie_offset;
    pl_vm_address_t pc_start;
    pl_vm_address_t pc_end;
    pl_vm_address_t instructions_offset;
    pl_vm_size_t instructions_length;
};

namespace lqcrash::DV::async {

// LEB128 read through a memory object, one byte at a time.
lqcrash_error_t dwarf_read_uleb128(lqcrash_async_mobject* mobj, pl_vm_address_t location, pl_vm_off_t offset,
                                   uint64_t* result, pl_vm_size_t* size);
lqcrash_error_t dwarf_read_sleb128(lqcrash_async_mobject* mobj, pl_vm_address_t location, pl_vm_off_t offset,
                                   int64_t* result, pl_vm_size_t* size);
// Unsigned LEB128 straight from task memory (maps one page at the address).
lqcrash_error_t dwarf_read_task_uleb128(task_t task, pl_vm_address_t location, pl_vm_off_t offset, uint64_t* result,
                                        pl_vm_size_t* size);
// The same decoders over local bytes [p, end); false past the end or on
// overflow (*notsup set for a value wider than 64 bits).
bool decode_uleb128(const uint8_t** p, const uint8_t* end, uint64_t* result, bool* notsup);
bool decode_sleb128(const uint8_t** p, const uint8_t* end, int64_t* result, bool* notsup);

template <typename machine_ptr>
class gnu_ehptr_reader {
public:
    explicit gnu_ehptr_reader(const lqcrash_async_byteorder_t* byteorder) : _byteorder(byteorder) {}

    void set_frame_section_base(machine_ptr frame_section_addr, machine_ptr vm_addr) {
        _frame_section = {true, frame_section_addr, vm_addr};
    }
    void set_text_base(machine_ptr base) { _text = {true, base}; }
    void set_data_base(machine_ptr base) { _data = {true, base}; }
    void set_func_base(machine_ptr base) { _func = {true, base}; }

    lqcrash_error_t read(lqcrash_async_mobject* mobj, pl_vm_address_t location, pl_vm_off_t offset,
                         uint8_t encoding, machine_ptr* result, pl_vm_size_t* size) const;

private:
    struct Base {
        bool valid = false;
        machine_ptr address = 0;
    };
    struct FrameBase {
        bool valid = false;
        machine_ptr address = 0;
        machine_ptr vm_address = 0;
    };
    const lqcrash_async_byteorder_t* _byteorder;
    FrameBase _frame_section;
    Base _text, _data, _func;
};

// A bounded stream over [section address + offset, + length) of a mapping.
template <typename machine_ptr>
class dwarf_opstream {
public:
    lqcrash_error_t init(lqcrash_async_mobject* mobj, const lqcrash_async_byteorder_t* byteorder,
                         pl_vm_address_t address, pl_vm_off_t offset, pl_vm_size_t length);

    template <typename V>
    bool read_intU(V* value) {
        if (static_cast<size_t>(_end - _p) < sizeof(V)) return false;
        V v;
        lqcrash_async_memcpy(&v, _p, sizeof(V));
        _p += sizeof(V);
        if constexpr (sizeof(V) == 2) {
            v = static_cast<V>(_byteorder->swap16(static_cast<uint16_t>(v)));
        } else if constexpr (sizeof(V) == 4) {
            v = static_cast<V>(_byteorder->swap32(static_cast<uint32_t>(v)));
        } else if constexpr (sizeof(V) == 8) {
            v = static_cast<V>(_byteorder->swap64(static_cast<uint64_t>(v)));
        }
        *value = v;
        return true;
    }
    // 0 success, LQCRASH_EINVAL past the end, LQCRASH_ENOTSUP wider than 64 bits.
    lqcrash_error_t read_uleb128(uint64_t* value) {
        bool notsup = false;
        if (!decode_uleb128(&_p, _end, value, &notsup)) return notsup ? LQCRASH_ENOTSUP : LQCRASH_EINVAL;
        return LQCRASH_ESUCCESS;
    }
    lqcrash_error_t read_sleb128(int64_t* value) {
        bool notsup = false;
        if (!decode_sleb128(&_p, _end, value, &notsup)) return notsup ? LQCRASH_ENOTSUP : LQCRASH_EINVAL;
        return LQCRASH_ESUCCESS;
    }
    bool skip(pl_vm_off_t count) {
        if (count >= 0 ? count > _end - _p : -count > _p - _start) return false;
        _p += count;
        return true;
    }
    // Moves to position (from the start); false outside [start, end].
    bool seek(pl_vm_off_t position) {
        if (position < 0 || position > _end - _start) return false;
        _p = _start + position;
        return true;
    }
    bool at_end() const { return _p >= _end; }
    pl_vm_off_t position() const { return _p - _start; }
    pl_vm_off_t length() const { return _end - _start; }
    // The task address of the current position.
    pl_vm_address_t task_position() const { return _task_start + static_cast<pl_vm_address_t>(_p - _start); }
    lqcrash_async_mobject* mobj() const { return _mobj; }

private:
    lqcrash_async_mobject* _mobj = nullptr;
    const lqcrash_async_byteorder_t* _byteorder = nullptr;
    const uint8_t* _start = nullptr;
    const uint8_t* _end = nullptr;
    const uint8_t* _p = nullptr;
    pl_vm_address_t _task_start = 0;
};

}  // namespace lqcrash::DV::async

lqcrash_error_t lqcrash_async_dwarf_frame_reader_init(lqcrash_async_dwarf_frame_reader_t* reader,
                                                      lqcrash_async_mobject* mobj,
                                                      const lqcrash_async_byteorder_t* byteorder, bool m64,
                                                      bool debug_frame);
lqcrash_error_t lqcrash_async_dwarf_frame_reader_find_fde(lqcrash_async_dwarf_frame_reader_t* reader,
                                                          pl_vm_off_t offset, pl_vm_address_t pc,
                                                          lqcrash_async_dwarf_fde_info_t* fde_info);
void lqcrash_async_dwarf_frame_reader_free(lqcrash_async_dwarf_frame_reader_t* reader);

// cie_mobj: where the FDE's CIE is mapped when not in mobj (an __eh_frame
// FDE only); its offset is then from that mapping's start.
template <typename machine_ptr>
lqcrash_error_t lqcrash_async_dwarf_fde_info_init(lqcrash_async_dwarf_fde_info_t* info, lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t fde_address, bool debug_frame,
                                                  lqcrash_async_mobject* cie_mobj = nullptr);
void lqcrash_async_dwarf_fde_info_free(lqcrash_async_dwarf_fde_info_t* info);

template <typename machine_ptr>
lqcrash_error_t lqcrash_async_dwarf_cie_info_init(lqcrash_async_dwarf_cie_info_t* info, lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  lqcrash::DV::async::gnu_ehptr_reader<machine_ptr>* ptr_reader,
                                                  pl_vm_address_t address);
void lqcrash_async_dwarf_cie_info_free(lqcrash_async_dwarf_cie_info_t* info);
