// Stand-ins for the reporter's collaborators: a file system that answers
// CreateFolder and Lookup from the real disk, a clock the test sets, and a
// display that records what it is asked to show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "report/clock.h"
#include "report/report_display.h"

namespace twinmere::testing {

// CreateFolder and Lookup through mkdir and lstat; everything else fails with
// kErrNotSupported. Counts the folders it created.
class DiskFileSystem final : public FileSystem {
 public:
  void SetConfinedRoots(const std::vector<std::string>&) override {}
  ErrorCode OpenFolder(const std::string&, std::unique_ptr<FolderReader>&) override;
  ErrorCode Lookup(const std::string& path, ItemInfo& info) override;
  ErrorCode CreateFolder(const std::string& path) override;
  ErrorCode RemoveFolder(const std::string&) override { return kErrNotSupported; }
  ErrorCode DeleteFile(const std::string&) override { return kErrNotSupported; }
  ErrorCode Rename(const std::string&, const std::string&, RenameMode) override {
    return kErrNotSupported;
  }
  ErrorCode CreateNewFile(const std::string&) override { return kErrNotSupported; }
  ErrorCode SetMode(const std::string&, uint32_t) override { return kErrNotSupported; }
  ErrorCode SetTimes(const std::string&, FileTime, FileTime) override { return kErrNotSupported; }
  ErrorCode CopyFile(const std::string&, const std::string&, const CopyOptions&) override {
    return kErrNotSupported;
  }
  ErrorCode ReadSecurity(const std::string&, Security&) override { return kErrNotSupported; }
  ErrorCode WriteSecurity(const std::string&, const Security&) override { return kErrNotSupported; }
  bool KeepsSecurity(const std::string&) override { return false; }

  std::vector<std::string> created;
};

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
  void BeginRun() override { ++runs; }
  std::vector<std::string> batches;
  std::vector<std::string> immediates;
  int runs = 0;
};

// Seconds since the epoch of a UTC date-time.
double UtcTime(int year, int month, int day, int hour, int minute, int second);

// Sets TZ to UTC for the life of the object (report times are local time).
class UtcZone {
 public:
  UtcZone();
  ~UtcZone();

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace twinmere::testing
