// The file-system services that the enumerator, the file operations and the
// security routines are built on.
//
// Two implementations exist: the real one for this operating system
// (file_system_posix.cc, created by CreatePlatformFileSystem) and an in-memory
// one for tests (memory_file_system.h), which can show behaviour that the
// machine's file systems cannot: case-insensitive names, 8.3 short names,
// injected failures.
//
// Conventions for every operation:
// - Paths are byte strings passed to the kernel unchanged; a name need not be
//   valid UTF-8. A folder path may or may not end in "/".
// - The result is an ErrorCode (platform/errors.h): 0 on success, otherwise the
//   errno of the first call that failed. Nothing throws.
// - Symbolic links are never followed: an operation on a path whose last
//   component is a link acts on the link itself, and a path whose folders
//   include a link below a confined root (SetConfinedRoots) fails with ELOOP
//   instead of being resolved through the link.
// - FIFOs, sockets and device nodes are invisible: listings skip them and a
//   lookup reports them as kErrNotSupported.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/folder_set.h"

namespace twinmere {

// A point in time as nanoseconds since 1970-01-01 00:00:00 UTC.
struct FileTime {
  int64_t ns = 0;
  auto operator<=>(const FileTime&) const = default;
};

enum class ItemKind : uint8_t {
  File,    // a regular file
  Folder,  // a directory
  Link,    // a symbolic link, handled like a file whose contents are its link text
};

// Attribute word of an item, as the comparison and the report see it.
inline constexpr uint32_t kAttrReadOnly = 0x1;  // no owner write permission
inline constexpr uint32_t kAttrFolder = 0x10;

// What a listing or a lookup tells about one item.
struct ItemInfo {
  std::string name;        // the name as stored on disk (letter case included)
  std::string short_name;  // the 8.3 alias where the file system keeps one; else empty
  ItemKind kind = ItemKind::File;
  uint32_t mode = 0;  // permission bits: st_mode & 07777
  uint64_t size = 0;  // bytes; a link's size is the length of its text
  FileTime access_time;
  FileTime modify_time;
  // When the item itself last changed (contents, times, mode, name); where a
  // file system keeps no such time, its modification time.
  FileTime change_time;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint64_t device = 0;  // device and inode identify the item
  uint64_t inode = 0;

