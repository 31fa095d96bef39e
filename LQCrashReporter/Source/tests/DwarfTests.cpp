// DWARF call-frame information: encoded pointers, CIE and FDE parsing, the
// rule table's programs and their application, and the expression machine.
// The bytes are laid out in a fake task.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "LQCrashReporter/Source/LQCrashDwarfCFAState.h"
#include "LQCrashReporter/Source/LQCrashDwarfEncoding.h"
#include "LQCrashReporter/Source/LQCrashDwarfExpression.h"
#include "platform/machcompat/Mach.h"

using namespace lqcrash::DV::async;

namespace {

constexpr uint64_t kBase = 0x20000;

class LQCrashDwarf : public ::testing::Test {
protected:
    void SetUp() override { task_ = mach::fakeTaskCreate(); }
    void TearDown() override {
        if (mapped_) lqcrash_async_mobject_free(&mobj_);
        mach::fakeTaskDestroy(task_);
    }

    // Places bytes at kBase and maps them.
    lqcrash_async_mobject* place(const std::vector<uint8_t>& bytes) {
        if (mapped_) {
            lqcrash_async_mobject_free(&mobj_);
            mapped_ = false;
        }
        mach::fakeTaskDestroy(task_);
        task_ = mach::fakeTaskCreate();
        EXPECT_TRUE(mach::fakeTaskMap(task_, kBase, bytes.data(), bytes.size()));
        EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_async_mobject_init(&mobj_, task_, kBase, bytes.size(), true));
        mapped_ = true;
        return &mobj_;
    }

    // Evaluates the first length bytes (all by default) of expr.
    lqcrash_error_t eval(const std::vector<uint8_t>& expr, uint64_t* result, const std::vector<uint64_t>& initial = {},
                         size_t length = 0) {
        place(expr);
        lqcrash_async_thread_state state = threadState();
        return lqcrash_async_dwarf_expression_eval<uint64_t, int64_t>(&mobj_, task_, &state,
                                                                      DVlqcrash_async_byteorder_direct(), kBase, 0,
                                                                      length ? length : expr.size(), initial.data(),
                                                                      initial.size(), result);
    }

    static lqcrash_async_thread_state threadState() {
        darwin_mcontext64_t mc;
        std::memset(&mc, 0, sizeof(mc));
        mc.ss.sp = 0x7000;
        mc.ss.fp = 0x7100;
        mc.ss.lr = 0x4444;
        mc.ss.pc = 0x1000;
        mc.ss.x[19] = 19;
        mc.ss.x[20] = 20;
        lqcrash_async_thread_state s;
        lqcrash_async_thread_state_mcontext_init(&s, &mc);
        return s;
    }

    static lqcrash_async_dwarf_cie_info_t cie() {
        lqcrash_async_dwarf_cie_info_t c;
        std::memset(&c, 0, sizeof(c));
        c.code_alignment_factor = 4;
        c.data_alignment_factor = -8;
        c.return_address_register = 30;
        return c;
    }

    lqcrash_error_t run(dwarf_cfa_state<uint64_t, int64_t>* state, const std::vector<uint8_t>& program, uint64_t pc,
                        uint64_t start = 0x1000) {
        place(program);
        lqcrash_async_dwarf_cie_info_t c = cie();
        return state->eval_program(&mobj_, pc, start, &c, nullptr, DVlqcrash_async_byteorder_direct(), kBase, 0,
                                   program.size());
    }

    task_t task_ = MACH_PORT_NULL;
    lqcrash_async_mobject mobj_{};
    bool mapped_ = false;
};

