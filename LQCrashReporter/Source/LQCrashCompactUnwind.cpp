#include "LQCrashReporter/Source/LQCrashCompactUnwind.h"

#include "platform/machcompat/MachO.h"

namespace {

constexpr uint32_t kModeMask = 0x0F000000;
constexpr uint32_t kPageRegular = 2;
constexpr uint32_t kPageCompressed = 3;

// Index of the last of count entries whose key is <= target, or -1.
template <typename Key>
int64_t last_not_above(uint32_t count, pl_vm_address_t target, Key key) {
    if (count == 0 || key(0) > target) return -1;
    uint32_t low = 0, high = count - 1;
    while (low < high) {
        uint32_t mid = low + (high - low + 1) / 2;
        if (key(mid) <= target) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low;
}

lqcrash_error_t add_register(lqcrash_compact_unwind_entry* entry, uint32_t reg) {
    if (entry->register_count >= LQCRASH_ASYNC_CFE_SAVED_REGISTER_MAX) return LQCRASH_EINVAL;
    entry->register_list[entry->register_count++] = reg;
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t map_x86_register(int32_t cputype, uint32_t code, uint32_t* reg) {
    static const uint32_t x86_64[] = {LQCRASH_REG_INVALID, LQCRASH_X86_64_RBX, LQCRASH_X86_64_R12, LQCRASH_X86_64_R13,
                                      LQCRASH_X86_64_R14,  LQCRASH_X86_64_R15, LQCRASH_REG_FP};
    static const uint32_t x86[] = {LQCRASH_REG_INVALID, 6, 5, 4, 8, 7, 1};
    if (code > 6) return LQCRASH_EINVAL;
    *reg = cputype == CPU_TYPE_X86_64 ? x86_64[code] : x86[code];
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t decode_permutation(lqcrash_compact_unwind_entry* entry, uint32_t count, uint32_t permutation) {
    if (count > 6) return LQCRASH_EINVAL;
    uint32_t digits[6] = {0, 0, 0, 0, 0, 0};
    uint32_t p = permutation;
    switch (count) {
        case 6:
        case 5:
            digits[0] = p / 120;
            p %= 120;
            digits[1] = p / 24;
            p %= 24;
            digits[2] = p / 6;
            p %= 6;
            digits[3] = p / 2;
            digits[4] = p % 2;
            break;
        case 4:
            digits[0] = p / 60;
            p %= 60;
            digits[1] = p / 12;
            p %= 12;
            digits[2] = p / 3;
            digits[3] = p % 3;
            break;
        case 3:
            digits[0] = p / 20;
            p %= 20;
            digits[1] = p / 4;
            digits[2] = p % 4;
            break;
        case 2:
            digits[0] = p / 5;
            digits[1] = p % 5;
            break;
        case 1:
            digits[0] = p;
            break;
        default:
            break;
    }
    bool used[7] = {false, false, false, false, false, false, false};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t seen = 0;
        uint32_t code = 0;
        for (uint32_t c = 1; c <= 6; ++c) {
            if (used[c]) continue;
            if (seen == digits[i]) {
                code = c;
                break;
            }
            ++seen;
        }
        if (code == 0) return LQCRASH_EINVAL;
        used[code] = true;
        uint32_t reg;
        if (map_x86_register(entry->cputype, code, &reg) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
        lqcrash_error_t err = add_register(entry, reg);
        if (err != LQCRASH_ESUCCESS) return err;
    }
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t init_arm64(lqcrash_compact_unwind_entry* entry, uint32_t encoding) {
    uint32_t mode = encoding & kModeMask;
    auto pairs = [&]() -> lqcrash_error_t {
        static const uint32_t regs[5][2] = {
            {LQCRASH_ARM64_X0 + 20, LQCRASH_ARM64_X0 + 19},  // bit 0: x20, x19
            {LQCRASH_ARM64_X0 + 22, LQCRASH_ARM64_X0 + 21},
            {LQCRASH_ARM64_X0 + 24, LQCRASH_ARM64_X0 + 23},
            {LQCRASH_ARM64_X0 + 26, LQCRASH_ARM64_X0 + 25},
            {LQCRASH_ARM64_X0 + 28, LQCRASH_ARM64_X0 + 27},  // bit 4: x28, x27
        };
        for (int bit = 4; bit >= 0; --bit) {
            if (!(encoding & (1u << bit))) continue;
            if (add_register(entry, regs[bit][0]) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
            if (add_register(entry, regs[bit][1]) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
        }
        return LQCRASH_ESUCCESS;
    };
    switch (mode) {
        case 0:
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_NONE;
            return LQCRASH_ESUCCESS;
        case 0x02000000:
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD;
            entry->stack_offset = static_cast<int64_t>(((encoding >> 12) & 0xFFF) * 16);
            entry->return_address_register = LQCRASH_ARM64_LR;
            return pairs();
        case 0x03000000:
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF;
            entry->stack_offset = encoding & 0x00FFFFFF;
            return LQCRASH_ESUCCESS;
        case 0x04000000: {
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR;
            lqcrash_error_t err = pairs();
            if (err != LQCRASH_ESUCCESS) return err;
            entry->stack_offset = -static_cast<int64_t>(8 * entry->register_count);
            return LQCRASH_ESUCCESS;
        }
        default:
            return LQCRASH_ENOTSUP;
    }
}

lqcrash_error_t init_x86(lqcrash_compact_unwind_entry* entry, uint32_t encoding) {
    uint32_t mode = encoding & kModeMask;
    int64_t unit = entry->cputype == CPU_TYPE_X86_64 ? 8 : 4;
    switch (mode) {
        case 0:
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_NONE;
            return LQCRASH_ESUCCESS;
        case 0x01000000: {
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR;
            entry->stack_offset = -static_cast<int64_t>((encoding >> 16) & 0xFF) * unit;
            uint32_t regs = encoding & 0x7FFF;
            for (uint32_t i = 0; i < 5 && (regs >> (3 * i)) != 0; ++i) {
                uint32_t reg;
                if (map_x86_register(entry->cputype, (regs >> (3 * i)) & 7, &reg) != LQCRASH_ESUCCESS) {
                    return LQCRASH_EINVAL;
                }
                if (add_register(entry, reg) != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
            }
            return LQCRASH_ESUCCESS;
        }
        case 0x02000000:
        case 0x03000000: {
            if (mode == 0x02000000) {
                entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD;
                entry->stack_offset = static_cast<int64_t>((encoding >> 16) & 0xFF) * unit;
            } else {
                entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT;
                entry->stack_offset = (encoding >> 16) & 0xFF;
                entry->stack_adjust = static_cast<uint32_t>(((encoding >> 13) & 7) * unit);
            }
            uint32_t count = (encoding >> 10) & 7;
            if (count > 6) return LQCRASH_EINVAL;
            return decode_permutation(entry, count, encoding & 0x3FF);
        }
        case 0x04000000:
            entry->type = LQCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF;
            entry->stack_offset = encoding & 0x00FFFFFF;
            return LQCRASH_ESUCCESS;
        default:
            return LQCRASH_ENOTSUP;
    }
}

lqcrash_error_t read_word(task_t task, pl_vm_address_t address, uint64_t width, uint64_t* value) {
    if (width == 4) {
        uint32_t v;
        lqcrash_error_t err = DVlqcrash_async_task_memcpy(task, address, 0, &v, 4);
        *value = v;
        return err;
    }
    return DVlqcrash_async_task_memcpy(task, address, 0, value, 8);
}

}  // namespace

lqcrash_error_t lqcrash_compact_unwind_reader_init(lqcrash_compact_unwind_reader* reader, lqcrash_async_mobject* mobj,
                                                   int32_t cputype) {
    lqcrash_async_memset(reader, 0, sizeof(*reader));
    reader->mobj = mobj;
    reader->cputype = cputype;
    reader->byteorder = DVlqcrash_async_byteorder_direct();
    if (cputype != CPU_TYPE_X86 && cputype != CPU_TYPE_X86_64 && cputype != CPU_TYPE_ARM64) return LQCRASH_ENOTSUP;
    const void* header = lqcrash_async_mobject_remap_address(mobj, mobj->task_address, 0,
                                                             sizeof(lqcrash_compact_unwind_header));
    if (!header) return LQCRASH_EINVAL;
    lqcrash_async_memcpy(&reader->header, header, sizeof(reader->header));
    if (reader->header.version != 1) return LQCRASH_ENOTSUP;
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t lqcrash_compact_unwind_reader_find_pc(lqcrash_compact_unwind_reader* reader, pl_vm_address_t pc,
                                                      pl_vm_address_t* function_base, uint32_t* encoding) {
    lqcrash_async_mobject* mobj = reader->mobj;
    const pl_vm_address_t base = mobj->task_address;
    const lqcrash_async_byteorder_t* bo = reader->byteorder;
    const lqcrash_compact_unwind_header& h = reader->header;

    const uint8_t* common = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(
        mobj, base, h.commonEncodingsArraySectionOffset, static_cast<size_t>(h.commonEncodingsArrayCount) * 4));
    if (!common && h.commonEncodingsArrayCount > 0) return LQCRASH_EINVAL;
    if (h.indexCount <= 1) return LQCRASH_ENOTFOUND;
    uint32_t firstCount = h.indexCount - 1;
    const uint8_t* first = static_cast<const uint8_t*>(
        lqcrash_async_mobject_remap_address(mobj, base, h.indexSectionOffset, static_cast<size_t>(firstCount) * 12));
    if (!first) return LQCRASH_EINVAL;
    auto u32 = [&](const uint8_t* p) {
        uint32_t v;
        lqcrash_async_memcpy(&v, p, 4);
        return bo->swap32(v);
    };
    auto u16 = [&](const uint8_t* p) {
        uint16_t v;
        lqcrash_async_memcpy(&v, p, 2);
        return bo->swap16(v);
    };

    int64_t index = last_not_above(firstCount, pc, [&](uint32_t i) { return u32(first + 12 * i); });
    if (index < 0) return LQCRASH_ENOTFOUND;
    const uint8_t* firstEntry = first + 12 * index;
    uint32_t firstFunction = u32(firstEntry);
    uint32_t pageOffset = u32(firstEntry + 4);

    const uint8_t* kindPtr = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(mobj, base, pageOffset, 4));
    if (!kindPtr) return LQCRASH_EINVAL;
    uint32_t kind = u32(kindPtr);
    if (kind == kPageCompressed) {
        const uint8_t* page = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(mobj, base, pageOffset, 12));
        if (!page) return LQCRASH_EINVAL;
        uint16_t entriesOffset = u16(page + 4), entryCount = u16(page + 6);
        uint16_t encodingsOffset = u16(page + 8), encodingsCount = u16(page + 10);
        const uint8_t* entries = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(
            mobj, base, static_cast<pl_vm_off_t>(pageOffset) + entriesOffset, static_cast<size_t>(entryCount) * 4));
        if (!entries) return LQCRASH_EINVAL;
        int64_t i = last_not_above(entryCount, pc, [&](uint32_t k) {
            return static_cast<pl_vm_address_t>(u32(entries + 4 * k) & 0x00FFFFFF) + firstFunction;
        });
        if (i < 0) return LQCRASH_ENOTFOUND;
        uint32_t entry = u32(entries + 4 * i);
        *function_base = static_cast<pl_vm_address_t>(entry & 0x00FFFFFF) + firstFunction;
        uint32_t encodingIndex = entry >> 24;
        if (encodingIndex < h.commonEncodingsArrayCount) {
            *encoding = u32(common + 4 * encodingIndex);
            return LQCRASH_ESUCCESS;
        }
        encodingIndex -= h.commonEncodingsArrayCount;
        if (encodingIndex >= encodingsCount) return LQCRASH_EINVAL;
        const uint8_t* encodings = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(
            mobj, base, static_cast<pl_vm_off_t>(pageOffset) + encodingsOffset, static_cast<size_t>(encodingsCount) * 4));
        if (!encodings) return LQCRASH_EINVAL;
        *encoding = u32(encodings + 4 * encodingIndex);
        return LQCRASH_ESUCCESS;
    }
    if (kind == kPageRegular) {
        const uint8_t* page = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(mobj, base, pageOffset, 8));
        if (!page) return LQCRASH_EINVAL;
        uint16_t entriesOffset = u16(page + 4), entryCount = u16(page + 6);
        const uint8_t* entries = static_cast<const uint8_t*>(lqcrash_async_mobject_remap_address(
            mobj, base, static_cast<pl_vm_off_t>(pageOffset) + entriesOffset, static_cast<size_t>(entryCount) * 8));
        if (!entries) return LQCRASH_EINVAL;
        int64_t i = last_not_above(entryCount, pc, [&](uint32_t k) { return u32(entries + 8 * k); });
        if (i < 0) return LQCRASH_ENOTFOUND;
        *function_base = u32(entries + 8 * i);
        *encoding = u32(entries + 8 * i + 4);
        return LQCRASH_ESUCCESS;
    }
    return LQCRASH_EINVAL;
}

void lqcrash_compact_unwind_reader_free(lqcrash_compact_unwind_reader*) {}

lqcrash_error_t lqcrash_compact_unwind_entry_init(lqcrash_compact_unwind_entry* entry, int32_t cputype,
                                                  uint32_t encoding) {
    lqcrash_async_memset(entry, 0, sizeof(*entry));
    entry->cputype = cputype;
    entry->stack_adjust = 0;
    entry->return_address_register = LQCRASH_REG_INVALID;
    switch (cputype) {
        case CPU_TYPE_ARM64: return init_arm64(entry, encoding);
        case CPU_TYPE_X86:
        case CPU_TYPE_X86_64: return init_x86(entry, encoding);
        default: return LQCRASH_ENOTSUP;
    }
}

lqcrash_error_t lqcrash_compact_unwind_entry_apply(task_t task, pl_vm_address_t function_address,
                                                   const lqcrash_async_thread_state* thread_state,
                                                   const lqcrash_compact_unwind_entry* entry,
                                                   lqcrash_async_thread_state* new_thread_state) {
    const uint64_t W = lqcrash_async_thread_state_get_greg_size(thread_state);
    lqcrash_async_thread_state_copy(new_thread_state, thread_state);
    lqcrash_async_thread_state_clear_volatile_regs(new_thread_state);
    pl_vm_address_t area = 0;
    switch (entry->type) {
        case LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR: {
            if (!lqcrash_async_thread_state_has_reg(thread_state, LQCRASH_REG_FP)) return LQCRASH_ENOTFOUND;
            pl_vm_address_t fp = lqcrash_async_thread_state_get_reg(thread_state, LQCRASH_REG_FP);
            pl_vm_address_t callerSp;
            if (__builtin_add_overflow(fp, 2 * W, &callerSp)) return LQCRASH_EINVAL;
            uint64_t callerFp, pc;
            lqcrash_error_t err = read_word(task, fp, W, &callerFp);
            if (err == LQCRASH_ESUCCESS) err = read_word(task, fp + W, W, &pc);
            if (err != LQCRASH_ESUCCESS) return err;
            if (!lqcrash_async_address_apply_offset(fp, entry->stack_offset, &area)) return LQCRASH_EINVAL;
            lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_FP, callerFp);
            lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_IP, pc);
            lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_SP, callerSp);
            break;
        }
        case LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD:
        case LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT: {
            if (!lqcrash_async_thread_state_has_reg(thread_state, LQCRASH_REG_SP)) return LQCRASH_ENOTFOUND;
            pl_vm_address_t sp = lqcrash_async_thread_state_get_reg(thread_state, LQCRASH_REG_SP);
            uint64_t stackSize;
            if (entry->type == LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD) {
                stackSize = static_cast<uint64_t>(entry->stack_offset);
            } else {
                uint32_t immediate;
                lqcrash_error_t err =
                    DVlqcrash_async_task_memcpy(task, function_address, entry->stack_offset, &immediate, 4);
                if (err != LQCRASH_ESUCCESS) return err;
                stackSize = static_cast<uint64_t>(immediate) + entry->stack_adjust;
            }
            pl_vm_address_t callerSp;
            if (__builtin_add_overflow(sp, stackSize, &callerSp)) return LQCRASH_EINVAL;
            uint64_t pc;
            if (entry->return_address_register != LQCRASH_REG_INVALID) {
                if (!lqcrash_async_thread_state_has_reg(thread_state, entry->return_address_register)) {
                    return LQCRASH_ENOTFOUND;
                }
                pc = lqcrash_async_thread_state_get_reg(thread_state, entry->return_address_register);
                area = callerSp - W * entry->register_count;
            } else {
                lqcrash_error_t err = read_word(task, callerSp - W, W, &pc);
                if (err != LQCRASH_ESUCCESS) return err;
                area = callerSp - W - W * entry->register_count;
            }
            lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_IP, pc);
            lqcrash_async_thread_state_set_reg(new_thread_state, LQCRASH_REG_SP, callerSp);
            break;
        }
        default:
            return LQCRASH_ENOTSUP;
    }
    for (uint32_t i = 0; i < entry->register_count; ++i) {
        uint64_t value;
        if (entry->register_list[i] == LQCRASH_REG_INVALID) continue;
        lqcrash_error_t err = read_word(task, area + W * i, W, &value);
        if (err != LQCRASH_ESUCCESS) return err;
        if (entry->register_list[i] < lqcrash_async_thread_state_get_reg_count(new_thread_state)) {
            lqcrash_async_thread_state_set_reg(new_thread_state, entry->register_list[i], value);
        }
    }
    return LQCRASH_ESUCCESS;
}