  bool IsFolder() const { return kind == ItemKind::Folder; }
  // Folder bit 0x10, read-only bit 0x1 (owner may not write).
  uint32_t Attributes() const {
    return (IsFolder() ? kAttrFolder : 0u) | ((mode & 0200u) ? 0u : kAttrReadOnly);
  }
};

// One entry of an access or default ACL. tag is the libacl tag (ACL_USER_OBJ,
// ACL_USER, ACL_GROUP_OBJ, ACL_GROUP, ACL_MASK, ACL_OTHER), qualifier the uid or
// gid for ACL_USER and ACL_GROUP entries (else 0), perm the rwx bits (0..7).
struct AclEntry {
  uint32_t tag = 0;
  uint32_t qualifier = 0;
  uint32_t perm = 0;
  bool operator==(const AclEntry&) const = default;
};

// The security of one item: owner, group and ACLs, entries in stored order.
struct Security {
  uint32_t uid = 0;
  uint32_t gid = 0;
  bool has_access_acl = false;
  std::vector<AclEntry> access_acl;
  bool has_default_acl = false;  // folders only
  std::vector<AclEntry> default_acl;
  // A program's capabilities: its security.capability attribute as stored,
  // empty when it has none. Known only where they were read: for files with
  // an execute bit (the kernel uses them only to run a program) on file
  // systems that keep such attributes. Where either side's are unknown they
  // are neither compared nor written (a change of owner keeps a file's own).
  bool capability_known = false;
  std::string capability;
  // Windows keeps a security descriptor instead: owner, group, access list
  // and, where the process may read it, audit list (the ACL fields stay
  // empty, uid and gid hold the last part of the owner's and the group's
  // SID). It is held here in a self-contained form that two items share
  // exactly when their descriptors say the same (platform/win32). Empty on
  // Linux.
  std::string descriptor = {};
  bool operator==(const Security&) const = default;
};

// Where a folder lies inside its file system. Two places of one file system
// are nested exactly when one path is a prefix of the other at a "/", however
// the folders are reached (bind mounts, several mounts of one device).
struct FolderPlace {
  uint64_t file_system = 0;  // the device of the file system
  std::string path;          // from the file system's own root: "/" or "/a/b"
};

// A file system that was written to, and the folder of it written to first
// (or, for a change to a folder that is a mount point, that folder).
struct WrittenFileSystem {
  uint64_t device = 0;
  std::string folder;
};

// What one volume can keep of what a copy gives it. Found out by trying it
// (FileSystem::Abilities), since the type of a file system does not tell:
// FUSE and network file systems differ among themselves.
struct VolumeAbilities {
  // The permission bits that the volume keeps: all (07777); only the owner's
  // write bit, as the read-only attribute of vfat and exfat; or none (vfat
  // through FUSE, where no mode can be changed at all).
  uint32_t kept_mode_bits = 07777;
  // A link's own times can be set without following the link (over sftp
  // the server sets those of what the link points to instead).
  bool sets_link_times = true;
  // A renamed item keeps its times (vfat through FUSE gives it the time of
  // the rename).
  bool rename_keeps_times = true;
};

// The mode to give an item whose mode is `current` so that it holds as much
// of `wanted` as a volume keeping `kept_bits` can: `wanted` where all bits
// are kept; where only the read-only attribute is, all write bits taken away
// or given back together (the only change such a volume accepts); where none
// is, `current`.
constexpr uint32_t ModeOnVolume(uint32_t wanted, uint32_t current, uint32_t kept_bits) {
  if (kept_bits == 07777) return wanted & 07777;
  if (kept_bits == 0) return current & 07777;
  return ((wanted & 0200) ? (current | 0222) : (current & ~0222u)) & 07777;
}

// Receives the progress of a file copy. Called after every finished chunk
// (about 1 MiB) with the total number of bytes copied so far.
class IProgress {
 public:
  virtual ~IProgress() = default;
  virtual void SetProgress(uint64_t bytes_copied) = 0;
};

struct CopyOptions {
  IProgress* progress = nullptr;           // may be null
  const std::atomic<int>* stop = nullptr;  // nonzero: stop between chunks with kErrCancelled
  bool carry_owner = false;                // also give the copy the source's owner and group
  // Also the security.* and trusted.* extended attributes (the user.* ones
  // always go with the contents).
  bool carry_security_attributes = false;
  // A file's copy may also be given this owner, group and access ACL, and
  // then the mode `security_mode`, before it takes its name: what
  // WriteSecurity and SetMode would give it after the copy (in place of
  // the source's owner and mode). `*security_given` tells whether they were
  // given; a copy whose security could not be given still succeeds.
  const Security* security = nullptr;
  uint32_t security_mode = 0;
  bool* security_given = nullptr;
  // Where the file or link that the copy replaces is kept, or null: a free
  // name in an existing folder. Before the copy takes the name `to` from an
  // existing file or link, that item gets this name too: a hard link where
  // the file system allows one (it is the item itself: contents, mode,
  // owner and times), else a fail-safe copy (contents, mode, times, and the
  // owner with carry_owner), on the disk before the old item leaves `to`.
  // Should it not be kept, the copy fails and `to` stays as it was.
  // `*old_kept` (may be null) tells whether an old item was kept.
  const std::string* keep_old_as = nullptr;
  bool* old_kept = nullptr;
  // The name was free when the caller looked: the copy takes it only where
  // it still is, and fails with kErrAlreadyExists otherwise (leaving what
  // holds it as it was), also where the file system takes the name for
  // another one that is there (letter case).
  bool no_replace = false;
};

enum class RenameMode : uint8_t {
  NoReplace,  // fail with kErrAlreadyExists when the new name is taken
  Replace,    // atomically replace an existing file or link of the new name
};

// How much a walk needs to know of each item before it asks (WalkPlan).
enum class ItemDetail : uint8_t {
  Full,  // everything ItemInfo holds
  Kind,  // the name and the kind; the rest only for the few items asked about
};

// The folders that a walk announced with FileSystem::ExpectWalk leaves out,
// as its read-ahead asks about them: it neither lists a folder left out nor
// looks up anything it holds. A folder may hold a file of rules of its own
// (or its counterpart may), which decides about the folders below it: as
// the read-ahead goes into that folder, the filter has it read unless it
// knows the rules already.
// Used by the one thread that lists ahead.
class WalkFilter {
 public:
  virtual ~WalkFilter() = default;
  // The name of the files of rules, and whether they lie in the counterpart
  // folders (WalkPlan::counterpart_root) rather than in the walked ones.
  virtual const std::string& RulesFileName() const = 0;
  virtual bool RulesInCounterparts() const = 0;
  // Reads the file of rules of the folder entered: 0 with its text,
  // kErrNotFound where it has none (nothing of that name, or an item that
  // is no regular file), else the error of reading it.
  using ReadRules = std::function<ErrorCode(std::string& rules)>;
  // The read-ahead goes into the subfolder `path` (as the walk spells it,
  // without a trailing "/"); `read` reads its file of rules, where the
  // filter does not know them already. False where the folder's rules
  // cannot be used: the read-ahead then leaves what the folder holds to the
  // walk. Each Enter is followed by one Leave.
  virtual bool Enter(std::string_view path, const ReadRules& read) = 0;
  virtual void Leave() = 0;
  // Whether the subfolder `path` of the folder entered last (of the
  // announced folder, before any Enter) is left out.
  virtual bool LeavesOut(std::string_view path) = 0;
  // Files of rules larger than this are not read (kErrFileTooLarge).
  virtual size_t RulesLimit() const = 0;
};

// Gives each read-ahead its WalkFilter.
class WalkFilterSource {
 public:
  virtual ~WalkFilterSource() = default;
  // The filter of a read-ahead that begins at `folder` (as the walk spells
  // it, ending in "/"), which the walk is in when it is called, on the
  // walk's thread; null: none (the read-ahead lists every folder).
  virtual std::unique_ptr<WalkFilter> ForReadAhead(const std::string& folder) = 0;
};

// What a walk announced with FileSystem::ExpectWalk will ask for each item,
// so that the file system can read it ahead of the walk.
struct WalkPlan {
  ItemDetail items = ItemDetail::Full;
  bool item_security = false;  // ReadSecurity of each item
  // The walk looks up each item's counterpart: the item's path below the
  // walked folder, joined to this folder (ending in "/"). Empty: no lookups.
  std::string counterpart_root;
  ItemDetail counterparts = ItemDetail::Full;
  bool counterpart_security = false;  // ReadSecurity of each counterpart found
  // Folders whose files (every item but a folder) the walk hands over by
  // name and kind alone, asking nothing more of them or of their
  // counterparts; their subfolders are asked about as planned. Null: none.
  std::shared_ptr<const FolderSet> passed_over;
  // The folders the walk leaves out; null: none.
  std::shared_ptr<WalkFilterSource> left_out;
};

// Reads the entries of one open folder.
class FolderReader {
 public:
  virtual ~FolderReader() = default;
  // Fills `item` with the next entry ("." and ".." never appear). Returns 0,
  // kErrNoMoreEntries after the last entry, or the error that ended the listing.
  virtual ErrorCode Next(ItemInfo& item) = 0;

