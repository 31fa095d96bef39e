// The crash log formatter: a decoded crash report (built field by field with
// protobuf-c) becomes a crash log and an error report.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "LQCrashReporter/Source/LQCrashLogWriter.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "LQCrashReporter/Source/tests/ReportBuilder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACErrorLogFormatter.h"
#include "RedEvududCrashes/RedEvududCrashes/tests/DVACCrashesTestSupport.h"
#include "platform/machcompat/Dyld.h"
#include "platform/machcompat/MachO.h"

namespace {

using dvac_crashes_test::CrashesEnvironment;
using dvac_crashes_test::LogRecorder;

std::shared_ptr<DVLQCrashReport> decode(lqtest::ReportBuilder& builder) {
  ns::Error error;
  auto report = DVLQCrashReport::initWithData(builder.bytes(), &error);
  EXPECT_TRUE(report) << error.description();
  return report;
}

void setUUID(lqtest::ReportBuilder& builder, Lqcrash__CrashReport__ReportInfo& info) {
  lqcrash__crash_report__report_info__init(&info);
  info.has_uuid = true;
  info.uuid.len = 16;
  info.uuid.data = reinterpret_cast<uint8_t*>(
      builder.str(std::string("\x4a\x2b\x6c\x1e\x00\x00\x40\x00\x80\x00\x00\x00\x00\x00\x00\x01", 16)));
  builder.report.report_info = &info;
}

class DVACErrorLogFormatterTest : public ::testing::Test {
 protected:
  CrashesEnvironment environment_;
};

TEST_F(DVACErrorLogFormatterTest, BuildsTheCrashLogFromTheReport) {
  lqtest::ReportBuilder builder;
  Lqcrash__CrashReport__ReportInfo info;
  setUUID(builder, info);
  auto report = decode(builder);
  ASSERT_TRUE(report);
  auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*report);
  EXPECT_EQ("4A2B6C1E-0000-4000-8000-000000000001", *log->errorId);
  EXPECT_EQ(4242u, *log->processId);
  EXPECT_EQ("Example", *log->processName);
  EXPECT_EQ("launchd", *log->parentProcessName);
  EXPECT_EQ(1u, *log->parentProcessId);
  EXPECT_EQ(0, *log->errorThreadId);
  EXPECT_TRUE(log->fatal);
  EXPECT_EQ(ns::Date(1699999000), *log->appLaunchTimestamp);
  // A whole-second crash time gets the 0.999 s.
  EXPECT_DOUBLE_EQ(1700000000.999, log->timestamp()->timeIntervalSince1970());
  EXPECT_EQ(0x100000Cu, *log->primaryArchitectureId);
  EXPECT_EQ(0u, *log->architectureVariantId);
  EXPECT_TRUE(log->isKnownEncodingType);
  EXPECT_EQ("SIGSEGV", *log->osExceptionType);
  EXPECT_EQ("SEGV_MAPERR", *log->osExceptionCode);
  EXPECT_EQ("0x10", *log->osExceptionAddress);
  EXPECT_FALSE(log->exceptionType);
  EXPECT_FALSE(log->selectorRegisterValue);
  ASSERT_EQ(1u, log->threads->size());
  const auto& frames = *(*log->threads)[0]->frames;
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ("0x0000000100004010", *frames[0]->address);
  EXPECT_EQ("0x100000000 + 16400", *frames[0]->code);
  EXPECT_EQ("/Applications/Example.app/Contents/MacOS/Example", *log->applicationPath);
  ASSERT_EQ(1u, log->binaries->size());
  EXPECT_EQ("000102030405060708090a0b0c0d0eff", *(*log->binaries)[0]->binaryId);
  EXPECT_EQ("0x0000000100007fff", *(*log->binaries)[0]->endAddress);
  EXPECT_EQ("Example", *(*log->binaries)[0]->name);
  ASSERT_TRUE(log->device());
  EXPECT_EQ("13.1", *log->device()->osVersion);
  EXPECT_EQ("22C65", *log->device()->osBuild);
  EXPECT_EQ("Mac14,2", *log->device()->model);
  EXPECT_EQ("12", *log->device()->appBuild);
  EXPECT_EQ("1.2", *log->device()->appVersion);
  EXPECT_EQ("com.example.app", *log->device()->appNamespace);
  EXPECT_EQ("redevudud.macos", *log->device()->sdkName);
  EXPECT_TRUE(log->isValid());

