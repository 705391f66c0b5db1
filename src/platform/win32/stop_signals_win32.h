// What the console's stop handler does, for the tests: the system calls it
// on a thread of its own.
#pragma once

namespace twinmere::win32 {

// Handles one console event (CTRL_C_EVENT ...) as the StopSignalGuard in
// force says; true when it took it, false (the system's own handling)
// while no guard exists or for any other event.
bool HandleConsoleEvent(unsigned long event);

}  // namespace twinmere::win32
