// The report writer: protobuf encoding, the buffered output file and its
// limit, and whole reports written live and decoded again with protobuf-c.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "LQCrashReporter/Source/LQCrashLogWriter.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "LQCrashReporter/lqcrash.pb-c.h"
#include "LQCrashReporter/Source/tests/CrashTestSupport.h"
#include "platform/foundation/TestSupport.h"
#include "platform/machcompat/MachThread.h"
#include "platform/machcompat/Sysctl.h"

namespace {

// Collects what a descriptor receives.
class Pipe {
public:
    Pipe() { EXPECT_EQ(0, pipe(fds_)); }
    ~Pipe() {
        close(fds_[0]);
        if (fds_[1] >= 0) close(fds_[1]);
    }
    int writeEnd() const { return fds_[1]; }
    std::vector<uint8_t> drain() {
        close(fds_[1]);
        fds_[1] = -1;
        std::vector<uint8_t> out;
        uint8_t buf[4096];
        ssize_t n;
        while ((n = read(fds_[0], buf, sizeof(buf))) > 0) out.insert(out.end(), buf, buf + n);
        return out;
    }

private:
    int fds_[2] = {-1, -1};
};

std::vector<uint8_t> packed(uint32_t field, int type, const void* value) {
    Pipe p;
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, p.writeEnd(), 0);
    size_t n = lqcrash_writer_pack(&file, field, type, value);
    EXPECT_EQ(n, lqcrash_writer_pack(nullptr, field, type, value));  // the size pass agrees
    DVlqcrash_async_file_flush(&file);
    std::vector<uint8_t> out = p.drain();
    EXPECT_EQ(n, out.size());
    return out;
}

TEST(LQCrashWriterEncoding, FieldsAsProtobufEncodesThem) {
    int32_t minusOne = -1;
    EXPECT_EQ((std::vector<uint8_t>{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
              packed(1, LQCRASH_PB_TYPE_INT32, &minusOne));
    int32_t s = -2;
    EXPECT_EQ((std::vector<uint8_t>{0x10, 0x03}), packed(2, LQCRASH_PB_TYPE_SINT32, &s));
    uint64_t big = 300;
    EXPECT_EQ((std::vector<uint8_t>{0x18, 0xAC, 0x02}), packed(3, LQCRASH_PB_TYPE_UINT64, &big));
    uint32_t fixed = 0x01020304;
    EXPECT_EQ((std::vector<uint8_t>{0x25, 0x04, 0x03, 0x02, 0x01}), packed(4, LQCRASH_PB_TYPE_FIXED32, &fixed));
    bool yes = true;
    EXPECT_EQ((std::vector<uint8_t>{0x28, 0x01}), packed(5, LQCRASH_PB_TYPE_BOOL, &yes));
    EXPECT_EQ((std::vector<uint8_t>{0x32, 0x02, 'h', 'i'}), packed(6, LQCRASH_PB_TYPE_STRING, "hi"));
    const uint8_t raw[] = {0, 1};
    lqcrash_pb_bytes b{2, raw};
    EXPECT_EQ((std::vector<uint8_t>{0x3A, 0x02, 0x00, 0x01}), packed(7, LQCRASH_PB_TYPE_BYTES, &b));
    uint32_t length = 200;
    EXPECT_EQ((std::vector<uint8_t>{0x42, 0xC8, 0x01}), packed(8, LQCRASH_PB_TYPE_MESSAGE, &length));
    uint32_t e = 1;
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0x01, 0x01}), packed(16, LQCRASH_PB_TYPE_ENUM, &e));
}

