// Folder listings, and the read-ahead that lists a walked tree on a thread of
// its own ahead of the walk.
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
#include <system_error>

#include "platform/posix/file_system_posix_internal.h"

namespace twinmere::posix {
namespace {

bool SkippedType(unsigned char type) {
  return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
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
// folder's items, stats included. OpenFolder then serves the next queued
// listing instead of reading the disk. The queue is bounded; should the walk
// wait for a listing while the queue is full of items the walk still holds
// (a huge folder), the walker hands the open folder over to the walk, which
// reads the rest itself, and ends.

// The queued items stay below both bounds.
constexpr size_t kReadAheadMaxItems = 8192;
constexpr size_t kReadAheadMaxBytes = size_t{2} << 20;
// Items are handed over in batches, so that the lock is taken rarely.
constexpr size_t kReadAheadBatch = 128;

size_t ItemBytes(const ItemInfo& item) {
  return sizeof(ItemInfo) + (item.name.size() >= 16 ? item.name.capacity() + 1 : 0);
}

}  // namespace

// The file system holds these across calls: not in the anonymous namespace.

// The rest of a folder the walker gave up: the walk reads it itself.
struct FolderRest {
  Fd fd;
  DirentStream stream;
  explicit FolderRest(Fd folder) : fd(std::move(folder)), stream(fd.get()) {}
};

// One folder of the read-ahead stream. Guarded by ReadAheadState::mutex.
struct QueuedFolder {
  std::string path;                   // as OpenFolder receives it, trimmed
  bool direct = false;                // the walker could not open it: OpenFolder does
  std::vector<ItemInfo> items;        // read and not yet taken by the reader
  size_t bytes = 0;                   // ItemBytes of `items`
  bool complete = false;              // no more items will come from the walker
  ErrorCode end = kErrNoMoreEntries;  // what the listing ended with
  std::unique_ptr<FolderRest> rest;   // with complete: the items after `items`
  bool abandoned = false;             // its reader is gone (or it was skipped)
};

struct ReadAheadState {
  std::mutex mutex;
  std::condition_variable produced;  // the walk waits on it
  std::condition_variable consumed;  // the walker waits on it
  std::deque<std::shared_ptr<QueuedFolder>> queue;
  size_t items = 0;  // queued items and folders, not yet taken by a reader
  size_t bytes = 0;
  bool finished = false;        // the walker queues nothing more
  bool walk_waiting = false;    // the walk waits for the walker
  bool walker_waiting = false;  // the walker waits for room
  std::atomic<bool> stop{false};

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
    if (walker_waiting) consumed.notify_one();
  }
  // Called by the walker after it queued something.
  void Queued() {
    if (walk_waiting) produced.notify_one();
  }
};

namespace {

// Serves one queued listing, then the rest the walker handed over.
class QueuedFolderReader : public FolderReader {
 public:
  QueuedFolderReader(std::shared_ptr<ReadAheadState> state, std::shared_ptr<QueuedFolder> folder)
      : state_(std::move(state)), folder_(std::move(folder)) {}

  ~QueuedFolderReader() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    folder_->abandoned = true;
    state_->items -= folder_->items.size();
    state_->bytes -= folder_->bytes;
    folder_->items.clear();
    folder_->bytes = 0;
    state_->Taken();
  }

  ErrorCode Next(ItemInfo& item) override {
    for (;;) {
      if (pos_ < local_.size()) {
        item = std::move(local_[pos_++]);
        return 0;
      }
      if (rest_ != nullptr) return NextItem(rest_->fd.get(), rest_->stream, item);
      if (done_) return end_;
      Refill();
    }
  }