TEST_F(LQCrashDwarf, ExpressionArithmeticAndErrors) {
    uint64_t r = 0;
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x35, 0x33, 0x1C}, &r));  // lit5 lit3 minus
    EXPECT_EQ(2u, r);
    EXPECT_EQ(LQCRASH_EINVAL, eval({0x31, 0x30, 0x1B}, &r));  // lit1 lit0 div
    EXPECT_EQ(LQCRASH_ENOTSUP, eval({0x50}, &r));              // reg0
    EXPECT_EQ(LQCRASH_EINVAL, eval({0x96}, &r));               // nothing left on the stack
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x31, 0x32}, &r));       // several entries: the top
    EXPECT_EQ(2u, r);
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x11, 0x7F, 0x19}, &r));  // consts -1, abs
    EXPECT_EQ(1u, r);
    EXPECT_EQ(LQCRASH_EINTERNAL, eval({0x1C}, &r));  // arithmetic on an empty stack
    EXPECT_EQ(LQCRASH_EINVAL, eval({0x16}, &r));     // swap on an empty stack
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x31, 0x32, 0x33, 0x17}, &r));  // rot: 1 2 3 -> 3 1 2
    EXPECT_EQ(2u, r);
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x32, 0x08, 0xFF, 0x15, 0x01}, &r));  // pick 1
    EXPECT_EQ(2u, r);
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x8F, 0x10}, &r));  // breg31 (sp) + 16
    EXPECT_EQ(0x7010u, r);
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x23, 0x05}, &r, {10}));  // plus_uconst on the initial entry
    EXPECT_EQ(15u, r);
    // abs of the most negative word has no positive counterpart: it stays as it is.
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x0E, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x19}, &r));
    EXPECT_EQ(0x8000000000000000ull, r);
}

TEST_F(LQCrashDwarf, ExpressionBranchesAndSizedReads) {
    uint64_t r = 0;
    // lit0 bra +1 lit7 lit9: a zero condition falls through.
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x30, 0x28, 0x01, 0x00, 0x37, 0x39}, &r));
    EXPECT_EQ(9u, r);
    // lit1 bra to before the first byte.
    EXPECT_EQ(LQCRASH_EINVAL, eval({0x31, 0x28, 0xF0, 0xFF}, &r));
    // lit1 bra +1 over lit7, then lit9.
    EXPECT_EQ(LQCRASH_ESUCCESS, eval({0x31, 0x28, 0x01, 0x00, 0x37, 0x39}, &r));
    EXPECT_EQ(9u, r);
    // Branches back to themselves (damaged data) give up instead of looping.
    EXPECT_EQ(LQCRASH_EINVALID_DATA, eval({0x31, 0x28, 0xFC, 0xFF}, &r));  // lit1 bra -4
    EXPECT_EQ(LQCRASH_EINVALID_DATA, eval({0x2F, 0xFD, 0xFF}, &r));        // skip -3
    // deref_size reads from the task; the expression itself is at kBase.
    std::vector<uint8_t> expr = {0x0C, 0, 0, 0, 0, 0x94, 0x02, 0xAB, 0xCD};
    uint32_t at = kBase + 7;
    std::memcpy(&expr[1], &at, 4);
    EXPECT_EQ(LQCRASH_ESUCCESS, eval(expr, &r, {}, 7));  // const4u addr; deref_size 2 -> 0xCDAB
    EXPECT_EQ(0xCDABu, r);
    expr[6] = 3;
    EXPECT_EQ(LQCRASH_EINVAL, eval(expr, &r, {}, 7));
}

