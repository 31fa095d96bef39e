#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACErrorLogFormatter.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACWrapperExceptionManager.h"
#include "platform/foundation/Paths.h"
#include "platform/machcompat/Dyld.h"
#include "platform/machcompat/MachO.h"

namespace {

constexpr uint32_t kMachTypeEncoding = 1;

std::string hex(const char* format, uint64_t value) {
  char text[40];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string lowercased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The "%02X" text of the first LC_UUID of a loaded Mach-O header, lower-cased;
// nil for anything that is not a well-formed Mach-O header.
std::optional<std::string> machOUUID(const mach_header* header) {
  uint32_t magic = 0;
  std::memcpy(&magic, header, sizeof magic);
  if (magic != MH_MAGIC && magic != MH_MAGIC_64) return std::nullopt;
  const auto* base = reinterpret_cast<const uint8_t*>(header);
  const size_t headerSize = magic == MH_MAGIC_64 ? sizeof(mach_header_64) : sizeof(mach_header);
  const uint32_t ncmds = header->ncmds;
  const uint32_t sizeofcmds = header->sizeofcmds;
  size_t offset = 0;
  for (uint32_t i = 0; i < ncmds && offset + sizeof(load_command) <= sizeofcmds; ++i) {
    load_command command;
    std::memcpy(&command, base + headerSize + offset, sizeof command);
    if (command.cmdsize < sizeof(load_command) || offset + command.cmdsize > sizeofcmds) return std::nullopt;
    if (command.cmd == LC_UUID && command.cmdsize >= sizeof(uuid_command)) {
      uuid_command uuid;
      std::memcpy(&uuid, base + headerSize + offset, sizeof uuid);
      std::string text;
      for (uint8_t byte : uuid.uuid) text += hex("%02X", byte);
      return lowercased(text);
    }
    offset += command.cmdsize;
  }
  return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------- Entry points

std::shared_ptr<DVACAppleErrorLog> DVACErrorLogFormatter::errorLogFromCrashReport(const DVLQCrashReport& report) {
  auto log = std::make_shared<DVACAppleErrorLog>();
  log->errorId = errorIdForCrashReport(report);
  addProcessInfoAndApplicationPathTo(*log, report);

  auto crashedThread = findCrashedThreadInReport(report);
  log->errorThreadId = crashedThread ? crashedThread->threadNumber() : 0;
  log->fatal = true;
  log->appLaunchTimestamp = getAppLaunchTimeFromReport(report);
  log->setTimestamp(getCrashTimeFromReport(report));

  uint64_t type = 0;
  uint64_t subtype = 0;
  if (report.machineInfo() && report.machineInfo()->processorInfo()) {
    type = report.machineInfo()->processorInfo()->type();
    subtype = report.machineInfo()->processorInfo()->subtype();
  }
  bool knownEncoding = report.systemInfo() && report.systemInfo()->processorInfo() &&
                       report.systemInfo()->processorInfo()->typeEncoding() == kMachTypeEncoding;
  if (!report.images().empty()) {
    knownEncoding = false;
    for (const auto& image : report.images()) {
      if (image && image->codeType() && image->codeType()->typeEncoding() == kMachTypeEncoding) {
        type = image->codeType()->type();
        subtype = image->codeType()->subtype();
        knownEncoding = true;
        break;
      }
    }
  }
  const bool is64 = isCodeType64bit(type);
  log->primaryArchitectureId = type;
  log->architectureVariantId = subtype;
  log->isKnownEncodingType = knownEncoding;

  if (const auto& signal = report.signalInfo()) {
    log->osExceptionType = signal->name();
    log->osExceptionCode = signal->code();
    log->osExceptionAddress = hex("0x%" PRIx64, signal->address());
  }
  log->exceptionReason = extractExceptionReasonFromReport(report);
  if (report.hasExceptionInfo()) log->exceptionType = report.exceptionInfo()->exceptionName();
  log->selectorRegisterValue = selectorRegisterValueFromReport(report, crashedThread, type);
  log->threads = extractThreadsFromReport(report, crashedThread, is64);
  log->registers = extractRegistersFromCrashedThread(crashedThread, is64);
  log->binaries = extractBinaryImagesFromReport(report, is64);
  log->setDevice(deviceForTimestamp(log->timestamp(), report));

  if (auto wrapper = DVACWrapperExceptionManager::loadWrapperExceptionWithUUIDString(uuidRefToString(report.uuidRef()))) {
    log->exception = wrapper->modelException;
  }
  return log;
}

std::shared_ptr<DVACErrorReport> DVACErrorLogFormatter::errorReportFromCrashReport(
    const std::shared_ptr<DVLQCrashReport>& report) {
  if (!report) return nullptr;
  return errorReportFromLog(*errorLogFromCrashReport(*report));
}

std::shared_ptr<DVACErrorReport> DVACErrorLogFormatter::errorReportFromLog(const DVACAppleErrorLog& log) {
  std::string codeType = kDVACErrorLogFormatterUnknown;
  std::string archName = kDVACErrorLogFormatterUnknown;
  if (log.isKnownEncodingType && log.primaryArchitectureId) {
    codeType = convertCodeTypeToString(*log.primaryArchitectureId);
    if (log.architectureVariantId) {
      archName = convertArchNameToString(*log.primaryArchitectureId, *log.architectureVariantId);
    }
  }
  return std::make_shared<DVACErrorReport>(
      log.errorId, DVACRedEvudud::installId().UUIDString(), log.osExceptionType, log.exceptionType,
      log.exceptionReason, log.appLaunchTimestamp, log.timestamp(), codeType, archName, log.applicationPath,
      log.threads, log.binaries, log.device(), log.processId.value_or(0));
}

std::string DVACErrorLogFormatter::errorIdForCrashReport(const DVLQCrashReport& report) {
  if (report.uuidRef()) return report.uuidRef()->UUIDString();
  return ns::UUID::random().UUIDString();
}

// ---------------------------------------------------------------- Process

void DVACErrorLogFormatter::addProcessInfoAndApplicationPathTo(DVACAppleErrorLog& log, const DVLQCrashReport& report) {
  log.processId = 0;
  log.processName = kDVACErrorLogFormatterUnknown;
  log.parentProcessName = kDVACErrorLogFormatterUnknown;
  log.parentProcessId.reset();
  log.applicationPath = kDVACErrorLogFormatterUnknown;
  if (!report.hasProcessInfo()) return;
  const auto& process = *report.processInfo();
  log.processId = process.processID();
  if (process.processName()) log.processName = *process.processName();
  if (process.processPath()) log.applicationPath = anonymizedPathFromPath(process.processPath());
  if (process.parentProcessName()) log.parentProcessName = *process.parentProcessName();
  log.parentProcessId = process.parentProcessID();
}

std::shared_ptr<DVLQCrashReportThreadInfo> DVACErrorLogFormatter::findCrashedThreadInReport(
    const DVLQCrashReport& report) {
  for (const auto& thread : report.threads()) {
    if (thread && thread->crashed()) return thread;
  }
  return nullptr;
}

std::optional<ns::Date> DVACErrorLogFormatter::getAppLaunchTimeFromReport(const DVLQCrashReport& report) {
  if (report.hasProcessInfo()) return report.processInfo()->processStartTime();
  return report.systemInfo() ? report.systemInfo()->timestamp() : std::nullopt;
}

std::optional<ns::Date> DVACErrorLogFormatter::getCrashTimeFromReport(const DVLQCrashReport& report) {
  if (!report.systemInfo() || !report.systemInfo()->timestamp()) return std::nullopt;
  const double seconds = report.systemInfo()->timestamp()->timeIntervalSince1970();
  if (std::isnan(seconds)) return report.systemInfo()->timestamp();
  int32_t whole;
  if (seconds >= static_cast<double>(INT32_MAX)) {
    whole = INT32_MAX;
  } else if (seconds <= static_cast<double>(INT32_MIN)) {
    whole = INT32_MIN;
  } else {
    whole = static_cast<int32_t>(seconds);
  }
  if (static_cast<double>(whole) == seconds) return ns::Date(seconds + 0.999);
  return report.systemInfo()->timestamp();
}

std::optional<std::string> DVACErrorLogFormatter::extractExceptionReasonFromReport(const DVLQCrashReport& report) {
  if (!report.hasExceptionInfo()) return std::nullopt;
  return report.exceptionInfo()->exceptionReason();
}

// ---------------------------------------------------------------- Selector

std::optional<std::string> DVACErrorLogFormatter::selectorRegisterValueFromReport(
    const DVLQCrashReport& report, const std::shared_ptr<DVLQCrashReportThreadInfo>& crashedThread,
    uint64_t codeType) {
  std::vector<const char*> names;
  switch (codeType) {
    case kDVACCPUTypeX86:
      names = {"ecx"};
      break;
    case kDVACCPUTypeX86_64:
      names = {"rsi", "rdx"};
      break;
    case kDVACCPUTypeARM:
      names = {"r1", "r2"};
      break;
    case kDVACCPUTypeARM64:
      names = {"x1"};
      break;
    default:
      return std::nullopt;
  }
  for (const char* name : names) {
    if (auto selector = selectorForRegisterWithName(name, crashedThread, report)) return selector;
  }
  return std::nullopt;
}

std::optional<std::string> DVACErrorLogFormatter::selectorForRegisterWithName(
    const std::string& registerName, const std::shared_ptr<DVLQCrashReportThreadInfo>& thread,
    const DVLQCrashReport& report) {
  if (!thread) return std::nullopt;
  uint64_t value = 0;
  bool found = false;
  for (const auto& reg : thread->registers()) {
    if (reg && reg->registerName() == registerName) {
      value = reg->registerValue();
      found = true;
      break;
    }
  }
  if (!found || value == 0) return std::nullopt;
  auto image = report.imageForAddress(value);
  if (!image) return std::nullopt;

  const uint32_t count = _dyld_image_count();
  for (uint32_t i = 0; i < count; ++i) {
    const mach_header* header = _dyld_get_image_header(i);
    const char* name = _dyld_get_image_name(i);
    if (!header || !name || image->imageName() != name) continue;
    auto uuid = machOUUID(header);
    if (!uuid || !image->imageUUID() || *uuid != *image->imageUUID()) continue;

    const uint8_t* section = nullptr;
    uint64_t sectionSize = 0;
    uint32_t magic = 0;
    std::memcpy(&magic, header, sizeof magic);
    if (magic == MH_MAGIC_64) {
      section = getsectdatafromheader_64(reinterpret_cast<const mach_header_64*>(header), "__TEXT",
                                         "__objc_methname", &sectionSize);
    } else {
      uint32_t size32 = 0;
      section = getsectdatafromheader(header, "__TEXT", "__objc_methname", &size32);
      sectionSize = size32;
    }
    if (!section) return std::nullopt;
    const intptr_t slide = _dyld_get_image_vmaddr_slide(i);
    const uint64_t start = reinterpret_cast<uint64_t>(section) + static_cast<uint64_t>(slide);
    const uint64_t end = start + sectionSize;
    const uint64_t candidate = reinterpret_cast<uint64_t>(header) + (value - image->imageBaseAddress());
    if (candidate < start || candidate >= end) return std::nullopt;
    const char* text = reinterpret_cast<const char*>(candidate);
    for (uint64_t at = candidate + 1; at < end; ++at) {
      if (*reinterpret_cast<const char*>(at) == '\0') return std::string(text);
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------- Threads

std::vector<std::shared_ptr<DVACThread>> DVACErrorLogFormatter::extractThreadsFromReport(
    const DVLQCrashReport& report, const std::shared_ptr<DVLQCrashReportThreadInfo>& crashedThread, bool is64bit) {
  std::shared_ptr<DVACExceptionModel> exceptionModel;
  if (report.hasExceptionInfo() && report.exceptionInfo()->stackFrames() &&
      !report.exceptionInfo()->stackFrames()->empty()) {
    const auto& info = *report.exceptionInfo();
    DVACStackFrames frames;
    for (const auto& frame : *info.stackFrames()) {
      auto model = std::make_shared<DVACStackFrame>();
      model->address = formatAddress(frame ? frame->instructionPointer() : 0, is64bit);
      frames.push_back(std::move(model));
    }
    exceptionModel = std::make_shared<DVACExceptionModel>();
    exceptionModel->message = info.exceptionReason();
    exceptionModel->frames = std::move(frames);
    exceptionModel->type = info.exceptionName();
    if (!exceptionModel->type && report.signalInfo()) exceptionModel->type = report.signalInfo()->name();
  }

  std::vector<std::shared_ptr<DVACThread>> threads;
  for (const auto& info : report.threads()) {
    if (!info) continue;
    auto thread = std::make_shared<DVACThread>();
    thread->threadId = info->threadNumber();
    if (crashedThread && exceptionModel && info->threadNumber() == crashedThread->threadNumber()) {
      thread->exception = exceptionModel;
    }
    for (const auto& frame : info->stackFrames()) {
      if (!frame) continue;
      auto model = std::make_shared<DVACStackFrame>();
      model->address = formatAddress(frame->instructionPointer(), is64bit);
      model->code = formatStackFrame(*frame, report);
      thread->frames->push_back(std::move(model));
    }
    threads.push_back(std::move(thread));
  }
  return threads;
}

std::string DVACErrorLogFormatter::formatStackFrame(const DVLQCrashReportStackFrameInfo& frame,
                                                    const DVLQCrashReport& report) {
  const uint64_t ip = frame.instructionPointer();
  uint64_t base = 0;
  int64_t offset = 0;
  auto image = report.imageForAddress(ip);
  if (image) {
    base = image->imageBaseAddress();
    offset = static_cast<int64_t>(ip - base);
  } else if (ip != 0) {
    DVACLogWarning(kDVACCrashesLogTag, hex("Cannot find image for 0x%" PRIx64, ip));
  }
  std::optional<std::string> processPath;
  if (report.hasProcessInfo()) processPath = report.processInfo()->processPath();
  std::optional<std::string> imagePath;
  if (image) imagePath = image->imageName();
  const auto imageType = imageTypeForImagePath(imagePath, processPath);

  if (imageType == DVACBinaryImageTypeOther && frame.symbolInfo()) {
    std::string name = frame.symbolInfo()->symbolName();
    if (name.size() >= 2 && name[0] == '_') {
      const int32_t os = report.systemInfo() ? report.systemInfo()->operatingSystem()
                                             : DVLQCrashReportOperatingSystemUnknown;
      switch (os) {
        case DVLQCrashReportOperatingSystemMacOSX:
        case DVLQCrashReportOperatingSystemiPhoneOS:
        case DVLQCrashReportOperatingSystemiPhoneSimulator:
        case DVLQCrashReportOperatingSystemAppleTVOS:
          name.erase(0, 1);
          break;
        case DVLQCrashReportOperatingSystemUnknown:
          DVACLogWarning(kDVACCrashesLogTag, "Symbol \"" + name + "\" prefix rules are unknown for this OS!");
          break;
        default:
          break;
      }
    }
    return name + " + " + std::to_string(static_cast<long long>(ip - frame.symbolInfo()->startAddress()));
  }
  return hex("0x%" PRIx64, base) + " + " + std::to_string(static_cast<long long>(offset));
}

std::map<std::string, std::string> DVACErrorLogFormatter::extractRegistersFromCrashedThread(
    const std::shared_ptr<DVLQCrashReportThreadInfo>& crashedThread, bool is64bit) {
  std::map<std::string, std::string> registers;
  if (!crashedThread) return registers;
  for (const auto& reg : crashedThread->registers()) {
    if (reg) registers[reg->registerName()] = formatAddress(reg->registerValue(), is64bit);
  }
  return registers;
}

// ---------------------------------------------------------------- Binaries

std::vector<uint64_t> DVACErrorLogFormatter::addressesFromReport(const DVLQCrashReport& report) {
  std::vector<uint64_t> addresses;
  if (report.hasExceptionInfo() && report.exceptionInfo()->stackFrames()) {
    for (const auto& frame : *report.exceptionInfo()->stackFrames()) {
      if (frame) addresses.push_back(frame->instructionPointer());
    }
  }
  for (const auto& thread : report.threads()) {
    if (!thread) continue;
    for (const auto& frame : thread->stackFrames()) {
      if (frame) addresses.push_back(frame->instructionPointer());
    }
    for (const auto& reg : thread->registers()) {
      if (reg) addresses.push_back(reg->registerValue());
    }
  }
  return addresses;
}

bool DVACErrorLogFormatter::isBinaryWithStart(uint64_t start, uint64_t end, const std::vector<uint64_t>& addresses) {
  return std::any_of(addresses.begin(), addresses.end(), [&](uint64_t a) { return start <= a && a <= end; });
}

std::vector<std::shared_ptr<DVACBinary>> DVACErrorLogFormatter::extractBinaryImagesFromReport(
    const DVLQCrashReport& report, bool is64bit) {
  const auto addresses = addressesFromReport(report);
  std::vector<std::shared_ptr<DVLQCrashReportBinaryImageInfo>> images;
  for (const auto& image : report.images()) {
    if (image) images.push_back(image);
  }
  std::stable_sort(images.begin(), images.end(),
                   [](const auto& a, const auto& b) { return a->imageBaseAddress() < b->imageBaseAddress(); });
  std::optional<std::string> processPath;
  if (report.hasProcessInfo()) processPath = report.processInfo()->processPath();

  std::vector<std::shared_ptr<DVACBinary>> binaries;
  for (const auto& image : images) {
    const uint64_t start = image->imageBaseAddress();
    const uint64_t end = start + std::max<uint64_t>(image->imageSize(), 1) - 1;
    const auto imageType = imageTypeForImagePath(image->imageName(), processPath);
    if (!isBinaryWithStart(start, end, addresses) && imageType == DVACBinaryImageTypeOther) continue;
    auto binary = std::make_shared<DVACBinary>();
    binary->binaryId =
        image->hasImageUUID() && image->imageUUID() ? *image->imageUUID() : std::string(kDVACErrorLogFormatterUnknown);
    binary->startAddress = formatAddress(start, is64bit);
    binary->endAddress = formatAddress(end, is64bit);
    binary->path = anonymizedPathFromPath(image->imageName());
    const std::string name = image->imageName().empty() ? "" : ns::paths::lastPathComponent(image->imageName());
    binary->name = name.empty() ? std::string(kDVACErrorLogFormatterUnknown) : name;
    if (image->codeType()) {
      binary->primaryArchitectureId = image->codeType()->type();
      binary->architectureVariantId = image->codeType()->subtype();
    }
    binaries.push_back(std::move(binary));
  }
  return binaries;
}

std::string DVACErrorLogFormatter::standardizedPath(const std::string& path) {
  if (path.empty()) return path;
  std::string expanded = path;
  if (expanded == "~" || expanded.starts_with("~/")) expanded = ns::paths::homeDirectory() + expanded.substr(1);
  const bool absolute = !expanded.empty() && expanded[0] == '/';
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= expanded.size()) {
    size_t next = expanded.find('/', at);
    if (next == std::string::npos) next = expanded.size();
    std::string part = expanded.substr(at, next - at);
    if (part.empty() || part == ".") {
      // dropped
    } else if (part == ".." && absolute) {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(part);
    }
    at = next + 1;
  }
  std::string result = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) result += (i ? "/" : "") + parts[i];
  return result;
}

DVACBinaryImageType DVACErrorLogFormatter::imageTypeForImagePath(const std::optional<std::string>& imagePath,
                                                                 const std::optional<std::string>& processPath) {
  if (!imagePath || !processPath) return DVACBinaryImageTypeOther;
  const std::string standardized = lowercased(standardizedPath(*imagePath));
  const std::string image = lowercased(*imagePath);
  const std::string process = lowercased(*processPath);
  if (standardized.find(".app/") == std::string::npos) return DVACBinaryImageTypeOther;
  if (standardized.find("frameworks/libswift") != std::string::npos && standardized.ends_with(".dylib")) {
    return DVACBinaryImageTypeOther;
  }
  if (standardized == process || image.starts_with(process)) return DVACBinaryImageTypeAppBinary;
  return DVACBinaryImageTypeAppFramework;
}

std::string DVACErrorLogFormatter::anonymizedPathFromPath(const std::optional<std::string>& path) {
  if (!path || path->empty()) return "";
  if (path->starts_with("/Users/")) {
    static const std::regex kUsers("(/Users/[^/]+/)");
    return std::regex_replace(*path, kUsers, "/Users/USER/");
  }
  if (path->find("Users") != std::string::npos) return "";
  // The same rule for the home directories of this platform.
  if (path->starts_with("/home/")) {
    static const std::regex kHome("^/home/[^/]+/");
    return std::regex_replace(*path, kHome, "/home/USER/");
  }
  return *path;
}

// ---------------------------------------------------------------- Device

std::shared_ptr<DVACDevice> DVACErrorLogFormatter::deviceForTimestamp(const std::optional<ns::Date>& timestamp,
                                                                      const DVLQCrashReport& report) {
  auto stored = DVACDeviceTracker::sharedInstance()->deviceForTimestamp(timestamp);
  const DVACDevice empty;
  const DVACDevice& d = stored ? *stored : empty;
  auto device = std::make_shared<DVACDevice>();
  const auto& system = report.systemInfo();
  device->osVersion = system ? std::optional<std::string>(system->operatingSystemVersion()) : d.osVersion;
  device->osBuild = system && system->operatingSystemBuild() ? system->operatingSystemBuild() : d.osBuild;
  device->model = report.machineInfo() && report.machineInfo()->modelName() ? report.machineInfo()->modelName()
                                                                            : d.model;
  const auto& app = report.applicationInfo();
  device->appBuild = app ? std::optional<std::string>(app->applicationVersion()) : d.appBuild;
  device->appVersion = app && app->applicationMarketingVersion() ? app->applicationMarketingVersion() : d.appVersion;
  device->appNamespace = app ? std::optional<std::string>(app->applicationIdentifier()) : d.appNamespace;

  device->sdkName = d.sdkName;
  device->sdkVersion = d.sdkVersion;
  device->oemName = d.oemName;
  device->osName = d.osName;
  device->osApiLevel = d.osApiLevel;
  device->locale = d.locale;
  device->timeZoneOffset = d.timeZoneOffset;
  device->screenSize = d.screenSize;
  device->carrierName = d.carrierName;
  device->carrierCountry = d.carrierCountry;
  device->wrapperSdkName = d.wrapperSdkName;
  device->wrapperSdkVersion = d.wrapperSdkVersion;
  device->wrapperRuntimeVersion = d.wrapperRuntimeVersion;
  device->liveUpdatePackageHash = d.liveUpdatePackageHash;
  device->liveUpdateReleaseLabel = d.liveUpdateReleaseLabel;
  device->liveUpdateDeploymentKey = d.liveUpdateDeploymentKey;
  return device;
}

// ---------------------------------------------------------------- Names

std::string DVACErrorLogFormatter::convertCodeTypeToString(uint64_t codeType) {
  switch (codeType) {
    case kDVACCPUTypeX86:
      return "X86";
    case kDVACCPUTypeARM:
      return "ARM";
    case kDVACCPUTypePowerPC:
      return "PPC";
    case kDVACCPUTypeX86_64:
      return "X86-64";
    case kDVACCPUTypeARM64:
      return "ARM-64";
    default:
      return "Unknown (" + std::to_string(codeType) + ")";
  }
}

std::string DVACErrorLogFormatter::convertArchNameToString(uint64_t codeType, uint64_t subtype) {
  subtype &= 0xFFFFFF;
  switch (codeType) {
    case kDVACCPUTypeX86:
      return "i386";
    case kDVACCPUTypeARM:
      switch (subtype) {
        case 6:
          return "armv6";
        case 9:
          return "armv7";
        case 11:
          return "armv7s";
        default:
          return "arm-unknown";
      }
    case kDVACCPUTypePowerPC:
      return "powerpc";
    case kDVACCPUTypeX86_64:
      return "x86_64";
    case kDVACCPUTypeARM64:
      switch (subtype) {
        case 0:
          return "arm64";
        case 1:
          return "armv8";
        case 2:
          return "arm64e";
        default:
          return "arm64-unknown";
      }
    default:
      return kDVACErrorLogFormatterUnknown;
  }
}

bool DVACErrorLogFormatter::isCodeType64bit(uint64_t codeType) {
  return codeType == kDVACCPUTypeARM64 || codeType == kDVACCPUTypeX86_64;
}

std::optional<std::string> DVACErrorLogFormatter::uuidRefToString(const std::optional<ns::UUID>& uuid) {
  if (!uuid) return std::nullopt;
  return uuid->UUIDString();
}

std::string DVACErrorLogFormatter::formatAddress(uint64_t address, bool is64bit) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*" PRIx64, is64bit ? 16 : 8, address);
  return text;
}