  // What a planned walk (FileSystem::ExpectWalk) read ahead for the item
  // Next gave last. Each answers only what it knows to be current: nothing
  // has been changed through the file system since it was read. False
  // otherwise; the caller then asks the file system itself.

  // False when the item holds only its name and kind (ItemDetail::Kind):
  // a Lookup of its path gives the rest.
  virtual bool Detailed() const { return true; }
  // The item's counterpart, found under exactly the name asked for in the
  // folder of `path`, which must be the planned counterpart path. With
  // `detailed` false only its name and kind are filled. A counterpart that
  // is missing is never answered here.
  virtual bool AheadCounterpart(const std::string& path, ItemInfo& info, bool& detailed) {
    (void)path;
    (void)info;
    (void)detailed;
    return false;
  }
  // ReadSecurity of the item, and of its counterpart at `path`: the result
  // and, with 0, the security.
  virtual bool AheadItemSecurity(Security& security, ErrorCode& code) {
    (void)security;
    (void)code;
    return false;
  }
  virtual bool AheadCounterpartSecurity(const std::string& path, Security& security,
                                        ErrorCode& code) {
    (void)path;
    (void)security;
    (void)code;
    return false;
  }
};

// Copies of files that run on threads of the file system, several at once
// (FileSystem::ParallelCopies). Used from one thread: the one that made it.
class CopyPool {
 public:
  // Collect every started copy first: one still running is waited for.
  virtual ~CopyPool() = default;
  // How many copies may run at once, and how many were started and not yet
  // collected.
  virtual size_t Capacity() const = 0;
  virtual size_t Running() const = 0;
  // Starts CopyFile(from, to, options) and returns at once: 0 when it runs
  // (Collect gives its result), else the error that kept it from starting,
  // before it changed anything. `options` and what it points to stay
  // valid until the copy is collected; its progress receiver is called on
  // the copy's thread. Only while Running() < Capacity().
  virtual ErrorCode Start(uint64_t tag, const std::string& from, const std::string& to,
                          const CopyOptions& options) = 0;
  // Waits up to `seconds` for a started copy to end. True with the tag and
  // the result (as CopyFile's) of one that ended, each given once.
  virtual bool Collect(double seconds, uint64_t& tag, ErrorCode& result) = 0;
};

// An exclusive advisory lock on a file, which other processes can test
// (FileSystem::LockFile), held until the object goes.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Paths below these folders are resolved without following any link below
  // them (the roots themselves are resolved as written). Replaces earlier roots.
  // A run sets the roots at its start and clears them at its end: between
  // those calls the file system may keep folders open; with no roots set it
  // keeps nothing open between calls, so that an idle program keeps no
  // volume busy (a removable Target can be unmounted).
  virtual void SetConfinedRoots(const std::vector<std::string>& roots) = 0;