  auto errorReport = DVACErrorLogFormatter::errorReportFromLog(*log);
  EXPECT_EQ(log->errorId, errorReport->incidentIdentifier());
  EXPECT_EQ("ARM-64", *errorReport->codeType());
  EXPECT_EQ("arm64", *errorReport->archName());
  EXPECT_EQ(4242u, errorReport->appProcessIdentifier());
  EXPECT_EQ(DVACRedEvudud::installId().UUIDString(), *errorReport->reporterKey());
  EXPECT_EQ("SIGSEGV", *errorReport->signal());

  // Read back from an archive, the encoding is no longer known.
  auto archived = DVACUtility::unarchiveKeyedData(DVACUtility::archiveKeyedData(ns::Value(log)));
  auto fromStore = DVACErrorLogFormatter::errorReportFromLog(*archived->objectAs<DVACAppleErrorLog>());
  EXPECT_EQ("???", *fromStore->codeType());
  EXPECT_EQ("???", *fromStore->archName());
}

// The engine describes the system as the device record of every other log
// does: a crash log's device is theirs.
TEST_F(DVACErrorLogFormatterTest, ACrashLogDescribesTheSystemAsEveryOtherLogDoes) {
  ns::test::TemporaryDirectory system("system-root");
  for (const auto& [file, text] : std::map<std::string, std::string>{
           {"etc/os-release", "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"13\"\n"},
           {"sys/class/dmi/id/product_name", "Morvalent Test Machine\n"}}) {
    std::filesystem::create_directories(std::filesystem::path(system.file(file)).parent_path());
    std::ofstream(system.file(file)) << text;
  }
  DVACDeviceTracker::setFileSystemRootForTesting(system.path());
  DVACDeviceTracker::refreshDeviceNextTime();
  const auto around = DVACDeviceTracker::sharedInstance()->device();

  // A report written by the engine, as at a crash, with a thread to record.
  std::promise<void> release;
  std::thread waiting([ready = release.get_future()]() mutable { ready.wait(); });
  lqcrash_log_writer_t writer;
  ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false));
  const std::string path = environment_.root() + "/report";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  lqcrash_async_file_t file;
  DVlqcrash_async_file_init(&file, fd, LQCRASH_REPORT_MAX_BYTES);
  lqcrash_log_bsd_signal_info_t bsd = {SIGSEGV, SEGV_MAPERR, 0x10};
  lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
  lqcrash_shared_image_list_setup();
  EXPECT_EQ(LQCRASH_ESUCCESS,
            DVlqcrash_log_writer_write(&writer, MACH_PORT_NULL, lqcrash_shared_image_list(), &file, &siginfo, nullptr));
  ASSERT_TRUE(DVlqcrash_async_file_close(&file));
  DVlqcrash_log_writer_free(&writer);
  release.set_value();
  waiting.join();
  DVACDeviceTracker::setFileSystemRootForTesting(std::nullopt);

  std::ifstream in(path, std::ios::binary);
  const ns::Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ns::Error error;
  auto report = DVLQCrashReport::initWithData(bytes, &error);
  ASSERT_TRUE(report) << error.description();
  const auto device = DVACErrorLogFormatter::errorLogFromCrashReport(*report)->device();
  EXPECT_EQ("13", device->osVersion);
  EXPECT_EQ("Morvalent Test Machine", device->model);
  for (const auto& [crashed, other] : std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>>{
           {device->osName, around->osName},
           {device->osVersion, around->osVersion},
           {device->osBuild, around->osBuild},
           {device->model, around->model},
           {device->oemName, around->oemName}}) {
    EXPECT_EQ(other, crashed);
  }
}

TEST_F(DVACErrorLogFormatterTest, MissingProcessInfoAndUUIDGiveDefaults) {
  lqtest::ReportBuilder builder;
  builder.report.process_info = nullptr;
  builder.threads[0].crashed = false;
  auto report = decode(builder);
  auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*report);
  EXPECT_EQ(0u, *log->processId);
  EXPECT_EQ("???", *log->processName);
  EXPECT_EQ("???", *log->parentProcessName);
  EXPECT_FALSE(log->parentProcessId);
  EXPECT_EQ("???", *log->applicationPath);
  EXPECT_EQ(0, *log->errorThreadId);
  EXPECT_TRUE(log->registers->empty());
  EXPECT_EQ(ns::Date(1700000000), *log->appLaunchTimestamp);
  // A fresh random id on every call.
  EXPECT_NE(DVACErrorLogFormatter::errorIdForCrashReport(*report), DVACErrorLogFormatter::errorIdForCrashReport(*report));
}