TEST_F(LQCrashDwarf, RememberAndRestoreState) {
    dwarf_cfa_state<uint64_t, int64_t> state;
    // def_cfa sp+16, remember x5, remember once more fails at depth 5.
    EXPECT_EQ(LQCRASH_ESUCCESS, run(&state, {0x0C, 31, 16, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A}, 0));
    EXPECT_EQ(5, state.depth());
    dwarf_cfa_state<uint64_t, int64_t> deep;
    TearDown();
    SetUp();
    EXPECT_EQ(LQCRASH_ENOMEM, run(&deep, {0x0C, 31, 16, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A}, 0));

    dwarf_cfa_state<uint64_t, int64_t> empty;
    TearDown();
    SetUp();
    EXPECT_EQ(LQCRASH_EINVAL, run(&empty, {0x0B}, 0));

    dwarf_cfa_state<uint64_t, int64_t> restored;
    TearDown();
    SetUp();
    // def_cfa sp+16, offset x29 at -16, remember, def_cfa_offset 48, restore.
    ASSERT_EQ(LQCRASH_ESUCCESS, run(&restored, {0x0C, 31, 16, 0x9D, 0x02, 0x0A, 0x0E, 48, 0x0B}, 0));
    EXPECT_EQ(16u, restored.get_cfa_rule().offset);
    lqcrash_dwarf_cfa_reg_rule_t rule;
    uint64_t value;
    ASSERT_TRUE(restored.get_register_rule(29, &rule, &value));
    EXPECT_EQ(LQCRASH_DWARF_CFA_REG_RULE_OFFSET, rule);
    EXPECT_EQ(static_cast<uint64_t>(-16), value);

    // Restoring returns the remembered level's rules to the pool: ten rules
    // remembered and restored twelve times need no more than the first ten.
    dwarf_cfa_state<uint64_t, int64_t> cycles;
    TearDown();
    SetUp();
    std::vector<uint8_t> program = {0x0C, 31, 16};
    for (uint8_t reg = 19; reg < 29; ++reg) program.insert(program.end(), {static_cast<uint8_t>(0x80 | reg), 2});
    for (int i = 0; i < 12; ++i) program.insert(program.end(), {0x0A, 0x0B});
    ASSERT_EQ(LQCRASH_ESUCCESS, run(&cycles, program, 0));
    EXPECT_EQ(0, cycles.depth());
    EXPECT_EQ(10, cycles.get_register_count());

    dwarf_cfa_state<uint64_t, int64_t> undefinedCfa;
    TearDown();
    SetUp();
    EXPECT_EQ(LQCRASH_EINVAL, run(&undefinedCfa, {0x0D, 29}, 0));
}

TEST_F(LQCrashDwarf, TheTargetPcStopsTheProgramAfterAnAdvance) {
    // def_cfa sp+0; advance 1 (x4 bytes); def_cfa_offset 16; advance 1; def_cfa_offset 32.
    std::vector<uint8_t> program = {0x0C, 31, 0, 0x41, 0x0E, 16, 0x41, 0x0E, 32};
    dwarf_cfa_state<uint64_t, int64_t> atAdvance;
    ASSERT_EQ(LQCRASH_ESUCCESS, run(&atAdvance, program, 0x1004));
    EXPECT_EQ(16u, atAdvance.get_cfa_rule().offset);
    dwarf_cfa_state<uint64_t, int64_t> before;
    TearDown();
    SetUp();
    ASSERT_EQ(LQCRASH_ESUCCESS, run(&before, program, 0x1003));
    EXPECT_EQ(0u, before.get_cfa_rule().offset);
    dwarf_cfa_state<uint64_t, int64_t> unknownOpcode;
    TearDown();
    SetUp();
    EXPECT_EQ(LQCRASH_ENOTSUP, run(&unknownOpcode, {0x20}, 0));
}

TEST_F(LQCrashDwarf, FactoredOffsetsWrapInsteadOfOverflowing) {
    // offset_extended x29 with N = 2^62: N x -8 is 2^65 below zero, which wraps to 0.
    dwarf_cfa_state<uint64_t, int64_t> state;
    ASSERT_EQ(LQCRASH_ESUCCESS,
              run(&state, {0x0C, 31, 0, 0x05, 29, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x40}, 0));
    lqcrash_dwarf_cfa_reg_rule_t rule;
    uint64_t value = 1;
    ASSERT_TRUE(state.get_register_rule(29, &rule, &value));
    EXPECT_EQ(0u, value);
    // def_cfa_sf sp with the same factor.
    dwarf_cfa_state<uint64_t, int64_t> cfa;
    TearDown();
    SetUp();
    ASSERT_EQ(LQCRASH_ESUCCESS,
              run(&cfa, {0x12, 31, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0xC0, 0x00}, 0));
    EXPECT_EQ(0u, cfa.get_cfa_rule().offset);
}

