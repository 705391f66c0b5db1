// The read-ahead of a planned walk: what the walker thread
// (folder_walk_posix.cc), the lookup threads (folder_lookups_posix.cc) and
// the walk's readers of queued listings share. Internal to the posix
// platform layer.
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
// The files of a folder the plan passes over (WalkPlan::passed_over) are
// handed over with their name and kind from the listing alone; where the
// plan knows its subfolders, it is not listed at all. A folder
// the plan leaves out (WalkPlan::left_out) is never listed; below a folder
// whose rules cannot be used, the walk lists for itself.
//
// A counterpart is answered only where it was found under exactly the name
// asked for; one that is missing, and every case of doubt, is left to the
// walk's own lookup. Where the plan needs no more than the kind, or the
// counterpart's folder compares names ignoring case, its names are listed
// once and the answers come from that listing.
#pragma once

#include <dirent.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {

// The queued items stay below both bounds. The bytes are those the queue
// holds (lists as allocated, long names, the folders' records), so that a
// long walk of small folders keeps as little as a short one: the walker
// soon reaches the bound in either, and a queue of this size already keeps
// the lookups of a slow file system busy.
constexpr size_t kReadAheadMaxItems = 4096;
constexpr size_t kReadAheadMaxBytes = size_t{1} << 20;
// Items are queued in batches, so that the lock is taken rarely.
constexpr size_t kReadAheadBatch = 128;
// A thread waiting for another is woken once this many items are ready for
// it (or nothing more is coming soon), not for every batch: each wake-up
// costs two context switches, which the items of one small folder do not
// pay for.
constexpr size_t kWakeItems = 512;
// Item lists kept for reuse (see ReadAheadState::spare). The walker takes
// them for the batches of large folders only, where the walk gives one back
// for each it takes: a few are enough, and more would only be kept idle
// beside the queue (each is as large as a full batch).
constexpr size_t kSpareBatches = 4;

// Listing entries of these types are never handed over.
inline bool SkippedType(unsigned char type) {
  return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

// The kind a listing entry's type tells; false when it tells none.
inline bool KindOfType(unsigned char type, ItemKind& kind) {
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

// The file system holds these across calls.

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

  // Lists the folder's names where the plan lets them answer (see above),
  // once, by the first lookup that needs them.
  void Prepare(const WalkPlan& plan, const std::atomic<uint64_t>& changes);
  // The entry type listed for `name`; false when not listed.
  bool Find(const std::string& name, unsigned char& type) const;
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
  // A file of a folder the plan passes over: nothing is read for it.
  bool passed_over = false;
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
  uint64_t read_at = 0;   // the change count before any counterpart was read
  size_t name_bytes = 0;  // of the items' names kept outside the items
  size_t bytes = 0;       // all it holds, counted once it is queued
  size_t asked = 0;       // items not passed over
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
  size_t own_bytes = 0;                        // of this record itself
  bool complete = false;                       // no more batches will come from the walker
  ErrorCode end = kErrNoMoreEntries;           // what the listing ended with
  std::unique_ptr<FolderRest> rest;            // with complete: the items after `batches`
  bool abandoned = false;                      // its reader is gone (or it was skipped)
};

// Which part of a batch a lookup job fills.
enum class LookupPart : uint8_t { Items, Counterparts };

struct LookupJob {
  std::shared_ptr<Batch> batch;
  size_t begin = 0;
  size_t end = 0;
  LookupPart part = LookupPart::Items;
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

// folder_lookups_posix.cc

// Stats a listed item in the open folder `dir`; marks it `gone` when it is.
void StatItem(int dir, AheadItem& a);
// The items' own part of a batch.
void FillItems(const ReadAheadState& state, Batch& batch, size_t begin, size_t end);
// The counterparts' part of a batch.
void FillCounterparts(const ReadAheadState& state, Batch& batch, size_t begin, size_t end);
// A lookup thread: runs jobs until the read-ahead stops, then skips the
// jobs left (their batches are finished by the walk itself).
void RunLookups(const std::shared_ptr<ReadAheadState>& state);

}  // namespace twinmere::posix
