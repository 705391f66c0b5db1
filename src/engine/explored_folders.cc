#include "engine/explored_folders.h"

namespace twinmere {

void ExploredFolders::Clear() {
  clean_in_source_.reset();
  clean_in_target_.reset();
  security_same_in_source_.reset();
  security_same_in_target_.reset();
  passing_set_ = nullptr;
}

void ExploredFolders::Begin(const std::string& folder, Walk walk) {
  filling_ = std::make_shared<FolderSet>(folder);
  filling_security_ = std::make_shared<FolderSet>(folder);
  open_.clear();
  walk_ = walk;
  files_passed_over_ = 0;
  passing_set_ = nullptr;
}

int64_t ExploredFolders::End(Side walked) {
  while (!open_.empty()) Leave();
  filling_->Seal();
  filling_security_->Seal();
  (walked == Side::Source ? clean_in_source_ : clean_in_target_) = std::move(filling_);
  (walked == Side::Source ? security_same_in_source_ : security_same_in_target_) =
      std::move(filling_security_);
  filling_.reset();
  filling_security_.reset();
  return files_passed_over_;
}

void ExploredFolders::Note(FilesEnumerator& e, const CompareResult& result) {
  const std::string& folder = e.FolderPath();
  // A folder whose items are over is left (the walk goes down in order).
  while (!open_.empty() && !folder.starts_with(open_.back().folder)) Leave();
  if (open_.empty() || open_.back().folder != folder) open_.push_back({folder});
  Folder& here = open_.back();
  const bool is_folder = e.IsFolder();
  const bool same_name = result.Found() && e.OtherName() == e.Name();
  if (!is_folder) ++here.files;
  if (here.clean) {
    if (is_folder && walk_.subfolders) here.subfolders.append(e.Name()).push_back('\0');
    if (is_folder && (!walk_.security || result.differences.HasAny(kSecurityDifferences)))
      here.subfolder_security_same = false;
    // A folder's own differences are met again when it is compared anew.
    const Differences folder_own = {Difference::ItemNewer, Difference::OtherNewer,
                                    Difference::Attributes, Difference::Security};
    const Differences differences =
        is_folder ? result.differences.Without(folder_own) : result.differences;
    here.clean = same_name && differences.Empty();
    if (!here.clean) std::string().swap(here.subfolders);
  }
  // A subfolder is entered now, before its first item: an empty one is
  // kept too, and an error of its listing makes it unclean. The walk goes
  // into folders first in the exploring phases.
  if (is_folder && walk_.subfolders)
    open_.push_back({e.FullPath() + "/", true, same_name && !result.Has(Difference::Kind)});
}

// Only a folder whose counterpart is a folder of the same name is kept:
// the walk acting on it never deletes it, so what its walk left out
// inside it (which the exploring walk did not tell) cannot matter.
void ExploredFolders::Leave() {
  Folder& left = open_.back();
  if (left.clean && left.counterpart_found) {
    if (walk_.subfolders) {
      filling_->Add(left.folder, left.subfolders);
      files_passed_over_ += left.files;
      if (left.subfolder_security_same && !left.subfolders.empty())
        filling_security_->Add(left.folder);
    } else if (left.files != 0) {
      filling_->Add(left.folder);
    }
  }
  open_.pop_back();
}

void ExploredFolders::Error() {
  for (Folder& folder : open_) {
    folder.clean = false;
    std::string().swap(folder.subfolders);
  }
}

bool ExploredFolders::SubfolderSecurityPassedOver(Side walked, const std::string& folder) const {
  const FolderSet* set =
      (walked == Side::Source ? security_same_in_source_ : security_same_in_target_).get();
  return set != nullptr && set->Contains(folder);
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
