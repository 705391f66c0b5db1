#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/process_paths.h"

namespace twinmere {

std::string ExecutablePath() {
  std::vector<char> buffer(256);
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      return path.starts_with('/') ? path : std::string();
    }
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string WorkingFolder() {
  std::vector<char> buffer(256);
  while (true) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      const std::string folder(buffer.data());
      // Linux marks a folder outside the process's root as "(unreachable)".
      return folder.starts_with('/') ? folder : std::string();
    }
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> ProgramArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return arguments;
}

}  // namespace twinmere
