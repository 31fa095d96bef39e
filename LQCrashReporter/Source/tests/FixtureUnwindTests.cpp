// Mach-O images built by the real toolchain (arm64, x86_64, arm64_32),
// mapped into a fake task at a slide, read and unwound by the engine, and
// compared with what llvm-nm, llvm-objdump and llvm-dwarfdump say about them.

#include <gtest/gtest.h>

#include "LQCrashReporter/Source/LQCrashAsyncSymbolication.h"
#include "LQCrashReporter/Source/LQCrashCompactUnwind.h"
#include "LQCrashReporter/Source/LQCrashDwarfCFAState.h"
#include "LQCrashReporter/Source/LQCrashDwarfEncoding.h"
#include "LQCrashReporter/Source/LQCrashFrameCursor.h"
#include "LQCrashReporter/Source/tests/CrashTestSupport.h"

namespace {

constexpr uint64_t kSlide = 0x7a000000;

struct FixtureParam {
    const char* name;
    int32_t cpuType;
    bool is64;
};

class LQCrashFixture : public ::testing::TestWithParam<FixtureParam> {
protected:
    void SetUp() override {
        if (lqtest::fixturesDir().empty()) GTEST_SKIP() << "fixtures need clang, ld64.lld-16 and llvm-16";
        dylib_ = lqtest::fixturesDir() + "/" + GetParam().name + ".dylib";
        mapped_ = lqtest::mapMachO(dylib_, kSlide);
        ASSERT_TRUE(mapped_);
        ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_macho_init(&image_, mapped_->task, dylib_.c_str(), mapped_->header));
        initialized_ = true;
    }
    void TearDown() override {
        if (initialized_) lqcrash_async_macho_free(&image_);
    }

    std::string dylib_;
    std::unique_ptr<lqtest::MappedImage> mapped_;
    lqcrash_async_macho image_{};
    bool initialized_ = false;
};

TEST_P(LQCrashFixture, HeaderSegmentsAndUuid) {
    EXPECT_EQ(GetParam().cpuType, lqcrash_async_macho_cpu_type(&image_));
    EXPECT_EQ(GetParam().is64, image_.m64);
    EXPECT_EQ(static_cast<pl_vm_off_t>(kSlide), image_.vmaddr_slide);
    EXPECT_TRUE(lqcrash_async_macho_contains_address(&image_, mapped_->header));
    EXPECT_FALSE(lqcrash_async_macho_contains_address(&image_, mapped_->header + image_.text_size));
    uint8_t uuid[16];
    ASSERT_TRUE(lqcrash_async_macho_uuid(&image_, uuid));
    EXPECT_EQ(lqtest::uuidBytes(dylib_), std::vector<uint8_t>(uuid, uuid + 16));
    EXPECT_NE(nullptr, lqcrash_async_macho_find_segment_cmd(&image_, "__LINKEDIT"));
    EXPECT_EQ(nullptr, lqcrash_async_macho_find_segment_cmd(&image_, "__NOPE"));
    lqcrash_async_mobject mobj;
    EXPECT_EQ(LQCRASH_ENOTFOUND, lqcrash_async_macho_map_section(&image_, "__TEXT", "__nope", &mobj));
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_macho_map_section(&image_, "__TEXT", "__text", &mobj));
    EXPECT_GT(mobj.length, 0u);
    lqcrash_async_mobject_free(&mobj);
}

struct Found {
    std::string name;
    uint64_t start = 0;
};

void onSymbol(pl_vm_address_t address, const char* name, void* ctx) {
    auto* f = static_cast<Found*>(ctx);
    f->name = name;
    f->start = address;
}

TEST_P(LQCrashFixture, SymbolLookupMatchesTheSymbolTable) {
    auto symbols = lqtest::nmSymbols(dylib_);
    ASSERT_FALSE(symbols.empty());
    for (const auto& [name, address] : symbols) {
        Found found;
        ASSERT_EQ(LQCRASH_ESUCCESS,
                  lqcrash_async_find_symbol(&image_, LQCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr,
                                            address + kSlide + 2, onSymbol, &found))
            << name;
        // Aliases at one address: the first in table order is reported, at that address.
        EXPECT_EQ(address + kSlide, found.start) << name;
        EXPECT_EQ(address, symbols.at(found.name)) << name << " vs " << found.name;
    }
    Found none;
    EXPECT_EQ(LQCRASH_ENOTFOUND, lqcrash_async_find_symbol(&image_, 0, nullptr, mapped_->header + 0x10, onSymbol, &none));
    // The class-metadata walk needs __objc_catlist, which these images don't have.
    lqcrash_async_objc_cache cache;
    lqcrash_async_objc_cache_init(&cache);
    EXPECT_EQ(LQCRASH_ENOTFOUND, lqcrash_async_objc_find_method(&image_, &cache, symbols.begin()->second + kSlide,
                                                                nullptr, nullptr));
    lqcrash_async_objc_cache_free(&cache);
}

