#include "fs/files_enumerator.h"

#include <algorithm>
#include <optional>

#include "fs/paths.h"
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
  left_out_any_ = false;
  contents_left_out_ = false;
  matched_names_.clear();
  // The filter learns where the walk is before anything reads the folder.
  struct Entered {
    ItemFilter* filter;
    bool open = true;
    Entered(ItemFilter* f, const std::string& folder) : filter(f) {
      if (filter != nullptr) open = filter->Enter(folder);
    }
    ~Entered() {
      if (filter != nullptr) filter->Leave();
    }
  } entered(context_.filter, folder_path_);
  if (!entered.open) {
    left_out_any_ = true;
    callback_ = nullptr;
    return 0;
  }
  // Only the outermost walk of a whole tree announces itself: a walk nested
  // in another one's callback would end the outer walk's read-ahead.
  if (context_.walks_running == 0 && mode != EnumMode::NoRecursion && mask == "*")
    context_.fs->ExpectWalk(folder_path_, context_.plan);
  // A walk inside another one's item (a folder removed whole) knows nothing.
  if (context_.walks_running == 0) known_ = mask == "*" ? context_.plan.passed_over.get() : nullptr;
  struct Running {
    int& count;
    explicit Running(int& c) : count(c) { ++count; }
    ~Running() { --count; }
  } running(context_.walks_running);
  std::string_view known;
  const bool listed = known_ == nullptr || !known_->Subfolders(folder_path_, known);
  ErrorCode result = listed ? context_.fs->OpenFolder(folder_path_, reader_) : 0;
  if (result != 0) {
    callback.AccessError(folder_path_ + std::string(mask), result);
    callback_ = nullptr;
    return result;
  }
  // A folder not listed again may hold what this walk does not see (items
  // left out, or new since exploring): like a folder holding an item left
  // out, it is never removed whole. Should its counterpart go meanwhile,
  // the next run removes it.
  if (!listed) left_out_any_ = true;
  while (!stop_) {
    const ErrorCode code = NextItem(known, listed);
    if (code == kErrNoMoreEntries) break;
    if (code != 0) {
      callback.AccessError(folder_path_, code);
      result = code;
      break;
    }
    if (!item_.IsFolder() && IsTemporaryName(item_.name)) {
      RemoveLeftover();
      continue;
    }
    if (!item_.IsFolder() && IsFuseHiddenName(item_.name)) continue;
    if (!Matches(mask, item_.name)) continue;
    full_path_.clear();
    full_path_.reserve(folder_path_.size() + item_.name.size());
    full_path_.append(folder_path_).append(item_.name);
    if ((!context_.left_out.empty() && IsLeftOut()) ||
        (context_.filter != nullptr && context_.filter->LeavesOut(full_path_, item_.kind))) {
      left_out_any_ = true;
      continue;
    }
    item_security_read_ = false;
    ahead_other_ = true;
    ahead_item_security_ = true;
    ahead_other_security_ = true;
    contents_left_out_ = false;
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

ErrorCode FilesEnumerator::NextItem(std::string_view& known, bool listed) {
  if (listed) {
    const ErrorCode code = reader_->Next(item_);
    item_detailed_ = reader_->Detailed();
    return code;
  }
  // As a listing skips an entry gone since it was read, so is a subfolder
  // gone since the walk that knew it; what took its name is handed over as
  // what it is now.
  while (!known.empty()) {
    const size_t end = known.find('\0');
    full_path_.assign(folder_path_).append(known.substr(0, end));
    known.remove_prefix(end + 1);
    const ErrorCode code = context_.fs->Lookup(full_path_, item_);
    if (IsMissingError(code)) continue;
    if (code != 0) return code;
    item_.name.assign(full_path_, folder_path_.size());
    item_detailed_ = true;
    return 0;
  }
  return kErrNoMoreEntries;
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
  sub->known_ = known_;
  sub->Enumerate(*callback_, mode, "*");
  contents_left_out_ = sub->left_out_any_;
  left_out_any_ = left_out_any_ || contents_left_out_;
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

// The counterpart changed on disk: look it up again next time, and read its
// security again.
void FilesEnumerator::OtherChanged() {
  ResetOtherCache();
  ahead_other_ = false;
  ahead_other_security_ = false;
  other_security_read_ = false;
  other_security_path_.clear();
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

ErrorCode FilesEnumerator::LoadItemSecurity() {
  return item_security_read_ ? 0 : ReadItemSecurity();
}

SecurityMatch FilesEnumerator::CompareSecurity(const std::string& path) {
  if (const ErrorCode code = LoadItemSecurity(); code != 0) {
    SecurityError(full_path_, code);
    return SecurityMatch::ItemUnreadable;
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
      capabilities_differ || a.descriptor != b.descriptor)
    return SecurityMatch::Differs;
  return SecurityMatch::Same;
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

}  // namespace twinmere
