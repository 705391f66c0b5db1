#include "report/stdout_display.h"

namespace twinmere {

void StdoutDisplay::Print(std::string_view text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void StdoutDisplay::ShowBatch(std::string_view lines) {
  Print(lines);
}
void StdoutDisplay::ShowImmediate(std::string_view line) {
  Print(line);
}

}  // namespace twinmere