TEST_F(DVACErrorLogFormatterTest, ExceptionFramesCarryAddressesOnlyAndGoToTheCrashedThread) {
  lqtest::ReportBuilder builder;
  builder.addThread(1, false, {0x100004020});
  Lqcrash__CrashReport__Exception exception;
  lqcrash__crash_report__exception__init(&exception);
  exception.name = builder.str("NSRangeException");
  exception.reason = builder.str("index 3 beyond bounds");
  std::vector<Lqcrash__CrashReport__Thread__StackFrame*> frames = {builder.frame(0x100004000),
                                                                   builder.frame(0x7fff00001000)};
  exception.n_frames = frames.size();
  exception.frames = frames.data();
  builder.report.exception = &exception;
  builder.setRegisters(&builder.threads[0], {{"x0", 0x1}, {"x1", 0}, {"pc", 0x100004010}});
  auto report = decode(builder);
  auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*report);
  EXPECT_EQ("NSRangeException", *log->exceptionType);
  EXPECT_EQ("index 3 beyond bounds", *log->exceptionReason);
  ASSERT_EQ(2u, log->threads->size());
  auto crashed = (*log->threads)[0];
  ASSERT_TRUE(crashed->exception);
  EXPECT_EQ("NSRangeException", *crashed->exception->type);
  EXPECT_EQ("index 3 beyond bounds", *crashed->exception->message);
  ASSERT_EQ(2u, crashed->exception->frames->size());
  EXPECT_EQ("0x0000000100004000", *(*crashed->exception->frames)[0]->address);
  EXPECT_FALSE((*crashed->exception->frames)[0]->code);
  EXPECT_FALSE((*log->threads)[1]->exception);
  EXPECT_EQ("0x0000000000000001", log->registers->at("x0"));
  EXPECT_EQ(3u, log->registers->size());
}

TEST_F(DVACErrorLogFormatterTest, BinariesAreTheAppImagesAndTheReferencedOnes) {
  lqtest::ReportBuilder builder;
  builder.addImage(0x200000000, 0, "/Applications/Example.app/Contents/Frameworks/Kit.framework/Kit", false);
  builder.addImage(0x300000000, 0x1000, "/usr/lib/libunused.dylib", true);
  builder.addImage(0x400000000, 0x1000, "/usr/lib/libreferenced.dylib", true);
  builder.addImage(0x500000000, 0x1000, "/Applications/Example.app/Contents/Frameworks/libswiftCore.dylib", true);
  builder.addImage(0x050000000, 0x1000, "/Users/someone/Library/Plugin.bundle/Plugin", true);
  builder.setRegisters(&builder.threads[0], {{"x2", 0x400000800}});
  builder.addThread(1, false, {0x050000010});
  auto report = decode(builder);
  auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*report);
  std::vector<std::string> names;
  for (const auto& binary : *log->binaries) names.push_back(*binary->name);
  // Ascending load address; the unreferenced system and Swift libraries are out.
  EXPECT_EQ((std::vector<std::string>{"Plugin", "Example", "Kit", "libreferenced.dylib"}), names);
  const auto& plugin = *(*log->binaries)[0];
  EXPECT_EQ("/Users/USER/Library/Plugin.bundle/Plugin", *plugin.path);
  const auto& kit = *(*log->binaries)[2];
  EXPECT_EQ("???", *kit.binaryId);
  EXPECT_EQ(*kit.startAddress, *kit.endAddress);
}

