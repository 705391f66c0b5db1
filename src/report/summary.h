// The summary block that closes every run's part of the report.
#pragma once

#include <string>
#include <string_view>

#include "base/sync_options.h"
#include "platform/platform_facts.h"
#include "report/formats.h"
#include "report/session_counters.h"

namespace twinmere {

// Everything the summary reads. Times are seconds since the epoch.
struct SummaryInput {
  const SyncOptions& options;
  const PlatformFacts& facts;
  const SessionCounters& counters;
  bool security_support = false;
  const std::string& arguments;  // the command line without the program's own path
  double start_time = 0;
  double now = 0;
  const Separators& seps;
  // The run's folder in the versions folder, where it kept items; empty
  // when it kept none there.
  std::string_view kept_in = {};
};

// The summary lines chosen by the report level, separated by "\n", the last
// one being the end line (without a line end). The elapsed-time line and the
// end line are always there. Never fails.
std::string BuildSummary(const SummaryInput& in);

}  // namespace twinmere
