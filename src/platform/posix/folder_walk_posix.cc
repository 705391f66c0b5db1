// Folder listings, and the read-ahead of a planned walk: a walker thread lists
// the walked tree in the walk's order, and a pool of lookup threads reads what
// the walk will ask of each item (its stat and security, and its counterpart's
// in the other tree) while the walk works on the items before it.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

bool SkippedType(unsigned char type) {
  return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

// The kind a listing entry's type tells; false when it tells none.
bool KindOfType(unsigned char type, ItemKind& kind) {
  switch (type) {
    case DT_REG:
      kind = ItemKind::File;
      return true;
    case DT_DIR:
      kind = ItemKind::Folder;
      return true;
    case DT_LNK:
      kind = ItemKind::Link;
      return true;
    default:
      return false;
  }
}

// The next item of a folder listing: "." and "..", FIFOs, sockets, devices
// and entries gone since the listing was read are skipped. 0 with an item,
// kErrNoMoreEntries at the end, or the error that ended the listing.
ErrorCode NextItem(int fd, DirentStream& stream, ItemInfo& item) {
  for (;;) {
    const linux_dirent64_record* entry = nullptr;
    if (const ErrorCode code = stream.Next(entry); code != 0) return code;
    if (IsDots(entry->d_name) || SkippedType(entry->d_type)) continue;
    struct stat st;
    if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since the listing was read
      return errno;
    }
    if (!FillInfo(st, item)) continue;
    item.name = entry->d_name;
    return 0;
  }
}

class PosixFolderReader : public FolderReader {
 public:
  explicit PosixFolderReader(Fd fd) : fd_(std::move(fd)), stream_(fd_.get()) {}

  ErrorCode Next(ItemInfo& item) override { return NextItem(fd_.get(), stream_, item); }

 private:
  Fd fd_;
  DirentStream stream_;
};

// ---- read-ahead --------------------------------------------------------------
//
// After ExpectWalk a walker thread lists the tree in the order the walk opens
// its folders (pre-order, subfolders in listing order) and queues each
// folder's items in batches. Lookup threads fill a batch with what the plan
// asks for: the items' stats and security (on a local file system the walker
// does this itself), their counterparts' stats and security. OpenFolder then
// serves the next queued listing instead of reading the disk, and its reader
// hands the items over in listing order once their batch is filled. The
// queue is bounded; should the walk wait for a listing while the queue is
// full of items the walk still holds (a huge folder), the walker hands the
// open folder over to the walk, which reads the rest itself, and ends.
//
// A counterpart is answered only where it was found under exactly the name
// asked for; one that is missing, and every case of doubt, is left to the
// walk's own lookup. Where the plan needs no more than the kind, or the
// counterpart's folder compares names ignoring case, its names are listed
// once and the answers come from that listing.

// The queued items stay below both bounds.
constexpr size_t kReadAheadMaxItems = 4096;
constexpr size_t kReadAheadMaxBytes = size_t{4} << 20;
// Items are queued in batches, so that the lock is taken rarely.
constexpr size_t kReadAheadBatch = 128;
// A counterpart folder keeps at most this many listed names; the names of a
// larger one are looked up one by one.
constexpr size_t kMaxListedNames = 16384;
// On a file system where every lookup is a round trip (network, FUSE) this
// many lookups are in flight at once, in jobs of a few items each.
constexpr int kRemoteLookupThreads = 16;
constexpr size_t kRemoteJobItems = 4;
// A thread waiting for another is woken once this many items are ready for
// it (or nothing more is coming soon), not for every batch: each wake-up
// costs two context switches, which the items of one small folder do not
// pay for.
constexpr size_t kWakeItems = 512;
// Item lists kept for reuse (see ReadAheadState::spare).
constexpr size_t kSpareBatches = 32;

// File systems whose lookups stay on this machine: one thread, working
// through a whole batch at a time, keeps up with the walk.
bool IsLocal(int fd) {
  struct statfs sfs;
  if (fstatfs(fd, &sfs) != 0) return false;
  switch (static_cast<uint64_t>(sfs.f_type)) {
    case kExt4Magic:
    case kXfsMagic:
    case kBtrfsMagic:
    case kTmpfsMagic:
    case kF2fsMagic:
    case kMsdosMagic:
    case kExfatMagic:
    case kNtfs3Magic:
    case 0x858458f6:  // ramfs
    case 0x2FC12FC1:  // zfs
    case 0xca451a4e:  // bcachefs
    case 0x794c7630:  // overlayfs
      return true;
    default:
      return false;
  }
}

}  // namespace

// The file system holds these across calls: not in the anonymous namespace.

// An open folder shared by the batches and lookups that read in it.
struct SharedFolder {
  Fd fd;
};

