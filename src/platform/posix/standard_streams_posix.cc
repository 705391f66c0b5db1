#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/standard_streams.h"

namespace twinmere {
namespace {

int DescriptorOf(StandardStream stream) {
  return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool WriteToStream(StandardStream stream, std::string_view bytes, const std::atomic<int>* stop) {
  const int fd = DescriptorOf(stream);
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

bool IsTerminal(StandardStream stream) {
  return ::isatty(DescriptorOf(stream)) == 1;
}

size_t TerminalColumns(StandardStream stream) {
  struct winsize size {};
  if (::ioctl(DescriptorOf(stream), TIOCGWINSZ, &size) != 0) return 0;
  return static_cast<size_t>(size.ws_col);
}

}  // namespace twinmere
