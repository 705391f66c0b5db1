#include "report/stdout_display.h"

#include <string>

namespace twinmere {

void StdoutDisplay::Print(std::string_view text) {
  if (text.empty()) return;
  std::string line(text);
  line += '\n';
  WriteToStream(stream_, line, stop_);
}

void StdoutDisplay::ShowBatch(std::string_view lines) {
  Print(lines);
}
void StdoutDisplay::ShowImmediate(std::string_view line) {
  Print(line);
}

}  // namespace twinmere