  // A walk of the whole tree below `folder` follows: the folder is opened,
  // then every subfolder in listing order, each one's subfolders before the
  // next sibling, and `plan` tells what it asks of each item. The file
  // system may read ahead in that order; the listings still come only
  // through OpenFolder, and what was read ahead through the FolderReader.
  // Ends any earlier read-ahead. Never fails (a folder that cannot be read
  // is left to OpenFolder) and never descends through a link. By default it
  // does nothing.
  virtual void ExpectWalk(const std::string& folder, const WalkPlan& plan) {
    (void)folder;
    (void)plan;
  }
  void ExpectWalk(const std::string& folder) { ExpectWalk(folder, WalkPlan{}); }

  // Opens a folder for listing. Fails with the error of the open (ENOENT,
  // ENOTDIR for a file or a link, EACCES ...).
  virtual ErrorCode OpenFolder(const std::string& folder,
                               std::unique_ptr<FolderReader>& reader) = 0;

  // Looks one item up without following a final link. On a case-insensitive
  // file system the name is the one stored on disk; a path that names an item
  // through its 8.3 alias finds that item (its long name then differs).
  // Missing items give kErrNotFound or kErrPathNotFound.
  virtual ErrorCode Lookup(const std::string& path, ItemInfo& info) = 0;

