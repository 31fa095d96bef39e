#include "platform/machcompat/Elf.h"

#include <elf.h>

#include <cstring>
#include <span>

#include "platform/machcompat/MachO.h"

namespace mach::elf {
namespace {

template <typename T>
kern_return_t readValue(task_t task, uint64_t address, T* out) {
    return mach_vm_read_overwrite(task, address, sizeof(T), reinterpret_cast<uintptr_t>(out), nullptr);
}

int32_t cpuTypeForMachine(uint16_t machine, int32_t* subtype) {
    *subtype = 0;
    switch (machine) {
        case EM_AARCH64: *subtype = CPU_SUBTYPE_ARM64_ALL; return CPU_TYPE_ARM64;
        case EM_X86_64: *subtype = CPU_SUBTYPE_X86_64_ALL; return CPU_TYPE_X86_64;
        case EM_386: *subtype = 3; return CPU_TYPE_X86;
        case EM_ARM: *subtype = 9; return CPU_TYPE_ARM;
        default: return 0;
    }
}

// Reads a DW_EH_PE encoded pointer of the eh_frame_hdr (only the forms
// linkers write there).
bool readEncoded(task_t task, uint64_t at, uint8_t encoding, uint64_t* value) {
    uint64_t base = (encoding & 0x70) == 0x10 ? at : 0;
    switch (encoding & 0x0f) {
        case 0x0b: {  // sdata4
            int32_t v;
            if (readValue(task, at, &v) != KERN_SUCCESS) return false;
            *value = base + static_cast<uint64_t>(static_cast<int64_t>(v));
            return true;
        }
        case 0x03: {  // udata4
            uint32_t v;
            if (readValue(task, at, &v) != KERN_SUCCESS) return false;
            *value = base + v;
            return true;
        }
        case 0x0c:
        case 0x04:
        case 0x00: {  // 8-byte forms
            uint64_t v;
            if (readValue(task, at, &v) != KERN_SUCCESS) return false;
            *value = base + v;
            return true;
        }
        default:
            return false;
    }
}

template <typename Ehdr, typename Phdr, typename Dyn>
kern_return_t readImage(task_t task, uint64_t headerAddress, ImageInfo* out) {
    Ehdr eh;
    kern_return_t kr = readValue(task, headerAddress, &eh);
    if (kr != KERN_SUCCESS) return kr;
    if (eh.e_phentsize != sizeof(Phdr) || eh.e_phnum == 0 || eh.e_phnum > 256) return KERN_INVALID_ARGUMENT;
    out->cpuType = cpuTypeForMachine(eh.e_machine, &out->cpuSubtype);
    Phdr phdrs[256];
    kr = mach_vm_read_overwrite(task, headerAddress + eh.e_phoff, sizeof(Phdr) * eh.e_phnum,
                                reinterpret_cast<uintptr_t>(phdrs), nullptr);
    if (kr != KERN_SUCCESS) return kr;
    bool haveBias = false;
    for (int i = 0; i < eh.e_phnum; ++i) {
        if (phdrs[i].p_type == PT_LOAD && phdrs[i].p_offset == 0) {
            out->loadBias = headerAddress - (phdrs[i].p_vaddr & ~static_cast<uint64_t>(vm_page_mask));
            haveBias = true;
            break;
        }
    }
    if (!haveBias) return KERN_INVALID_ARGUMENT;
    uint64_t textEnd = headerAddress;
    uint64_t dynamic = 0;
    for (int i = 0; i < eh.e_phnum; ++i) {
        const Phdr& ph = phdrs[i];
        uint64_t start = out->loadBias + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) && start + ph.p_memsz > textEnd) textEnd = start + ph.p_memsz;
        if (ph.p_type == PT_DYNAMIC) dynamic = start;
    }
    out->textSize = textEnd - headerAddress;
    for (int i = 0; i < eh.e_phnum; ++i) {
        const Phdr& ph = phdrs[i];
        uint64_t start = out->loadBias + ph.p_vaddr;
        if (ph.p_type == PT_GNU_EH_FRAME) {
            uint8_t hdr[4];
            if (mach_vm_read_overwrite(task, start, 4, reinterpret_cast<uintptr_t>(hdr), nullptr) == KERN_SUCCESS &&
                hdr[0] == 1) {
                uint64_t ehFrame = 0;
                out->ehFrameHdrAddress = start;
                // The index as linkers write it: a 4-byte frame pointer and
                // count, then (sdata4, sdata4) pairs relative to the header.
                constexpr uint8_t kDatarelSdata4 = 0x3b;
                uint32_t count = 0;
                if ((hdr[1] & 0x0f) == 0x0b && hdr[2] == 0x03 && hdr[3] == kDatarelSdata4 &&
                    readValue(task, start + 8, &count) == KERN_SUCCESS && count > 0 &&
                    12 + 8ull * count <= ph.p_memsz) {
                    out->ehFrameIndexAddress = start + 12;
                    out->ehFrameIndexCount = count;
                }
                if (readEncoded(task, start + 4, hdr[1], &ehFrame)) {
                    for (int j = 0; j < eh.e_phnum; ++j) {
                        const Phdr& seg = phdrs[j];
                        uint64_t segStart = out->loadBias + seg.p_vaddr;
                        if (seg.p_type == PT_LOAD && ehFrame >= segStart && ehFrame < segStart + seg.p_memsz) {
                            out->ehFrameAddress = ehFrame;
                            out->ehFrameSize = segStart + seg.p_memsz - ehFrame;
                        }
                    }
                }
            }
        } else if (ph.p_type == PT_NOTE && out->buildIdLength == 0) {
            uint64_t at = start;
            uint64_t end = start + ph.p_memsz;
            while (at + 12 <= end) {
                uint32_t n[3];  // namesz, descsz, type
                if (mach_vm_read_overwrite(task, at, 12, reinterpret_cast<uintptr_t>(n), nullptr) != KERN_SUCCESS) break;
                uint64_t name = at + 12;
                uint64_t desc = name + ((n[0] + 3) & ~3u);
                uint64_t next = desc + ((n[1] + 3) & ~3u);
                if (next > end || next <= at) break;
                char owner[4] = {};
                if (n[2] == NT_GNU_BUILD_ID && n[0] == 4 &&
                    mach_vm_read_overwrite(task, name, 4, reinterpret_cast<uintptr_t>(owner), nullptr) == KERN_SUCCESS &&
                    std::memcmp(owner, "GNU", 4) == 0) {
                    uint32_t len = n[1] < sizeof(out->buildId) ? n[1] : sizeof(out->buildId);
                    if (mach_vm_read_overwrite(task, desc, len, reinterpret_cast<uintptr_t>(out->buildId), nullptr) ==
                        KERN_SUCCESS) {
                        out->buildIdLength = len;
                    }
                    break;
                }
                at = next;
            }
        }
    }
    if (dynamic) {
        // The loader relocates most pointers of the dynamic section in place;
        // the vDSO's are left as linked. A pointer below the image is taken as
        // unrelocated.
        auto relocate = [&](uint64_t p) { return p < headerAddress ? p + out->loadBias : p; };
        uint64_t gnuHash = 0, hash = 0;
        for (int i = 0; i < 512; ++i) {
            Dyn d;
            if (readValue(task, dynamic + i * sizeof(Dyn), &d) != KERN_SUCCESS || d.d_tag == DT_NULL) break;
            switch (d.d_tag) {
                case DT_SYMTAB: out->symtab = relocate(d.d_un.d_ptr); break;
                case DT_STRTAB: out->strtab = relocate(d.d_un.d_ptr); break;
                case DT_STRSZ: out->strsz = d.d_un.d_val; break;
                case DT_HASH: hash = relocate(d.d_un.d_ptr); break;
                case DT_GNU_HASH: gnuHash = relocate(d.d_un.d_ptr); break;
                default: break;
            }
        }
        if (hash) {
            uint32_t h[2];
            if (mach_vm_read_overwrite(task, hash, 8, reinterpret_cast<uintptr_t>(h), nullptr) == KERN_SUCCESS) {
                out->symbolCount = h[1];
            }
        } else if (gnuHash) {
            uint32_t h[4];  // nbuckets, symoffset, bloom size, bloom shift
            if (mach_vm_read_overwrite(task, gnuHash, 16, reinterpret_cast<uintptr_t>(h), nullptr) == KERN_SUCCESS &&
                h[0] < (1u << 20) && h[2] < (1u << 20)) {
                uint64_t buckets = gnuHash + 16 + static_cast<uint64_t>(h[2]) * sizeof(typename Dyn::d_un_type);
                uint64_t chains = buckets + 4ull * h[0];
                uint32_t last = 0;
                for (uint32_t b = 0; b < h[0]; ++b) {
                    uint32_t v;
                    if (readValue(task, buckets + 4ull * b, &v) != KERN_SUCCESS) break;
                    if (v > last) last = v;
                }
                if (last >= h[1]) {
                    for (;;) {
                        uint32_t c;
                        if (readValue(task, chains + 4ull * (last - h[1]), &c) != KERN_SUCCESS) break;
                        ++last;
                        if (c & 1) break;
                    }
                    out->symbolCount = last;
                } else {
                    out->symbolCount = h[1];
                }
            }
        }
        if (!out->symtab || !out->strtab) out->symbolCount = 0;
    }
    return KERN_SUCCESS;
}

