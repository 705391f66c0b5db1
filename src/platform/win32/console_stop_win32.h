// Stop requests from the console on Windows, the counterpart of the CLI's
// signal guard on Linux: Ctrl+C and Ctrl+Break ask the run to stop (or are
// refused and remembered, as the policy says), and closing the console
// window, logging off or shutting down always stop it. Windows then ends
// the process soon after the handler returns, so the handler waits (up to
// four seconds) for the run to end and the guard to go first.
//
// The front end takes this over once the stop requests have a platform
// interface of their own; until then only its tests use it.
#pragma once

#include <atomic>

namespace twinmere::win32 {

class ConsoleStopGuard {
 public:
  // Routes the console's requests to `stop_requested` for the guard's
  // lifetime. The handler is process-wide: at most one guard may exist at
  // a time (a second one ends the program).
  ConsoleStopGuard(std::atomic<int>& stop_requested, bool interrupt_stops);
  ~ConsoleStopGuard();
  ConsoleStopGuard(const ConsoleStopGuard&) = delete;
  ConsoleStopGuard& operator=(const ConsoleStopGuard&) = delete;

  // True once for every stretch of refused Ctrl+C since the last call.
  bool TakeRefusedStop();

  // What the handler does with one console event (CTRL_C_EVENT ...): true
  // when it took it.
  static bool Handle(unsigned long event);
};

}  // namespace twinmere::win32
