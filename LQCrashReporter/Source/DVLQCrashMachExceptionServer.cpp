#include "LQCrashReporter/Source/DVLQCrashMachExceptionServer.h"

#include <cstdio>
#include <cstdlib>

#include "LQCrashReporter/Source/LQCrashErrors.h"

namespace {

void programmingError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
}

std::shared_ptr<DVLQCrashMachExceptionPortSet> setFromKernel(const lqcrash_mach_exception_port_set& rep) {
    return DVLQCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(rep);
}

}  // namespace

// ---- DVLQCrashMachExceptionPort ----------------------------------------------------

DVLQCrashMachExceptionPort::DVLQCrashMachExceptionPort(mach_port_t port, exception_mask_t mask,
                                                       exception_behavior_t behavior, thread_state_flavor_t flavor)
    : _mask(mask), _port(port), _behavior(behavior), _flavor(flavor) {
    if (MACH_PORT_VALID(port)) {
        kern_return_t kr = mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, 1);
        if (kr != KERN_SUCCESS) {
            lqcrash_log("[LQCrashReporter] Unexpected error incrementing mach port reference: " + std::to_string(kr));
        }
    }
}

DVLQCrashMachExceptionPort::~DVLQCrashMachExceptionPort() {
    if (MACH_PORT_VALID(_port)) {
        kern_return_t kr = mach_port_mod_refs(mach_task_self(), _port, MACH_PORT_RIGHT_SEND, -1);
        if (kr != KERN_SUCCESS) {
            lqcrash_log("[LQCrashReporter] Unexpected error decrementing mach port reference: " + std::to_string(kr));
        }
    }
}

std::shared_ptr<DVLQCrashMachExceptionPortSet> DVLQCrashMachExceptionPort::exceptionPortsForTask(
    task_t task, exception_mask_t mask, ns::Error* error) {
    lqcrash_mach_exception_port_set rep{};
    rep.count = EXC_TYPES_COUNT;
    kern_return_t kr = task_get_exception_ports(task, mask, rep.masks, &rep.count, rep.ports, rep.behaviors,
                                                rep.flavors);
    if (kr != KERN_SUCCESS) {
        lqcrash_populate_mach_error(error, kr, "Failed to fetch mach exception ports");
        return nullptr;
    }
    return setFromKernel(rep);
}

std::shared_ptr<DVLQCrashMachExceptionPortSet> DVLQCrashMachExceptionPort::exceptionPortsForThread(
    thread_t thread, exception_mask_t mask, ns::Error* error) {
    lqcrash_mach_exception_port_set rep{};
    rep.count = EXC_TYPES_COUNT;
    kern_return_t kr = thread_get_exception_ports(thread, mask, rep.masks, &rep.count, rep.ports, rep.behaviors,
                                                  rep.flavors);
    if (kr != KERN_SUCCESS) {
        lqcrash_populate_mach_error(error, kr, "Failed to fetch mach exception ports");
        return nullptr;
    }
    return setFromKernel(rep);
}

bool DVLQCrashMachExceptionPort::registerForTask(task_t task,
                                                 std::shared_ptr<DVLQCrashMachExceptionPortSet>* previousPortSet,
                                                 ns::Error* error) {
    lqcrash_mach_exception_port_set rep{};
    rep.count = EXC_TYPES_COUNT;
    kern_return_t kr = task_swap_exception_ports(task, _mask, _port, _behavior, _flavor, rep.masks, &rep.count,
                                                 rep.ports, rep.behaviors, rep.flavors);
    if (kr != KERN_SUCCESS) {
        lqcrash_populate_mach_error(error, kr, "Failed to swap mach exception ports");
        return false;
    }
    auto previous = setFromKernel(rep);
    if (previousPortSet) *previousPortSet = previous;
    return true;
}

bool DVLQCrashMachExceptionPort::registerForThread(thread_t thread,
                                                   std::shared_ptr<DVLQCrashMachExceptionPortSet>* previousPortSet,
                                                   ns::Error* error) {
    lqcrash_mach_exception_port_set rep{};
    rep.count = EXC_TYPES_COUNT;
    kern_return_t kr = thread_swap_exception_ports(thread, _mask, _port, _behavior, _flavor, rep.masks, &rep.count,
                                                   rep.ports, rep.behaviors, rep.flavors);
    if (kr != KERN_SUCCESS) {
        lqcrash_populate_mach_error(error, kr, "Failed to swap mach exception ports");
        return false;
    }
    auto previous = setFromKernel(rep);
    if (previousPortSet) *previousPortSet = previous;
    return true;
}

// ---- DVLQCrashMachExceptionPortSet -------------------------------------------------

