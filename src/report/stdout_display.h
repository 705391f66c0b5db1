// The display of twinmere-cli: every line is printed once, when it is
// flushed, to a stream (standard output).
#pragma once

#include <cstdio>
#include <string_view>

#include "report/report_display.h"

namespace twinmere {

class StdoutDisplay final : public ReportDisplay {
 public:
  explicit StdoutDisplay(std::FILE* out = stdout) : out_(out) {}

  // Each prints the text and a line end and flushes the stream. Write errors
  // (a closed pipe) are ignored: the display is best effort.
  void ShowBatch(std::string_view lines) override;
  void ShowImmediate(std::string_view line) override;

 private:
  void Print(std::string_view text);
  std::FILE* out_;
};

}  // namespace twinmere