TEST_F(DVACErrorLogFormatterTest, FrameSymbolsFollowTheOperatingSystemsPrefixRules) {
  lqtest::ReportBuilder builder;
  builder.addImage(0x300000000, 0x1000, "/usr/lib/libsystem.dylib", true);
  Lqcrash__CrashReport__Symbol symbols[3];
  const char* names[3] = {"_objc_msgSend", "_", "plain"};
  std::vector<uint64_t> pcs = {0x300000010, 0x300000020, 0x300000030};
  auto* thread = builder.addThread(1, false, pcs);
  for (int i = 0; i < 3; ++i) {
    lqcrash__crash_report__symbol__init(&symbols[i]);
    symbols[i].name = builder.str(names[i]);
    symbols[i].start_address = 0x300000000;
    thread->frames[i]->symbol = &symbols[i];
  }
  auto macos = decode(builder);
  auto frames = *(*DVACErrorLogFormatter::errorLogFromCrashReport(*macos)->threads)[1]->frames;
  EXPECT_EQ("objc_msgSend + 16", *frames[0]->code);
  EXPECT_EQ("_ + 32", *frames[1]->code);
  EXPECT_EQ("plain + 48", *frames[2]->code);

  LogRecorder recorder;
  builder.system.operating_system = LQCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
  auto unknown = decode(builder);
  frames = *(*DVACErrorLogFormatter::errorLogFromCrashReport(*unknown)->threads)[1]->frames;
  EXPECT_EQ("_objc_msgSend + 16", *frames[0]->code);
  EXPECT_TRUE(recorder.contains("Symbol \"_objc_msgSend\" prefix rules are unknown for this OS!", DVACLogLevelWarning));

  // Frames outside every image: base 0, offset 0, with a warning.
  builder.addThread(2, false, {0xdead0000, 0});
  recorder.clear();
  auto outside = decode(builder);
  frames = *(*DVACErrorLogFormatter::errorLogFromCrashReport(*outside)->threads)[2]->frames;
  EXPECT_EQ("0x0 + 0", *frames[0]->code);
  EXPECT_EQ("0x0 + 0", *frames[1]->code);
  EXPECT_EQ(1u, recorder.count("Cannot find image for 0xdead0000"));
}

TEST_F(DVACErrorLogFormatterTest, ImagesWithoutMachTypesLeaveTheEncodingUnknown) {
  lqtest::ReportBuilder builder;
  builder.processors.back().encoding = LQCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN;
  builder.machineProcessor.type = 0x1000007;
  builder.machineProcessor.subtype = 3;
  auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*decode(builder));
  EXPECT_FALSE(log->isKnownEncodingType);
  EXPECT_EQ(0x1000007u, *log->primaryArchitectureId);
  auto errorReport = DVACErrorLogFormatter::errorReportFromLog(*log);
  EXPECT_EQ("???", *errorReport->codeType());
  EXPECT_EQ("???", *errorReport->archName());
}

// The crashed image is loaded here, but it is no Mach-O image: the lookup
// must give nothing rather than walk the header as load commands.
TEST_F(DVACErrorLogFormatterTest, SelectorLookupIgnoresImagesThatAreNotMachO) {
  ASSERT_GT(_dyld_image_count(), 0u);
  const auto* header = _dyld_get_image_header(0);
  const std::string name = _dyld_get_image_name(0);
  lqtest::ReportBuilder builder;
  const uint64_t base = reinterpret_cast<uint64_t>(header);
  builder.addImage(base, 0x100000, name, true);
  builder.setRegisters(&builder.threads[0], {{"x1", base + 0x40}});
  auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*decode(builder));
  EXPECT_FALSE(log->selectorRegisterValue);
  auto thread = decode(builder)->threads()[0];
  EXPECT_FALSE(DVACErrorLogFormatter::selectorForRegisterWithName("x1", thread, *decode(builder)));
  EXPECT_FALSE(DVACErrorLogFormatter::selectorRegisterValueFromReport(*decode(builder), thread, 99));
}

// A Mach-O image mapped in this process under the path and UUID that the
// report's executable has, with a method-name section of three names (the
// last one cut off by the section's end). Its __TEXT segment was linked at
// the report's load address, 0x100000000. Mapped once and never unmapped:
// the crash engine's image list may have taken note of it.
class MappedExecutable {
 public:
  static constexpr uint64_t kLinkAddress = 0x100000000;
  static constexpr uint64_t kNamesOffset = 0x200;
  static constexpr const char kNames[] = "init\0doSomething:withObject:\0tail";

