#include "fs/files_enumerator.h"

#include <algorithm>
#include <optional>

#include "fs/paths.h"
#include "platform/privileges.h"
#include "platform/temporary_names.h"

namespace twinmere {
namespace {

bool Matches(std::string_view mask, const std::string& name) {
  return mask == "*" || mask == name;
}

// The folder `folder` (ending in "/") names, never through a final link.
bool LookupFolderId(FileSystem& fs, const std::string& folder, FolderId& id) {
  ItemInfo info;
  // "folder/." is the folder itself; file systems that do not know "." are
  // asked for the folder as written.
  if ((fs.Lookup(folder + ".", info) != kSuccess && fs.Lookup(folder, info) != kSuccess) ||
      !info.IsFolder())
    return false;
  id = {info.device, info.inode};
  return true;
}

// The folder above `folder` (ending in "/") as a path of the same kind, where
// the path says it: nothing for a folder named "." or "..", or the root.
std::optional<std::string> PathAbove(const std::string& folder) {
  const size_t end = folder.find_last_not_of('/');
  if (end == std::string::npos) return std::nullopt;
  const size_t slash = folder.rfind('/', end);
  const std::string_view name = std::string_view(folder).substr(slash + 1, end - slash);
  if (name == "." || name == ".." || slash == std::string::npos) return std::nullopt;
  return folder.substr(0, slash + 1);
}

// Whether `folder` (ending in "/") is one of `roots` or lies below one. The
// way up goes by identity: each folder's ".." must be the folder that the
// shorter path names, or the path may not be trusted further (a link, a
// ".." in it): there the answer is no.
bool LiesInAny(FileSystem& fs, std::string folder, const std::vector<FolderId>& roots) {
  constexpr int kMaxDepth = 4096;
  FolderId id;
  if (roots.empty() || !LookupFolderId(fs, folder, id)) return false;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (std::find(roots.begin(), roots.end(), id) != roots.end()) return true;
    ItemInfo up;
    const std::optional<std::string> above = PathAbove(folder);
    FolderId above_id;
    if (!above || fs.Lookup(folder + "..", up) != kSuccess ||
        !LookupFolderId(fs, *above, above_id) || above_id != FolderId{up.device, up.inode} ||
        above_id == id)
      return false;
    folder = *above;
    id = above_id;
  }
  return false;
}

}  // namespace

FilesEnumerator::FilesEnumerator(EnumeratorContext& context) : context_(context) {}

FilesEnumerator::~FilesEnumerator() = default;

void FilesEnumerator::SetFolder(std::string path) {
  folder_path_ = std::move(path);
  in_leftover_tree_ = InTree::Unknown;
}

void FilesEnumerator::Stop() {
  stop_ = true;
}

ErrorCode FilesEnumerator::Enumerate(IEnumFile& callback, EnumMode mode, std::string_view mask) {
  callback_ = &callback;
  stop_ = false;
  matched_names_.clear();
  // Only the outermost walk of a whole tree announces itself: a walk nested
  // in another one's callback would end the outer walk's read-ahead.
  if (context_.walks_running == 0 && mode != EnumMode::NoRecursion && mask == "*")
    context_.fs->ExpectWalk(folder_path_, context_.plan);
  struct Running {
    int& count;
    explicit Running(int& c) : count(c) { ++count; }
    ~Running() { --count; }
  } running(context_.walks_running);
  ErrorCode result = context_.fs->OpenFolder(folder_path_, reader_);
  if (result != 0) {
    callback.AccessError(folder_path_ + std::string(mask), result);
    callback_ = nullptr;
    return result;
  }
  while (!stop_) {
    const ErrorCode code = reader_->Next(item_);
    if (code == kErrNoMoreEntries) break;
    if (code != 0) {
      callback.AccessError(folder_path_, code);
      result = code;
      break;
    }
    item_detailed_ = reader_->Detailed();
    if (!item_.IsFolder() && IsTemporaryName(item_.name)) {
      RemoveLeftover();
      continue;
    }
    if (!item_.IsFolder() && IsFuseHiddenName(item_.name)) continue;
    if (!Matches(mask, item_.name)) continue;
    full_path_.clear();
    full_path_.reserve(folder_path_.size() + item_.name.size());
    full_path_.append(folder_path_).append(item_.name);
    if (!context_.left_out.empty() && IsLeftOut()) continue;
    item_security_read_ = false;
    ahead_other_ = true;
    ahead_item_security_ = true;
    ahead_other_security_ = true;
    const bool descend = item_.IsFolder() && mode != EnumMode::NoRecursion;
    if (descend && mode == EnumMode::ContentsFirst) {
      // A kept folder keeps its times of before its contents went.
      if (context_.keeper != nullptr) Item();
      WalkSubfolder(mode);
    }
    callback.File(*this);
    if (descend && mode == EnumMode::FolderFirst && !stop_) WalkSubfolder(mode);
  }
  reader_.reset();
  callback_ = nullptr;
  return result;
}