TEST_F(LQCrashDwarf, ApplyingRulesRestoresTheCallerAndTheReturnAddress) {
    // The stack: CFA = fp + 16; saved fp at CFA-16, saved lr at CFA-8, x19 at CFA-24.
    dwarf_cfa_state<uint64_t, int64_t> state;
    // def_cfa x29+16; offset x30 -8; offset x29 -16; offset x19 -24; register x20 <- x19.
    ASSERT_EQ(LQCRASH_ESUCCESS,
              run(&state, {0x0C, 29, 16, 0x9E, 0x01, 0x9D, 0x02, 0x93, 0x03, 0x09, 20, 19}, 0));
    uint64_t stack[4] = {0x9999, 0x7200, 0x40005000, 0};
    ASSERT_TRUE(mach::fakeTaskMap(task_, 0x70F8, stack, sizeof(stack)));
    lqcrash_async_thread_state current = threadState(), caller;
    lqcrash_async_dwarf_cie_info_t c = cie();
    ASSERT_EQ(LQCRASH_ESUCCESS, state.apply_state(task_, &c, &current, DVlqcrash_async_byteorder_direct(), &caller));
    EXPECT_EQ(0x7110u, lqcrash_async_thread_state_get_reg(&caller, LQCRASH_REG_SP));
    EXPECT_EQ(0x7200u, lqcrash_async_thread_state_get_reg(&caller, LQCRASH_REG_FP));
    EXPECT_EQ(0x40005000u, lqcrash_async_thread_state_get_reg(&caller, LQCRASH_ARM64_LR));
    EXPECT_EQ(0x40005000u, lqcrash_async_thread_state_get_reg(&caller, LQCRASH_REG_IP));  // lr is the return register
    EXPECT_EQ(0x9999u, lqcrash_async_thread_state_get_reg(&caller, LQCRASH_ARM64_X19));
    EXPECT_EQ(19u, lqcrash_async_thread_state_get_reg(&caller, LQCRASH_ARM64_X19 + 1));  // x20 took x19's value
    EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&caller, LQCRASH_ARM64_X0));
}

lqcrash_async_thread_state x86State() {
    x86_thread_state64_t r{};
    r.rsp = 0x7000;
    r.rbp = 0x7100;
    r.rip = 0x100C;
    r.rbx = 3;
    r.r12 = 12;
    r.rax = 1;
    lqcrash_async_thread_state s;
    lqcrash_async_thread_state_x86_64_init(&s, &r);
    return s;
}

struct ApplyCase {
    const char* name;
    bool x86;
    std::vector<uint8_t> program;
    lqcrash_error_t result;
    // Expected caller registers (engine numbers); a value of kAbsent means
    // the register must be unknown.
    std::vector<std::pair<lqcrash_regnum_t, uint64_t>> caller;
};

constexpr uint64_t kAbsent = ~0ull;

