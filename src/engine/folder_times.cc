// Folder times on the receiving side. A folder is created with the times of
// its counterpart, but every item the run then adds, removes or renames in it
// changes its modification time again. Such a folder gets its counterpart's
// times back once the walk has left it, deepest first; folders the run did
// not change keep theirs, whatever they are.
#include "engine/sync_run.h"
#include "fs/paths.h"

namespace twinmere {

// The receiving side of the running phase is Source only in phase 3.
void Synchronizer::Impl::BeginFolderTimes() {
  const bool into_source = session.CurrentPhase == Phase::CopyToSource;
  open_folders.clear();
  open_folders.push_back({into_source ? options.Source : options.Target,
                          session.CurrentPhase == Phase::CopyToTarget && target_created});
  keeping_folder_times = true;
}

void Synchronizer::Impl::EndFolderTimes() {
  while (!open_folders.empty()) LeaveFolder();
  keeping_folder_times = false;
}

void Synchronizer::Impl::ReachFolderTimesItem(const std::string& receiving_path, bool is_folder) {
  const size_t parent_size = receiving_path.rfind('/') + 1;
  // Every folder that does not hold the item has been left for good.
  while (open_folders.size() > 1) {
    const std::string& folder = open_folders.back().folder;
    if (folder.size() <= parent_size && receiving_path.compare(0, folder.size(), folder) == 0)
      break;
    LeaveFolder();
  }
  if (is_folder && session.CurrentPhase != Phase::DeleteInTarget)
    open_folders.push_back({receiving_path + "/", false});
}

void Synchronizer::Impl::ContentsChanged(const std::string& path) {
  if (!keeping_folder_times || removing_conflict != 0) return;
  const std::string folder = FolderPart(path);
  for (auto it = open_folders.rbegin(); it != open_folders.rend(); ++it) {
    if (it->folder == folder) {
      it->changed = true;
      return;
    }
  }
  open_folders.push_back({folder, true});
}

void Synchronizer::Impl::LeaveFolder() {
  const OpenFolder left = std::move(open_folders.back());
  open_folders.pop_back();
  if (!left.changed) return;
  const bool into_source = session.CurrentPhase == Phase::CopyToSource;
  const std::string& root = into_source ? options.Source : options.Target;
  const std::string& other_root = into_source ? options.Target : options.Source;
  if (!left.folder.starts_with(root)) return;
  ItemInfo counterpart, folder;
  const std::string path = RemoveSeparator(left.folder);
  if (fs->Lookup(RemoveSeparator(other_root + left.folder.substr(root.size())), counterpart) !=
          kSuccess ||
      !counterpart.IsFolder() || fs->Lookup(path, folder) != kSuccess)
    return;  // a folder deleted as an extra item, or one that met a file
  // A folder whose time is the epoch keeps none (the root of a FAT file
  // system); asking it to keep one fails, and some FUSE servers die of it.
  if (folder.modify_time.ns == 0 || (folder.modify_time == counterpart.modify_time &&
                                     folder.access_time == counterpart.access_time))
    return;
  fs->SetTimes(path, counterpart.access_time, counterpart.modify_time);
}

}  // namespace twinmere
