// The plain-text crash log of a decoded report.

#include <gtest/gtest.h>

#include "LQCrashReporter/Source/DVLQCrashReportTextFormatter.h"
#include "LQCrashReporter/Source/tests/ReportBuilder.h"
#include "platform/foundation/Log.h"

namespace {

std::string format(lqtest::ReportBuilder& b) {
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(b.bytes(), &error);
    EXPECT_TRUE(report) << error.description();
    if (!report) return {};
    return DVLQCrashReportTextFormatter::stringValueForCrashReport(*report, DVLQCrashReportTextFormatiOS);
}

TEST(LQCrashTextFormatter, HeaderThreadsAndImages) {
    lqtest::ReportBuilder b;
    Lqcrash__CrashReport__Symbol symbol;
    lqcrash__crash_report__symbol__init(&symbol);
    symbol.name = b.str("_main");
    symbol.start_address = 0x100004000;
    b.frames.front().symbol = &symbol;
    std::string text = format(b);
    EXPECT_EQ(0u, text.find("Incident Identifier: ???\n"
                            "Hardware Model:      Mac14,2\n"
                            "Process:         Example [4242]\n"
                            "Path:            /Applications/Example.app/Contents/MacOS/Example\n"
                            "Identifier:      com.example.app\n"
                            "Version:         1.2 (12)\n"
                            "Code Type:       ARM-64\n"
                            "Parent Process:  launchd [1]\n"
                            "\n"
                            "Date/Time:       2023-11-14 22:13:20 +0000\n"
                            "OS Version:      Mac OS X 13.1 (22C65)\n"
                            "Report Version:  104\n"
                            "\n"
                            "Exception Type:  SIGSEGV\n"
                            "Exception Codes: SEGV_MAPERR at 0x10\n"
                            "Crashed Thread:  0\n"
                            "\n"
                            "Thread 0 Crashed:\n"))
        << text;
    EXPECT_NE(std::string::npos,
              text.find("0   Example                             0x0000000100004010 main + 16\n"
                        "1   Example                             0x0000000100004104 0x100000000 + 16644\n"));
    EXPECT_NE(std::string::npos,
              text.find("Binary Images:\n"
                        "       0x100000000 -        0x100007fff +Example arm64  <000102030405060708090a0b0c0d0eff> "
                        "/Applications/Example.app/Contents/MacOS/Example\n"))
        << text;
}

TEST(LQCrashTextFormatter, MissingSectionsPrintPlaceholders) {
    lqtest::ReportBuilder b;
    b.report.machine_info = nullptr;
    b.report.process_info = nullptr;
    b.system.architecture = LQCRASH__ARCHITECTURE__X86_64;
    b.threads.front().crashed = false;
    std::string text = format(b);
    EXPECT_NE(std::string::npos, text.find("Hardware Model:      ???\n"));
    EXPECT_NE(std::string::npos, text.find("Process:         ??? [???]\nPath:            ???\n"));
    EXPECT_NE(std::string::npos, text.find("Parent Process:  ??? [???]\n"));
    // No crashed thread: no line for it and no thread state, but the empty line stays.
    EXPECT_NE(std::string::npos, text.find("Exception Codes: SEGV_MAPERR at 0x10\n\nThread 0:\n"));
    EXPECT_EQ(std::string::npos, text.find("Crashed Thread:"));
    EXPECT_EQ(std::string::npos, text.find("Thread State"));
}

TEST(LQCrashTextFormatter, RegistersFourToARowAndImageEdgeCases) {
    lqtest::ReportBuilder b;
    b.setRegisters(&b.threads.front(), {{"x0", 1}, {"x1", 2}, {"x2", 3}, {"x3", 4}, {"x4", 5}, {"x5", 6}, {"x6", 7}});
    b.addImage(0x100000000, 0x10, "/usr/lib/duplicate.dylib", false);  // same base: one line
    b.addImage(0x1000, 0, "/usr/lib/empty.dylib", false);
    std::string text = format(b);
    EXPECT_NE(std::string::npos,
              text.find("Thread 0 crashed with ARM-64 Thread State:\n"
                        "    x0: 0x0000000000000001     x1: 0x0000000000000002     x2: 0x0000000000000003     x3: "
                        "0x0000000000000004 \n"
                        "    x4: 0x0000000000000005     x5: 0x0000000000000006     x6: 0x0000000000000007 \n"
                        "\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("            0x1000 -             0x1000  empty.dylib arm64  <??" "?>"));
    EXPECT_EQ(std::string::npos, text.find("duplicate.dylib"));
}

TEST(LQCrashTextFormatter, ExceptionBacktraceAndUnknownOperatingSystems) {
    lqtest::ReportBuilder b;
    Lqcrash__CrashReport__Exception e;
    lqcrash__crash_report__exception__init(&e);
    e.name = b.str("NSInvalidArgumentException");
    e.reason = b.str("bad");
    Lqcrash__CrashReport__Thread__StackFrame* frames[] = {b.frame(0x100004000)};
    e.frames = frames;
    e.n_frames = 1;
    b.report.exception = &e;
    b.system.operating_system = LQCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
    Lqcrash__CrashReport__Symbol symbol;
    lqcrash__crash_report__symbol__init(&symbol);
    symbol.name = b.str("_start");
    symbol.start_address = 0x100004000;
    b.frames.front().symbol = &symbol;
    ns::LogCapture log;
    std::string text = format(b);
    EXPECT_NE(std::string::npos,
              text.find("Application Specific Information:\n"
                        "*** Terminating app due to uncaught exception 'NSInvalidArgumentException', reason: 'bad'\n"
                        "\n"
                        "Last Exception Backtrace:\n"
                        "0   Example                             0x0000000100004000 0x100000000 + 16384\n"
                        "\n"));
    EXPECT_NE(std::string::npos, text.find("OS Version:      Unknown (3) 13.1 (22C65)\n"));
    EXPECT_NE(std::string::npos, text.find("_start + 16"));  // the underscore stays
    EXPECT_TRUE(log.contains("[LQCrashReporter] Symbol \"_start\" prefix rules are unknown for this OS!"));

    DVLQCrashReportTextFormatter formatter(DVLQCrashReportTextFormatiOS, NSUTF8StringEncoding);
    auto report = DVLQCrashReport::initWithData(b.bytes(), nullptr);
    auto data = formatter.formatReport(*report, nullptr);
    ASSERT_TRUE(data);
    EXPECT_EQ(text, std::string(data->begin(), data->end()));
}

}  // namespace