TEST_F(LQCrashDwarf, RuleTablesApplyToArm64AndX86_64States) {
    // The stack: 0x7000: 0x1111 0x2222 0x3333 0x4444, 0x7100: 0x7200 0x40005000.
    const std::vector<uint8_t> expressionCfa = {
        // def_cfa_expression: rsp + 8 + ((rip & 15) >= 11) << 3, as linkers describe lazy-binding stubs.
        0x0F, 11, 0x77, 8, 0x80, 0, 0x3F, 0x1A, 0x3B, 0x2A, 0x33, 0x24, 0x22,
        0x90, 1};  // rip at CFA - 8
    const ApplyCase cases[] = {
        {"arm64 frame", false, {0x0C, 29, 16, 0x9E, 0x01, 0x9D, 0x02}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_SP, 0x7110}, {LQCRASH_REG_FP, 0x7200}, {LQCRASH_REG_IP, 0x40005000},
          {LQCRASH_ARM64_LR, 0x40005000}, {LQCRASH_ARM64_X19, 19}, {LQCRASH_ARM64_X0, kAbsent}}},
        {"arm64 leaf keeps lr as the return address", false, {0x0C, 31, 0}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_SP, 0x7000}, {LQCRASH_REG_IP, 0x4444}}},
        {"arm64 undefined return address ends the stack", false, {0x0C, 31, 0, 0x07, 30}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_IP, kAbsent}, {LQCRASH_ARM64_LR, kAbsent}}},
        {"arm64 undefined callee-saved register", false, {0x0C, 31, 0, 0x07, 19}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_IP, 0x4444}, {LQCRASH_ARM64_X19, kAbsent}, {LQCRASH_ARM64_X19 + 1, 20}}},
        {"x86-64 frame", true, {0x0C, 6, 16, 0x90, 1, 0x86, 2}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_SP, 0x7110}, {LQCRASH_REG_IP, 0x40005000}, {LQCRASH_REG_FP, 0x7200},
          {LQCRASH_X86_64_RBX, 3}, {LQCRASH_X86_64_R12, 12}, {LQCRASH_X86_64_RAX, kAbsent}}},
        {"x86-64 frameless", true, {0x0C, 7, 8, 0x90, 1}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_SP, 0x7008}, {LQCRASH_REG_IP, 0x1111}, {LQCRASH_REG_FP, 0x7100}}},
        {"x86-64 expression naming rip", true, expressionCfa, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_SP, 0x7010}, {LQCRASH_REG_IP, 0x2222}}},
        {"x86-64 undefined rip ends the stack", true, {0x0C, 7, 8, 0x07, 16}, LQCRASH_ESUCCESS,
         {{LQCRASH_REG_IP, kAbsent}}},
        {"x86-64 without a return address rule", true, {0x0C, 7, 8}, LQCRASH_EINVAL, {}},
    };
    for (const ApplyCase& c : cases) {
        TearDown();
        SetUp();
        dwarf_cfa_state<uint64_t, int64_t> state;
        ASSERT_EQ(LQCRASH_ESUCCESS, run(&state, c.program, 0)) << c.name;
        const uint64_t stack[] = {0x1111, 0x2222, 0x3333, 0x4444};
        const uint64_t record[] = {0x7200, 0x40005000};
        ASSERT_TRUE(mach::fakeTaskMap(task_, 0x7000, stack, sizeof(stack)));
        ASSERT_TRUE(mach::fakeTaskMap(task_, 0x7100, record, sizeof(record)));
        lqcrash_async_thread_state current = c.x86 ? x86State() : threadState(), caller;
        lqcrash_async_dwarf_cie_info_t info = cie();
        if (c.x86) info.return_address_register = 16, info.code_alignment_factor = 1;
        ASSERT_EQ(c.result, state.apply_state(task_, &info, &current, DVlqcrash_async_byteorder_direct(), &caller))
            << c.name;
        for (const auto& [reg, value] : c.caller) {
            if (value == kAbsent) {
                EXPECT_FALSE(lqcrash_async_thread_state_has_reg(&caller, reg)) << c.name << " " << reg;
            } else {
                EXPECT_TRUE(lqcrash_async_thread_state_has_reg(&caller, reg)) << c.name << " " << reg;
                EXPECT_EQ(value, lqcrash_async_thread_state_get_reg(&caller, reg)) << c.name << " " << reg;
            }
        }
    }
}

struct FdeLayout {
    uint64_t pcStart;
    uint32_t ciePointerDelta;  // added to the true distance back to the CIE
};

// A CIE and FDEs (0x40 bytes of code each) as a linker lays them out in
// __eh_frame.
std::vector<uint8_t> ehFrame(uint8_t version, const char* augmentation, const std::vector<FdeLayout>& fdes) {
    std::vector<uint8_t> b;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    // CIE at 0.
    size_t cieStart = b.size();
    u32(0);  // length, patched
    u32(0);  // id
    b.push_back(version);
    for (const char* a = augmentation; *a; ++a) b.push_back(static_cast<uint8_t>(*a));
    b.push_back(0);
    if (version == 4) {
        b.push_back(8);  // address size
        b.push_back(0);  // segment size
    }
    b.push_back(1);     // code alignment
    b.push_back(0x78);  // data alignment -8
    b.push_back(30);    // return address register
    if (augmentation[0] == 'z') {
        b.push_back(1);     // augmentation data length
        b.push_back(0x1B);  // pcrel | sdata4
    }
    b.push_back(0x0C);  // def_cfa sp+0
    b.push_back(31);
    b.push_back(0);
    while ((b.size() - cieStart) % 4) b.push_back(0);
    uint32_t cieLength = static_cast<uint32_t>(b.size() - cieStart - 4);
    std::memcpy(&b[cieStart], &cieLength, 4);
    for (const FdeLayout& f : fdes) {
        size_t fdeStart = b.size();
        u32(0);
        u32(static_cast<uint32_t>(b.size() - cieStart) + f.ciePointerDelta);  // distance back to the CIE
        int32_t pcRel = static_cast<int32_t>(f.pcStart - (kBase + b.size()));
        u32(static_cast<uint32_t>(pcRel));
        u32(0x40);  // range
        b.push_back(0);  // augmentation data length
        b.push_back(0x44);  // advance 4
        b.push_back(0x0E);  // def_cfa_offset 16
        b.push_back(16);
        while ((b.size() - fdeStart) % 4) b.push_back(0);
        uint32_t fdeLength = static_cast<uint32_t>(b.size() - fdeStart - 4);
        std::memcpy(&b[fdeStart], &fdeLength, 4);
    }
    u32(0);  // terminator
    u32(0xFFFFFFFF);  // bytes after the terminator are never read as entries
    return b;
}

