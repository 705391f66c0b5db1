// The schema's validator is a Python program, which the Windows tests have
// not: there every summary passes, and the Linux tests check the documents
// the same code writes.
#include "support/run_summary_check.h"

namespace twinmere::testing {

::testing::AssertionResult MatchesRunSummarySchema(const std::string&) {
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult MatchesRunSummarySchema(const std::vector<std::string>&) {
  return ::testing::AssertionSuccess();
}

}  // namespace twinmere::testing
