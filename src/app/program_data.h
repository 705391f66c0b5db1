// Where the programs find the data they ship with: help pages and icons.
//
// Both programs look in the "share" folder beside the folder of their
// executable first: an installed bin/ has its data in ../share whatever the
// prefix, and the build folder mirrors that layout in build/share. After that
// they look in the data folder of the install prefix this build was
// configured for.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace twinmere {

// Items below a data folder.
inline constexpr char kHelpData[] = "twinmere/help";
inline constexpr char kScalableIconData[] = "icons/hicolor/scalable/apps/twinmere.svg";
inline constexpr char kIcon48Data[] = "icons/hicolor/48x48/apps/twinmere.png";
inline constexpr char kIcon256Data[] = "icons/hicolor/256x256/apps/twinmere.png";

// The data folders to search, in order, each without a trailing "/": the
// "share" folder beside `exe_folder` (the folder that holds the running
// executable, as GetInstallFolder gives it), then the configured prefix's
// data folder. An empty or relative `exe_folder` adds nothing; a folder is
// listed once. Never fails.
std::vector<std::string> ProgramDataFolders(const std::string& exe_folder);

// The path of `relative` (an item name from above) in the first of those
// folders that holds it, or an empty text when none does or every lookup
// fails. A link counts as present and is not followed here; whoever opens the
// path later follows it.
std::string FindProgramData(FileSystem& fs, const std::string& relative,
                            const std::string& exe_folder);

}  // namespace twinmere