TEST_P(LQCrashFixture, CompactUnwindEntriesMatchTheIndex) {
    auto entries = lqtest::unwindEntries(dylib_);
    ASSERT_FALSE(entries.empty());
    lqcrash_async_mobject mobj;
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_macho_map_section(&image_, "__TEXT", "__unwind_info", &mobj));
    lqcrash_compact_unwind_reader reader;
    lqcrash_error_t init = lqcrash_compact_unwind_reader_init(&reader, &mobj, lqcrash_async_macho_cpu_type(&image_));
    if (GetParam().cpuType == CPU_TYPE_ARM64_32) {
        EXPECT_EQ(LQCRASH_ENOTSUP, init);  // not a CPU type this reader decodes
        lqcrash_async_mobject_free(&mobj);
        return;
    }
    ASSERT_EQ(LQCRASH_ESUCCESS, init);
    for (const auto& e : entries) {
        for (uint64_t offset : {e.functionOffset, e.functionOffset + 2}) {
            pl_vm_address_t base = 0;
            uint32_t encoding = 0;
            ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_reader_find_pc(&reader, offset, &base, &encoding));
            EXPECT_EQ(e.functionOffset, base);
            EXPECT_EQ(e.encoding, encoding) << std::hex << offset;
        }
        lqcrash_compact_unwind_entry entry;
        ASSERT_EQ(LQCRASH_ESUCCESS,
                  lqcrash_compact_unwind_entry_init(&entry, lqcrash_async_macho_cpu_type(&image_), e.encoding))
            << std::hex << e.encoding;
        if (e.encoding == 0) {
            EXPECT_EQ(LQCRASH_ASYNC_CFE_ENTRY_TYPE_NONE, entry.type);
        }
    }
    pl_vm_address_t base;
    uint32_t encoding;
    EXPECT_EQ(LQCRASH_ENOTFOUND, lqcrash_compact_unwind_reader_find_pc(&reader, 0x10, &base, &encoding));
    // Past the last function: the last searchable entry still answers.
    EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_reader_find_pc(&reader, 0xFFFFFF, &base, &encoding));
    EXPECT_EQ(entries.back().functionOffset, base);
    lqcrash_async_mobject_free(&mobj);
}

