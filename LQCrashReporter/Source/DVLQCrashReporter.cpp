#include "LQCrashReporter/Source/DVLQCrashReporter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "LQCrashReporter/Source/DVLQCrashHostInfo.h"
#include "LQCrashReporter/Source/DVLQCrashProcessInfo.h"
#include "LQCrashReporter/Source/DVLQCrashSignalHandler.h"
#include "LQCrashReporter/Source/LQCrashAsyncSymbolication.h"
#include "LQCrashReporter/Source/LQCrashErrors.h"
#include "platform/foundation/Paths.h"
#include "platform/machcompat/MachThread.h"

namespace {

constexpr const char* kDirectoryComponent = "com.lqcrash.crashreporter.data";
constexpr const char* kLiveReportName = "live_report.lqcrash";
constexpr const char* kQueuedReportsName = "queued_reports";

std::mutex g_enableMutex;
bool g_enabledOnce = false;
// Mach mode keeps the reporter (and its server) alive for the process.
std::shared_ptr<DVLQCrashReporter> g_keepAlive;

ns::Error fileError(int64_t code, int errnum, const std::string& path) {
    ns::Error e = ns::Error::withDescription(ns::NSCocoaErrorDomain, code,
                                             "The operation couldn’t be completed. (" + path + ")");
    e.userInfo[ns::NSFilePathErrorKey] = ns::Value(path);
    e.setUnderlyingError(ns::Error::withDescription(ns::NSPOSIXErrorDomain, errnum, std::strerror(errnum)));
    return e;
}

bool readFile(const std::string& path, ns::Data* out, int* errnum) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *errnum = errno;
        return false;
    }
    out->clear();
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR) continue;
            *errnum = errno;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out->insert(out->end(), buffer, buffer + n);
    }
    ::close(fd);
    return true;
}

bool makeDirectory(const std::string& path, ns::Error* error) {
    std::string partial;
    std::stringstream parts(path);
    std::string component;
    if (!path.empty() && path[0] == '/') partial = "/";
    while (std::getline(parts, component, '/')) {
        if (component.empty()) continue;
        partial += component;
        struct stat st;
        if (::stat(partial.c_str(), &st) != 0) {
            if (::mkdir(partial.c_str(), 0755) == 0) {
                // 0755 whatever the process's umask takes away.
                ::chmod(partial.c_str(), 0755);
            } else if (errno != EEXIST) {
                if (error) *error = fileError(ns::NSFileWriteUnknownError, errno, partial);
                return false;
            }
        } else if (!S_ISDIR(st.st_mode)) {
            if (error) *error = fileError(ns::NSFileWriteUnknownError, ENOTDIR, partial);
            return false;
        }
        partial += "/";
    }
    return true;
}

struct LiveWrite {
    lqcrash_log_writer_t* writer;
    lqcrash_async_file_t* file;
    lqcrash_log_signal_info_t* siginfo;
};

lqcrash_error_t writeLive(lqcrash_async_thread_state* state, void* ctx) {
    auto* live = static_cast<LiveWrite*>(ctx);
    return DVlqcrash_log_writer_write(live->writer, pl_mach_thread_self(), lqcrash_shared_image_list(), live->file,
                                      live->siginfo, state);
}

}  // namespace

DVLQCrashReporter::Ptr DVLQCrashReporter::sharedReporter() {
    static Ptr shared = [] {
        lqcrash_shared_image_list_setup();
        return initWithBundle(ns::Bundle::main(), DVLQCrashReporterConfig::defaultConfiguration());
    }();
    return shared;
}

DVLQCrashReporter::Ptr DVLQCrashReporter::init() {
    return initWithConfiguration(DVLQCrashReporterConfig::defaultConfiguration());
}

DVLQCrashReporter::Ptr DVLQCrashReporter::initWithConfiguration(DVLQCrashReporterConfig::Ptr configuration) {
    return initWithBundle(ns::Bundle::main(), std::move(configuration));
}

