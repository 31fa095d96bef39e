#pragma once
// A Mach-O image built in memory, for the engine's tests and benchmarks.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/machcompat/MachO.h"

namespace lqtest {

// A small 64-bit ARM Mach-O image laid out by hand: an optional LC_UUID
// first, __TEXT (vmaddr 0x1000, one page) with one section, __LINKEDIT
// (vmaddr 0x2000, file offset 0x1000) holding a one-symbol table, and
// LC_SYMTAB. File offsets equal offsets from the header.
struct SyntheticImageOptions {
    bool uuid = true;
    uint32_t uuidCommandSize = sizeof(uuid_command);
    uint32_t magic = MH_MAGIC_64;
    std::string sectionName = "__text";  // up to 16 characters, no NUL at 16
    std::string symbolName = "lq_symbol";
    bool symbolNameTerminated = true;
};

inline constexpr uint64_t kSyntheticTextVmaddr = 0x1000;
inline constexpr uint64_t kSyntheticSymbolOffset = 0x400;  // from the header

inline std::vector<uint8_t> syntheticMachO(const SyntheticImageOptions& o = {}) {
    std::vector<uint8_t> bytes(0x2000, 0);
    size_t at = sizeof(mach_header_64);
    uint32_t ncmds = 0;
    auto put = [&](const void* p, size_t n) {
        std::memcpy(&bytes[at], p, n);
        at += n;
    };
    if (o.uuid) {
        uuid_command u{LC_UUID, o.uuidCommandSize, {}};
        for (int i = 0; i < 16; ++i) u.uuid[i] = static_cast<uint8_t>(0xA0 + i);
        put(&u, sizeof(u));
        ++ncmds;
    }
    segment_command_64 text{};
    text.cmd = LC_SEGMENT_64;
    text.cmdsize = sizeof(segment_command_64) + sizeof(section_64);
    std::memcpy(text.segname, "__TEXT", 6);
    text.vmaddr = kSyntheticTextVmaddr;
    text.vmsize = 0x1000;
    text.filesize = 0x1000;
    text.nsects = 1;
    put(&text, sizeof(text));
    section_64 sect{};
    std::memcpy(sect.sectname, o.sectionName.data(), std::min<size_t>(16, o.sectionName.size()));
    std::memcpy(sect.segname, "__TEXT", 6);
    sect.addr = kSyntheticTextVmaddr + kSyntheticSymbolOffset;
    sect.size = 0x20;
    put(&sect, sizeof(sect));
    ++ncmds;
    segment_command_64 linkedit{};
    linkedit.cmd = LC_SEGMENT_64;
    linkedit.cmdsize = sizeof(segment_command_64);
    std::memcpy(linkedit.segname, "__LINKEDIT", 10);
    linkedit.vmaddr = 0x2000;
    linkedit.vmsize = 0x1000;
    linkedit.fileoff = 0x1000;
    linkedit.filesize = 0x1000;
    put(&linkedit, sizeof(linkedit));
    ++ncmds;
    uint32_t strsize = static_cast<uint32_t>(1 + o.symbolName.size() + (o.symbolNameTerminated ? 1 : 0));
    symtab_command symtab{LC_SYMTAB, sizeof(symtab_command), 0x1000, 1, 0x1010, strsize};
    put(&symtab, sizeof(symtab));
    ++ncmds;

    mach_header_64 h{};
    h.magic = o.magic;
    h.cputype = CPU_TYPE_ARM64;
    h.ncmds = ncmds;
    h.sizeofcmds = static_cast<uint32_t>(at - sizeof(mach_header_64));
    std::memcpy(bytes.data(), &h, sizeof(h));

    nlist_64 symbol{1, 0x0F, 1, 0, kSyntheticTextVmaddr + kSyntheticSymbolOffset};
    std::memcpy(&bytes[0x1000], &symbol, sizeof(symbol));
    // The string table: an empty name, then the symbol's (its NUL, when
    // terminated, is the table's last byte).
    std::memcpy(&bytes[0x1011], o.symbolName.data(), o.symbolName.size());
    if (!o.symbolNameTerminated) bytes[0x1011 + o.symbolName.size()] = 'X';  // what follows the table
    return bytes;
}

}  // namespace lqtest