bool FilesEnumerator::IsLeftOut() const {
  return std::find(context_.left_out.begin(), context_.left_out.end(), full_path_) !=
         context_.left_out.end();
}

const ItemInfo& FilesEnumerator::Item() const {
  if (!item_detailed_) {
    item_detailed_ = true;
    ItemInfo info;
    if (context_.fs->Lookup(full_path_, info) == kSuccess) {
      info.name = std::move(item_.name);
      item_ = std::move(info);
    }
  }
  return item_;
}

// The enumerator of a subfolder lives on the heap: a walk as deep as the
// file system allows keeps one per level. It reports to this walk's
// callback directly, which is what forwarding through every enclosing
// enumerator would reach, without a call per level for every item.
void FilesEnumerator::WalkSubfolder(EnumMode mode) {
  // Nothing below needs this level's counterpart: its path is let go, or a
  // deep walk would hold one more path per level for nothing.
  ResetOtherCache();
  std::string().swap(other_path_);
  std::string().swap(missing_path_);
  auto sub = std::make_unique<FilesEnumerator>(context_);
  sub->SetFolder(full_path_ + "/");
  sub->parent_ = this;
  sub->Enumerate(*callback_, mode, "*");
}

// The current item is a copy's temporary file or link. One that no live copy
// can own (its process killed, as a stopped copy removes its own) is removed
// where the run writes, so that it cannot keep its folder from being
// removed; one that may be another run's, on this machine or another one
// writing to the same share, is left alone.
void FilesEnumerator::RemoveLeftover() {
  if (!InLeftoverTree()) return;
  const std::string path = folder_path_ + item_.name;
  FileSystem& fs = *context_.fs;
  const bool remove = MayRemoveLeftover(item_.name, [&](LeftoverTimes& times) {
    ItemInfo item, folder;
    if (fs.Lookup(path, item) != kSuccess || (fs.Lookup(folder_path_ + ".", folder) != kSuccess &&
                                              fs.Lookup(folder_path_, folder) != kSuccess))
      return false;
    times = {item.change_time, item.modify_time, folder.modify_time};
    return true;
  });
  if (remove) fs.DeleteFile(path);
}

bool FilesEnumerator::InLeftoverTree() {
  if (in_leftover_tree_ == InTree::Unknown) {
    const bool in = parent_ != nullptr
                        ? parent_->InLeftoverTree()
                        : LiesInAny(*context_.fs, folder_path_, context_.leftover_roots);
    in_leftover_tree_ = in ? InTree::Yes : InTree::No;
  }
  return in_leftover_tree_ == InTree::Yes;
}

std::string FilesEnumerator::ShortFormPath() const {
  return folder_path_ + (item_.short_name.empty() ? item_.name : item_.short_name);
}

// ---- counterpart -------------------------------------------------------------

ErrorCode FilesEnumerator::FindOther(const std::string& path) {
  if (ahead_other_ && reader_ != nullptr) {
    bool detailed = true;
    if (reader_->AheadCounterpart(path, other_, detailed)) {
      ahead_other_ = false;
      other_detailed_ = detailed;
      other_cached_ = true;
      other_path_ = path;
      return 0;
    }
  }
  other_detailed_ = true;
  const ErrorCode code = context_.fs->Lookup(path, other_);
  if (code != 0) {
    ResetOtherCache();
    if (IsMissingError(code)) {
      missing_path_ = path;
      missing_code_ = code;
    }
    return code;
  }
  other_cached_ = true;
  other_path_ = path;
  return 0;
}