// The folder in the other tree that holds the counterparts of a walked
// folder's items. The first lookup thread that needs it prepares it (how it
// compares names, and its names where the answers come from them); the
// fields below `prepared` are set once, then only read.
struct CounterpartFolder {
  std::shared_ptr<SharedFolder> folder;
  std::once_flag prepared;
  bool case_insensitive = false;
  // The folder's names and entry types, sorted by name, with the change
  // count read before they were listed; `listed` only when complete.
  bool listed = false;
  std::vector<std::pair<std::string, unsigned char>> names;
  uint64_t listed_at = 0;

  void Prepare(const WalkPlan& plan, const std::atomic<uint64_t>& changes) {
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

  // The entry type listed for `name`; false when not listed.
  bool Find(const std::string& name, unsigned char& type) const {
    const auto it = std::lower_bound(
        names.begin(), names.end(), name,
        [](const auto& entry, const std::string& key) { return entry.first < key; });
    if (it == names.end() || it->first != name) return false;
    type = it->second;
    return true;
  }
};

struct AheadSecurity {
  ErrorCode code = 0;
  Security security;
};

// What was read ahead for one listed item.
struct AheadItem {
  ItemInfo item;                    // the name; the rest as far as `stated`
  unsigned char type = DT_UNKNOWN;  // from the listing
  bool stated = false;              // `item` holds the item's stat
  bool kind_known = false;
  bool gone = false;   // vanished, or of a kind never handed over: skipped
  ErrorCode code = 0;  // its stat failed otherwise: the listing ends here
  // The counterpart under the same name: its kind, and its stat too when
  // `other_stated`.
  bool other_found = false;
  bool other_stated = false;
  ItemInfo other;
  // Security read ahead, with the result of the read (rare to be needed:
  // kept apart so that the items stay small).
  std::unique_ptr<AheadSecurity> item_security;
  std::unique_ptr<AheadSecurity> other_security;
};

// Listed items of one folder, filled by the lookup jobs counted in `pending`.
struct Batch {
  std::vector<AheadItem> items;
  std::shared_ptr<SharedFolder> folder;
  std::shared_ptr<CounterpartFolder> counterpart;  // null: none planned or none there
  std::atomic<int> pending{0};
  uint64_t read_at = 0;  // the change count before any counterpart was read
  size_t bytes = 0;
};

// The rest of a folder the walker gave up: the walk reads it itself.
struct FolderRest {
  std::shared_ptr<SharedFolder> folder;
  DirentStream stream;
  FolderRest(std::shared_ptr<SharedFolder> open, DirentStream rest)
      : folder(std::move(open)), stream(std::move(rest)) {}
};

// One folder of the read-ahead stream. Guarded by ReadAheadState::mutex.
struct QueuedFolder {
  std::string path;                            // as OpenFolder receives it, trimmed
  bool direct = false;                         // the walker could not open it: OpenFolder does
  std::deque<std::shared_ptr<Batch>> batches;  // not yet taken by the reader
  size_t count = 0;                            // items in `batches`
  size_t bytes = 0;                            // and their bytes
  bool complete = false;                       // no more batches will come from the walker
  ErrorCode end = kErrNoMoreEntries;           // what the listing ended with
  std::unique_ptr<FolderRest> rest;            // with complete: the items after `batches`
  bool abandoned = false;                      // its reader is gone (or it was skipped)
};

struct LookupJob {
  std::shared_ptr<Batch> batch;
  size_t begin = 0;
  size_t end = 0;
  bool counterparts = false;  // else the items themselves
};

struct ReadAheadState {
  explicit ReadAheadState(const WalkPlan& walk_plan, std::string walked_prefix,
                          std::shared_ptr<std::atomic<bool>> getxattrat,
                          std::shared_ptr<std::atomic<uint64_t>> change_count)
      : plan(walk_plan),
        prefix(std::move(walked_prefix)),
        use_getxattrat(std::move(getxattrat)),
        changes(std::move(change_count)) {}

  const WalkPlan plan;
  // The walked folder followed by "/": a folder's path below it names its
  // counterpart folder below plan.counterpart_root.
  const std::string prefix;
  const std::shared_ptr<std::atomic<bool>> use_getxattrat;
  const std::shared_ptr<std::atomic<uint64_t>> changes;

  std::mutex mutex;
  std::condition_variable produced;  // the walk waits on it
  std::condition_variable consumed;  // the walker waits on it
  std::deque<std::shared_ptr<QueuedFolder>> queue;
  size_t items = 0;  // queued items and folders, not yet taken by a reader
  size_t bytes = 0;
  size_t published = 0;         // items and folders ever queued
  bool finished = false;        // the walker queues nothing more
  bool walk_waiting = false;    // the walk waits for the walker
  size_t walk_wait_from = 0;    // `published` when it began to wait
  bool walker_waiting = false;  // the walker waits for room

