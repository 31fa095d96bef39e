#include "LQCrashReporter/Source/DVLQCrashReportTextFormatter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "LQCrashReporter/Source/LQCrashErrors.h"
#include "platform/foundation/Paths.h"

namespace {

constexpr const char* kUnknown = "???";

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    va_end(args);
    return out;
}

const std::string& orUnknown(const std::optional<std::string>& s) {
    static const std::string unknown = kUnknown;
    return s ? *s : unknown;
}

// Code type name and address width from a Mach processor record; false
// when the record doesn't decide.
bool codeTypeFor(const DVLQCrashReportProcessorInfo* p, std::string* name, bool* lp64, bool strict) {
    if (!p) return false;
    if (p->typeEncoding() != DVLQCrashReportProcessorTypeEncodingMach) {
        if (strict) return false;
        *name = "Unknown";
        *lp64 = true;
        return true;
    }
    switch (p->type()) {
        case 7: *name = "X86"; *lp64 = false; return true;
        case 12: *name = "ARM"; *lp64 = false; return true;
        case 18: *name = "PPC"; *lp64 = false; return true;
        case 0x0100000C: *name = "ARM-64"; *lp64 = true; return true;
        case 0x01000007: *name = "X86-64"; *lp64 = true; return true;
        default:
            if (strict) return false;
            *name = format("Unknown (%llu)", static_cast<unsigned long long>(p->type()));
            *lp64 = true;
            return true;
    }
}

std::string architectureName(const DVLQCrashReportProcessorInfo* p) {
    if (!p || p->typeEncoding() != DVLQCrashReportProcessorTypeEncodingMach) return kUnknown;
    uint64_t subtype = p->subtype() & 0xFFFFFF;
    switch (p->type()) {
        case 7: return "i386";
        case 12:
            if (subtype == 6) return "armv6";
            if (subtype == 9) return "armv7";
            if (subtype == 11) return "armv7s";
            return "arm-unknown";
        case 18: return "powerpc";
        case 0x01000007: return "x86_64";
        case 0x0100000C:
            if (subtype == 0) return "arm64";
            if (subtype == 1) return "armv8";
            if (subtype == 2) return "arm64e";
            return "arm64-unknown";
        default: return kUnknown;
    }
}

std::string osName(int32_t os) {
    switch (os) {
        case 0:
        case 2: return "Mac OS X";
        case 1: return "iPhone OS";
        case 4: return "Apple tvOS";
        default: return format("Unknown (%d)", os);
    }
}

// Pads to width characters (UTF-8 aware), left-aligned, as "%-35S" does.
std::string padRight(const std::string& s, size_t width) {
    size_t chars = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) ++chars;
    }
    return chars >= width ? s : s + std::string(width - chars, ' ');
}

}  // namespace

std::optional<ns::Data> DVLQCrashReportTextFormatter::formatReport(const DVLQCrashReport& report, ns::Error*) {
    std::string text = stringValueForCrashReport(report, _textFormat);
    if (_stringEncoding == NSASCIIStringEncoding) {
        ns::Data data;
        for (size_t i = 0; i < text.size();) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                data.push_back(c);
                ++i;
                continue;
            }
            data.push_back('?');
            ++i;
            while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
        }
        return data;
    }
    return ns::Data(text.begin(), text.end());
}

