#include "LQCrashReporter/Source/LQCrashDwarfEncoding.h"

namespace lqcrash::DV::async {

bool decode_uleb128(const uint8_t** p, const uint8_t* end, uint64_t* result, bool* notsup) {
    uint64_t value = 0;
    unsigned shift = 0;
    const uint8_t* at = *p;
    for (;;) {
        // Ten bytes hold 64 bits: an eleventh is never read.
        if (shift >= 64) {
            *notsup = true;
            return false;
        }
        if (at >= end) return false;
        uint8_t byte = *at++;
        if (shift == 63 && (byte & 0x7E) != 0) {
            *notsup = true;
            return false;
        }
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80)) break;
    }
    *p = at;
    *result = value;
    return true;
}

bool decode_sleb128(const uint8_t** p, const uint8_t* end, int64_t* result, bool* notsup) {
    uint64_t value = 0;
    unsigned shift = 0;
    uint8_t byte;
    const uint8_t* at = *p;
    for (;;) {
        if (shift >= 64) {
            *notsup = true;
            return false;
        }
        if (at >= end) return false;
        byte = *at++;
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80)) break;
    }
    if (shift < 64 && (byte & 0x40)) value |= ~static_cast<uint64_t>(0) << shift;
    *p = at;
    *result = static_cast<int64_t>(value);
    return true;
}

