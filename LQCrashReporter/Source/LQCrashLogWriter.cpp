#include "LQCrashReporter/Source/LQCrashLogWriter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LQCrashReporter/Source/LQCrashAsyncSymbolication.h"
#include "LQCrashReporter/Source/LQCrashFrameCursor.h"
#include "LQCrashReporter/Source/LQCrashSignalNames.h"
#include "LQCrashReporter/Source/LQCrashSysctl.h"
#include "platform/machcompat/MachO.h"
#include "platform/machcompat/MachThread.h"
#include "platform/machcompat/Sysctl.h"

namespace {

// Field numbers of the report messages.
enum : uint32_t {
    kReportSystemInfo = 1,
    kReportApplicationInfo = 2,
    kReportThreads = 3,
    kReportBinaryImages = 4,
    kReportException = 5,
    kReportSignal = 6,
    kReportProcessInfo = 7,
    kReportMachineInfo = 8,
    kReportReportInfo = 9,
    kReportCustomData = 10,
};

size_t varint32(uint8_t* out, uint32_t v) {
    size_t n = 0;
    while (v >= 0x80) {
        out[n++] = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    out[n++] = static_cast<uint8_t>(v);
    return n;
}

size_t varint64(uint8_t* out, uint64_t v) {
    size_t n = 0;
    while (v >= 0x80) {
        out[n++] = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    out[n++] = static_cast<uint8_t>(v);
    return n;
}

size_t fixed32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
    return 4;
}

size_t fixed64(uint8_t* out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
    return 8;
}

lqcrash_log_string copy_string(const char* s) {
    lqcrash_log_string out{0, nullptr};
    if (!s) return out;
    out.length = std::strlen(s);
    out.bytes = static_cast<char*>(std::malloc(out.length + 1));
    if (!out.bytes) {
        out.length = 0;
        return out;
    }
    std::memcpy(out.bytes, s, out.length + 1);
    return out;
}

void free_string(lqcrash_log_string* s) {
    std::free(s->bytes);
    s->bytes = nullptr;
    s->length = 0;
}

size_t pack_string(lqcrash_async_file_t* file, uint32_t field, const lqcrash_log_string& s) {
    lqcrash_pb_bytes b{s.length, reinterpret_cast<const uint8_t*>(s.bytes)};
    return lqcrash_writer_pack(file, field, LQCRASH_PB_TYPE_BYTES, &b);
}

size_t pack_cstring(lqcrash_async_file_t* file, uint32_t field, const char* s) {
    return lqcrash_writer_pack(file, field, LQCRASH_PB_TYPE_STRING, s);
}

// Writes a nested message: size pass, key and length, then the body.
template <typename Body>
size_t pack_message(lqcrash_async_file_t* file, uint32_t field, Body body) {
    uint32_t size = static_cast<uint32_t>(body(nullptr));
    size_t rv = lqcrash_writer_pack(file, field, LQCRASH_PB_TYPE_MESSAGE, &size);
    if (file) body(file);
    return rv + size;
}

size_t write_processor(lqcrash_async_file_t* file, uint64_t type, uint64_t subtype) {
    size_t rv = 0;
    uint32_t encoding = 1;  // TYPE_ENCODING_MACH
    rv += lqcrash_writer_pack(file, 1, LQCRASH_PB_TYPE_ENUM, &encoding);
    rv += lqcrash_writer_pack(file, 2, LQCRASH_PB_TYPE_UINT64, &type);
    rv += lqcrash_writer_pack(file, 3, LQCRASH_PB_TYPE_UINT64, &subtype);
    return rv;
}

size_t write_report_info(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer) {
    size_t rv = 0;
    bool userRequested = writer->user_requested;
    rv += lqcrash_writer_pack(file, 1, LQCRASH_PB_TYPE_BOOL, &userRequested);
    lqcrash_pb_bytes uuid{16, writer->report_uuid};
    rv += lqcrash_writer_pack(file, 2, LQCRASH_PB_TYPE_BYTES, &uuid);
    return rv;
}

uint32_t architecture_for_host() {
#if defined(__x86_64__)
    return 1;  // X86_64
#elif defined(__i386__)
    return 0;  // X86_32
#elif defined(__arm__)
    return 5;  // ARMV7
#else
    return 6;  // ARCHITECTURE_UNKNOWN: the enumeration has no 64-bit ARM value
#endif
}

size_t write_system_info(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer, int64_t timestamp) {
    size_t rv = 0;
    uint32_t os = 0;  // MAC_OS_X
    rv += lqcrash_writer_pack(file, 1, LQCRASH_PB_TYPE_ENUM, &os);
    rv += pack_string(file, 2, writer->system_info.version);
    rv += pack_string(file, 5, writer->system_info.build);
    uint32_t arch = architecture_for_host();
    rv += lqcrash_writer_pack(file, 3, LQCRASH_PB_TYPE_ENUM, &arch);
    rv += lqcrash_writer_pack(file, 4, LQCRASH_PB_TYPE_INT64, &timestamp);
    return rv;
}

size_t write_machine_info(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer) {
    size_t rv = 0;
    if (writer->machine_info.model.bytes) rv += pack_string(file, 1, writer->machine_info.model);
    rv += pack_message(file, 2, [&](lqcrash_async_file_t* f) {
        return write_processor(f, writer->machine_info.cpu_type, writer->machine_info.cpu_subtype);
    });
    rv += lqcrash_writer_pack(file, 3, LQCRASH_PB_TYPE_UINT32, &writer->machine_info.processor_count);
    rv += lqcrash_writer_pack(file, 4, LQCRASH_PB_TYPE_UINT32, &writer->machine_info.logical_processor_count);
    return rv;
}

size_t write_app_info(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer) {
    size_t rv = 0;
    rv += pack_string(file, 1, writer->application_info.app_identifier);
    rv += pack_string(file, 2, writer->application_info.app_version);
    rv += pack_string(file, 3, writer->application_info.app_marketing_version);
    return rv;
}

size_t write_process_info(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer) {
    size_t rv = 0;
    auto& p = writer->process_info;
    rv += pack_string(file, 1, p.process_name);
    rv += lqcrash_writer_pack(file, 2, LQCRASH_PB_TYPE_UINT32, &p.process_id);
    rv += pack_string(file, 3, p.process_path);
    rv += pack_string(file, 4, p.parent_process_name);
    rv += lqcrash_writer_pack(file, 5, LQCRASH_PB_TYPE_UINT32, &p.parent_process_id);
    rv += lqcrash_writer_pack(file, 6, LQCRASH_PB_TYPE_BOOL, &p.native);
    rv += lqcrash_writer_pack(file, 7, LQCRASH_PB_TYPE_UINT64, &p.start_time);
    return rv;
}

struct SymbolContext {
    lqcrash_async_file_t* file;
    size_t size;
};

void write_symbol(pl_vm_address_t address, const char* name, void* ctx) {
    SymbolContext* c = static_cast<SymbolContext*>(ctx);
    c->size += pack_cstring(c->file, 1, name);
    uint64_t start = address;
    c->size += lqcrash_writer_pack(c->file, 2, LQCRASH_PB_TYPE_UINT64, &start);
}

// A return address is symbolicated by the call before it: after a call that
// never returns it already lies past the end of the calling function.
size_t write_frame(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer, uint64_t pc, bool returnAddress,
                   lqcrash_async_image_list* images, lqcrash_async_objc_cache* cache) {
    size_t rv = lqcrash_writer_pack(file, 3, LQCRASH_PB_TYPE_UINT64, &pc);
    if (writer->symbol_strategy == 0) return rv;
    const uint64_t lookup = returnAddress && pc > 0 ? pc - 1 : pc;
    lqcrash_async_image_list_set_reading(images, true);
    lqcrash_async_macho* image = lqcrash_image_list_image_for_address(images, lookup);
    if (image) {
        SymbolContext measure{nullptr, 0};
        if (lqcrash_async_find_symbol(image, writer->symbol_strategy, cache, lookup, write_symbol, &measure) ==
            LQCRASH_ESUCCESS) {
            uint32_t size = static_cast<uint32_t>(measure.size);
            rv += lqcrash_writer_pack(file, 6, LQCRASH_PB_TYPE_MESSAGE, &size);
            if (file) {
                SymbolContext out{file, 0};
                lqcrash_async_find_symbol(image, writer->symbol_strategy, cache, lookup, write_symbol, &out);
            }
            rv += size;
        }
    }
    lqcrash_async_image_list_set_reading(images, false);
    return rv;
}

size_t write_register(lqcrash_async_file_t* file, const char* name, uint64_t value) {
    size_t rv = pack_cstring(file, 1, name);
    rv += lqcrash_writer_pack(file, 2, LQCRASH_PB_TYPE_UINT64, &value);
    return rv;
}

// One thread's stack, walked once: the sizing pass keeps it for the writing
// pass.
constexpr uint32_t kMaxThreadRegisters = LQCRASH_ARM64_REG_COUNT;
static_assert(LQCRASH_X86_64_REG_COUNT <= kMaxThreadRegisters && LQCRASH_ARM_REG_COUNT <= kMaxThreadRegisters);
struct thread_frames {
    uint32_t count;
    // The crashed thread's registers at its first frame.
    uint32_t register_count;
    const char* register_names[kMaxThreadRegisters];
    uint64_t register_values[kMaxThreadRegisters];
    uint64_t pcs[LQCRASH_MAX_FRAMES];
};

// Walks the thread's stack into out: at most LQCRASH_MAX_FRAMES frames, and
// for the crashed thread every register of its first frame (0 when
// unreadable). A thread whose state or cursor fails has no frames.
void collect_frames(task_t task, thread_t thread, const lqcrash_async_thread_state* saved,
                    lqcrash_async_image_list* images, bool crashed, thread_frames* out) {
    out->count = 0;
    out->register_count = 0;
    lqcrash_async_thread_state state;
    if (saved) {
        lqcrash_async_thread_state_copy(&state, saved);
    } else if (lqcrash_async_thread_state_mach_thread_init(&state, thread) != LQCRASH_ESUCCESS) {
        return;
    }
    lqcrash_frame_cursor cursor;
    if (lqcrash_frame_cursor_init(&cursor, task, &state, images) != LQCRASH_FRAME_ESUCCESS) return;
    if (lqcrash_frame_cursor_next(&cursor) != LQCRASH_FRAME_ESUCCESS) {
        lqcrash_frame_cursor_free(&cursor);
        return;
    }
    while (out->count < LQCRASH_MAX_FRAMES) {
        uint64_t pc;
        if (lqcrash_frame_cursor_get_reg(&cursor, LQCRASH_REG_IP, &pc) != LQCRASH_FRAME_ESUCCESS) break;
        if (out->count == 0 && crashed) {
            size_t count = lqcrash_frame_cursor_get_regcount(&cursor);
            if (count > kMaxThreadRegisters) count = kMaxThreadRegisters;
            for (lqcrash_regnum_t r = 0; r < count; ++r) {
                uint64_t value = 0;
                if (lqcrash_frame_cursor_get_reg(&cursor, r, &value) != LQCRASH_FRAME_ESUCCESS) value = 0;
                out->register_names[r] = lqcrash_frame_cursor_get_regname(&cursor, r);
                out->register_values[r] = value;
            }
            out->register_count = static_cast<uint32_t>(count);
        }
        out->pcs[out->count++] = pc;
        if (lqcrash_frame_cursor_next(&cursor) != LQCRASH_FRAME_ESUCCESS) break;
    }
    lqcrash_frame_cursor_free(&cursor);
}

// The body of one Thread message with the first of the thread's frames.
// Measuring (no file), it takes frames while the body stays within max_body
// bytes, at most max_frames of them, and leaves their number in *frames;
// writing, it writes exactly max_frames frames, so the two passes agree.
// The crashed thread's registers go with its first frame.
size_t write_thread(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer, uint32_t number, bool crashed,
                    const thread_frames& stack, lqcrash_async_image_list* images, lqcrash_async_objc_cache* cache,
                    uint32_t max_frames, size_t max_body, uint32_t* frames) {
    size_t rv = 0;
    *frames = 0;
    rv += lqcrash_writer_pack(file, 1, LQCRASH_PB_TYPE_UINT32, &number);
    rv += lqcrash_writer_pack(file, 3, LQCRASH_PB_TYPE_BOOL, &crashed);
    for (uint32_t index = 0; index < max_frames && index < stack.count; ++index) {
        const uint64_t pc = stack.pcs[index];
        size_t before = rv;
        if (index == 0 && crashed) {
            for (uint32_t r = 0; r < stack.register_count; ++r) {
                const char* name = stack.register_names[r];
                const uint64_t value = stack.register_values[r];
                rv += pack_message(file, 4, [&](lqcrash_async_file_t* f) { return write_register(f, name, value); });
            }
        }
        rv += pack_message(file, 2,
                           [&](lqcrash_async_file_t* f) { return write_frame(f, writer, pc, index > 0, images, cache); });
        if (!file && rv > max_body) {
            rv = before;
            break;
        }
        ++*frames;
    }
    return rv;
}

size_t write_binary_image(lqcrash_async_file_t* file, lqcrash_async_macho* image) {
    size_t rv = 0;
    uint64_t size = image->text_size;
    uint64_t base = image->header_addr;
    rv += lqcrash_writer_pack(file, 2, LQCRASH_PB_TYPE_UINT64, &size);
    rv += lqcrash_writer_pack(file, 1, LQCRASH_PB_TYPE_UINT64, &base);
    rv += pack_cstring(file, 3, image->name ? image->name : "");
    uint8_t uuid[16];
    if (lqcrash_async_macho_uuid(image, uuid)) {
        lqcrash_pb_bytes b{16, uuid};
        rv += lqcrash_writer_pack(file, 4, LQCRASH_PB_TYPE_BYTES, &b);
    }
    uint64_t type = static_cast<uint64_t>(static_cast<int64_t>(lqcrash_async_macho_cpu_type(image)));
    uint64_t subtype = static_cast<uint64_t>(static_cast<int64_t>(lqcrash_async_macho_cpu_subtype(image)));
    rv += pack_message(file, 5, [&](lqcrash_async_file_t* f) { return write_processor(f, type, subtype); });
    return rv;
}

// How much of the exception a report holds.
struct exception_plan {
    size_t name_length;
    size_t reason_length;
    uint32_t frames;
};

// The exception's name, reason and frames as planned.
size_t write_exception(lqcrash_async_file_t* file, lqcrash_log_writer_t* writer, lqcrash_async_image_list* images,
                       lqcrash_async_objc_cache* cache, const exception_plan& plan) {
    size_t rv = 0;
    auto& e = writer->uncaught_exception;
    lqcrash_pb_bytes name{plan.name_length, reinterpret_cast<const uint8_t*>(e.name)};
    lqcrash_pb_bytes reason{plan.reason_length, reinterpret_cast<const uint8_t*>(e.reason)};
    rv += lqcrash_writer_pack(file, 1, LQCRASH_PB_TYPE_BYTES, &name);
    rv += lqcrash_writer_pack(file, 2, LQCRASH_PB_TYPE_BYTES, &reason);
    for (uint32_t i = 0; i < plan.frames; ++i) {
        uint64_t pc = e.callstack[i];
        rv += pack_message(file, 3, [&](lqcrash_async_file_t* f) { return write_frame(f, writer, pc, true, images, cache); });
    }
    return rv;
}

size_t write_signal(lqcrash_async_file_t* file, lqcrash_log_signal_info_t* siginfo) {
    size_t rv = 0;
    const lqcrash_log_bsd_signal_info_t& bsd = *siginfo->bsd_info;
    // Room for "#" and any 32-bit number with its sign.
    char nameBuffer[16];
    char codeBuffer[16];
    const char* name = lqcrash_async_signal_signame(bsd.signo);
    if (!name) {
        nameBuffer[0] = '#';
        lqcrash_async_format_int(bsd.signo, nameBuffer + 1, sizeof(nameBuffer) - 1);
        name = nameBuffer;
    }
    const char* code = lqcrash_async_signal_sigcode(bsd.signo, bsd.code);
    if (!code) {
        codeBuffer[0] = '#';
        lqcrash_async_format_int(bsd.code, codeBuffer + 1, sizeof(codeBuffer) - 1);
        code = codeBuffer;
    }
    rv += pack_cstring(file, 1, name);
    rv += pack_cstring(file, 2, code);
    uint64_t address = bsd.address;
    rv += lqcrash_writer_pack(file, 3, LQCRASH_PB_TYPE_UINT64, &address);
    if (siginfo->mach_info) {
        const lqcrash_log_mach_signal_info_t& mach = *siginfo->mach_info;
        rv += pack_message(file, 4, [&](lqcrash_async_file_t* f) {
            size_t n = 0;
            uint64_t type = static_cast<uint64_t>(static_cast<int64_t>(mach.type));
            n += lqcrash_writer_pack(f, 1, LQCRASH_PB_TYPE_UINT64, &type);
            for (uint32_t i = 0; i < mach.code_count; ++i) {
                uint64_t c = static_cast<uint64_t>(mach.code[i]);
                n += lqcrash_writer_pack(f, 2, LQCRASH_PB_TYPE_UINT64, &c);
            }
            return n;
        });
    }
    return rv;
}

size_t varint_size(uint64_t v) {
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

// The bytes of a field of the report around a body of the given size.
size_t field_size(uint32_t field, size_t body) {
    return varint_size(static_cast<uint64_t>(field) << 3) + varint_size(body) + body;
}

// Room for a field's key and length: what remains of most for its body.
size_t body_within(size_t most) { return most > 6 ? most - 6 : 0; }

// A thread's number and crashed flag.
constexpr size_t kThreadNumberBytes = 1 + 5 + 1 + 1;
// Longest exception name or reason a report holds.
constexpr size_t kMaxExceptionText = 16384;

// The longest prefix of s (of length bytes), at most max bytes, that does
// not end inside a UTF-8 sequence.
size_t utf8_prefix(const char* s, size_t length, size_t max) {
    if (length <= max) return length;
    size_t n = max;
    while (n > 0 && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}

void free_custom_data_list(lqcrash_custom_data_block* block) {
    while (block) {
        lqcrash_custom_data_block* next = block->retired_next;
        std::free(block);
        block = next;
    }
}

size_t image_field_size(lqcrash_async_macho* image) {
    return pack_message(nullptr, kReportBinaryImages, [&](lqcrash_async_file_t* f) { return write_binary_image(f, image); });
}

}  // namespace

// ---- Output file ------------------------------------------------------------------

namespace {

ssize_t systemWrite(int fd, const void* data, size_t len) { return ::write(fd, data, len); }
int systemClose(int fd) { return ::close(fd); }

const lqcrash_async_file_ops kSystemFileOps = {systemWrite, systemClose};
const lqcrash_async_file_ops* g_fileOps = &kSystemFileOps;

}  // namespace

const lqcrash_async_file_ops* lqcrash_async_file_set_ops(const lqcrash_async_file_ops* ops) {
    const lqcrash_async_file_ops* previous = g_fileOps;
    g_fileOps = ops ? ops : &kSystemFileOps;
    return previous;
}

void DVlqcrash_async_file_init(lqcrash_async_file_t* file, int fd, int64_t output_limit) {
    file->fd = fd;
    file->limit_bytes = output_limit;
    file->total_bytes = 0;
    file->buflen = 0;
    file->failed = false;
    file->progress = nullptr;
}

void lqcrash_async_file_progress(lqcrash_async_file_t* file) {
    // A waiting crasher only needs to see the number change.
    if (file->progress) __atomic_add_fetch(file->progress, 1, __ATOMIC_RELAXED);
}

bool DVlqcrash_async_file_write(lqcrash_async_file_t* file, const void* data, size_t len) {
    if (file->limit_bytes != 0 && file->total_bytes + static_cast<int64_t>(len) > file->limit_bytes) {
        file->failed = true;
        return false;
    }
    file->total_bytes += static_cast<int64_t>(len);
    lqcrash_async_file_progress(file);
    if (file->buflen + len > sizeof(file->buffer)) {
        if (file->buflen > 0 && DVlqcrash_async_writen(file->fd, file->buffer, file->buflen) < 0) {
            file->failed = true;
            return false;
        }
        file->buflen = 0;
    }
    if (len > sizeof(file->buffer)) {
        if (DVlqcrash_async_writen(file->fd, data, len) < 0) {
            file->failed = true;
            return false;
        }
        return true;
    }
    lqcrash_async_memcpy(file->buffer + file->buflen, data, len);
    file->buflen += len;
    return true;
}

bool DVlqcrash_async_file_flush(lqcrash_async_file_t* file) {
    if (file->buflen == 0) return true;
    if (DVlqcrash_async_writen(file->fd, file->buffer, file->buflen) < 0) {
        file->failed = true;
        return false;
    }
    file->buflen = 0;
    return true;
}

bool DVlqcrash_async_file_close(lqcrash_async_file_t* file) {
    bool flushed = DVlqcrash_async_file_flush(file);
    bool closed = g_fileOps->close(file->fd) == 0;
    return flushed && closed;
}

ssize_t DVlqcrash_async_writen(int fd, const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t left = len;
    while (left > 0) {
        ssize_t n = g_fileOps->write(fd, p, left);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(len);
}

// ---- Encoding -----------------------------------------------------------------------

size_t lqcrash_writer_pack(lqcrash_async_file_t* file, uint32_t field_id, int type, const void* value) {
    uint8_t buf[24];
    uint32_t wire;
    switch (type) {
        case LQCRASH_PB_TYPE_SFIXED32:
        case LQCRASH_PB_TYPE_FIXED32:
        case LQCRASH_PB_TYPE_FLOAT: wire = 5; break;
        case LQCRASH_PB_TYPE_SFIXED64:
        case LQCRASH_PB_TYPE_FIXED64:
        case LQCRASH_PB_TYPE_DOUBLE: wire = 1; break;
        case LQCRASH_PB_TYPE_STRING:
        case LQCRASH_PB_TYPE_BYTES:
        case LQCRASH_PB_TYPE_MESSAGE: wire = 2; break;
        case LQCRASH_PB_TYPE_INT32:
        case LQCRASH_PB_TYPE_SINT32:
        case LQCRASH_PB_TYPE_INT64:
        case LQCRASH_PB_TYPE_UINT64:
        case LQCRASH_PB_TYPE_SINT64:
        case LQCRASH_PB_TYPE_UINT32:
        case LQCRASH_PB_TYPE_ENUM:
        case LQCRASH_PB_TYPE_BOOL: wire = 0; break;
        default: std::abort();
    }
    size_t n = field_id < (1u << 29) ? varint32(buf, (field_id << 3) | wire)
                                     : varint64(buf, (static_cast<uint64_t>(field_id) << 3) | wire);
    const uint8_t* data = nullptr;
    size_t dataLength = 0;
    switch (type) {
        case LQCRASH_PB_TYPE_INT32: {
            int32_t v = *static_cast<const int32_t*>(value);
            n += v < 0 ? varint64(buf + n, static_cast<uint64_t>(static_cast<int64_t>(v)))
                       : varint32(buf + n, static_cast<uint32_t>(v));
            break;
        }
        case LQCRASH_PB_TYPE_SINT32: {
            int32_t v = *static_cast<const int32_t*>(value);
            n += varint32(buf + n, (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31));
            break;
        }
        case LQCRASH_PB_TYPE_SFIXED32:
        case LQCRASH_PB_TYPE_FIXED32:
        case LQCRASH_PB_TYPE_FLOAT: {
            uint32_t v;
            lqcrash_async_memcpy(&v, value, 4);
            n += fixed32(buf + n, v);
            break;
        }
        case LQCRASH_PB_TYPE_INT64:
        case LQCRASH_PB_TYPE_UINT64: {
            uint64_t v;
            lqcrash_async_memcpy(&v, value, 8);
            n += varint64(buf + n, v);
            break;
        }
        case LQCRASH_PB_TYPE_SINT64: {
            int64_t v;
            lqcrash_async_memcpy(&v, value, 8);
            n += varint64(buf + n, (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63));
            break;
        }
        case LQCRASH_PB_TYPE_SFIXED64:
        case LQCRASH_PB_TYPE_FIXED64:
        case LQCRASH_PB_TYPE_DOUBLE: {
            uint64_t v;
            lqcrash_async_memcpy(&v, value, 8);
            n += fixed64(buf + n, v);
            break;
        }
        case LQCRASH_PB_TYPE_UINT32:
        case LQCRASH_PB_TYPE_ENUM: {
            uint32_t v;
            lqcrash_async_memcpy(&v, value, 4);
            n += varint32(buf + n, v);
            break;
        }
        case LQCRASH_PB_TYPE_BOOL:
            buf[n++] = *static_cast<const uint8_t*>(value);
            break;
        case LQCRASH_PB_TYPE_STRING: {
            const char* s = static_cast<const char*>(value);
            dataLength = lqcrash_async_strlen(s);
            data = reinterpret_cast<const uint8_t*>(s);
            n += varint32(buf + n, static_cast<uint32_t>(dataLength));
            break;
        }
        case LQCRASH_PB_TYPE_BYTES: {
            const lqcrash_pb_bytes* b = static_cast<const lqcrash_pb_bytes*>(value);
            dataLength = b->len;
            data = b->data;
            n += varint32(buf + n, static_cast<uint32_t>(dataLength));
            break;
        }
        case LQCRASH_PB_TYPE_MESSAGE: {
            uint32_t length;
            lqcrash_async_memcpy(&length, value, 4);
            n += varint32(buf + n, length);
            break;
        }
        default:
            std::abort();
    }
    if (file) {
        DVlqcrash_async_file_write(file, buf, n);
        if (dataLength > 0) DVlqcrash_async_file_write(file, data, dataLength);
    }
    return n + dataLength;
}

// ---- The writer record ---------------------------------------------------------------

lqcrash_error_t DVlqcrash_log_writer_init(lqcrash_log_writer_t* writer, const char* app_identifier,
                                          const char* app_version, const char* app_marketing_version,
                                          uint32_t symbol_strategy, bool user_requested) {
    std::memset(writer, 0, sizeof(*writer));
    writer->symbol_strategy = symbol_strategy;
    writer->user_requested = user_requested;

    if (::getrandom(writer->report_uuid, sizeof(writer->report_uuid), 0) != sizeof(writer->report_uuid)) {
        int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t got = ::read(fd, writer->report_uuid, sizeof(writer->report_uuid));
            (void)got;
            ::close(fd);
        }
    }
    writer->report_uuid[6] = static_cast<uint8_t>((writer->report_uuid[6] & 0x0F) | 0x40);
    writer->report_uuid[8] = static_cast<uint8_t>((writer->report_uuid[8] & 0x3F) | 0x80);

    writer->application_info.app_identifier = copy_string(app_identifier);
    writer->application_info.app_version = copy_string(app_version);
    if (app_marketing_version) writer->application_info.app_marketing_version = copy_string(app_marketing_version);

    lqcrash_process_record self;
    if (!lqcrash_process_record_read(::getpid(), &self)) return LQCRASH_EINVAL;
    auto& p = writer->process_info;
    p.process_id = static_cast<uint32_t>(self.process_id);
    if (self.has_name) p.process_name = copy_string(self.name);
    p.start_time = static_cast<uint64_t>(self.start_seconds);
    uint32_t pathSize = 0;
    _NSGetExecutablePath(nullptr, &pathSize);
    if (pathSize > 0) {
        char* path = static_cast<char*>(std::malloc(pathSize));
        if (path && _NSGetExecutablePath(path, &pathSize) == 0) {
            p.process_path.bytes = path;
            p.process_path.length = pathSize;  // with the terminating zero
        } else {
            std::free(path);
        }
    }
    p.parent_process_id = static_cast<uint32_t>(self.parent_process_id);
    lqcrash_process_record parent;
    if (lqcrash_process_record_read(self.parent_process_id, &parent) && parent.has_name) {
        p.parent_process_name = copy_string(parent.name);
    }

    auto& m = writer->machine_info;
    char* model = DVlqcrash_sysctl_string("hw.model");
    if (model) {
        m.model.bytes = model;
        m.model.length = std::strlen(model);
    }
    int32_t value = 0;
    if (DVlqcrash_sysctl_int("hw.cputype", &value)) m.cpu_type = static_cast<uint64_t>(static_cast<int64_t>(value));
    if (DVlqcrash_sysctl_int("hw.cpusubtype", &value)) m.cpu_subtype = static_cast<uint64_t>(static_cast<int64_t>(value));
    if (DVlqcrash_sysctl_int("hw.physicalcpu_max", &value)) m.processor_count = static_cast<uint32_t>(value);
    if (DVlqcrash_sysctl_int("hw.logicalcpu_max", &value)) m.logical_processor_count = static_cast<uint32_t>(value);
    int32_t native = 1;
    p.native = !(DVlqcrash_sysctl_int("sysctl.proc_native", &native) && native == 0);

    char* build = DVlqcrash_sysctl_string("kern.osversion");
    if (build) {
        writer->system_info.build.bytes = build;
        writer->system_info.build.length = std::strlen(build);
    }
    // The system's own version text, as every other part of the program
    // reports it; the numbers only when the system gives none.
    char* productVersion = DVlqcrash_sysctl_string("kern.osproductversion");
    if (productVersion) {
        writer->system_info.version.bytes = productVersion;
        writer->system_info.version.length = std::strlen(productVersion);
    } else {
        mach::OperatingSystemVersion v = mach::operatingSystemVersion();
        char version[64];
        int n = std::snprintf(version, sizeof(version), "%ld.%ld", v.majorVersion, v.minorVersion);
        if (v.patchVersion > 0 && n > 0 && static_cast<size_t>(n) < sizeof(version)) {
            std::snprintf(version + n, sizeof(version) - static_cast<size_t>(n), ".%ld", v.patchVersion);
        }
        writer->system_info.version = copy_string(version);
    }
    return LQCRASH_ESUCCESS;
}

void DVlqcrash_log_writer_set_exception(lqcrash_log_writer_t* writer, const ns::NSException& exception) {
    if (writer->uncaught_exception.has_exception) {
        std::fprintf(stderr, "Assertion failed: writer->uncaught_exception.has_exception == false\n");
        std::abort();
    }
    auto& e = writer->uncaught_exception;
    e.has_exception = true;
    e.name = strdup(exception.name().c_str());
    e.reason = strdup(exception.reason() ? exception.reason()->c_str() : "");
    std::vector<uint64_t> stack = exception.callStackReturnAddresses();
    if (!stack.empty()) {
        e.callstack = static_cast<uint64_t*>(std::malloc(stack.size() * sizeof(uint64_t)));
        if (e.callstack) {
            for (size_t i = 0; i < stack.size(); ++i) e.callstack[i] = stack[i];
            e.callstack_count = stack.size();
        }
    }
}

void DVlqcrash_log_writer_set_custom_data(lqcrash_log_writer_t* writer, const uint8_t* bytes, size_t length) {
    lqcrash_custom_data_block* fresh = nullptr;
    if (bytes) {
        fresh = static_cast<lqcrash_custom_data_block*>(std::malloc(sizeof(lqcrash_custom_data_block) + length));
        if (fresh) {
            fresh->length = length;
            fresh->retired_next = nullptr;
            if (length > 0) std::memcpy(fresh + 1, bytes, length);
        }
    }
    // Swap first, then look for readers: a report that starts reading after
    // the swap sees the new block, one counted before it may hold the old.
    lqcrash_custom_data_block* old = __atomic_exchange_n(&writer->custom_data.block, fresh, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&writer->custom_data.readers, __ATOMIC_SEQ_CST) == 0) {
        std::free(old);
        free_custom_data_list(__atomic_exchange_n(&writer->custom_data.retired, nullptr, __ATOMIC_SEQ_CST));
    } else if (old) {
        old->retired_next = __atomic_load_n(&writer->custom_data.retired, __ATOMIC_SEQ_CST);
        while (!__atomic_compare_exchange_n(&writer->custom_data.retired, &old->retired_next, old, false,
                                            __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
        }
    }
}

const lqcrash_custom_data_block* lqcrash_log_writer_custom_data_begin(lqcrash_log_writer_t* writer) {
    __atomic_add_fetch(&writer->custom_data.readers, 1, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&writer->custom_data.block, __ATOMIC_SEQ_CST);
}

void lqcrash_log_writer_custom_data_end(lqcrash_log_writer_t* writer) {
    __atomic_sub_fetch(&writer->custom_data.readers, 1, __ATOMIC_SEQ_CST);
}

lqcrash_error_t DVlqcrash_log_writer_write(lqcrash_log_writer_t* writer, thread_t crashed_thread,
                                           lqcrash_async_image_list* image_list, lqcrash_async_file_t* file,
                                           lqcrash_log_signal_info_t* siginfo,
                                           const lqcrash_async_thread_state* current_state) {
    task_t task = mach_task_self();
    thread_t self = pl_mach_thread_self();
    thread_act_array_t threads = nullptr;
    mach_msg_type_number_t threadCount = 0;
    thread_t known[2];
    bool listed = task_threads(task, &threads, &threadCount) == KERN_SUCCESS && threadCount > 0;
    if (!listed) {
        // Without the task's list, the threads the handler knows of: the
        // crashed one and the calling one.
        threads = known;
        threadCount = 0;
        if (MACH_PORT_VALID(crashed_thread)) known[threadCount++] = crashed_thread;
        if (current_state && crashed_thread != self) known[threadCount++] = self;
    }
    // Every thread is asked to stop before any is waited for, so threads
    // that never answer share one bounded wait instead of one each.
    const int64_t deadline = mach::threadSuspensionDeadline();
    for (mach_msg_type_number_t i = 0; i < threadCount; ++i) {
        if (threads[i] != self) mach::requestThreadSuspension(threads[i], deadline);
    }
    for (mach_msg_type_number_t i = 0; i < threadCount; ++i) {
        if (threads[i] != self) mach::awaitThreadSuspension(threads[i], deadline);
    }
    lqcrash_async_file_progress(file);

    const lqcrash_custom_data_block* custom = lqcrash_log_writer_custom_data_begin(writer);
    // Nothing removed from the image list is reused until the report is done.
    lqcrash_async_image_list_set_reading(image_list, true);
    lqcrash_async_objc_cache cache;
    lqcrash_async_objc_cache_init(&cache);
    // Each page the report reads (stacks, unwind tables, symbols) comes from
    // the kernel once; without the cache (not reserved, or another report
    // holds it) every read goes to the kernel.
    const bool pageCache = mach::takePageCache();

    DVlqcrash_async_file_write(file, "lqcrash", 7);
    uint8_t version = 1;
    DVlqcrash_async_file_write(file, &version, 1);

    time_t now = ::time(nullptr);
    int64_t timestamp = now == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(now);

    auto reportInfo = [&](lqcrash_async_file_t* f) { return write_report_info(f, writer); };
    auto systemInfo = [&](lqcrash_async_file_t* f) { return write_system_info(f, writer, timestamp); };
    auto machineInfo = [&](lqcrash_async_file_t* f) { return write_machine_info(f, writer); };
    auto appInfo = [&](lqcrash_async_file_t* f) { return write_app_info(f, writer); };
    auto processInfo = [&](lqcrash_async_file_t* f) { return write_process_info(f, writer); };
    auto signal = [&](lqcrash_async_file_t* f) { return write_signal(f, siginfo); };

    // The budget: what always goes whole comes off the file's limit first;
    // then the crashed thread (at most half of what is left), the images,
    // the exception, the custom data (whole or not at all), and the other
    // threads share the rest. Every thread keeps at least its number.
    size_t room = SIZE_MAX / 4;
    if (file->limit_bytes > 0) {
        int64_t left = file->limit_bytes - file->total_bytes;
        room = left > 0 ? static_cast<size_t>(left) : 0;
    }
    size_t fixed = 8 + pack_message(nullptr, kReportReportInfo, reportInfo) +
                   pack_message(nullptr, kReportSystemInfo, systemInfo) +
                   pack_message(nullptr, kReportMachineInfo, machineInfo) +
                   pack_message(nullptr, kReportApplicationInfo, appInfo) +
                   pack_message(nullptr, kReportProcessInfo, processInfo) +
                   pack_message(nullptr, kReportSignal, signal);
    room = room > fixed ? room - fixed : 0;
    auto leftOf = [&](size_t used) { return room > used ? room - used : 0; };

    auto isWritten = [&](thread_t t) { return t != self || current_state != nullptr; };
    uint32_t others = 0;
    for (mach_msg_type_number_t i = 0; i < threadCount; ++i) {
        if (isWritten(threads[i]) && threads[i] != crashed_thread) ++others;
    }
    const size_t threadFloor = field_size(kReportThreads, kThreadNumberBytes);
    if (others > 0 && threadFloor * others > room / 4) others = static_cast<uint32_t>(room / 4 / threadFloor);
    const size_t othersFloor = threadFloor * others;

    lqcrash_async_macho* firstImage = lqcrash_async_image_list_next(image_list, nullptr);
    size_t imageFloor = firstImage ? image_field_size(firstImage) : 0;

    // The crashed thread, numbered as the loop below will number it.
    thread_frames crashedStack;
    crashedStack.count = 0;
    crashedStack.register_count = 0;
    uint32_t crashedFrames = 0;
    size_t crashedBody = 0;
    size_t crashedUsed = 0;
    {
        uint32_t number = 0;
        uint32_t othersSeen = 0;
        for (mach_msg_type_number_t i = 0; i < threadCount; ++i) {
            thread_t thread = threads[i];
            if (!isWritten(thread)) continue;
            if (thread != crashed_thread) {
                if (othersSeen < others) ++othersSeen, ++number;
                continue;
            }
            size_t most = leftOf(othersFloor + imageFloor);
            if (most > room / 2) most = room / 2;
            collect_frames(task, thread, thread == self ? current_state : nullptr, image_list, true, &crashedStack);
            crashedBody = write_thread(nullptr, writer, number, true, crashedStack, image_list, &cache,
                                       LQCRASH_MAX_FRAMES, body_within(most), &crashedFrames);
            crashedUsed = field_size(kReportThreads, crashedBody);
            break;
        }
    }

    // Images, in list order; the first one always (a report needs one).
    uint32_t imageCount = 0;
    size_t imagesUsed = 0;
    {
        size_t most = leftOf(crashedUsed + othersFloor);
        for (lqcrash_async_macho* image = firstImage; image; image = lqcrash_async_image_list_next(image_list, image)) {
            size_t n = image_field_size(image);
            if (imageCount > 0 && imagesUsed + n > most) break;
            imagesUsed += n;
            ++imageCount;
        }
    }

    // The exception: its name and reason, cut when they are very long, then
    // as many of its frames as fit.
    exception_plan exception{};
    size_t exceptionBody = 0;
    size_t exceptionUsed = 0;
    if (writer->uncaught_exception.has_exception) {
        auto& e = writer->uncaught_exception;
        size_t most = leftOf(crashedUsed + imagesUsed + othersFloor);
        size_t text = (most > 32 ? most - 32 : 0) / 2;
        if (text > kMaxExceptionText) text = kMaxExceptionText;
        const char* name = e.name ? e.name : "";
        const char* reason = e.reason ? e.reason : "";
        exception.name_length = utf8_prefix(name, lqcrash_async_strlen(name), text);
        exception.reason_length = utf8_prefix(reason, lqcrash_async_strlen(reason), text);
        exceptionBody = write_exception(nullptr, writer, image_list, &cache, exception);
        if (field_size(kReportException, exceptionBody) <= most) {
            size_t count = e.callstack_count < LQCRASH_MAX_FRAMES ? e.callstack_count : LQCRASH_MAX_FRAMES;
            for (size_t i = 0; i < count; ++i) {
                uint64_t pc = e.callstack[i];
                size_t n = pack_message(nullptr, 3, [&](lqcrash_async_file_t* f) {
                    return write_frame(f, writer, pc, true, image_list, &cache);
                });
                if (field_size(kReportException, exceptionBody + n) > most) break;
                exceptionBody += n;
                ++exception.frames;
            }
            exceptionUsed = field_size(kReportException, exceptionBody);
        }
    }

    bool customFits = custom && field_size(kReportCustomData, custom->length) <=
                                    leftOf(crashedUsed + imagesUsed + exceptionUsed + othersFloor);
    size_t customUsed = customFits ? field_size(kReportCustomData, custom->length) : 0;
    size_t pool = leftOf(crashedUsed + imagesUsed + exceptionUsed + customUsed);

    pack_message(file, kReportReportInfo, reportInfo);
    pack_message(file, kReportSystemInfo, systemInfo);
    pack_message(file, kReportMachineInfo, machineInfo);
    pack_message(file, kReportApplicationInfo, appInfo);
    pack_message(file, kReportProcessInfo, processInfo);

    uint32_t number = 0;
    uint32_t othersLeft = others;
    thread_frames otherStack;
    for (mach_msg_type_number_t i = 0; i < threadCount; ++i) {
        thread_t thread = threads[i];
        if (!isWritten(thread)) continue;
        bool crashed = thread == crashed_thread;
        if (!crashed && othersLeft == 0) continue;
        const thread_frames* stack = &crashedStack;
        uint32_t frames = crashedFrames;
        size_t body = crashedBody;
        if (!crashed) {
            size_t share = pool / othersLeft;
            collect_frames(task, thread, thread == self ? current_state : nullptr, image_list, false, &otherStack);
            stack = &otherStack;
            body = write_thread(nullptr, writer, number, false, otherStack, image_list, &cache, LQCRASH_MAX_FRAMES,
                                body_within(share), &frames);
            size_t used = field_size(kReportThreads, body);
            pool = pool > used ? pool - used : 0;
            --othersLeft;
        }
        uint32_t size = static_cast<uint32_t>(body);
        lqcrash_writer_pack(file, kReportThreads, LQCRASH_PB_TYPE_MESSAGE, &size);
        uint32_t written = 0;
        write_thread(file, writer, number, crashed, *stack, image_list, &cache, frames, SIZE_MAX, &written);
        ++number;
    }

    uint32_t imagesLeft = imageCount;
    for (lqcrash_async_macho* image = firstImage; image && imagesLeft > 0;
         image = lqcrash_async_image_list_next(image_list, image), --imagesLeft) {
        pack_message(file, kReportBinaryImages, [&](lqcrash_async_file_t* f) { return write_binary_image(f, image); });
    }

    if (exceptionUsed > 0) {
        uint32_t size = static_cast<uint32_t>(exceptionBody);
        lqcrash_writer_pack(file, kReportException, LQCRASH_PB_TYPE_MESSAGE, &size);
        write_exception(file, writer, image_list, &cache, exception);
    }

    pack_message(file, kReportSignal, signal);

    if (customFits) {
        lqcrash_pb_bytes data{custom->length, custom->bytes()};
        lqcrash_writer_pack(file, kReportCustomData, LQCRASH_PB_TYPE_BYTES, &data);
    }

    if (pageCache) mach::releasePageCache();
    lqcrash_async_objc_cache_free(&cache);
    lqcrash_async_image_list_set_reading(image_list, false);
    lqcrash_log_writer_custom_data_end(writer);
    for (mach_msg_type_number_t i = 0; i < threadCount; ++i) {
        if (threads[i] != self) thread_resume(threads[i]);
        if (listed) mach_port_deallocate(task, threads[i]);
    }
    if (listed) vm_deallocate(task, reinterpret_cast<vm_address_t>(threads), threadCount * sizeof(thread_t));
    return file->failed ? LQCRASH_OUTPUT_ERR : LQCRASH_ESUCCESS;
}

lqcrash_error_t DVlqcrash_log_writer_close(lqcrash_log_writer_t*) { return LQCRASH_ESUCCESS; }

void DVlqcrash_log_writer_free(lqcrash_log_writer_t* writer) {
    free_string(&writer->system_info.version);
    free_string(&writer->system_info.build);
    free_string(&writer->machine_info.model);
    free_string(&writer->application_info.app_identifier);
    free_string(&writer->application_info.app_version);
    free_string(&writer->application_info.app_marketing_version);
    free_string(&writer->process_info.process_name);
    free_string(&writer->process_info.process_path);
    free_string(&writer->process_info.parent_process_name);
    if (writer->uncaught_exception.has_exception) {
        std::free(writer->uncaught_exception.name);
        std::free(writer->uncaught_exception.reason);
        std::free(writer->uncaught_exception.callstack);
    }
    writer->uncaught_exception = {};
    std::free(writer->custom_data.block);
    free_custom_data_list(writer->custom_data.retired);
    writer->custom_data = {};
}
