// What the exploring phases found equal.
//
// A folder is clean when the exploring phase found every item in it equal to
// its counterpart, under the very same name, and met no error on the way
// (not even one of reading the folder). The phase that walks the same tree
// again (phase 2 after phase 0; phase 3 or 4 after phase 1) takes those
// files as found: it does not compare them again, and the walk does not read
// ahead what it would need for them. Folders are always compared, and their
// own times, mode or security may differ without making the folder above
// unclean. What phase 2 writes into a clean folder of Target is new there
// and equal to its Source counterpart, which phases 3 and 4 pass over
// anyway. A file that changes after the exploring phase compared it is
// thus left for the next run, as it would be had it changed after the
// phase that acts on it.
//
// A clean folder is kept with the names of its subfolders: the walk that
// acts on its tree does not list it again, but goes straight into those
// subfolders, each compared and acted on as ever. A folder that appears
// there after exploring is left for the next run too; one that is gone by
// then is passed over, as a listing would. Where the exploring walk
// compared security and found that of every such subfolder equal, the
// acting walk takes it as found too and compares only the rest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/compare.h"
#include "fs/files_enumerator.h"
#include "platform/folder_set.h"
#include "report/reporter.h"

namespace twinmere {

class ExploredFolders {
 public:
  // Nothing is known to be clean (a run begins or has ended).
  void Clear();

  // What an exploring walk compares beside the items themselves.
  struct Walk {
    // It hands its subfolders over (Note), and the clean folders are kept
    // with their names.
    bool subfolders = false;
    // It compares security.
    bool security = false;
  };
  // An exploring walk of `folder` begins.
  void Begin(const std::string& folder, Walk walk);
  // An item of the walk and its comparison's result.
  void Note(FilesEnumerator& e, const CompareResult& result);
  // An error met by the walk: the folders of the walk not yet left are not
  // clean.
  void Error();
  // The walk is over: the clean folders it found are those of `walked`.
  // Returns how many files they hold, which the walk acting on that tree
  // will not meet.
  int64_t End(Side walked);

  // The clean folders of the tree of `side` (sealed), or null when no
  // exploring walk went through it.
  std::shared_ptr<FolderSet> CleanIn(Side side) const {
    return side == Side::Source ? clean_in_source_ : clean_in_target_;
  }
  // Whether the files of `folder` are taken as found, `set` being the clean
  // folders of the walked tree (null: none).
  bool FilesPassedOver(const FolderSet* set, const std::string& folder);
  // Whether the security of the subfolders of `folder` is taken as found
  // by the walk acting on the tree of `walked`: the folder is clean, and
  // exploring found the security of each of them equal.
  bool SubfolderSecurityPassedOver(Side walked, const std::string& folder) const;

 private:
  void Leave();

  std::shared_ptr<FolderSet> clean_in_source_;
  std::shared_ptr<FolderSet> clean_in_target_;
  // The clean folders with subfolders whose security was found equal.
  std::shared_ptr<FolderSet> security_same_in_source_;
  std::shared_ptr<FolderSet> security_same_in_target_;
  // While exploring: the set being filled, and the folders of the walk not
  // yet left, outermost first, with what their items showed so far.
  std::shared_ptr<FolderSet> filling_;
  std::shared_ptr<FolderSet> filling_security_;
  struct Folder {
    std::string folder;  // ends in "/"
    bool clean = true;
    bool counterpart_found = true;  // a folder of the same name (the top: the other one)
    bool subfolder_security_same = true;
    int64_t files = 0;
    std::string subfolders{};  // their names, each followed by a NUL
  };
  std::vector<Folder> open_;
  Walk walk_;
  int64_t files_passed_over_ = 0;
  // The folder of the last item asked about, and whether `passing_set_`
  // holds it.
  const FolderSet* passing_set_ = nullptr;
  std::string passing_folder_;
  bool passing_ = false;
};

}  // namespace twinmere
