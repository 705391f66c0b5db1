// Stand-ins for the reporter's collaborators: a clock the test sets and a
// display that records what it is asked to show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/clock.h"
#include "report/report_display.h"
#include "support/utc_zone.h"

namespace twinmere::testing {

// Timer() and Now() return what the test set.
class FakeClock final : public Clock {
 public:
  double Timer() const override { return timer; }
  double Now() const override { return now; }
  double timer = 50000;
  double now = 0;
};

// Records every batch and immediate line.
class RecordingDisplay final : public ReportDisplay {
 public:
  void ShowBatch(std::string_view lines) override { batches.emplace_back(lines); }
  void ShowImmediate(std::string_view line) override { immediates.emplace_back(line); }
  std::vector<std::string> batches;
  std::vector<std::string> immediates;
};

}  // namespace twinmere::testing
