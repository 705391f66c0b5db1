// One synchronization run from the checks to the summary.
#pragma once

#include <memory>
#include <string>

#include "base/sync_options.h"
#include "engine/sync_host.h"
#include "engine/sync_session.h"
#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "report/reporter.h"

namespace twinmere {

// The guard against mass deletion of a run with Delete: before the deleting
// phase removes anything, it counts what it would delete. When Source is
// empty while that is not nothing, or when it is at least `minimum_items`
// items and more than `percent` % of Target's items, nothing is deleted
// (unless the host's question allows it, or ForceDelete lifts the guard).
struct DeletionGuard {
  int32_t percent = kDefaultDeletionGuardPercent;
  int64_t minimum_items = 20;
};

// What a run gives back to its front end.
struct RunOutcome {
  // The folders as the run took them, ending in "/" (as given where the run
  // refused them before).
  std::string source;
  std::string target;
  // Quiet as the run ended: lifted when the report or the JSON summary could
  // not be written, so that the program stays open to show why.
  bool quiet = false;
  int exit_code = 0;  // 0, 1, 4, 5, or 18 to 22 (also session.ExitCode)
};

// Runs on the caller's thread. The front end owns the options, the reporter
// and the session and keeps them alive while a run goes on; another thread
// may only raise session.StopRequested. The options are read, never
// written: what the run made of them comes back in its RunOutcome.
class Synchronizer final {
 public:
  // Becomes the reporter's ReportSelfSync for its life.
  Synchronizer(const SyncOptions& options, SyncSession& session, const PlatformFacts& facts,
               FileSystem& fs, Reporter& reporter, SyncHost& host);
  ~Synchronizer();
  Synchronizer(const Synchronizer&) = delete;
  Synchronizer& operator=(const Synchronizer&) = delete;

  // One whole run. Sets session.ExitCode and then writes the JSON summary
  // when the options ask for one (Reporter::EndRun). With options.Preview
  // nothing is written to Source or Target: the run works on a
  // PreviewFileSystem in front of the file system and shows the lines it
  // would write, between a first and a last line that say so.
  RunOutcome Synchronize();
  // The deletion guard of the next runs.
  void SetDeletionGuard(const DeletionGuard& guard);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace twinmere
