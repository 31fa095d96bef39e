#include "LQCrashReporter/Source/DVLQCrashReport.h"

#include <array>
#include <cstring>

#include "LQCrashReporter/Source/LQCrashErrors.h"
#include "LQCrashReporter/Source/LQCrashLogWriter.h"
#include "LQCrashReporter/lqcrash.pb-c.h"

// The writer numbers field types as protobuf-c does.
static_assert(static_cast<int>(LQCRASH_PB_TYPE_INT32) == static_cast<int>(PROTOBUF_C_TYPE_INT32));
static_assert(static_cast<int>(LQCRASH_PB_TYPE_UINT64) == static_cast<int>(PROTOBUF_C_TYPE_UINT64));
static_assert(static_cast<int>(LQCRASH_PB_TYPE_BOOL) == static_cast<int>(PROTOBUF_C_TYPE_BOOL));
static_assert(static_cast<int>(LQCRASH_PB_TYPE_STRING) == static_cast<int>(PROTOBUF_C_TYPE_STRING));
static_assert(static_cast<int>(LQCRASH_PB_TYPE_BYTES) == static_cast<int>(PROTOBUF_C_TYPE_BYTES));
static_assert(static_cast<int>(LQCRASH_PB_TYPE_MESSAGE) == static_cast<int>(PROTOBUF_C_TYPE_MESSAGE));

ProtobufCMessage* DVprotobuf_c_message_unpack(const void* descriptor, size_t len, const uint8_t* data) {
    return protobuf_c_message_unpack(static_cast<const ProtobufCMessageDescriptor*>(descriptor), nullptr, len, data);
}