ErrorCode FilesEnumerator::LookupOther(const std::string& path, bool detailed) {
  ErrorCode code = 0;
  if (!IsOtherCached(path)) {
    if (!missing_path_.empty() && missing_path_ == path) return missing_code_;
    code = FindOther(path);
  }
  if (code == 0 && detailed) Other();
  return code;
}

const ItemInfo& FilesEnumerator::Other() const {
  if (!other_detailed_) {
    other_detailed_ = true;
    ItemInfo info;
    if (context_.fs->Lookup(other_path_, info) == kSuccess) other_ = std::move(info);
  }
  return other_;
}

bool FilesEnumerator::IsOtherCached(const std::string& path) const {
  return other_cached_ && other_path_ == path;
}

void FilesEnumerator::NoteOtherMissing(const std::string& path) {
  ResetOtherCache();
  ahead_other_ = false;
  missing_path_ = path;
  missing_code_ = kErrNotFound;
}

void FilesEnumerator::ResetOtherCache() {
  other_cached_ = false;
  other_path_.clear();
  missing_path_.clear();
}

uint64_t FilesEnumerator::OtherSize(const std::string& path) {
  if (LookupOther(path) != 0) return 0;
  return other_.size;
}

std::string FilesEnumerator::OtherShortFormPath(const std::string& path) {
  if (LookupOther(path, false) != 0) return std::string();
  return FolderPart(path) + (other_.short_name.empty() ? other_.name : other_.short_name);
}

// ---- operations --------------------------------------------------------------

// The counterpart changed on disk: look it up again next time, and read its
// security again.
void FilesEnumerator::OtherChanged() {
  ResetOtherCache();
  ahead_other_ = false;
  ahead_other_security_ = false;
  other_security_read_ = false;
  other_security_path_.clear();
}

ErrorCode FilesEnumerator::CopyTo(const std::string& path) {
  copy_carried_security_ = false;
  if (item_.IsFolder()) {
    const bool exists = LookupOther(path) == 0;
    const ItemInfo other = other_;
    if (!exists) {
      if (const ErrorCode code = context_.fs->CreateFolder(path); code != 0) return code;
      OtherChanged();
      CopyOptions options;
      options.carry_security_attributes = context_.security_support;
      context_.fs->CopyFolderAttributes(full_path_, path, options);
    } else if (other.kind != ItemKind::Link && (other.Attributes() & kAttrReadOnly)) {
      if (const ErrorCode code = SetFileAttributesOf(path, other.mode | 0200); code != 0)
        return code;
    }
    SetFolderTimesOn(path);
    SetAttributesOn(path);
    return 0;
  }
  // The old file or link goes to the keeper's place as the copy replaces it.
  ItemKeeper* keeper = nullptr;
  KeepPlace place;
  if (context_.keeper != nullptr && LookupOther(path) == 0 && other_.kind != ItemKind::Folder) {
    keeper = context_.keeper;
    const ItemInfo old = other_;
    if (const ErrorCode code = keeper->Prepare(path, old, KeepReason::Replace, place); code != 0)
      return code;
  }
  StartedCopy copy;
  if (const ErrorCode code = PrepareFileCopy(path, copy, false); code != 0) {
    if (keeper != nullptr) keeper->Finish(place, false);
    return code;
  }
  bool kept = false;
  if (keeper != nullptr) {
    copy.options.keep_old_as = &place.path;
    copy.options.old_kept = &kept;
  }
  copy.options.progress = context_.progress;
  const ErrorCode code = context_.fs->CopyFile(full_path_, path, copy.options);
  if (keeper != nullptr) {
    keeper->Finish(place, kept);
    // A hard link shares the mode that was changed for the copy.
    if (kept && copy.cleared) context_.fs->SetMode(place.path, copy.old_mode);
  }
  if (code != 0) return EndCopy(*context_.fs, copy, code);
  copy_carried_security_ = copy.security_given;
  OtherChanged();
  return 0;
}