TEST(LQCrashWriterOutputFile, BuffersUpTo256BytesAndHonoursItsLimit) {
    Pipe p;
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, p.writeEnd(), 0);
    std::vector<uint8_t> chunk(256, 'a');
    ASSERT_TRUE(DVlqcrash_async_file_write(&file, chunk.data(), chunk.size()));
    EXPECT_EQ(256u, file.buflen);  // exactly full: still buffered
    std::vector<uint8_t> bigger(257, 'b');
    ASSERT_TRUE(DVlqcrash_async_file_write(&file, bigger.data(), bigger.size()));
    EXPECT_EQ(0u, file.buflen);  // the buffer went out, then 257 bytes straight to the descriptor
    ASSERT_TRUE(DVlqcrash_async_file_flush(&file));
    std::vector<uint8_t> out = p.drain();
    ASSERT_EQ(513u, out.size());
    EXPECT_EQ('a', out[255]);
    EXPECT_EQ('b', out[256]);

    Pipe q;
    DVlqcrash_async_file_init(&file, q.writeEnd(), LQCRASH_REPORT_MAX_BYTES);
    file.total_bytes = LQCRASH_REPORT_MAX_BYTES - 10;
    std::vector<uint8_t> eleven(11, 'c');
    EXPECT_FALSE(DVlqcrash_async_file_write(&file, eleven.data(), eleven.size()));  // would end at byte 262,145
    EXPECT_EQ(LQCRASH_REPORT_MAX_BYTES - 10, file.total_bytes);
    EXPECT_TRUE(DVlqcrash_async_file_write(&file, eleven.data(), 10));  // smaller writes still pass
}

// One top-level field of a message: its number, its wire type and, when it
// is length-delimited, its bytes.
struct TopLevelField {
    uint32_t number;
    uint64_t wireType;
    const uint8_t* bytes = nullptr;
    size_t length = 0;
};

// The top-level fields of a message, in order, up to and including the first
// of a wire type it cannot skip.
std::vector<TopLevelField> topLevelFields(const uint8_t* p, size_t len) {
    std::vector<TopLevelField> fields;
    size_t i = 0;
    auto varint = [&](uint64_t* v) {
        *v = 0;
        for (int shift = 0; i < len; shift += 7) {
            uint8_t b = p[i++];
            *v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    };
    while (i < len) {
        uint64_t key, v;
        if (!varint(&key)) break;
        TopLevelField field{static_cast<uint32_t>(key >> 3), key & 7};
        switch (key & 7) {
            case 0: varint(&v); break;
            case 1: i += 8; break;
            case 5: i += 4; break;
            case 2:
                varint(&v);
                field.bytes = p + i;
                field.length = static_cast<size_t>(v);
                i += v;
                break;
            default: fields.push_back(field); return fields;
        }
        fields.push_back(field);
    }
    return fields;
}

// Field numbers, in order, of a message's top level.
std::vector<uint32_t> fieldOrder(const uint8_t* p, size_t len) {
    std::vector<uint32_t> fields;
    for (const auto& field : topLevelFields(p, len)) fields.push_back(field.number);
    return fields;
}

// The length-delimited top-level fields of a message: (field, (bytes, length)).
std::vector<std::pair<uint32_t, std::pair<const uint8_t*, size_t>>> lengthDelimited(const uint8_t* p, size_t len) {
    std::vector<std::pair<uint32_t, std::pair<const uint8_t*, size_t>>> out;
    for (const auto& field : topLevelFields(p, len)) {
        if (field.wireType == 2) out.push_back({field.number, {field.bytes, field.length}});
    }
    return out;
}

class LQCrashLiveReports : public ::testing::Test {
protected:
    void SetUp() override {
        reporter_ = DVLQCrashReporter::initWithApplicationIdentifier(
            "com.morvalent.tests", "42", std::string("4.2"),
            DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerTypeBSD,
                                                               DVLQCrashReporterSymbolicationStrategyAll));
    }
    DVLQCrashReporter::Ptr reporter_;
};