  // Creates one folder (mode 0777 less the umask). kErrAlreadyExists if taken.
  virtual ErrorCode CreateFolder(const std::string& path) = 0;
  // Removes an empty folder.
  virtual ErrorCode RemoveFolder(const std::string& path) = 0;
  // Deletes a file or a link (never what the link points to).
  virtual ErrorCode DeleteFile(const std::string& path) = 0;
  // Renames a file, link or folder within one file system; it keeps its
  // times also where the volume would give it the time of the rename.
  virtual ErrorCode Rename(const std::string& from, const std::string& to, RenameMode mode) = 0;
  // Creates a new empty file; kErrAlreadyExists when the name is taken.
  virtual ErrorCode CreateNewFile(const std::string& path) = 0;
  // Creates a new file holding `contents` (mode 0666 less the umask), whole
  // or not at all: the name shows it only once it is complete, and is never
  // taken from an existing item (kErrAlreadyExists).
  virtual ErrorCode WriteNewFile(const std::string& path, std::string_view contents) = 0;

  // Sets the permission bits (mode & 07777) of a file or folder, as far as
  // its volume keeps them (ModeOnVolume; a volume that keeps none succeeds
  // without change). A link's permissions cannot be set: succeeds without
  // change.
  virtual ErrorCode SetMode(const std::string& path, uint32_t mode) = 0;
  // Sets access and modification times (of a link itself, for a link).
  virtual ErrorCode SetTimes(const std::string& path, FileTime access, FileTime modify) = 0;

  // Copies a file or link to `to`, replacing a file or link of that name. The
  // contents go to a temporary file in the folder of `to`, which gets the
  // source's mode (as far as the volume keeps modes) and times (a link's
  // only where the volume can set them without following it), and owner
  // with carry_owner, and is then renamed over the name; on any failure or
  // stop the old `to` is left as it was and no temporary file remains. A stop
  // gives kErrCancelled; a source that changed while it was copied (its
  // size or times differ from those seen before) kErrChangedMeanwhile. Holes
  // of a sparse file stay holes. A file's extended attributes go with it
  // where the target keeps them (see CopyOptions); one that cannot be
  // carried fails nothing. A large replacement reaches the disk before it
  // takes the name.
  virtual ErrorCode CopyFile(const std::string& from, const std::string& to,
                             const CopyOptions& options) = 0;

  // Copies into the folder `folder` and below it that run several at once
  // where that is faster: on a file system where every request is a round
  // trip (network, FUSE), the same that the read-ahead asks with a pool.
  // Null where one copy at a time is as fast (the default): CopyFile then.
  // The pool goes before the file system does, and before its roots change.
  virtual std::unique_ptr<CopyPool> ParallelCopies(const std::string& folder) {
    (void)folder;
    return nullptr;
  }

  // Gives the folder `to` the extended attributes of the folder `from`, as
  // CopyFile gives a file's to its copy (options.carry_security_attributes
  // says which). Fails with the error of opening either folder (a link
  // fails); an attribute that cannot be carried fails nothing.
  virtual ErrorCode CopyFolderAttributes(const std::string& from, const std::string& to,
                                         const CopyOptions& options) = 0;

  // What the volume holding the folder of `path` can keep. Found out once
  // per volume between two SetConfinedRoots calls (once per run) by giving a
  // temporary file in that folder a mode and times and renaming it, and a
  // temporary link there, which points nowhere, times, both removed at once
  // (file systems known to keep everything, such as ext4, need no trial):
  // ask only for folders the run writes to. Where nothing can be tried (the
  // folder is missing or not writable) the answer is not kept and is the
  // careful one: modes count, link times are never set, times are set again
  // after a rename.
  virtual VolumeAbilities Abilities(const std::string& path) = 0;
  // What Abilities(path) would answer where that is known without trying
  // anything (a volume that keeps everything, or one tried already since
  // the confined roots were set): true and the abilities. False where only
  // a trial would tell; nothing is written either way.
  virtual bool KnownAbilities(const std::string& path, VolumeAbilities& abilities) {
    (void)path;
    (void)abilities;
    return false;
  }

