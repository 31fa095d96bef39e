#pragma once
// The crash reporter's configuration; immutable once made.

#include <memory>
#include <optional>
#include <string>

typedef unsigned int DVLQCrashReporterSignalHandlerType;
enum : DVLQCrashReporterSignalHandlerType {
    DVLQCrashReporterSignalHandlerTypeBSD = 0,
    DVLQCrashReporterSignalHandlerTypeMach = 1,
};

typedef unsigned int DVLQCrashReporterSymbolicationStrategy;
enum : DVLQCrashReporterSymbolicationStrategy {
    DVLQCrashReporterSymbolicationStrategyNone = 0,
    DVLQCrashReporterSymbolicationStrategySymbolTable = 1 << 0,
    DVLQCrashReporterSymbolicationStrategyObjC = 1 << 1,
    DVLQCrashReporterSymbolicationStrategyAll = 3,
};

class DVLQCrashReporterConfig {
public:
    using Ptr = std::shared_ptr<DVLQCrashReporterConfig>;

    static Ptr defaultConfiguration();
    static Ptr init();
    static Ptr initWithBasePath(const std::string& basePath);
    static Ptr initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType signalHandlerType,
                                         DVLQCrashReporterSymbolicationStrategy symbolicationStrategy);
    static Ptr initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType signalHandlerType,
                                         DVLQCrashReporterSymbolicationStrategy symbolicationStrategy,
                                         const std::string& basePath);
    static Ptr initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType signalHandlerType,
                                         DVLQCrashReporterSymbolicationStrategy symbolicationStrategy,
                                         bool shouldRegisterUncaughtExceptionHandler);
    static Ptr initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType signalHandlerType,
                                         DVLQCrashReporterSymbolicationStrategy symbolicationStrategy,
                                         bool shouldRegisterUncaughtExceptionHandler,
                                         std::optional<std::string> basePath);
    // A literal would silently pick the bool overload.
    static Ptr initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType, DVLQCrashReporterSymbolicationStrategy,
                                         const char*) = delete;

    DVLQCrashReporterSignalHandlerType signalHandlerType() const { return _signalHandlerType; }
    DVLQCrashReporterSymbolicationStrategy symbolicationStrategy() const { return _symbolicationStrategy; }
    bool shouldRegisterUncaughtExceptionHandler() const { return _shouldRegisterUncaughtExceptionHandler; }
    const std::optional<std::string>& basePath() const { return _basePath; }

private:
    DVLQCrashReporterConfig() = default;
    DVLQCrashReporterSignalHandlerType _signalHandlerType = DVLQCrashReporterSignalHandlerTypeBSD;
    DVLQCrashReporterSymbolicationStrategy _symbolicationStrategy = DVLQCrashReporterSymbolicationStrategyNone;
    bool _shouldRegisterUncaughtExceptionHandler = true;
    std::optional<std::string> _basePath;
};
