#pragma once
// Helpers for the crash engine's tests: Mach-O fixtures mapped into a fake
// task at a chosen slide, the text oracles produced next to them, and
// protobuf-c built reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "LQCrashReporter/Source/LQCrashAsyncImageList.h"
#include "LQCrashReporter/Source/LQCrashAsyncMachO.h"
#include "LQCrashReporter/Source/tests/SyntheticMachO.h"
#include "platform/machcompat/Mach.h"
#include "platform/machcompat/MachO.h"

namespace lqtest {

inline std::string fixturesDir() { return LQCRASH_FIXTURES_DIR; }

// Stores to an unmapped page (not null: the sanitizers would stop at that).
inline volatile uintptr_t g_unmapped = 16;
inline void storeToUnmappedPage() { *reinterpret_cast<volatile int*>(g_unmapped) = 1; }

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A Mach-O file's segments copied into a fake task at vmaddr + slide.
struct MappedImage {
    task_t task = MACH_PORT_NULL;
    uint64_t slide = 0;
    uint64_t header = 0;
    std::string path;
    std::vector<uint8_t> file;

    ~MappedImage() {
        if (task != MACH_PORT_NULL) mach::fakeTaskDestroy(task);
    }
};

inline std::unique_ptr<MappedImage> mapMachO(const std::string& path, uint64_t slide) {
    auto m = std::make_unique<MappedImage>();
    m->path = path;
    m->slide = slide;
    m->file = readFile(path);
    if (m->file.size() < sizeof(mach_header)) return nullptr;
    m->task = mach::fakeTaskCreate();
    uint32_t magic;
    std::memcpy(&magic, m->file.data(), 4);
    bool is64 = magic == MH_MAGIC_64;
    mach_header h;
    std::memcpy(&h, m->file.data(), sizeof(h));
    size_t at = is64 ? sizeof(mach_header_64) : sizeof(mach_header);
    for (uint32_t i = 0; i < h.ncmds; ++i) {
        load_command lc;
        std::memcpy(&lc, m->file.data() + at, sizeof(lc));
        uint64_t vmaddr = 0, vmsize = 0, fileoff = 0, filesize = 0;
        bool segment = false;
        if (lc.cmd == LC_SEGMENT_64) {
            segment_command_64 s;
            std::memcpy(&s, m->file.data() + at, sizeof(s));
            vmaddr = s.vmaddr, vmsize = s.vmsize, fileoff = s.fileoff, filesize = s.filesize;
            segment = true;
        } else if (lc.cmd == LC_SEGMENT) {
            segment_command s;
            std::memcpy(&s, m->file.data() + at, sizeof(s));
            vmaddr = s.vmaddr, vmsize = s.vmsize, fileoff = s.fileoff, filesize = s.filesize;
            segment = true;
        }
        if (segment && vmsize > 0) {
            std::vector<uint8_t> bytes(vmsize, 0);
            std::memcpy(bytes.data(), m->file.data() + fileoff, std::min<uint64_t>(filesize, vmsize));
            mach::fakeTaskMap(m->task, vmaddr + slide, bytes.data(), bytes.size());
            if (fileoff == 0 && filesize > 0) m->header = vmaddr + slide;
        }
        at += lc.cmdsize;
    }
    return m;
}

// Defined symbols by name: text symbols only, or (all) every kind.
inline std::map<std::string, uint64_t> nmSymbols(const std::string& dylib, bool all = false) {
    std::map<std::string, uint64_t> out;
    std::regex line(all ? R"(^([0-9a-fA-F]+) [a-zA-Z] (.+)$)" : R"(^([0-9a-fA-F]+) [tT] (\S+)$)");
    std::string text = readText(dylib + ".nm.txt");
    std::stringstream in(text);
    std::string l;
    std::smatch m;
    while (std::getline(in, l)) {
        if (std::regex_match(l, m, line)) out[m[2]] = std::stoull(m[1], nullptr, 16);
    }
    return out;
}

struct UnwindEntry {
    uint64_t functionOffset;
    uint32_t encoding;
};

inline std::vector<UnwindEntry> unwindEntries(const std::string& dylib) {
    std::vector<UnwindEntry> out;
    std::regex line(R"(function offset=0x([0-9a-fA-F]+), encoding(\[\d+\])?=0x([0-9a-fA-F]+))");
    std::string text = readText(dylib + ".unwind.txt");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        out.push_back({std::stoull((*it)[1], nullptr, 16), static_cast<uint32_t>(std::stoul((*it)[3], nullptr, 16))});
    }
    return out;
}

struct CfaRow {
    uint64_t address;
    std::string cfaRegister;  // as llvm-dwarfdump names it (WSP, W29, RSP, ...)
    int64_t cfaOffset;
    std::string rules;  // the register rules after the CFA, as printed
};

struct Fde {
    uint64_t pcStart;
    uint64_t pcEnd;
    std::vector<CfaRow> rows;
};

inline std::vector<Fde> fdes(const std::string& dylib) {
    std::vector<Fde> out;
    std::regex fdeLine(R"(FDE cie=[0-9a-f]+ pc=([0-9a-f]+)\.\.\.([0-9a-f]+))");
    std::regex rowLine(R"(^\s+0x([0-9a-f]+): CFA=([A-Z0-9]+)([+-]\d+)?:?\s*(.*)$)");
    std::string text = readText(dylib + ".ehframe.txt");
    std::stringstream in(text);
    std::string l;
    std::smatch m;
    while (std::getline(in, l)) {
        if (std::regex_search(l, m, fdeLine)) {
            out.push_back({std::stoull(m[1], nullptr, 16), std::stoull(m[2], nullptr, 16), {}});
        } else if (!out.empty() && std::regex_match(l, m, rowLine)) {
            out.back().rows.push_back({std::stoull(m[1], nullptr, 16), m[2], m[3].matched ? std::stoll(m[3]) : 0, m[4]});
        }
    }
    return out;
}

inline std::vector<uint8_t> uuidBytes(const std::string& dylib) {
    std::regex line(R"(UUID: ([0-9A-F-]+))");
    std::string text = readText(dylib + ".uuid.txt");
    std::smatch m;
    std::vector<uint8_t> out;
    if (!std::regex_search(text, m, line)) return out;
    std::string hex = m[1];
    for (size_t i = 0; i < hex.size();) {
        if (hex[i] == '-') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

}  // namespace lqtest
