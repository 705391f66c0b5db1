// What the windows do with the text of a folder field, without any GUI: the
// folder the options receive, and where the folder browser opens for it.
// The main window and the options dialog share these.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace twinmere {

// The path a field's text means: the text without leading and trailing
// blanks (spaces, tabs, line ends), which were most likely typed or pasted
// by accident, unless an item has the name with those blanks: the text as
// typed, or without the blanks of one end only, when an item of exactly
// that name exists (in that order), so that a folder "dst " beside "dst"
// can be chosen. A blank text gives an empty path. The final component is
// looked up without following a link. Never fails.
std::string FolderFieldText(FileSystem& fs, std::string_view text);

// The folder a field's text names, as the options hold it: FolderFieldText
// ending in "/", with every component that exists written as stored on disk
// (LongFolderForm, so a case-insensitive folder gets its stored letter case).
// Empty for a blank text. Lookups never follow a final link; missing
// components stay as written. Never fails.
std::string FolderFieldPath(FileSystem& fs, std::string_view text);

// True when `path` names an existing item that is neither a folder nor a link
// to one (what a dropped report file must be). Never fails: a failed lookup
// gives false.
bool NamesExistingNonFolder(FileSystem& fs, const std::string& path);

// Where the folder browser opens for a field's folder: the folder itself
// when it exists, else its nearest existing parent, without a trailing "/"
// (the root keeps it). Empty when the text is empty or relative. A link to a
// folder counts as a folder here, since the browser follows it. Never fails.
std::string BrowseStartFolder(FileSystem& fs, std::string_view folder);

}  // namespace twinmere