TEST_F(LQCrashLiveReports, ALiveReportOfTheCallingThreadDecodes) {
    ns::test::ScopedPathsRoot root;
    reporter_->setCustomData(ns::Data{1, 2, 3});
    ns::Error error;
    std::optional<ns::Data> data = reporter_->generateLiveReportAndReturnError(&error);
    ASSERT_TRUE(data) << error.description();
    ASSERT_GT(data->size(), 8u);
    EXPECT_EQ(0, std::memcmp(data->data(), "lqcrash\x01", 8));

    Lqcrash__CrashReport* raw = lqcrash__crash_report__unpack(nullptr, data->size() - 8, data->data() + 8);
    ASSERT_TRUE(raw);
    ASSERT_TRUE(raw->report_info);
    EXPECT_TRUE(raw->report_info->user_requested);
    EXPECT_EQ(16u, raw->report_info->uuid.len);
    ASSERT_TRUE(raw->process_info);
    ASSERT_TRUE(raw->process_info->process_path);
    // The path was written with its terminating zero.
    EXPECT_EQ(std::string::npos, std::string(raw->process_info->process_path).find('\0'));
    EXPECT_FALSE(raw->exception);
    EXPECT_FALSE(raw->signal->mach_exception);
    lqcrash__crash_report__free_unpacked(raw, nullptr);

    auto report = DVLQCrashReport::initWithData(*data, &error);
    ASSERT_TRUE(report) << error.description();
    EXPECT_EQ("SIGTRAP", report->signalInfo()->name());
    EXPECT_EQ("TRAP_TRACE", report->signalInfo()->code());
    EXPECT_EQ("com.morvalent.tests", report->applicationInfo()->applicationIdentifier());
    EXPECT_EQ("4.2", *report->applicationInfo()->applicationMarketingVersion());
    EXPECT_EQ(ns::Data({1, 2, 3}), *report->customData());
    ASSERT_TRUE(report->uuidRef());
    int crashed = 0;
    for (const auto& t : report->threads()) {
        if (!t->crashed()) continue;
        ++crashed;
        EXPECT_FALSE(t->stackFrames().empty());
        // The host's own registers, under their own names.
#if defined(__x86_64__)
        ASSERT_EQ(21u, t->registers().size());
        EXPECT_EQ("rip", t->registers()[0]->registerName());
        EXPECT_EQ("rax", t->registers()[3]->registerName());
        EXPECT_EQ("gs", t->registers()[20]->registerName());
#else
        ASSERT_EQ(34u, t->registers().size());
        EXPECT_EQ("pc", t->registers()[0]->registerName());
#endif
        EXPECT_EQ(t->stackFrames()[0]->instructionPointer(), t->registers()[0]->registerValue());
    }
    EXPECT_EQ(1, crashed);
    EXPECT_FALSE(report->images().empty());
    EXPECT_TRUE(report->images()[0]->hasImageUUID());
    ASSERT_TRUE(report->hasProcessInfo());
    EXPECT_EQ(static_cast<uint64_t>(getpid()), report->processInfo()->processID());
    EXPECT_TRUE(report->processInfo()->native());
}

__attribute__((noinline)) std::optional<ns::Data> deepReport(DVLQCrashReporter& reporter, int depth) {
    if (depth > 0) {
        auto r = deepReport(reporter, depth - 1);
        asm volatile("" ::: "memory");
        return r;
    }
    return reporter.generateLiveReport();
}

TEST_F(LQCrashLiveReports, ThreadsAreCutAt512FramesWithRegistersFirst) {
    std::optional<ns::Data> data = deepReport(*reporter_, 600);
    ASSERT_TRUE(data);
    Lqcrash__CrashReport* raw = lqcrash__crash_report__unpack(nullptr, data->size() - 8, data->data() + 8);
    ASSERT_TRUE(raw);
    const Lqcrash__CrashReport__Thread* crashed = nullptr;
    for (size_t i = 0; i < raw->n_threads; ++i) {
        if (raw->threads[i]->crashed) crashed = raw->threads[i];
    }
    ASSERT_TRUE(crashed);
    EXPECT_EQ(512u, crashed->n_frames);
    // The field order as written: find the crashed thread in the raw bytes.
    std::vector<uint32_t> order;
    for (const auto& [field, body] : lengthDelimited(data->data() + 8, data->size() - 8)) {
        if (field != 3) continue;
        std::vector<uint32_t> fields = fieldOrder(body.first, body.second);
        if (std::find(fields.begin(), fields.end(), 4u) != fields.end()) order = fields;
    }
    ASSERT_FALSE(order.empty());
    auto firstFrame = std::find(order.begin(), order.end(), 2u) - order.begin();
    auto lastRegister = order.rend() - std::find(order.rbegin(), order.rend(), 4u) - 1;
    EXPECT_LT(lastRegister, firstFrame);
    lqcrash__crash_report__free_unpacked(raw, nullptr);
}