  // The lookup pool's jobs, and what the walk waits for of them.
  std::mutex jobs_mutex;
  std::condition_variable jobs_added;
  std::deque<LookupJob> jobs;
  size_t jobs_unannounced = 0;            // items of jobs queued since the pool was last woken
  std::atomic<size_t> jobs_in_flight{0};  // queued or running
  std::atomic<size_t> looked_up{0};       // items of jobs done
  std::atomic<bool> walk_waiting_for_lookups{false};
  std::atomic<size_t> lookups_wait_from{0};  // `looked_up` when the walk began to wait
  std::atomic<bool> stop{false};

  // Item lists of batches the walk is done with, for the walker's next
  // batches: a long walk then reuses the same memory instead of scattering
  // new blocks over the heap.
  std::mutex spare_mutex;
  std::vector<std::vector<AheadItem>> spare;

  std::vector<AheadItem> TakeSpare() {
    std::lock_guard<std::mutex> lock(spare_mutex);
    if (spare.empty()) return {};
    std::vector<AheadItem> items = std::move(spare.back());
    spare.pop_back();
    return items;
  }
  // Called with the items of a batch whose lookups are done: the lists of
  // small folders are let go (they were made to measure).
  void GiveBack(std::vector<AheadItem>&& items) {
    std::vector<AheadItem> list = std::move(items);
    if (list.capacity() < kReadAheadBatch) return;
    list.clear();
    std::lock_guard<std::mutex> lock(spare_mutex);
    if (spare.size() < kSpareBatches) spare.push_back(std::move(list));
  }

  bool Full() const { return items >= kReadAheadMaxItems || bytes >= kReadAheadMaxBytes; }
  // A full queue waits until half of it is taken, so that the two threads
  // do not wake each other for every batch.
  bool HalfEmpty() const {
    return items < kReadAheadMaxItems / 2 && bytes < kReadAheadMaxBytes / 2;
  }
  // Called by the walk after it took items: wakes a walker waiting for room.
  void Taken() {
    if (walker_waiting && HalfEmpty()) consumed.notify_one();
  }
  // Called by the walk before it waits: a walker waiting for room must hear
  // of it, or both would wait for each other.
  void WalkWaits() {
    walk_waiting = true;
    walk_wait_from = published;
    if (walker_waiting) consumed.notify_one();
  }
  // Called by the walker after it queued `count` items or folders, or
  // (with 0) ended a folder or the walk: a waiting walk is woken once
  // enough is there for it, or when nothing more comes.
  void Queued(size_t count) {
    published += count;
    if (walk_waiting && (finished || published - walk_wait_from >= kWakeItems))
      produced.notify_all();
  }
  // Called by a lookup thread after a job of `count` items: a waiting walk
  // is woken once enough is done, or when no job is left.
  void JobDone(Batch& batch, size_t count) {
    batch.pending.fetch_sub(1);
    const size_t done = looked_up.fetch_add(count) + count;
    const bool idle = jobs_in_flight.fetch_sub(1) == 1;
    if (walk_waiting_for_lookups.load() &&
        (idle || done - lookups_wait_from.load() >= kWakeItems)) {
      std::lock_guard<std::mutex> lock(mutex);
      produced.notify_all();
    }
  }
  // Wakes the lookup threads for the jobs queued so far.
  void AnnounceJobs() {
    std::lock_guard<std::mutex> lock(jobs_mutex);
    jobs_unannounced = 0;
    jobs_added.notify_all();
  }
};

namespace {

size_t ItemBytes(const AheadItem& item) {
  return sizeof(AheadItem) + (item.item.name.size() >= 16 ? item.item.name.capacity() + 1 : 0);
}

// Stats a listed item in the open folder `dir`. False when it is gone.
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

void RunJob(const ReadAheadState& state, const LookupJob& job) {
  if (job.counterparts) {
    FillCounterparts(state, *job.batch, job.begin, job.end);
  } else {
    FillItems(state, *job.batch, job.begin, job.end);
  }
}

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

// Serves one queued listing, then the rest the walker handed over.
class QueuedFolderReader : public FolderReader {
 public:
  QueuedFolderReader(std::shared_ptr<ReadAheadState> state, std::shared_ptr<QueuedFolder> folder)
      : state_(std::move(state)), folder_(std::move(folder)) {}

  ~QueuedFolderReader() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    folder_->abandoned = true;
    state_->items -= folder_->count;
    state_->bytes -= folder_->bytes;
    folder_->batches.clear();
    folder_->count = 0;
    folder_->bytes = 0;
    state_->Taken();
  }

  ErrorCode Next(ItemInfo& item) override {
    last_ = nullptr;
    for (;;) {
      if (batch_ != nullptr && pos_ < batch_->items.size()) {
        AheadItem& a = batch_->items[pos_++];
        Finish(a);
        if (a.gone) continue;
        if (a.code != 0) {
          done_ = true;
          end_ = a.code;
          batch_.reset();
          return end_;
        }
        item = a.item;
        last_ = &a;
        if (pos_ == batch_->items.size()) {
          // The batch's last item: kept alone, so that a walk that goes
          // down from here (into a subfolder of one item, in a deep tree)
          // holds no list for this level.
          held_ = std::move(a);
          last_ = &held_;
          state_->GiveBack(std::move(batch_->items));
          pos_ = 0;
        }
        return 0;
      }
      if (rest_ != nullptr) return NextItem(rest_->folder->fd.get(), rest_->stream, item);
      if (done_) return end_;
      Refill();
    }
  }

