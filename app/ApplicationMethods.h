#pragma once
// The application object's observable methods in the process's method table.
//
// There is no class runtime in this program: the table of the telemetry
// client (DVACMethodTable) stands in for it. This puts the application
// object's "setDelegate:", "sendEvent:" and "reportException:" into it under
// "NSApplication" and makes the application object send those messages
// through it, so that the client's forwarders, which replace them there as
// they would swizzle them, see every call. Run it before the telemetry
// client starts. Methods already in the table are kept.

void installApplicationMethods();