  MappedExecutable() {
    mach_header_64 header{};
    header.magic = MH_MAGIC_64;
    header.cputype = 0x100000C;
    header.filetype = 2;
    header.ncmds = 2;
    header.sizeofcmds = sizeof(uuid_command) + sizeof(segment_command_64) + sizeof(section_64);
    uuid_command uuid{};
    uuid.cmd = LC_UUID;
    uuid.cmdsize = sizeof(uuid_command);
    const uint8_t bytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xff};
    std::memcpy(uuid.uuid, bytes, sizeof bytes);
    segment_command_64 segment{};
    segment.cmd = LC_SEGMENT_64;
    segment.cmdsize = sizeof(segment_command_64) + sizeof(section_64);
    std::strncpy(segment.segname, "__TEXT", sizeof segment.segname);
    segment.vmaddr = kLinkAddress;
    segment.vmsize = image_.size();
    segment.nsects = 1;
    section_64 section{};
    std::strncpy(section.sectname, "__objc_methname", sizeof section.sectname);
    std::strncpy(section.segname, "__TEXT", sizeof section.segname);
    section.addr = kLinkAddress + kNamesOffset;
    section.size = sizeof kNames - 1;  // "tail" has no terminator inside
    uint8_t* at = image_.data();
    for (const auto& [part, size] : std::initializer_list<std::pair<const void*, size_t>>{
             {&header, sizeof header}, {&uuid, sizeof uuid}, {&segment, sizeof segment}, {&section, sizeof section}}) {
      std::memcpy(at, part, size);
      at += size;
    }
    std::memcpy(image_.data() + kNamesOffset, kNames, sizeof kNames);
    mach::dyldAddImage(image_.data(), static_cast<intptr_t>(reinterpret_cast<uint64_t>(image_.data()) - kLinkAddress),
                       "/Applications/Example.app/Contents/MacOS/Example");
  }
  MappedExecutable(const MappedExecutable&) = delete;
  MappedExecutable& operator=(const MappedExecutable&) = delete;

  static MappedExecutable& shared() {
    static auto* executable = new MappedExecutable();
    return *executable;
  }
  // Where a name at this offset of the section was in the crashed process.
  static uint64_t nameAddress(size_t offset) { return kLinkAddress + kNamesOffset + offset; }
  // Flips a byte of the UUID (twice restores it).
  void flipUUID() { image_[sizeof(mach_header_64) + 8] ^= 0xff; }

 private:
  alignas(16) std::array<uint8_t, 0x400> image_{};
};

TEST_F(DVACErrorLogFormatterTest, TheSelectorIsReadFromTheRegisterOfTheCodeType) {
  MappedExecutable& executable = MappedExecutable::shared();
  const uint64_t doSomething = MappedExecutable::nameAddress(5);
  const uint64_t init = MappedExecutable::nameAddress(0);
  auto selector = [](lqtest::ReportBuilder& builder) {
    return DVACErrorLogFormatter::errorLogFromCrashReport(*decode(builder))->selectorRegisterValue;
  };
  {
    // ARM64: x1 only.
    lqtest::ReportBuilder builder;
    builder.setRegisters(&builder.threads[0], {{"x1", doSomething}});
    EXPECT_EQ("doSomething:withObject:", selector(builder));
    lqtest::ReportBuilder noX1;
    noX1.setRegisters(&noX1.threads[0], {{"x1", 0}, {"x2", doSomething}, {"rsi", init}});
    EXPECT_FALSE(selector(noX1));
  }
  {
    // x86-64: rsi, then rdx when rsi gives nothing.
    lqtest::ReportBuilder builder;
    builder.processors.back().type = 0x1000007;
    builder.setRegisters(&builder.threads[0], {{"rsi", init}, {"rdx", doSomething}});
    EXPECT_EQ("init", selector(builder));
    lqtest::ReportBuilder rdx;
    rdx.processors.back().type = 0x1000007;
    rdx.setRegisters(&rdx.threads[0], {{"rsi", 0x100000010}, {"rdx", doSomething}});
    EXPECT_EQ("doSomething:withObject:", selector(rdx));
  }
  {
    lqtest::ReportBuilder builder;
    // Outside the section; and a name the section's end cuts off.
    builder.setRegisters(&builder.threads[0], {{"x1", MappedExecutable::kLinkAddress + 0x40}});
    EXPECT_FALSE(selector(builder));
    lqtest::ReportBuilder cut;
    cut.setRegisters(&cut.threads[0], {{"x1", MappedExecutable::nameAddress(29)}});
    EXPECT_FALSE(selector(cut));
  }
  {
    // Another build of the executable: its names are not the crashed one's.
    executable.flipUUID();
    lqtest::ReportBuilder builder;
    builder.setRegisters(&builder.threads[0], {{"x1", doSomething}});
    EXPECT_FALSE(selector(builder));
    executable.flipUUID();
  }
}

