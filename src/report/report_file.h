// The report file: written through a TextFileWriter (platform/own_files.h)
// that is opened and closed at every flush, and cut to the size limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/own_files.h"

namespace twinmere {

// Cuts the report at line boundaries: the report is replaced (through
// AtomicFileWriter, without a flush) by `first_line` and every line of it that
// ends after byte offset `cut`; the new file gets `mode`'s permission bits
// where it can. Returns 0, or the error of the first failing step; on failure
// the report is left as it was and no temporary file remains.
ErrorCode CutReportFile(const std::string& report_path, uint64_t cut, std::string_view first_line,
                        uint32_t mode);

}  // namespace twinmere
