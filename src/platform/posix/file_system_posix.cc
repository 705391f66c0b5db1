// The file system of this machine, built on the *at system calls.
//
// Every operation resolves the folder of its path to a descriptor and acts on
// the final name relative to it, never following a final link. Folders below a
// confined root are opened beneath the root without following any link
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS, or O_NOFOLLOW at each
// step where openat2 is missing). The two folders used last stay open, so that
// a run of lookups in one folder costs one fstatat each.
#include "platform/posix/file_system_posix.h"

#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/temporary_names.h"

#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

namespace twinmere {
namespace {

constexpr size_t kChunkBytes = size_t{1} << 20;

// File system types whose names compare ignoring letter case. FUSE is unknown
// territory and treated the same: the stored name is then looked up.
constexpr uint64_t kMsdosMagic = 0x4d44;
constexpr uint64_t kExfatMagic = 0x2011BAB0;
constexpr uint64_t kNtfs3Magic = 0x7366746e;
constexpr uint64_t kCifsMagic = 0xFF534D42;
constexpr uint64_t kSmb2Magic = 0xFE534D42;
constexpr uint64_t kFuseMagic = 0x65735546;
constexpr uint64_t kExt4Magic = 0xEF53;
constexpr uint64_t kF2fsMagic = 0xF2F52010;

// A descriptor closed when the holder goes away.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

FileTime ToFileTime(const timespec& ts) {
  return FileTime{static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec};
}

timespec ToTimespec(FileTime t) {
  int64_t sec = t.ns / 1000000000;
  int64_t nsec = t.ns % 1000000000;
  if (nsec < 0) {
    nsec += 1000000000;
    --sec;
  }
  return timespec{static_cast<time_t>(sec), static_cast<long>(nsec)};
}

// Fills `info` from `st`; false for kinds the program never handles.
bool FillInfo(const struct stat& st, ItemInfo& info) {
  if (S_ISREG(st.st_mode)) {
    info.kind = ItemKind::File;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = ItemKind::Folder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = ItemKind::Link;
  } else {
    return false;
  }
  info.short_name.clear();
  info.mode = st.st_mode & 07777;
  info.size = info.kind == ItemKind::Folder ? 0 : static_cast<uint64_t>(st.st_size);
  info.access_time = ToFileTime(st.st_atim);
  info.modify_time = ToFileTime(st.st_mtim);
  info.uid = st.st_uid;
  info.gid = st.st_gid;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  return true;
}

bool SkippedType(unsigned char type) {
  return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// A path without trailing separators ("/" stays "/").
std::string Trimmed(const std::string& path) {
  std::string out = path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// Splits a path into its folder and final name. (Single characters are
// assigned as characters: GCC 12 at -O3 warns falsely on literals here.)
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::string trimmed = Trimmed(path);
  const auto slash = trimmed.rfind('/');
  if (slash == std::string::npos) {
    folder.assign(1, '.');
    name = trimmed;
  } else if (trimmed.size() == 1) {
    folder.assign(1, '/');
    name.assign(1, '.');
  } else {
    if (slash == 0) {
      folder.assign(1, '/');
    } else {
      folder.assign(trimmed, 0, slash);
    }
    name.assign(trimmed, slash + 1, std::string::npos);
  }
}

std::string ProcPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

struct linux_dirent64_record {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

// Reads the raw entries of an open folder, 32 KiB at a time.
class DirentStream {
 public:
  explicit DirentStream(int fd) : fd_(fd), buffer_(32 * 1024) {}
  // 0 with an entry, kErrNoMoreEntries at the end, or the error.
  ErrorCode Next(const linux_dirent64_record*& entry) {
    if (pos_ >= len_) {
      const long n = syscall(SYS_getdents64, fd_, buffer_.data(), buffer_.size());
      if (n < 0) return errno;
      if (n == 0) return kErrNoMoreEntries;
      len_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    entry = reinterpret_cast<const linux_dirent64_record*>(buffer_.data() + pos_);
    pos_ += entry->d_reclen;
    return 0;
  }

 private:
  int fd_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
};

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
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
    struct Frame {
      Fd fd;
      std::string prefix;  // the folder's path followed by "/"
      std::vector<std::string> subfolders;
      size_t next = 0;
    };
    std::vector<Frame> stack;
    std::vector<std::string> subfolders;
    if (List(root, std::move(root_path), subfolders)) {
      stack.push_back(Frame{std::move(root), root_prefix_, std::move(subfolders), 0});
    }
    while (!stack.empty() && !state_->stop.load(std::memory_order_relaxed)) {
      Frame& top = stack.back();
      if (top.next == top.subfolders.size()) {
        stack.pop_back();
        continue;
      }
      const std::string& name = top.subfolders[top.next++];
      std::string path = top.prefix + name;
      Fd fd(openat(top.fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!fd.valid()) {
        // The walk opens it itself and meets the same error (or a folder
        // made meanwhile, whose subfolders then restart the read-ahead).
        if (!Queue(std::move(path), true)) break;
        continue;
      }
      subfolders.clear();
      std::string prefix = path + "/";
      if (!List(fd, std::move(path), subfolders)) break;
      stack.push_back(Frame{std::move(fd), std::move(prefix), std::move(subfolders), 0});
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

// One open folder kept for the next operations in it.
struct CachedFolder {
  std::string path;  // trimmed
  Fd fd;             // O_PATH descriptor
  uint64_t last_use = 0;
  int case_insensitive = -1;  // -1 not yet known
  bool listed = false;
  std::vector<std::pair<uint64_t, std::string>> names;  // inode and stored name
};

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const PosixFileSystemOptions& options) : options_(options) {}
  ~PosixFileSystem() override { StopReadAhead(); }

  void SetConfinedRoots(const std::vector<std::string>& roots) override {
    StopReadAhead();
    roots_.clear();
    root_fds_.clear();
    for (const std::string& root : roots) roots_.push_back(Trimmed(root));
    root_fds_.resize(roots_.size());
    ForgetFolders();
  }

  void ExpectWalk(const std::string& folder) override {
    StopReadAhead();
    if (options_.read_ahead) StartReadAhead(folder);
  }

  ErrorCode OpenFolder(const std::string& folder, std::unique_ptr<FolderReader>& reader) override {
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

  ErrorCode OpenFolderDirectly(const std::string& folder, std::unique_ptr<FolderReader>& reader) {
    Fd fd;
    if (const ErrorCode code = OpenPath(Trimmed(folder), O_RDONLY | O_DIRECTORY, true, fd);
        code != 0)
      return code;
    reader = std::make_unique<PosixFolderReader>(std::move(fd));
    return 0;
  }

  ErrorCode Lookup(const std::string& path, ItemInfo& info) override {
    CachedFolder* folder = nullptr;
    std::string name;
    if (const ErrorCode code = ResolveParent(path, folder, name, ParentUse::Lookup); code != 0)
      return code;
    struct stat st;
    if (fstatat(folder->fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!FillInfo(st, info)) return kErrNotSupported;
    info.name = name;
    if (IsCaseInsensitive(*folder)) StoredName(*folder, st, info.name);
    return 0;
  }

  ErrorCode CreateFolder(const std::string& path) override {
    return AtCall(path, [](int dir, const char* name) { return mkdirat(dir, name, 0777); });
  }

  ErrorCode RemoveFolder(const std::string& path) override {
    const std::string trimmed = Trimmed(path);
    const ErrorCode code =
        AtCall(path, [](int dir, const char* name) { return unlinkat(dir, name, AT_REMOVEDIR); });
    if (code == 0) ForgetFoldersBelow(trimmed);
    return code;
  }

  ErrorCode DeleteFile(const std::string& path) override {
    return AtCall(path, [](int dir, const char* name) { return unlinkat(dir, name, 0); });
  }

  ErrorCode Rename(const std::string& from, const std::string& to, RenameMode mode) override {
    CachedFolder* from_folder = nullptr;
    CachedFolder* to_folder = nullptr;
    std::string from_name, to_name;
    if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
    if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
    const int from_dir = from_folder->fd.get();
    const int to_dir = to_folder->fd.get();
    ErrorCode code = RenameAt(from_dir, from_name, to_dir, to_name, mode);
    if (code == kErrAlreadyExists || (code == 0 && mode == RenameMode::Replace)) {
      // A change of letter case on a case-insensitive folder: both names find
      // the same item (FUSE may even give them two inode numbers), and
      // rename(2) would do nothing. Go through a temporary name.
      struct stat a, b;
      if (from_name != to_name && EqualIgnoringCase(from_name, to_name) &&
          fstatat(from_dir, from_name.c_str(), &a, AT_SYMLINK_NOFOLLOW) == 0 &&
          fstatat(to_dir, to_name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
          ((a.st_dev == b.st_dev && a.st_ino == b.st_ino) || IsCaseInsensitive(*to_folder))) {
        code = RenameThroughTemporary(from_dir, from_name, to_dir, to_name);
      }
    }
    ForgetFolders();
    return code;
  }

  ErrorCode CreateNewFile(const std::string& path) override {
    return AtCall(path, [](int dir, const char* name) {
      const int fd = openat(dir, name, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) return -1;
      close(fd);
      return 0;
    });
  }

  ErrorCode SetMode(const std::string& path, uint32_t mode) override {
    return AtCall(path, [mode](int dir, const char* name) {
      // Look first: a link is left as it is, a device node never opened.
      struct stat st;
      if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
      if (S_ISLNK(st.st_mode)) return 0;  // a link's permissions cannot be set
      if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = kErrNotSupported;
        return -1;
      }
      Fd fd(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
      if (!fd.valid()) {
        if (errno != EACCES) return -1;
        // Unreadable for us, yet perhaps ours to change: without following a link.
        return fchmodat(dir, name, mode & 07777, AT_SYMLINK_NOFOLLOW);
      }
      struct stat opened;
      if (fstat(fd.get(), &opened) != 0) return -1;
      if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
        errno = EAGAIN;  // replaced meanwhile
        return -1;
      }
      return fchmod(fd.get(), mode & 07777);
    });
  }

  ErrorCode SetTimes(const std::string& path, FileTime access, FileTime modify) override {
    const timespec times[2] = {ToTimespec(access), ToTimespec(modify)};
    return AtCall(path, [&times](int dir, const char* name) {
      return utimensat(dir, name, times, AT_SYMLINK_NOFOLLOW);
    });
  }

  ErrorCode CopyFile(const std::string& from, const std::string& to,
                     const CopyOptions& options) override;

  ErrorCode ReadSecurity(const std::string& path, Security& security) override;
  ErrorCode WriteSecurity(const std::string& path, const Security& security) override;
  // Opens the item itself (O_PATH, never through a final link) and stats it.
  ErrorCode OpenItemPath(const std::string& path, Fd& fd, struct stat& st);

  ErrorCode LocateFolder(const std::string& folder, FolderPlace& place) override {
    return LocateMountedFolder(folder, place);
  }

  bool KeepsSecurity(const std::string& path) override {
    Fd fd;
    if (OpenPath(Trimmed(path), O_PATH, false, fd) != 0) return false;
    struct statfs sfs;
    if (fstatfs(fd.get(), &sfs) != 0) return false;
    const uint64_t type = static_cast<uint64_t>(sfs.f_type);
    if (type == kMsdosMagic || type == kExfatMagic) return false;
    // ACL attributes refused: no ACLs. (ENODATA means supported, none set.)
    const std::string proc = ProcPath(fd.get());
    char value[64];
    if (getxattr(proc.c_str(), "system.posix_acl_access", value, sizeof value) < 0 &&
        (errno == ENOTSUP || errno == ENOSYS))
      return false;
    // FUSE answers the ACL question in the kernel even for file systems that
    // keep no attributes at all (fusefat): ask for an ordinary one too.
    if (type == kFuseMagic && getxattr(proc.c_str(), "user.twinmere", value, sizeof value) < 0 &&
        (errno == ENOTSUP || errno == ENOSYS))
      return false;
    return true;
  }

 private:
  // Starts the walker on `folder`, opened as OpenFolder opens it. Without
  // it (the folder cannot be opened) every OpenFolder reads the disk itself.
  void StartReadAhead(const std::string& folder) {
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
  void StopReadAhead() {
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
  std::shared_ptr<QueuedFolder> TakeQueued(const std::string& path, const std::string& folder) {
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

  // The longest confined root that `path` lies below (or equals); null if none.
  const std::string* RootOf(const std::string& path, bool& equal) const {
    const std::string* best = nullptr;
    equal = false;
    for (const std::string& root : roots_) {
      const bool same = path == root;
      const bool below = path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                         (root == "/" || path[root.size()] == '/');
      if ((same || below) && (best == nullptr || root.size() > best->size())) {
        best = &root;
        equal = same;
      }
    }
    return best;
  }

  // Opens a trimmed path with `flags`. A confined root is opened as written;
  // below it, no link is followed. Elsewhere the folders of the path are
  // resolved as written and the final component is not followed when
  // `nofollow_final`.
  ErrorCode OpenPath(const std::string& path, int flags, bool nofollow_final, Fd& out) {
    flags |= O_CLOEXEC;
    bool equal = false;
    const std::string* root = RootOf(path, equal);
    if (root == nullptr || equal) {
      const int fd = open(path.c_str(), flags | (nofollow_final && !equal ? O_NOFOLLOW : 0));
      if (fd < 0) return errno;
      out.Reset(fd);
      return 0;
    }
    Fd& root_fd = root_fds_[static_cast<size_t>(root - roots_.data())];
    if (!root_fd.valid()) {
      root_fd.Reset(open(root->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!root_fd.valid()) return errno;
    }
    std::string relative = path.substr(root->size());
    while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
    if (options_.use_openat2 && !openat2_missing_) {
      open_how how{};
      how.flags = static_cast<uint64_t>(flags);
      how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
      const long fd = syscall(SYS_openat2, root_fd.get(), relative.c_str(), &how, sizeof how);
      if (fd >= 0) {
        out.Reset(static_cast<int>(fd));
        return 0;
      }
      if (errno != ENOSYS) return errno;
      openat2_missing_ = true;
    }
    // One component at a time, never through a link.
    int current = root_fd.get();
    Fd holder;
    std::vector<std::string> parts;
    for (size_t start = 0; start <= relative.size();) {
      size_t end = relative.find('/', start);
      if (end == std::string::npos) end = relative.size();
      const std::string part = relative.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") return EXDEV;
      parts.push_back(part);
    }
    for (size_t i = 0; i < parts.size(); ++i) {
      Fd next(openat(current, parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (!next.valid()) return errno;
      struct stat st;
      if (fstat(next.get(), &st) != 0) return errno;
      if (S_ISLNK(st.st_mode)) return ELOOP;
      const bool last = i + 1 == parts.size();
      if (!last || (flags & O_DIRECTORY)) {
        if (!S_ISDIR(st.st_mode)) return ENOTDIR;
      }
      if (last && (flags & O_PATH) == 0) {
        next.Reset(openat(current, parts[i].c_str(), flags | O_NOFOLLOW));
        if (!next.valid()) return errno;
      }
      holder = std::move(next);
      current = holder.get();
    }
    if (!holder.valid()) return EINVAL;
    out = std::move(holder);
    return 0;
  }

  // The folder of `path` from the cache of open folders, opening it when new.
  // Lookups in a folder that is missing come in a row (every item of a Source
  // folder not yet in Target): the first failure answers the others until
  // any other operation, which may create the folder, is asked for.
  enum class ParentUse : uint8_t { Lookup, Change };

  ErrorCode ResolveParent(const std::string& path, CachedFolder*& out, std::string& name,
                          ParentUse use = ParentUse::Change) {
    std::string folder;
    SplitPath(path, folder, name);
    if (use == ParentUse::Change) {
      missing_folder_.clear();
    } else if (!missing_folder_.empty() && folder == missing_folder_) {
      return missing_folder_code_;
    }
    ++clock_;
    for (CachedFolder& entry : folders_) {
      if (entry.fd.valid() && entry.path == folder) {
        entry.last_use = clock_;
        out = &entry;
        return 0;
      }
    }
    CachedFolder* victim = &folders_[0];
    for (CachedFolder& entry : folders_)
      if (entry.last_use < victim->last_use) victim = &entry;
    Fd fd;
    if (const ErrorCode code = OpenPath(folder, O_PATH | O_DIRECTORY, false, fd); code != 0) {
      if (use == ParentUse::Lookup && IsMissingError(code)) {
        missing_folder_ = folder;
        missing_folder_code_ = code;
      }
      return code;
    }
    *victim = CachedFolder{};
    victim->path = folder;
    victim->fd = std::move(fd);
    victim->last_use = clock_;
    out = victim;
    return 0;
  }

  // Runs call(dirfd, name) on the final name of `path`; the listing of its
  // folder is forgotten since the call may change it.
  template <typename Call>
  ErrorCode AtCall(const std::string& path, Call call) {
    CachedFolder* folder = nullptr;
    std::string name;
    if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
    folder->listed = false;
    folder->names.clear();
    if (call(folder->fd.get(), name.c_str()) != 0) return errno;
    return 0;
  }

  void ForgetFolders() {
    missing_folder_.clear();
    for (CachedFolder& entry : folders_) entry = CachedFolder{};
  }

  void ForgetFoldersBelow(const std::string& path) {
    for (CachedFolder& entry : folders_) {
      if (entry.fd.valid() && entry.path.compare(0, path.size(), path) == 0 &&
          (entry.path.size() == path.size() || entry.path[path.size()] == '/'))
        entry = CachedFolder{};
    }
  }

  bool IsCaseInsensitive(CachedFolder& folder) {
    if (folder.case_insensitive < 0)
      folder.case_insensitive = DetectCaseInsensitive(folder.fd.get());
    return folder.case_insensitive > 0;
  }

  static int DetectCaseInsensitive(int fd) {
    struct statfs sfs;
    if (fstatfs(fd, &sfs) != 0) return 0;
    const uint64_t type = static_cast<uint64_t>(sfs.f_type);
    if (type == kMsdosMagic || type == kExfatMagic || type == kNtfs3Magic || type == kCifsMagic ||
        type == kSmb2Magic || type == kFuseMagic)
      return 1;
    if (type != kExt4Magic && type != kF2fsMagic) return 0;
    Fd dir(openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return 0;
    int flags = 0;
    if (ioctl(dir.get(), FS_IOC_GETFLAGS, &flags) != 0) return 0;
    return (flags & FS_CASEFOLD_FL) ? 1 : 0;
  }

  // Replaces `name` with the name stored on disk for the item `st` of a
  // case-insensitive folder. Left unchanged when the listing fails.
  void StoredName(CachedFolder& folder, const struct stat& st, std::string& name) {
    // A listing kept from an earlier lookup may miss an item made since by
    // someone else: list again once before giving up.
    const bool fresh = !folder.listed;
    if (fresh && !ListFolder(folder)) return;
    if (FindStoredName(folder, st, name) || fresh) return;
    if (ListFolder(folder)) FindStoredName(folder, st, name);
  }

  static bool ListFolder(CachedFolder& folder) {
    folder.names.clear();
    folder.listed = false;
    Fd dir(openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return false;
    DirentStream stream(dir.get());
    const linux_dirent64_record* entry = nullptr;
    while (stream.Next(entry) == 0) {
      if (!IsDots(entry->d_name)) folder.names.emplace_back(entry->d_ino, entry->d_name);
    }
    folder.listed = true;
    return true;
  }

  static bool FindStoredName(const CachedFolder& folder, const struct stat& st, std::string& name) {
    for (const auto& [inode, stored] : folder.names) {
      if (inode == st.st_ino) {
        name = stored;
        return true;
      }
    }
    // Some file systems (FUSE) list made-up inode numbers: the same name
    // ignoring case, else the entry that stats to the same item.
    for (const auto& [inode, stored] : folder.names) {
      if (EqualIgnoringCase(stored, name)) {
        name = stored;
        return true;
      }
    }
    for (const auto& [inode, stored] : folder.names) {
      struct stat other;
      if (fstatat(folder.fd.get(), stored.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0 &&
          other.st_ino == st.st_ino && other.st_dev == st.st_dev) {
        name = stored;
        return true;
      }
    }
    return false;
  }

  static ErrorCode RenameAt(int from_dir, const std::string& from, int to_dir,
                            const std::string& to, RenameMode mode) {
    if (mode == RenameMode::Replace) {
      return renameat(from_dir, from.c_str(), to_dir, to.c_str()) == 0 ? 0 : errno;
    }
    if (renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // The file system cannot refuse to replace: check first (not atomic).
    struct stat st;
    if (fstatat(to_dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return kErrAlreadyExists;
    if (errno != ENOENT) return errno;
    return renameat(from_dir, from.c_str(), to_dir, to.c_str()) == 0 ? 0 : errno;
  }

  // The intermediate name is not a copy's temporary name: should the process
  // die between the two renames, the item stays visible to later walks.
  ErrorCode RenameThroughTemporary(int from_dir, const std::string& from, int to_dir,
                                   const std::string& to) {
    const std::string temporary =
        ".twinmere-rename-" + TemporaryName().substr(kTemporaryNamePrefix.size());
    if (const ErrorCode code = RenameAt(from_dir, from, from_dir, temporary, RenameMode::NoReplace);
        code != 0)
      return code;
    const ErrorCode code = RenameAt(from_dir, temporary, to_dir, to, RenameMode::NoReplace);
    if (code != 0) RenameAt(from_dir, temporary, from_dir, from, RenameMode::NoReplace);
    return code;
  }

  std::string TemporaryName() {
    if (random_.empty()) {
      std::random_device device;
      random_ = std::to_string(device() % 1000000000u);
    }
    return std::string(kTemporaryNamePrefix) + std::to_string(getpid()) + "-" + random_ + "-" +
           std::to_string(++temporary_count_);
  }

  ErrorCode CopyLink(int from_dir, const std::string& from_name, const struct stat& st, int to_dir,
                     const std::string& to_name, const CopyOptions& options);
  // Copies `size` bytes (as fstat gave them; 0: until the end, for files
  // whose size the file system does not tell).
  ErrorCode CopyContents(int source, int target, uint64_t size, const CopyOptions& options);

  PosixFileSystemOptions options_;
  std::shared_ptr<ReadAheadState> read_ahead_;  // null while no walker runs
  std::string read_ahead_root_;                 // its folder, trimmed
  std::string read_ahead_prefix_;               // the start of the paths below it
  std::thread read_ahead_thread_;
  std::vector<std::string> roots_;
  std::vector<Fd> root_fds_;  // opened when first needed
  std::array<CachedFolder, 2> folders_;
  std::string missing_folder_;  // the folder whose lookup failed last (see ResolveParent)
  ErrorCode missing_folder_code_ = 0;
  uint64_t clock_ = 0;
  bool openat2_missing_ = false;
  std::string random_;
  uint64_t temporary_count_ = 0;
};

ErrorCode PosixFileSystem::CopyContents(int source, int target, uint64_t size,
                                        const CopyOptions& options) {
  uint64_t done = 0;
  bool use_range = true;
  std::vector<char> buffer;
  if (size > kChunkBytes) posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
  // A small file is done with its first chunk; no call is spent on finding
  // the end. The size is that of the open file, so the copy is what fstat saw.
  while (size == 0 || done < size) {
    if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
    ssize_t n = -1;
    if (use_range) {
      n = copy_file_range(source, nullptr, target, nullptr, kChunkBytes, 0);
      if (n < 0 && errno == EINTR) continue;  // a stop signal: the flag is looked at
      if (n < 0 &&
          (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
           errno == EBADF || errno == EPERM) &&
          done == 0) {
        use_range = false;
      } else if (n < 0) {
        return errno;
      }
    }
    if (!use_range) {
      if (buffer.empty()) buffer.resize(kChunkBytes);
      n = read(source, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      for (ssize_t written = 0; written < n;) {
        const ssize_t w = write(target, buffer.data() + written, static_cast<size_t>(n - written));
        if (w < 0) {
          if (errno == EINTR && (options.stop == nullptr || options.stop->load() == 0)) continue;
          return errno == EINTR ? kErrCancelled : errno;
        }
        written += w;
      }
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (options.progress != nullptr) options.progress->SetProgress(done);
  }
  return 0;
}

ErrorCode PosixFileSystem::CopyLink(int from_dir, const std::string& from_name,
                                    const struct stat& st, int to_dir, const std::string& to_name,
                                    const CopyOptions& options) {
  std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
  const ssize_t n = readlinkat(from_dir, from_name.c_str(), text.data(), text.size());
  if (n < 0) return errno;
  text.resize(static_cast<size_t>(n));
  const std::string temporary = TemporaryName();
  if (symlinkat(text.c_str(), to_dir, temporary.c_str()) != 0) return errno;
  ErrorCode code = 0;
  if (options.carry_owner &&
      fchownat(to_dir, temporary.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
    code = errno;
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (code == 0 && utimensat(to_dir, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    code = errno;
  if (code == 0 && renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) code = errno;
  if (code != 0) unlinkat(to_dir, temporary.c_str(), 0);
  if (code == 0 && options.progress != nullptr) options.progress->SetProgress(text.size());
  return code;
}

// Gives the unnamed file `fd` the name `name`; never replaces. Through /proc
// (any user may), else with AT_EMPTY_PATH (needs CAP_DAC_READ_SEARCH).
int LinkUnnamed(int fd, int dir, const std::string& name) {
  if (linkat(AT_FDCWD, ProcPath(fd).c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  return linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);
}

ErrorCode PosixFileSystem::CopyFile(const std::string& from, const std::string& to,
                                    const CopyOptions& options) {
  CachedFolder* from_folder = nullptr;
  CachedFolder* to_folder = nullptr;
  std::string from_name, to_name;
  if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
  to_folder->listed = false;
  to_folder->names.clear();
  // Both stay open: the cache keeps the two folders used last.
  const int from_dir = from_folder->fd.get();
  const int to_dir = to_folder->fd.get();

  // The walk saw a regular file or a link here. A link fails the open
  // (O_NOFOLLOW) and is copied as a link; O_NONBLOCK keeps a FIFO put in
  // its place meanwhile from blocking the open, and fstat refuses it.
  struct stat st;
  Fd source(openat(from_dir, from_name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!source.valid()) {
    const ErrorCode code = errno;
    if (code != ELOOP) return code;
    if (fstatat(from_dir, from_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISLNK(st.st_mode)) return code;
    if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
    return CopyLink(from_dir, from_name, st, to_dir, to_name, options);
  }
  if (fstat(source.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return kErrNotSupported;

  // The new contents go to a file without a name (O_TMPFILE) where the file
  // system allows it, else to a temporary name; the old file stays untouched
  // until the rename.
  std::string temporary;
  Fd target;
  if (options_.use_tmpfile)
    target.Reset(openat(to_dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (!target.valid()) {
    temporary = TemporaryName();
    target.Reset(openat(to_dir, temporary.c_str(),
                        O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!target.valid()) return errno;
  }
  auto fail = [&](ErrorCode code) {
    target.Reset();
    if (!temporary.empty()) unlinkat(to_dir, temporary.c_str(), 0);
    return code;
  };

  if (const ErrorCode code =
          CopyContents(source.get(), target.get(), static_cast<uint64_t>(st.st_size), options);
      code != 0)
    return fail(code);
  if (options.carry_owner && fchown(target.get(), st.st_uid, st.st_gid) != 0) return fail(errno);
  if (fchmod(target.get(), st.st_mode & 07777) != 0) return fail(errno);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (futimens(target.get(), times) != 0) return fail(errno);
  if (options.stop != nullptr && options.stop->load() != 0) return fail(kErrCancelled);

  if (temporary.empty()) {
    // A new name takes the file directly; linkat never replaces.
    if (LinkUnnamed(target.get(), to_dir, to_name) == 0) return 0;
    if (errno != EEXIST) return fail(errno);
    temporary = TemporaryName();
    if (LinkUnnamed(target.get(), to_dir, temporary) != 0) {
      temporary.clear();
      return fail(errno);
    }
  }
  if (close(target.Release()) != 0) {
    const ErrorCode code = errno;
    unlinkat(to_dir, temporary.c_str(), 0);
    return code;
  }
  if (renameat(to_dir, temporary.c_str(), to_dir, to_name.c_str()) != 0) {
    const ErrorCode code = errno;
    unlinkat(to_dir, temporary.c_str(), 0);
    return code;
  }
  return 0;
}

// ---- security --------------------------------------------------------------

ErrorCode ReadAcl(const std::string& proc, acl_type_t type, bool& present,
                  std::vector<AclEntry>& entries) {
  present = false;
  entries.clear();
  acl_t acl = acl_get_file(proc.c_str(), type);
  if (acl == nullptr) {
    if (errno == ENOTSUP || errno == ENOSYS || errno == ENODATA) return 0;
    return errno;
  }
  if (type == ACL_TYPE_ACCESS && acl_equiv_mode(acl, nullptr) == 0) {
    acl_free(acl);  // only what the permission mode says already
    return 0;
  }
  acl_entry_t entry;
  for (int id = ACL_FIRST_ENTRY; acl_get_entry(acl, id, &entry) == 1; id = ACL_NEXT_ENTRY) {
    AclEntry out;
    acl_tag_t tag = ACL_UNDEFINED_TAG;
    acl_get_tag_type(entry, &tag);
    out.tag = static_cast<uint32_t>(tag);
    if (tag == ACL_USER || tag == ACL_GROUP) {
      if (void* qualifier = acl_get_qualifier(entry)) {
        out.qualifier = *static_cast<uint32_t*>(qualifier);
        acl_free(qualifier);
      }
    }
    acl_permset_t permset;
    if (acl_get_permset(entry, &permset) == 0) {
      out.perm = (acl_get_perm(permset, ACL_READ) == 1 ? 4u : 0u) |
                 (acl_get_perm(permset, ACL_WRITE) == 1 ? 2u : 0u) |
                 (acl_get_perm(permset, ACL_EXECUTE) == 1 ? 1u : 0u);
    }
    entries.push_back(out);
  }
  acl_free(acl);
  present = !entries.empty();
  return 0;
}

ErrorCode WriteAcl(const std::string& proc, acl_type_t type, const std::vector<AclEntry>& entries) {
  acl_t acl = acl_init(static_cast<int>(entries.size()));
  if (acl == nullptr) return errno;
  ErrorCode code = 0;
  for (const AclEntry& in : entries) {
    acl_entry_t entry;
    acl_permset_t permset;
    if (acl_create_entry(&acl, &entry) != 0 ||
        acl_set_tag_type(entry, static_cast<acl_tag_t>(in.tag)) != 0) {
      code = errno;
      break;
    }
    if (in.tag == ACL_USER || in.tag == ACL_GROUP) {
      uint32_t qualifier = in.qualifier;
      if (acl_set_qualifier(entry, &qualifier) != 0) {
        code = errno;
        break;
      }
    }
    if (acl_get_permset(entry, &permset) != 0 || acl_clear_perms(permset) != 0) {
      code = errno;
      break;
    }
    if (in.perm & 4) acl_add_perm(permset, ACL_READ);
    if (in.perm & 2) acl_add_perm(permset, ACL_WRITE);
    if (in.perm & 1) acl_add_perm(permset, ACL_EXECUTE);
    acl_set_permset(entry, permset);
  }
  if (code == 0 && acl_set_file(proc.c_str(), type, acl) != 0) code = errno;
  acl_free(acl);
  return code;
}

ErrorCode PosixFileSystem::OpenItemPath(const std::string& path, Fd& fd, struct stat& st) {
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  fd = Fd(openat(folder->fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno;
  return fstat(fd.get(), &st) == 0 ? 0 : errno;
}

ErrorCode PosixFileSystem::ReadSecurity(const std::string& path, Security& security) {
  Fd fd;
  struct stat st;
  if (const ErrorCode code = OpenItemPath(path, fd, st); code != 0) return code;
  security = Security{};
  security.uid = st.st_uid;
  security.gid = st.st_gid;
  if (S_ISLNK(st.st_mode)) return 0;  // a link has no ACLs
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kErrNotSupported;
  const std::string proc = ProcPath(fd.get());
  if (const ErrorCode code =
          ReadAcl(proc, ACL_TYPE_ACCESS, security.has_access_acl, security.access_acl);
      code != 0)
    return code;
  if (S_ISDIR(st.st_mode))
    return ReadAcl(proc, ACL_TYPE_DEFAULT, security.has_default_acl, security.default_acl);
  return 0;
}

ErrorCode PosixFileSystem::WriteSecurity(const std::string& path, const Security& security) {
  Fd fd;
  struct stat st;
  if (const ErrorCode code = OpenItemPath(path, fd, st); code != 0) return code;
  if ((st.st_uid != security.uid || st.st_gid != security.gid) &&
      fchownat(fd.get(), "", security.uid, security.gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  if (S_ISLNK(st.st_mode)) return 0;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kErrNotSupported;
  const std::string proc = ProcPath(fd.get());
  if (security.has_access_acl) {
    if (const ErrorCode code = WriteAcl(proc, ACL_TYPE_ACCESS, security.access_acl); code != 0)
      return code;
  } else if (removexattr(proc.c_str(), "system.posix_acl_access") != 0 && errno != ENODATA &&
             errno != ENOTSUP) {
    return errno;
  }
  if (!S_ISDIR(st.st_mode)) return 0;
  if (security.has_default_acl) return WriteAcl(proc, ACL_TYPE_DEFAULT, security.default_acl);
  if (acl_delete_def_file(proc.c_str()) != 0 && errno != ENOTSUP && errno != ENODATA) return errno;
  return 0;
}

}  // namespace

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<PosixFileSystem>(PosixFileSystemOptions{});
}

std::unique_ptr<FileSystem> CreatePosixFileSystem(const PosixFileSystemOptions& options) {
  return std::make_unique<PosixFileSystem>(options);
}

}  // namespace twinmere