namespace {

using Report = Lqcrash__CrashReport;

constexpr uint64_t kArm64 = 0x100000C;
constexpr uint64_t kArm64e = 2;

// Fails with code 2 and the (localized) message.
bool fail(ns::Error* error, const std::string& message, bool localize = true) {
    lqcrash_populate_error(error, LQCrashReporterErrorCrashReportInvalid,
                           localize ? lqcrash_localized(message) : message);
    return false;
}

std::optional<std::string> optString(const char* s) {
    if (!s) return std::nullopt;
    return std::string(s);
}

DVLQCrashReportProcessorInfoPtr extractProcessorInfo(const Lqcrash__CrashReport__Processor* p, ns::Error* error) {
    if (!p) {
        fail(error, "Crash report is missing processor info section");
        return nullptr;
    }
    return std::make_shared<DVLQCrashReportProcessorInfo>(p->encoding, p->type, p->subtype);
}

DVLQCrashReportProcessorInfoPtr synthesizeProcessorInfoFromArchitecture(int32_t architecture, ns::Error* error) {
    switch (architecture) {
        case LQCRASH__ARCHITECTURE__X86_32: return std::make_shared<DVLQCrashReportProcessorInfo>(1, 7, 3);
        case LQCRASH__ARCHITECTURE__X86_64: return std::make_shared<DVLQCrashReportProcessorInfo>(1, 0x1000007, 3);
        case LQCRASH__ARCHITECTURE__ARMV6: return std::make_shared<DVLQCrashReportProcessorInfo>(1, 12, 6);
        case LQCRASH__ARCHITECTURE__PPC: return std::make_shared<DVLQCrashReportProcessorInfo>(1, 18, 0);
        case LQCRASH__ARCHITECTURE__PPC64: return std::make_shared<DVLQCrashReportProcessorInfo>(1, 0x1000012, 0);
        case LQCRASH__ARCHITECTURE__ARMV7: return std::make_shared<DVLQCrashReportProcessorInfo>(1, 12, 9);
        default:
            fail(error, "Crash report has an unknown architecture");
            return nullptr;
    }
}

std::shared_ptr<DVLQCrashReportSystemInfo> extractSystemInfo(const Lqcrash__CrashReport__SystemInfo* s,
                                                             DVLQCrashReportProcessorInfoPtr processor,
                                                             ns::Error* error) {
    if (!s) {
        fail(error, "Crash report is missing System Information section");
        return nullptr;
    }
    if (!s->os_version) {
        fail(error, "Crash report is missing System Information OS version field");
        return nullptr;
    }
    std::optional<ns::Date> timestamp;
    if (s->timestamp != 0) timestamp = ns::Date::fromTimeIntervalSince1970(static_cast<double>(s->timestamp));
    if (!processor) {
        processor = synthesizeProcessorInfoFromArchitecture(s->architecture, error);
        if (!processor) return nullptr;
    }
    return std::make_shared<DVLQCrashReportSystemInfo>(s->operating_system, s->os_version, optString(s->os_build),
                                                       s->architecture, processor, timestamp);
}

std::shared_ptr<DVLQCrashReportMachineInfo> extractMachineInfo(const Lqcrash__CrashReport__MachineInfo* m,
                                                               ns::Error* error) {
    if (!m) {
        fail(error, "Crash report is missing Machine Information section");
        return nullptr;
    }
    DVLQCrashReportProcessorInfoPtr processor;
    if (m->processor) {
        processor = extractProcessorInfo(m->processor, error);
        if (!processor) return nullptr;
    }
    return std::make_shared<DVLQCrashReportMachineInfo>(optString(m->model), processor, m->processor_count,
                                                        m->logical_processor_count);
}

std::shared_ptr<DVLQCrashReportApplicationInfo> extractApplicationInfo(const Lqcrash__CrashReport__ApplicationInfo* a,
                                                                       ns::Error* error) {
    if (!a) {
        fail(error, "Crash report is missing Application Information section");
        return nullptr;
    }
    if (!a->identifier) {
        fail(error, "Crash report is missing Application Information app identifier field");
        return nullptr;
    }
    if (!a->version) {
        fail(error, "Crash report is missing Application Information app version field");
        return nullptr;
    }
    return std::make_shared<DVLQCrashReportApplicationInfo>(a->identifier, a->version, optString(a->marketing_version));
}

std::shared_ptr<DVLQCrashReportProcessInfo> extractProcessInfo(const Lqcrash__CrashReport__ProcessInfo* p,
                                                               ns::Error* error) {
    if (!p) {
        fail(error, "Crash report is missing Process Information section");
        return nullptr;
    }
    std::optional<ns::Date> start;
    if (p->has_start_time) start = ns::Date::fromTimeIntervalSince1970(static_cast<double>(p->start_time));
    // The writer stores the path with its terminating zero; stop there.
    std::optional<std::string> path = optString(p->process_path);
    return std::make_shared<DVLQCrashReportProcessInfo>(optString(p->process_name), p->process_id, path, start,
                                                        optString(p->parent_process_name), p->parent_process_id,
                                                        p->native);
}

std::shared_ptr<DVLQCrashReportSymbolInfo> extractSymbolInfo(const Lqcrash__CrashReport__Symbol* s, ns::Error* error) {
    if (!s || !s->name) {
        fail(error, "Crash report is missing symbol information");
        return nullptr;
    }
    return std::make_shared<DVLQCrashReportSymbolInfo>(s->name, s->start_address,
                                                       s->has_end_address ? s->end_address : 0);
}

std::shared_ptr<DVLQCrashReportStackFrameInfo> extractStackFrameInfo(const Lqcrash__CrashReport__Thread__StackFrame* f,
                                                                     const DVLQCrashReportMachineInfo* machine,
                                                                     ns::Error* error) {
    if (!f) {
        fail(error, "Crash report is missing stack frame information");
        return nullptr;
    }
    uint64_t pc = f->pc;
    if (machine && machine->processorInfo() && machine->processorInfo()->type() == kArm64 &&
        machine->processorInfo()->subtype() == kArm64e) {
        pc &= 0xFFFFFFFFFull;
    }
    std::shared_ptr<DVLQCrashReportSymbolInfo> symbol;
    if (f->symbol) {
        symbol = extractSymbolInfo(f->symbol, error);
        if (!symbol) return nullptr;
    }
    return std::make_shared<DVLQCrashReportStackFrameInfo>(pc, symbol);
}

std::shared_ptr<DVLQCrashReportThreadInfo> extractThreadInfo(const Lqcrash__CrashReport__Thread* t,
                                                             const DVLQCrashReportMachineInfo* machine,
                                                             ns::Error* error) {
    DVLQCrashReportStackFrames frames;
    for (size_t i = 0; i < t->n_frames; ++i) {
        auto frame = extractStackFrameInfo(t->frames[i], machine, error);
        if (!frame) return nullptr;
        frames.push_back(frame);
    }
    std::vector<std::shared_ptr<DVLQCrashReportRegisterInfo>> registers;
    for (size_t i = 0; i < t->n_registers; ++i) {
        const Lqcrash__CrashReport__Thread__RegisterValue* r = t->registers[i];
        if (!r || !r->name) {
            fail(error, "Missing register name in register value", false);
            return nullptr;
        }
        registers.push_back(std::make_shared<DVLQCrashReportRegisterInfo>(r->name, r->value));
    }
    return std::make_shared<DVLQCrashReportThreadInfo>(t->thread_number, std::move(frames), t->crashed,
                                                       std::move(registers));
}

std::shared_ptr<DVLQCrashReportBinaryImageInfo> extractImageInfo(const Lqcrash__CrashReport__BinaryImage* b,
                                                                 ns::Error* error) {
    if (!b || !b->name) {
        fail(error, "Missing image name in image record", false);
        return nullptr;
    }
    std::optional<ns::Data> uuid;
    if (b->has_uuid && b->uuid.len != 0) uuid = ns::Data(b->uuid.data, b->uuid.data + b->uuid.len);
    DVLQCrashReportProcessorInfoPtr codeType;
    if (b->code_type) {
        codeType = extractProcessorInfo(b->code_type, error);
        if (!codeType) return nullptr;
    }
    return std::make_shared<DVLQCrashReportBinaryImageInfo>(codeType, b->base_address, b->size, b->name, uuid);
}

std::shared_ptr<DVLQCrashReportExceptionInfo> extractExceptionInfo(const Lqcrash__CrashReport__Exception* e,
                                                                   const DVLQCrashReportMachineInfo* machine,
                                                                   ns::Error* error) {
    if (!e) {
        fail(error, "Crash report is missing Exception Information section");
        return nullptr;
    }
    if (!e->name) {
        fail(error, "Crash report is missing exception name field");
        return nullptr;
    }
    if (!e->reason) {
        fail(error, "Crash report is missing exception reason field");
        return nullptr;
    }
    std::optional<DVLQCrashReportStackFrames> frames;
    if (e->n_frames > 0) {
        frames.emplace();
        for (size_t i = 0; i < e->n_frames; ++i) {
            auto frame = extractStackFrameInfo(e->frames[i], machine, error);
            if (!frame) return nullptr;
            frames->push_back(frame);
        }
    }
    return std::make_shared<DVLQCrashReportExceptionInfo>(e->name, e->reason, frames);
}

std::shared_ptr<DVLQCrashReportSignalInfo> extractSignalInfo(const Lqcrash__CrashReport__Signal* s, ns::Error* error) {
    if (!s) {
        fail(error, "Crash report is missing Signal Information section");
        return nullptr;
    }
    if (!s->name) {
        fail(error, "Crash report is missing signal name field");
        return nullptr;
    }
    if (!s->code) {
        fail(error, "Crash report is missing signal code field");
        return nullptr;
    }
    return std::make_shared<DVLQCrashReportSignalInfo>(s->name, s->code, s->address);
}

std::shared_ptr<DVLQCrashReportMachExceptionInfo> extractMachExceptionInfo(
    const Lqcrash__CrashReport__Signal__MachException* m, ns::Error* error) {
    if (!m) {
        fail(error, "Crash report is missing Mach Exception Information section");
        return nullptr;
    }
    if (m->n_codes >= 256) {
        fail(error, "Crash report includes too many Mach Exception codes");
        return nullptr;
    }
    return std::make_shared<DVLQCrashReportMachExceptionInfo>(m->type,
                                                              std::vector<uint64_t>(m->codes, m->codes + m->n_codes));
}

}  // namespace