ErrorCode FilesEnumerator::StartCopyTo(const std::string& path, CopyPool& pool, uint64_t tag,
                                       StartedCopy& copy) {
  copy_carried_security_ = false;
  if (const ErrorCode code = PrepareFileCopy(path, copy, true); code != 0) return code;
  copy.options.progress = &copy.progress;
  copy.options.no_replace = copy.name_free;
  // The counterpart is as good as changed: the copy may end at any time.
  OtherChanged();
  if (const ErrorCode code = pool.Start(tag, full_path_, path, copy.options); code != 0)
    return EndCopy(*context_.fs, copy, code);
  return 0;
}

ErrorCode FilesEnumerator::EndCopy(FileSystem& fs, const StartedCopy& copy, ErrorCode code) {
  if (code != 0 && copy.cleared) fs.SetMode(copy.to, copy.old_mode);
  return code;
}

// The copy replaces the old file through a rename, but a file system that
// refuses to replace a read-only file needs the bit cleared first. It is put
// back when the copy fails, so that a failed copy changes nothing.
ErrorCode FilesEnumerator::PrepareFileCopy(const std::string& path, StartedCopy& copy,
                                           bool keep_security) {
  const bool exists = LookupOther(path) == 0;
  copy.name_free = !exists;
  if (exists && other_.kind == ItemKind::File && (other_.Attributes() & kAttrReadOnly)) {
    const uint32_t old_mode = other_.mode;
    if (const ErrorCode code = SetFileAttributesOf(path, old_mode | 0200); code != 0) return code;
    copy.cleared = true;
    copy.old_mode = old_mode;
  }
  copy.from = full_path_;
  copy.to = path;
  copy.mode = Item().mode;
  CopyOptions& options = copy.options;
  options.stop = context_.stop;
  options.carry_owner = context_.security_support;
  options.carry_security_attributes = context_.security_support;
  // The security goes with the copy where it can, through its descriptor.
  if (context_.security_support && (item_security_read_ || ReadItemSecurity() == kSuccess)) {
    copy.security_read = true;
    if (keep_security) copy.security = item_security_;
    options.security = keep_security ? &copy.security : &item_security_;
    options.security_mode = copy.mode;
    options.security_given = &copy.security_given;
  }
  return 0;
}

ErrorCode FilesEnumerator::SetAttributesOn(const std::string& path) {
  return SetFileAttributesOf(path, Item().mode);
}

ErrorCode FilesEnumerator::SetFileAttributesOf(const std::string& path, uint32_t mode) {
  const ErrorCode code = context_.fs->SetMode(path, mode & 07777);
  if (code == 0) OtherChanged();
  return code;
}

ErrorCode FilesEnumerator::SetFolderTimesOn(const std::string& path) {
  const ItemInfo& item = Item();
  const ErrorCode code = context_.fs->SetTimes(path, item.access_time, item.modify_time);
  if (code == 0) OtherChanged();
  return code;
}

// The rename starts from the name as stored on disk: on a case-insensitive
// side `path` (written with the item's own spelling) finds the counterpart,
// but names it as the item already is.
ErrorCode FilesEnumerator::RenameOtherToItemName(const std::string& path) {
  if (const ErrorCode code = LookupOther(path); code != 0) return code;
  if (other_.name == item_.name) return 0;
  const std::string folder = FolderPart(path);
  const ErrorCode code =
      context_.fs->Rename(folder + other_.name, folder + item_.name, RenameMode::NoReplace);
  if (code == 0) OtherChanged();
  return code;
}

