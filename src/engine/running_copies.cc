// Copies that run beside the walk: where every request of the receiving file
// system is a round trip, the copy plan of a file starts its copy and the
// walk goes on; the rest of the plan (the follow-up steps and the line) comes
// when the copy ends, and its line takes the place the item had in the walk.
// A folder the walk leaves gets its times back once the copies into it end,
// and the walk ends only when every copy has.
#include <algorithm>

#include "engine/compare.h"
#include "engine/sync_run.h"
#include "fs/paths.h"

namespace twinmere {
namespace {

// How long one wait for the copies lasts before the window's events are
// served and the progress shown again.
constexpr double kWaitSeconds = 0.1;

}  // namespace

void Synchronizer::Impl::StartCopy(FilesEnumerator& e, const std::string& path, ActionCode action,
                                   Side side, uint64_t old_size) {
  if (copy_pool->Running() >= copy_pool->Capacity()) CollectCopies(CopyWait::Room);
  auto running = std::make_unique<RunningCopy>();
  running->tag = ++copy_tags;
  running->folder = FolderPart(path);
  running->name = NameIgnoringCase(std::string_view(path).substr(running->folder.size()));
  running->size = e.Size();
  running->old_size = old_size;
  running->side = side;
  running->action = action;
  const ErrorCode error = StartCopyTo(e, path, *copy_pool, running->tag, running->copy);
  ContentsChanged(path);
  if (error != kSuccess) {
    EndCopy(*running, error);
    return;
  }
  running->place = reporter.ReservePlace();
  running_copies.push_back(std::move(running));
}

void Synchronizer::Impl::CollectCopies(CopyWait wait) {
  while (copy_pool != nullptr && copy_pool->Running() != 0) {
    const bool must = wait == CopyWait::All ||
                      (wait == CopyWait::Room && copy_pool->Running() >= copy_pool->Capacity());
    if (!CollectOne(must ? kWaitSeconds : 0) && !must) return;
  }
}

void Synchronizer::Impl::AwaitCopiesOfName(const std::string& path) {
  const std::string folder = FolderPart(path);
  if (!CopiesRunningInto(folder)) return;
  const std::string name = NameIgnoringCase(std::string_view(path).substr(folder.size()));
  const auto same = [&](const auto& running) {
    return running->folder == folder && running->name == name;
  };
  while (std::any_of(running_copies.begin(), running_copies.end(), same)) CollectOne(kWaitSeconds);
}

bool Synchronizer::Impl::CollectOne(double seconds) {
  uint64_t tag = 0;
  ErrorCode error = kSuccess;
  if (!copy_pool->Collect(seconds, tag, error)) {
    if (seconds > 0) {
      host.UpdateProgress(session, RunningCopyUnits());
      host.PumpEvents();
    }
    return false;
  }
  const auto it = std::find_if(running_copies.begin(), running_copies.end(),
                               [tag](const auto& running) { return running->tag == tag; });
  if (it == running_copies.end()) return true;
  const std::unique_ptr<RunningCopy> running = std::move(*it);
  running_copies.erase(it);
  EndCopy(*running, error);
  // Folders left meanwhile whose last copy this was.
  std::erase_if(folders_awaiting_times, [this](const std::string& folder) {
    if (CopiesRunningInto(folder)) return false;
    RestoreFolderTimes(folder);
    return true;
  });
  return true;
}

// As CopyPlan after its copy: the security where the copy could not give
// it, and the line.
void Synchronizer::Impl::EndCopy(RunningCopy& running, ErrorCode error) {
  StartedCopy& copy = running.copy;
  error = twinmere::EndCopy(*fs, copy, error);
  if (error == kSuccess && context.security_support && !copy.security_given) {
    if (copy.security_read || fs->ReadSecurity(copy.from, copy.security) == kSuccess)
      fs->WriteSecurity(copy.to, copy.security);
    fs->SetMode(copy.to, copy.mode & 07777);
  }
  const int64_t change =
      static_cast<int64_t>(running.size) - static_cast<int64_t>(running.old_size);
  if (running.place == 0) {
    reporter.ReportAction(error, copy.to, running.action, running.size, running.side, change);
  } else {
    reporter.ReportActionAt(running.place, error, copy.to, running.action, running.size,
                            running.side, change);
  }
}

bool Synchronizer::Impl::CopiesRunningInto(const std::string& folder) const {
  return std::any_of(running_copies.begin(), running_copies.end(),
                     [&folder](const auto& running) { return running->folder == folder; });
}

double Synchronizer::Impl::RunningCopyUnits() const {
  uint64_t bytes = 0;
  for (const auto& running : running_copies) bytes += running->copy.progress.Bytes();
  return static_cast<double>(bytes) / kBytesPerWorkUnit;
}

}  // namespace twinmere
