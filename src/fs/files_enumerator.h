// Walks one folder and is the engine's handle on the current item and its
// counterpart on the other side.
//
// The enumerator hands every item to an IEnumFile callback. During the call
// the callback reads the item from the enumerator, compares it with a
// counterpart path and acts on both (fs/item_actions.h). A one-entry cache
// keeps the last counterpart looked up, so that a comparison and the
// operations after it cost one lookup; every operation that changes the
// counterpart resets it (OtherChanged).
//
// All calls return an ErrorCode (0 = success); nothing throws. Links are
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
#include "platform/folder_set.h"

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

// Which items the walks leave out by their names and paths (the run's
// patterns): asked about each item before it is handed over. An item left
// out is not handed over, and a folder left out is not entered.
class ItemFilter {
 public:
  virtual ~ItemFilter() = default;
  // A walk of `folder` (ending in "/") begins, before the folder is opened.
  // Each Enter is followed by one Leave when that walk ends, the walks
  // begun inside it entered and left before. False: nothing in the folder
  // may be handed over (its rules cannot be used), and it is not listed.
  virtual bool Enter(const std::string& folder) = 0;
  virtual void Leave() = 0;
  // Whether the item at `path`, in the folder entered last, is left out.
  virtual bool LeavesOut(const std::string& path, ItemKind kind) = 0;
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
  // Decides which further items the walks leave out; null: none.
  ItemFilter* filter = nullptr;
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
  // The items of context.left_out, those context.filter leaves out (told
  // before the folder is opened, and asked about each item) and the
  // temporary items of copies (platform/temporary_names.h) are never handed
  // over; those that cannot belong to a live copy are removed, silently,
  // where they lie in a tree of context.leftover_roots. An outermost recursive
  // walk of every entry is announced to the file system first (FileSystem::ExpectWalk with
  // context.plan), so that it may read ahead; what it read ahead serves the item's details, the
  // first lookup of its counterpart and the first reads of both's security. Returns 0 when done or
  // stopped. Never descends through a link.
  // The outermost walk of every entry and the walks of its subfolders do not
  // list a folder whose subfolders the plan knows (WalkPlan::passed_over,
  // FolderSet::Subfolders): only those subfolders still there (each looked
  // up) are handed over, as folders, and walked; its other items are not.
  ErrorCode Enumerate(IEnumFile& callback, EnumMode mode, std::string_view mask);

  // The walk of this enumerator ends before its next entry.
  void Stop();
  // The last walk left out an item at some depth (ItemFilter,
  // context.left_out), or could not list its folder for the filter.
  bool WalkLeftOut() const { return left_out_any_; }

  // The current item (valid during callback.File). Its name and kind are
  // known from the listing; Item() looks the rest up where the listing
  // read no more (ItemDetail::Kind).
  const std::string& FolderPath() const { return folder_path_; }
  const std::string& FullPath() const { return full_path_; }
  const std::string& Name() const { return item_.name; }
  bool IsFolder() const { return item_.IsFolder(); }
  const ItemInfo& Item() const;
  // The current item is a folder whose contents were walked before it
  // (EnumMode::ContentsFirst), and that walk left out an item at some depth.
  bool ContentsLeftOut() const { return contents_left_out_; }
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
  // The cached answer for `path`, else a fresh FindOther; `detailed`: with
  // everything Other() tells.
  ErrorCode LookupOther(const std::string& path, bool detailed = true);
  // The counterpart changed on disk: it is looked up again next time, and
  // its security read again.
  void OtherChanged();
  // Valid while cached.
  const std::string& OtherName() const { return other_.name; }
  bool OtherIsFolder() const { return other_.IsFolder(); }
  const ItemInfo& Other() const;
  uint64_t OtherSize(const std::string& path);  // 0 when missing
  // The short form of the path's folder followed by the counterpart's short
  // name, or its long name when it has none; empty when it does not exist.
  std::string OtherShortFormPath(const std::string& path);

  // Security of the item and its counterpart.
  void ForgetItemSecurity();  // the next CompareSecurity reads the item again
  ErrorCode ReadItemSecurity();
  // The item's security, read once (ReadItemSecurity) until forgotten: 0
  // when ItemSecurity() holds it.
  ErrorCode LoadItemSecurity();
  const Security& ItemSecurity() const { return item_security_; }
  ErrorCode ReadOtherSecurity(const std::string& path);
  SecurityMatch CompareSecurity(const std::string& path);

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
  // The next item of the folder: listed, or the next of `known` subfolders
  // still there (consumed as it goes).
  ErrorCode NextItem(std::string_view& known, bool listed);
  bool IsLeftOut() const;
  void RemoveLeftover();
  bool InLeftoverTree();
  void WalkSubfolder(EnumMode mode);

  EnumeratorContext& context_;
  std::string folder_path_;
  std::string full_path_;
  // The listing's item; where it holds only the name and kind, Item() adds
  // the rest once.
  mutable ItemInfo item_;
  mutable bool item_detailed_ = true;
  IEnumFile* callback_ = nullptr;
  bool stop_ = false;
  // This walk left out an item, at any depth; the current item's walk did.
  bool left_out_any_ = false;
  bool contents_left_out_ = false;
  // Whether FolderPath lies in a tree of context.leftover_roots: asked the
  // walk of the folder above (a walk never leaves its tree), else found out
  // when first needed.
  FilesEnumerator* parent_ = nullptr;
  // Folders whose subfolders this walk knows without listing them: the
  // plan's, for the outermost walk and those of its subfolders; null: none.
  const FolderSet* known_ = nullptr;
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

  bool item_security_read_ = false;
  Security item_security_;
  bool other_security_read_ = false;
  std::string other_security_path_;
  Security other_security_;
};

// Same ACL: same number of entries, equal entry by entry, order included.
bool SameAcl(const std::vector<AclEntry>& a, const std::vector<AclEntry>& b);
bool SameAce(const AclEntry& a, const AclEntry& b);

}  // namespace twinmere