  bool Detailed() const override { return last_ == nullptr || last_->stated; }

  bool AheadCounterpart(const std::string& path, ItemInfo& info, bool& detailed) override {
    if (last_ == nullptr || !last_->other_found || !IsCounterpart(path)) return false;
    const ItemInfo& other = last_->other;
    info.name = last_->item.name;
    info.short_name.clear();
    info.kind = other.kind;
    info.mode = other.mode;
    info.size = other.size;
    info.access_time = other.access_time;
    info.modify_time = other.modify_time;
    info.change_time = other.change_time;
    info.uid = other.uid;
    info.gid = other.gid;
    info.device = other.device;
    info.inode = other.inode;
    detailed = last_->other_stated;
    return true;
  }

  bool AheadItemSecurity(Security& security, ErrorCode& code) override {
    if (last_ == nullptr || last_->item_security == nullptr) return false;
    security = last_->item_security->security;
    code = last_->item_security->code;
    return true;
  }

  bool AheadCounterpartSecurity(const std::string& path, Security& security,
                                ErrorCode& code) override {
    if (last_ == nullptr || last_->other_security == nullptr || !IsCounterpart(path)) return false;
    security = last_->other_security->security;
    code = last_->other_security->code;
    return true;
  }

 private:
  // The planned counterpart path of the last item, read since the last
  // change (its folder's names perhaps before the batch was made).
  bool IsCounterpart(const std::string& path) const {
    const CounterpartFolder* folder = batch_->counterpart.get();
    if (folder == nullptr) return false;
    const uint64_t read_at =
        folder->listed ? std::min(batch_->read_at, folder->listed_at) : batch_->read_at;
    if (read_at != state_->changes->load()) return false;
    // counterpart_root, the folder's path below the walked one and "/"
    // (none for the walked folder itself), the name.
    const std::string& root = state_->plan.counterpart_root;
    const std::string& walked = folder_->path;
    const std::string_view below =
        std::string_view(walked).substr(std::min(walked.size(), state_->prefix.size()));
    const std::string& name = last_->item.name;
    const size_t separator = below.empty() ? 0 : 1;
    return path.size() == root.size() + below.size() + separator + name.size() &&
           path.compare(0, root.size(), root) == 0 &&
           path.compare(root.size(), below.size(), below) == 0 &&
           (separator == 0 || path[root.size() + below.size()] == '/') &&
           path.compare(path.size() - name.size(), name.size(), name) == 0;
  }

  // What the plan needs that the lookups did not get to (the read-ahead
  // stopped before their job ran): read here.
  void Finish(AheadItem& a) {
    if (a.gone || a.code != 0) return;
    if (!a.kind_known || (state_->plan.items == ItemDetail::Full && !a.stated))
      StatItem(batch_->folder->fd.get(), a);
  }

  // Takes the next batch the walker queued for this folder, waiting for it
  // and for its lookups.
  void Refill() {
    batch_.reset();
    pos_ = 0;
    std::unique_lock<std::mutex> lock(state_->mutex);
    for (;;) {
      if (!folder_->batches.empty()) {
        std::shared_ptr<Batch> batch = std::move(folder_->batches.front());
        folder_->batches.pop_front();
        folder_->count -= batch->items.size();
        folder_->bytes -= batch->bytes;
        state_->items -= batch->items.size();
        state_->bytes -= batch->bytes;
        state_->Taken();
        if (batch->pending.load() != 0) {
          // The lookup threads may be resting until more jobs come.
          lock.unlock();
          state_->AnnounceJobs();
          lock.lock();
          while (batch->pending.load() != 0) {
            state_->lookups_wait_from.store(state_->looked_up.load());
            state_->walk_waiting_for_lookups.store(true);
            if (batch->pending.load() != 0) state_->produced.wait(lock);
            state_->walk_waiting_for_lookups.store(false);
          }
        }
        batch_ = std::move(batch);
        return;
      }
      if (folder_->complete) {
        if (folder_->rest != nullptr) {
          rest_ = std::move(folder_->rest);
        } else {
          done_ = true;
          end_ = folder_->end;
        }
        return;
      }
      state_->WalkWaits();
      state_->produced.wait(lock);
      state_->walk_waiting = false;
    }
  }

