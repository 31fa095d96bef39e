#include "LQCrashReporter/Source/LQCrashAsyncMachO.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kSegment64Size = sizeof(segment_command_64);
constexpr size_t kSegment32Size = sizeof(segment_command);

void release(lqcrash_async_macho* image) {
    lqcrash_async_mobject_free(&image->load_cmds);
    std::free(image->name);
    image->name = nullptr;
    mach_port_mod_refs(mach_task_self(), image->task, MACH_PORT_RIGHT_SEND, -1);
}

lqcrash_error_t init_elf(lqcrash_async_macho* image, pl_vm_address_t header) {
    if (mach::elf::readImageInfo(image->task, header, &image->elf) != KERN_SUCCESS) return LQCRASH_EINVAL;
    image->is_elf = true;
    image->m64 = image->elf.is64;
    image->byteorder = DVlqcrash_async_byteorder_direct();
    image->header.cputype = image->elf.cpuType;
    image->header.cpusubtype = image->elf.cpuSubtype;
    image->vmaddr_slide = static_cast<pl_vm_off_t>(image->elf.loadBias);
    image->text_vmaddr = header - image->elf.loadBias;
    image->text_size = image->elf.textSize;
    return LQCRASH_ESUCCESS;
}

// The segment command's fields, whatever the image's width.
struct SegmentFields {
    pl_vm_address_t vmaddr;
    pl_vm_size_t vmsize;
    pl_vm_address_t fileoff;
    pl_vm_size_t filesize;
    uint32_t nsects;
};

SegmentFields segment_fields(lqcrash_async_macho* image, const void* cmd) {
    const lqcrash_async_byteorder_t* bo = image->byteorder;
    SegmentFields f;
    if (image->m64) {
        segment_command_64 seg;
        lqcrash_async_memcpy(&seg, cmd, sizeof(seg));
        f = {bo->swap64(seg.vmaddr), bo->swap64(seg.vmsize), bo->swap64(seg.fileoff), bo->swap64(seg.filesize),
             bo->swap32(seg.nsects)};
    } else {
        segment_command seg;
        lqcrash_async_memcpy(&seg, cmd, sizeof(seg));
        f = {bo->swap32(seg.vmaddr), bo->swap32(seg.vmsize), bo->swap32(seg.fileoff), bo->swap32(seg.filesize),
             bo->swap32(seg.nsects)};
    }
    return f;
}

}  // namespace

