// What the run asks of its front end: the status line, the progress figure,
// the running and idle states of the controls, closing the program, and a
// chance to serve pending events. The desktop window and twinmere-cli each
// implement it; the engine never calls a GUI directly.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/sync_session.h"

namespace twinmere {

// What the deletion guard found before the deleting phase.
struct DeletionQuestion {
  int64_t extra = 0;          // the items the phase would delete
  int64_t items = 0;          // the items of Target it looks at
  bool source_empty = false;  // Source holds nothing at all
  int32_t percent = 0;        // the guard's share of Target's items
};

enum class DeletionAnswer : uint8_t {
  NotAsked,  // no one can be asked: the guard stops the deletions
  Delete,    // delete them all the same
  Keep,      // delete nothing
};

class SyncHost {
 public:
  virtual ~SyncHost() = default;
  // Shows a status text and a path; throttled to at most one change per
  // `interval` seconds (0 = at once). An empty text keeps the pending one.
  virtual void ShowStatus(std::string_view text, std::string_view path, double interval) = 0;
  // Refreshes the progress figure from the session; current_file_work is the
  // work already done on the file being copied, in work units.
  virtual void UpdateProgress(const SyncSession& session, double current_file_work) = 0;
  // Controls into the running state (Stop offered unless stop is disallowed).
  virtual void EnterRunningState(bool disallow_stop) = 0;
  // Controls back to the idle state after a run.
  virtual void EnterIdleState() = 0;
  // Ends the program with the session's exit code (automatic exit).
  virtual void CloseProgram(int exit_code) = 0;
  // Lets pending events run once (a stop request reaches the session here).
  virtual void PumpEvents() = 0;
  // The deletion guard would stop the deleting phase: asks whether to
  // delete all the same. Only a run that may ask (not Quiet, no preview)
  // calls it; by default no one is asked.
  virtual DeletionAnswer AskDeletion(const DeletionQuestion& question) {
    (void)question;
    return DeletionAnswer::NotAsked;
  }
};

}  // namespace twinmere
