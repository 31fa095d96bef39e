#pragma once
// The crash engine's front object: enabled once per process, it prepares all
// crash-time state and installs the signal handlers (or the Mach exception
// server) and the uncaught-exception handler; at the next launch it hands
// out the pending report file and purges it.

#include <signal.h>

#include <memory>
#include <optional>
#include <string>

#include "LQCrashReporter/Source/DVLQCrashMachExceptionServer.h"
#include "LQCrashReporter/Source/DVLQCrashReporterConfig.h"
#include "LQCrashReporter/Source/LQCrashReporterCore.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

// The client's crash-time callbacks; version must be 0.
struct LQCrashReporterCallbacks {
    uint16_t version;
    void* context;
    LQCrashReporterPostCrashSignalCallback handleSignal;
};

class DVLQCrashReporter : public std::enable_shared_from_this<DVLQCrashReporter> {
public:
    using Ptr = std::shared_ptr<DVLQCrashReporter>;

    // For the main bundle with the default configuration, made once.
    static Ptr sharedReporter();
    static Ptr init();
    static Ptr initWithConfiguration(DVLQCrashReporterConfig::Ptr configuration);
    // Throws ns::NSException "LQCrashReporterException" when neither the
    // bundle identifier nor the process name is known.
    static Ptr initWithBundle(const std::shared_ptr<ns::Bundle>& bundle, DVLQCrashReporterConfig::Ptr configuration);
    static Ptr initWithApplicationIdentifier(const std::string& applicationIdentifier, const std::string& appVersion,
                                             std::optional<std::string> appMarketingVersion,
                                             DVLQCrashReporterConfig::Ptr configuration);

    const std::string& crashReportDirectory() const { return _crashReportDirectory; }
    std::string queuedCrashReportDirectory() const;
    std::string crashReportPath() const;

    bool hasPendingCrashReport() const;
    std::optional<ns::Data> loadPendingCrashReportData() const;
    std::optional<ns::Data> loadPendingCrashReportDataAndReturnError(ns::Error* error) const;
    bool purgePendingCrashReport();
    bool purgePendingCrashReportAndReturnError(ns::Error* error);

    bool enableCrashReporter();
    bool enableCrashReporterAndReturnError(ns::Error* error);
    bool isEnabled() const { return _enabled; }

    // Throws "LQCrashReporterException" once this reporter is enabled.
    void setCrashCallbacks(const LQCrashReporterCallbacks* callbacks);

    void setCustomData(std::optional<ns::Data> customData);
    const std::optional<ns::Data>& customData() const { return _customData; }

    std::optional<ns::Data> generateLiveReport();
    std::optional<ns::Data> generateLiveReportAndReturnError(ns::Error* error);
    std::optional<ns::Data> generateLiveReportWithThread(thread_t thread);
    std::optional<ns::Data> generateLiveReportWithThread(thread_t thread, ns::Error* error);

    std::shared_ptr<DVLQCrashMachExceptionServer> enableMachExceptionServerWithPreviousPortSet(
        std::shared_ptr<DVLQCrashMachExceptionPortSet>* previousPortSet,
        DVLQCrashMachExceptionHandlerCallback callback, void* context, ns::Error* error);

    uint32_t mapToAsyncSymbolicationStrategy(DVLQCrashReporterSymbolicationStrategy strategy) const;
    bool populateCrashReportDirectoryAndReturnError(ns::Error* error);

    const DVLQCrashReporterConfig::Ptr& config() const { return _config; }
    const std::string& applicationIdentifier() const { return _applicationIdentifier; }
    const std::string& applicationVersion() const { return _applicationVersion; }
    const std::optional<std::string>& applicationMarketingVersion() const { return _applicationMarketingVersion; }

    // The Mach exception mask for a host kernel major version.
    static exception_mask_t exceptionMaskForDarwinMajorVersion(std::optional<uint64_t> major);

private:
    DVLQCrashReporter() = default;
    std::optional<ns::Data> liveReport(thread_t thread, void* callerAddress, ns::Error* error);

    DVLQCrashReporterConfig::Ptr _config;
    bool _enabled = false;
    std::shared_ptr<DVLQCrashMachExceptionServer> _machServer;
    std::shared_ptr<DVLQCrashMachExceptionPortSet> _previousMachPorts;
    std::string _applicationIdentifier;
    std::string _applicationVersion;
    std::optional<std::string> _applicationMarketingVersion;
    std::string _crashReportDirectory;
    std::optional<ns::Data> _customData;
};
