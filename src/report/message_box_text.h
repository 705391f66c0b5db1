// The text of the desktop window's message box: batches of lines go above the
// immediate lines, which stay at the bottom, and the text is kept within the
// box's bound by dropping the oldest part. The window only shows Text().
// Lengths count bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "report/report_display.h"

namespace twinmere {

class MessageBoxText final : public ReportDisplay {
 public:
  // The most the box holds.
  static constexpr size_t kMaxLength = 32765;

  // Inserts "\n" and the batch in front of the immediate lines. When the box
  // would overflow, only the last two thirds of the room left beside the
  // batch (and its line break) are kept of the old text, so the text never
  // exceeds kMaxLength unless one batch alone does.
  void ShowBatch(std::string_view lines) override;
  // Appends "\n" and the line at the very bottom, cutting the old text the
  // same way, and counts it among the immediate lines.
  void ShowImmediate(std::string_view line) override;
  // A new run: the immediate lines of earlier runs are ordinary text now.
  void BeginRun() override { immediate_length_ = 0; }

  const std::string& Text() const { return text_; }
  size_t ImmediateLength() const { return immediate_length_; }
  // Select all + clear in the window.
  void Clear();

 private:
  // Keeps the last part of the text so that `incoming` bytes fit.
  void MakeRoom(size_t incoming);

  std::string text_;
  size_t immediate_length_ = 0;
};

}  // namespace twinmere