DVLQCrashReporter::Ptr DVLQCrashReporter::initWithBundle(const std::shared_ptr<ns::Bundle>& bundle,
                                                         DVLQCrashReporterConfig::Ptr configuration) {
    std::optional<std::string> identifier = bundle ? bundle->bundleIdentifier() : std::nullopt;
    if (!identifier) {
        auto process = DVLQCrashProcessInfo::currentProcessInfo();
        if (!process || !process->processName()) {
            throw ns::NSException(LQCrashReporterException, std::string("Can not determine process identifier or process name"));
        }
        identifier = process->processName();
        lqcrash_log("[LQCrashReporter] Warning -- bundle identifier, using process name " + *identifier);
    }
    std::optional<std::string> version = bundle ? bundle->buildVersion() : std::nullopt;
    if (!version) {
        lqcrash_log("[LQCrashReporter] Warning -- bundle version unavailable");
        version = "";
    }
    std::optional<std::string> marketing = bundle ? bundle->version() : std::nullopt;
    return initWithApplicationIdentifier(*identifier, *version, marketing, std::move(configuration));
}

DVLQCrashReporter::Ptr DVLQCrashReporter::initWithApplicationIdentifier(const std::string& applicationIdentifier,
                                                                        const std::string& appVersion,
                                                                        std::optional<std::string> appMarketingVersion,
                                                                        DVLQCrashReporterConfig::Ptr configuration) {
    lqcrash_shared_image_list_setup();
    Ptr reporter(new DVLQCrashReporter());
    reporter->_config = configuration ? std::move(configuration) : DVLQCrashReporterConfig::defaultConfiguration();
    reporter->_applicationIdentifier = applicationIdentifier;
    reporter->_applicationVersion = appVersion;
    reporter->_applicationMarketingVersion = std::move(appMarketingVersion);
    std::string component = applicationIdentifier;
    for (char& c : component) {
        if (c == '/') c = '_';
    }
    std::string base = reporter->_config->basePath() ? *reporter->_config->basePath() : ns::paths::cachesDirectory();
    reporter->_crashReportDirectory =
        ns::paths::appendingPathComponent(ns::paths::appendingPathComponent(base, kDirectoryComponent), component);
    return reporter;
}

std::string DVLQCrashReporter::queuedCrashReportDirectory() const {
    return ns::paths::appendingPathComponent(_crashReportDirectory, kQueuedReportsName);
}

std::string DVLQCrashReporter::crashReportPath() const {
    return ns::paths::appendingPathComponent(_crashReportDirectory, kLiveReportName);
}

bool DVLQCrashReporter::hasPendingCrashReport() const { return ::access(crashReportPath().c_str(), F_OK) == 0; }

std::optional<ns::Data> DVLQCrashReporter::loadPendingCrashReportData() const {
    return loadPendingCrashReportDataAndReturnError(nullptr);
}

std::optional<ns::Data> DVLQCrashReporter::loadPendingCrashReportDataAndReturnError(ns::Error* error) const {
    ns::Data data;
    int errnum = 0;
    if (!readFile(crashReportPath(), &data, &errnum)) {
        if (error) {
            *error = fileError(errnum == ENOENT ? ns::NSFileReadNoSuchFileError : ns::NSFileReadUnknownError, errnum,
                               crashReportPath());
        }
        return std::nullopt;
    }
    return data;
}

bool DVLQCrashReporter::purgePendingCrashReport() { return purgePendingCrashReportAndReturnError(nullptr); }

bool DVLQCrashReporter::purgePendingCrashReportAndReturnError(ns::Error* error) {
    if (::unlink(crashReportPath().c_str()) != 0) {
        if (error) *error = fileError(ns::NSFileNoSuchFileError, errno, crashReportPath());
        return false;
    }
    return true;
}

bool DVLQCrashReporter::populateCrashReportDirectoryAndReturnError(ns::Error* error) {
    return makeDirectory(_crashReportDirectory, error) && makeDirectory(queuedCrashReportDirectory(), error);
}

uint32_t DVLQCrashReporter::mapToAsyncSymbolicationStrategy(DVLQCrashReporterSymbolicationStrategy strategy) const {
    return strategy & LQCRASH_ASYNC_SYMBOL_STRATEGY_ALL;
}

exception_mask_t DVLQCrashReporter::exceptionMaskForDarwinMajorVersion(std::optional<uint64_t> major) {
    exception_mask_t mask = EXC_MASK_BAD_ACCESS | EXC_MASK_BAD_INSTRUCTION | EXC_MASK_ARITHMETIC | EXC_MASK_SOFTWARE |
                            EXC_MASK_BREAKPOINT;
    if (major && *major >= 13) mask |= EXC_MASK_GUARD;
    return mask;
}

bool DVLQCrashReporter::enableCrashReporter() { return enableCrashReporterAndReturnError(nullptr); }

