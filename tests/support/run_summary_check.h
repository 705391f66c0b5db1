// Every JSON summary a test makes is checked against the schema the program
// ships (packaging/run-summary.schema.json, installed as
// share/twinmere/run-summary.schema.json), with Debian's python3-jsonschema
// through tests/support/validate_run_summary.py.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace twinmere::testing {

// Success when the file at `path` is a JSON summary that the schema accepts;
// else the validator's findings (or why it could not run).
::testing::AssertionResult MatchesRunSummarySchema(const std::string& path);
// The same for several files at once (one start of the validator).
::testing::AssertionResult MatchesRunSummarySchema(const std::vector<std::string>& paths);

}  // namespace twinmere::testing