TEST_P(LQCrashFixture, FdesAndCfaRulesMatchTheEhFrame) {
    auto expected = lqtest::fdes(dylib_);
    lqcrash_async_mobject mobj;
    lqcrash_error_t err = lqcrash_async_macho_map_section(&image_, "__TEXT", "__eh_frame", &mobj);
    if (expected.empty()) {
        // No FDE at all (a lone CIE, or no section): nothing is found.
        if (err == LQCRASH_ESUCCESS) {
            lqcrash_async_dwarf_frame_reader_t reader;
            lqcrash_async_dwarf_frame_reader_init(&reader, &mobj, image_.byteorder, image_.m64, false);
            lqcrash_async_dwarf_fde_info_t info;
            EXPECT_EQ(LQCRASH_ENOTFOUND,
                      lqcrash_async_dwarf_frame_reader_find_fde(&reader, 0, mapped_->header + 0x10, &info));
            lqcrash_async_mobject_free(&mobj);
        } else {
            EXPECT_EQ(LQCRASH_ENOTFOUND, err);
        }
        return;
    }
    ASSERT_EQ(LQCRASH_ESUCCESS, err);
    lqcrash_async_dwarf_frame_reader_t reader;
    lqcrash_async_dwarf_frame_reader_init(&reader, &mobj, image_.byteorder, image_.m64, false);
    for (const auto& fde : expected) {
        lqcrash_async_dwarf_fde_info_t info;
        ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_dwarf_frame_reader_find_fde(&reader, 0, fde.pcStart + kSlide, &info));
        EXPECT_EQ(fde.pcStart + kSlide, info.pc_start);
        EXPECT_EQ(fde.pcEnd + kSlide, info.pc_end);
        for (const auto& row : fde.rows) {
            lqcrash::DV::async::gnu_ehptr_reader<uint64_t> ptr(image_.byteorder);
            lqcrash_async_dwarf_cie_info_t cie;
            ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_dwarf_cie_info_init<uint64_t>(
                                            &cie, &mobj, image_.byteorder, &ptr, mobj.task_address + info.cie_offset));
            lqcrash::DV::async::dwarf_cfa_state<uint64_t, int64_t> state;
            uint64_t pc = row.address + kSlide;
            ASSERT_EQ(LQCRASH_ESUCCESS,
                      state.eval_program(&mobj, pc, info.pc_start, &cie, &ptr, image_.byteorder, mobj.task_address,
                                         static_cast<pl_vm_off_t>(cie.initial_instructions_offset),
                                         cie.initial_instructions_length));
            ASSERT_EQ(LQCRASH_ESUCCESS,
                      state.eval_program(&mobj, pc, info.pc_start, &cie, &ptr, image_.byteorder, mobj.task_address,
                                         static_cast<pl_vm_off_t>(info.instructions_offset), info.instructions_length));
            auto cfa = state.get_cfa_rule();
            uint32_t expectedReg = row.cfaRegister == "WSP" ? 31u
                                   : row.cfaRegister == "RSP" ? 7u
                                   : row.cfaRegister == "RBP" ? 6u
                                                              : static_cast<uint32_t>(std::stoul(row.cfaRegister.substr(1)));
            EXPECT_EQ(expectedReg, cfa.reg) << std::hex << row.address;
            EXPECT_EQ(static_cast<uint64_t>(row.cfaOffset), cfa.offset) << std::hex << row.address;
            // Saved frame pointer and return address, as "W29=[CFA-16]".
            for (uint32_t reg : {29u, 30u}) {
                std::string name = "W" + std::to_string(reg) + "=[CFA";
                size_t at = row.rules.find(name);
                if (at == std::string::npos) continue;
                lqcrash_dwarf_cfa_reg_rule_t rule;
                uint64_t value;
                ASSERT_TRUE(state.get_register_rule(reg, &rule, &value));
                EXPECT_EQ(LQCRASH_DWARF_CFA_REG_RULE_OFFSET, rule);
                EXPECT_EQ(static_cast<uint64_t>(std::stoll(row.rules.substr(at + name.size()))), value);
            }
        }
    }
    lqcrash_async_mobject_free(&mobj);
}

INSTANTIATE_TEST_SUITE_P(Images, LQCrashFixture,
                         ::testing::Values(FixtureParam{"unwind_arm64", CPU_TYPE_ARM64, true},
                                           FixtureParam{"unwind_x86_64", CPU_TYPE_X86_64, true},
                                           FixtureParam{"unwind_arm64_32", CPU_TYPE_ARM64_32, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Frames of the arm64 fixture walked by the frame readers over a stack laid
// out in the fake task.
class LQCrashArm64Walk : public ::testing::Test {
protected:
    void SetUp() override {
        if (lqtest::fixturesDir().empty()) GTEST_SKIP() << "fixtures need clang, ld64.lld-16 and llvm-16";
        dylib_ = lqtest::fixturesDir() + "/unwind_arm64.dylib";
        mapped_ = lqtest::mapMachO(dylib_, kSlide);
        ASSERT_TRUE(mapped_);
        lqcrash_image_list_init(&images_, mapped_->task);
        ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_image_list_append(&images_, mapped_->header, dylib_.c_str()));
        symbols_ = lqtest::nmSymbols(dylib_);
        for (const auto& e : lqtest::unwindEntries(dylib_)) encodings_[e.functionOffset] = e.encoding;
    }
    void TearDown() override {
        if (mapped_) lqcrash_image_list_free(&images_);
    }
    uint64_t address(const std::string& symbol) { return symbols_.at(symbol) + kSlide; }
    // The index merges neighbours with one encoding: the entry at or below the function.
    uint32_t encoding(const std::string& symbol) {
        auto it = encodings_.upper_bound(address(symbol) - mapped_->header);
        return it == encodings_.begin() ? 0xFFFFFFFFu : std::prev(it)->second;
    }

    static lqcrash_async_thread_state state(uint64_t pc, uint64_t sp, uint64_t fp, uint64_t lr) {
        darwin_mcontext64_t mc;
        std::memset(&mc, 0, sizeof(mc));
        mc.ss.pc = pc;
        mc.ss.sp = sp;
        mc.ss.fp = fp;
        mc.ss.lr = lr;
        lqcrash_async_thread_state s;
        lqcrash_async_thread_state_mcontext_init(&s, &mc);
        return s;
    }

    std::string dylib_;
    std::unique_ptr<lqtest::MappedImage> mapped_;
    lqcrash_async_image_list images_;
    std::map<std::string, uint64_t> symbols_;
    std::map<uint64_t, uint32_t> encodings_;
};

TEST_F(LQCrashArm64Walk, FramelessLeafTakesItsCallerFromLr) {
    uint32_t enc = encoding("_lq_leaf");
    ASSERT_EQ(0x02000000u, enc & 0x0F000000u);
    lqcrash_async_thread_state current = state(address("_lq_leaf") + 4, 0x9000, 0x9100, address("_lq_frame") + 8), next;
    ASSERT_EQ(LQCRASH_FRAME_ESUCCESS,
              lqcrash_compact_unwind_frame_reader(mapped_->task, &images_, &current, nullptr, &next));
    EXPECT_EQ(address("_lq_frame") + 8, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_IP));
    EXPECT_EQ(0x9000u + ((enc >> 12) & 0xFFF) * 16, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_SP));
}