TEST_F(LQCrashLiveReports, AThreadWhoseRegistersCannotBeReadKeepsItsNumberOnly) {
    // A thread that never answers the suspension request: its registers
    // can't be read, so it is written with its number and crashed flag alone.
    mach::setSuspendTimeoutMilliseconds(50);
    std::promise<void> ready;
    std::promise<void> done;
    std::shared_future<void> finished = done.get_future().share();
    std::thread deaf([&ready, finished] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, mach::suspendSignal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        ready.set_value();
        finished.wait();
    });
    ready.get_future().wait();
    std::optional<ns::Data> data = reporter_->generateLiveReport();
    done.set_value();
    deaf.join();
    mach::setSuspendTimeoutMilliseconds(500);
    ASSERT_TRUE(data);

    int bare = 0;
    uint32_t expectedNumber = 0;
    for (const auto& [field, body] : lengthDelimited(data->data() + 8, data->size() - 8)) {
        if (field != 3) continue;
        std::vector<TopLevelField> fields = topLevelFields(body.first, body.second);
        ASSERT_GE(fields.size(), 2u);
        EXPECT_EQ(1u, fields[0].number);
        EXPECT_EQ(3u, fields[1].number);
        if (fields.size() == 2) ++bare;
        ++expectedNumber;
    }
    EXPECT_GE(bare, 1);
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(*data, &error);
    ASSERT_TRUE(report) << error.description();
    ASSERT_EQ(expectedNumber, report->threads().size());
    for (uint32_t i = 0; i < expectedNumber; ++i) EXPECT_EQ(i, report->threads()[i]->threadNumber());
}

// Writes one report with the given signal and image list into path.
void writeReport(lqcrash_log_writer_t* writer, const std::string& path, lqcrash_log_signal_info_t* siginfo,
                 lqcrash_async_image_list* images) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, fd, LQCRASH_REPORT_MAX_BYTES);
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_write(writer, MACH_PORT_NULL, images, &file, siginfo, nullptr));
    ASSERT_TRUE(DVlqcrash_async_file_close(&file));
}

