// Walks one folder and is the engine's handle on the current item and its
// counterpart on the other side.
//
// The enumerator hands every item to an IEnumFile callback. During the call
// the callback reads the item from the enumerator, compares it with a
// counterpart path and asks the enumerator to act on the counterpart (copy,
// attributes, rename, delete, security). A one-entry cache keeps the last
// counterpart looked up, so that a comparison and the operations after it cost
// one lookup; every operation that changes the counterpart resets it.
//
// All operations return an ErrorCode (0 = success); nothing throws. Links are
// never followed (platform/file_system.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/item_keeper.h"
#include "platform/errors.h"
#include "platform/file_system.h"

namespace twinmere {

class FilesEnumerator;

// A folder told by what it is, not by how a path names it.
struct FolderId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FolderId&) const = default;
};

enum class EnumMode : int {
  NoRecursion = 0,    // only the folder's own items
  ContentsFirst = 1,  // a subfolder's contents before the subfolder itself
  FolderFirst = 2,    // the subfolder first, then its contents
};

// Callbacks of a walk, in this order.
class IEnumFile {
 public:
  virtual ~IEnumFile() = default;
  virtual void File(FilesEnumerator& e) = 0;
  virtual void AccessError(const std::string& path, ErrorCode code) = 0;
  virtual void SecurityError(const std::string& path, ErrorCode code) = 0;
};

// What every enumerator of a run shares. Owned by the run; outlives them.
struct EnumeratorContext {
  FileSystem* fs = nullptr;
  bool security_support = false;           // SecuritySupport of the run
  IProgress* progress = nullptr;           // copy progress receiver, may be null
  const std::atomic<int>* stop = nullptr;  // StopRequested: cancels a running copy
  // Walks begun and not yet over: a walk started while one runs is nested.
  int walks_running = 0;
  // The top folders of the trees the run writes to: a temporary item left
  // in them by a copy that cannot be live (MayRemoveLeftover) is removed
  // when a walk meets it. Elsewhere it is only passed over. Whether a
  // walked folder lies in one of them is told by the identities of the
  // folder and of those above it, whatever path names it.
  std::vector<FolderId> leftover_roots{};
  // What the next outermost walk will ask of its items (FileSystem::ExpectWalk).
  WalkPlan plan{};
  // Where deleted and replaced items go first; null: they vanish.
  ItemKeeper* keeper = nullptr;
  // Items that every walk leaves out, neither handed over nor entered: their
  // paths as the walks spell them, without a trailing "/".
  std::vector<std::string> left_out{};
};

// The progress of a copy that runs on another thread: the bytes it has
// copied so far, read by the walk's thread.
class CopyProgress final : public IProgress {
 public:
  void SetProgress(uint64_t bytes_copied) override {
    bytes_.store(bytes_copied, std::memory_order_relaxed);
  }
  uint64_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> bytes_{0};
};

// A copy of a file made on behalf of an enumerator's item (CopyTo), or
// running beside the walk (StartCopyTo): what it needs and tells until it
// ends, when the walk has long gone on.
struct StartedCopy {
  std::string from;   // the item
  std::string to;     // the counterpart
  uint32_t mode = 0;  // the item's permission mode
  CopyOptions options;
  CopyProgress progress;  // of a copy running beside the walk
  Security security;      // the item's, given with the copy, where read
  bool security_read = false;
  bool security_given = false;  // the copy gave it (CopyOptions::security_given)
  // The counterpart's read-only bit was cleared for the copy; its mode before.
  bool cleared = false;
  uint32_t old_mode = 0;
  bool name_free = false;  // no counterpart was there
};

// What CompareSecurity found.
enum class SecurityMatch : uint8_t {
  Same,
  Differs,
  OtherUnreadable,  // the counterpart's could not be read (SecurityError was raised)
  ItemUnreadable,   // the item's could not be read (SecurityError was raised)
};

class FilesEnumerator : public IEnumFile {
 public:
  explicit FilesEnumerator(EnumeratorContext& context);
  ~FilesEnumerator() override;
  FilesEnumerator(const FilesEnumerator&) = delete;
  FilesEnumerator& operator=(const FilesEnumerator&) = delete;

  // The folder to walk; the caller passes a path ending in "/".
  void SetFolder(std::string path);