lqcrash_error_t lqcrash_async_macho_init(lqcrash_async_macho* image, task_t task, const char* name,
                                         pl_vm_address_t header) {
    lqcrash_async_memset(image, 0, sizeof(*image));
    image->task = task;
    image->header_addr = header;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
    image->name = strdup(name ? name : "");

    uint8_t raw[sizeof(mach_header)];
    if (DVlqcrash_async_task_memcpy(task, header, 0, raw, sizeof(raw)) != LQCRASH_ESUCCESS) {
        release(image);
        return LQCRASH_EINTERNAL;
    }
    if (std::memcmp(raw, mach::elf::kMagic, 4) == 0) {
        lqcrash_error_t err = init_elf(image, header);
        if (err != LQCRASH_ESUCCESS) release(image);
        return err;
    }
    lqcrash_async_memcpy(&image->header, raw, sizeof(raw));
    switch (image->header.magic) {
        case MH_MAGIC:
            image->m64 = false;
            image->byteorder = DVlqcrash_async_byteorder_direct();
            break;
        case MH_MAGIC_64:
            image->m64 = true;
            image->byteorder = DVlqcrash_async_byteorder_direct();
            break;
        case MH_CIGAM:
            image->m64 = false;
            image->byteorder = DVlqcrash_async_byteorder_swapped();
            break;
        case MH_CIGAM_64:
            image->m64 = true;
            image->byteorder = DVlqcrash_async_byteorder_swapped();
            break;
        default:
            release(image);
            return LQCRASH_EINVAL;
    }
    image->header_size = image->m64 ? sizeof(mach_header_64) : sizeof(mach_header);
    image->ncmds = image->byteorder->swap32(image->header.ncmds);
    uint32_t sizeofcmds = image->byteorder->swap32(image->header.sizeofcmds);
    lqcrash_error_t err = lqcrash_async_mobject_init(&image->load_cmds, task, header + image->header_size, sizeofcmds,
                                                     true);
    if (err != LQCRASH_ESUCCESS) {
        release(image);
        return err;
    }

    uint32_t segmentCmd = image->m64 ? LC_SEGMENT_64 : LC_SEGMENT;
    size_t segmentSize = image->m64 ? kSegment64Size : kSegment32Size;
    bool found = false;
    for (void* cmd = lqcrash_async_macho_next_command(image, nullptr); cmd;
         cmd = lqcrash_async_macho_next_command(image, cmd)) {
        uint32_t type = image->byteorder->swap32(static_cast<load_command*>(cmd)->cmd);
        if (type != segmentCmd) continue;
        if (!lqcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                        segmentSize)) {
            release(image);
            return LQCRASH_EINVAL;
        }
        const char* segname = static_cast<const char*>(cmd) + 8;
        if (lqcrash_async_strncmp(segname, "__TEXT", 16) != 0) continue;
        SegmentFields f = segment_fields(image, cmd);
        image->text_vmaddr = f.vmaddr;
        image->text_size = f.vmsize;
        image->vmaddr_slide = static_cast<pl_vm_off_t>(header - f.vmaddr);
        found = true;
        break;
    }
    if (!found) {
        release(image);
        return LQCRASH_EINVAL;
    }
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_macho_free(lqcrash_async_macho* image) {
    if (image->name == nullptr && image->load_cmds.vm_address == 0 && image->task == 0) return;
    release(image);
    image->task = MACH_PORT_NULL;
}

bool lqcrash_async_macho_contains_address(lqcrash_async_macho* image, pl_vm_address_t address) {
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

int32_t lqcrash_async_macho_cpu_type(lqcrash_async_macho* image) {
    return static_cast<int32_t>(image->byteorder->swap32(static_cast<uint32_t>(image->header.cputype)));
}

int32_t lqcrash_async_macho_cpu_subtype(lqcrash_async_macho* image) {
    return static_cast<int32_t>(image->byteorder->swap32(static_cast<uint32_t>(image->header.cpusubtype)));
}

bool lqcrash_async_macho_uuid(lqcrash_async_macho* image, uint8_t uuid[16]) {
    if (image->is_elf) {
        if (image->elf.buildIdLength == 0) return false;
        lqcrash_async_memset(uuid, 0, 16);
        uint32_t n = image->elf.buildIdLength < 16 ? image->elf.buildIdLength : 16;
        lqcrash_async_memcpy(uuid, image->elf.buildId, n);
        return true;
    }
    void* cmd = lqcrash_async_macho_find_command(image, LC_UUID);
    if (!cmd || !lqcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0,
                                                            sizeof(uuid_command))) {
        return false;
    }
    lqcrash_async_memcpy(uuid, static_cast<const uint8_t*>(cmd) + 8, 16);
    return true;
}

void* lqcrash_async_macho_next_command(lqcrash_async_macho* image, void* previous) {
    if (image->is_elf) return nullptr;
    lqcrash_async_mobject* cmds = &image->load_cmds;
    uintptr_t next;
    if (!previous) {
        if (image->byteorder->swap32(image->header.sizeofcmds) < sizeof(load_command)) return nullptr;
        next = cmds->address;
    } else {
        uint32_t cmdsize = image->byteorder->swap32(static_cast<load_command*>(previous)->cmdsize);
        if (cmdsize < sizeof(load_command)) return nullptr;
        if (__builtin_add_overflow(reinterpret_cast<uintptr_t>(previous), static_cast<uintptr_t>(cmdsize), &next)) {
            return nullptr;
        }
        if (next >= cmds->address + cmds->length) return nullptr;
    }
    if (!lqcrash_async_mobject_verify_local_pointer(cmds, next, 0, sizeof(load_command))) return nullptr;
    uint32_t cmdsize = image->byteorder->swap32(reinterpret_cast<load_command*>(next)->cmdsize);
    if (!lqcrash_async_mobject_verify_local_pointer(cmds, next, 0, cmdsize)) return nullptr;
    return reinterpret_cast<void*>(next);
}

