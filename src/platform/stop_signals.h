// Requests from outside to stop the program's work: an interrupt from the
// terminal (Ctrl+C), a request to end (kill, a system shutdown) and the
// terminal going away (a hangup).
#pragma once

#include <atomic>
#include <cstdint>

namespace twinmere {

// Whether an interrupt (Ctrl+C) may stop the work. A request to end and a
// hangup always may.
enum class InterruptPolicy : uint8_t { Stop, Refuse };

// Routes the three requests to a stop flag for its lifetime and gives the
// previous handling back when it goes away. A refused interrupt is
// remembered for the main thread to report (TakeRefusedStop). A request
// that stops the work interrupts the system call it arrives in
// (kErrInterrupted, no restart), so work blocked anywhere goes on to its
// end; a refused interrupt restarts it. A hangup that was ignored when the
// guard was made (nohup) stays ignored. The handling is process-wide, so at
// most one guard may exist at a time (a second one aborts the program).
// Making a guard cannot fail.
class StopSignalGuard {
 public:
  StopSignalGuard(std::atomic<int>& stop_requested, InterruptPolicy policy);
  ~StopSignalGuard();
  StopSignalGuard(const StopSignalGuard&) = delete;
  StopSignalGuard& operator=(const StopSignalGuard&) = delete;

  // True once for every stretch of refused interrupts since the last call.
  bool TakeRefusedStop();
};

// From now on a write into a pipe whose reader has gone fails instead of
// ending the process, so that the run goes on to its end. Never fails.
void IgnoreClosedPipes();

}  // namespace twinmere