TEST(LQCrashWriterRecord, UnknownValuesAreLeftOutOrWrittenAsNumbers) {
    ns::test::TemporaryDirectory dir;
    int32_t translated = 0;
    mach::setSysctlUnavailable("hw.model");
    mach::setSysctlOverride("sysctl.proc_native", &translated, sizeof(translated));
    lqcrash_log_writer_t writer;
    lqcrash_error_t init = DVlqcrash_log_writer_init(&writer, "id", "1", "1.0", 0, false);
    mach::clearSysctlOverrides();
    ASSERT_EQ(LQCRASH_ESUCCESS, init);
    EXPECT_EQ(nullptr, writer.machine_info.model.bytes);
    EXPECT_FALSE(writer.process_info.native);

    // An image without an LC_UUID command, in a task of its own.
    task_t task = mach::fakeTaskCreate();
    lqtest::SyntheticImageOptions options;
    options.uuid = false;
    std::vector<uint8_t> image = lqtest::syntheticMachO(options);
    const uint64_t header = 0x300000;
    ASSERT_TRUE(mach::fakeTaskMap(task, header, image.data(), image.size()));
    lqcrash_async_image_list images;
    lqcrash_image_list_init(&images, task);
    ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_image_list_append(&images, header, "/usr/lib/libnouuid.dylib"));

    // SIGABRT with code 0 has a name for its code that is a number.
    lqcrash_log_bsd_signal_info_t bsd = {6, 0, 0};
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    std::string path = dir.file("report");
    writeReport(&writer, path, &siginfo, &images);
    DVlqcrash_log_writer_free(&writer);
    lqcrash_image_list_free(&images);
    mach::fakeTaskDestroy(task);

    ns::Data data = lqtest::readFile(path);
    Lqcrash__CrashReport* raw = lqcrash__crash_report__unpack(nullptr, data.size() - 8, data.data() + 8);
    ASSERT_TRUE(raw);
    EXPECT_STREQ("SIGABRT", raw->signal->name);
    EXPECT_STREQ("#0", raw->signal->code);
    ASSERT_TRUE(raw->machine_info);
    EXPECT_EQ(nullptr, raw->machine_info->model);
    EXPECT_FALSE(raw->process_info->native);
    ASSERT_EQ(1u, raw->n_binary_images);
    EXPECT_FALSE(raw->binary_images[0]->has_uuid);
    EXPECT_EQ(header, raw->binary_images[0]->base_address);
    EXPECT_EQ(0x1000u, raw->binary_images[0]->size);
    EXPECT_STREQ("/usr/lib/libnouuid.dylib", raw->binary_images[0]->name);
    ASSERT_TRUE(raw->binary_images[0]->code_type);
    EXPECT_EQ(static_cast<uint64_t>(CPU_TYPE_ARM64), raw->binary_images[0]->code_type->type);
    lqcrash__crash_report__free_unpacked(raw, nullptr);

    // Field order inside the sections: system info 1, 2, 5, 3, 4; images 2, 1, 3, 5.
    for (const auto& [field, body] : lengthDelimited(data.data() + 8, data.size() - 8)) {
        std::vector<uint32_t> order = fieldOrder(body.first, body.second);
        if (field == 1) {
            EXPECT_EQ((std::vector<uint32_t>{1, 2, 5, 3, 4}), order);
        } else if (field == 4) {
            EXPECT_EQ((std::vector<uint32_t>{2, 1, 3, 5}), order);
        } else if (field == 8) {
            EXPECT_EQ((std::vector<uint32_t>{2, 3, 4}), order);
        }
    }
}

TEST(LQCrashWriterRecord, ExceptionSignalNamesAndTheWholeFileOrder) {
    ns::test::TemporaryDirectory dir;
    lqcrash_log_writer_t writer;
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false));
    EXPECT_EQ(nullptr, writer.application_info.app_marketing_version.bytes);
    EXPECT_EQ('\0', writer.process_info.process_path.bytes[writer.process_info.process_path.length - 1]);
    const ns::NSException exception("MyException", std::nullopt);
    DVlqcrash_log_writer_set_exception(&writer, exception);

    std::string path = dir.file("report");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, fd, LQCRASH_REPORT_MAX_BYTES);
    lqcrash_log_bsd_signal_info_t bsd = {99, -7, 0x10};
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    lqcrash_async_image_list empty;
    empty.task = mach_task_self();
    ASSERT_EQ(LQCRASH_ESUCCESS,
              DVlqcrash_log_writer_write(&writer, MACH_PORT_NULL, &empty, &file, &siginfo, nullptr));
    ASSERT_TRUE(DVlqcrash_async_file_close(&file));
    DVlqcrash_log_writer_free(&writer);

    ns::Data data = lqtest::readFile(path);
    Lqcrash__CrashReport* raw = lqcrash__crash_report__unpack(nullptr, data.size() - 8, data.data() + 8);
    ASSERT_TRUE(raw);
    EXPECT_STREQ("#99", raw->signal->name);
    EXPECT_STREQ("#-7", raw->signal->code);
    ASSERT_TRUE(raw->exception);
    EXPECT_STREQ("MyException", raw->exception->name);
    EXPECT_STREQ("", raw->exception->reason);
    EXPECT_EQ(exception.callStackReturnAddresses().size(), raw->exception->n_frames);
    EXPECT_STREQ("", raw->application_info->marketing_version);  // always written, empty
    EXPECT_FALSE(raw->has_custom_data);
    // The calling thread has no saved state: it is left out, the others are there.
    for (size_t i = 0; i < raw->n_threads; ++i) EXPECT_EQ(i, raw->threads[i]->thread_number);
    lqcrash__crash_report__free_unpacked(raw, nullptr);

    // Sections in the order written: 9, 1, 8, 2, 7, threads, exception, signal.
    std::vector<uint32_t> order = fieldOrder(data.data() + 8, data.size() - 8);
    ASSERT_GE(order.size(), 7u);
    EXPECT_EQ((std::vector<uint32_t>{9, 1, 8, 2, 7}), std::vector<uint32_t>(order.begin(), order.begin() + 5));
    EXPECT_EQ(6u, order.back());
    EXPECT_EQ(5u, order[order.size() - 2]);
}

