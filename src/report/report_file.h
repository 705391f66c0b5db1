// Low-level operations on the report file: writing through a descriptor that
// is opened and closed at every flush, and the cut to the size limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace twinmere {

enum class OpenMode : uint8_t {
  Append,   // create when missing, write at the end
  Replace,  // create when missing, truncate
};

// One opening of the report file. The destructor closes it, ignoring errors.
// A final link in the report path is followed: the report path is the user's
// own choice, not an item of a synchronized tree. Nothing here waits for
// another process: only a regular file (or a name still to be created) is
// opened, and a call interrupted by a signal fails with EINTR.
class ReportFileWriter {
 public:
  ReportFileWriter() = default;
  ~ReportFileWriter();
  ReportFileWriter(const ReportFileWriter&) = delete;
  ReportFileWriter& operator=(const ReportFileWriter&) = delete;

  // Returns 0, the errno of the open, or kErrNotSupported when the path names
  // anything but a regular file (a FIFO, a device, a socket); such a file is
  // neither truncated nor written.
  ErrorCode Open(const std::string& path, OpenMode mode);
  // Writes all of `text`; returns 0 or the errno of the failing write
  // (ENOSPC when the disk is full).
  ErrorCode Write(std::string_view text);
  // The file's length in bytes now; sets `error` on failure.
  uint64_t Size(ErrorCode& error) const;
  // Closes the file; returns 0 or the errno of close.
  ErrorCode Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Cuts the report at line boundaries: the report is replaced (through
// AtomicFileWriter, without a flush) by `first_line` and every line of it that
// ends after byte offset `cut`; the new file gets `mode`'s permission bits
// where it can. Returns 0, or the error of the first failing step; on failure
// the report is left as it was and no temporary file remains.
ErrorCode CutReportFile(const std::string& report_path, uint64_t cut, std::string_view first_line,
                        uint32_t mode);

}  // namespace twinmere