  std::shared_ptr<ReadAheadState> state_;
  std::shared_ptr<QueuedFolder> folder_;
  std::shared_ptr<Batch> batch_;  // its items handed over: empty
  size_t pos_ = 0;
  const AheadItem* last_ = nullptr;  // in batch_, or held_
  AheadItem held_;
  std::unique_ptr<FolderRest> rest_;
  bool done_ = false;
  ErrorCode end_ = kErrNoMoreEntries;
};

// The walker thread's work: lists `root` and every folder below it.
class ReadAheadWalker {
 public:
  ReadAheadWalker(std::shared_ptr<ReadAheadState> state, std::string prefix, bool local_items,
                  bool local_counterparts)
      : state_(std::move(state)),
        root_prefix_(std::move(prefix)),
        local_items_(local_items),
        local_counterparts_(local_counterparts) {}

  void Run(Fd root, std::string root_path, Fd counterpart_root) {
    // The frames share one path, the deepest frame's followed by "/": each
    // knows how much of it is its own, so that a deep tree keeps one path
    // instead of one per level. The counterparts' paths are made from it.
    struct Frame {
      std::shared_ptr<SharedFolder> folder;
      std::shared_ptr<SharedFolder> counterpart;  // null: none
      size_t prefix_length = 0;                   // of `prefix`, for this folder
      std::vector<std::string> subfolders;
      size_t next = 0;
    };
    std::string prefix = root_prefix_;
    std::vector<Frame> stack;
    std::vector<std::string> subfolders;
    auto top_folder = std::make_shared<SharedFolder>(SharedFolder{std::move(root)});
    std::shared_ptr<SharedFolder> top_counterpart;
    if (counterpart_root.valid())
      top_counterpart = std::make_shared<SharedFolder>(SharedFolder{std::move(counterpart_root)});
    if (List(top_folder, std::move(root_path), top_counterpart, subfolders)) {
      stack.push_back(Frame{std::move(top_folder), std::move(top_counterpart), prefix.size(),
                            std::move(subfolders), 0});
    }
    while (!stack.empty() && !state_->stop.load(std::memory_order_relaxed)) {
      Frame& top = stack.back();
      if (top.next == top.subfolders.size()) {
        stack.pop_back();
        continue;
      }
      prefix.resize(top.prefix_length);
      const std::string& name = top.subfolders[top.next++];
      std::string path = prefix + name;
      Fd fd(openat(top.folder->fd.get(), name.c_str(),
                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd.valid()) {
        // The walk opens it itself and meets the same error (or a folder
        // made meanwhile, whose subfolders then restart the read-ahead).
        if (!Queue(std::move(path), true)) break;
        continue;
      }
      std::shared_ptr<SharedFolder> counterpart;
      if (top.counterpart != nullptr) counterpart = OpenCounterpart(*top.counterpart, name);
      subfolders.clear();
      prefix += name;
      prefix += '/';
      auto folder = std::make_shared<SharedFolder>(SharedFolder{std::move(fd)});
      if (!List(folder, std::move(path), counterpart, subfolders)) break;
      stack.push_back(Frame{std::move(folder), std::move(counterpart), prefix.size(),
                            std::move(subfolders), 0});
    }
    state_->AnnounceJobs();
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->finished = true;
    state_->Queued(0);
  }

 private:
  // The counterpart of the subfolder `name`, never through a link. Null
  // where there is none (the walk's own lookups then find it missing).
  static std::shared_ptr<SharedFolder> OpenCounterpart(const SharedFolder& parent,
                                                       const std::string& name) {
    constexpr int kFlags = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Fd fd(openat(parent.fd.get(), name.c_str(), O_RDONLY | kFlags));
    // A folder we may search but not list still answers lookups.
    if (!fd.valid() && errno == EACCES)
      fd.Reset(openat(parent.fd.get(), name.c_str(), O_PATH | kFlags));
    if (!fd.valid()) return nullptr;
    return std::make_shared<SharedFolder>(SharedFolder{std::move(fd)});
  }

  // Queues a new folder; false when the walker is to end.
  bool Queue(std::string path, bool direct) {
    auto folder = std::make_shared<QueuedFolder>();
    folder->path = std::move(path);
    folder->direct = direct;
    folder->complete = direct;
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!WaitForRoom(lock)) return false;
    state_->items += 1;  // a queued folder counts as one item (OpenFolder takes it back)
    state_->queue.push_back(folder);
    current_ = std::move(folder);
    state_->Queued(1);
    return true;
  }

  // Waits while the queue is full. False when the walker is to end: stopped,
  // or the walk waits for something the full queue keeps from coming (it
  // began to wait after the last thing was queued).
  bool WaitForRoom(std::unique_lock<std::mutex>& lock) {
    if (state_->Full()) {
      lock.unlock();
      state_->AnnounceJobs();
      lock.lock();
      state_->walker_waiting = true;
      while (!state_->HalfEmpty() && !state_->stop.load()) {
        if (state_->walk_waiting) {
          if (state_->walk_wait_from == state_->published) break;
          state_->produced.notify_all();  // there is more for it than it knows
        }
        state_->consumed.wait(lock);
      }
      state_->walker_waiting = false;
    }
    return !state_->stop.load() && !state_->Full();
  }

