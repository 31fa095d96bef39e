#include "LQCrashReporter/Source/DVLQCrashReporterConfig.h"

using Ptr = DVLQCrashReporterConfig::Ptr;

Ptr DVLQCrashReporterConfig::defaultConfiguration() { return init(); }

Ptr DVLQCrashReporterConfig::init() {
    return initWithSignalHandlerType(DVLQCrashReporterSignalHandlerTypeBSD, DVLQCrashReporterSymbolicationStrategyNone);
}

Ptr DVLQCrashReporterConfig::initWithBasePath(const std::string& basePath) {
    return initWithSignalHandlerType(DVLQCrashReporterSignalHandlerTypeBSD, DVLQCrashReporterSymbolicationStrategyNone,
                                     basePath);
}

Ptr DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType type,
                                                       DVLQCrashReporterSymbolicationStrategy strategy) {
    return initWithSignalHandlerType(type, strategy, true);
}

Ptr DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType type,
                                                       DVLQCrashReporterSymbolicationStrategy strategy,
                                                       const std::string& basePath) {
    return initWithSignalHandlerType(type, strategy, true, basePath);
}

Ptr DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType type,
                                                       DVLQCrashReporterSymbolicationStrategy strategy,
                                                       bool shouldRegister) {
    return initWithSignalHandlerType(type, strategy, shouldRegister, std::nullopt);
}

Ptr DVLQCrashReporterConfig::initWithSignalHandlerType(DVLQCrashReporterSignalHandlerType type,
                                                       DVLQCrashReporterSymbolicationStrategy strategy,
                                                       bool shouldRegister, std::optional<std::string> basePath) {
    Ptr config(new DVLQCrashReporterConfig());
    config->_signalHandlerType = type;
    config->_symbolicationStrategy = strategy;
    config->_shouldRegisterUncaughtExceptionHandler = shouldRegister;
    config->_basePath = std::move(basePath);
    return config;
}