void* lqcrash_async_macho_next_command_type(lqcrash_async_macho* image, void* previous, uint32_t expectedCommand) {
    for (void* cmd = lqcrash_async_macho_next_command(image, previous); cmd;
         cmd = lqcrash_async_macho_next_command(image, cmd)) {
        if (image->byteorder->swap32(static_cast<load_command*>(cmd)->cmd) == expectedCommand) return cmd;
    }
    return nullptr;
}

void* lqcrash_async_macho_find_command(lqcrash_async_macho* image, uint32_t cmd) {
    return lqcrash_async_macho_next_command_type(image, nullptr, cmd);
}

void* lqcrash_async_macho_find_segment_cmd(lqcrash_async_macho* image, const char* segname) {
    uint32_t type = image->m64 ? LC_SEGMENT_64 : LC_SEGMENT;
    size_t size = image->m64 ? kSegment64Size : kSegment32Size;
    for (void* cmd = lqcrash_async_macho_next_command_type(image, nullptr, type); cmd;
         cmd = lqcrash_async_macho_next_command_type(image, cmd, type)) {
        if (!lqcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0, size)) {
            return nullptr;
        }
        if (lqcrash_async_strncmp(static_cast<const char*>(cmd) + 8, segname, 16) == 0) return cmd;
    }
    return nullptr;
}

lqcrash_error_t lqcrash_async_macho_map_segment(lqcrash_async_macho* image, const char* segname,
                                                lqcrash_async_macho_mapped_segment_t* seg) {
    void* cmd = lqcrash_async_macho_find_segment_cmd(image, segname);
    if (!cmd) return LQCRASH_ENOTFOUND;
    SegmentFields f = segment_fields(image, cmd);
    seg->fileoff = f.fileoff;
    seg->filesize = f.filesize;
    return lqcrash_async_mobject_init(&seg->mobj, image->task, f.vmaddr + image->vmaddr_slide, f.vmsize, false);
}

void lqcrash_async_macho_mapped_segment_free(lqcrash_async_macho_mapped_segment_t* seg) {
    lqcrash_async_mobject_free(&seg->mobj);
}

lqcrash_error_t lqcrash_async_macho_map_section(lqcrash_async_macho* image, const char* segname, const char* sectname,
                                                lqcrash_async_mobject* mobj) {
    if (image->is_elf) {
        if (lqcrash_async_strncmp(segname, "__TEXT", 16) == 0 &&
            lqcrash_async_strncmp(sectname, "__eh_frame", 16) == 0 && image->elf.ehFrameAddress != 0) {
            return lqcrash_async_mobject_init(mobj, image->task, image->elf.ehFrameAddress, image->elf.ehFrameSize,
                                              false);
        }
        return LQCRASH_ENOTFOUND;
    }
    void* cmd = lqcrash_async_macho_find_segment_cmd(image, segname);
    if (!cmd) return LQCRASH_ENOTFOUND;
    SegmentFields f = segment_fields(image, cmd);
    if (f.nsects == 0) return LQCRASH_ENOTFOUND;
    size_t segmentSize = image->m64 ? kSegment64Size : kSegment32Size;
    size_t sectionSize = image->m64 ? sizeof(section_64) : sizeof(section);
    uintptr_t at = reinterpret_cast<uintptr_t>(cmd) + segmentSize;
    for (uint32_t i = 0; i < f.nsects; ++i, at += sectionSize) {
        if (!lqcrash_async_mobject_verify_local_pointer(&image->load_cmds, at, 0, sectionSize)) return LQCRASH_EINVAL;
        if (lqcrash_async_strncmp(reinterpret_cast<const char*>(at), sectname, 16) != 0) continue;
        pl_vm_address_t addr;
        pl_vm_size_t size;
        if (image->m64) {
            section_64 s;
            lqcrash_async_memcpy(&s, reinterpret_cast<const void*>(at), sizeof(s));
            addr = image->byteorder->swap64(s.addr);
            size = image->byteorder->swap64(s.size);
        } else {
            section s;
            lqcrash_async_memcpy(&s, reinterpret_cast<const void*>(at), sizeof(s));
            addr = image->byteorder->swap32(s.addr);
            size = image->byteorder->swap32(s.size);
        }
        return lqcrash_async_mobject_init(mobj, image->task, addr + image->vmaddr_slide, size, true);
    }
    return LQCRASH_ENOTFOUND;
}

