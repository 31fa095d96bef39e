// Decoding report files into the report model.

#include <gtest/gtest.h>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/LQCrashErrors.h"
#include "LQCrashReporter/Source/tests/ReportBuilder.h"

namespace {

std::string decodeError(const ns::Data& data) {
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(data, &error);
    EXPECT_FALSE(report);
    EXPECT_EQ(LQCrashReporterErrorDomain, error.domain);
    EXPECT_EQ(LQCrashReporterErrorCrashReportInvalid, error.code);
    return error.localizedDescription();
}

TEST(LQCrashDecoder, HeaderAndVersionAreChecked) {
    EXPECT_EQ("Could not decode truncated crash log", decodeError(ns::Data{'l', 'q', 'c', 'r', 'a', 's', 'h', 1}));
    EXPECT_EQ("Could not decode truncated crash log", decodeError(ns::Data{}));
    EXPECT_EQ("Could not decode invalid crash log header",
              decodeError(ns::Data{'p', 'q', 'c', 'r', 'a', 's', 'h', 1, 0}));
    lqtest::ReportBuilder b;
    ns::Data data = b.bytes();
    data[7] = 2;
    EXPECT_EQ("Could not decode unsupported crash report version: 2", decodeError(data));
    EXPECT_EQ("An unknown error occured decoding the crash report",
              decodeError(ns::Data{'l', 'q', 'c', 'r', 'a', 's', 'h', 1, 0x08}));
    // Without an error pointer decoding still fails quietly.
    EXPECT_FALSE(DVLQCrashReport::initWithData(ns::Data{1, 2}, nullptr));
}

TEST(LQCrashDecoder, AValidReportDecodesEverySection) {
    lqtest::ReportBuilder b;
    b.setRegisters(b.threads.front().crashed ? &b.threads.front() : nullptr, {{"pc", 0x100004010}, {"fp", 0x16f000}});
    auto* t = &b.threads.front();
    t->frames[1]->symbol = nullptr;
    ns::Error error;
    auto r = DVLQCrashReport::initWithData(b.bytes(), &error);
    ASSERT_TRUE(r) << error.description();
    EXPECT_FALSE(r->uuidRef());
    EXPECT_EQ("13.1", r->systemInfo()->operatingSystemVersion());
    EXPECT_EQ("22C65", *r->systemInfo()->operatingSystemBuild());
    EXPECT_EQ(1700000000.0, r->systemInfo()->timestamp()->timeIntervalSince1970());
    EXPECT_EQ(0x100000Cu, r->systemInfo()->processorInfo()->type());  // from the machine information
    EXPECT_EQ("Mac14,2", *r->machineInfo()->modelName());
    EXPECT_EQ("1.2", *r->applicationInfo()->applicationMarketingVersion());
    EXPECT_EQ(4242u, r->processInfo()->processID());
    EXPECT_EQ(1699999000.0, r->processInfo()->processStartTime()->timeIntervalSince1970());
    ASSERT_EQ(1u, r->threads().size());
    EXPECT_TRUE(r->threads()[0]->crashed());
    ASSERT_EQ(2u, r->threads()[0]->registers().size());
    EXPECT_EQ("fp", r->threads()[0]->registers()[1]->registerName());
    ASSERT_EQ(1u, r->images().size());
    EXPECT_EQ("000102030405060708090a0b0c0d0eff", *r->images()[0]->imageUUID());
    EXPECT_FALSE(r->hasExceptionInfo());
    EXPECT_FALSE(r->machExceptionInfo());
    EXPECT_FALSE(r->customData());
}

TEST(LQCrashDecoder, MissingThreadsImagesAndNamesAreRefused) {
    {
        lqtest::ReportBuilder b;
        b.report.n_threads = 0;
        EXPECT_EQ("Crash report is missing thread state information", decodeError(b.bytes()));
    }
    {
        lqtest::ReportBuilder b;
        b.report.n_binary_images = 0;
        EXPECT_EQ("Crash report is missing binary image information", decodeError(b.bytes()));
    }
    {
        lqtest::ReportBuilder b;
        b.report.signal = nullptr;  // a required field: protobuf-c refuses the body
        EXPECT_EQ("An unknown error occured decoding the crash report", decodeError(b.bytes()));
    }
    {
        lqtest::ReportBuilder b;
        b.report.machine_info = nullptr;
        b.system.architecture = LQCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
        EXPECT_EQ("Crash report has an unknown architecture", decodeError(b.bytes()));
    }
}

TEST(LQCrashDecoder, ReportUuidMustHaveSixteenBytes) {
    lqtest::ReportBuilder b;
    Lqcrash__CrashReport__ReportInfo info;
    lqcrash__crash_report__report_info__init(&info);
    info.has_uuid = true;
    uint8_t bytes[16] = {0x12, 0x34};
    info.uuid.data = bytes;
    info.uuid.len = 15;
    b.report.report_info = &info;
    EXPECT_EQ("Report UUID value is not a standard 16 bytes", decodeError(b.bytes()));
    info.uuid.len = 16;
    auto r = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->uuidRef());
    EXPECT_EQ(0x12, r->uuidRef()->bytes()[0]);
}

