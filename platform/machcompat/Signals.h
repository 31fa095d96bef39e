#pragma once
// Signal numbers and codes as the platform the crash engine was written for
// numbers them (reports carry those), converted from and to Linux's.
// Async-signal-safe.

namespace mach {

// The platform's number for a Linux signal; 0 when it has none.
int darwinSignalFromLinux(int linuxSignal);
// The Linux signal for the platform's number; 0 when Linux has none.
int linuxSignalFromDarwin(int darwinSignal);
// The platform's si_code for a Linux (signal, si_code); codes a process sent
// itself (si_code <= 0, as raise and abort do) become 0.
int darwinSignalCodeFromLinux(int linuxSignal, int code);

}  // namespace mach