  // Lists the folder into the queue and collects its subfolders. False
  // when the walker is to end (the open folder then went to its reader).
  bool List(const std::shared_ptr<SharedFolder>& folder, std::string path,
            const std::shared_ptr<SharedFolder>& counterpart_folder,
            std::vector<std::string>& subfolders) {
    if (!Queue(std::move(path), false)) return false;
    std::shared_ptr<CounterpartFolder> counterpart;
    if (counterpart_folder != nullptr) {
      counterpart = std::make_shared<CounterpartFolder>();
      counterpart->folder = counterpart_folder;
    }
    const int fd = folder->fd.get();
    DirentStream stream(fd);
    for (bool first = true;; first = false) {
      auto batch = std::make_shared<Batch>();
      // A folder that fills more than one batch takes a list kept for reuse.
      if (!first) batch->items = state_->TakeSpare();
      if (batch->items.capacity() == 0) batch->items.reserve(first ? 16 : kReadAheadBatch);
      batch->folder = folder;
      batch->counterpart = counterpart;
      batch->read_at = state_->changes->load();
      ErrorCode end = 0;
      while (batch->items.size() < kReadAheadBatch) {
        if (state_->stop.load(std::memory_order_relaxed)) return HandOver(folder, stream, batch);
        const linux_dirent64_record* entry = nullptr;
        if (const ErrorCode code = stream.Next(entry); code != 0) {
          end = code;
          break;
        }
        if (IsDots(entry->d_name) || SkippedType(entry->d_type)) continue;
        AheadItem a;
        a.item.name = entry->d_name;
        a.type = entry->d_type;
        a.kind_known = KindOfType(a.type, a.item.kind);
        // Which entries are subfolders the walker must know now.
        if (!a.kind_known) StatItem(fd, a);
        if (a.gone) continue;
        if (a.code == 0 && a.item.IsFolder()) subfolders.push_back(a.item.name);
        batch->bytes += ItemBytes(a);
        batch->items.push_back(std::move(a));
        if (batch->items.back().code != 0) {
          end = batch->items.back().code;
          break;
        }
      }
      if (!batch->items.empty() && !Publish(folder, stream, batch)) return false;
      if (end != 0) {
        std::lock_guard<std::mutex> lock(state_->mutex);
        current_->complete = true;
        current_->end = end;
        state_->Queued(0);
        return true;
      }
    }
  }

  // Fills what the walker fills itself, adds the batch to the current folder
  // and hands its lookups to the pool.
  bool Publish(const std::shared_ptr<SharedFolder>& folder, DirentStream& stream,
               std::shared_ptr<Batch>& batch) {
    const ReadAheadState& state = *state_;
    const size_t n = batch->items.size();
    const bool item_jobs = state.plan.items == ItemDetail::Full || state.plan.item_security;
    if (item_jobs && local_items_) FillItems(state, *batch, 0, n);
    std::vector<LookupJob> jobs;
    const auto add_jobs = [&](bool counterparts, bool local) {
      const size_t step = local ? n : kRemoteJobItems;
      for (size_t begin = 0; begin < n; begin += step)
        jobs.push_back(LookupJob{batch, begin, std::min(n, begin + step), counterparts});
    };
    if (item_jobs && !local_items_) add_jobs(false, false);
    if (batch->counterpart != nullptr) add_jobs(true, local_counterparts_);
    batch->pending.store(static_cast<int>(jobs.size()));

    std::unique_lock<std::mutex> lock(state_->mutex);
    QueuedFolder& queued = *current_;
    if (queued.abandoned) {
      batch->pending.store(0);
      return true;
    }
    if (!WaitForRoom(lock)) {
      batch->pending.store(0);
      lock.unlock();
      return HandOver(folder, stream, batch);
    }
    queued.count += n;
    queued.bytes += batch->bytes;
    state_->items += n;
    state_->bytes += batch->bytes;
    queued.batches.push_back(batch);
    state_->Queued(n);
    lock.unlock();
    if (!jobs.empty()) {
      state_->jobs_in_flight.fetch_add(jobs.size());
      std::lock_guard<std::mutex> jobs_lock(state_->jobs_mutex);
      for (LookupJob& job : jobs) state_->jobs.push_back(std::move(job));
      // One thread on a local file system keeps up when woken for many
      // items at once; remote lookups start at once, in parallel.
      state_->jobs_unannounced += n;
      if (!local_counterparts_ || !local_items_ || state_->jobs_unannounced >= kWakeItems) {
        state_->jobs_unannounced = 0;
        state_->jobs_added.notify_all();
      }
    }
    return true;
  }

