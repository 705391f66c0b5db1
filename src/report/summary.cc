#include "report/summary.h"

#include <vector>

#include "report/action_lines.h"

namespace twinmere {
namespace {

class Lines {
 public:
  void Add(std::string_view label, std::string_view value) {
    if (!text_.empty()) text_ += '\n';
    text_.append(label);
    text_ += '\t';
    text_.append(value);
  }
  void AddRaw(std::string_view line) {
    if (!text_.empty()) text_ += '\n';
    text_.append(line);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

constexpr const char kBlankLabel[] = "                           ";  // 27 blanks

}  // namespace

std::string BuildSummary(const SummaryInput& in) {
  const SyncOptions& o = in.options;
  const SessionCounters& c = in.counters;
  const int32_t level = o.ReportLevel;
  const bool zeros = (level & kLevelZeroValues) != 0;
  const bool summary = (level & kLevelSummary) != 0;
  const auto size = [&](int64_t v) { return FormatSize(v, SizeFormat::Plain, in.seps); };
  const auto signed_size = [&](int64_t v) { return FormatSize(v, SizeFormat::Signed, in.seps); };
  const auto quoted = [](const std::string& s) { return "\"" + DisplayPath(s) + "\"."; };
  Lines lines;

  if (level & kLevelFolders) {
    lines.Add("Source folder:             ", quoted(o.Source));
    lines.Add("Target folder:             ", quoted(o.Target));
  }
  if (level & kLevelCommandLine) {
    // The arguments as they were given, not as paths.
    lines.Add("Command line:              ", "\"" + DisplayText(in.arguments) + "\".");
  }
  if (level & kLevelOptions) {
    lines.Add("Include subfolders:        ", o.ExcludeSubfolders ? "No." : "Yes.");
    lines.Add("Synchronization options:   ",
              std::string(o.Preview ? "Preview only, " : "") +
                  (o.Bidi ? "Bidirectional" : "Unidirectional") +
                  (o.Delete ? (o.ForceDelete && !o.Bidi ? ", Delete extra files without guard"
                                                        : ", Delete extra files")
                            : ", Don't delete files") +
                  (o.New ? ", Copy only newer files" : ", Copy all different files") + ",");
    std::string row6 = std::string(o.Case ? "Synchronize case, " : "Ignore case difference, ") +
                       (o.NoDaylight ? "Don't t" : "T") + "ake into account daylight saving";
    if (in.facts.OsIndex >= 6) {
      row6 += std::string(o.AllowDecryption ? ", A" : ", Don't a") + "llow decryption";
    }
    lines.Add(kBlankLabel, row6 + ".");
    lines.Add("Program options:           ",
              std::string(o.Start ? "Autostart" : "Manual start") +
                  (o.Minimized ? ", Start minimized" : ", Start in normal window") + ",");
    lines.Add(kBlankLabel, std::string(o.Quiet ? "Autoexit" : "Manual exit") +
                               (o.DisallowStop ? ", Disallow Stop" : ", Allow Stop") +
                               (o.QuickStart ? ", Quick start" : ", Normal start") + ".");
    std::string report =
        "Level: " + std::to_string(level) + (o.Append ? ", Append report" : ", Owerwrite report");
    if (o.Restriction != 0) {
      report += ", Restrict report to " + std::to_string(o.Restriction) + " Kbytes";
    } else {
      report += ", Don't restrict report size";
    }
    lines.Add("Report options:            ", report + ".");
    lines.Add("Security support:          ", in.security_support ? "Yes." : "No.");
    if (!o.LeaveOutFiles.empty() || !o.LeaveOut.empty()) {
      std::string left_out;
      for (const std::string& file : o.LeaveOutFiles)
        left_out +=
            (left_out.empty() ? "" : ", ") + ("the patterns of \"" + DisplayPath(file) + "\"");
      for (const std::string& pattern : o.LeaveOut)
        left_out +=
            (left_out.empty() ? "" : ", ") + ("\"" + DisplayText(pattern) + "\"");  // not a path
      lines.Add("Left out:                  ", left_out + ".");
    }
    if (o.Trash) {
      lines.Add("Deleted and replaced:      ", "Moved to the Trash.");
    } else if (!o.Versions.empty()) {
      lines.Add("Deleted and replaced:      ",
                "Kept in \"" + DisplayPath(o.Versions) + "\", " +
                    (o.VersionsKeep == 1  ? std::string("the newest run")
                     : o.VersionsKeep > 0 ? "the newest " + std::to_string(o.VersionsKeep) + " runs"
                                          : std::string("all runs")) +
                    ".");
    }
  }

  if (summary) {
    const auto shown = [&](int32_t count) { return zeros || count != 0; };
    const auto count_row = [&](bool condition, const char* label, int32_t count) {
      if (condition && shown(count)) lines.Add(label, std::to_string(count) + ".");
    };
    const bool folders = !o.ExcludeSubfolders;
    const bool security = !o.NoSecurity;

    if (shown(c.FilesCopiedToTarget)) {
      lines.Add("Files copied to Target:    ",
                std::to_string(c.FilesCopiedToTarget) + "\t  " + size(c.BytesCopiedToTarget) + ".");
    }
    if (shown(c.FilesReplacedInTarget)) {
      lines.Add("Files replaced in Target:  ", std::to_string(c.FilesReplacedInTarget) + "\t  " +
                                                   size(c.BytesReplacedInTarget) + " (" +
                                                   signed_size(c.SizeChangeInTarget) + ").");
    }
    if (o.Delete && shown(c.FilesDeletedInTarget)) {
      lines.Add("Files deleted in Target:   ", std::to_string(c.FilesDeletedInTarget) + "\t  " +
                                                   size(c.BytesDeletedInTarget) + ".");
    }
    count_row(true, "File attributes in Target: ", c.FileAttributesInTarget);
    count_row(security, "File security in Target:   ", c.FileSecurityInTarget);
    count_row(o.Case, "File case in Target:       ", c.FileCaseInTarget);
    count_row(true, "Short file name in Target: ", c.ShortFileNamesInTarget);
    count_row(folders, "Folders created in Target: ", c.FoldersCreatedInTarget);
    count_row(folders, "Folders updated in Target: ", c.FoldersUpdatedInTarget);
    count_row(folders && o.Delete, "Folders removed in Target: ", c.FoldersRemovedInTarget);
    count_row(folders, "Folder attributes in Target: ", c.FolderAttributesInTarget);
    count_row(folders && security, "Folder security in Target: ", c.FolderSecurityInTarget);
    count_row(folders && o.Case, "Folder case in Target:     ", c.FolderCaseInTarget);
    count_row(folders, "Short folder name in Target: ", c.ShortFolderNamesInTarget);
    if (zeros || c.FilesDeletedInTarget != 0 || c.FilesReplacedInTarget != 0 ||
        c.FilesCopiedToTarget != 0) {
      lines.Add(
          "Total size change in Target: ",
          signed_size(c.SizeChangeInTarget + c.BytesCopiedToTarget - c.BytesDeletedInTarget) + ".");
    }

    if (o.Bidi) {
      if (shown(c.FilesCopiedToSource)) {
        lines.Add("Files copied to Source:    ", std::to_string(c.FilesCopiedToSource) + "\t  " +
                                                     size(c.BytesCopiedToSource) + ".");
      }
      if (shown(c.FilesReplacedInSource)) {
        lines.Add("Files replaced in Source:  ", std::to_string(c.FilesReplacedInSource) + "\t  " +
                                                     size(c.BytesReplacedInSource) + " (" +
                                                     signed_size(c.SizeChangeInSource) + ").");
      }
      count_row(true, "File attributes in Source: ", c.FileAttributesInSource);
      count_row(security, "File security in Source:   ", c.FileSecurityInSource);
      count_row(true, "Short file name in Source: ", c.ShortFileNamesInSource);
      count_row(folders, "Folders created in Source: ", c.FoldersCreatedInSource);
      count_row(folders, "Folders updated in Source: ", c.FoldersUpdatedInSource);
      count_row(folders, "Folder attributes in Source: ", c.FolderAttributesInSource);
      count_row(folders && security, "Folder security in Source: ", c.FolderSecurityInSource);
      count_row(folders, "Short folder name in Source: ", c.ShortFolderNamesInSource);
      if (zeros || c.FilesReplacedInSource != 0 || c.FilesCopiedToSource != 0) {
        lines.Add("Total size change in Source: ",
                  signed_size(c.SizeChangeInSource + c.BytesCopiedToSource) + ".");
      }
    }
    if (!in.kept_in.empty() && c.ItemsKept != 0) {
      lines.Add("Versions kept in:          ", quoted(std::string(in.kept_in)));
    } else if (o.Trash) {
      count_row(true, "Items moved to the Trash:  ", c.ItemsKept);
    }
    // As deletions need Delete: a zero needs patterns on the command line.
    const bool patterns = !o.LeaveOut.empty() || !o.LeaveOutFiles.empty();
    count_row(patterns || c.ItemsLeftOut != 0, "Items left out:            ", c.ItemsLeftOut);
    lines.Add("Errors:                    ", std::to_string(c.ErrorCount) + ".");
  }

  lines.Add("Elapsed time:              ", FormatElapsed(in.now - in.start_time, in.seps) + ".");
  if (level & kLevelSystem) {
    lines.Add("Operating system:          ", in.facts.OsText + ".");
    if (in.facts.IsNT) {
      lines.Add("Administrative privileges: ", in.facts.IsAdmin ? "Granted." : "Not granted.");
    }
  }
  lines.AddRaw(EndLine(in.now, in.seps, o.Preview ? RunKind::Preview : RunKind::Synchronization));
  return lines.Take();
}

}  // namespace twinmere
