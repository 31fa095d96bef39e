#pragma once
// The dynamic loader's image queries and callbacks. The images are the
// process's ELF objects (from dl_iterate_phdr; the "header" of one is the
// address of its ELF header and its slide the load bias) plus Mach-O images
// that a program maps itself and registers here.
//
// Newly loaded ELF objects are not announced: the list is taken when a
// callback is registered and whenever it is queried.

#include <cstdint>

#include "platform/machcompat/MachO.h"

using dyld_image_callback = void (*)(const mach_header* header, intptr_t slide);

// Calls func at once for every image, then for every image added later.
void _dyld_register_func_for_add_image(dyld_image_callback func);
void _dyld_register_func_for_remove_image(dyld_image_callback func);

uint32_t _dyld_image_count();
const mach_header* _dyld_get_image_header(uint32_t index);
const char* _dyld_get_image_name(uint32_t index);
intptr_t _dyld_get_image_vmaddr_slide(uint32_t index);

// The section's bytes in a loaded Mach-O image (address = section address
// without the slide, as the platform's call gives it), or null.
const uint8_t* getsectdatafromheader(const mach_header* header, const char* segname, const char* sectname,
                                     uint32_t* size);
const uint8_t* getsectdatafromheader_64(const mach_header_64* header, const char* segname, const char* sectname,
                                        uint64_t* size);

namespace mach {

// Registers a Mach-O image mapped by the program (and calls the add callbacks).
void dyldAddImage(const void* header, intptr_t slide, const char* path);
// Unregisters it (and calls the remove callbacks).
void dyldRemoveImage(const void* header);
// The path of the image whose header lies at header: a registered Mach-O
// image's, or the ELF object's as the loader names it (the executable's real
// path for the main program). Null when unknown. The string lives as long as
// the process.
const char* dyldImagePath(const void* header);
// Drops every registered callback (for tests).
void dyldResetCallbacksForTesting();

}  // namespace mach