  // Ends the current folder with what is read and the open folder itself.
  // The batch's lookups never ran: its reader reads what it needs.
  bool HandOver(const std::shared_ptr<SharedFolder>& folder, DirentStream& stream,
                std::shared_ptr<Batch>& batch) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    QueuedFolder& queued = *current_;
    if (!queued.abandoned) {
      if (!batch->items.empty()) {
        batch->counterpart.reset();
        queued.count += batch->items.size();
        queued.bytes += batch->bytes;
        state_->items += batch->items.size();
        state_->bytes += batch->bytes;
        queued.batches.push_back(batch);
      }
      queued.rest = std::make_unique<FolderRest>(folder, std::move(stream));
    }
    queued.complete = true;
    state_->Queued(batch->items.size());
    return false;
  }

  std::shared_ptr<ReadAheadState> state_;
  std::string root_prefix_;
  bool local_items_;
  bool local_counterparts_;
  std::shared_ptr<QueuedFolder> current_;
};

}  // namespace

void PosixFileSystem::ExpectWalk(const std::string& folder, const WalkPlan& plan) {
  StopReadAhead();
  if (options_.read_ahead) StartReadAhead(folder, plan);
}

ErrorCode PosixFileSystem::OpenFolder(const std::string& folder,
                                      std::unique_ptr<FolderReader>& reader) {
  if (read_ahead_ != nullptr) {
    const std::string path = Trimmed(folder);
    if (path == read_ahead_root_ || InWalkedTree(path)) {
      if (std::shared_ptr<QueuedFolder> queued = TakeQueued(path, folder); queued != nullptr) {
        if (!queued->direct) {
          reader = std::make_unique<QueuedFolderReader>(read_ahead_, std::move(queued));
          return 0;
        }
      }
    }
  }
  return OpenFolderDirectly(folder, reader);
}

ErrorCode PosixFileSystem::OpenFolderDirectly(const std::string& folder,
                                              std::unique_ptr<FolderReader>& reader) {
  Fd fd;
  if (const ErrorCode code = OpenPath(Trimmed(folder), O_RDONLY | O_DIRECTORY, true, fd); code != 0)
    return code;
  reader = std::make_unique<PosixFolderReader>(std::move(fd));
  return 0;
}

