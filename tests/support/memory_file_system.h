// A file system held in memory, for tests.
//
// It shows the behaviour that the machine's file systems cannot: names that
// compare ignoring letter case, 8.3 short names generated the way Windows
// generates them (NAME~1.EXT, NAME~2.EXT ...) and found by lookup, security
// with owner, group and ordered ACL entries, and injected failures (the next
// call of an operation fails with a given code; a byte budget after which
// copies fail with kErrNoSpace).
//
// Paths are absolute ("/a/b"); a trailing "/" is ignored. Links are items
// whose contents are their text; they are never followed, and a link among
// the folders of a path gives kErrLinkInPath. Listings return items in the order they
// were created.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace twinmere {

// Rules of one volume: the whole file system (constructor) or a folder and
// everything below it (SetVolume).
struct MemoryFileSystemOptions {
  bool case_insensitive = false;  // names equal ignoring ASCII letter case clash
  bool short_names = false;       // generate 8.3 aliases for names that are not 8.3
  bool keeps_security = true;     // KeepsSecurity answers this
  // Abilities answers these. A volume that keeps only some mode bits holds
  // what ModeOnVolume gives, and its new files start as 0755 (like vfat); a
  // link copied to a volume that cannot set a link's times gets time 0.
  uint32_t kept_mode_bits = 07777;
  bool sets_link_times = true;
};

// The operations that can be made to fail.
enum class MemoryOp : uint8_t {
  OpenFolder,
  ReadFolder,  // FolderReader::Next
  Lookup,
  CreateFolder,
  RemoveFolder,
  DeleteFile,
  Rename,
  CreateNewFile,
  WriteNewFile,
  SetMode,
  SetTimes,
  CopyFile,
  ReadSecurity,
  WriteSecurity,
  SyncFileSystem,
};

class MemoryFileSystem : public FileSystem {
 public:
  explicit MemoryFileSystem(MemoryFileSystemOptions options = {});
  ~MemoryFileSystem() override;

  // FileSystem
  void SetConfinedRoots(const std::vector<std::string>& roots) override;
  ErrorCode OpenFolder(const std::string& folder, std::unique_ptr<FolderReader>& reader) override;
  ErrorCode Lookup(const std::string& path, ItemInfo& info) override;
  ErrorCode CreateFolder(const std::string& path) override;
  ErrorCode RemoveFolder(const std::string& path) override;
  ErrorCode DeleteFile(const std::string& path) override;
  ErrorCode Rename(const std::string& from, const std::string& to, RenameMode mode) override;
  ErrorCode CreateNewFile(const std::string& path) override;
  ErrorCode WriteNewFile(const std::string& path, std::string_view contents) override;
  ErrorCode SetMode(const std::string& path, uint32_t mode) override;
  ErrorCode SetTimes(const std::string& path, FileTime access, FileTime modify) override;
  ErrorCode CopyFile(const std::string& from, const std::string& to,
                     const CopyOptions& options) override;
  // The items keep no extended attributes: only checks that both folders exist.
  ErrorCode CopyFolderAttributes(const std::string& from, const std::string& to,
                                 const CopyOptions& options) override;
  ErrorCode ReadSecurity(const std::string& path, Security& security) override;
  ErrorCode WriteSecurity(const std::string& path, const Security& security) override;
  bool KeepsSecurity(const std::string& path) override;
  ErrorCode SyncFileSystem(const std::string& path) override;
  std::vector<WrittenFileSystem> WrittenFileSystems() const override;
  VolumeAbilities Abilities(const std::string& path) override;
  // Abilities never tries anything here.
  bool KnownAbilities(const std::string& path, VolumeAbilities& abilities) override;
  bool NamesIgnoreCase(const std::string& folder) override;
  ErrorCode ReadLink(const std::string& path, std::string& text) override;
  ErrorCode ReadFileText(const std::string& path, size_t limit, std::string& text) override;
  // Locks are held by their objects; a file's lock is one for everyone.
  ErrorCode CreateLockedFile(const std::string& path, std::string_view contents,
                             std::unique_ptr<FileLock>& lock) override;
  ErrorCode LockFile(const std::string& path, size_t limit, std::string& contents,
                     std::unique_ptr<FileLock>& lock) override;