  // Whether the names in the folder `folder` compare ignoring letter case
  // (vfat, exfat, a casefolded ext4 folder ...). Where the type of the file
  // system does not tell (FUSE), a lookup of a name in another case decides:
  // one of the folder's names, else one of a folder above it on the same
  // file system; false where no name there holds a letter. Nothing is
  // written. False by default.
  virtual bool NamesIgnoreCase(const std::string& folder) {
    (void)folder;
    return false;
  }

  // Whether the folder holds entries that listings never hand over (FIFOs,
  // sockets, devices): such a folder cannot be removed even when its
  // listing is empty. Nothing is written. False by default.
  virtual bool HoldsUnlistedItems(const std::string& folder) {
    (void)folder;
    return false;
  }

  // Reads the text of the link `path`. EINVAL when it is no link.
  virtual ErrorCode ReadLink(const std::string& path, std::string& text) = 0;

  // Reads the regular file `path` whole into `text` (a small file of the
  // synchronized trees, such as a folder's rules). Never through a final
  // link and never waiting: kErrNotSupported for a link or any other item
  // that is no regular file, kErrIsAFolder for a folder, kErrFileTooLarge
  // once it holds more than `limit` bytes. `text` is unspecified after a
  // failure.
  virtual ErrorCode ReadFileText(const std::string& path, size_t limit, std::string& text) = 0;

  // Reads or writes owner, group and ACLs (for folders also the default ACL).
  virtual ErrorCode ReadSecurity(const std::string& path, Security& security) = 0;
  virtual ErrorCode WriteSecurity(const std::string& path, const Security& security) = 0;
  // True when the file system under `path` keeps owners and ACLs.
  virtual bool KeepsSecurity(const std::string& path) = 0;

  // Where the folder `folder` lies inside its file system, links followed
  // (the folder as the user names it). kErrNotSupported only from a file
  // system without mounts (the default), where the identities of folders
  // tell all; a file system with mounts that cannot tell the place fails
  // with the error that kept it from knowing (of opening the folder, of
  // reading the mount table ...), never with kErrNotSupported.
  virtual ErrorCode LocateFolder(const std::string& folder, FolderPlace& place) {
    (void)folder;
    (void)place;
    return kErrNotSupported;
  }

  // Writes everything written to the file system that holds the folder
  // `path` to its disk (syncfs). Fails with the error of the open, or with
  // the write-back error (EIO, ENOSPC ...) that the file system met since.
  virtual ErrorCode SyncFileSystem(const std::string& path) = 0;

  // Every file system written to through this object since the confined
  // roots were last set, once each, in the order first written: a Target
  // may hold mounts of other file systems. Items created, removed, renamed
  // or copied count for the file system of their folder; modes, times,
  // owners, ACLs and attributes for that of the item.
  virtual std::vector<WrittenFileSystem> WrittenFileSystems() const = 0;

  // Creates a new file holding `contents` as WriteNewFile does, and holds
  // its lock in `lock` from before its name shows, so that no one else can
  // take it first. Where the file system takes no locks, the file is made
  // all the same and `lock` stays empty.
  virtual ErrorCode CreateLockedFile(const std::string& path, std::string_view contents,
                                     std::unique_ptr<FileLock>& lock) = 0;
  // Takes the lock of the regular file `path` (never through a final link)
  // without waiting, and reads up to `limit` bytes of it into `contents`.
  // kErrInUse while another holder has it; any other failure (a file
  // system without locks, a missing file) is the error that kept it.
  virtual ErrorCode LockFile(const std::string& path, size_t limit, std::string& contents,
                             std::unique_ptr<FileLock>& lock) = 0;
};

// The file system of this machine. A walk keeps one folder open per level
// of the tree: the process's soft limit of open descriptors is raised to its
// hard limit here, so that trees deeper than the usual 1024 can be walked.
std::unique_ptr<FileSystem> CreatePlatformFileSystem();

}  // namespace twinmere
