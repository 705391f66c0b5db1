#include "report/message_box_text.h"

#include <algorithm>

#include "report/formats.h"

namespace twinmere {

void MessageBoxText::MakeRoom(size_t incoming) {
  if (text_.size() + incoming <= kMaxLength) return;
  size_t keep = incoming >= kMaxLength ? 0 : (kMaxLength - incoming) * 2 / 3;
  const size_t first = text_.size() - std::min(keep, text_.size());
  size_t start = first;
  // Do not begin the kept text inside a UTF-8 sequence.
  while (start < text_.size() && start - first < 3 && IsUtf8Continuation(text_[start])) {
    ++start;
  }
  text_.erase(0, start);
  immediate_length_ = std::min(immediate_length_, text_.size());
}

void MessageBoxText::ShowImmediate(std::string_view line) {
  if (line.empty()) return;
  MakeRoom(line.size() + 1);
  text_ += '\n';
  text_.append(line);
  immediate_length_ += line.size() + 1;
}

void MessageBoxText::ShowBatch(std::string_view lines) {
  if (lines.empty()) return;
  MakeRoom(lines.size() + 1);
  std::string insert;
  insert.reserve(lines.size() + 1);
  insert += '\n';
  insert.append(lines);
  text_.insert(text_.size() - immediate_length_, insert);
}

void MessageBoxText::Clear() {
  text_.clear();
  immediate_length_ = 0;
}

}  // namespace twinmere
