// The per-user folders of the XDG base-directory rules.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace twinmere {

// Every folder is an absolute path without a trailing "/", or empty when it
// cannot be determined (no HOME and no XDG variable).
struct UserFolders {
  std::string home;       // $HOME
  std::string config;     // $XDG_CONFIG_HOME, else ~/.config
  std::string state;      // $XDG_STATE_HOME, else ~/.local/state
  std::string data;       // $XDG_DATA_HOME, else ~/.local/share
  std::string documents;  // XDG documents folder from user-dirs.dirs, else $HOME
  std::string runtime;    // $XDG_RUNTIME_DIR, else the temp folder
  std::string temp;       // $TMPDIR, else /tmp
};

using GetEnv = std::function<const char*(const char* name)>;

// Determines the folders from the environment. A relative XDG value is
// ignored, as the XDG rules require. Never fails.
UserFolders UserFoldersFromEnvironment(const GetEnv& getenv_fn);
UserFolders UserFoldersFromEnvironment();

// The user's home Trash of the freedesktop.org Trash specification:
// data + "/Trash", or empty when the data folder is unknown.
std::string HomeTrashFolder(const UserFolders& folders);

// The numeric id of the user the process acts as (its effective uid).
uint32_t CurrentUserId();

// The numeric id of the group the process creates items with (its
// effective gid).
uint32_t CurrentGroupId();

// The program's own state folder ($XDG_STATE_HOME/twinmere), where bare report
// names are placed; empty when unknown.
std::string ProgramStateFolder(const UserFolders& folders);

}  // namespace twinmere
