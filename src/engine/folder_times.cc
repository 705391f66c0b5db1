#include "engine/folder_times.h"

#include "engine/running_copies.h"
#include "fs/paths.h"

namespace twinmere {

void FolderTimes::Begin(FileSystem& fs, const std::string& root,
                        const std::string& counterpart_root, bool root_created,
                        bool enters_folders) {
  fs_ = &fs;
  root_ = root;
  counterpart_root_ = counterpart_root;
  enters_folders_ = enters_folders;
  open_folders_.clear();
  open_folders_.push_back({root, root_created, root_created});
  active_ = true;
}

void FolderTimes::End() {
  while (!open_folders_.empty()) LeaveFolder();
  active_ = false;
}

void FolderTimes::Reach(const std::string& receiving_path, bool is_folder) {
  if (!Tracking()) return;
  const size_t parent_size = receiving_path.rfind('/') + 1;
  // Every folder that does not hold the item has been left for good.
  while (open_folders_.size() > 1) {
    const std::string& folder = open_folders_.back().folder;
    if (folder.size() <= parent_size && receiving_path.compare(0, folder.size(), folder) == 0)
      break;
    LeaveFolder();
  }
  if (is_folder && enters_folders_) open_folders_.push_back({receiving_path + "/", false});
}

void FolderTimes::ContentsChanged(const std::string& path) {
  if (!Tracking()) return;
  const std::string folder = FolderPart(path);
  for (auto it = open_folders_.rbegin(); it != open_folders_.rend(); ++it) {
    if (it->folder == folder) {
      it->changed = true;
      return;
    }
  }
  open_folders_.push_back({folder, true});
}

void FolderTimes::FolderCreated(const std::string& path) {
  if (!Tracking() || open_folders_.empty()) return;
  OpenFolder& folder = open_folders_.back();
  if (folder.folder.size() == path.size() + 1 && folder.folder.starts_with(path))
    folder.created = true;
}

bool FolderTimes::InFolderCreatedHere(const std::string& path) const {
  if (!Tracking() || open_folders_.empty()) return false;
  const OpenFolder& folder = open_folders_.back();
  return folder.created && path.size() > folder.folder.size() && path.starts_with(folder.folder) &&
         path.find('/', folder.folder.size()) == std::string::npos;
}

void FolderTimes::CopiesEnded() {
  std::erase_if(awaiting_copies_, [this](const std::string& folder) {
    if (copies_.RunningInto(folder)) return false;
    Restore(folder);
    return true;
  });
}

// A folder that copies running beside the walk still fill gets its times
// once they are over.
void FolderTimes::LeaveFolder() {
  const OpenFolder left = std::move(open_folders_.back());
  open_folders_.pop_back();
  if (!left.changed) return;
  if (copies_.RunningInto(left.folder)) {
    awaiting_copies_.push_back(left.folder);
    return;
  }
  Restore(left.folder);
}

void FolderTimes::Restore(const std::string& left) {
  if (!left.starts_with(root_)) return;
  ItemInfo counterpart, folder;
  const std::string path = RemoveSeparator(left);
  if (fs_->Lookup(RemoveSeparator(counterpart_root_ + left.substr(root_.size())), counterpart) !=
          kSuccess ||
      !counterpart.IsFolder() || fs_->Lookup(path, folder) != kSuccess)
    return;  // a folder deleted as an extra item, or one that met a file
  // A folder whose time is the epoch keeps none (the root of a FAT file
  // system); asking it to keep one fails, and some FUSE servers die of it.
  if (folder.modify_time.ns == 0 || (folder.modify_time == counterpart.modify_time &&
                                     folder.access_time == counterpart.access_time))
    return;
  fs_->SetTimes(path, counterpart.access_time, counterpart.modify_time);
}

}  // namespace twinmere