namespace {

// Reads a LEB128 through the memory object, byte by byte.
template <bool Signed, typename T>
lqcrash_error_t read_leb(lqcrash_async_mobject* mobj, pl_vm_address_t location, pl_vm_off_t offset, T* result,
                         pl_vm_size_t* size) {
    // At most ten bytes are read: one that still continues after them makes
    // the value wider than 64 bits, whatever follows.
    uint8_t bytes[10];
    size_t n = 0;
    bool more = true;
    while (more && n < sizeof(bytes)) {
        if (lqcrash_async_mobject_read_uint8(mobj, location, offset + static_cast<pl_vm_off_t>(n), &bytes[n]) !=
            LQCRASH_ESUCCESS) {
            return LQCRASH_EINVAL;
        }
        more = (bytes[n++] & 0x80) != 0;
    }
    if (more) return LQCRASH_ENOTSUP;
    const uint8_t* p = bytes;
    bool notsup = false;
    bool ok;
    if constexpr (Signed) {
        ok = decode_sleb128(&p, bytes + n, result, &notsup);
    } else {
        ok = decode_uleb128(&p, bytes + n, result, &notsup);
    }
    if (!ok) return notsup ? LQCRASH_ENOTSUP : LQCRASH_EINVAL;
    if (size) *size = static_cast<pl_vm_size_t>(p - bytes);
    return LQCRASH_ESUCCESS;
}

// Reads an unsigned value of the given width through the memory object.
lqcrash_error_t read_width(lqcrash_async_mobject* mobj, const lqcrash_async_byteorder_t* bo, pl_vm_address_t location,
                           pl_vm_off_t offset, unsigned width, uint64_t* value) {
    switch (width) {
        case 1: {
            uint8_t v = 0;
            lqcrash_error_t err = lqcrash_async_mobject_read_uint8(mobj, location, offset, &v);
            *value = v;
            return err;
        }
        case 2: {
            uint16_t v = 0;
            lqcrash_error_t err = lqcrash_async_mobject_read_uint16(mobj, bo, location, offset, &v);
            *value = v;
            return err;
        }
        case 4: {
            uint32_t v = 0;
            lqcrash_error_t err = lqcrash_async_mobject_read_uint32(mobj, bo, location, offset, &v);
            *value = v;
            return err;
        }
        default:
            return lqcrash_async_mobject_read_uint64(mobj, bo, location, offset, value);
    }
}

// The length field of an entry: its value, the header size (4 or 12) and the
// width of the id field that follows (4 or 8).
lqcrash_error_t read_length(lqcrash_async_mobject* mobj, const lqcrash_async_byteorder_t* bo, pl_vm_address_t at,
                            uint64_t* length, pl_vm_size_t* header, unsigned* idWidth) {
    uint32_t small;
    if (lqcrash_async_mobject_read_uint32(mobj, bo, at, 0, &small) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
    if (small == 0xFFFFFFFFu) {
        if (lqcrash_async_mobject_read_uint64(mobj, bo, at, 4, length) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
        *header = 12;
        *idWidth = 8;
    } else {
        *length = small;
        *header = 4;
        *idWidth = 4;
    }
    return LQCRASH_ESUCCESS;
}

}  // namespace

lqcrash_error_t dwarf_read_uleb128(lqcrash_async_mobject* mobj, pl_vm_address_t location, pl_vm_off_t offset,
                                   uint64_t* result, pl_vm_size_t* size) {
    return read_leb<false>(mobj, location, offset, result, size);
}

lqcrash_error_t dwarf_read_sleb128(lqcrash_async_mobject* mobj, pl_vm_address_t location, pl_vm_off_t offset,
                                   int64_t* result, pl_vm_size_t* size) {
    return read_leb<true>(mobj, location, offset, result, size);
}

lqcrash_error_t dwarf_read_task_uleb128(task_t task, pl_vm_address_t location, pl_vm_off_t offset, uint64_t* result,
                                        pl_vm_size_t* size) {
    pl_vm_address_t target;
    if (!lqcrash_async_address_apply_offset(location, offset, &target)) return LQCRASH_EINVAL;
    lqcrash_async_mobject mobj;
    lqcrash_error_t err = lqcrash_async_mobject_init(&mobj, task, target, vm_page_size, false);
    if (err != LQCRASH_ESUCCESS) return err;
    err = read_leb<false>(&mobj, target, 0, result, size);
    lqcrash_async_mobject_free(&mobj);
    return err;
}

template <typename machine_ptr>
lqcrash_error_t gnu_ehptr_reader<machine_ptr>::read(lqcrash_async_mobject* mobj, pl_vm_address_t location,
                                                    pl_vm_off_t offset, uint8_t encoding, machine_ptr* result,
                                                    pl_vm_size_t* size) const {
    if (encoding == DW_EH_PE_omit) return LQCRASH_ENOTFOUND;
    pl_vm_address_t address;
    if (!lqcrash_async_address_apply_offset(location, offset, &address)) return LQCRASH_EINVAL;
    machine_ptr base = 0;
    pl_vm_size_t padding = 0;
    switch (encoding & 0x70) {
        case DW_EH_PE_absptr: break;
        case DW_EH_PE_pcrel: base = static_cast<machine_ptr>(address); break;
        case DW_EH_PE_textrel:
            if (!_text.valid) return LQCRASH_ENOTSUP;
            base = _text.address;
            break;
        case DW_EH_PE_datarel:
            if (!_data.valid) return LQCRASH_ENOTSUP;
            base = _data.address;
            break;
        case DW_EH_PE_funcrel:
            if (!_func.valid) return LQCRASH_ENOTSUP;
            base = _func.address;
            break;
        case DW_EH_PE_aligned: {
            if (!_frame_section.valid) return LQCRASH_ENOTSUP;
            // Align the position as measured in the section's VM addresses.
            pl_vm_address_t vmPosition = address - _frame_section.address + _frame_section.vm_address;
            pl_vm_address_t aligned = (vmPosition + sizeof(machine_ptr) - 1) & ~(sizeof(machine_ptr) - 1);
            padding = aligned - vmPosition;
            address += padding;
            break;
        }
        default:
            return LQCRASH_ENOTSUP;
    }
    uint64_t datum = 0;
    pl_vm_size_t datumSize = 0;
    lqcrash_error_t err;
    switch (encoding & 0x0F) {
        case DW_EH_PE_absptr:
            err = read_width(mobj, _byteorder, address, 0, sizeof(machine_ptr), &datum);
            datumSize = sizeof(machine_ptr);
            break;
        case DW_EH_PE_uleb128:
            err = dwarf_read_uleb128(mobj, address, 0, &datum, &datumSize);
            break;
        case DW_EH_PE_udata2:
            err = read_width(mobj, _byteorder, address, 0, 2, &datum);
            datumSize = 2;
            break;
        case DW_EH_PE_udata4:
            err = read_width(mobj, _byteorder, address, 0, 4, &datum);
            datumSize = 4;
            break;
        case DW_EH_PE_udata8:
            err = read_width(mobj, _byteorder, address, 0, 8, &datum);
            datumSize = 8;
            break;
        case DW_EH_PE_sleb128: {
            int64_t v = 0;
            err = dwarf_read_sleb128(mobj, address, 0, &v, &datumSize);
            datum = static_cast<uint64_t>(v);
            break;
        }
        case DW_EH_PE_sdata2:
            err = read_width(mobj, _byteorder, address, 0, 2, &datum);
            datum = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(datum)));
            datumSize = 2;
            break;
        case DW_EH_PE_sdata4:
            err = read_width(mobj, _byteorder, address, 0, 4, &datum);
            datum = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(datum)));
            datumSize = 4;
            break;
        case DW_EH_PE_sdata8:
            err = read_width(mobj, _byteorder, address, 0, 8, &datum);
            datumSize = 8;
            break;
        default:
            return LQCRASH_ENOTSUP;
    }
    if (err != LQCRASH_ESUCCESS) return err;
    machine_ptr value = static_cast<machine_ptr>(base + static_cast<machine_ptr>(datum));
    if (encoding & DW_EH_PE_indirect) {
        machine_ptr word;
        err = DVlqcrash_async_task_memcpy(mobj->task, value, 0, &word, sizeof(word));
        if (err != LQCRASH_ESUCCESS) return err;
        if constexpr (sizeof(machine_ptr) == 8) {
            value = _byteorder->swap64(word);
        } else {
            value = _byteorder->swap32(word);
        }
    }
    *result = value;
    if (size) *size = datumSize + padding;
    return LQCRASH_ESUCCESS;
}