  // Walks FolderPath: every entry matching `mask` ("*" matches all; otherwise
  // an exact name) goes to callback.File, in the order the file system lists
  // them; subfolders according to `mode` (always with mask "*"). A folder that
  // cannot be opened gives one callback.AccessError(FolderPath + mask, code)
  // and its code as result; an error while listing gives
  // AccessError(FolderPath, code). A subfolder's errors do not end the walk.
  // The items of context.left_out and the temporary items of copies
  // (platform/temporary_names.h) are never handed over; those that cannot belong to a live copy are
  // removed, silently, where they lie in a tree of context.leftover_roots. An outermost recursive
  // walk of every entry is announced to the file system first (FileSystem::ExpectWalk with
  // context.plan), so that it may read ahead; what it read ahead serves the item's details, the
  // first lookup of its counterpart and the first reads of both's security. Returns 0 when done or
  // stopped. Never descends through a link.
  ErrorCode Enumerate(IEnumFile& callback, EnumMode mode, std::string_view mask);

  // The walk of this enumerator ends before its next entry.
  void Stop();

  // The current item (valid during callback.File). Its name and kind are
  // known from the listing; Item() looks the rest up where the listing
  // read no more (ItemDetail::Kind).
  const std::string& FolderPath() const { return folder_path_; }
  const std::string& FullPath() const { return full_path_; }
  const std::string& Name() const { return item_.name; }
  bool IsFolder() const { return item_.IsFolder(); }
  const ItemInfo& Item() const;
  uint32_t Attributes() const { return Item().Attributes(); }
  uint64_t Size() const { return Item().size; }
  // FolderPath followed by the item's short name, or its long name when it has none.
  std::string ShortFormPath() const;

  // Counterpart lookup. FindOther fills the cache on success and resets it on
  // failure (missing: kErrNotFound or kErrPathNotFound). What the walk read
  // ahead may answer it with the counterpart's name and kind only; Other()
  // looks the rest up when asked.
  ErrorCode FindOther(const std::string& path);
  bool IsOtherCached(const std::string& path) const;  // exact, case-sensitive
  void ResetOtherCache();
  // The caller knows that no counterpart is at `path` (kErrNotFound) without
  // a lookup: the operations after it take it as missing.
  void NoteOtherMissing(const std::string& path);
  // Valid while cached.
  const std::string& OtherName() const { return other_.name; }
  bool OtherIsFolder() const { return other_.IsFolder(); }
  const ItemInfo& Other() const;
  uint64_t OtherSize(const std::string& path);  // 0 when missing
  // The short form of the path's folder followed by the counterpart's short
  // name, or its long name when it has none; empty when it does not exist.
  std::string OtherShortFormPath(const std::string& path);

  // Operations that change the disk (each resets the counterpart cache on
  // success). With a keeper in the context, a file or link that CopyTo
  // replaces and an item that DeleteItem or DeleteOther deletes go to their
  // place first: the old item is kept before it leaves its name, and stays
  // where it is when it cannot be kept (the keeper's error is returned).
  ErrorCode CopyTo(const std::string& path);  // copy the file / create the folder
  // CopyTo of a file, started in `pool` under `tag` (CopyPool::Start) and
  // left to run: 0 when it runs. `copy` stays where it is until EndCopy
  // after the pool gave its result, or at once when it did not start. A
  // copy to a name that was free takes it only while it still is
  // (CopyOptions::no_replace): copies running at once never replace each
  // other's, whatever names the file system takes for the same.
  ErrorCode StartCopyTo(const std::string& path, CopyPool& pool, uint64_t tag, StartedCopy& copy);
  // After a copy of a file ended with `code`: a failed copy gives the
  // counterpart back the read-only bit it had. Returns `code`.
  static ErrorCode EndCopy(FileSystem& fs, const StartedCopy& copy, ErrorCode code);
  // After CopyTo copied a file while security is handled: the copy was
  // given the item's security and then its mode on its way
  // (CopySecurityTo and SetAttributesOn have nothing to add).
  bool CopyCarriedSecurity() const { return copy_carried_security_; }
  ErrorCode SetAttributesOn(const std::string& path);  // the item's permission mode
  ErrorCode SetFolderTimesOn(const std::string& path);
  // Gives the counterpart, found through `path`, the item's name: a change of
  // letter case only. Succeeds at once when the names are equal already.
  ErrorCode RenameOtherToItemName(const std::string& path);
  ErrorCode FreeShortName(const std::string& path, std::string& other_path);
  ErrorCode DeleteItem();
  ErrorCode DeleteOther(const std::string& path);
  ErrorCode SetFileAttributesOf(const std::string& path, uint32_t mode);

