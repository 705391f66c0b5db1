// Whether two folders are the same folder or one lies inside the other, told
// by the identity (device, inode) of the folders and their ancestors, and by
// where each lies inside its file system, so that no spelling of the paths,
// link or bind mount can hide it.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace twinmere {

// What the nesting test found for two folders.
struct Nesting {
  // The same folder, one inside the other, or not known to be apart.
  bool nested = false;
  // Where nesting could not be ruled out: the folder (as given) whose place
  // inside its file system is unknown, and the error that hid it.
  std::string unplaced;
  ErrorCode unplaced_error = kSuccess;
};

// Whether `a` and `b` are the same folder or one lies inside the other. A
// folder that does not exist yet is represented by its nearest existing
// ancestor (it would be created there). Paths may end in "/". Links in the
// paths are followed, since the folders themselves are named through them.
// When a lookup fails the walk up ends there; a path none of whose ancestors
// can be looked up is taken as unrelated. A bind mount of a folder (or of its
// parent) counts as that folder: the file system's LocateFolder tells where
// each lies. Where it cannot tell (on this machine: /proc is not mounted), a
// bind mount could hide the nesting, and the folders count as nested; only
// a file system without mounts leaves it to the identities alone.
Nesting CheckNesting(FileSystem& fs, const std::string& a, const std::string& b);
inline bool SameOrNestedFolders(FileSystem& fs, const std::string& a, const std::string& b) {
  return CheckNesting(fs, a, b).nested;
}

// True when the folder `inner` is the existing folder `outer` or lies inside
// it: by the identities of `inner` and its ancestors, or by where each lies
// inside its file system. Where neither can tell, false.
bool FolderLiesWithin(FileSystem& fs, const std::string& inner, const std::string& outer);

// Looks up the folder `folder` names, following it when it is a link (a
// folder given by the user is taken as written). Fills `info` and returns
// true when it exists; it may be a file.
bool LookupFolder(FileSystem& fs, const std::string& folder, ItemInfo& info);

}  // namespace twinmere
