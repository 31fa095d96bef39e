#pragma once
// Connects AppKit to the simulated desktop's events: workspace notifications
// (launch, terminate, activate, hide, unhide, active Space, sleep, wake) on
// the workspace's centre, the frontmost-application observation, and the
// screen-parameters notification on the default centre, each posted to the
// main queue. Idempotent; the workspace, screen and running-application
// entry points call it, and NSApplication should too at start-up.

namespace appkit {

void connectToSimulatedDesktop();

}  // namespace appkit