TEST_F(LQCrashArm64Walk, DwarfModeFunctionsFallToTheDwarfReader) {
    uint32_t enc = encoding("_lq_dwarf_remember");
    ASSERT_EQ(0x03000000u, enc & 0x0F000000u);
    // After "mov x29, sp": CFA = x29 + 32, saved fp at CFA-32, lr at CFA-24.
    uint64_t fp = 0x9400;
    uint64_t record[4] = {0x9500, address("_lq_saves") + 12, 0, 0};
    ASSERT_TRUE(mach::fakeTaskMap(mapped_->task, fp, record, sizeof(record)));
    lqcrash_async_thread_state current = state(address("_lq_dwarf_remember") + 8, fp, fp, 0), next;
    // The compact entry can't be applied, so that reader gives up on the frame.
    EXPECT_EQ(LQCRASH_FRAME_ENOFRAME,
              lqcrash_compact_unwind_frame_reader(mapped_->task, &images_, &current, nullptr, &next));
    ASSERT_EQ(LQCRASH_FRAME_ESUCCESS, lqcrash_dwarf_frame_reader(mapped_->task, &images_, &current, nullptr, &next));
    EXPECT_EQ(address("_lq_saves") + 12, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_IP));
    EXPECT_EQ(fp + 32, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_SP));
    EXPECT_EQ(0x9500u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_FP));
}

TEST_F(LQCrashArm64Walk, NoUnwindInformationEndsTheCompactReader) {
    uint32_t enc = encoding("_lq_no_unwind");
    ASSERT_EQ(0u, enc);
    lqcrash_async_thread_state current = state(address("_lq_no_unwind"), 0x9000, 0, 0), next;
    EXPECT_EQ(LQCRASH_FRAME_ENOFRAME,
              lqcrash_compact_unwind_frame_reader(mapped_->task, &images_, &current, nullptr, &next));
}

TEST(LQCrashCompactUnwindEncoding, Arm64FrameAndFramelessDecoding) {
    lqcrash_compact_unwind_entry e;
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_ARM64, 0x04000011));
    EXPECT_EQ(LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR, e.type);
    ASSERT_EQ(4u, e.register_count);
    EXPECT_EQ(-32, e.stack_offset);
    EXPECT_EQ(LQCRASH_ARM64_X28, e.register_list[0]);
    EXPECT_EQ(LQCRASH_ARM64_X28 - 1, e.register_list[1]);
    EXPECT_EQ(LQCRASH_ARM64_X19 + 1, e.register_list[2]);
    EXPECT_EQ(LQCRASH_ARM64_X19, e.register_list[3]);

    // Applied: x28 at fp-32, x27 at fp-24, x20 at fp-16, x19 at fp-8; sp = fp + 16.
    task_t task = mach::fakeTaskCreate();
    uint64_t stack[6] = {28, 27, 20, 19, 0x7777, 0x40001234};
    ASSERT_TRUE(mach::fakeTaskMap(task, 0x9000 - 32, stack, sizeof(stack)));
    darwin_mcontext64_t mc{};
    mc.ss.fp = 0x9000;
    mc.ss.sp = 0x8F00;
    lqcrash_async_thread_state cur, next;
    lqcrash_async_thread_state_mcontext_init(&cur, &mc);
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_apply(task, 0x40000000, &cur, &e, &next));
    EXPECT_EQ(28u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_ARM64_X28));
    EXPECT_EQ(27u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_ARM64_X28 - 1));
    EXPECT_EQ(20u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_ARM64_X19 + 1));
    EXPECT_EQ(19u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_ARM64_X19));
    EXPECT_EQ(0x9010u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_SP));
    EXPECT_EQ(0x7777u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_FP));
    EXPECT_EQ(0x40001234u, lqcrash_async_thread_state_get_reg(&next, LQCRASH_REG_IP));
    mach::fakeTaskDestroy(task);

    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_ARM64, 0x02003000));
    EXPECT_EQ(LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_IMMD, e.type);
    EXPECT_EQ(48, e.stack_offset);
    EXPECT_EQ(LQCRASH_ARM64_LR, e.return_address_register);
    EXPECT_EQ(LQCRASH_ENOTSUP, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_ARM64, 0x01000000));
    EXPECT_EQ(LQCRASH_ENOTSUP, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_ARM64, 0x05000000));
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_ARM64, 0x03000123));
    EXPECT_EQ(LQCRASH_ASYNC_CFE_ENTRY_TYPE_DWARF, e.type);
    EXPECT_EQ(0x123, e.stack_offset);
}