TEST(LQCrashDecoder, ArchitectureWithoutMachineInformationIsSynthesised) {
    lqtest::ReportBuilder b;
    b.report.machine_info = nullptr;
    b.system.architecture = LQCRASH__ARCHITECTURE__ARMV7;
    auto r = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->hasMachineInfo());
    EXPECT_EQ(12u, r->systemInfo()->processorInfo()->type());
    EXPECT_EQ(9u, r->systemInfo()->processorInfo()->subtype());
}

TEST(LQCrashDecoder, Arm64eFramesLoseTheirAuthenticationBits) {
    lqtest::ReportBuilder b;
    b.frames.front().pc = 0x8000000123456780ull;
    auto arm64 = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(arm64);
    EXPECT_EQ(0x8000000123456780ull, arm64->threads()[0]->stackFrames()[0]->instructionPointer());
    b.machineProcessor.subtype = 2;
    auto arm64e = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(arm64e);
    EXPECT_EQ(0x123456780ull, arm64e->threads()[0]->stackFrames()[0]->instructionPointer());
}

TEST(LQCrashDecoder, MachExceptionCodesAreLimited) {
    lqtest::ReportBuilder b;
    Lqcrash__CrashReport__Signal__MachException mach;
    lqcrash__crash_report__signal__mach_exception__init(&mach);
    mach.type = 1;
    std::vector<uint64_t> codes(256, 7);
    mach.codes = codes.data();
    mach.n_codes = 256;
    b.signal.mach_exception = &mach;
    EXPECT_EQ("Crash report includes too many Mach Exception codes", decodeError(b.bytes()));
    mach.n_codes = 255;
    auto r = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(255u, r->machExceptionInfo()->codes().size());
}

TEST(LQCrashDecoder, ExceptionFramesImagesAndRegisters) {
    lqtest::ReportBuilder b;
    Lqcrash__CrashReport__Exception e;
    lqcrash__crash_report__exception__init(&e);
    e.name = b.str("NSRangeException");
    e.reason = b.str("");
    b.report.exception = &e;
    auto r = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->hasExceptionInfo());
    EXPECT_FALSE(r->exceptionInfo()->stackFrames());  // none rather than empty

    b.addImage(0x200000, 0x1000, "/usr/lib/libnouuid.dylib", false);
    r = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->images()[1]->hasImageUUID());
    EXPECT_FALSE(r->images()[1]->imageUUID());
    EXPECT_EQ(r->images()[1], r->imageForAddress(0x200FFF));
    EXPECT_FALSE(r->imageForAddress(0x201000));  // base + size is outside

    // protobuf-c writes a required string that was never set as an empty one.
    b.setRegisters(&b.threads.front(), {{"", 1}});
    r = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ("", r->threads()[0]->registers()[0]->registerName());
}

}  // namespace