// ---- Reports that would not fit, or could not be written -------------------------------

struct CurrentThreadWrite {
    lqcrash_log_writer_t* writer;
    lqcrash_async_image_list* images;
    lqcrash_async_file_t* file;
    thread_t crashed;
};

lqcrash_error_t writeFromHere(lqcrash_async_thread_state* state, void* context) {
    auto* w = static_cast<CurrentThreadWrite*>(context);
    lqcrash_log_bsd_signal_info_t bsd = {11, 1, 0x10};
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    return DVlqcrash_log_writer_write(w->writer, w->crashed, w->images, w->file, &siginfo, state);
}

// Writes a crash report of the calling thread, with its registers as the
// handler would have them, into path, limited as the driver limits it; the
// writer's result.
lqcrash_error_t writeCrashFromHere(lqcrash_log_writer_t* writer, lqcrash_async_image_list* images,
                                   const std::string& path, thread_t crashed = pl_mach_thread_self(),
                                   int64_t limit = LQCRASH_REPORT_MAX_BYTES) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, fd, limit);
    CurrentThreadWrite w = {writer, images, &file, crashed};
    lqcrash_error_t err = lqcrash_async_thread_state_current(writeFromHere, &w);
    DVlqcrash_async_file_close(&file);
    return err;
}

__attribute__((noinline)) void recurseThenWait(int depth, const std::shared_future<void>& release,
                                               std::atomic<int>* ready) {
    if (depth > 0) {
        recurseThenWait(depth - 1, release, ready);
        asm volatile("" ::: "memory");
        return;
    }
    ready->fetch_add(1);
    release.wait();
}

// Threads standing deep in their stacks until destroyed.
class DeepThreads {
public:
    DeepThreads(int count, int depth) : release_(done_.get_future().share()) {
        for (int i = 0; i < count; ++i) threads_.emplace_back(recurseThenWait, depth, release_, &ready_);
        while (ready_.load() < count) std::this_thread::yield();
    }
    ~DeepThreads() {
        done_.set_value();
        for (auto& t : threads_) t.join();
    }

private:
    std::promise<void> done_;
    std::shared_future<void> release_;
    std::atomic<int> ready_{0};
    std::vector<std::thread> threads_;
};

struct BudgetCase {
    const char* name;
    std::function<void(lqcrash_log_writer_t*)> arrange;
    std::function<void(const DVLQCrashReport&)> check;
    int deepThreads = 0;
    int images = 0;  // with long names, in a list of their own
    std::vector<int64_t> limits = {LQCRASH_REPORT_MAX_BYTES};
};

