#pragma once
// Builds report files with protobuf-c for the decoder and formatter tests:
// a valid report to start from, changed field by field.

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "LQCrashReporter/lqcrash.pb-c.h"
#include "platform/foundation/Value.h"

namespace lqtest {

class ReportBuilder {
public:
    ReportBuilder() {
        lqcrash__crash_report__init(&report);
        lqcrash__crash_report__system_info__init(&system);
        system.os_version = str("13.1");
        system.has_operating_system = true;
        system.operating_system = LQCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X;
        system.architecture = LQCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
        system.timestamp = 1700000000;
        system.os_build = str("22C65");
        report.system_info = &system;

        lqcrash__crash_report__processor__init(&machineProcessor);
        machineProcessor.has_encoding = true;
        machineProcessor.encoding = LQCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        machineProcessor.type = 0x100000C;
        machineProcessor.subtype = 0;
        lqcrash__crash_report__machine_info__init(&machine);
        machine.model = str("Mac14,2");
        machine.processor = &machineProcessor;
        machine.processor_count = 8;
        machine.logical_processor_count = 8;
        report.machine_info = &machine;

        lqcrash__crash_report__application_info__init(&app);
        app.identifier = str("com.example.app");
        app.version = str("12");
        app.marketing_version = str("1.2");
        report.application_info = &app;

        lqcrash__crash_report__process_info__init(&process);
        process.process_name = str("Example");
        process.process_id = 4242;
        process.process_path = str("/Applications/Example.app/Contents/MacOS/Example");
        process.parent_process_name = str("launchd");
        process.parent_process_id = 1;
        process.native = true;
        process.has_start_time = true;
        process.start_time = 1699999000;
        report.process_info = &process;

        lqcrash__crash_report__signal__init(&signal);
        signal.name = str("SIGSEGV");
        signal.code = str("SEGV_MAPERR");
        signal.address = 0x10;
        report.signal = &signal;

        addThread(0, true, {0x100004010, 0x100004104});
        addImage(0x100000000, 0x8000, "/Applications/Example.app/Contents/MacOS/Example", true);
    }

    char* str(const std::string& s) {
        strings.push_back(s);
        return strings.back().data();
    }

    Lqcrash__CrashReport__Thread__StackFrame* frame(uint64_t pc) {
        frames.emplace_back();
        auto* f = &frames.back();
        lqcrash__crash_report__thread__stack_frame__init(f);
        f->pc = pc;
        return f;
    }

    Lqcrash__CrashReport__Thread* addThread(uint32_t number, bool crashed, const std::vector<uint64_t>& pcs) {
        threads.emplace_back();
        auto* t = &threads.back();
        lqcrash__crash_report__thread__init(t);
        t->thread_number = number;
        t->crashed = crashed;
        framePointers.emplace_back();
        for (uint64_t pc : pcs) framePointers.back().push_back(frame(pc));
        t->n_frames = framePointers.back().size();
        t->frames = framePointers.back().data();
        threadPointers.push_back(t);
        report.n_threads = threadPointers.size();
        report.threads = threadPointers.data();
        return t;
    }

    void setRegisters(Lqcrash__CrashReport__Thread* t, const std::vector<std::pair<std::string, uint64_t>>& values) {
        registerPointers.emplace_back();
        for (const auto& [name, value] : values) {
            registers.emplace_back();
            auto* r = &registers.back();
            lqcrash__crash_report__thread__register_value__init(r);
            r->name = name.empty() ? nullptr : str(name);
            r->value = value;
            registerPointers.back().push_back(r);
        }
        t->n_registers = registerPointers.back().size();
        t->registers = registerPointers.back().data();
    }

    Lqcrash__CrashReport__BinaryImage* addImage(uint64_t base, uint64_t size, const std::string& name, bool uuid) {
        images.emplace_back();
        auto* b = &images.back();
        lqcrash__crash_report__binary_image__init(b);
        b->base_address = base;
        b->size = size;
        b->name = str(name);
        if (uuid) {
            b->has_uuid = true;
            b->uuid.len = 16;
            b->uuid.data = reinterpret_cast<uint8_t*>(str(std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\xff", 16)));
        }
        processors.emplace_back();
        auto* p = &processors.back();
        lqcrash__crash_report__processor__init(p);
        p->has_encoding = true;
        p->encoding = LQCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        p->type = 0x100000C;
        p->subtype = 0;
        b->code_type = p;
        imagePointers.push_back(b);
        report.n_binary_images = imagePointers.size();
        report.binary_images = imagePointers.data();
        return b;
    }

    ns::Data bytes() {
        ns::Data out = {'l', 'q', 'c', 'r', 'a', 's', 'h', 1};
        size_t n = lqcrash__crash_report__get_packed_size(&report);
        out.resize(8 + n);
        lqcrash__crash_report__pack(&report, out.data() + 8);
        return out;
    }

    Lqcrash__CrashReport report;
    Lqcrash__CrashReport__SystemInfo system;
    Lqcrash__CrashReport__Processor machineProcessor;
    Lqcrash__CrashReport__MachineInfo machine;
    Lqcrash__CrashReport__ApplicationInfo app;
    Lqcrash__CrashReport__ProcessInfo process;
    Lqcrash__CrashReport__Signal signal;
    std::deque<std::string> strings;
    std::deque<Lqcrash__CrashReport__Thread__StackFrame> frames;
    std::deque<std::vector<Lqcrash__CrashReport__Thread__StackFrame*>> framePointers;
    std::deque<Lqcrash__CrashReport__Thread> threads;
    std::vector<Lqcrash__CrashReport__Thread*> threadPointers;
    std::deque<Lqcrash__CrashReport__Thread__RegisterValue> registers;
    std::deque<std::vector<Lqcrash__CrashReport__Thread__RegisterValue*>> registerPointers;
    std::deque<Lqcrash__CrashReport__BinaryImage> images;
    std::vector<Lqcrash__CrashReport__BinaryImage*> imagePointers;
    std::deque<Lqcrash__CrashReport__Processor> processors;
};

}  // namespace lqtest