template <typename machine_ptr>
lqcrash_error_t dwarf_opstream<machine_ptr>::init(lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder, pl_vm_address_t address,
                                                  pl_vm_off_t offset, pl_vm_size_t length) {
    _mobj = mobj;
    _byteorder = byteorder;
    if (offset < 0) return LQCRASH_EINVAL;
    pl_vm_address_t start;
    if (__builtin_add_overflow(address, static_cast<pl_vm_address_t>(offset), &start)) return LQCRASH_EINVAL;
    pl_vm_address_t end;
    if (__builtin_add_overflow(start, length, &end)) return LQCRASH_EINVAL;
    const uint8_t* local = static_cast<const uint8_t*>(
        lqcrash_async_mobject_remap_address(mobj, start, 0, static_cast<size_t>(length)));
    if (!local) return LQCRASH_EINVAL;
    _start = local;
    _p = local;
    _end = local + length;
    _task_start = start;
    return LQCRASH_ESUCCESS;
}

template class gnu_ehptr_reader<uint32_t>;
template class gnu_ehptr_reader<uint64_t>;
template class dwarf_opstream<uint32_t>;
template class dwarf_opstream<uint64_t>;

}  // namespace lqcrash::DV::async

using namespace lqcrash::DV::async;

lqcrash_error_t lqcrash_async_dwarf_frame_reader_init(lqcrash_async_dwarf_frame_reader_t* reader,
                                                      lqcrash_async_mobject* mobj,
                                                      const lqcrash_async_byteorder_t* byteorder, bool m64,
                                                      bool debug_frame) {
    reader->mobj = mobj;
    reader->byteorder = byteorder;
    reader->m64 = m64;
    reader->debug_frame = debug_frame;
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_dwarf_frame_reader_free(lqcrash_async_dwarf_frame_reader_t*) {}

lqcrash_error_t lqcrash_async_dwarf_frame_reader_find_fde(lqcrash_async_dwarf_frame_reader_t* reader,
                                                          pl_vm_off_t offset, pl_vm_address_t pc,
                                                          lqcrash_async_dwarf_fde_info_t* fde_info) {
    lqcrash_async_mobject* mobj = reader->mobj;
    const pl_vm_address_t start = mobj->task_address;
    const pl_vm_address_t end = start + mobj->length;
    pl_vm_address_t cursor;
    if (!lqcrash_async_address_apply_offset(start, offset, &cursor) || cursor >= end) return LQCRASH_EINVAL;
    while (cursor < end) {
        uint64_t length;
        pl_vm_size_t header;
        unsigned idWidth;
        if (read_length(mobj, reader->byteorder, cursor, &length, &header, &idWidth) != LQCRASH_ESUCCESS) {
            return LQCRASH_EINVAL;
        }
        if (length == 0) return LQCRASH_ENOTFOUND;
        pl_vm_address_t next;
        if (__builtin_add_overflow(cursor, header + length, &next)) return LQCRASH_EINVAL;
        uint64_t id;
        if (read_width(mobj, reader->byteorder, cursor, static_cast<pl_vm_off_t>(header), idWidth, &id) !=
            LQCRASH_ESUCCESS) {
            return LQCRASH_EINVAL;
        }
        uint64_t allOnes = idWidth == 8 ? ~0ull : 0xFFFFFFFFull;
        bool isCie = reader->debug_frame ? id == allOnes : id == 0;
        if (!isCie) {
            lqcrash_error_t err =
                reader->m64 ? lqcrash_async_dwarf_fde_info_init<uint64_t>(fde_info, mobj, reader->byteorder, cursor,
                                                                          reader->debug_frame)
                            : lqcrash_async_dwarf_fde_info_init<uint32_t>(fde_info, mobj, reader->byteorder, cursor,
                                                                          reader->debug_frame);
            // A damaged entry says nothing about the others: its length
            // still leads to the next one.
            if (err == LQCRASH_ESUCCESS && pc >= fde_info->pc_start && pc < fde_info->pc_end) {
                return LQCRASH_ESUCCESS;
            }
        }
        cursor = next;
    }
    return LQCRASH_ENOTFOUND;
}

template <typename machine_ptr>
lqcrash_error_t lqcrash_async_dwarf_fde_info_init(lqcrash_async_dwarf_fde_info_t* info, lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  pl_vm_address_t fde_address, bool debug_frame,
                                                  lqcrash_async_mobject* cie_mobj) {
    lqcrash_async_memset(info, 0, sizeof(*info));
    const pl_vm_address_t S = mobj->task_address;
    if (debug_frame && cie_mobj) return LQCRASH_EINVAL;  // its CIE pointer is an offset into the section
    lqcrash_async_mobject* cieObject = cie_mobj ? cie_mobj : mobj;
    uint64_t length;
    pl_vm_size_t H;
    unsigned idWidth;
    if (read_length(mobj, byteorder, fde_address, &length, &H, &idWidth) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
    info->fde_offset = fde_address - S + H;
    info->fde_length = length;
    uint64_t ciePointer;
    if (read_width(mobj, byteorder, fde_address, static_cast<pl_vm_off_t>(H), idWidth, &ciePointer) !=
        LQCRASH_ESUCCESS) {
        return LQCRASH_EINVAL;
    }
    pl_vm_address_t cieAddress;
    if (debug_frame) {
        bool negative = idWidth == 4 ? static_cast<int32_t>(ciePointer) < 0 : static_cast<int64_t>(ciePointer) < 0;
        if (negative || __builtin_add_overflow(S, ciePointer, &cieAddress)) return LQCRASH_EINVAL;
        info->cie_offset = ciePointer;
    } else {
        pl_vm_address_t fieldAddress = fde_address + H;
        if (ciePointer > fieldAddress) return LQCRASH_EINVAL;
        cieAddress = fieldAddress - ciePointer;
        if (cieAddress < cieObject->task_address) return LQCRASH_EINVAL;
        info->cie_offset = cieAddress - cieObject->task_address;
    }
    gnu_ehptr_reader<machine_ptr> ptrReader(byteorder);
    lqcrash_async_dwarf_cie_info_t cie;
    lqcrash_error_t err =
        lqcrash_async_dwarf_cie_info_init<machine_ptr>(&cie, cieObject, byteorder, &ptrReader, cieAddress);
    if (err != LQCRASH_ESUCCESS) return err;
    uint8_t encoding = (cie.has_eh_augmentation && cie.eh_augmentation.has_pointer_encoding)
                           ? cie.eh_augmentation.pointer_encoding
                           : static_cast<uint8_t>(DW_EH_PE_absptr);
    pl_vm_address_t position = fde_address + H + idWidth;
    machine_ptr pcStart, pcRange;
    pl_vm_size_t size;
    err = ptrReader.read(mobj, position, 0, encoding, &pcStart, &size);
    if (err != LQCRASH_ESUCCESS) return err;
    position += size;
    err = ptrReader.read(mobj, position, 0, encoding & 0x0F, &pcRange, &size);
    if (err != LQCRASH_ESUCCESS) return err;
    position += size;
    machine_ptr pcEnd;
    if (__builtin_add_overflow(pcStart, pcRange, &pcEnd)) return LQCRASH_EINVAL;
    info->pc_start = pcStart;
    info->pc_end = pcEnd;
    if (cie.has_eh_augmentation) {
        uint64_t augLength;
        err = dwarf_read_uleb128(mobj, position, 0, &augLength, &size);
        if (err != LQCRASH_ESUCCESS) return err;
        position += size + augLength;
    }
    info->instructions_offset = position - S;
    uint64_t consumed = info->instructions_offset - info->fde_offset;
    if (consumed > info->fde_length) return LQCRASH_EINVAL;
    info->instructions_length = info->fde_length - consumed;
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_dwarf_fde_info_free(lqcrash_async_dwarf_fde_info_t*) {}

template <typename machine_ptr>
lqcrash_error_t lqcrash_async_dwarf_cie_info_init(lqcrash_async_dwarf_cie_info_t* info, lqcrash_async_mobject* mobj,
                                                  const lqcrash_async_byteorder_t* byteorder,
                                                  gnu_ehptr_reader<machine_ptr>* ptr_reader, pl_vm_address_t address) {
    lqcrash_async_memset(info, 0, sizeof(*info));
    const pl_vm_address_t S = mobj->task_address;
    uint64_t length;
    pl_vm_size_t H;
    unsigned idWidth;
    if (read_length(mobj, byteorder, address, &length, &H, &idWidth) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
    info->cie_offset = address - S + H;
    info->cie_length = length;
    pl_vm_address_t bodyStart = address + H;
    uint64_t id;
    if (read_width(mobj, byteorder, bodyStart, 0, idWidth, &id) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
    uint64_t allOnes = idWidth == 8 ? ~0ull : 0xFFFFFFFFull;
    if (id != 0 && id != allOnes) return LQCRASH_EINVAL;
    info->cie_id = id;
    pl_vm_address_t position = bodyStart + idWidth;
    if (lqcrash_async_mobject_read_uint8(mobj, position, 0, &info->cie_version) != LQCRASH_ESUCCESS) {
        return LQCRASH_EINVAL;
    }
    if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4) return LQCRASH_EINVAL;
    position += 1;
    pl_vm_address_t augmentation = position;
    uint8_t c = 0;
    size_t augmentationLength = 0;
    for (;;) {
        if (lqcrash_async_mobject_read_uint8(mobj, position, 0, &c) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
        ++position;
        if (c == '\0') break;
        ++augmentationLength;
    }
    uint8_t first = 0;
    if (augmentationLength > 0) {
        lqcrash_async_mobject_read_uint8(mobj, augmentation, 0, &first);
        if (first != 'z') return LQCRASH_ENOTSUP;
        info->has_eh_augmentation = true;
    }
    if (info->cie_version == 4) {
        if (lqcrash_async_mobject_read_uint8(mobj, position, 0, &info->address_info.address_size) != LQCRASH_ESUCCESS ||
            lqcrash_async_mobject_read_uint8(mobj, position, 1, &info->address_info.segment_size) != LQCRASH_ESUCCESS) {
            return LQCRASH_EINVAL;
        }
        position += 2;
    }
    pl_vm_size_t size;
    lqcrash_error_t err = dwarf_read_uleb128(mobj, position, 0, &info->code_alignment_factor, &size);
    if (err != LQCRASH_ESUCCESS) return err;
    position += size;
    err = dwarf_read_sleb128(mobj, position, 0, &info->data_alignment_factor, &size);
    if (err != LQCRASH_ESUCCESS) return err;
    position += size;
    err = dwarf_read_uleb128(mobj, position, 0, &info->return_address_register, &size);
    if (err != LQCRASH_ESUCCESS) return err;
    position += size;
    if (info->has_eh_augmentation) {
        uint64_t dataLength;
        err = dwarf_read_uleb128(mobj, position, 0, &dataLength, &size);
        if (err != LQCRASH_ESUCCESS) return err;
        position += size;
        pl_vm_address_t data = position;
        pl_vm_address_t at = data;
        bool done = false;
        for (size_t i = 1; i < augmentationLength && !done; ++i) {
            lqcrash_async_mobject_read_uint8(mobj, augmentation, static_cast<pl_vm_off_t>(i), &c);
            switch (c) {
                case 'L':
                    if (lqcrash_async_mobject_read_uint8(mobj, at, 0, &info->eh_augmentation.lsda_encoding) !=
                        LQCRASH_ESUCCESS) {
                        return LQCRASH_EINVAL;
                    }
                    info->eh_augmentation.has_lsda_encoding = true;
                    at += 1;
                    break;
                case 'P': {
                    uint8_t encoding;
                    if (lqcrash_async_mobject_read_uint8(mobj, at, 0, &encoding) != LQCRASH_ESUCCESS) {
                        return LQCRASH_EINVAL;
                    }
                    at += 1;
                    machine_ptr personality = 0;
                    err = ptr_reader->read(mobj, at, 0, encoding, &personality, &size);
                    if (err != LQCRASH_ESUCCESS) return err;
                    at += size;
                    info->eh_augmentation.has_personality_address = true;
                    info->eh_augmentation.personality_address = personality;
                    break;
                }
                case 'R':
                    if (lqcrash_async_mobject_read_uint8(mobj, at, 0, &info->eh_augmentation.pointer_encoding) !=
                        LQCRASH_ESUCCESS) {
                        return LQCRASH_EINVAL;
                    }
                    info->eh_augmentation.has_pointer_encoding = true;
                    at += 1;
                    break;
                case 'S':
                    info->eh_augmentation.signal_frame = true;
                    break;
                default:
                    done = true;  // "M", "N", "O", "Q" and anything unknown end the walk
                    break;
            }
        }
        position = data + dataLength;
    }
    info->initial_instructions_offset = position - S;
    uint64_t consumed = position - bodyStart;
    if (consumed > info->cie_length) return LQCRASH_EINVAL;
    info->initial_instructions_length = info->cie_length - consumed;
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_dwarf_cie_info_free(lqcrash_async_dwarf_cie_info_t*) {}

template lqcrash_error_t lqcrash_async_dwarf_fde_info_init<uint32_t>(lqcrash_async_dwarf_fde_info_t*,
                                                                     lqcrash_async_mobject*,
                                                                     const lqcrash_async_byteorder_t*,
                                                                     pl_vm_address_t, bool, lqcrash_async_mobject*);
template lqcrash_error_t lqcrash_async_dwarf_fde_info_init<uint64_t>(lqcrash_async_dwarf_fde_info_t*,
                                                                     lqcrash_async_mobject*,
                                                                     const lqcrash_async_byteorder_t*,
                                                                     pl_vm_address_t, bool, lqcrash_async_mobject*);
template lqcrash_error_t lqcrash_async_dwarf_cie_info_init<uint32_t>(lqcrash_async_dwarf_cie_info_t*,
                                                                     lqcrash_async_mobject*,
                                                                     const lqcrash_async_byteorder_t*,
                                                                     gnu_ehptr_reader<uint32_t>*, pl_vm_address_t);
template lqcrash_error_t lqcrash_async_dwarf_cie_info_init<uint64_t>(lqcrash_async_dwarf_cie_info_t*,
                                                                     lqcrash_async_mobject*,
                                                                     const lqcrash_async_byteorder_t*,
                                                                     gnu_ehptr_reader<uint64_t>*, pl_vm_address_t);
