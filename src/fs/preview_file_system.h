// A file system that writes nothing: the one a preview runs on.
//
// Every operation of FileSystem that changes anything is kept here; one
// added to FileSystem needs its own override here, or a preview would write.
//
// It stands in front of the real file system. Reads go through to it; every
// change (a folder created, a file copied, deleted or renamed, a mode, time
// or security given) is kept in memory instead, as what the item now is, and
// every later lookup, listing or read answers from what was kept where it
// touches a changed item. The engine therefore runs unchanged on it: a
// bidirectional run's second phase sees what the first would have copied, the
// deleting phase what the copying phase would have created, a re-comparison
// after an action the action's result.
//
// What it cannot know without trying is taken to succeed: a full disk, a
// refused permission, a name the volume does not take. In a folder that
// compares names ignoring case, made names match in another case of their
// ASCII letters. A volume whose
// abilities only a trial tells (FileSystem::KnownAbilities) is taken to keep
// all modes. Items it makes have no 8.3 aliases, and their contents and
// extended attributes are not kept (nothing reads them through the file
// system). A listing shows the real entries in their real order, then the
// items made or renamed here in the order that happened (as the in-memory
// file system and tmpfs list them).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace twinmere {

class PreviewFileSystem final : public FileSystem {
 public:
  // `real` outlives this object; nothing is ever written through it.
  explicit PreviewFileSystem(FileSystem& real);
  ~PreviewFileSystem() override;
  PreviewFileSystem(const PreviewFileSystem&) = delete;
  PreviewFileSystem& operator=(const PreviewFileSystem&) = delete;

  void SetConfinedRoots(const std::vector<std::string>& roots) override;
  void ExpectWalk(const std::string& folder, const WalkPlan& plan) override;
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
  // Copies one at a time, kept here: a pool of the real file system would
  // write.
  std::unique_ptr<CopyPool> ParallelCopies(const std::string& folder) override {
    (void)folder;
    return nullptr;
  }
  ErrorCode CopyFolderAttributes(const std::string& from, const std::string& to,
                                 const CopyOptions& options) override;
  VolumeAbilities Abilities(const std::string& path) override;
  bool KnownAbilities(const std::string& path, VolumeAbilities& abilities) override;
  bool NamesIgnoreCase(const std::string& folder) override;
  bool HoldsUnlistedItems(const std::string& folder) override;
  ErrorCode ReadLink(const std::string& path, std::string& text) override;
  // A real file is read on the real file system; a file made here reads as
  // empty (its contents are not kept).
  ErrorCode ReadFileText(const std::string& path, size_t limit, std::string& text) override;
  ErrorCode ReadSecurity(const std::string& path, Security& security) override;
  ErrorCode WriteSecurity(const std::string& path, const Security& security) override;
  bool KeepsSecurity(const std::string& path) override;
  ErrorCode LocateFolder(const std::string& folder, FolderPlace& place) override;
  // Nothing was written: succeeds at once.
  ErrorCode SyncFileSystem(const std::string& path) override;
  // Always empty.
  std::vector<WrittenFileSystem> WrittenFileSystems() const override;
  // A file made here is locked by nothing real (its contents read as
  // empty); a real one is locked, and read, on the real file system.
  ErrorCode CreateLockedFile(const std::string& path, std::string_view contents,
                             std::unique_ptr<FileLock>& lock) override;
  ErrorCode LockFile(const std::string& path, size_t limit, std::string& contents,
                     std::unique_ptr<FileLock>& lock) override;

  struct Node;

 private:
  class Reader;
  struct Found;

  ErrorCode Resolve(const std::string& path, bool make, Found& found);
  Node* RootOf(const std::string& path, bool make);
  Node* MakeChild(Node& folder, const ItemInfo& info, bool real);
  // The node of an existing item, made (with the nodes above it) where needed.
  ErrorCode NodeOf(const std::string& path, Node*& node);
  // A new item of `kind` at `path`, a name not taken: its node.
  ErrorCode CreateItem(const std::string& path, ItemKind kind, uint32_t mode, uint64_t size,
                       Node*& node);
  // The folder that would hold `path`, as a node, and the final name.
  ErrorCode ParentOf(const std::string& path, Node*& folder, std::string& name);
  std::string RealPath(const Node& node) const;
  // The real folder nearest to `path` that exists (`path` itself or above).
  std::string NearestRealFolder(const std::string& path);
  bool Untouched(const std::string& path) const;
  void Touch(Node& folder);
  void Change(Node& node);
  void Remove(Node& node);
  bool IgnoresCase(Node& folder);
  ErrorCode ListNode(Node& folder, bool& empty);

  FileSystem& real_;
  // The trees of changes below each root ("/", "C:/" ...; "" for the
  // working folder), made as the first change below it comes.
  std::map<std::string, std::unique_ptr<Node>> roots_;
  uint64_t next_inode_;
  uint64_t next_append_ = 1;
};

}  // namespace twinmere