// ---- Symbol tables -----------------------------------------------------------

lqcrash_error_t lqcrash_async_macho_symtab_reader_init(lqcrash_async_macho_symtab_reader* reader,
                                                       lqcrash_async_macho* image) {
    lqcrash_async_memset(reader, 0, sizeof(*reader));
    reader->image = image;
    void* symtabCmd = lqcrash_async_macho_find_command(image, LC_SYMTAB);
    if (!symtabCmd || !lqcrash_async_mobject_verify_local_pointer(&image->load_cmds,
                                                                  reinterpret_cast<uintptr_t>(symtabCmd), 0,
                                                                  sizeof(symtab_command))) {
        return LQCRASH_ENOTFOUND;
    }
    void* dysymtabCmd = lqcrash_async_macho_find_command(image, LC_DYSYMTAB);
    if (dysymtabCmd && !lqcrash_async_mobject_verify_local_pointer(&image->load_cmds,
                                                                   reinterpret_cast<uintptr_t>(dysymtabCmd), 0,
                                                                   sizeof(dysymtab_command))) {
        dysymtabCmd = nullptr;
    }
    if (lqcrash_async_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != LQCRASH_ESUCCESS) {
        return LQCRASH_EINTERNAL;
    }
    const lqcrash_async_byteorder_t* bo = image->byteorder;
    symtab_command st;
    lqcrash_async_memcpy(&st, symtabCmd, sizeof(st));
    uint32_t symoff = bo->swap32(st.symoff), nsyms = bo->swap32(st.nsyms);
    uint32_t stroff = bo->swap32(st.stroff), strsize = bo->swap32(st.strsize);
    pl_vm_address_t base = reader->linkedit.mobj.task_address - reader->linkedit.fileoff;
    size_t entrySize = image->m64 ? sizeof(nlist_64) : sizeof(nlist);
    reader->symtab = lqcrash_async_mobject_remap_address(&reader->linkedit.mobj, base, symoff,
                                                         static_cast<size_t>(nsyms) * entrySize);
    reader->string_table = static_cast<char*>(
        lqcrash_async_mobject_remap_address(&reader->linkedit.mobj, base, stroff, strsize));
    if (!reader->symtab || !reader->string_table) {
        lqcrash_async_macho_mapped_segment_free(&reader->linkedit);
        return LQCRASH_EINTERNAL;
    }
    reader->nsyms = nsyms;
    reader->string_table_size = strsize;
    if (dysymtabCmd) {
        dysymtab_command dy;
        lqcrash_async_memcpy(&dy, dysymtabCmd, sizeof(dy));
        uint32_t iext = bo->swap32(dy.iextdefsym), next = bo->swap32(dy.nextdefsym);
        uint32_t iloc = bo->swap32(dy.ilocalsym), nloc = bo->swap32(dy.nlocalsym);
        if (static_cast<uint64_t>(iext) + next > nsyms || static_cast<uint64_t>(iloc) + nloc > nsyms) {
            lqcrash_async_macho_mapped_segment_free(&reader->linkedit);
            return LQCRASH_EINVAL;
        }
        reader->symtab_global = static_cast<uint8_t*>(reader->symtab) + iext * entrySize;
        reader->nsyms_global = next;
        reader->symtab_local = static_cast<uint8_t*>(reader->symtab) + iloc * entrySize;
        reader->nsyms_local = nloc;
    }
    return LQCRASH_ESUCCESS;
}