TEST(LQCrashCompactUnwindEncoding, X86Permutations) {
    lqcrash_compact_unwind_entry e;
    // x86_64 frame: rbx (1) and r12 (2) saved at rbp-16.
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_X86_64, 0x01020000 | 1 | (2 << 3)));
    EXPECT_EQ(LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAME_PTR, e.type);
    EXPECT_EQ(-16, e.stack_offset);
    ASSERT_EQ(2u, e.register_count);
    EXPECT_EQ(4u, e.register_list[0]);
    EXPECT_EQ(13u, e.register_list[1]);
    // Frameless, 3 registers, permutation 0: codes 1, 2, 3 in order.
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_X86_64, 0x02040000 | (3 << 10)));
    EXPECT_EQ(32, e.stack_offset);
    ASSERT_EQ(3u, e.register_count);
    EXPECT_EQ((std::vector<uint32_t>{4, 13, 14}), std::vector<uint32_t>(e.register_list, e.register_list + 3));
    // Permutation 5 with two registers: digits 1, 0 -> codes 2, 1.
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_X86_64, 0x02010000 | (2 << 10) | 5));
    EXPECT_EQ((std::vector<uint32_t>{13, 4}), std::vector<uint32_t>(e.register_list, e.register_list + 2));
    EXPECT_EQ(LQCRASH_EINVAL, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_X86_64, 0x02010000 | (7 << 10)));
    // 32-bit x86 indirect stack size with a 4-byte unit.
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_entry_init(&e, CPU_TYPE_X86, 0x03100000 | (1 << 13)));
    EXPECT_EQ(LQCRASH_ASYNC_CFE_ENTRY_TYPE_FRAMELESS_INDIRECT, e.type);
    EXPECT_EQ(0x10, e.stack_offset);
    EXPECT_EQ(4u, e.stack_adjust);
}

}  // namespace

namespace {

// The object runtime's class data as it looks once the runtime has realized
// the classes: the class's data word points to a writable record (flags with
// the realized bit, then the read-only data). The images here are never
// loaded by a runtime, so the test lays those records out itself.
class LQCrashObjCMetadata : public ::testing::Test {
protected:
    void SetUp() override {
        if (lqtest::fixturesDir().empty()) GTEST_SKIP() << "fixtures need clang, ld64.lld-16 and llvm-16";
        dylib_ = lqtest::fixturesDir() + "/objc_arm64.dylib";
        symbols_ = lqtest::nmSymbols(dylib_, true);
        auto file = lqtest::readFile(dylib_);
        ASSERT_FALSE(file.empty());
        // Pointers in the file are unslid, so the image goes at slide 0.
        std::vector<std::pair<uint64_t, uint64_t>> realized;  // (class, read-only data)
        for (const char* name : {"_OBJC_CLASS_$_LQRoot", "_OBJC_METACLASS_$_LQRoot"}) {
            uint64_t cls = symbols_.at(name);
            uint64_t ro = 0;
            std::memcpy(&ro, &file[fileOffset(file, cls + 32)], 8);
            realized.push_back({cls, ro});
        }
        uint64_t rwBase = 0x40000;
        std::vector<uint8_t> rw(32, 0);
        for (size_t i = 0; i < realized.size(); ++i) {
            uint64_t dataWord = rwBase + 16 * i;
            std::memcpy(&file[fileOffset(file, realized[i].first + 32)], &dataWord, 8);
            uint32_t flags = 0x80000000u;
            std::memcpy(&rw[16 * i], &flags, 4);
            std::memcpy(&rw[16 * i + 8], &realized[i].second, 8);
        }
        std::string patched = dylib_ + ".realized";
        std::ofstream(patched, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                       static_cast<std::streamsize>(file.size()));
        mapped_ = lqtest::mapMachO(patched, 0);
        ASSERT_TRUE(mapped_);
        ASSERT_TRUE(mach::fakeTaskMap(mapped_->task, rwBase, rw.data(), rw.size()));
        ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_macho_init(&image_, mapped_->task, patched.c_str(), mapped_->header));
        initialized_ = true;
        lqcrash_async_objc_cache_init(&cache_);
    }
    void TearDown() override {
        if (initialized_) {
            lqcrash_async_objc_cache_free(&cache_);
            lqcrash_async_macho_free(&image_);
        }
    }