lqcrash_frame_error_t lqcrash_compact_unwind_frame_reader(task_t task, lqcrash_async_image_list* image_list,
                                                          const lqcrash_async_thread_state* current_frame,
                                                          const lqcrash_async_thread_state* previous_frame,
                                                          lqcrash_async_thread_state* next_frame) {
    if (!lqcrash_async_thread_state_has_reg(current_frame, LQCRASH_REG_IP)) return LQCRASH_FRAME_EBADFRAME;
    pl_vm_address_t pc = lqcrash_async_thread_state_get_reg(current_frame, LQCRASH_REG_IP);
    if (pc == 0) return LQCRASH_FRAME_ENOTSUP;
    // A caller's pc is a return address: after a call that never returns it
    // already lies in the next function, so look up the call itself.
    if (previous_frame) pc -= 1;
    lqcrash_async_image_list_set_reading(image_list, true);
    lqcrash_frame_error_t result = LQCRASH_FRAME_ENOTSUP;
    lqcrash_async_macho* image = lqcrash_image_list_image_for_address(image_list, pc);
    if (image && !lqcrash_async_thread_state_matches_cpu(current_frame, lqcrash_async_macho_cpu_type(image))) {
        image = nullptr;  // another architecture's unwind data says nothing about these registers
    }
    if (image) {
        lqcrash_async_mobject mobj;
        if (lqcrash_async_macho_map_section(image, "__TEXT", "__unwind_info", &mobj) == LQCRASH_ESUCCESS) {
            lqcrash_compact_unwind_reader reader;
            lqcrash_compact_unwind_entry entry;
            pl_vm_address_t functionOffset = 0;
            uint32_t encoding = 0;
            pl_vm_address_t functionAddress;
            if (lqcrash_compact_unwind_reader_init(&reader, &mobj, lqcrash_async_macho_cpu_type(image)) !=
                LQCRASH_ESUCCESS) {
                result = LQCRASH_FRAME_EINVAL;
            } else if (lqcrash_compact_unwind_reader_find_pc(&reader, pc - image->header_addr, &functionOffset,
                                                             &encoding) != LQCRASH_ESUCCESS ||
                       lqcrash_compact_unwind_entry_init(&entry, lqcrash_async_macho_cpu_type(image), encoding) !=
                           LQCRASH_ESUCCESS) {
                result = LQCRASH_FRAME_ENOTSUP;
            } else if (entry.type == LQCRASH_ASYNC_CFE_ENTRY_TYPE_NONE) {
                result = LQCRASH_FRAME_ENOFRAME;
            } else if (__builtin_add_overflow(image->header_addr, functionOffset, &functionAddress)) {
                result = LQCRASH_FRAME_EINVAL;
            } else if (lqcrash_compact_unwind_entry_apply(task, functionAddress, current_frame, &entry, next_frame) !=
                       LQCRASH_ESUCCESS) {
                result = LQCRASH_FRAME_ENOFRAME;
            } else {
                result = LQCRASH_FRAME_ESUCCESS;
            }
            lqcrash_compact_unwind_reader_free(&reader);
            lqcrash_async_mobject_free(&mobj);
        }
    }
    lqcrash_async_image_list_set_reading(image_list, false);
    return result;
}
