// ReadCommandLineIntoDialog on arbitrary bytes: no crash, no sanitizer report,
// the dialog's rules hold, and wherever the strict reader accepts the line the
// dialog shows the same options.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "app/dialog_state.h"
#include "fs/paths.h"
#include "support/memory_file_system.h"

namespace {

constexpr int32_t kLevel = 31;
constexpr char kState[] = "/state/twinmere";

void Check(bool holds, const char* what, const std::string& args) {
  if (holds) return;
  std::fprintf(stderr, "%s\n  input: [%s]\n", what, args.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string args(reinterpret_cast<const char*>(data), size);
  const twinmere::OptionsDialogState state =
      twinmere::ReadCommandLineIntoDialog(args, kState, kLevel);

  Check(!state.chkBidi.checked || (state.chkNew.checked && !state.chkDelete.checked),
        "Bidi checked with Delete or without New", args);
  Check(state.txtSource.empty() || state.txtSource.back() == '/', "Source without separator", args);
  Check(state.txtTarget.empty() || state.txtTarget.back() == '/', "Target without separator", args);
  Check(state.ReportLevel >= 0, "negative level", args);
  twinmere::OptionsDialogState again = state;
  twinmere::ApplyOptionsDialogRules(again);
  Check(again == state, "dialog rules not settled", args);

  // No items: folders keep their written names, as the dialog reader does.
  twinmere::MemoryFileSystem fs;
  const twinmere::CommandLineContext context{fs, kState, kLevel};
  twinmere::SyncOptions options;
  options.ReportLevel = kLevel;
  if (!twinmere::ParseCommandLine(args, options, context).valid) return 0;
  Check(state.chkBidi.checked == options.Bidi && state.chkNew.checked == options.New &&
            state.chkDelete.checked == options.Delete && state.chkCase.checked == options.Case &&
            state.chkNoDaylight.checked == options.NoDaylight &&
            state.chkNoSecurity.checked == options.NoSecurity &&
            state.chkAllowDecryption.checked == options.AllowDecryption &&
            state.chkSubfolders.checked == options.ExcludeSubfolders &&
            state.chkStart.checked == options.Start &&
            state.chkMinimized.checked == options.Minimized &&
            state.chkQuiet.checked == options.Quiet &&
            state.chkQuickStart.checked == options.QuickStart &&
            state.chkDisallowStop.checked == options.DisallowStop &&
            state.chkPreview.checked == options.Preview &&
            // The dialog clears what cannot take effect: -fd without -d.
            state.chkForceDelete.checked == (options.ForceDelete && options.Delete) &&
            state.chkAppend.checked == options.Append,
        "check boxes differ from the strict reading", args);
  Check(state.txtReport == options.Report, "report differs", args);
  Check(state.txtSource == options.Source && state.txtTarget == options.Target, "folders differ",
        args);
  Check(state.ReportLevel == options.ReportLevel, "level differs", args);
  // The patterns, one a line of the box, where each fits on a line.
  bool one_line_each = true;
  for (const std::string& pattern : options.LeaveOut)
    one_line_each = one_line_each && pattern.find('\n') == std::string::npos &&
                    (pattern.empty() || pattern.back() != '\r');
  Check(!one_line_each || twinmere::LeaveOutPatterns(state.txtLeaveOut) == options.LeaveOut,
        "patterns differ", args);
  Check(state.lstLeaveOutFiles == options.LeaveOutFiles, "patterns files differ", args);
  return 0;
}