std::string DVLQCrashReportTextFormatter::formatStackFrame(const DVLQCrashReportStackFrameInfo& frame,
                                                           int64_t frameIndex, const DVLQCrashReport& report,
                                                           bool lp64) {
    uint64_t pc = frame.instructionPointer();
    auto image = report.imageForAddress(pc);
    std::string imageName = kUnknown;
    uint64_t base = 0;
    uint64_t offset = 0;
    if (image) {
        imageName = ns::paths::lastPathComponent(image->imageName());
        base = image->imageBaseAddress();
        offset = pc - base;
    } else if (pc != 0) {
        lqcrash_log(format("[LQCrashReporter] Cannot find image for 0x%llx", static_cast<unsigned long long>(pc)));
    }
    std::string symbol;
    if (frame.symbolInfo()) {
        std::string name = frame.symbolInfo()->symbolName();
        int32_t os = report.systemInfo()->operatingSystem();
        if (name.size() >= 2 && name[0] == '_') {
            if (os == 0 || os == 1 || os == 2 || os == 4) {
                name = name.substr(1);
            } else {
                lqcrash_log("[LQCrashReporter] Symbol \"" + name + "\" prefix rules are unknown for this OS!");
            }
        }
        symbol = format("%s + %lld", name.c_str(),
                        static_cast<long long>(pc - frame.symbolInfo()->startAddress()));
    } else {
        symbol = format("0x%llx + %lld", static_cast<unsigned long long>(base), static_cast<long long>(offset));
    }
    return format("%-4lld%s 0x%0*llx %s\n", static_cast<long long>(frameIndex), padRight(imageName, 35).c_str(),
                  lp64 ? 16 : 8, static_cast<unsigned long long>(pc), symbol.c_str());
}

