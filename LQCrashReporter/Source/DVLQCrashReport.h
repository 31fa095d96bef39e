#pragma once
// A crash report file decoded into its sections. Decoding never throws:
// a malformed file gives null and one error (code 2 in
// "LQCrashReporterErrorDomain").

#include <memory>
#include <optional>
#include <vector>

#include "LQCrashReporter/Source/DVLQCrashReportInfo.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

struct Lqcrash__CrashReport;
struct ProtobufCMessage;

// Unpacks a protobuf-c message with the default allocator.
ProtobufCMessage* DVprotobuf_c_message_unpack(const void* descriptor, size_t len, const uint8_t* data);

class DVLQCrashReport {
public:
    using Ptr = std::shared_ptr<DVLQCrashReport>;

    static Ptr initWithData(const ns::Data& data, ns::Error* error);
    ~DVLQCrashReport();
    DVLQCrashReport(const DVLQCrashReport&) = delete;
    DVLQCrashReport& operator=(const DVLQCrashReport&) = delete;

    const std::shared_ptr<DVLQCrashReportSystemInfo>& systemInfo() const { return _systemInfo; }
    bool hasMachineInfo() const { return _machineInfo != nullptr; }
    const std::shared_ptr<DVLQCrashReportMachineInfo>& machineInfo() const { return _machineInfo; }
    const std::shared_ptr<DVLQCrashReportApplicationInfo>& applicationInfo() const { return _applicationInfo; }
    bool hasProcessInfo() const { return _processInfo != nullptr; }
    const std::shared_ptr<DVLQCrashReportProcessInfo>& processInfo() const { return _processInfo; }
    const std::shared_ptr<DVLQCrashReportSignalInfo>& signalInfo() const { return _signalInfo; }
    const std::shared_ptr<DVLQCrashReportMachExceptionInfo>& machExceptionInfo() const { return _machExceptionInfo; }
    const std::vector<std::shared_ptr<DVLQCrashReportThreadInfo>>& threads() const { return _threads; }
    const std::vector<std::shared_ptr<DVLQCrashReportBinaryImageInfo>>& images() const { return _images; }
    bool hasExceptionInfo() const { return _exceptionInfo != nullptr; }
    const std::shared_ptr<DVLQCrashReportExceptionInfo>& exceptionInfo() const { return _exceptionInfo; }
    const std::optional<ns::Data>& customData() const { return _customData; }
    const std::optional<ns::UUID>& uuidRef() const { return _uuid; }

    // The first image (in images order) with base <= address < base + size.
    std::shared_ptr<DVLQCrashReportBinaryImageInfo> imageForAddress(uint64_t address) const;

private:
    struct Decoder {
        Lqcrash__CrashReport* crashReport = nullptr;
    };
    DVLQCrashReport() = default;
    bool decode(const ns::Data& data, ns::Error* error);

    Decoder _decoder;
    std::shared_ptr<DVLQCrashReportSystemInfo> _systemInfo;
    std::shared_ptr<DVLQCrashReportMachineInfo> _machineInfo;
    std::shared_ptr<DVLQCrashReportApplicationInfo> _applicationInfo;
    std::shared_ptr<DVLQCrashReportProcessInfo> _processInfo;
    std::shared_ptr<DVLQCrashReportSignalInfo> _signalInfo;
    std::shared_ptr<DVLQCrashReportMachExceptionInfo> _machExceptionInfo;
    std::vector<std::shared_ptr<DVLQCrashReportThreadInfo>> _threads;
    std::vector<std::shared_ptr<DVLQCrashReportBinaryImageInfo>> _images;
    std::shared_ptr<DVLQCrashReportExceptionInfo> _exceptionInfo;
    std::optional<ns::Data> _customData;
    std::optional<ns::UUID> _uuid;
};