// Starts the walker on `folder`, opened as OpenFolder opens it, and the
// counterpart folder as a lookup opens it. Without the walker (the folder
// cannot be opened) every OpenFolder reads the disk itself.
void PosixFileSystem::StartReadAhead(const std::string& folder, const WalkPlan& plan) {
  const std::string root = Trimmed(folder);
  Fd fd;
  if (OpenPath(root, O_RDONLY | O_DIRECTORY, true, fd) != 0) return;
  Fd counterpart;
  if (!plan.counterpart_root.empty()) {
    // Not as a confined root is opened (as written) where it lies below one.
    const std::string other = Trimmed(plan.counterpart_root);
    if (OpenPath(other, O_RDONLY | O_DIRECTORY, true, counterpart) != 0)
      OpenPath(other, O_PATH | O_DIRECTORY, true, counterpart);
  }
  // Subfolder paths are built the way the walk builds them: the folder as
  // given, one "/" after it, then the names.
  std::string prefix = folder;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  WalkPlan used = plan;
  if (!counterpart.valid()) used.counterpart_root.clear();
  if (!used.counterpart_root.empty() && used.counterpart_root.back() != '/')
    used.counterpart_root += '/';
  const bool forced = options_.lookup_threads > 1;
  const bool local_items = !forced && IsLocal(fd.get());
  const bool local_counterparts = !forced && (!counterpart.valid() || IsLocal(counterpart.get()));
  const bool lookups = (used.items == ItemDetail::Full || used.item_security) && !local_items;
  const bool counterpart_lookups = counterpart.valid();
  const int threads = !lookups && !counterpart_lookups                ? 0
                      : forced                                        ? options_.lookup_threads
                      : local_items && local_counterparts && !lookups ? 1
                                                                      : kRemoteLookupThreads;
  read_ahead_ = std::make_shared<ReadAheadState>(used, prefix, use_getxattrat_, changes_);
  read_ahead_root_ = root;
  read_ahead_prefix_ = prefix;
  read_ahead_root_ids_.clear();
  for (const std::string& confined : roots_) {
    struct stat st;
    read_ahead_root_ids_.push_back(stat(confined.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
                                       ? std::pair<uint64_t, uint64_t>(st.st_dev, st.st_ino)
                                       : std::pair<uint64_t, uint64_t>(0, 0));
  }
  read_ahead_plan_ = plan;
  if (!plan.counterpart_root.empty() && plan.counterpart_root.back() != '/')
    read_ahead_plan_.counterpart_root += '/';
  auto walker =
      std::make_shared<ReadAheadWalker>(read_ahead_, prefix, local_items, local_counterparts);
  // Signals stay with the calling thread: the threads start with all of
  // them blocked.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    for (int i = 0; i < threads; ++i)
      lookup_threads_.emplace_back([state = read_ahead_] { RunLookups(state); });
    read_ahead_thread_ = std::thread(
        [walker, fd = std::move(fd), root, counterpart = std::move(counterpart)]() mutable {
          walker->Run(std::move(fd), root, std::move(counterpart));
        });
  } catch (const std::system_error&) {
    // No thread to be had: the walk reads the disk itself.
    read_ahead_->stop.store(true);
    read_ahead_->jobs_added.notify_all();
    for (std::thread& thread : lookup_threads_) thread.join();
    lookup_threads_.clear();
    read_ahead_.reset();
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Whether `path` lies in the tree the read-ahead walks. Its text must go on
// from the walked folder's with plain names (no "." or ".."); and below a
// confined root, where no link is followed, it must lie below the walked
// folder's root, told by identity: another root may be named through the
// walked folder's path ("/t/../s" while "/t" is walked; a link "/t/s" that
// is the root "/t/s") and still be another tree.
bool PosixFileSystem::InWalkedTree(const std::string& path) const {
  if (read_ahead_ == nullptr || !path.starts_with(read_ahead_prefix_)) return false;
  const std::string_view below = std::string_view(path).substr(read_ahead_prefix_.size());
  for (size_t start = 0; start <= below.size();) {
    size_t end = below.find('/', start);
    if (end == std::string_view::npos) end = below.size();
    const std::string_view name = below.substr(start, end - start);
    if ((name.empty() && end < below.size()) || name == "." || name == "..") return false;
    start = end + 1;
  }
  bool equal = false;
  const std::string* root = RootOf(Trimmed(path), equal);
  const std::string* walked_root = RootOf(read_ahead_root_, equal);
  if (root == nullptr || walked_root == nullptr) return root == walked_root;
  const auto& ids = read_ahead_root_ids_;
  const size_t a = static_cast<size_t>(root - roots_.data());
  const size_t b = static_cast<size_t>(walked_root - roots_.data());
  return a < ids.size() && b < ids.size() && ids[a] != std::pair<uint64_t, uint64_t>(0, 0) &&
         ids[a] == ids[b];
}

// Ends the walker and the lookups and drops what they queued. Readers
// already handed out keep their listings (the walker hands over a folder
// it is reading; a batch whose lookups were skipped is read by its reader).
void PosixFileSystem::StopReadAhead() {
  if (read_ahead_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(read_ahead_->mutex);
    read_ahead_->stop.store(true);
    read_ahead_->consumed.notify_one();
  }
  read_ahead_thread_.join();
  {
    std::lock_guard<std::mutex> lock(read_ahead_->jobs_mutex);
    read_ahead_->jobs_added.notify_all();
  }
  for (std::thread& thread : lookup_threads_) thread.join();
  lookup_threads_.clear();
  std::deque<std::shared_ptr<QueuedFolder>> dropped;
  {
    std::lock_guard<std::mutex> lock(read_ahead_->mutex);
    dropped.swap(read_ahead_->queue);
  }
  read_ahead_.reset();
}

// The queued listing of `path` (trimmed; `folder` as the caller wrote it):
// the next one, or one further on with those before it dropped. A folder
// not in the stream restarts the read-ahead there. Null: read it directly.
std::shared_ptr<QueuedFolder> PosixFileSystem::TakeQueued(const std::string& path,
                                                          const std::string& folder) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    ReadAheadState& state = *read_ahead_;
    std::unique_lock<std::mutex> lock(state.mutex);
    while (state.queue.empty() && !state.finished) {
      state.WalkWaits();
      state.produced.wait(lock);
      state.walk_waiting = false;
    }
    auto found = std::find_if(state.queue.begin(), state.queue.end(),
                              [&path](const auto& queued) { return queued->path == path; });
    if (found != state.queue.end()) {
      for (auto it = state.queue.begin(); it != found; ++it) {
        QueuedFolder& skipped = **it;
        skipped.abandoned = true;
        state.items -= skipped.count + 1;
        state.bytes -= skipped.bytes;
        skipped.batches.clear();
        skipped.count = 0;
        skipped.bytes = 0;
      }
      std::shared_ptr<QueuedFolder> queued = std::move(*found);
      state.queue.erase(state.queue.begin(), found + 1);
      state.items -= 1;
      state.Taken();
      return queued;
    }
    lock.unlock();
    if (attempt == 1) break;
    // The counterpart of the folder lies as far below the planned one.
    WalkPlan plan = read_ahead_plan_;
    const std::string below = folder.substr(std::min(folder.size(), read_ahead_prefix_.size()));
    if (!plan.counterpart_root.empty()) plan.counterpart_root += below;
    StopReadAhead();
    StartReadAhead(folder, plan);
    if (read_ahead_ == nullptr) break;
  }
  return nullptr;
}

}  // namespace twinmere::posix
