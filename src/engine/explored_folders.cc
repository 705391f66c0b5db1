#include "engine/explored_folders.h"

namespace twinmere {

void ExploredFolders::Clear() {
  clean_in_source_.reset();
  clean_in_target_.reset();
  passing_set_ = nullptr;
}

void ExploredFolders::Begin(const std::string& folder) {
  filling_ = std::make_shared<FolderSet>(folder);
  open_.clear();
  passing_set_ = nullptr;
}

void ExploredFolders::End(Side walked) {
  while (!open_.empty()) Leave();
  filling_->Seal();
  (walked == Side::Source ? clean_in_source_ : clean_in_target_) = std::move(filling_);
  filling_.reset();
}

void ExploredFolders::Note(FilesEnumerator& e, const CompareResult& result) {
  const std::string& folder = e.FolderPath();
  // A folder whose items are over is left (the walk goes down in order).
  while (!open_.empty() && !folder.starts_with(open_.back().folder)) Leave();
  if (open_.empty() || open_.back().folder != folder) open_.push_back({folder});
  Folder& here = open_.back();
  const bool is_folder = e.IsFolder();
  if (!is_folder) here.has_files = true;
  if (!here.clean) return;
  // A folder's own differences are met again when it is compared anew.
  const Differences folder_own = {Difference::ItemNewer, Difference::OtherNewer,
                                  Difference::Attributes, Difference::Security};
  const Differences differences =
      is_folder ? result.differences.Without(folder_own) : result.differences;
  here.clean = result.Found() && e.OtherName() == e.Name() && differences.Empty();
}

void ExploredFolders::Leave() {
  const Folder& left = open_.back();
  if (left.clean && left.has_files) filling_->Add(left.folder);
  open_.pop_back();
}

void ExploredFolders::Error() {
  for (Folder& folder : open_) folder.clean = false;
}

bool ExploredFolders::FilesPassedOver(const FolderSet* set, const std::string& folder) {
  if (set == nullptr) return false;
  if (set != passing_set_ || folder != passing_folder_) {
    passing_set_ = set;
    passing_folder_ = folder;
    passing_ = set->Contains(folder);
  }
  return passing_;
}

}  // namespace twinmere
