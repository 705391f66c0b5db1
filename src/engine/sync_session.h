// State of the current run, kept by the front end for the life of the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace twinmere {

// One unit of work is 10,000 bytes.
inline constexpr double kBytesPerWorkUnit = 10000.0;

struct SyncSession {
  bool Running = false;
  // Set to 1 by Stop (or a signal, or closing the window); polled by the walk
  // and by a running copy. Written from other threads, hence atomic.
  std::atomic<int> StopRequested{0};
  double CopyStartTime = 0;  // seconds since the epoch, when phase 2 began
  double WorkTotal = 0;      // work units estimated by the exploring phases
  double WorkDone = 0;       // work units done so far
  bool PercentMode = false;  // progress as a percentage; else as bytes processed
  std::string ProgressText;
  int ExitCode = 0;
};

}  // namespace twinmere