TEST(DVACErrorLogFormatterHelpers, PathsAreAnonymised) {
  EXPECT_EQ("/Users/USER/Library/x", DVACErrorLogFormatter::anonymizedPathFromPath(std::string("/Users/someone/Library/x")));
  EXPECT_EQ("", DVACErrorLogFormatter::anonymizedPathFromPath(std::string("/private/Users/x")));
  EXPECT_EQ("/usr/lib/dyld", DVACErrorLogFormatter::anonymizedPathFromPath(std::string("/usr/lib/dyld")));
  EXPECT_EQ("/home/USER/bin/app", DVACErrorLogFormatter::anonymizedPathFromPath(std::string("/home/alice/bin/app")));
  EXPECT_EQ("", DVACErrorLogFormatter::anonymizedPathFromPath(std::nullopt));
  EXPECT_EQ("", DVACErrorLogFormatter::anonymizedPathFromPath(std::string("")));
}

TEST(DVACErrorLogFormatterHelpers, ImageTypes) {
  const std::string process = "/Applications/Example.app/Contents/MacOS/Example";
  EXPECT_EQ(DVACBinaryImageTypeAppBinary, DVACErrorLogFormatter::imageTypeForImagePath(process, process));
  EXPECT_EQ(DVACBinaryImageTypeAppBinary,
            DVACErrorLogFormatter::imageTypeForImagePath(std::string("/Applications/Example.app/./Contents/MacOS/Example"),
                                                         process));
  EXPECT_EQ(DVACBinaryImageTypeAppFramework,
            DVACErrorLogFormatter::imageTypeForImagePath(
                std::string("/Applications/Example.app/Contents/Frameworks/Kit.framework/Kit"), process));
  EXPECT_EQ(DVACBinaryImageTypeOther,
            DVACErrorLogFormatter::imageTypeForImagePath(
                std::string("/Applications/Example.app/Contents/Frameworks/libswiftCore.dylib"), process));
  EXPECT_EQ(DVACBinaryImageTypeOther, DVACErrorLogFormatter::imageTypeForImagePath(std::string("/usr/lib/x"), process));
  EXPECT_EQ(DVACBinaryImageTypeOther, DVACErrorLogFormatter::imageTypeForImagePath(std::nullopt, process));
  EXPECT_EQ("/a/c", DVACErrorLogFormatter::standardizedPath("/a//b/../c/."));
}

TEST(DVACErrorLogFormatterHelpers, NamesAndAddresses) {
  EXPECT_EQ("X86", DVACErrorLogFormatter::convertCodeTypeToString(7));
  EXPECT_EQ("ARM", DVACErrorLogFormatter::convertCodeTypeToString(12));
  EXPECT_EQ("PPC", DVACErrorLogFormatter::convertCodeTypeToString(18));
  EXPECT_EQ("X86-64", DVACErrorLogFormatter::convertCodeTypeToString(0x1000007));
  EXPECT_EQ("ARM-64", DVACErrorLogFormatter::convertCodeTypeToString(0x100000C));
  EXPECT_EQ("Unknown (5)", DVACErrorLogFormatter::convertCodeTypeToString(5));
  EXPECT_EQ("i386", DVACErrorLogFormatter::convertArchNameToString(7, 99));
  EXPECT_EQ("armv7s", DVACErrorLogFormatter::convertArchNameToString(12, 11));
  EXPECT_EQ("arm-unknown", DVACErrorLogFormatter::convertArchNameToString(12, 1));
  EXPECT_EQ("arm64e", DVACErrorLogFormatter::convertArchNameToString(0x100000C, 0x80000002));
  EXPECT_EQ("arm64-unknown", DVACErrorLogFormatter::convertArchNameToString(0x100000C, 7));
  EXPECT_EQ("x86_64", DVACErrorLogFormatter::convertArchNameToString(0x1000007, 3));
  EXPECT_EQ("???", DVACErrorLogFormatter::convertArchNameToString(1, 0));
  EXPECT_EQ("0x00000000000000ff", DVACErrorLogFormatter::formatAddress(0xff, true));
  EXPECT_EQ("0x000000ff", DVACErrorLogFormatter::formatAddress(0xff, false));
  EXPECT_TRUE(DVACErrorLogFormatter::isBinaryWithStart(10, 20, {20}));
  EXPECT_FALSE(DVACErrorLogFormatter::isBinaryWithStart(10, 20, {9, 21}));
}

}  // namespace
