#pragma once
// The sections of a decoded crash report: immutable values made by the
// decoder (DVLQCrashReport) and read by the crash reporting service.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

// The operating systems and architectures of the report format.
enum : int32_t {
    DVLQCrashReportOperatingSystemMacOSX = 0,
    DVLQCrashReportOperatingSystemiPhoneOS = 1,
    DVLQCrashReportOperatingSystemiPhoneSimulator = 2,
    DVLQCrashReportOperatingSystemUnknown = 3,
    DVLQCrashReportOperatingSystemAppleTVOS = 4,
};
enum : int32_t {
    DVLQCrashReportArchitectureX86_32 = 0,
    DVLQCrashReportArchitectureX86_64 = 1,
    DVLQCrashReportArchitectureARMv6 = 2,
    DVLQCrashReportArchitecturePPC = 3,
    DVLQCrashReportArchitecturePPC64 = 4,
    DVLQCrashReportArchitectureARMv7 = 5,
    DVLQCrashReportArchitectureUnknown = 6,
};
enum : int32_t {
    DVLQCrashReportProcessorTypeEncodingUnknown = 0,
    DVLQCrashReportProcessorTypeEncodingMach = 1,
};

class DVLQCrashReportProcessorInfo {
public:
    DVLQCrashReportProcessorInfo(int32_t typeEncoding, uint64_t type, uint64_t subtype)
        : _typeEncoding(typeEncoding), _type(type), _subtype(subtype) {}
    int32_t typeEncoding() const { return _typeEncoding; }
    uint64_t type() const { return _type; }
    uint64_t subtype() const { return _subtype; }

private:
    int32_t _typeEncoding;
    uint64_t _type;
    uint64_t _subtype;
};
using DVLQCrashReportProcessorInfoPtr = std::shared_ptr<DVLQCrashReportProcessorInfo>;

class DVLQCrashReportSystemInfo {
public:
    DVLQCrashReportSystemInfo(int32_t operatingSystem, std::string operatingSystemVersion,
                              std::optional<std::string> operatingSystemBuild, int32_t architecture,
                              DVLQCrashReportProcessorInfoPtr processorInfo, std::optional<ns::Date> timestamp)
        : _operatingSystem(operatingSystem),
          _osVersion(std::move(operatingSystemVersion)),
          _osBuild(std::move(operatingSystemBuild)),
          _architecture(architecture),
          _timestamp(timestamp),
          _processorInfo(std::move(processorInfo)) {}
    DVLQCrashReportSystemInfo(int32_t operatingSystem, std::string operatingSystemVersion, int32_t architecture,
                              std::optional<ns::Date> timestamp)
        : DVLQCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion), std::nullopt, architecture,
                                    nullptr, timestamp) {}
    DVLQCrashReportSystemInfo(int32_t operatingSystem, std::string operatingSystemVersion,
                              std::optional<std::string> operatingSystemBuild, int32_t architecture,
                              std::optional<ns::Date> timestamp)
        : DVLQCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion),
                                    std::move(operatingSystemBuild), architecture, nullptr, timestamp) {}

    int32_t operatingSystem() const { return _operatingSystem; }
    const std::string& operatingSystemVersion() const { return _osVersion; }
    const std::optional<std::string>& operatingSystemBuild() const { return _osBuild; }
    int32_t architecture() const { return _architecture; }
    const std::optional<ns::Date>& timestamp() const { return _timestamp; }
    const DVLQCrashReportProcessorInfoPtr& processorInfo() const { return _processorInfo; }

private:
    int32_t _operatingSystem;
    std::string _osVersion;
    std::optional<std::string> _osBuild;
    int32_t _architecture;
    std::optional<ns::Date> _timestamp;
    DVLQCrashReportProcessorInfoPtr _processorInfo;
};