void writeAndDecodeWithinTheLimit(const BudgetCase& c, int64_t limit) {
    SCOPED_TRACE(limit);
    ns::test::TemporaryDirectory dir;
    lqcrash_log_writer_t writer;
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false));
    if (c.arrange) c.arrange(&writer);
    std::unique_ptr<DeepThreads> deep;
    if (c.deepThreads > 0) deep = std::make_unique<DeepThreads>(c.deepThreads, 600);
    task_t task = MACH_PORT_NULL;
    lqcrash_async_image_list ownImages;
    lqcrash_async_image_list* images = lqcrash_shared_image_list();
    if (c.images > 0) {
        task = mach::fakeTaskCreate();
        lqcrash_image_list_init(&ownImages, task);
        std::vector<uint8_t> image = lqtest::syntheticMachO();
        for (int i = 0; i < c.images; ++i) {
            uint64_t header = 0x10000000 + static_cast<uint64_t>(i) * 0x10000;
            ASSERT_TRUE(mach::fakeTaskMap(task, header, image.data(), image.size()));
            std::string name = "/images/" + std::to_string(i) + "/" + std::string(2000, 'n');
            ASSERT_EQ(LQCRASH_ESUCCESS, lqcrash_async_image_list_append(&ownImages, header, name.c_str()));
        }
        images = &ownImages;
    }
    EXPECT_EQ(LQCRASH_ESUCCESS, writeCrashFromHere(&writer, images, dir.file("report"), pl_mach_thread_self(), limit));
    deep.reset();
    if (c.images > 0) {
        lqcrash_image_list_free(&ownImages);
        mach::fakeTaskDestroy(task);
    }
    DVlqcrash_log_writer_free(&writer);

    ns::Data data = lqtest::readFile(dir.file("report"));
    EXPECT_LE(data.size(), static_cast<size_t>(limit));
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(data, &error);
    ASSERT_TRUE(report) << error.description();
    int crashed = 0;
    for (const auto& t : report->threads()) {
        if (!t->crashed()) continue;
        ++crashed;
        EXPECT_FALSE(t->stackFrames().empty());
        EXPECT_FALSE(t->registers().empty());
    }
    EXPECT_EQ(1, crashed);
    c.check(*report);
}

TEST(LQCrashWriterBudget, ReportsThatWouldPassTheLimitAreCutToFitAndDecode) {
    lqcrash_shared_image_list_setup();
    const std::string longReason(300000, 'r');
    std::string wideReason;
    for (int i = 0; i < 100000; ++i) wideReason += "\xC3\xA9";  // é
    const BudgetCase cases[] = {
        {"custom data larger than the limit",
         [](lqcrash_log_writer_t* w) {
             std::vector<uint8_t> big(300 * 1024, 0x5A);
             DVlqcrash_log_writer_set_custom_data(w, big.data(), big.size());
         },
         [](const DVLQCrashReport& r) { EXPECT_FALSE(r.customData()); }},
        {"deep stacks on many threads", nullptr,
         [](const DVLQCrashReport& r) {
             EXPECT_GT(r.threads().size(), 60u);
             size_t cut = 0;
             for (const auto& t : r.threads()) cut += t->stackFrames().size() < 512 && t->stackFrames().size() > 300;
             EXPECT_GT(cut, 0u);  // the deep ones lost their oldest frames
         },
         60},
        {"many images with long names", nullptr,
         [](const DVLQCrashReport& r) {
             EXPECT_GE(r.images().size(), 1u);
             EXPECT_LT(r.images().size(), 400u);
         },
         0, 400},
        {"a very long exception reason",
         [&longReason](lqcrash_log_writer_t* w) {
             std::vector<uint64_t> stack(600, 0x1234);
             DVlqcrash_log_writer_set_exception(w, ns::NSException("Big", longReason, stack));
         },
         [&longReason](const DVLQCrashReport& r) {
             ASSERT_TRUE(r.hasExceptionInfo());
             const std::string& reason = r.exceptionInfo()->exceptionReason();
             EXPECT_FALSE(reason.empty());
             EXPECT_LT(reason.size(), longReason.size());
             EXPECT_EQ(0u, longReason.find(reason));
             ASSERT_TRUE(r.exceptionInfo()->stackFrames());
             EXPECT_EQ(512u, r.exceptionInfo()->stackFrames()->size());
         }},
        // Limits a byte apart give odd budgets too: the reason still ends on a whole character.
        {"a very long reason of two-byte characters",
         [&](lqcrash_log_writer_t* w) { DVlqcrash_log_writer_set_exception(w, ns::NSException("Big", wideReason)); },
         [&](const DVLQCrashReport& r) {
             ASSERT_TRUE(r.hasExceptionInfo());
             const std::string& reason = r.exceptionInfo()->exceptionReason();
             EXPECT_TRUE(!reason.empty() && reason.size() % 2 == 0 && wideReason.starts_with(reason)) << reason.size();
         },
         0, 0, {24000, 24001, 24002, 24003}},
    };
    for (const BudgetCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (int64_t limit : c.limits) writeAndDecodeWithinTheLimit(c, limit);
    }
}

