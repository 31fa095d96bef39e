#pragma once
// Reads what the crash engine needs from an ELF object loaded in a task:
// its extent, the CPU it was built for, its .eh_frame (found through the
// PT_GNU_EH_FRAME header) and its build id. Reads go through
// mach_vm_read_overwrite, so a damaged image yields an error, never a fault.
// Async-signal-safe.

#include <cstdint>

#include "platform/machcompat/Mach.h"

namespace mach::elf {

inline constexpr uint8_t kMagic[4] = {0x7f, 'E', 'L', 'F'};

struct ImageInfo {
    bool is64 = false;
    int32_t cpuType = 0;     // Mach CPU type for e_machine (0 when unknown)
    int32_t cpuSubtype = 0;
    uint64_t loadBias = 0;   // task address minus link-time address
    uint64_t textSize = 0;   // from the header to the end of the last executable segment
    uint64_t ehFrameAddress = 0;  // 0: none
    uint64_t ehFrameSize = 0;     // up to the end of the segment that holds it
    // The linker's sorted index of .eh_frame (in .eh_frame_hdr): entries of
    // two 32-bit offsets from hdrAddress, start of a function and its FDE.
    uint64_t ehFrameHdrAddress = 0;
    uint64_t ehFrameIndexAddress = 0;  // 0: no index this reader can use
    uint64_t ehFrameIndexCount = 0;
    uint32_t buildIdLength = 0;
    uint8_t buildId[32] = {};
    // Dynamic symbol table (task addresses); 0 when absent.
    uint64_t symtab = 0;
    uint64_t strtab = 0;
    uint64_t strsz = 0;
    uint64_t symbolCount = 0;
};

// KERN_SUCCESS, KERN_INVALID_ARGUMENT (not an ELF image this reader handles)
// or the error of a failed read.
kern_return_t readImageInfo(task_t task, uint64_t headerAddress, ImageInfo* out);

// The address of the FDE that the image's .eh_frame index names for pc (the
// last entry starting at or below it); KERN_FAILURE when the image has no
// usable index or pc lies below its first entry. The FDE itself may still
// end below pc.
kern_return_t findIndexedFde(task_t task, const ImageInfo& info, uint64_t pc, uint64_t* fdeAddress);

// The exported function of the image that covers pc (or, for one of unknown
// size, the nearest below it): its task address and NUL-terminated name
// copied into buffer. KERN_FAILURE when none.
kern_return_t findDynamicSymbol(task_t task, const ImageInfo& info, uint64_t pc, char* buffer, size_t bufferSize,
                                uint64_t* start);

}  // namespace mach::elf
