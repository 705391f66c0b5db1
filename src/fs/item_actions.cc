#include "fs/item_actions.h"

#include "fs/paths.h"
#include "platform/privileges.h"

namespace twinmere {
namespace {

// The copy replaces the old file through a rename, but a file system that
// refuses to replace a read-only file needs the bit cleared first. It is put
// back when the copy fails, so that a failed copy changes nothing. Readies a
// copy of the current file to `path`: the counterpart's read-only bit
// cleared, the options, and the item's security given with the copy, kept in
// `copy` or (`keep_security` false) referred to in the enumerator.
ErrorCode PrepareFileCopy(FilesEnumerator& e, const std::string& path, StartedCopy& copy,
                          bool keep_security) {
  const EnumeratorContext& context = e.Context();
  const bool exists = e.LookupOther(path) == 0;
  copy.name_free = !exists;
  if (exists && e.Other().kind == ItemKind::File && (e.Other().Attributes() & kAttrReadOnly)) {
    const uint32_t old_mode = e.Other().mode;
    if (const ErrorCode code = SetFileAttributesOf(e, path, old_mode | 0200); code != 0)
      return code;
    copy.cleared = true;
    copy.old_mode = old_mode;
  }
  copy.from = e.FullPath();
  copy.to = path;
  copy.mode = e.Item().mode;
  CopyOptions& options = copy.options;
  options.stop = context.stop;
  options.carry_owner = context.security_support;
  options.carry_security_attributes = context.security_support;
  // The security goes with the copy where it can, through its descriptor.
  if (context.security_support && e.LoadItemSecurity() == kSuccess) {
    copy.security_read = true;
    if (keep_security) copy.security = e.ItemSecurity();
    options.security = keep_security ? &copy.security : &e.ItemSecurity();
    options.security_mode = copy.mode;
    options.security_given = &copy.security_given;
  }
  return 0;
}

// A file or link is renamed to its place, or where that is on another file
// system copied there before it is deleted; it never takes the name of
// another kept item (a versions folder that ignores case). A folder's
// contents went before it (a walk removes them first): its place is made, a
// folder with its extended attributes, owner, ACLs, mode and times, before
// it is removed.
ErrorCode MoveToKeeper(const EnumeratorContext& context, const std::string& path,
                       const ItemInfo& item) {
  FileSystem& fs = *context.fs;
  ItemKeeper& keeper = *context.keeper;
  KeepPlace place;
  if (const ErrorCode code = keeper.Prepare(path, item, KeepReason::Delete, place); code != 0)
    return code;
  const std::string place_folder = FolderPart(place.path);
  // Where the place's volume keeps no owners, the kept item takes what it
  // can.
  const bool with_owner = context.security_support && fs.KeepsSecurity(place_folder);
  ErrorCode code = 0;
  if (item.IsFolder()) {
    code = fs.CreateFolder(place.path);
    ItemInfo there;
    if (code == kErrAlreadyExists && fs.Lookup(place.path, there) == 0 && there.IsFolder())
      code = 0;
    if (code == 0) {
      CopyOptions options;
      options.carry_security_attributes = context.security_support;
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
    if (code == kErrCrossDevice) {
      CopyOptions options;
      options.stop = context.stop;
      options.carry_owner = with_owner;
      options.carry_security_attributes = context.security_support;
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

// Deletes the item at `path`, described by `item`, or moves it to the
// keeper's place: the read-only bit cleared first and given back on failure.
ErrorCode Remove(FilesEnumerator& e, const std::string& path, const ItemInfo& item) {
  const EnumeratorContext& context = e.Context();
  FileSystem& fs = *context.fs;
  const bool read_only = item.kind != ItemKind::Link && (item.Attributes() & kAttrReadOnly);
  if (read_only) {
    if (const ErrorCode code = fs.SetMode(path, item.mode | 0200); code != 0) return code;
    e.OtherChanged();
  }
  ErrorCode code = 0;
  if (context.keeper != nullptr) {
    code = MoveToKeeper(context, path, item);
  } else {
    code = item.IsFolder() ? fs.RemoveFolder(path) : fs.DeleteFile(path);
  }
  if (code != 0 && read_only) fs.SetMode(path, item.mode);
  return code;
}

}  // namespace

ErrorCode CopyTo(FilesEnumerator& e, const std::string& path, bool* carried_security) {
  if (carried_security != nullptr) *carried_security = false;
  const EnumeratorContext& context = e.Context();
  FileSystem& fs = *context.fs;
  if (e.IsFolder()) {
    const bool exists = e.LookupOther(path) == 0;
    if (!exists) {
      if (const ErrorCode code = fs.CreateFolder(path); code != 0) return code;
      e.OtherChanged();
      CopyOptions options;
      options.carry_security_attributes = context.security_support;
      fs.CopyFolderAttributes(e.FullPath(), path, options);
    } else if (const ItemInfo other = e.Other();
               other.kind != ItemKind::Link && (other.Attributes() & kAttrReadOnly)) {
      if (const ErrorCode code = SetFileAttributesOf(e, path, other.mode | 0200); code != 0)
        return code;
    }
    SetFolderTimesOn(e, path);
    SetAttributesOn(e, path);
    return 0;
  }
  // The old file or link goes to the keeper's place as the copy replaces it.
  ItemKeeper* keeper = nullptr;
  KeepPlace place;
  if (context.keeper != nullptr && e.LookupOther(path) == 0 && e.Other().kind != ItemKind::Folder) {
    keeper = context.keeper;
    const ItemInfo old = e.Other();
    if (const ErrorCode code = keeper->Prepare(path, old, KeepReason::Replace, place); code != 0)
      return code;
  }
  StartedCopy copy;
  if (const ErrorCode code = PrepareFileCopy(e, path, copy, false); code != 0) {
    if (keeper != nullptr) keeper->Finish(place, false);
    return code;
  }
  bool kept = false;
  if (keeper != nullptr) {
    copy.options.keep_old_as = &place.path;
    copy.options.old_kept = &kept;
  }
  copy.options.progress = context.progress;
  const ErrorCode code = fs.CopyFile(e.FullPath(), path, copy.options);
  if (keeper != nullptr) {
    keeper->Finish(place, kept);
    // A hard link shares the mode that was changed for the copy.
    if (kept && copy.cleared) fs.SetMode(place.path, copy.old_mode);
  }
  if (code != 0) return EndCopy(fs, copy, code);
  if (carried_security != nullptr) *carried_security = copy.security_given;
  e.OtherChanged();
  return 0;
}

ErrorCode StartCopyTo(FilesEnumerator& e, const std::string& path, CopyPool& pool, uint64_t tag,
                      StartedCopy& copy) {
  if (const ErrorCode code = PrepareFileCopy(e, path, copy, true); code != 0) return code;
  copy.options.progress = &copy.progress;
  copy.options.no_replace = copy.name_free;
  // The counterpart is as good as changed: the copy may end at any time.
  e.OtherChanged();
  if (const ErrorCode code = pool.Start(tag, e.FullPath(), path, copy.options); code != 0)
    return EndCopy(*e.Context().fs, copy, code);
  return 0;
}

ErrorCode EndCopy(FileSystem& fs, const StartedCopy& copy, ErrorCode code) {
  if (code != 0 && copy.cleared) fs.SetMode(copy.to, copy.old_mode);
  return code;
}

ErrorCode SetAttributesOn(FilesEnumerator& e, const std::string& path) {
  return SetFileAttributesOf(e, path, e.Item().mode);
}

ErrorCode SetFileAttributesOf(FilesEnumerator& e, const std::string& path, uint32_t mode) {
  const ErrorCode code = e.Context().fs->SetMode(path, mode & 07777);
  if (code == 0) e.OtherChanged();
  return code;
}

ErrorCode SetFolderTimesOn(FilesEnumerator& e, const std::string& path) {
  const ItemInfo& item = e.Item();
  const ErrorCode code = e.Context().fs->SetTimes(path, item.access_time, item.modify_time);
  if (code == 0) e.OtherChanged();
  return code;
}

// The rename starts from the name as stored on disk: on a case-insensitive
// side `path` (written with the item's own spelling) finds the counterpart,
// but names it as the item already is.
ErrorCode RenameOtherToItemName(FilesEnumerator& e, const std::string& path) {
  if (const ErrorCode code = e.LookupOther(path); code != 0) return code;
  const std::string& other_name = e.Other().name;
  if (other_name == e.Name()) return 0;
  const std::string folder = FolderPart(path);
  const ErrorCode code =
      e.Context().fs->Rename(folder + other_name, folder + e.Name(), RenameMode::NoReplace);
  if (code == 0) e.OtherChanged();
  return code;
}

ErrorCode FreeShortName(FilesEnumerator& e, const std::string& path, std::string& other_path) {
  if (const ErrorCode code = e.LookupOther(path); code != 0) return code;
  FileSystem& fs = *e.Context().fs;
  const std::string folder = FolderPart(path);
  other_path = folder + e.Other().name;
  std::string temporary;
  ErrorCode code = 0;
  for (int n = 0; n <= 9; ++n) {
    temporary = folder + "~twm_" + std::to_string(n) + ".tmp";
    code = fs.Rename(other_path, temporary, RenameMode::NoReplace);
    if (code != kErrAlreadyExists) break;
  }
  e.OtherChanged();
  if (code != 0) return code;
  // The placeholder holds the short name while the item comes back, so the
  // item gets a new one.
  ErrorCode last = 0;
  const ErrorCode placeholder = fs.CreateNewFile(path);
  if (placeholder != 0) last = placeholder;
  if (const ErrorCode back = fs.Rename(temporary, other_path, RenameMode::NoReplace); back != 0)
    last = back;
  if (placeholder == 0) {
    if (const ErrorCode removed = fs.DeleteFile(path); removed != 0) last = removed;
  }
  return last;
}

ErrorCode DeleteItem(FilesEnumerator& e) {
  const ItemInfo item = e.Item();
  return Remove(e, e.FullPath(), item);
}

// The counterpart at `path`; a folder with the times of `as_found` where
// that is a folder too (null: as it is now).
static ErrorCode RemoveOther(FilesEnumerator& e, const std::string& path,
                             const ItemInfo* as_found) {
  if (const ErrorCode code = e.LookupOther(path); code != 0) return code;
  ItemInfo other = e.Other();
  if (as_found != nullptr && other.IsFolder() && as_found->IsFolder()) {
    other.access_time = as_found->access_time;
    other.modify_time = as_found->modify_time;
  }
  const ErrorCode code = Remove(e, path, other);
  if (code == 0) e.OtherChanged();
  return code;
}

ErrorCode DeleteOther(FilesEnumerator& e, const std::string& path) {
  return RemoveOther(e, path, nullptr);
}

ErrorCode DeleteEmptiedOther(FilesEnumerator& e, const std::string& path,
                             const ItemInfo& as_found) {
  return RemoveOther(e, path, &as_found);
}

ErrorCode CopySecurityTo(FilesEnumerator& e, const std::string& path) {
  if (!e.Context().security_support) return 0;
  if (const ErrorCode code = e.LoadItemSecurity(); code != 0) return code;
  const ErrorCode code = e.Context().fs->WriteSecurity(path, e.ItemSecurity());
  if (code == 0) e.OtherChanged();
  return code;
}

ErrorCode EnablePrivileges() {
  return CheckSecurityCapabilities();
}

bool VolumeSupportsAcls(FileSystem& fs, const std::string& path) {
  return fs.KeepsSecurity(path);
}

}  // namespace twinmere
