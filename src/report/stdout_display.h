// The display of twinmere-cli: every line is printed once, when it is
// flushed, to a descriptor (standard output).
#pragma once

#include <unistd.h>

#include <atomic>
#include <string_view>

#include "report/report_display.h"

namespace twinmere {

// Writes all of `bytes` to `fd` (standard output or error). While `stop` is
// null or clear, a full pipe or a paused terminal is waited for; once it is
// set, what the descriptor cannot take at once is dropped, so that a stopped
// run reaches its end however its output is blocked (a signal that sets the
// flag interrupts a write already waiting). A closed pipe or any other
// failure drops the rest. Returns false when anything was dropped.
bool WriteOutput(int fd, std::string_view bytes, const std::atomic<int>* stop);

class StdoutDisplay final : public ReportDisplay {
 public:
  // `stop` (may be null) is the run's stop flag, see WriteOutput.
  explicit StdoutDisplay(int fd = STDOUT_FILENO, const std::atomic<int>* stop = nullptr)
      : fd_(fd), stop_(stop) {}

  // Each prints the text and a line end. Write errors (a closed pipe) are
  // ignored: the display is best effort.
  void ShowBatch(std::string_view lines) override;
  void ShowImmediate(std::string_view line) override;

 private:
  void Print(std::string_view text);
  int fd_;
  const std::atomic<int>* stop_;
};

}  // namespace twinmere