  // Security (only while context.security_support is on, except the reads).
  void ForgetItemSecurity();  // the next CompareSecurity reads the item again
  ErrorCode ReadItemSecurity();
  ErrorCode ReadOtherSecurity(const std::string& path);
  SecurityMatch CompareSecurity(const std::string& path);
  ErrorCode CopySecurityTo(const std::string& path);

  // IEnumFile: forwards every call unchanged to this enumerator's callback,
  // which is how a subfolder's enumerator reports to the top-level callback.
  void File(FilesEnumerator& e) override;
  void AccessError(const std::string& path, ErrorCode code) override;
  void SecurityError(const std::string& path, ErrorCode code) override;

  EnumeratorContext& Context() { return context_; }

  // Names of the counterparts that items of this walk were matched with, kept
  // by the caller (emptied when a walk begins): on a side whose names compare
  // ignoring case, two items whose names differ only in letter case meet one
  // and the same counterpart.
  std::vector<std::string>& MatchedNames() { return matched_names_; }

 private:
  void OtherChanged();
  // Deletes the item at `path`, described by `item`, or moves it to the
  // keeper's place: the read-only bit cleared first and given back on failure.
  ErrorCode Remove(const std::string& path, const ItemInfo& item);
  ErrorCode MoveToKeeper(const std::string& path, const ItemInfo& item);
  bool IsLeftOut() const;
  // Readies a copy of the current file to `path`: the counterpart's
  // read-only bit cleared (a file system may refuse to replace such a file),
  // the options, and the item's security given with the copy, kept in
  // `copy` or (`keep_security` false) referred to in this enumerator.
  ErrorCode PrepareFileCopy(const std::string& path, StartedCopy& copy, bool keep_security);
  void RemoveLeftover();
  bool InLeftoverTree();
  void WalkSubfolder(EnumMode mode);

  // The cached answer for `path`, else a fresh FindOther; `detailed`: with
  // everything Other() tells.
  ErrorCode LookupOther(const std::string& path, bool detailed = true);

  EnumeratorContext& context_;
  std::string folder_path_;
  std::string full_path_;
  // The listing's item; where it holds only the name and kind, Item() adds
  // the rest once.
  mutable ItemInfo item_;
  mutable bool item_detailed_ = true;
  IEnumFile* callback_ = nullptr;
  bool stop_ = false;
  // Whether FolderPath lies in a tree of context.leftover_roots: asked the
  // walk of the folder above (a walk never leaves its tree), else found out
  // when first needed.
  FilesEnumerator* parent_ = nullptr;
  enum class InTree : uint8_t { Unknown, Yes, No } in_leftover_tree_ = InTree::Unknown;
  // The open listing, and which of what it read ahead for the current item
  // is still to be used (each once).
  std::unique_ptr<FolderReader> reader_;
  bool ahead_other_ = false;
  bool ahead_item_security_ = false;
  bool ahead_other_security_ = false;

  bool other_cached_ = false;
  std::string other_path_;
  // The last lookup that found nothing, so that acting on a missing
  // counterpart right after the comparison does not look it up again.
  std::string missing_path_;
  ErrorCode missing_code_ = 0;
  mutable ItemInfo other_;
  mutable bool other_detailed_ = true;

  std::vector<std::string> matched_names_;

  bool copy_carried_security_ = false;
  bool item_security_read_ = false;
  Security item_security_;
  bool other_security_read_ = false;
  std::string other_security_path_;
  Security other_security_;
};

// Same ACL: same number of entries, equal entry by entry, order included.
bool SameAcl(const std::vector<AclEntry>& a, const std::vector<AclEntry>& b);
bool SameAce(const AclEntry& a, const AclEntry& b);

// Checks that CAP_CHOWN, CAP_FOWNER and CAP_DAC_OVERRIDE are effective.
// Returns 0, or EPERM when one is missing.
ErrorCode EnablePrivileges();
// The volume under `path` keeps owners and ACLs.
bool VolumeSupportsAcls(FileSystem& fs, const std::string& path);

}  // namespace twinmere