DVLQCrashMachExceptionPortSet::DVLQCrashMachExceptionPortSet(Ports set) : _state_set(std::move(set)) {
    if (_state_set.size() > static_cast<size_t>(EXC_TYPES_COUNT)) {
        programmingError("Set size of " + std::to_string(_state_set.size()) + " exceeds EXC_TYPES_COUNT (" +
                         std::to_string(EXC_TYPES_COUNT) + ")");
    }
    uint32_t i = 0;
    for (const auto& port : _state_set) {
        _asyncSafeRepresentation.ports[i] = port->server_port();
        _asyncSafeRepresentation.masks[i] = port->mask();
        _asyncSafeRepresentation.behaviors[i] = port->behavior();
        _asyncSafeRepresentation.flavors[i] = port->flavor();
        ++i;
    }
    _asyncSafeRepresentation.count = i;
}

std::shared_ptr<DVLQCrashMachExceptionPortSet> DVLQCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(
    const lqcrash_mach_exception_port_set& representation) {
    if (representation.count > static_cast<uint32_t>(EXC_TYPES_COUNT)) {
        programmingError("Count of " + std::to_string(representation.count) + " exceeds EXC_TYPES_COUNT (" +
                         std::to_string(EXC_TYPES_COUNT) + ")");
    }
    Ports ports;
    for (uint32_t i = 0; i < representation.count; ++i) {
        ports.push_back(std::make_shared<DVLQCrashMachExceptionPort>(
            representation.ports[i], representation.masks[i], representation.behaviors[i],
            representation.flavors[i]));
        // The kernel's own right is ours to drop now that the object holds one.
        kern_return_t kr = mach_port_mod_refs(mach_task_self(), representation.ports[i], MACH_PORT_RIGHT_SEND, -1);
        if (kr != KERN_SUCCESS) {
            lqcrash_log("[LQCrashReporter] Unexpected error decrementing mach port reference: " + std::to_string(kr));
        }
    }
    auto set = std::make_shared<DVLQCrashMachExceptionPortSet>(std::move(ports));
    set->_asyncSafeRepresentation = representation;
    return set;
}

// ---- DVLQCrashMachExceptionServer ---------------------------------------------------

std::shared_ptr<DVLQCrashMachExceptionServer> DVLQCrashMachExceptionServer::initWithCallBack(
    DVLQCrashMachExceptionHandlerCallback callback, void* context, ns::Error* error) {
    lqcrash_exception_server_failure failure;
    lqcrash_exception_server_context* ctx = lqcrash_exception_server_start(callback, context, &failure);
    if (!ctx) {
        if (failure.error_number != 0) {
            lqcrash_populate_posix_error(error, failure.error_number, failure.text);
        } else {
            lqcrash_populate_mach_error(error, failure.kr, failure.text);
        }
        return nullptr;
    }
    std::shared_ptr<DVLQCrashMachExceptionServer> server(new DVLQCrashMachExceptionServer());
    server->_serverContext = ctx;
    return server;
}

DVLQCrashMachExceptionServer::~DVLQCrashMachExceptionServer() {
    if (!_serverContext) return;
    kern_return_t kr = KERN_SUCCESS;
    if (!lqcrash_exception_server_stop(_serverContext, &kr)) {
        lqcrash_log("[LQCrashReporter] Unexpected error sending termination message to background thread: " +
                    std::to_string(kr));
    }
}

thread_t DVLQCrashMachExceptionServer::serverThread() const {
    if (!_serverContext) programmingError("No handler registered!");
    pthread_mutex_lock(&_serverContext->lock);
    thread_t thread = _serverContext->server_thread;
    pthread_mutex_unlock(&_serverContext->lock);
    return thread;
}

mach_port_t DVLQCrashMachExceptionServer::copySendRightForServerAndReturningError(ns::Error* error) {
    pthread_mutex_lock(&_serverContext->lock);
    mach_port_t port = _serverContext->server_port;
    kern_return_t kr = mach_port_insert_right(mach_task_self(), port, port, MACH_MSG_TYPE_MAKE_SEND);
    pthread_mutex_unlock(&_serverContext->lock);
    if (kr != KERN_SUCCESS) {
        lqcrash_populate_mach_error(error, kr, "Failed to insert Mach send right");
        return MACH_PORT_NULL;
    }
    return port;
}

std::shared_ptr<DVLQCrashMachExceptionPort> DVLQCrashMachExceptionServer::exceptionPortWithMask(
    exception_mask_t mask, ns::Error* error) {
    mach_port_t port = copySendRightForServerAndReturningError(error);
    if (!MACH_PORT_VALID(port)) return nullptr;
    auto result = std::make_shared<DVLQCrashMachExceptionPort>(
        port, mask, static_cast<exception_behavior_t>(EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES), 1);
    mach_port_deallocate(mach_task_self(), port);
    return result;
}
