// Folder listings, and the walk's side of the read-ahead of a planned walk
// (folder_walk_posix_internal.h): the walker thread that lists the walked
// tree ahead of the walk, the readers that hand its queued listings over,
// and the file system's calls that start, serve and stop it. The lookup
// pool is in folder_lookups_posix.cc.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/posix/folder_walk_posix_internal.h"

namespace twinmere::posix {
namespace {

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
    if (a.gone || a.code != 0 || a.passed_over) return;
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

// On a file system where every lookup is a round trip (network, FUSE) this
// many lookups are in flight at once, in jobs of a few items each.
constexpr int kRemoteLookupThreads = 16;
constexpr size_t kRemoteJobItems = 4;

// What a batch counts against kReadAheadMaxBytes: its list as allocated
// (a small folder's list has room to spare), not only the items in it.
size_t BatchBytes(const Batch& batch) {
  return sizeof(Batch) + batch.items.capacity() * sizeof(AheadItem) + batch.name_bytes;
}
// A name kept outside its item.
size_t NameBytes(const std::string& name) {
  return name.size() >= 16 ? name.capacity() + 1 : 0;
}

// The walker thread's work: lists `root` and every folder below it.
class ReadAheadWalker {
 public:
  ReadAheadWalker(std::shared_ptr<ReadAheadState> state, std::string prefix, bool local_items,
                  bool local_counterparts, std::unique_ptr<WalkFilter> filter)
      : state_(std::move(state)),
        root_prefix_(std::move(prefix)),
        local_items_(local_items),
        local_counterparts_(local_counterparts),
        filter_(std::move(filter)) {}

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
      bool entered = false;  // the filter went into it
    };
    std::string prefix = root_prefix_;
    std::vector<Frame> stack;
    std::vector<std::string> subfolders;
    auto top_folder = std::make_shared<SharedFolder>(SharedFolder{std::move(root)});
    std::shared_ptr<SharedFolder> top_counterpart;
    if (counterpart_root.valid())
      top_counterpart = std::make_shared<SharedFolder>(SharedFolder{std::move(counterpart_root)});
    bool holds_rules = false;
    if (List(top_folder, std::move(root_path), top_counterpart, subfolders, holds_rules)) {
      stack.push_back(Frame{std::move(top_folder), std::move(top_counterpart), prefix.size(),
                            std::move(subfolders), 0});
    }
    while (!stack.empty() && !state_->stop.load(std::memory_order_relaxed)) {
      Frame& top = stack.back();
      if (top.next == top.subfolders.size()) {
        if (top.entered) filter_->Leave();
        stack.pop_back();
        continue;
      }
      prefix.resize(top.prefix_length);
      const std::string& name = top.subfolders[top.next++];
      std::string path = prefix + name;
      // A folder the walk leaves out is neither listed nor looked into.
      if (filter_ != nullptr && filter_->LeavesOut(path)) continue;
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
      const std::string walked = path;
      if (!List(folder, std::move(path), counterpart, subfolders, holds_rules)) break;
      const bool entered = filter_ != nullptr;
      if (entered && !EnterFilter(walked, holds_rules, *folder, counterpart.get())) {
        // What it holds is the walk's to decide: nothing below is read ahead.
        filter_->Leave();
        continue;
      }
      stack.push_back(Frame{std::move(folder), std::move(counterpart), prefix.size(),
                            std::move(subfolders), 0, entered});
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

  // Goes into the folder `path` with the filter, its file of rules read
  // where the filter asks: in the folder itself (the listing told whether it
  // holds one) or in its counterpart. False where the rules cannot be used.
  bool EnterFilter(const std::string& path, bool holds_rules, const SharedFolder& folder,
                   const SharedFolder* counterpart) {
    return filter_->Enter(path, [&](std::string& rules) {
      const std::string& name = filter_->RulesFileName();
      ErrorCode read = kErrNotFound;
      if (filter_->RulesInCounterparts()) {
        if (counterpart != nullptr)
          read =
              ReadRegularFileAt(counterpart->fd.get(), name.c_str(), filter_->RulesLimit(), rules);
      } else if (holds_rules) {
        read = ReadRegularFileAt(folder.fd.get(), name.c_str(), filter_->RulesLimit(), rules);
      }
      if (read == ENOENT || read == ENOTDIR || read == kErrNotSupported || read == kErrIsAFolder)
        read = kErrNotFound;
      return read;
    });
  }

  // Queues a new folder; false when the walker is to end.
  bool Queue(std::string path, bool direct) {
    auto folder = std::make_shared<QueuedFolder>();
    folder->path = std::move(path);
    folder->direct = direct;
    folder->complete = direct;
    folder->own_bytes = sizeof(QueuedFolder) + NameBytes(folder->path);
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!WaitForRoom(lock)) return false;
    // A queued folder counts as one item (OpenFolder takes it back).
    state_->items += 1;
    state_->bytes += folder->own_bytes;
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
            std::vector<std::string>& subfolders, bool& holds_rules) {
    holds_rules = false;
    const std::string* rules_name =
        filter_ != nullptr && !filter_->RulesInCounterparts() ? &filter_->RulesFileName() : nullptr;
    // A folder whose subfolders the walk knows is not opened by it: it is
    // neither listed nor queued, only gone through. Whether it holds a
    // file of rules is found out by reading it.
    std::string_view known;
    if (state_->plan.passed_over != nullptr && state_->plan.passed_over->Subfolders(path, known)) {
      for (size_t end = 0; !known.empty(); known.remove_prefix(end + 1)) {
        end = known.find('\0');
        subfolders.emplace_back(known.substr(0, end));
      }
      holds_rules = rules_name != nullptr;
      return true;
    }
    const bool pass_over_files =
        state_->plan.passed_over != nullptr && state_->plan.passed_over->Contains(path);
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
        if (rules_name != nullptr && a.item.name == *rules_name) holds_rules = true;
        a.passed_over = pass_over_files && a.code == 0 && !a.item.IsFolder();
        if (!a.passed_over) ++batch->asked;
        batch->name_bytes += NameBytes(a.item.name);
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
    batch->bytes = BatchBytes(*batch);
    const bool item_jobs =
        (state.plan.items == ItemDetail::Full || state.plan.item_security) && batch->asked != 0;
    if (item_jobs && local_items_) FillItems(state, *batch, 0, n);
    std::vector<LookupJob> jobs;
    const auto add_jobs = [&](LookupPart part, bool local) {
      const size_t step = local ? n : kRemoteJobItems;
      for (size_t begin = 0; begin < n; begin += step)
        jobs.push_back(LookupJob{batch, begin, std::min(n, begin + step), part});
    };
    if (item_jobs && !local_items_) add_jobs(LookupPart::Items, false);
    // Where both trees are local the walker fills the counterparts too: a
    // thread of their own would only wait for it and be woken.
    if (batch->counterpart != nullptr && batch->asked != 0) {
      if (local_items_ && local_counterparts_) {
        FillCounterparts(state, *batch, 0, n);
      } else {
        add_jobs(LookupPart::Counterparts, local_counterparts_);
      }
    }
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
        batch->bytes = BatchBytes(*batch);
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
  std::unique_ptr<WalkFilter> filter_;  // null: every folder is listed
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

bool PosixFileSystem::HoldsUnlistedItems(const std::string& folder) {
  Fd fd;
  if (OpenPath(Trimmed(folder), O_RDONLY | O_DIRECTORY, true, fd) != 0) return false;
  DirentStream stream(fd.get());
  const linux_dirent64_record* entry = nullptr;
  while (stream.Next(entry) == 0) {
    if (IsDots(entry->d_name)) continue;
    if (SkippedType(entry->d_type)) return true;
    if (entry->d_type != DT_UNKNOWN) continue;
    struct stat st;
    ItemInfo info;
    if (fstatat(fd.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !FillInfo(st, info))
      return true;
  }
  return false;
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
  const bool local_items = !forced && IsLocalFileSystem(fd.get());
  const bool local_counterparts =
      !forced && (!counterpart.valid() || IsLocalFileSystem(counterpart.get()));
  const bool lookups = (used.items == ItemDetail::Full || used.item_security) && !local_items;
  const bool counterpart_lookups = counterpart.valid();
  const int threads = !lookups && !counterpart_lookups                ? 0
                      : forced                                        ? options_.lookup_threads
                      : local_items && local_counterparts && !lookups ? 0
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
  std::unique_ptr<WalkFilter> filter;
  if (plan.left_out != nullptr) filter = plan.left_out->ForReadAhead(prefix);
  auto walker = std::make_shared<ReadAheadWalker>(read_ahead_, prefix, local_items,
                                                  local_counterparts, std::move(filter));
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
        state.bytes -= skipped.bytes + skipped.own_bytes;
        skipped.batches.clear();
        skipped.count = 0;
        skipped.bytes = 0;
      }
      std::shared_ptr<QueuedFolder> queued = std::move(*found);
      state.queue.erase(state.queue.begin(), found + 1);
      state.items -= 1;
      state.bytes -= queued->own_bytes;
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