#pragma once
// Formats a decoded report in the platform's classic plain-text crash log
// layout ("Report Version:  104").

#include <memory>
#include <optional>
#include <string>

#include "LQCrashReporter/Source/DVLQCrashReport.h"

class DVLQCrashReportFormatter {
public:
    virtual ~DVLQCrashReportFormatter() = default;
    virtual std::optional<ns::Data> formatReport(const DVLQCrashReport& report, ns::Error* error) = 0;
};

typedef int32_t DVLQCrashReportTextFormat;
enum : DVLQCrashReportTextFormat {
    DVLQCrashReportTextFormatiOS = 0,
};

// The string encodings the formatter can produce.
enum : unsigned long {
    NSASCIIStringEncoding = 1,
    NSUTF8StringEncoding = 4,
};

class DVLQCrashReportTextFormatter : public DVLQCrashReportFormatter {
public:
    DVLQCrashReportTextFormatter(DVLQCrashReportTextFormat textFormat, unsigned long stringEncoding)
        : _textFormat(textFormat), _stringEncoding(stringEncoding) {}

    // Never fails; characters the encoding lacks become "?".
    std::optional<ns::Data> formatReport(const DVLQCrashReport& report, ns::Error* error) override;

    static std::string stringValueForCrashReport(const DVLQCrashReport& report, DVLQCrashReportTextFormat textFormat);
    static std::string formatStackFrame(const DVLQCrashReportStackFrameInfo& frame, int64_t frameIndex,
                                        const DVLQCrashReport& report, bool lp64);

private:
    DVLQCrashReportTextFormat _textFormat;
    unsigned long _stringEncoding;
};
