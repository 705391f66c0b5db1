// The read-ahead's lookup pool: the threads that read what the walk will
// ask of each listed item (its stat and security, and its counterpart's in
// the other tree) while the walk works on the items before it. The walker
// fills the items' own part itself where their file system is local.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/folder_walk_posix_internal.h"

namespace twinmere::posix {
namespace {

// A counterpart folder keeps at most this many listed names; the names of a
// larger one are looked up one by one.
constexpr size_t kMaxListedNames = 16384;

}  // namespace

void CounterpartFolder::Prepare(const WalkPlan& plan, const std::atomic<uint64_t>& changes) {
  std::call_once(prepared, [&] {
    const int fd = folder->fd.get();
    // Names listed as asked for answer on any file system: how this one
    // compares names matters only where they do not.
    if (plan.counterparts == ItemDetail::Full) {
      case_insensitive = PosixFileSystem::DetectCaseInsensitive(fd) > 0;
      if (!case_insensitive) return;
    }
    listed_at = changes.load();
    // A descriptor that cannot list (O_PATH) fails here: nothing is listed.
    DirentStream stream(fd);
    const linux_dirent64_record* entry = nullptr;
    ErrorCode code = 0;
    while ((code = stream.Next(entry)) == 0 && names.size() < kMaxListedNames) {
      if (!IsDots(entry->d_name)) names.emplace_back(entry->d_name, entry->d_type);
    }
    if (code == kErrNoMoreEntries) {
      std::sort(names.begin(), names.end());
      listed = true;
      return;
    }
    std::vector<std::pair<std::string, unsigned char>>().swap(names);
    if (plan.counterparts == ItemDetail::Kind)
      case_insensitive = PosixFileSystem::DetectCaseInsensitive(fd) > 0;
  });
}

bool CounterpartFolder::Find(const std::string& name, unsigned char& type) const {
  const auto it =
      std::lower_bound(names.begin(), names.end(), name,
                       [](const auto& entry, const std::string& key) { return entry.first < key; });
  if (it == names.end() || it->first != name) return false;
  type = it->second;
  return true;
}

// Stats a listed item in the open folder `dir`; marks it `gone` when it is.
void StatItem(int dir, AheadItem& a) {
  struct stat st;
  if (fstatat(dir, a.item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      a.gone = true;
    } else {
      a.code = errno;
    }
    return;
  }
  // (FillInfo leaves the name alone: the counterpart's lookup may read it
  // at the same time.)
  if (!FillInfo(st, a.item)) a.gone = true;  // a FIFO put in its place
  a.stated = true;
  a.kind_known = true;
}

// The items' own part of a batch.
void FillItems(const ReadAheadState& state, Batch& batch, size_t begin, size_t end) {
  const int dir = batch.folder->fd.get();
  const bool stats = state.plan.items == ItemDetail::Full || state.plan.item_security;
  for (size_t i = begin; i < end; ++i) {
    AheadItem& a = batch.items[i];
    if (a.passed_over) continue;
    if (stats && !a.stated && !a.gone && a.code == 0) StatItem(dir, a);
    if (!state.plan.item_security || !a.stated || a.gone) continue;
    auto read = std::make_unique<AheadSecurity>();
    read->code = ReadSecurityAt(dir, a.item.name, &a.item, *state.use_getxattrat, read->security);
    if (read->code != kErrChangedMeanwhile) a.item_security = std::move(read);
  }
}

// The counterparts' part of a batch.
void FillCounterparts(const ReadAheadState& state, Batch& batch, size_t begin, size_t end) {
  CounterpartFolder& folder = *batch.counterpart;
  folder.Prepare(state.plan, *state.changes);
  const int dir = folder.folder->fd.get();
  const bool full = state.plan.counterparts == ItemDetail::Full;
  for (size_t i = begin; i < end; ++i) {
    AheadItem& a = batch.items[i];
    if (a.passed_over) continue;
    const std::string& name = a.item.name;
    unsigned char type = DT_UNKNOWN;
    const bool listed = folder.listed && folder.Find(name, type);
    // A folder that compares names ignoring case answers only for names
    // listed as they are written; one too large to list, for none.
    if (folder.case_insensitive && !listed) continue;
    if (folder.listed && !listed) continue;  // missing: the walk's lookup says so
    if (listed && SkippedType(type)) continue;
    if (!full && listed && KindOfType(type, a.other.kind)) {
      a.other_found = true;
      continue;
    }
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !FillInfo(st, a.other))
      continue;
    a.other_found = true;
    a.other_stated = true;
    if (!state.plan.counterpart_security) continue;
    auto read = std::make_unique<AheadSecurity>();
    read->code = ReadSecurityAt(dir, name, &a.other, *state.use_getxattrat, read->security);
    if (read->code != kErrChangedMeanwhile) a.other_security = std::move(read);
  }
}

namespace {

void RunJob(const ReadAheadState& state, const LookupJob& job) {
  if (job.part == LookupPart::Counterparts) {
    FillCounterparts(state, *job.batch, job.begin, job.end);
  } else {
    FillItems(state, *job.batch, job.begin, job.end);
  }
}

}  // namespace

// A lookup thread: runs jobs until the read-ahead stops, then skips the
// jobs left (their batches are finished by the walk itself).
void RunLookups(const std::shared_ptr<ReadAheadState>& state) {
  for (;;) {
    LookupJob job;
    {
      std::unique_lock<std::mutex> lock(state->jobs_mutex);
      state->jobs_added.wait(lock, [&] { return !state->jobs.empty() || state->stop.load(); });
      if (state->jobs.empty()) return;
      job = std::move(state->jobs.front());
      state->jobs.pop_front();
    }
    if (!state->stop.load(std::memory_order_relaxed)) RunJob(*state, job);
    state->JobDone(*job.batch, job.end - job.begin);
  }
}

}  // namespace twinmere::posix