DVLQCrashReportBinaryImageInfo::DVLQCrashReportBinaryImageInfo(DVLQCrashReportProcessorInfoPtr codeType,
                                                               uint64_t baseAddress, uint64_t size, std::string name,
                                                               std::optional<ns::Data> uuid)
    : _processorInfo(std::move(codeType)),
      _baseAddress(baseAddress),
      _imageSize(size),
      _imageName(std::move(name)),
      _hasImageUUID(uuid.has_value()) {
    if (uuid) {
        static const char digits[] = "0123456789abcdef";
        std::string text;
        for (uint8_t b : *uuid) {
            text.push_back(digits[b >> 4]);
            text.push_back(digits[b & 0x0F]);
        }
        _imageUUID = text;
    }
}

DVLQCrashReport::~DVLQCrashReport() {
    if (_decoder.crashReport) protobuf_c_message_free_unpacked(&_decoder.crashReport->base, nullptr);
}

DVLQCrashReport::Ptr DVLQCrashReport::initWithData(const ns::Data& data, ns::Error* error) {
    Ptr report(new DVLQCrashReport());
    if (!report->decode(data, error)) return nullptr;
    return report;
}

bool DVLQCrashReport::decode(const ns::Data& data, ns::Error* error) {
    if (data.size() < 9) return fail(error, "Could not decode truncated crash log");
    if (std::memcmp(data.data(), "lqcrash", 7) != 0) return fail(error, "Could not decode invalid crash log header");
    if (data[7] != 1) {
        std::string message = lqcrash_localized("Could not decode unsupported crash report version: %d");
        size_t at = message.find("%d");
        if (at != std::string::npos) message.replace(at, 2, std::to_string(data[7]));
        return fail(error, message, false);
    }
    _decoder.crashReport = reinterpret_cast<Report*>(
        DVprotobuf_c_message_unpack(&lqcrash__crash_report__descriptor, data.size() - 8, data.data() + 8));
    if (!_decoder.crashReport) return fail(error, "An unknown error occured decoding the crash report");
    const Report* r = _decoder.crashReport;

    if (r->report_info && r->report_info->has_uuid) {
        if (r->report_info->uuid.len != 16) return fail(error, "Report UUID value is not a standard 16 bytes", false);
        std::array<uint8_t, 16> bytes;
        std::memcpy(bytes.data(), r->report_info->uuid.data, 16);
        _uuid = ns::UUID(bytes);
    }
    if (r->machine_info) {
        _machineInfo = extractMachineInfo(r->machine_info, error);
        if (!_machineInfo) return false;
    }
    _systemInfo = extractSystemInfo(r->system_info, _machineInfo ? _machineInfo->processorInfo() : nullptr, error);
    if (!_systemInfo) return false;
    _applicationInfo = extractApplicationInfo(r->application_info, error);
    if (!_applicationInfo) return false;
    if (r->process_info) {
        _processInfo = extractProcessInfo(r->process_info, error);
        if (!_processInfo) return false;
    }
    _signalInfo = extractSignalInfo(r->signal, error);
    if (!_signalInfo) return false;
    if (r->signal->mach_exception) {
        _machExceptionInfo = extractMachExceptionInfo(r->signal->mach_exception, error);
        if (!_machExceptionInfo) return false;
    }
    if (r->n_threads == 0) return fail(error, "Crash report is missing thread state information");
    for (size_t i = 0; i < r->n_threads; ++i) {
        auto thread = extractThreadInfo(r->threads[i], _machineInfo.get(), error);
        if (!thread) return false;
        _threads.push_back(thread);
    }
    if (r->n_binary_images == 0) return fail(error, "Crash report is missing binary image information");
    for (size_t i = 0; i < r->n_binary_images; ++i) {
        auto image = extractImageInfo(r->binary_images[i], error);
        if (!image) return false;
        _images.push_back(image);
    }
    if (r->exception) {
        _exceptionInfo = extractExceptionInfo(r->exception, _machineInfo.get(), error);
        if (!_exceptionInfo) return false;
    }
    if (r->has_custom_data) {
        _customData = ns::Data(r->custom_data.data, r->custom_data.data + r->custom_data.len);
    }
    return true;
}

std::shared_ptr<DVLQCrashReportBinaryImageInfo> DVLQCrashReport::imageForAddress(uint64_t address) const {
    for (const auto& image : _images) {
        if (image->imageBaseAddress() <= address && address - image->imageBaseAddress() < image->imageSize()) {
            return image;
        }
    }
    return nullptr;
}