  // Building trees. Missing parent folders are created (mode 0755). Each
  // fails the same way as the corresponding operation (EEXIST, ELOOP ...).
  ErrorCode AddFolder(const std::string& path, uint32_t mode = 0755, FileTime time = {});
  ErrorCode AddFile(const std::string& path, const std::string& contents, FileTime time = {},
                    uint32_t mode = 0644);
  ErrorCode AddLink(const std::string& path, const std::string& text, FileTime time = {});

  // Contents of a file or text of a link; nullopt when missing or a folder.
  std::optional<std::string> ReadContents(const std::string& path) const;
  bool Exists(const std::string& path) const;
  // Long names in a folder, in listing order.
  std::vector<std::string> Names(const std::string& folder) const;

  // Fault injection: the next `count` calls of `op` fail with `code` and
  // change nothing, once `after` such calls went through. With a `path`,
  // only calls given exactly that path count (the source path for Rename and
  // CopyFile, the folder as passed to OpenFolder for OpenFolder and
  // ReadFolder).
  void FailNext(MemoryOp op, ErrorCode code, const std::string& path = {}, int count = 1,
                int after = 0);
  // Copies may write this many more bytes in all; a copy that would exceed the
  // budget fails with kErrNoSpace and leaves the target as it was. Unlimited by default.
  void SetByteBudget(uint64_t bytes);
  // Bytes of file contents written by copies so far.
  uint64_t BytesCopied() const { return bytes_copied_; }
  // Makes `folder` (created when missing) and everything below it a volume of
  // its own with these options and its own device number, as a mounted file
  // system would be: a rename into or out of it fails with kErrCrossDevice.
  ErrorCode SetVolume(const std::string& folder, const MemoryFileSystemOptions& options);
  // Number of Lookup calls so far (to check that a cache saves lookups).
  int LookupCount() const { return lookup_count_; }
  // The folders given to OpenFolder so far, as given, in order.
  const std::vector<std::string>& Opened() const { return opened_; }
  // The paths of the SyncFileSystem calls that succeeded, in order.
  const std::vector<std::string>& Synced() const { return synced_; }

  struct Node;
  struct Volume {
    MemoryFileSystemOptions options;
    uint64_t device = 0;
  };

 private:
  struct Fault {
    MemoryOp op;
    ErrorCode code;
    std::string path;
    int count;
    int after;
  };
  friend class MemoryFolderReader;

  ErrorCode Injected(MemoryOp op, const std::string& path);
  // Resolves all but the final component: `parent` is the folder, `name` the
  // final name (empty for the root itself).
  ErrorCode ResolveParent(const std::string& path, Node*& parent, std::string& name) const;
  ErrorCode Resolve(const std::string& path, Node*& node, Node** parent = nullptr) const;
  Node* FindChild(const Node& folder, const std::string& name) const;
  static bool NamesEqual(const Volume& volume, const std::string& a, const std::string& b);
  void AssignShortName(Node& folder, Node& node) const;
  ErrorCode AddNode(const std::string& path, std::unique_ptr<Node> node, bool make_parents);
  void FillInfo(const Node& node, ItemInfo& info) const;
  // The volume of the nearest existing folder of the path.
  const Volume& VolumeOf(const std::string& path) const;
  void NoteWritten(const Volume& volume, const std::string& folder);
  void NoteEntryWritten(const std::string& path);

  std::deque<Volume> volumes_;  // the first one is the root's
  std::unique_ptr<Node> root_;
  std::vector<Fault> faults_;
  std::optional<uint64_t> budget_;
  uint64_t bytes_copied_ = 0;
  uint64_t next_inode_ = 2;
  int lookup_count_ = 0;
  std::vector<std::string> opened_;
  std::vector<std::string> synced_;
  std::vector<WrittenFileSystem> written_;  // since SetConfinedRoots
  std::set<uint64_t> locked_;               // the inodes of locked files
};

}  // namespace twinmere