ErrorCode FilesEnumerator::FreeShortName(const std::string& path, std::string& other_path) {
  if (const ErrorCode code = LookupOther(path); code != 0) return code;
  const std::string folder = FolderPart(path);
  other_path = folder + other_.name;
  std::string temporary;
  ErrorCode code = 0;
  for (int n = 0; n <= 9; ++n) {
    temporary = folder + "~twm_" + std::to_string(n) + ".tmp";
    code = context_.fs->Rename(other_path, temporary, RenameMode::NoReplace);
    if (code != kErrAlreadyExists) break;
  }
  OtherChanged();
  if (code != 0) return code;
  // The placeholder holds the short name while the item comes back, so the
  // item gets a new one.
  ErrorCode last = 0;
  const ErrorCode placeholder = context_.fs->CreateNewFile(path);
  if (placeholder != 0) last = placeholder;
  if (const ErrorCode back = context_.fs->Rename(temporary, other_path, RenameMode::NoReplace);
      back != 0)
    last = back;
  if (placeholder == 0) {
    if (const ErrorCode removed = context_.fs->DeleteFile(path); removed != 0) last = removed;
  }
  return last;
}

ErrorCode FilesEnumerator::DeleteItem() {
  const ItemInfo item = Item();
  return Remove(full_path_, item);
}

ErrorCode FilesEnumerator::DeleteOther(const std::string& path) {
  if (const ErrorCode code = LookupOther(path); code != 0) return code;
  const ItemInfo other = other_;
  const ErrorCode code = Remove(path, other);
  if (code == 0) OtherChanged();
  return code;
}

ErrorCode FilesEnumerator::Remove(const std::string& path, const ItemInfo& item) {
  FileSystem& fs = *context_.fs;
  const bool read_only = item.kind != ItemKind::Link && (item.Attributes() & kAttrReadOnly);
  if (read_only) {
    if (const ErrorCode code = fs.SetMode(path, item.mode | 0200); code != 0) return code;
    OtherChanged();
  }
  ErrorCode code = 0;
  if (context_.keeper != nullptr) {
    code = MoveToKeeper(path, item);
  } else {
    code = item.IsFolder() ? fs.RemoveFolder(path) : fs.DeleteFile(path);
  }
  if (code != 0 && read_only) fs.SetMode(path, item.mode);
  return code;
}

// A file or link is renamed to its place, or where that is on another file
// system copied there before it is deleted; it never takes the name of
// another kept item (a versions folder that ignores case). A folder's
// contents went before it (a walk removes them first): its place is made, a
// folder with its extended attributes, owner, ACLs, mode and times, before
// it is removed.
ErrorCode FilesEnumerator::MoveToKeeper(const std::string& path, const ItemInfo& item) {
  FileSystem& fs = *context_.fs;
  ItemKeeper& keeper = *context_.keeper;
  KeepPlace place;
  if (const ErrorCode code = keeper.Prepare(path, item, KeepReason::Delete, place); code != 0)
    return code;
  const std::string place_folder = FolderPart(place.path);
  // Where the place's volume keeps no owners, the kept item takes what it
  // can.
  const bool with_owner = context_.security_support && fs.KeepsSecurity(place_folder);
  ErrorCode code = 0;
  if (item.IsFolder()) {
    code = fs.CreateFolder(place.path);
    ItemInfo there;
    if (code == kErrAlreadyExists && fs.Lookup(place.path, there) == 0 && there.IsFolder())
      code = 0;
    if (code == 0) {
      CopyOptions options;
      options.carry_security_attributes = context_.security_support;
      fs.CopyFolderAttributes(path, place.path, options);
      Security security;
      if (with_owner && fs.ReadSecurity(path, security) == 0)
        fs.WriteSecurity(place.path, security);
      code = fs.RemoveFolder(path);
    }
    if (code == 0) {
      fs.SetMode(place.path, item.mode);
      fs.SetTimes(place.path, item.access_time, item.modify_time);
    }
  } else {
    code = fs.Rename(path, place.path, RenameMode::NoReplace);
    if (code == EXDEV) {
      CopyOptions options;
      options.stop = context_.stop;
      options.carry_owner = with_owner;
      options.carry_security_attributes = context_.security_support;
      options.no_replace = true;
      code = fs.CopyFile(path, place.path, options);
      // The copy is on its disk before the item leaves its own. Only a
      // copy that was made is taken back: a failed one left nothing, and
      // the name may find another item (letter case).
      if (code == 0) {
        code = fs.SyncFileSystem(place_folder);
        if (code == 0) code = fs.DeleteFile(path);
        if (code != 0) fs.DeleteFile(place.path);
      }
    }
    // The read-only bit was cleared for the move only.
    if (code == 0 && item.kind == ItemKind::File && (item.Attributes() & kAttrReadOnly))
      fs.SetMode(place.path, item.mode);
  }
  keeper.Finish(place, code == 0);
  return code;
}

