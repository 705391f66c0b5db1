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
  const bool created = session.CurrentPhase == Phase::CopyToTarget && target_created;
  open_folders.push_back({into_source ? options.Source : options.Target, created, created});
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

void Synchronizer::Impl::FolderCreated(const std::string& path) {
  if (!keeping_folder_times || removing_conflict != 0 || open_folders.empty()) return;
  OpenFolder& folder = open_folders.back();
  if (folder.folder.size() == path.size() + 1 && folder.folder.starts_with(path))
    folder.created = true;
}

bool Synchronizer::Impl::InFolderCreatedHere(const std::string& path) const {
  if (!keeping_folder_times || removing_conflict != 0 || open_folders.empty()) return false;
  const OpenFolder& folder = open_folders.back();
  return folder.created && path.size() > folder.folder.size() && path.starts_with(folder.folder) &&
         path.find('/', folder.folder.size()) == std::string::npos;
}

// A folder that copies running beside the walk still fill gets its times
// once they are over.
void Synchronizer::Impl::LeaveFolder() {
  const OpenFolder left = std::move(open_folders.back());
  open_folders.pop_back();
  if (!left.changed) return;
  if (CopiesRunningInto(left.folder)) {
    folders_awaiting_times.push_back(left.folder);
    return;
  }
  RestoreFolderTimes(left.folder);
}

void Synchronizer::Impl::RestoreFolderTimes(const std::string& left) {
  const bool into_source = session.CurrentPhase == Phase::CopyToSource;
  const std::string& root = into_source ? options.Source : options.Target;
  const std::string& other_root = into_source ? options.Target : options.Source;
  if (!left.starts_with(root)) return;
  ItemInfo counterpart, folder;
  const std::string path = RemoveSeparator(left);
  if (fs.Lookup(RemoveSeparator(other_root + left.substr(root.size())), counterpart) != kSuccess ||
      !counterpart.IsFolder() || fs.Lookup(path, folder) != kSuccess)
    return;  // a folder deleted as an extra item, or one that met a file
  // A folder whose time is the epoch keeps none (the root of a FAT file
  // system); asking it to keep one fails, and some FUSE servers die of it.
  if (folder.modify_time.ns == 0 || (folder.modify_time == counterpart.modify_time &&
                                     folder.access_time == counterpart.access_time))
    return;
  fs.SetTimes(path, counterpart.access_time, counterpart.modify_time);
}

}  // namespace twinmere
