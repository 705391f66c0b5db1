// Process exit codes: what a calling script learns about how the run ended.
#pragma once

namespace twinmere {

enum ExitCode : int {
  kExitSuccess = 0,  // completed without stop and errors, or no run
  kExitStopped = 1,  // stopped by the user (bit)
  kExitErrors = 4,   // at least one error (bit); 5 = stopped with errors
  kExitInvalidCommandLine = 17,
  kExitSourceNotSet = 18,
  kExitTargetNotSet = 19,
  kExitInvalidSource = 20,
  kExitInvalidTarget = 21,
  kExitNestedFolders = 22,
};

}  // namespace twinmere