TEST(LQCrashWriterBudget, AWriteThatFailsFailsTheReport) {
    lqcrash_shared_image_list_setup();
    lqcrash_log_writer_t writer;
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false));
    // Every write to this device fails for want of space.
    EXPECT_EQ(LQCRASH_OUTPUT_ERR, writeCrashFromHere(&writer, lqcrash_shared_image_list(), "/dev/full"));
    DVlqcrash_log_writer_free(&writer);
}

void writeWithoutAThreadList(thread_t crashed, size_t threads) {
    ns::test::TemporaryDirectory dir;
    lqcrash_log_writer_t writer;
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false));
    mach::injectFailure(mach::InjectedCall::taskThreads, KERN_FAILURE);
    lqcrash_error_t err = writeCrashFromHere(&writer, lqcrash_shared_image_list(), dir.file("report"), crashed);
    mach::clearInjectedFailures();
    DVlqcrash_log_writer_free(&writer);
    EXPECT_EQ(LQCRASH_ESUCCESS, err);
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(lqtest::readFile(dir.file("report")), &error);
    ASSERT_TRUE(report) << error.description();
    ASSERT_EQ(threads, report->threads().size());
    EXPECT_TRUE(report->threads()[0]->crashed());
    EXPECT_FALSE(report->threads()[0]->stackFrames().empty());
    EXPECT_FALSE(report->threads()[0]->registers().empty());
}

// Without the task's thread list the report still holds the threads the
// handler knows: the crashed one, and the one writing when that is another.
TEST(LQCrashWriterThreads, WithoutAThreadListTheCrashedThreadIsWritten) {
    lqcrash_shared_image_list_setup();
    std::promise<thread_t> started;
    std::promise<void> done;
    std::thread other([&] {
        started.set_value(pl_mach_thread_self());
        done.get_future().wait();
    });
    thread_t otherPort = started.get_future().get();
    struct Case {
        const char* name;
        thread_t crashed;
        size_t threads;
    };
    const Case cases[] = {{"the writing thread crashed", pl_mach_thread_self(), 1},
                          {"another thread crashed", otherPort, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeWithoutAThreadList(c.crashed, c.threads);
    }
    done.set_value();
    other.join();
}

// Custom data replaced while a report on another thread reads it stays
// readable until that report is done.
TEST(LQCrashWriterRecord, CustomDataAReportIsReadingOutlivesItsReplacement) {
    lqcrash_log_writer_t writer;
    ASSERT_EQ(LQCRASH_ESUCCESS, DVlqcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false));
    // Large enough to be given back to the system when freed.
    std::vector<uint8_t> first(1 << 20, 0x5A);
    DVlqcrash_log_writer_set_custom_data(&writer, first.data(), first.size());
    const lqcrash_custom_data_block* reading = lqcrash_log_writer_custom_data_begin(&writer);
    const uint8_t second[] = {1, 2, 3};
    DVlqcrash_log_writer_set_custom_data(&writer, second, sizeof(second));
    ASSERT_EQ(first.size(), reading->length);
    EXPECT_EQ(0, std::memcmp(first.data(), reading->bytes(), first.size()));
    lqcrash_log_writer_custom_data_end(&writer);

    const lqcrash_custom_data_block* now = lqcrash_log_writer_custom_data_begin(&writer);
    ASSERT_EQ(sizeof(second), now->length);
    lqcrash_log_writer_custom_data_end(&writer);
    DVlqcrash_log_writer_set_custom_data(&writer, nullptr, 0);  // nothing reads: both go
    DVlqcrash_log_writer_free(&writer);
}

}  // namespace