bool DVLQCrashReporter::enableCrashReporterAndReturnError(ns::Error* error) {
    {
        std::lock_guard<std::mutex> lock(g_enableMutex);
        if (g_enabledOnce) {
            lqcrash_populate_error(error, LQCrashReporterErrorResourceBusy,
                                   "A LQCrashReporter instance has already been enabled");
            return false;
        }
        g_enabledOnce = true;
    }
    if (!populateCrashReportDirectoryAndReturnError(error)) return false;

    lqcrash_crash_context* ctx = lqcrash_shared_crash_context();
    std::string path = crashReportPath();
    ctx->path = strdup(path.c_str());

    // Custom data given before enable lives in the record being replaced.
    DVlqcrash_log_writer_set_custom_data(&ctx->writer, nullptr, 0);
    DVlqcrash_log_writer_init(&ctx->writer, _applicationIdentifier.c_str(), _applicationVersion.c_str(),
                              _applicationMarketingVersion ? _applicationMarketingVersion->c_str() : nullptr,
                              mapToAsyncSymbolicationStrategy(_config->symbolicationStrategy()), false);
    if (_customData) DVlqcrash_log_writer_set_custom_data(&ctx->writer, _customData->data(), _customData->size());
    // A report's copies of the pages it reads: reserved now, not at crash time.
    mach::reservePageCache(LQCRASH_PAGE_CACHE_PAGES);

    // Parked threads answer suspension from a handler installed now, not at crash time.
    mach::installThreadSuspension();

    DVLQCrashSignalHandler* handler = DVLQCrashSignalHandler::sharedHandler();
    if (!handler) {
        lqcrash_populate_posix_error(error, ENOMEM, "Could not initialize alternative signal stack");
        return false;
    }
    switch (_config->signalHandlerType()) {
        case DVLQCrashReporterSignalHandlerTypeMach: {
            if (!handler->registerHandlerForSignal(SIGABRT, lqcrash_reporter_signal_callback, ctx, error)) return false;
            _machServer = enableMachExceptionServerWithPreviousPortSet(&_previousMachPorts,
                                                                       lqcrash_reporter_mach_callback, ctx, error);
            if (!_machServer) return false;
            if (_previousMachPorts) {
                ctx->port_set = _previousMachPorts->asyncSafeRepresentation();
            } else {
                ctx->port_set = lqcrash_mach_exception_port_set{};
            }
            g_keepAlive = shared_from_this();
            break;
        }
        case DVLQCrashReporterSignalHandlerTypeBSD:
            for (int signo : lqcrash_monitored_signals) {
                if (!handler->registerHandlerForSignal(signo, lqcrash_reporter_signal_callback, ctx, error)) {
                    return false;
                }
            }
            break;
        default:
            break;
    }
    if (_config->shouldRegisterUncaughtExceptionHandler()) {
        ns::NSSetUncaughtExceptionHandler(lqcrash_uncaught_exception_handler);
    }
    _enabled = true;
    return true;
}

std::shared_ptr<DVLQCrashMachExceptionServer> DVLQCrashReporter::enableMachExceptionServerWithPreviousPortSet(
    std::shared_ptr<DVLQCrashMachExceptionPortSet>* previousPortSet, DVLQCrashMachExceptionHandlerCallback callback,
    void* context, ns::Error* error) {
    std::optional<uint64_t> major;
    if (auto host = DVLQCrashHostInfo::currentHostInfo()) major = host->darwinVersion().major;
    exception_mask_t mask = exceptionMaskForDarwinMajorVersion(major);

    ns::Error inner;
    auto server = DVLQCrashMachExceptionServer::initWithCallBack(callback, context, &inner);
    if (!server) {
        lqcrash_populate_error(error, LQCrashReporterErrorOperatingSystem,
                               "Failed to instantiate the Mach exception server.", &inner);
        return nullptr;
    }
    auto port = server->exceptionPortWithMask(mask, &inner);
    if (!port) {
        lqcrash_populate_error(error, LQCrashReporterErrorOperatingSystem,
                               "Failed to instantiate the Mach exception port.", &inner);
        return nullptr;
    }
    if (!port->registerForTask(mach_task_self(), previousPortSet, &inner)) {
        lqcrash_populate_error(error, LQCrashReporterErrorOperatingSystem,
                               "Failed to set the target task's mach exception ports.", &inner);
        return nullptr;
    }
    return server;
}