lqcrash_async_macho_symtab_entry_t lqcrash_async_macho_symtab_reader_read(lqcrash_async_macho_symtab_reader* reader,
                                                                          void* symtab, uint32_t index) {
    const lqcrash_async_byteorder_t* bo = reader->image->byteorder;
    lqcrash_async_macho_symtab_entry_t e;
    if (reader->image->m64) {
        nlist_64 n;
        lqcrash_async_memcpy(&n, static_cast<const uint8_t*>(symtab) + index * sizeof(nlist_64), sizeof(n));
        e = {bo->swap32(n.n_strx), n.n_type, n.n_sect, bo->swap16(n.n_desc), bo->swap64(n.n_value), 0};
    } else {
        nlist n;
        lqcrash_async_memcpy(&n, static_cast<const uint8_t*>(symtab) + index * sizeof(nlist), sizeof(n));
        e = {bo->swap32(n.n_strx), n.n_type, n.n_sect, bo->swap16(static_cast<uint16_t>(n.n_desc)),
             bo->swap32(n.n_value), 0};
    }
    e.normalized_value = e.n_value;
    if (e.n_desc & N_ARM_THUMB_DEF) e.normalized_value |= 1;
    return e;
}

const char* lqcrash_async_macho_symtab_reader_symbol_name(lqcrash_async_macho_symtab_reader* reader,
                                                          uint32_t n_strx) {
    if (n_strx >= reader->string_table_size) return nullptr;
    for (size_t i = n_strx; i < reader->string_table_size; ++i) {
        if (reader->string_table[i] == '\0') return reader->string_table + n_strx;
    }
    return nullptr;
}

void lqcrash_async_macho_symtab_reader_free(lqcrash_async_macho_symtab_reader* reader) {
    lqcrash_async_macho_mapped_segment_free(&reader->linkedit);
}

namespace {

void scan(lqcrash_async_macho_symtab_reader* reader, void* table, uint32_t count, pl_vm_address_t key, bool* found,
          lqcrash_async_macho_symtab_entry_t* best) {
    for (uint32_t i = 0; i < count; ++i) {
        lqcrash_async_macho_symtab_entry_t e = lqcrash_async_macho_symtab_reader_read(reader, table, i);
        if ((e.n_type & 0xEE) != 0x0E || e.n_value > key) continue;
        if (!*found || e.n_value > best->n_value) {
            *best = e;
            *found = true;
        }
    }
}

}  // namespace

