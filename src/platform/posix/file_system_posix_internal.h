// The file system of this machine, built on the *at system calls.
//
// Every operation resolves the folder of its path to a descriptor and acts on
// the final name relative to it, never following a final link. Folders below a
// confined root are opened beneath the root without following any link
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS, or O_NOFOLLOW at each
// step where openat2 is missing). The two folders used last stay open, so that
// a run of lookups in one folder costs one fstatat each.
//
// Internal to the posix platform layer: the class and what its files share.
// Each concern has a file of its own beside this one: the walk and its
// read-ahead (the state its threads share in folder_walk_posix_internal.h,
// its lookup pool apart), the lookups beneath the confined roots,
// case-insensitive folders, the copy, locks, extended attributes and security;
// file_system_posix.cc holds the rest.
#pragma once

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/file_system_types.h"

namespace twinmere::posix {

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

// Fills `info` from `st`; false for kinds the program never handles.
bool FillInfo(const struct stat& st, ItemInfo& info);

// Gives the open file `fd` the access ACL of `security`, or removes the one
// it has when `security` has none. The error of the write, or 0.
ErrorCode WriteAccessAcl(int fd, const Security& security);

// Reads the owner, group and ACLs of the item `name` in the open folder
// `dir`, never through a final link. `known` is what a stat of the item gave
// (its owner and kind are taken from it), or null: the item is stat'ed here.
// With `known`, kErrChangedMeanwhile when another item took its name before
// the ACLs were read through a descriptor (without getxattrat).
// `use_getxattrat` is cleared for good where the kernel lacks the call.
ErrorCode ReadSecurityAt(int dir, const std::string& name, const ItemInfo* known,
                         std::atomic<bool>& use_getxattrat, Security& security);

// Gives the open file `fd` the mode `mode` as far as its volume keeps modes;
// `volume` is asked only when the volume refuses the mode.
ErrorCode GiveMode(int fd, uint32_t mode, const std::function<VolumeAbilities()>& volume);

// Whether the file system of `fd` is local (IsLocalFileSystemType): the
// walk's lookup threads and the parallel copies run only where it is not.
// False where it cannot be told.
bool IsLocalFileSystem(int fd);

// Where a copy reads and writes: the open folders and the names in them,
// and what the receiving volume keeps (asked when first needed, on the
// copy's thread).
struct CopyPlaces {
  int from_dir = -1;
  std::string from_name;
  int to_dir = -1;
  std::string to_name;
  std::function<VolumeAbilities()> volume;
  // How a copy with CopyOptions::no_replace takes its name on this volume,
  // learned by the first copy that tried (see TakeFreeName); null: each
  // copy tries anew.
  std::atomic<int>* no_replace_way = nullptr;
};

// Gives the complete temporary item `temporary` in the folder `dir` the
// name `name`, only where the name is free: 0, or EEXIST (the temporary
// item stays) or the error of the call that failed. By a rename that
// replaces nothing; where the file system refuses such renames (FUSE and
// sftp servers often do), by a rename right after a look at the name,
// which leaves to chance only a name taken between the two by another
// writer, or by a copy of this run to a name that the file system takes
// for the same but the run does not (the run waits for the copies to names
// equal ignoring letter case). `way` keeps which one works.
ErrorCode TakeFreeName(int dir, const std::string& temporary, const std::string& name,
                       std::atomic<int>* way);

// Reads the regular file `name` of the open folder `dir` whole into `text`,
// as FileSystem::ReadFileText reads it: looked at first, so that a device
// or a FIFO is never opened, and never through a link.
ErrorCode ReadRegularFileAt(int dir, const char* name, size_t limit, std::string& text);

// ASCII letters compared ignoring case, all other bytes as they are.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// A path without trailing separators ("/" stays "/").
inline std::string Trimmed(const std::string& path) {
  std::string out = path;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

inline std::string ProcPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// Gives the unnamed file `fd` (O_TMPFILE) the name `name` in the folder
// `dir`; never replaces. 0, or -1 with errno.
int LinkUnnamed(int fd, int dir, const std::string& name);

// Removes the temporary item `name` (none when empty) of the folder `dir`
// and closes `fd`, its descriptor or none. The file is removed while it is
// open, through `fd` or a descriptor opened for the purpose: a FUSE file
// system keeps a file removed while open under a hidden name
// (".fuse_hidden...") until its release, and the release that a close
// sends goes on its way without waiting for it, so a removal right after a
// close may still meet the file open and leave the hidden name for good
// (libfuse before 3.15). Open, it is hidden for sure and gone at the close.
void DiscardTemporary(Fd& fd, int dir, const std::string& name);

struct linux_dirent64_record {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

// Reads the raw entries of an open folder, 32 KiB at a time. The buffer is
// left uncleared: the kernel fills what is read.
class DirentStream {
 public:
  explicit DirentStream(int fd) : fd_(fd) {}
  // 0 with an entry, kErrNoMoreEntries at the end, or the error.
  ErrorCode Next(const linux_dirent64_record*& entry) {
    if (pos_ >= len_) {
      if (buffer_ == nullptr) buffer_.reset(new char[kBytes]);
      const long n = syscall(SYS_getdents64, fd_, buffer_.get(), kBytes);
      if (n < 0) return errno;
      if (n == 0) return kErrNoMoreEntries;
      len_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    entry = reinterpret_cast<const linux_dirent64_record*>(buffer_.get() + pos_);
    pos_ += entry->d_reclen;
    return 0;
  }

 private:
  static constexpr size_t kBytes = 32 * 1024;
  int fd_;
  std::unique_ptr<char[]> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
};

inline bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One open folder kept for the next operations in it.
struct CachedFolder {
  std::string path;  // trimmed
  Fd fd;             // O_PATH descriptor
  uint64_t last_use = 0;
  int case_insensitive = -1;  // -1 not yet known
  bool device_known = false;
  uint64_t device = 0;
  bool listed = false;
  std::vector<std::pair<uint64_t, std::string>> names;  // inode and stored name
};

// Defined in folder_walk_posix_internal.h.
struct ReadAheadState;
struct QueuedFolder;
class PosixFileSystem;

// Brackets a change made through the file system: what a read-ahead read
// of the counterparts before or during it is not current any more
// (FolderReader::AheadCounterpart). The count is odd while a change runs.
// Changes inside the walked tree leave the counterparts' answers standing:
// the two trees are never nested.
class ChangeScope {
 public:
  ChangeScope(PosixFileSystem& fs, const std::string& path);
  ChangeScope(const ChangeScope&) = delete;
  ChangeScope& operator=(const ChangeScope&) = delete;
  ~ChangeScope() {
    if (counter_ != nullptr) counter_->fetch_add(1);
  }

 private:
  std::atomic<uint64_t>* counter_ = nullptr;
};

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const PosixFileSystemOptions& options) : options_(options) {}
  ~PosixFileSystem() override { StopReadAhead(); }

  // confined_lookup_posix.cc
  void SetConfinedRoots(const std::vector<std::string>& roots) override;

  // folder_walk_posix.cc
  void ExpectWalk(const std::string& folder, const WalkPlan& plan) override;
  ErrorCode OpenFolder(const std::string& folder, std::unique_ptr<FolderReader>& reader) override;
  ErrorCode OpenFolderDirectly(const std::string& folder, std::unique_ptr<FolderReader>& reader);

  // file_system_posix.cc
  ErrorCode Lookup(const std::string& path, ItemInfo& info) override;
  ErrorCode CreateFolder(const std::string& path) override;
  ErrorCode RemoveFolder(const std::string& path) override;
  ErrorCode DeleteFile(const std::string& path) override;
  ErrorCode Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  ErrorCode CreateNewFile(const std::string& path) override;
  ErrorCode SyncFileSystem(const std::string& path) override;
  ErrorCode SetMode(const std::string& path, uint32_t mode) override;
  ErrorCode SetTimes(const std::string& path, FileTime access, FileTime modify) override;
  ErrorCode ReadLink(const std::string& path, std::string& text) override;
  ErrorCode ReadFileText(const std::string& path, size_t limit, std::string& text) override;

  // volume_abilities_posix.cc
  VolumeAbilities Abilities(const std::string& path) override;
  bool KnownAbilities(const std::string& path, VolumeAbilities& abilities) override;

  // file_copy_posix.cc
  ErrorCode CopyFile(const std::string& from, const std::string& to,
                     const CopyOptions& options) override;
  ErrorCode WriteNewFile(const std::string& path, std::string_view contents) override;
  // The copy itself, once its folders are open. Touches nothing of this
  // object but what is safe from any thread: copies of a CopyPool run it
  // at once.
  ErrorCode CopyBetween(const CopyPlaces& places, const CopyOptions& options);

  // file_lock_posix.cc
  ErrorCode CreateLockedFile(const std::string& path, std::string_view contents,
                             std::unique_ptr<FileLock>& lock) override;
  ErrorCode LockFile(const std::string& path, size_t limit, std::string& contents,
                     std::unique_ptr<FileLock>& lock) override;

  // parallel_copies_posix.cc
  std::unique_ptr<CopyPool> ParallelCopies(const std::string& folder) override;
  // Resolves the folders of a copy that another thread will make, as
  // CopyFile resolves them, and opens them anew for it (`from_dir` and
  // `to_dir` then belong to the caller).
  ErrorCode DetachCopyPlaces(const std::string& from, const std::string& to, CopyPlaces& places);

  // xattr_posix.cc
  ErrorCode CopyFolderAttributes(const std::string& from, const std::string& to,
                                 const CopyOptions& options) override;

  // security_posix.cc
  ErrorCode ReadSecurity(const std::string& path, Security& security) override;
  ErrorCode WriteSecurity(const std::string& path, const Security& security) override;
  // Opens the item itself (O_PATH, never through a final link) and stats it.
  ErrorCode OpenItemPath(const std::string& path, Fd& fd, struct stat& st);
  bool KeepsSecurity(const std::string& path) override;
  ErrorCode LocateFolder(const std::string& folder, FolderPlace& place) override {
    return LocateMountedFolder(folder, place);
  }
  std::vector<WrittenFileSystem> WrittenFileSystems() const override { return written_; }

  // case_folding_posix.cc
  // 1 when the folder `fd` compares names ignoring case, else 0.
  static int DetectCaseInsensitive(int fd);
  bool NamesIgnoreCase(const std::string& folder) override;
  // folder_walk_posix.cc
  bool HoldsUnlistedItems(const std::string& folder) override;

 private:
  friend class ChangeScope;

  // folder_walk_posix.cc
  void StartReadAhead(const std::string& folder, const WalkPlan& plan);
  void StopReadAhead();
  std::shared_ptr<QueuedFolder> TakeQueued(const std::string& path, const std::string& folder);
  bool InWalkedTree(const std::string& path) const;

  // Brackets one call of the interface that may keep folders open (see
  // SetConfinedRoots): when the outermost call ends while no roots are set,
  // every folder it kept is closed again.
  class Call {
   public:
    explicit Call(PosixFileSystem& fs) : fs_(fs) { ++fs_.calls_running_; }
    ~Call() {
      if (--fs_.calls_running_ == 0 && fs_.roots_.empty()) fs_.ForgetFolders();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    PosixFileSystem& fs_;
  };

  // Notes a change on the file system of `device` (see WrittenFileSystems);
  // the folder form takes the device of the cached folder.
  void NoteWritten(uint64_t device, const std::string& folder);
  void NoteWritten(CachedFolder& folder);

  // confined_lookup_posix.cc
  const std::string* RootOf(const std::string& path, bool& equal) const;
  ErrorCode OpenPath(const std::string& path, int flags, bool nofollow_final, Fd& out);
  // What ResolveParent resolves the folder for.
  enum class ParentUse : uint8_t { Lookup, Change };
  ErrorCode ResolveParent(const std::string& path, CachedFolder*& out, std::string& name,
                          ParentUse use = ParentUse::Change);
  void ForgetFolders();
  void ForgetFoldersBelow(const std::string& path);

  // case_folding_posix.cc
  bool IsCaseInsensitive(CachedFolder& folder);
  void StoredName(CachedFolder& folder, const struct stat& st, std::string& name);
  static bool ListFolder(CachedFolder& folder);
  static bool FindStoredName(const CachedFolder& folder, const struct stat& st, std::string& name);
  // Whether the FUSE folder `folder` compares names ignoring case, by a name
  // of it looked up in another case: 1 or 0, -1 when none of its names
  // holds a letter.
  static int ProbeCase(CachedFolder& folder);

  // file_system_posix.cc (AtCall below)
  template <typename At>
  ErrorCode AtCall(const std::string& path, At at);
  static ErrorCode RenameAt(int from_dir, const std::string& from, int to_dir,
                            const std::string& to, RenameMode mode);
  ErrorCode RenameThroughTemporary(int from_dir, const std::string& from, int to_dir,
                                   const std::string& to);

  // volume_abilities_posix.cc
  VolumeAbilities AbilitiesOf(CachedFolder& folder);
  // AbilitiesOf where no trial is needed; false where one is.
  bool KnownAbilitiesOf(CachedFolder& folder, VolumeAbilities& abilities);
  VolumeAbilities ProbeVolume(int dir, bool& tried);

  // file_copy_posix.cc
  ErrorCode CopyLink(int from_dir, const std::string& from_name, const struct stat& st, int to_dir,
                     const std::string& to_name, const CopyPlaces& places,
                     const CopyOptions& options);
  // Gives the file or link `name` of the folder `dir`, which a copy is about
  // to replace, the further name options.keep_old_as (see CopyOptions).
  ErrorCode KeepOld(int dir, const std::string& name, const CopyOptions& options);
  // The fail-safe copy KeepOld makes where no hard link can be made.
  ErrorCode CopyToKeep(int dir, const std::string& name, const struct stat& st, int keep_dir,
                       const std::string& keep_name, const CopyOptions& options);

  // xattr_posix.cc
  // Gives `target` the extended attributes of `source` that the options
  // carry. Failures are silent. Safe from any thread.
  void CopyExtendedAttributes(int source, int target, const CopyOptions& options);

  PosixFileSystemOptions options_;
  std::shared_ptr<ReadAheadState> read_ahead_;  // null while no walker runs
  std::string read_ahead_root_;                 // its folder, trimmed
  std::string read_ahead_prefix_;               // the start of the paths below it
  WalkPlan read_ahead_plan_;                    // for its folder
  // The identities (device, inode) of the confined roots while it runs, in
  // the order of roots_; {0, 0} for one that cannot be looked up.
  std::vector<std::pair<uint64_t, uint64_t>> read_ahead_root_ids_;
  std::thread read_ahead_thread_;
  std::vector<std::thread> lookup_threads_;  // the read-ahead's lookup pool
  // Changes made through the file system (see ChangeScope).
  std::shared_ptr<std::atomic<uint64_t>> changes_ = std::make_shared<std::atomic<uint64_t>>(0);
  // Whether ACLs are read with getxattrat: asked for, and not refused by the
  // kernel yet (shared with the read-ahead's threads).
  std::shared_ptr<std::atomic<bool>> use_getxattrat_ =
      std::make_shared<std::atomic<bool>>(options_.use_getxattrat);
  std::vector<std::string> roots_;
  std::vector<Fd> root_fds_;  // opened when first needed
  std::array<CachedFolder, 2> folders_;
  int calls_running_ = 0;  // see Call
  // The file systems changed since the roots were last set.
  std::vector<WrittenFileSystem> written_;
  std::string missing_folder_;  // the folder whose lookup failed last (see ResolveParent)
  ErrorCode missing_folder_code_ = 0;
  uint64_t clock_ = 0;
  bool openat2_missing_ = false;
  // Devices that refused user attributes since the roots were last set
  // (copies on several threads ask and add).
  std::mutex user_attributes_mutex_;
  std::vector<uint64_t> user_attributes_refused_;
  // What each volume met in this run keeps, by device (see Abilities).
  std::vector<std::pair<uint64_t, VolumeAbilities>> abilities_;
};

// Runs at(dirfd, name) on the final name of `path`, which adds, removes or
// renames an item there: the listing of its folder is forgotten, and its
// file system is written to.
template <typename At>
ErrorCode PosixFileSystem::AtCall(const std::string& path, At at) {
  const Call call(*this);
  ChangeScope change(*this, path);
  CachedFolder* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  folder->listed = false;
  folder->names.clear();
  if (at(folder->fd.get(), name.c_str()) != 0) return errno;
  NoteWritten(*folder);
  return 0;
}

}  // namespace twinmere::posix