class DVLQCrashReportMachineInfo {
public:
    DVLQCrashReportMachineInfo(std::optional<std::string> modelName, DVLQCrashReportProcessorInfoPtr processorInfo,
                               uint32_t processorCount, uint32_t logicalProcessorCount)
        : _modelName(std::move(modelName)),
          _processorInfo(std::move(processorInfo)),
          _processorCount(processorCount),
          _logicalProcessorCount(logicalProcessorCount) {}
    const std::optional<std::string>& modelName() const { return _modelName; }
    const DVLQCrashReportProcessorInfoPtr& processorInfo() const { return _processorInfo; }
    uint32_t processorCount() const { return _processorCount; }
    uint32_t logicalProcessorCount() const { return _logicalProcessorCount; }

private:
    std::optional<std::string> _modelName;
    DVLQCrashReportProcessorInfoPtr _processorInfo;
    uint32_t _processorCount;
    uint32_t _logicalProcessorCount;
};

class DVLQCrashReportApplicationInfo {
public:
    DVLQCrashReportApplicationInfo(std::string applicationIdentifier, std::string applicationVersion,
                                   std::optional<std::string> applicationMarketingVersion)
        : _applicationIdentifier(std::move(applicationIdentifier)),
          _applicationVersion(std::move(applicationVersion)),
          _applicationMarketingVersion(std::move(applicationMarketingVersion)) {}
    const std::string& applicationIdentifier() const { return _applicationIdentifier; }
    const std::string& applicationVersion() const { return _applicationVersion; }
    const std::optional<std::string>& applicationMarketingVersion() const { return _applicationMarketingVersion; }

private:
    std::string _applicationIdentifier;
    std::string _applicationVersion;
    std::optional<std::string> _applicationMarketingVersion;
};

class DVLQCrashReportProcessInfo {
public:
    DVLQCrashReportProcessInfo(std::optional<std::string> processName, uint64_t processID,
                               std::optional<std::string> processPath, std::optional<ns::Date> processStartTime,
                               std::optional<std::string> parentProcessName, uint64_t parentProcessID, bool native)
        : _processName(std::move(processName)),
          _processID(processID),
          _processPath(std::move(processPath)),
          _processStartTime(processStartTime),
          _parentProcessName(std::move(parentProcessName)),
          _parentProcessID(parentProcessID),
          _native(native) {}
    const std::optional<std::string>& processName() const { return _processName; }
    uint64_t processID() const { return _processID; }
    const std::optional<std::string>& processPath() const { return _processPath; }
    const std::optional<ns::Date>& processStartTime() const { return _processStartTime; }
    const std::optional<std::string>& parentProcessName() const { return _parentProcessName; }
    uint64_t parentProcessID() const { return _parentProcessID; }
    bool native() const { return _native; }

private:
    std::optional<std::string> _processName;
    uint64_t _processID;
    std::optional<std::string> _processPath;
    std::optional<ns::Date> _processStartTime;
    std::optional<std::string> _parentProcessName;
    uint64_t _parentProcessID;
    bool _native;
};

class DVLQCrashReportSymbolInfo {
public:
    DVLQCrashReportSymbolInfo(std::string symbolName, uint64_t startAddress, uint64_t endAddress)
        : _symbolName(std::move(symbolName)), _startAddress(startAddress), _endAddress(endAddress) {}
    const std::string& symbolName() const { return _symbolName; }
    uint64_t startAddress() const { return _startAddress; }
    uint64_t endAddress() const { return _endAddress; }

private:
    std::string _symbolName;
    uint64_t _startAddress;
    uint64_t _endAddress;
};

class DVLQCrashReportStackFrameInfo {
public:
    DVLQCrashReportStackFrameInfo(uint64_t instructionPointer, std::shared_ptr<DVLQCrashReportSymbolInfo> symbolInfo)
        : _instructionPointer(instructionPointer), _symbolInfo(std::move(symbolInfo)) {}
    uint64_t instructionPointer() const { return _instructionPointer; }
    const std::shared_ptr<DVLQCrashReportSymbolInfo>& symbolInfo() const { return _symbolInfo; }

private:
    uint64_t _instructionPointer;
    std::shared_ptr<DVLQCrashReportSymbolInfo> _symbolInfo;
};
using DVLQCrashReportStackFrames = std::vector<std::shared_ptr<DVLQCrashReportStackFrameInfo>>;