    // The file offset of a virtual address, through the segment commands.
    static size_t fileOffset(const std::vector<uint8_t>& file, uint64_t vmaddr) {
        mach_header_64 h;
        std::memcpy(&h, file.data(), sizeof(h));
        size_t at = sizeof(h);
        for (uint32_t i = 0; i < h.ncmds; ++i) {
            load_command lc;
            std::memcpy(&lc, &file[at], sizeof(lc));
            if (lc.cmd == LC_SEGMENT_64) {
                segment_command_64 s;
                std::memcpy(&s, &file[at], sizeof(s));
                if (vmaddr >= s.vmaddr && vmaddr < s.vmaddr + s.filesize) return s.fileoff + (vmaddr - s.vmaddr);
            }
            at += lc.cmdsize;
        }
        ADD_FAILURE() << "no segment for " << std::hex << vmaddr;
        return 0;
    }

    std::string symbolFor(uint64_t pc, uint32_t strategy, uint64_t* start = nullptr) {
        Found found;
        if (lqcrash_async_find_symbol(&image_, strategy, &cache_, pc, onSymbol, &found) != LQCRASH_ESUCCESS) return "";
        if (start) *start = found.start;
        return found.name;
    }

    std::string dylib_;
    std::map<std::string, uint64_t> symbols_;
    std::unique_ptr<lqtest::MappedImage> mapped_;
    lqcrash_async_macho image_{};
    lqcrash_async_objc_cache cache_{};
    bool initialized_ = false;
};

TEST_F(LQCrashObjCMetadata, MethodsOfClassesAndCategoriesAreNamedFromTheMetadata) {
    uint64_t instance = symbols_.at("-[LQRoot lq_instance]");
    uint64_t cls = symbols_.at("+[LQRoot lq_class]");
    uint64_t category = symbols_.at("-[LQRoot(Extra) lq_category]");
    uint64_t start = 0;
    EXPECT_EQ("-[LQRoot lq_instance]", symbolFor(instance + 4, LQCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &start));
    EXPECT_EQ(instance, start);
    EXPECT_EQ("+[LQRoot lq_class]", symbolFor(cls + 2, LQCRASH_ASYNC_SYMBOL_STRATEGY_OBJC));
    // The symbol table names the category; at the same address the metadata's name wins.
    EXPECT_EQ("-[LQRoot(Extra) lq_category]", symbolFor(category + 2, LQCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE));
    EXPECT_EQ("-[LQRoot lq_category]", symbolFor(category + 2, LQCRASH_ASYNC_SYMBOL_STRATEGY_ALL));
    EXPECT_TRUE(cache_.gotObjC2Info);
}

}  // namespace

namespace {

// Images laid out by hand: the reader's checks on headers, load commands,
// section names and symbol names, and the readers' answers for an image
// without unwind sections.
class LQCrashMachOImage : public ::testing::Test {
protected:
    static constexpr uint64_t kHeader = 0x300000;

    void TearDown() override {
        if (initialized_) lqcrash_async_macho_free(&image_);
        if (task_ != MACH_PORT_NULL) mach::fakeTaskDestroy(task_);
    }

    lqcrash_error_t load(const lqtest::SyntheticImageOptions& options) {
        if (initialized_) lqcrash_async_macho_free(&image_);
        initialized_ = false;
        if (task_ != MACH_PORT_NULL) mach::fakeTaskDestroy(task_);
        task_ = mach::fakeTaskCreate();
        std::vector<uint8_t> bytes = lqtest::syntheticMachO(options);
        EXPECT_TRUE(mach::fakeTaskMap(task_, kHeader, bytes.data(), bytes.size()));
        lqcrash_error_t err = lqcrash_async_macho_init(&image_, task_, "/synthetic", kHeader);
        initialized_ = err == LQCRASH_ESUCCESS;
        return err;
    }

