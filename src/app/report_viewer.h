// View Report: opening the report file in the viewer program chosen in the
// settings (kSystemReportViewer unless changed: "xdg-open", on Windows "notepad.exe").
#pragma once

#include <optional>
#include <string>

#include "app/dialog_message.h"
#include "app/help_topics.h"
#include "platform/file_system.h"

namespace twinmere {

// Starts `viewer` (a path, or a bare name searched along PATH) with the
// report path as its one argument (OpenInViewer: on Linux no shell, on
// Windows through the shell; not waited for) and returns nothing. The argument is always an
// absolute path, so that no viewer takes it for a web address ("http://host/x" names the folder
// "http:" below the working folder) or an option: a relative report is made
// absolute from the working folder byte for byte (WorkingFolder,
// AbsolutePath); should that folder be unknown, "./" is put before it.
// Returns the message to show instead: "The Report file doesn't exist."
// (topic 5000) when `report` names nothing or a folder (a link is not
// followed: the viewer follows it and says what it finds); "Unable to start
// Report Viewer. ", the system's text and the viewer as it was tried
// (topic 7000) when the viewer cannot be started. The report is looked up
// afresh on every call. An empty `viewer` starts nothing and shows nothing.
std::optional<DialogMessage> ViewReport(FileSystem& fs, const std::string& report,
                                        const std::string& viewer);

}  // namespace twinmere