std::vector<uint8_t> ehFrame(uint8_t version = 1, const char* augmentation = "zR") {
    return ehFrame(version, augmentation, {{0x1000, 0}});
}

struct FdeSearchCase {
    const char* name;
    std::vector<FdeLayout> fdes;
    uint64_t pc;
    lqcrash_error_t result;
    uint64_t pcStart;
};

TEST_F(LQCrashDwarf, FdeSearch) {
    constexpr uint32_t kPastTheStart = 0x1000;  // a CIE pointer leading before the section
    const FdeSearchCase cases[] = {
        {"covering entry", {{0x1000, 0}}, 0x1010, LQCRASH_ESUCCESS, 0x1000},
        {"end is exclusive", {{0x1000, 0}}, 0x1040, LQCRASH_ENOTFOUND, 0},
        {"second entry", {{0x1000, 0}, {0x2000, 0}}, 0x2000, LQCRASH_ESUCCESS, 0x2000},
        {"damaged entry is skipped", {{0x1000, kPastTheStart}, {0x2000, 0}}, 0x2010, LQCRASH_ESUCCESS, 0x2000},
        {"damaged entry alone", {{0x1000, kPastTheStart}}, 0x1010, LQCRASH_ENOTFOUND, 0},
    };
    for (const FdeSearchCase& c : cases) {
        TearDown();
        SetUp();
        lqcrash_async_mobject* mobj = place(ehFrame(1, "zR", c.fdes));
        lqcrash_async_dwarf_frame_reader_t reader;
        lqcrash_async_dwarf_frame_reader_init(&reader, mobj, DVlqcrash_async_byteorder_direct(), true, false);
        lqcrash_async_dwarf_fde_info_t fde;
        ASSERT_EQ(c.result, lqcrash_async_dwarf_frame_reader_find_fde(&reader, 0, c.pc, &fde)) << c.name;
        if (c.result != LQCRASH_ESUCCESS) continue;
        EXPECT_EQ(c.pcStart, fde.pc_start) << c.name;  // pc-relative: the value plus where it is stored
        EXPECT_EQ(c.pcStart + 0x40, fde.pc_end) << c.name;
        EXPECT_EQ(3u, fde.instructions_length) << c.name;  // advance_loc and def_cfa_offset
    }
    // The damaged entry itself is refused: its CIE would lie before the section.
    std::vector<uint8_t> damaged = ehFrame(1, "zR", {{0x1000, kPastTheStart}});
    uint32_t cieLength;
    std::memcpy(&cieLength, damaged.data(), 4);
    lqcrash_async_mobject* mobj = place(damaged);
    lqcrash_async_dwarf_fde_info_t fde;
    EXPECT_EQ(LQCRASH_EINVAL, lqcrash_async_dwarf_fde_info_init<uint64_t>(&fde, mobj, DVlqcrash_async_byteorder_direct(),
                                                                         kBase + 4 + cieLength, false));
}

