// The display of twinmere-cli: every line is printed once, when it is
// flushed, to a standard stream (standard output).
#pragma once

#include <atomic>
#include <string_view>

#include "platform/standard_streams.h"
#include "report/report_display.h"

namespace twinmere {

class StdoutDisplay final : public ReportDisplay {
 public:
  // `stop` (may be null) is the run's stop flag, see WriteToStream.
  explicit StdoutDisplay(StandardStream stream = StandardStream::Output,
                         const std::atomic<int>* stop = nullptr)
      : stream_(stream), stop_(stop) {}

  // Each prints the text and a line end. Write errors (a closed pipe) are
  // ignored: the display is best effort.
  void ShowBatch(std::string_view lines) override;
  void ShowImmediate(std::string_view line) override;

 private:
  void Print(std::string_view text);
  StandardStream stream_;
  const std::atomic<int>* stop_;
};

}  // namespace twinmere
