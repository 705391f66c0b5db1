// Where the lines of AddReportLine are shown: the desktop window's message
// box, or twinmere-cli's standard output.
#pragma once

#include <string_view>

namespace twinmere {

class ReportDisplay {
 public:
  virtual ~ReportDisplay() = default;
  // A batch of lines (separated by "\n", no trailing "\n"), shown above the
  // immediate lines.
  virtual void ShowBatch(std::string_view lines) = 0;
  // One line shown at once; it stays below every later batch.
  virtual void ShowImmediate(std::string_view line) = 0;
  // A run begins: lines shown so far no longer count as immediate lines.
  virtual void BeginRun() {}
};

}  // namespace twinmere