lqcrash_error_t lqcrash_async_macho_find_symbol_by_pc(lqcrash_async_macho* image, pl_vm_address_t pc,
                                                      lqcrash_async_found_symbol_cb symbol_cb, void* context) {
    if (image->is_elf) {
        // Reports name symbols the platform's way, with a leading underscore
        // that readers strip again.
        char name[257];
        name[0] = '_';
        uint64_t start = 0;
        if (mach::elf::findDynamicSymbol(image->task, image->elf, pc, name + 1, sizeof(name) - 1, &start) !=
            KERN_SUCCESS) {
            return LQCRASH_ENOTFOUND;
        }
        symbol_cb(start, name, context);
        return LQCRASH_ESUCCESS;
    }
    lqcrash_async_macho_symtab_reader reader;
    lqcrash_error_t err = lqcrash_async_macho_symtab_reader_init(&reader, image);
    if (err != LQCRASH_ESUCCESS) return err;
    pl_vm_address_t key = pc - static_cast<pl_vm_address_t>(image->vmaddr_slide);
    bool found = false;
    lqcrash_async_macho_symtab_entry_t best{};
    if (reader.symtab_global && reader.symtab_local && (reader.nsyms_global > 0 || reader.nsyms_local > 0)) {
        scan(&reader, reader.symtab_global, reader.nsyms_global, key, &found, &best);
        scan(&reader, reader.symtab_local, reader.nsyms_local, key, &found, &best);
    } else {
        scan(&reader, reader.symtab, reader.nsyms, key, &found, &best);
    }
    if (!found) {
        lqcrash_async_macho_symtab_reader_free(&reader);
        return LQCRASH_ENOTFOUND;
    }
    const char* name = lqcrash_async_macho_symtab_reader_symbol_name(&reader, best.n_strx);
    if (!name) {
        lqcrash_async_macho_symtab_reader_free(&reader);
        return LQCRASH_EINVAL;
    }
    symbol_cb(static_cast<pl_vm_address_t>(image->vmaddr_slide) + best.normalized_value, name, context);
    lqcrash_async_macho_symtab_reader_free(&reader);
    return LQCRASH_ESUCCESS;
}

// ---- Strings in task memory --------------------------------------------------------

lqcrash_error_t lqcrash_async_macho_string_init(lqcrash_async_macho_string* string, lqcrash_async_macho* image,
                                                pl_vm_address_t address) {
    lqcrash_async_memset(string, 0, sizeof(*string));
    string->image = image;
    string->address = address;
    return LQCRASH_ESUCCESS;
}

namespace {

lqcrash_error_t load_string(lqcrash_async_macho_string* string) {
    if (string->mobj_initialized) return LQCRASH_ESUCCESS;
    pl_vm_size_t mapped = vm_page_size;
    lqcrash_error_t err = lqcrash_async_mobject_init(&string->mobj, string->image->task, string->address, mapped, false);
    if (err != LQCRASH_ESUCCESS) return err;
    pl_vm_size_t i = 0;
    for (;;) {
        const char* c = static_cast<const char*>(
            lqcrash_async_mobject_remap_address(&string->mobj, string->address, static_cast<pl_vm_off_t>(i), 1));
        if (!c) {
            pl_vm_size_t previous = string->mobj.length;
            lqcrash_async_mobject_free(&string->mobj);
            mapped += vm_page_size;
            err = lqcrash_async_mobject_init(&string->mobj, string->image->task, string->address, mapped, false);
            if (err != LQCRASH_ESUCCESS) return LQCRASH_EINVAL;
            if (string->mobj.length <= previous) {
                lqcrash_async_mobject_free(&string->mobj);
                return LQCRASH_EINVAL;
            }
            continue;
        }
        if (*c == '\0') break;
        ++i;
    }
    string->length = i;
    string->mobj_initialized = true;
    return LQCRASH_ESUCCESS;
}

}  // namespace

lqcrash_error_t lqcrash_async_macho_string_get_length(lqcrash_async_macho_string* string, pl_vm_size_t* length) {
    lqcrash_error_t err = load_string(string);
    if (err != LQCRASH_ESUCCESS) return err;
    *length = string->length;
    return LQCRASH_ESUCCESS;
}

lqcrash_error_t lqcrash_async_macho_string_get_pointer(lqcrash_async_macho_string* string, const char** pointer) {
    lqcrash_error_t err = load_string(string);
    if (err != LQCRASH_ESUCCESS) return err;
    const char* p = static_cast<const char*>(
        lqcrash_async_mobject_remap_address(&string->mobj, string->address, 0, string->length));
    if (!p) return LQCRASH_EACCESS;
    *pointer = p;
    return LQCRASH_ESUCCESS;
}

void lqcrash_async_macho_string_free(lqcrash_async_macho_string* string) {
    if (string->mobj_initialized) lqcrash_async_mobject_free(&string->mobj);
    string->mobj_initialized = false;
}
