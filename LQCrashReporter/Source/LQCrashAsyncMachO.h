#pragma once
// One loaded image, parsed from its header in the examined task: load
// commands, segments, sections, the symbol tables and lookup of the symbol
// that covers an address. ELF objects of this platform are kept in the same
// record: their extent, CPU, .eh_frame (offered as __TEXT,__eh_frame), build
// id (offered as the UUID) and dynamic symbols.
//
// Everything but init and free is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "LQCrashReporter/Source/LQCrashAsyncMObject.h"
#include "LQCrashReporter/Source/LQCrashAsyncSupport.h"
#include "platform/machcompat/Elf.h"
#include "platform/machcompat/MachO.h"

struct lqcrash_async_macho {
    task_t task;
    pl_vm_address_t header_addr;
    pl_vm_off_t vmaddr_slide;
    char* name;
    mach_header header;
    pl_vm_size_t header_size;
    uint32_t ncmds;
    lqcrash_async_mobject load_cmds;
    pl_vm_address_t text_vmaddr;
    pl_vm_size_t text_size;
    bool m64;
    const lqcrash_async_byteorder_t* byteorder;
    // An ELF object of this platform rather than a Mach-O image.
    bool is_elf;
    mach::elf::ImageInfo elf;
    // The image list's node holding this record (iteration).
    void* list_node;
};

struct lqcrash_async_macho_mapped_segment_t {
    lqcrash_async_mobject mobj;
    pl_vm_address_t fileoff;
    pl_vm_size_t filesize;
};

lqcrash_error_t lqcrash_async_macho_init(lqcrash_async_macho* image, task_t task, const char* name,
                                         pl_vm_address_t header);
void lqcrash_async_macho_free(lqcrash_async_macho* image);

bool lqcrash_async_macho_contains_address(lqcrash_async_macho* image, pl_vm_address_t address);
int32_t lqcrash_async_macho_cpu_type(lqcrash_async_macho* image);
int32_t lqcrash_async_macho_cpu_subtype(lqcrash_async_macho* image);
// The 16 bytes of the image's UUID (a Mach-O LC_UUID, or the first 16 bytes
// of an ELF build id, zero-padded); false when it has none.
bool lqcrash_async_macho_uuid(lqcrash_async_macho* image, uint8_t uuid[16]);

void* lqcrash_async_macho_next_command(lqcrash_async_macho* image, void* previous);
void* lqcrash_async_macho_next_command_type(lqcrash_async_macho* image, void* previous, uint32_t expectedCommand);
void* lqcrash_async_macho_find_command(lqcrash_async_macho* image, uint32_t cmd);
void* lqcrash_async_macho_find_segment_cmd(lqcrash_async_macho* image, const char* segname);
lqcrash_error_t lqcrash_async_macho_map_segment(lqcrash_async_macho* image, const char* segname,
                                                lqcrash_async_macho_mapped_segment_t* seg);
void lqcrash_async_macho_mapped_segment_free(lqcrash_async_macho_mapped_segment_t* seg);
lqcrash_error_t lqcrash_async_macho_map_section(lqcrash_async_macho* image, const char* segname, const char* sectname,
                                                lqcrash_async_mobject* mobj);

// Symbol tables.
struct lqcrash_async_macho_symtab_entry_t {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    pl_vm_address_t n_value;
    pl_vm_address_t normalized_value;
};

struct lqcrash_async_macho_symtab_reader {
    lqcrash_async_macho* image;
    lqcrash_async_macho_mapped_segment_t linkedit;
    void* symtab;
    uint32_t nsyms;
    void* symtab_global;
    uint32_t nsyms_global;
    void* symtab_local;
    uint32_t nsyms_local;
    char* string_table;
    size_t string_table_size;
};

lqcrash_error_t lqcrash_async_macho_symtab_reader_init(lqcrash_async_macho_symtab_reader* reader,
                                                       lqcrash_async_macho* image);
lqcrash_async_macho_symtab_entry_t lqcrash_async_macho_symtab_reader_read(lqcrash_async_macho_symtab_reader* reader,
                                                                          void* symtab, uint32_t index);
const char* lqcrash_async_macho_symtab_reader_symbol_name(lqcrash_async_macho_symtab_reader* reader,
                                                          uint32_t n_strx);
void lqcrash_async_macho_symtab_reader_free(lqcrash_async_macho_symtab_reader* reader);

typedef void (*lqcrash_async_found_symbol_cb)(pl_vm_address_t address, const char* name, void* ctx);
lqcrash_error_t lqcrash_async_macho_find_symbol_by_pc(lqcrash_async_macho* image, pl_vm_address_t pc,
                                                      lqcrash_async_found_symbol_cb symbol_cb, void* context);

// A NUL-terminated string in task memory, mapped lazily.
struct lqcrash_async_macho_string {
    lqcrash_async_macho* image;
    pl_vm_address_t address;
    lqcrash_async_mobject mobj;
    bool mobj_initialized;
    pl_vm_size_t length;
};

lqcrash_error_t lqcrash_async_macho_string_init(lqcrash_async_macho_string* string, lqcrash_async_macho* image,
                                                pl_vm_address_t address);
lqcrash_error_t lqcrash_async_macho_string_get_length(lqcrash_async_macho_string* string, pl_vm_size_t* length);
lqcrash_error_t lqcrash_async_macho_string_get_pointer(lqcrash_async_macho_string* string, const char** pointer);
void lqcrash_async_macho_string_free(lqcrash_async_macho_string* string);