class DVLQCrashReportRegisterInfo {
public:
    DVLQCrashReportRegisterInfo(std::string registerName, uint64_t registerValue)
        : _registerName(std::move(registerName)), _registerValue(registerValue) {}
    const std::string& registerName() const { return _registerName; }
    uint64_t registerValue() const { return _registerValue; }

private:
    std::string _registerName;
    uint64_t _registerValue;
};

class DVLQCrashReportThreadInfo {
public:
    DVLQCrashReportThreadInfo(int64_t threadNumber, DVLQCrashReportStackFrames stackFrames, bool crashed,
                              std::vector<std::shared_ptr<DVLQCrashReportRegisterInfo>> registers)
        : _threadNumber(threadNumber),
          _stackFrames(std::move(stackFrames)),
          _crashed(crashed),
          _registers(std::move(registers)) {}
    int64_t threadNumber() const { return _threadNumber; }
    const DVLQCrashReportStackFrames& stackFrames() const { return _stackFrames; }
    bool crashed() const { return _crashed; }
    const std::vector<std::shared_ptr<DVLQCrashReportRegisterInfo>>& registers() const { return _registers; }

private:
    int64_t _threadNumber;
    DVLQCrashReportStackFrames _stackFrames;
    bool _crashed;
    std::vector<std::shared_ptr<DVLQCrashReportRegisterInfo>> _registers;
};

class DVLQCrashReportBinaryImageInfo {
public:
    // The UUID becomes lower-case hexadecimal text.
    DVLQCrashReportBinaryImageInfo(DVLQCrashReportProcessorInfoPtr codeType, uint64_t baseAddress, uint64_t size,
                                   std::string name, std::optional<ns::Data> uuid);
    const DVLQCrashReportProcessorInfoPtr& codeType() const { return _processorInfo; }
    uint64_t imageBaseAddress() const { return _baseAddress; }
    uint64_t imageSize() const { return _imageSize; }
    const std::string& imageName() const { return _imageName; }
    bool hasImageUUID() const { return _hasImageUUID; }
    const std::optional<std::string>& imageUUID() const { return _imageUUID; }

private:
    DVLQCrashReportProcessorInfoPtr _processorInfo;
    uint64_t _baseAddress;
    uint64_t _imageSize;
    std::string _imageName;
    bool _hasImageUUID;
    std::optional<std::string> _imageUUID;
};

class DVLQCrashReportExceptionInfo {
public:
    DVLQCrashReportExceptionInfo(std::string name, std::string reason,
                                 std::optional<DVLQCrashReportStackFrames> stackFrames = std::nullopt)
        : _name(std::move(name)), _reason(std::move(reason)), _stackFrames(std::move(stackFrames)) {}
    const std::string& exceptionName() const { return _name; }
    const std::string& exceptionReason() const { return _reason; }
    const std::optional<DVLQCrashReportStackFrames>& stackFrames() const { return _stackFrames; }

private:
    std::string _name;
    std::string _reason;
    std::optional<DVLQCrashReportStackFrames> _stackFrames;
};

class DVLQCrashReportSignalInfo {
public:
    DVLQCrashReportSignalInfo(std::string name, std::string code, uint64_t address)
        : _name(std::move(name)), _code(std::move(code)), _address(address) {}
    const std::string& name() const { return _name; }
    const std::string& code() const { return _code; }
    uint64_t address() const { return _address; }

private:
    std::string _name;
    std::string _code;
    uint64_t _address;
};

class DVLQCrashReportMachExceptionInfo {
public:
    DVLQCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes)
        : _type(type), _codes(std::move(codes)) {}
    uint64_t type() const { return _type; }
    const std::vector<uint64_t>& codes() const { return _codes; }

private:
    uint64_t _type;
    std::vector<uint64_t> _codes;
};
