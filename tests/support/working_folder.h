// Runs a scope in another working folder of the process.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "fs/paths.h"

namespace twinmere::testing {

// Changes the working folder for the life of the object and changes back.
class ScopedWorkingFolder {
 public:
  explicit ScopedWorkingFolder(const std::string& folder) : before_(WorkingFolder()) {
    EXPECT_EQ(chdir(folder.c_str()), 0) << folder;
  }
  ~ScopedWorkingFolder() { EXPECT_EQ(chdir(before_.c_str()), 0) << before_; }
  ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
  ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

 private:
  std::string before_;
};

}  // namespace twinmere::testing