std::string DVLQCrashReportTextFormatter::stringValueForCrashReport(const DVLQCrashReport& report,
                                                                    DVLQCrashReportTextFormat) {
    std::string text;
    std::string codeType;
    bool lp64 = true;
    bool decided = false;
    for (const auto& image : report.images()) {
        if (codeTypeFor(image->codeType().get(), &codeType, &lp64, true)) {
            decided = true;
            break;
        }
    }
    if (!decided && !codeTypeFor(report.systemInfo()->processorInfo().get(), &codeType, &lp64, false)) {
        codeType = kUnknown;
        lp64 = true;
    }

    text += format("Incident Identifier: %s\n", report.uuidRef() ? report.uuidRef()->UUIDString().c_str() : kUnknown);
    std::string model = kUnknown;
    if (report.hasMachineInfo() && report.machineInfo()->modelName()) model = *report.machineInfo()->modelName();
    text += format("Hardware Model:      %s\n", model.c_str());

    std::string processName = kUnknown, processId = kUnknown, processPath = kUnknown;
    std::string parentName = kUnknown, parentId = kUnknown;
    if (report.hasProcessInfo()) {
        const auto& p = *report.processInfo();
        processName = orUnknown(p.processName());
        processId = std::to_string(p.processID());
        processPath = orUnknown(p.processPath());
        parentName = orUnknown(p.parentProcessName());
        parentId = std::to_string(p.parentProcessID());
    }
    text += format("Process:         %s [%s]\n", processName.c_str(), processId.c_str());
    text += format("Path:            %s\n", processPath.c_str());
    const auto& app = *report.applicationInfo();
    text += format("Identifier:      %s\n", app.applicationIdentifier().c_str());
    std::string version = app.applicationMarketingVersion()
                              ? format("%s (%s)", app.applicationMarketingVersion()->c_str(),
                                       app.applicationVersion().c_str())
                              : app.applicationVersion();
    text += format("Version:         %s\n", version.c_str());
    text += format("Code Type:       %s\n", codeType.c_str());
    text += format("Parent Process:  %s [%s]\n", parentName.c_str(), parentId.c_str());
    text += "\n";

    const auto& sys = *report.systemInfo();
    text += format("Date/Time:       %s\n", sys.timestamp() ? sys.timestamp()->description().c_str() : kUnknown);
    text += format("OS Version:      %s %s (%s)\n", osName(sys.operatingSystem()).c_str(),
                   sys.operatingSystemVersion().c_str(), orUnknown(sys.operatingSystemBuild()).c_str());
    text += "Report Version:  104\n";
    text += "\n";

    const auto& sig = *report.signalInfo();
    text += format("Exception Type:  %s\n", sig.name().c_str());
    text += format("Exception Codes: %s at 0x%llx\n", sig.code().c_str(), static_cast<unsigned long long>(sig.address()));

    std::shared_ptr<DVLQCrashReportThreadInfo> crashed;
    for (const auto& thread : report.threads()) {
        if (thread->crashed()) {
            if (!crashed) text += format("Crashed Thread:  %lld\n", static_cast<long long>(thread->threadNumber()));
            crashed = thread;  // the last one marked crashed gets the thread state below
        }
    }
    text += "\n";

    if (report.hasExceptionInfo()) {
        const auto& e = *report.exceptionInfo();
        text += "Application Specific Information:\n";
        text += format("*** Terminating app due to uncaught exception '%s', reason: '%s'\n", e.exceptionName().c_str(),
                       e.exceptionReason().c_str());
        text += "\n";
        if (e.stackFrames() && !e.stackFrames()->empty()) {
            text += "Last Exception Backtrace:\n";
            int64_t i = 0;
            for (const auto& frame : *e.stackFrames()) text += formatStackFrame(*frame, i++, report, lp64);
            text += "\n";
        }
    }

    for (const auto& thread : report.threads()) {
        text += thread->crashed() ? format("Thread %lld Crashed:\n", static_cast<long long>(thread->threadNumber()))
                                  : format("Thread %lld:\n", static_cast<long long>(thread->threadNumber()));
        int64_t i = 0;
        for (const auto& frame : thread->stackFrames()) text += formatStackFrame(*frame, i++, report, lp64);
        text += "\n";
    }

    if (crashed) {
        text += format("Thread %lld crashed with %s Thread State:\n", static_cast<long long>(crashed->threadNumber()),
                       codeType.c_str());
        bool armProcessor = report.hasMachineInfo() && report.machineInfo()->processorInfo() &&
                            report.machineInfo()->processorInfo()->typeEncoding() ==
                                DVLQCrashReportProcessorTypeEncodingMach &&
                            (report.machineInfo()->processorInfo()->type() & 0xFFFFFF) == 12;
        size_t column = 0;
        for (const auto& reg : crashed->registers()) {
            std::string name = reg->registerName();
            if (armProcessor && name == "r12") name = "ip";
            text += lp64 ? format("%6s: 0x%016llx ", name.c_str(), static_cast<unsigned long long>(reg->registerValue()))
                         : format("%6s: 0x%08llx ", name.c_str(), static_cast<unsigned long long>(reg->registerValue()));
            if (++column == 4) {
                text += "\n";
                column = 0;
            }
        }
        if (column != 0) text += "\n";
        text += "\n";
    }

    text += "Binary Images:\n";
    std::vector<std::shared_ptr<DVLQCrashReportBinaryImageInfo>> images = report.images();
    std::stable_sort(images.begin(), images.end(), [](const auto& a, const auto& b) {
        return a->imageBaseAddress() < b->imageBaseAddress();
    });
    uint64_t lastBase = 0;
    std::string processPathForMatch = report.hasProcessInfo() ? orUnknown(report.processInfo()->processPath()) : "";
    for (const auto& image : images) {
        if (image->imageBaseAddress() == lastBase) continue;
        lastBase = image->imageBaseAddress();
        uint64_t size = image->imageSize() == 0 ? 1 : image->imageSize();
        uint64_t end = image->imageBaseAddress() + size - 1;
        const char* marker = report.hasProcessInfo() && image->imageName() == processPathForMatch ? "+" : " ";
        std::string arch = architectureName(image->codeType().get());
        std::string uuid = orUnknown(image->imageUUID());
        text += lp64 ? format("%#18llx - %#18llx %s%s %s  <%s> %s\n",
                              static_cast<unsigned long long>(image->imageBaseAddress()),
                              static_cast<unsigned long long>(end), marker,
                              ns::paths::lastPathComponent(image->imageName()).c_str(), arch.c_str(), uuid.c_str(),
                              image->imageName().c_str())
                     : format("%#10llx - %#10llx %s%s %s  <%s> %s\n",
                              static_cast<unsigned long long>(image->imageBaseAddress()),
                              static_cast<unsigned long long>(end), marker,
                              ns::paths::lastPathComponent(image->imageName()).c_str(), arch.c_str(), uuid.c_str(),
                              image->imageName().c_str());
    }
    return text;
}
