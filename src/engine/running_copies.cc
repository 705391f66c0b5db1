#include "engine/running_copies.h"

#include <algorithm>

#include "engine/compare.h"
#include "fs/paths.h"

namespace twinmere {
namespace {

// How long one wait for the copies lasts before the window's events are
// served and the progress shown again.
constexpr double kWaitSeconds = 0.1;

}  // namespace

void RunningCopies::Open(std::unique_ptr<CopyPool> pool, FileSystem& fs, bool security_support) {
  pool_ = std::move(pool);
  fs_ = &fs;
  security_support_ = security_support;
}

void RunningCopies::Close() {
  if (pool_ == nullptr) return;
  Collect(Wait::All);
  pool_.reset();
}

void RunningCopies::Start(FilesEnumerator& e, const std::string& path, ActionCode action, Side side,
                          uint64_t old_size) {
  if (pool_->Running() >= pool_->Capacity()) Collect(Wait::Room);
  auto running = std::make_unique<Running>();
  running->tag = ++tags_;
  running->folder = FolderPart(path);
  running->name = NameIgnoringCase(std::string_view(path).substr(running->folder.size()));
  running->size = e.Size();
  running->old_size = old_size;
  running->side = side;
  running->action = action;
  const ErrorCode error = StartCopyTo(e, path, *pool_, running->tag, running->copy);
  if (error != kSuccess) {
    End(*running, error);
    return;
  }
  running->place = reporter_.ReservePlace();
  running_.push_back(std::move(running));
}

void RunningCopies::Collect(Wait wait) {
  while (pool_ != nullptr && pool_->Running() != 0) {
    const bool must =
        wait == Wait::All || (wait == Wait::Room && pool_->Running() >= pool_->Capacity());
    if (!CollectOne(must ? kWaitSeconds : 0) && !must) return;
  }
}

void RunningCopies::AwaitName(const std::string& path) {
  const std::string folder = FolderPart(path);
  if (!RunningInto(folder)) return;
  const std::string name = NameIgnoringCase(std::string_view(path).substr(folder.size()));
  const auto same = [&](const auto& running) {
    return running->folder == folder && running->name == name;
  };
  while (std::any_of(running_.begin(), running_.end(), same)) CollectOne(kWaitSeconds);
}

bool RunningCopies::CollectOne(double seconds) {
  uint64_t tag = 0;
  ErrorCode error = kSuccess;
  if (!pool_->Collect(seconds, tag, error)) {
    if (seconds > 0) {
      host_.UpdateProgress(session_, Units());
      host_.PumpEvents();
    }
    return false;
  }
  const auto it = std::find_if(running_.begin(), running_.end(),
                               [tag](const auto& running) { return running->tag == tag; });
  if (it == running_.end()) return true;
  const std::unique_ptr<Running> running = std::move(*it);
  running_.erase(it);
  End(*running, error);
  if (ended_) ended_();
  return true;
}

// As the copy plan after its copy: the security where the copy could not
// give it, and the line.
void RunningCopies::End(Running& running, ErrorCode error) {
  StartedCopy& copy = running.copy;
  error = EndCopy(*fs_, copy, error);
  if (error == kSuccess && security_support_ && !copy.security_given) {
    if (copy.security_read || fs_->ReadSecurity(copy.from, copy.security) == kSuccess)
      fs_->WriteSecurity(copy.to, copy.security);
    fs_->SetMode(copy.to, copy.mode & 07777);
  }
  const int64_t change =
      static_cast<int64_t>(running.size) - static_cast<int64_t>(running.old_size);
  if (running.place == 0) {
    reporter_.ReportAction(error, copy.to, running.action, running.size, running.side, change);
  } else {
    reporter_.ReportActionAt(running.place, error, copy.to, running.action, running.size,
                             running.side, change);
  }
}

bool RunningCopies::RunningInto(const std::string& folder) const {
  return std::any_of(running_.begin(), running_.end(),
                     [&folder](const auto& running) { return running->folder == folder; });
}

double RunningCopies::Units() const {
  uint64_t bytes = 0;
  for (const auto& running : running_) bytes += running->copy.progress.Bytes();
  return static_cast<double>(bytes) / kBytesPerWorkUnit;
}

}  // namespace twinmere