// ---- security ----------------------------------------------------------------

void FilesEnumerator::ForgetItemSecurity() {
  item_security_read_ = false;
}

ErrorCode FilesEnumerator::ReadItemSecurity() {
  item_security_read_ = false;
  ErrorCode code = 0;
  if (!(ahead_item_security_ && reader_ != nullptr &&
        reader_->AheadItemSecurity(item_security_, code))) {
    code = context_.fs->ReadSecurity(full_path_, item_security_);
  }
  ahead_item_security_ = false;
  if (code == 0) item_security_read_ = true;
  return code;
}

ErrorCode FilesEnumerator::ReadOtherSecurity(const std::string& path) {
  ErrorCode code = 0;
  if (ahead_other_security_ && reader_ != nullptr &&
      reader_->AheadCounterpartSecurity(path, other_security_, code)) {
    ahead_other_security_ = false;
  } else {
    code = context_.fs->ReadSecurity(path, other_security_);
  }
  other_security_read_ = code == 0;
  other_security_path_ = code == 0 ? path : std::string();
  return code;
}

SecurityMatch FilesEnumerator::CompareSecurity(const std::string& path) {
  if (!item_security_read_) {
    if (const ErrorCode code = ReadItemSecurity(); code != 0) {
      SecurityError(full_path_, code);
      return SecurityMatch::ItemUnreadable;
    }
  }
  if (!other_security_read_ || other_security_path_ != path) {
    if (const ErrorCode code = ReadOtherSecurity(path); code != 0) {
      SecurityError(path, code);
      return SecurityMatch::OtherUnreadable;
    }
  }
  const Security& a = item_security_;
  const Security& b = other_security_;
  auto same_list = [](bool has_a, const std::vector<AclEntry>& list_a, bool has_b,
                      const std::vector<AclEntry>& list_b) {
    if (!has_a && !has_b) return true;
    if (has_a != has_b) return false;
    return SameAcl(list_a, list_b);
  };
  // A change of owner drops a file's capabilities: a copy that lost them
  // differs, where both sides keep them.
  const bool capabilities_differ =
      a.capability_known && b.capability_known && a.capability != b.capability;
  if (a.uid != b.uid || a.gid != b.gid ||
      !same_list(a.has_access_acl, a.access_acl, b.has_access_acl, b.access_acl) ||
      !same_list(a.has_default_acl, a.default_acl, b.has_default_acl, b.default_acl) ||
      capabilities_differ)
    return SecurityMatch::Differs;
  return SecurityMatch::Same;
}

ErrorCode FilesEnumerator::CopySecurityTo(const std::string& path) {
  if (!context_.security_support) return 0;
  if (!item_security_read_) {
    if (const ErrorCode code = ReadItemSecurity(); code != 0) return code;
  }
  const ErrorCode code = context_.fs->WriteSecurity(path, item_security_);
  if (code == 0) OtherChanged();
  return code;
}

// ---- forwarding --------------------------------------------------------------

void FilesEnumerator::File(FilesEnumerator& e) {
  if (callback_ != nullptr) callback_->File(e);
}

void FilesEnumerator::AccessError(const std::string& path, ErrorCode code) {
  if (callback_ != nullptr) callback_->AccessError(path, code);
}

void FilesEnumerator::SecurityError(const std::string& path, ErrorCode code) {
  if (callback_ != nullptr) callback_->SecurityError(path, code);
}

// ---- free functions ----------------------------------------------------------

bool SameAce(const AclEntry& a, const AclEntry& b) {
  return a == b;
}

bool SameAcl(const std::vector<AclEntry>& a, const std::vector<AclEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameAce(a[i], b[i])) return false;
  return true;
}

ErrorCode EnablePrivileges() {
  return CheckSecurityCapabilities();
}

bool VolumeSupportsAcls(FileSystem& fs, const std::string& path) {
  return fs.KeepsSecurity(path);
}

}  // namespace twinmere