// Gives the union member's type a name usable above.
struct Dyn64 : Elf64_Dyn {
    using d_un_type = uint64_t;
};
struct Dyn32 : Elf32_Dyn {
    using d_un_type = uint32_t;
};

template <typename Sym>
kern_return_t findSymbol(task_t task, const ImageInfo& info, uint64_t pc, char* buffer, size_t bufferSize,
                         uint64_t* start) {
    if (info.symbolCount == 0 || bufferSize == 0) return KERN_FAILURE;
    uint64_t key = pc - info.loadBias;
    bool found = false;
    Sym best{};
    // Read in batches: one read per symbol would make a lookup thousands of
    // system calls.
    constexpr uint64_t kBatch = 64;
    Sym batch[kBatch];
    const uint64_t count = info.symbolCount < (1u << 20) ? info.symbolCount : (1u << 20);
    for (uint64_t first = 1; first < count; first += kBatch) {
        const uint64_t n = count - first < kBatch ? count - first : kBatch;
        if (mach_vm_read_overwrite(task, info.symtab + first * sizeof(Sym), n * sizeof(Sym),
                                   reinterpret_cast<uintptr_t>(batch), nullptr) != KERN_SUCCESS) {
            break;
        }
        for (const Sym& s : std::span<const Sym>(batch, n)) {
            unsigned type = s.st_info & 0xf;
            if (type != STT_FUNC || s.st_shndx == SHN_UNDEF || s.st_value > key) continue;
            // A sized function must cover the pc; the nearest exported one
            // below it would only mislead.
            if (s.st_size != 0 && key - s.st_value >= s.st_size) continue;
            if (!found || s.st_value > best.st_value) {
                best = s;
                found = true;
            }
        }
    }
    if (!found || best.st_name >= info.strsz) return KERN_FAILURE;
    // The name, read in one go up to the end of the string table.
    uint64_t available = info.strsz - best.st_name;
    size_t length = available < bufferSize - 1 ? static_cast<size_t>(available) : bufferSize - 1;
    if (mach_vm_read_overwrite(task, info.strtab + best.st_name, length, reinterpret_cast<uintptr_t>(buffer),
                               nullptr) != KERN_SUCCESS) {
        return KERN_FAILURE;
    }
    buffer[length] = '\0';
    *start = best.st_value + info.loadBias;
    return KERN_SUCCESS;
}

}  // namespace

