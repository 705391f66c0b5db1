// Folder times on the receiving side. A folder is created with the times of
// its counterpart, but every item the run then adds, removes or renames in it
// changes its modification time again. Such a folder gets its counterpart's
// times back once the walk has left it, deepest first; folders the run did
// not change keep theirs, whatever they are.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace twinmere {

class RunningCopies;

class FolderTimes {
 public:
  // `copies`: a folder that copies running beside the walk still fill gets
  // its times once they are over (CopiesEnded).
  explicit FolderTimes(const RunningCopies& copies) : copies_(copies) {}

  // A walk of a copying or deleting phase begins. The folders it may still
  // change lie in `root` (ending in "/"), their counterparts at the same
  // place in `counterpart_root`; `root_created`: the run made `root`, which
  // holds nothing but what the walk puts there. `enters_folders`: the walk
  // goes through the receiving tree's folders (phases 2 and 3); in phase 4
  // only the folders it deleted items in are tracked, found deepest first.
  void Begin(FileSystem& fs, const std::string& root, const std::string& counterpart_root,
             bool root_created, bool enters_folders);
  // The walk is over: every folder it changed gets its times back.
  void End();

  // While one lives, nothing is tracked: a walk inside the phase's walk
  // (a Target folder removed whole, the report file alone) changes nothing
  // that the phase's walk has to give back.
  class Pause {
   public:
    explicit Pause(FolderTimes& times) : times_(times) { ++times_.paused_; }
    ~Pause() { --times_.paused_; }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

   private:
    FolderTimes& times_;
  };

  // The walk reached the item at `receiving_path` on the receiving side:
  // the folders it left behind get their times, and a folder item is
  // entered where the walk enters folders.
  void Reach(const std::string& receiving_path, bool is_folder);
  // Items were added to, removed from or renamed in the folder of `path`.
  void ContentsChanged(const std::string& path);
  // The walk created the receiving folder `path`.
  void FolderCreated(const std::string& path);
  // `path` is a name in a receiving folder the walk created.
  bool InFolderCreatedHere(const std::string& path) const;
  // A copy running beside the walk ended: the folders left meanwhile whose
  // last copy it was get their times.
  void CopiesEnded();

 private:
  bool Tracking() const { return active_ && paused_ == 0; }
  void LeaveFolder();
  // Gives a receiving folder the times of its counterpart again.
  void Restore(const std::string& folder);

  const RunningCopies& copies_;
  FileSystem* fs_ = nullptr;
  std::string root_;
  std::string counterpart_root_;
  bool enters_folders_ = false;
  bool active_ = false;
  int paused_ = 0;
  // Receiving folders whose time the walk may still change: in phases 2 and
  // 3 every folder the walk is in, outermost first; in phase 4 the folders
  // it deleted items in, found deepest first.
  struct OpenFolder {
    std::string folder;  // ends in "/"
    bool changed = false;
    // Made by this walk (or, the top one, by this run): it holds nothing
    // but what the walk put there.
    bool created = false;
  };
  std::vector<OpenFolder> open_folders_;
  // Folders the walk has left that get their times back once the copies
  // into them are over.
  std::vector<std::string> awaiting_copies_;
};

}  // namespace twinmere
