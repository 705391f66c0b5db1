// The topics of the help pages. Each topic is one page shipped with the
// program: help/<topic>.html, and help/index.html for the contents. Message
// boxes and dialogs open them by number; the launcher messages' topics (2050,
// 6000, 6001) are in app/shortcuts.h.
#pragma once

namespace twinmere {

inline constexpr int kHelpContents = 0;  // the contents page, index.html
inline constexpr int kHelpMainWindow = 1000;
inline constexpr int kHelpOptionsDialog = 2000;
inline constexpr int kHelpUnsupportedSystem = 3000;  // "Unsupported OS version."
inline constexpr int kHelpReportMissing = 5000;      // "The Report file doesn't exist."
// The preferences dialog; also the topic of "Unable to start Report Viewer. ",
// since the viewer is chosen there.
inline constexpr int kHelpPreferences = 7000;
inline constexpr int kHelpAbout = 8000;

}  // namespace twinmere
