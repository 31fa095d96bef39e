#pragma once
// Hooks between the files of the Mach stand-in.

#include "platform/machcompat/Mach.h"

namespace mach::detail {

bool isFakeTask(task_t task);
bool isSelf(task_t task);

// Consumes an injected failure of the call, if one is due.
bool takeInjectedFailure(InjectedCall call, kern_return_t* kr);

// Rights on IPC ports (MachException.cpp).
kern_return_t ipcModRefs(mach_port_name_t name, mach_port_right_t right, mach_port_delta_t delta);
kern_return_t ipcDeallocate(mach_port_name_t name);

}  // namespace mach::detail
