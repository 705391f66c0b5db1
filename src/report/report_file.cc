#include "report/report_file.h"

#include <memory>

#include "platform/atomic_file_writer.h"

namespace twinmere {

ErrorCode CutReportFile(const std::string& report_path, uint64_t cut, std::string_view first_line,
                        uint32_t mode) {
  // Best effort for the mode: the cut report keeps its permissions where it can.
  AtomicFileWriter writer;
  ErrorCode error = writer.Begin(
      report_path,
      {.mode = mode & 07777, .mode_failure = ModeFailure::Ignored, .flush = FileFlush::None});
  if (error != kSuccess) return error;
  // Closed before the commit: Windows renames nothing over an open file.
  auto in = std::make_unique<LineReader>();
  if (const ErrorCode code = in->Open(report_path); code != kSuccess) return code;

  // The kept lines go to the writer in pieces of this size or more.
  constexpr size_t kPiece = 64 * 1024;
  std::string piece(first_line);
  piece += '\n';
  std::string line;
  uint64_t total = 0;
  while (error == kSuccess) {
    if (const ErrorCode code = in->ReadLine(line); code != kSuccess) {
      if (code != kErrNoMoreEntries) error = code;
      break;
    }
    // The running total is the offset just past the line's end.
    total += line.back() == '\n' ? line.size() : line.size() + 1;
    if (total > cut) piece += line;
    if (piece.size() >= kPiece) {
      error = writer.Append(piece);
      piece.clear();
    }
  }
  if (error == kSuccess) error = writer.Append(piece);
  in.reset();
  if (error == kSuccess) error = writer.Commit();
  return error;
}

}  // namespace twinmere