 private:
  // Takes what the walker has queued for this folder, waiting for it.
  void Refill() {
    local_.clear();
    pos_ = 0;
    std::unique_lock<std::mutex> lock(state_->mutex);
    for (;;) {
      if (!folder_->items.empty()) {
        local_.swap(folder_->items);
        state_->items -= local_.size();
        state_->bytes -= folder_->bytes;
        folder_->bytes = 0;
        state_->Taken();
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
  std::vector<ItemInfo> local_;
  size_t pos_ = 0;
  std::unique_ptr<FolderRest> rest_;
  bool done_ = false;
  ErrorCode end_ = kErrNoMoreEntries;
};

// The walker thread's work: lists `root` and every folder below it.
class ReadAheadWalker {
 public:
  ReadAheadWalker(std::shared_ptr<ReadAheadState> state, std::string prefix)
      : state_(std::move(state)), root_prefix_(std::move(prefix)) {}

  void Run(Fd root, std::string root_path) {
    // The frames share one path, the deepest frame's followed by "/": each
    // knows how much of it is its own, so that a deep tree keeps one path
    // instead of one per level.
    struct Frame {
      Fd fd;
      size_t prefix_length = 0;  // of `prefix`, for this folder
      std::vector<std::string> subfolders;
      size_t next = 0;
    };
    std::string prefix = root_prefix_;
    std::vector<Frame> stack;
    std::vector<std::string> subfolders;
    if (List(root, std::move(root_path), subfolders)) {
      stack.push_back(Frame{std::move(root), prefix.size(), std::move(subfolders), 0});
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
      Fd fd(openat(top.fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd.valid()) {
        // The walk opens it itself and meets the same error (or a folder
        // made meanwhile, whose subfolders then restart the read-ahead).
        if (!Queue(std::move(path), true)) break;
        continue;
      }
      subfolders.clear();
      prefix += name;
      prefix += '/';
      if (!List(fd, std::move(path), subfolders)) break;
      stack.push_back(Frame{std::move(fd), prefix.size(), std::move(subfolders), 0});
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->finished = true;
    state_->Queued();
  }

 private:
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
    state_->Queued();
    return true;
  }

  // Waits while the queue is full. False when the walker is to end: stopped,
  // or the walk waits for something the full queue keeps from coming.
  bool WaitForRoom(std::unique_lock<std::mutex>& lock) {
    if (state_->Full()) {
      state_->walker_waiting = true;
      while (!state_->HalfEmpty() && !state_->walk_waiting && !state_->stop.load())
        state_->consumed.wait(lock);
      state_->walker_waiting = false;
    }
    return !state_->stop.load() && !state_->Full();
  }

  // Lists the folder into the queue and collects its subfolders. False
  // when the walker is to end (the open folder then went to its reader).
  bool List(Fd& fd, std::string path, std::vector<std::string>& subfolders) {
    if (!Queue(std::move(path), false)) return false;
    DirentStream stream(fd.get());
    std::vector<ItemInfo> batch;
    size_t bytes = 0;
    ErrorCode code = 0;
    while (code == 0) {
      if (state_->stop.load(std::memory_order_relaxed)) {
        return HandOver(fd, stream, batch, bytes);
      }
      ItemInfo item;
      code = NextItem(fd.get(), stream, item);
      if (code != 0) break;
      if (item.IsFolder()) subfolders.push_back(item.name);
      bytes += ItemBytes(item);
      batch.push_back(std::move(item));
      if (batch.size() == kReadAheadBatch && !Publish(batch, bytes, fd, stream, false, 0))
        return false;
    }
    return Publish(batch, bytes, fd, stream, true, code);
  }

  // Adds a batch to the current folder; `last` completes it with `end`.
  bool Publish(std::vector<ItemInfo>& batch, size_t& bytes, Fd& fd, DirentStream& stream, bool last,
               ErrorCode end) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    QueuedFolder& folder = *current_;
    if (!folder.abandoned) {
      // The last batch never waits: a handed-over end would lose its error.
      if (!batch.empty() && !last && !WaitForRoom(lock)) {
        lock.unlock();
        return HandOver(fd, stream, batch, bytes);
      }
      for (ItemInfo& item : batch) folder.items.push_back(std::move(item));
      folder.bytes += bytes;
      state_->items += batch.size();
      state_->bytes += bytes;
    }
    batch.clear();
    bytes = 0;
    if (last) {
      folder.complete = true;
      folder.end = end;
    }
    state_->Queued();
    return true;
  }

  // Ends the current folder with what is read and the open folder itself.
  bool HandOver(Fd& fd, DirentStream& stream, std::vector<ItemInfo>& batch, size_t bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    QueuedFolder& folder = *current_;
    if (!folder.abandoned) {
      for (ItemInfo& item : batch) folder.items.push_back(std::move(item));
      folder.bytes += bytes;
      state_->items += batch.size();
      state_->bytes += bytes;
      folder.rest = std::make_unique<FolderRest>(std::move(fd));
      folder.rest->stream = std::move(stream);
    }
    folder.complete = true;
    state_->Queued();
    return false;
  }

  std::shared_ptr<ReadAheadState> state_;
  std::string root_prefix_;
  std::shared_ptr<QueuedFolder> current_;
};

}  // namespace

void PosixFileSystem::ExpectWalk(const std::string& folder) {
  StopReadAhead();
  if (options_.read_ahead) StartReadAhead(folder);
}

ErrorCode PosixFileSystem::OpenFolder(const std::string& folder,
                                      std::unique_ptr<FolderReader>& reader) {
  if (read_ahead_ != nullptr) {
    const std::string path = Trimmed(folder);
    if (path == read_ahead_root_ || path.starts_with(read_ahead_prefix_)) {
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

// Starts the walker on `folder`, opened as OpenFolder opens it. Without
// it (the folder cannot be opened) every OpenFolder reads the disk itself.
void PosixFileSystem::StartReadAhead(const std::string& folder) {
  const std::string root = Trimmed(folder);
  Fd fd;
  if (OpenPath(root, O_RDONLY | O_DIRECTORY, true, fd) != 0) return;
  // Subfolder paths are built the way the walk builds them: the folder as
  // given, one "/" after it, then the names.
  std::string prefix = folder;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  read_ahead_ = std::make_shared<ReadAheadState>();
  read_ahead_root_ = root;
  read_ahead_prefix_ = prefix;
  auto walker = std::make_shared<ReadAheadWalker>(read_ahead_, prefix);
  // Signals stay with the calling thread: the walker starts with all of
  // them blocked.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    read_ahead_thread_ = std::thread(
        [walker, fd = std::move(fd), root]() mutable { walker->Run(std::move(fd), root); });
  } catch (const std::system_error&) {
    read_ahead_.reset();  // no thread to be had: the walk reads the disk itself
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Ends the walker and drops what it queued. Readers already handed out
// keep their listings (the walker hands over a folder it is reading).
void PosixFileSystem::StopReadAhead() {
  if (read_ahead_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(read_ahead_->mutex);
    read_ahead_->stop.store(true);
    read_ahead_->consumed.notify_one();
  }
  read_ahead_thread_.join();
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
        state.items -= skipped.items.size() + 1;
        state.bytes -= skipped.bytes;
        skipped.items.clear();
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
    StopReadAhead();
    StartReadAhead(folder);
    if (read_ahead_ == nullptr) break;
  }
  return nullptr;
}

}  // namespace twinmere::posix