void DVLQCrashReporter::setCrashCallbacks(const LQCrashReporterCallbacks* callbacks) {
    if (_enabled) {
        throw ns::NSException(LQCrashReporterException, std::string("The crash reporter has already been enabled"));
    }
    if (!callbacks || callbacks->version != 0) {
        std::fprintf(stderr, "Unsupported LQCrashReporterCallbacks version\n");
        std::abort();
    }
    lqcrash_client_callback* client = lqcrash_shared_client_callback();
    client->context = callbacks->context;
    client->handleSignal = callbacks->handleSignal;
}

void DVLQCrashReporter::setCustomData(std::optional<ns::Data> customData) {
    _customData = std::move(customData);
    lqcrash_log_writer_t* writer = &lqcrash_shared_crash_context()->writer;
    if (_customData) {
        DVlqcrash_log_writer_set_custom_data(writer, _customData->data(), _customData->size());
    } else {
        DVlqcrash_log_writer_set_custom_data(writer, nullptr, 0);
    }
}

std::optional<ns::Data> DVLQCrashReporter::generateLiveReport() {
    return liveReport(pl_mach_thread_self(), __builtin_return_address(0), nullptr);
}

std::optional<ns::Data> DVLQCrashReporter::generateLiveReportAndReturnError(ns::Error* error) {
    return liveReport(pl_mach_thread_self(), __builtin_return_address(0), error);
}

std::optional<ns::Data> DVLQCrashReporter::generateLiveReportWithThread(thread_t thread) {
    return liveReport(thread, __builtin_return_address(0), nullptr);
}

std::optional<ns::Data> DVLQCrashReporter::generateLiveReportWithThread(thread_t thread, ns::Error* error) {
    return liveReport(thread, __builtin_return_address(0), error);
}

std::optional<ns::Data> DVLQCrashReporter::liveReport(thread_t thread, void* callerAddress, ns::Error* error) {
    std::string templ = ns::paths::appendingPathComponent(ns::paths::temporaryDirectory(), "live_crash_report.XXXXXX");
    std::vector<char> path(templ.begin(), templ.end());
    path.push_back('\0');
    int fd = ::mkstemp(path.data());
    if (fd < 0) {
        lqcrash_populate_posix_error(error, errno, lqcrash_localized("Failed to create temporary path"));
        return std::nullopt;
    }
    lqcrash_log_writer_t writer;
    DVlqcrash_log_writer_init(&writer, _applicationIdentifier.c_str(), _applicationVersion.c_str(),
                              _applicationMarketingVersion ? _applicationMarketingVersion->c_str() : nullptr,
                              mapToAsyncSymbolicationStrategy(_config->symbolicationStrategy()), true);
    lqcrash_async_file_t file;
    DVlqcrash_async_file_init(&file, fd, LQCRASH_REPORT_MAX_BYTES);
    if (_customData) DVlqcrash_log_writer_set_custom_data(&writer, _customData->data(), _customData->size());

    lqcrash_log_bsd_signal_info_t bsd = {5, 2, reinterpret_cast<uint64_t>(callerAddress)};  // SIGTRAP, TRAP_TRACE
    lqcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    lqcrash_error_t err;
    if (thread == pl_mach_thread_self()) {
        LiveWrite live = {&writer, &file, &siginfo};
        err = lqcrash_async_thread_state_current(writeLive, &live);
    } else {
        err = DVlqcrash_log_writer_write(&writer, thread, lqcrash_shared_image_list(), &file, &siginfo, nullptr);
    }
    DVlqcrash_log_writer_close(&writer);
    bool flushed = DVlqcrash_async_file_flush(&file);
    bool closed = DVlqcrash_async_file_close(&file);
    if (err == LQCRASH_ESUCCESS && (!flushed || !closed)) err = LQCRASH_OUTPUT_ERR;

    std::optional<ns::Data> result;
    if (err != LQCRASH_ESUCCESS) {
        lqcrash_log(std::string("[LQCrashReporter] Write failed with error ") + lqcrash_async_strerror(err));
        lqcrash_populate_error(error, LQCrashReporterErrorUnknown, "Failed to write the crash report to disk");
    } else {
        ns::Data data;
        int errnum = 0;
        if (readFile(path.data(), &data, &errnum)) {
            result = std::move(data);
        } else {
            lqcrash_populate_error(error, LQCrashReporterErrorUnknown,
                                   lqcrash_localized("Unable to open live crash report for reading"));
        }
    }
    DVlqcrash_log_writer_free(&writer);
    if (::unlink(path.data()) != 0) {
        lqcrash_log(std::string("[LQCrashReporter] Failure occured deleting live crash report: ") +
                    std::strerror(errno));
    }
    return result;
}