    task_t task_ = MACH_PORT_NULL;
    lqcrash_async_macho image_{};
    bool initialized_ = false;
};

TEST_F(LQCrashMachOImage, HeadersAndLoadCommandsAreChecked) {
    ASSERT_EQ(LQCRASH_ESUCCESS, load({}));
    EXPECT_EQ(static_cast<pl_vm_off_t>(kHeader - lqtest::kSyntheticTextVmaddr), image_.vmaddr_slide);
    EXPECT_EQ(0x1000u, image_.text_size);

    lqtest::SyntheticImageOptions universal;
    universal.magic = FAT_CIGAM;  // a universal file's magic as read on this host
    EXPECT_EQ(LQCRASH_EINVAL, load(universal));
    EXPECT_EQ(0, mach::fakeTaskExtraRights(task_));  // nothing left behind

    // A command of 4 bytes ends the walk before __TEXT is reached.
    lqtest::SyntheticImageOptions shortCommand;
    shortCommand.uuidCommandSize = 4;
    EXPECT_EQ(LQCRASH_EINVAL, load(shortCommand));
    EXPECT_EQ(0, mach::fakeTaskExtraRights(task_));
}

TEST_F(LQCrashMachOImage, SectionNamesOfSixteenCharactersMatch) {
    lqtest::SyntheticImageOptions options;
    options.sectionName = "__sixteen_chars_";
    ASSERT_EQ(16u, options.sectionName.size());
    ASSERT_EQ(LQCRASH_ESUCCESS, load(options));
    lqcrash_async_mobject mobj;
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_macho_map_section(&image_, "__TEXT", "__sixteen_chars_", &mobj));
    EXPECT_EQ(kHeader + lqtest::kSyntheticSymbolOffset, mobj.task_address);
    EXPECT_EQ(0x20u, mobj.length);
    lqcrash_async_mobject_free(&mobj);
    EXPECT_EQ(LQCRASH_ENOTFOUND, lqcrash_async_macho_map_section(&image_, "__TEXT", "__sixteen_chars", &mobj));
}

TEST_F(LQCrashMachOImage, ImagesWithoutUuidOrUnwindSections) {
    lqtest::SyntheticImageOptions options;
    options.uuid = false;
    ASSERT_EQ(LQCRASH_ESUCCESS, load(options));
    uint8_t uuid[16];
    EXPECT_FALSE(lqcrash_async_macho_uuid(&image_, uuid));

    lqcrash_async_image_list images;
    lqcrash_image_list_init(&images, task_);
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_image_list_append(&images, kHeader, "/synthetic"));
    darwin_mcontext64_t mc{};
    mc.ss.pc = kHeader + lqtest::kSyntheticSymbolOffset + 8;
    mc.ss.sp = 0x9000;
    mc.ss.fp = 0x9100;
    lqcrash_async_thread_state current, next;
    lqcrash_async_thread_state_mcontext_init(&current, &mc);
    // No __unwind_info: not supported; neither __eh_frame nor __debug_frame: no frame.
    EXPECT_EQ(LQCRASH_FRAME_ENOTSUP, lqcrash_compact_unwind_frame_reader(task_, &images, &current, nullptr, &next));
    EXPECT_EQ(LQCRASH_FRAME_ENOFRAME, lqcrash_dwarf_frame_reader(task_, &images, &current, nullptr, &next));
    lqcrash_image_list_free(&images);
}

TEST_F(LQCrashMachOImage, SymbolNamesMustEndInsideTheStringTable) {
    ASSERT_EQ(LQCRASH_ESUCCESS, load({}));
    Found found;
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_macho_find_symbol_by_pc(
                                    &image_, kHeader + lqtest::kSyntheticSymbolOffset + 4, onSymbol, &found));
    EXPECT_EQ("lq_symbol", found.name);
    EXPECT_EQ(kHeader + lqtest::kSyntheticSymbolOffset, found.start);
    EXPECT_EQ(LQCRASH_ENOTFOUND, lqcrash_async_macho_find_symbol_by_pc(
                                     &image_, kHeader + lqtest::kSyntheticSymbolOffset - 4, onSymbol, &found));

    lqtest::SyntheticImageOptions unterminated;
    unterminated.symbolNameTerminated = false;
    ASSERT_EQ(LQCRASH_ESUCCESS, load(unterminated));
    found = {};
    EXPECT_EQ(LQCRASH_EINVAL, lqcrash_async_macho_find_symbol_by_pc(
                                  &image_, kHeader + lqtest::kSyntheticSymbolOffset + 4, onSymbol, &found));
    EXPECT_TRUE(found.name.empty());
}

