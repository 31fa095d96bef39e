#pragma once
// Mach exception handling objects: the server that receives exception
// messages on its own thread, exception port registrations and sets of
// them. On this machine the ports and messages are those of
// platform/machcompat, fed by its fault-signal trampoline.

#include <memory>
#include <vector>

#include "LQCrashReporter/Source/LQCrashMachExceptionCore.h"
#include "platform/foundation/Error.h"

class DVLQCrashMachExceptionPortSet;

class DVLQCrashMachExceptionPort {
public:
    static std::shared_ptr<DVLQCrashMachExceptionPortSet> exceptionPortsForTask(task_t task, exception_mask_t mask,
                                                                                ns::Error* error);
    static std::shared_ptr<DVLQCrashMachExceptionPortSet> exceptionPortsForThread(thread_t thread,
                                                                                  exception_mask_t mask,
                                                                                  ns::Error* error);

    // initWithServerPort:mask:behavior:flavor:. Holds a send right on a
    // valid port for its lifetime.
    DVLQCrashMachExceptionPort(mach_port_t port, exception_mask_t mask, exception_behavior_t behavior,
                               thread_state_flavor_t flavor);
    ~DVLQCrashMachExceptionPort();
    DVLQCrashMachExceptionPort(const DVLQCrashMachExceptionPort&) = delete;
    DVLQCrashMachExceptionPort& operator=(const DVLQCrashMachExceptionPort&) = delete;

    bool registerForTask(task_t task, std::shared_ptr<DVLQCrashMachExceptionPortSet>* previousPortSet,
                         ns::Error* error);
    bool registerForThread(thread_t thread, std::shared_ptr<DVLQCrashMachExceptionPortSet>* previousPortSet,
                           ns::Error* error);

    mach_port_t server_port() const { return _port; }
    exception_mask_t mask() const { return _mask; }
    exception_behavior_t behavior() const { return _behavior; }
    thread_state_flavor_t flavor() const { return _flavor; }

private:
    exception_mask_t _mask;
    mach_port_t _port;
    exception_behavior_t _behavior;
    thread_state_flavor_t _flavor;
};

class DVLQCrashMachExceptionPortSet {
public:
    using Ports = std::vector<std::shared_ptr<DVLQCrashMachExceptionPort>>;

    // initWithSet:. More than EXC_TYPES_COUNT ports is a programming error.
    explicit DVLQCrashMachExceptionPortSet(Ports set);
    // initWithAsyncSafeRepresentation: as the kernel returned it: takes over
    // the rights the kernel handed out.
    static std::shared_ptr<DVLQCrashMachExceptionPortSet> initWithAsyncSafeRepresentation(
        const lqcrash_mach_exception_port_set& representation);

    const Ports& set() const { return _state_set; }
    const lqcrash_mach_exception_port_set& asyncSafeRepresentation() const { return _asyncSafeRepresentation; }
    Ports::const_iterator begin() const { return _state_set.begin(); }
    Ports::const_iterator end() const { return _state_set.end(); }

private:
    Ports _state_set;
    lqcrash_mach_exception_port_set _asyncSafeRepresentation{};
};

class DVLQCrashMachExceptionServer {
public:
    static std::shared_ptr<DVLQCrashMachExceptionServer> initWithCallBack(
        DVLQCrashMachExceptionHandlerCallback callback, void* context, ns::Error* error);
    // Stops the server thread and returns once it has acknowledged.
    ~DVLQCrashMachExceptionServer();
    DVLQCrashMachExceptionServer(const DVLQCrashMachExceptionServer&) = delete;
    DVLQCrashMachExceptionServer& operator=(const DVLQCrashMachExceptionServer&) = delete;

    thread_t serverThread() const;
    mach_port_t copySendRightForServerAndReturningError(ns::Error* error);
    std::shared_ptr<DVLQCrashMachExceptionPort> exceptionPortWithMask(exception_mask_t mask, ns::Error* error);

private:
    DVLQCrashMachExceptionServer() = default;
    lqcrash_exception_server_context* _serverContext = nullptr;
};
