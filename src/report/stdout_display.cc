#include "report/stdout_display.h"

#include <limits.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace twinmere {

bool WriteOutput(int fd, std::string_view bytes, const std::atomic<int>* stop) {
  while (!bytes.empty()) {
    size_t chunk = bytes.size();
    if (stop != nullptr && stop->load() != 0) {
      // Only what fits at once: a pipe that reports room takes PIPE_BUF bytes
      // without waiting.
      pollfd ready{fd, POLLOUT, 0};
      if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) return false;
      chunk = std::min<size_t>(chunk, PIPE_BUF);
    }
    const ssize_t n = ::write(fd, bytes.data(), chunk);
    if (n < 0 && errno == EINTR) continue;  // a stop signal: look at the flag again
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void StdoutDisplay::Print(std::string_view text) {
  if (text.empty()) return;
  std::string line(text);
  line += '\n';
  WriteOutput(fd_, line, stop_);
}

void StdoutDisplay::ShowBatch(std::string_view lines) {
  Print(lines);
}
void StdoutDisplay::ShowImmediate(std::string_view line) {
  Print(line);
}

}  // namespace twinmere