// An __unwind_info section built by hand: one searchable first-level entry
// whose compressed page mixes common and page-local encodings.
class LQCrashCompactUnwindIndex : public ::testing::Test {
protected:
    static constexpr uint64_t kSection = 0x50000;

    void SetUp() override { task_ = mach::fakeTaskCreate(); }
    void TearDown() override {
        if (mapped_) lqcrash_async_mobject_free(&mobj_);
        mach::fakeTaskDestroy(task_);
    }

    // entries: (function offset from the first-level entry, encoding index).
    lqcrash_error_t find(uint32_t indexCount, const std::vector<std::pair<uint32_t, uint8_t>>& entries, uint64_t pc,
                         pl_vm_address_t* function, uint32_t* encoding) {
        std::vector<uint8_t> b(0x100, 0);
        auto u32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
        auto u16 = [&](size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
        // Header: version, common encodings at 0x1C (one), no personalities,
        // the first-level index at 0x20.
        u32(0, 1);
        u32(4, 0x1C);
        u32(8, 1);
        u32(20, 0x20);
        u32(24, indexCount);
        u32(0x1C, 0x04000000);  // common encoding 0
        // First-level entries: function 0x1000 with its page at 0x40, then the sentinel.
        u32(0x20, 0x1000);
        u32(0x24, 0x40);
        u32(0x2C, 0x2000);
        // Compressed page at 0x40: entries at +12, one page-local encoding after them.
        u32(0x40, 3);
        u16(0x44, 12);
        u16(0x46, static_cast<uint16_t>(entries.size()));
        u16(0x48, static_cast<uint16_t>(12 + 4 * entries.size()));
        u16(0x4A, 1);
        for (size_t i = 0; i < entries.size(); ++i) {
            u32(0x4C + 4 * i, entries[i].first | (static_cast<uint32_t>(entries[i].second) << 24));
        }
        u32(0x4C + 4 * entries.size(), 0x02001000);  // page-local encoding 0
        if (mapped_) lqcrash_async_mobject_free(&mobj_);
        mach::fakeTaskDestroy(task_);
        task_ = mach::fakeTaskCreate();
        EXPECT_TRUE(mach::fakeTaskMap(task_, kSection, b.data(), b.size()));
        EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_async_mobject_init(&mobj_, task_, kSection, b.size(), true));
        mapped_ = true;
        lqcrash_compact_unwind_reader reader;
        EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_compact_unwind_reader_init(&reader, &mobj_, CPU_TYPE_ARM64));
        return lqcrash_compact_unwind_reader_find_pc(&reader, pc, function, encoding);
    }

    task_t task_ = MACH_PORT_NULL;
    lqcrash_async_mobject mobj_{};
    bool mapped_ = false;
};

TEST_F(LQCrashCompactUnwindIndex, EncodingIndicesPastTheCommonOnesArePageLocal) {
    const std::vector<std::pair<uint32_t, uint8_t>> entries = {{0x0, 0}, {0x100, 1}, {0x200, 2}};
    pl_vm_address_t function = 0;
    uint32_t encoding = 0;
    ASSERT_EQ(LQCRASH_ESUCCESS, find(2, entries, 0x1050, &function, &encoding));
    EXPECT_EQ(0x1000u, function);
    EXPECT_EQ(0x04000000u, encoding);  // the common encoding
    ASSERT_EQ(LQCRASH_ESUCCESS, find(2, entries, 0x1150, &function, &encoding));
    EXPECT_EQ(0x1100u, function);
    EXPECT_EQ(0x02001000u, encoding);  // index = common count: the first page-local one
    // Index 2 is past the common count plus the page's own count.
    EXPECT_EQ(LQCRASH_EINVAL, find(2, entries, 0x1250, &function, &encoding));
    EXPECT_EQ(LQCRASH_ENOTFOUND, find(2, entries, 0xFFF, &function, &encoding));  // below the first entry
    // An index of only the sentinel (or nothing) has no searchable entry.
    EXPECT_EQ(LQCRASH_ENOTFOUND, find(1, entries, 0x1050, &function, &encoding));
    EXPECT_EQ(LQCRASH_ENOTFOUND, find(0, entries, 0x1050, &function, &encoding));
}

}  // namespace
