#include "cli/progress_line.h"

#include "report/formats.h"

namespace twinmere::cli {

namespace {

// The longest prefix of `text` that takes at most `columns` columns, never
// ending inside a multi-byte sequence.
std::string TruncateToWidth(std::string_view text, size_t columns) {
  size_t used = 0;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    if (!IsUtf8Continuation(text[i])) {
      if (used == columns) break;
      ++used;
    }
  }
  return std::string(text.substr(0, i));
}

}  // namespace

size_t DisplayWidth(std::string_view text) {
  return Utf8Length(text);
}

std::string SanitizeForTerminal(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

std::string CompactPath(std::string_view path, size_t limit) {
  return twinmere::CompactPath(
      path, [](std::string_view text) { return static_cast<double>(DisplayWidth(text)); },
      static_cast<double>(limit));
}

std::string ComposeProgressLine(const ProgressLineParts& parts, size_t width) {
  if (width < 2) return {};
  const size_t usable = width - 1;
  std::string head;
  if (!parts.progress.empty()) head = SanitizeForTerminal(parts.progress) + "  ";
  head += SanitizeForTerminal(parts.status);
  std::string tail;
  if (!parts.eta.empty()) tail = "  " + SanitizeForTerminal(parts.eta);

  size_t head_width = DisplayWidth(head);
  if (head_width >= usable) return TruncateToWidth(head, usable);
  if (head_width + DisplayWidth(tail) > usable) tail.clear();
  size_t room = usable - head_width - DisplayWidth(tail);
  std::string path = CompactPath(SanitizeForTerminal(parts.path), room + 1);
  return head + path + tail;
}

}  // namespace twinmere::cli
