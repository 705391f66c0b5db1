#include "app/report_viewer.h"

#include "fs/paths.h"
#include "platform/path_syntax.h"
#include "platform/program_start.h"
#include "report/formats.h"

namespace twinmere {

std::optional<DialogMessage> ViewReport(FileSystem& fs, const std::string& report,
                                        const std::string& viewer) {
  const uint32_t attributes = GetAttributes(fs, report);
  if (report.empty() || attributes == kInvalidAttributes || (attributes & kAttrFolder) != 0)
    return DialogMessage{"The Report file doesn't exist.", MessageIcon::Exclamation,
                         kHelpReportMissing};
  if (viewer.empty()) return std::nullopt;
  std::string argument = AbsolutePath(report, WorkingFolder());
  if (PathRootLength(argument) == 0) argument = "./" + argument;
  if (const ErrorCode code = OpenInViewer(viewer, argument); code != kSuccess)
    return DialogMessage{"Unable to start Report Viewer. " + SystemErrorText(code) + ": \"" +
                             DisplayPath(viewer) + "\".",
                         MessageIcon::Exclamation, kHelpPreferences};
  return std::nullopt;
}

}  // namespace twinmere