TEST_F(LQCrashDwarf, CieVersionsAndAugmentations) {
    gnu_ehptr_reader<uint64_t> ptr(DVlqcrash_async_byteorder_direct());
    lqcrash_async_dwarf_cie_info_t info;
    for (uint8_t version : {1, 3, 4}) {
        lqcrash_async_mobject* mobj = place(ehFrame(version));
        EXPECT_EQ(LQCRASH_ESUCCESS, lqcrash_async_dwarf_cie_info_init<uint64_t>(
                                        &info, mobj, DVlqcrash_async_byteorder_direct(), &ptr, kBase))
            << int(version);
        TearDown();
        SetUp();
    }
    lqcrash_async_mobject* mobj = place(ehFrame(2));
    EXPECT_EQ(LQCRASH_EINVAL,
              lqcrash_async_dwarf_cie_info_init<uint64_t>(&info, mobj, DVlqcrash_async_byteorder_direct(), &ptr, kBase));
    TearDown();
    SetUp();
    mobj = place(ehFrame(1, "eh"));
    EXPECT_EQ(LQCRASH_ENOTSUP,
              lqcrash_async_dwarf_cie_info_init<uint64_t>(&info, mobj, DVlqcrash_async_byteorder_direct(), &ptr, kBase));
    TearDown();
    SetUp();
    mobj = place(ehFrame(1, ""));
    ASSERT_EQ(LQCRASH_ESUCCESS,
              lqcrash_async_dwarf_cie_info_init<uint64_t>(&info, mobj, DVlqcrash_async_byteorder_direct(), &ptr, kBase));
    EXPECT_FALSE(info.has_eh_augmentation);
    EXPECT_EQ(-8, info.data_alignment_factor);
    EXPECT_EQ(30u, info.return_address_register);
}

TEST_F(LQCrashDwarf, Leb128Limits) {
    lqcrash_async_mobject* mobj = place({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01, 0x7F});
    uint64_t u = 0;
    pl_vm_size_t size = 0;
    EXPECT_EQ(LQCRASH_ENOTSUP, dwarf_read_uleb128(mobj, kBase, 0, &u, &size));
    ASSERT_EQ(LQCRASH_ESUCCESS, dwarf_read_uleb128(mobj, kBase, 10, &u, &size));
    EXPECT_EQ(1u, u);
    int64_t s = 0;
    ASSERT_EQ(LQCRASH_ESUCCESS, dwarf_read_sleb128(mobj, kBase, 11, &s, &size));
    EXPECT_EQ(-1, s);
    EXPECT_EQ(LQCRASH_EINVAL, dwarf_read_uleb128(mobj, kBase, 12, &u, &size));

    // Ten bytes that all continue are too wide, even when nothing follows them.
    TearDown();
    SetUp();
    mobj = place(std::vector<uint8_t>(10, 0x80));
    EXPECT_EQ(LQCRASH_ENOTSUP, dwarf_read_uleb128(mobj, kBase, 0, &u, &size));
    EXPECT_EQ(LQCRASH_ENOTSUP, dwarf_read_sleb128(mobj, kBase, 0, &s, &size));
    EXPECT_EQ(LQCRASH_EINVAL, dwarf_read_uleb128(mobj, kBase, 1, &u, &size));  // nine, then the end
    // The same in a call-frame program: def_cfa with such a register number.
    dwarf_cfa_state<uint64_t, int64_t> state;
    std::vector<uint8_t> program(11, 0x80);
    program[0] = 0x0C;
    EXPECT_EQ(LQCRASH_ENOTSUP, run(&state, program, 0));
}

}  // namespace

namespace {

TEST_F(LQCrashDwarf, ThirtyTwoBitImagesUseThirtyTwoBitArithmetic) {
    lqcrash_async_mobject* mobj = place(ehFrame());
    lqcrash_async_dwarf_frame_reader_t reader;
    lqcrash_async_dwarf_frame_reader_init(&reader, mobj, DVlqcrash_async_byteorder_direct(), false, false);
    lqcrash_async_dwarf_fde_info_t fde;
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_dwarf_frame_reader_find_fde(&reader, 0, 0x1010, &fde));
    EXPECT_EQ(0x1000u, fde.pc_start);

    // 0xFFFFFFFF + 1 wraps in 32 bits.
    std::vector<uint8_t> expr = {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0x31, 0x22};
    place(expr);
    lqcrash_async_thread_state state = threadState();
    uint32_t r = 7;
    ASSERT_EQ(LQCRASH_ESUCCESS, (lqcrash_async_dwarf_expression_eval<uint32_t, int32_t>(
                                    &mobj_, task_, &state, DVlqcrash_async_byteorder_direct(), kBase, 0, expr.size(),
                                    nullptr, 0, &r)));
    EXPECT_EQ(0u, r);
}

}  // namespace