kern_return_t readImageInfo(task_t task, uint64_t headerAddress, ImageInfo* out) {
    *out = ImageInfo{};
    uint8_t ident[EI_NIDENT];
    kern_return_t kr = mach_vm_read_overwrite(task, headerAddress, sizeof(ident), reinterpret_cast<uintptr_t>(ident),
                                              nullptr);
    if (kr != KERN_SUCCESS) return kr;
    if (std::memcmp(ident, kMagic, 4) != 0 || ident[EI_DATA] != ELFDATA2LSB) return KERN_INVALID_ARGUMENT;
    if (ident[EI_CLASS] == ELFCLASS64) {
        out->is64 = true;
        return readImage<Elf64_Ehdr, Elf64_Phdr, Dyn64>(task, headerAddress, out);
    }
    if (ident[EI_CLASS] == ELFCLASS32) return readImage<Elf32_Ehdr, Elf32_Phdr, Dyn32>(task, headerAddress, out);
    return KERN_INVALID_ARGUMENT;
}

kern_return_t findIndexedFde(task_t task, const ImageInfo& info, uint64_t pc, uint64_t* fdeAddress) {
    if (info.ehFrameIndexAddress == 0) return KERN_FAILURE;
    auto start = [&](int32_t offset) { return info.ehFrameHdrAddress + static_cast<uint64_t>(static_cast<int64_t>(offset)); };
    // The last entry whose function starts at or below pc, in [low, high):
    // halved one read at a time, then the last stretch read whole.
    constexpr uint64_t kStretch = 128;
    uint64_t low = 0, high = info.ehFrameIndexCount;
    while (high - low > kStretch) {
        uint64_t mid = low + (high - low) / 2;
        int32_t entry[2];
        if (readValue(task, info.ehFrameIndexAddress + 8 * mid, &entry) != KERN_SUCCESS) return KERN_FAILURE;
        if (start(entry[0]) <= pc) {
            low = mid;
        } else {
            high = mid;
        }
    }
    int32_t entries[kStretch][2];
    if (mach_vm_read_overwrite(task, info.ehFrameIndexAddress + 8 * low, 8 * (high - low),
                               reinterpret_cast<uintptr_t>(entries), nullptr) != KERN_SUCCESS) {
        return KERN_FAILURE;
    }
    uint64_t n = high - low;
    while (n > 0 && start(entries[n - 1][0]) > pc) --n;
    if (n == 0) return KERN_FAILURE;
    *fdeAddress = start(entries[n - 1][1]);
    return KERN_SUCCESS;
}

kern_return_t findDynamicSymbol(task_t task, const ImageInfo& info, uint64_t pc, char* buffer, size_t bufferSize,
                                uint64_t* start) {
    return info.is64 ? findSymbol<Elf64_Sym>(task, info, pc, buffer, bufferSize, start)
                     : findSymbol<Elf32_Sym>(task, info, pc, buffer, bufferSize, start);
}

}  // namespace mach::elf
