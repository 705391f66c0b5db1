// One synchronization run from the checks to the summary.
#pragma once

#include <memory>
#include <string>

#include "base/sync_options.h"
#include "engine/sync_host.h"
#include "engine/sync_session.h"
#include "fs/files_enumerator.h"
#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "report/reporter.h"

namespace twinmere {

// Runs on the caller's thread. The front end owns the options, the reporter
// and the session and keeps them alive while a run goes on; another thread
// may only raise session.StopRequested.
class Synchronizer final : public IEnumFile, public IProgress, public ReportSelfSync {
 public:
  Synchronizer(SyncOptions& options, SyncSession& session, const PlatformFacts& facts,
               FileSystem& fs, Reporter& reporter, SyncHost& host);
  ~Synchronizer() override;

  // One whole run. Sets session.ExitCode (0, 1, 4, 5, or 18 to 22) and then
  // writes the JSON summary when the options ask for one (Reporter::EndRun).
  void Synchronize();

  // ReportSelfSync: synchronizes the report file alone.
  void SyncReportFile(bool towards) override;

  // Removes a Target item of the other kind than the Source item `source`
  // (a folder with all its contents). Returns 0 when it is gone.
  ErrorCode RemoveConflict(const std::string& target_path, FilesEnumerator& source);

  // IEnumFile: the item handler.
  void File(FilesEnumerator& e) override;
  void AccessError(const std::string& path, ErrorCode code) override;
  void SecurityError(const std::string& path, ErrorCode code) override;

  // IProgress: copy progress of the file being copied.
  void SetProgress(uint64_t bytes_copied) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace twinmere
