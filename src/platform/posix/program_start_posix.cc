#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/program_start.h"

extern char** environ;

namespace twinmere {
namespace {

// The attributes and descriptor actions of one start, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    attr_ok_ = posix_spawnattr_init(&attr_) == 0;
    actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attr_ok_) posix_spawnattr_destroy(&attr_);
    if (actions_ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Default signal actions, an empty mask, a new session, descriptors from 3
  // on closed. Returns 0 or the error of the first step that failed.
  ErrorCode Prepare() {
    if (!attr_ok_ || !actions_ok_) return ENOMEM;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (const int e = posix_spawnattr_setsigmask(&attr_, &none)) return e;
    if (const int e = posix_spawnattr_setsigdefault(&attr_, &all)) return e;
    const short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID;
    if (const int e = posix_spawnattr_setflags(&attr_, flags)) return e;
    return posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
  bool attr_ok_ = false;
  bool actions_ok_ = false;
};

}  // namespace

ErrorCode StartProgram(const std::string& program, const std::string& argument) {
  if (program.empty()) return ENOENT;
  SpawnSetup setup;
  if (const ErrorCode prepared = setup.Prepare(); prepared != kSuccess) return prepared;
  char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()),
                        nullptr};
  pid_t pid = 0;
  // glibc reports a failed exec here (and has reaped that child already).
  if (const int e =
          posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attr(), argv, environ))
    return e;
  try {
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to wait with: the program runs all the same and stays a
    // zombie after its end until this process ends.
  }
  return kSuccess;
}

ErrorCode RunProgram(const std::vector<std::string>& argv, ProgramResult& result) {
  if (argv.empty() || argv[0].empty()) return ENOENT;
  constexpr size_t kMaxOutput = 64 * 1024;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return errno;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_init(&actions);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int started = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(pipe_fds[1]);
  std::string output;
  char buffer[4096];
  while (started == 0) {
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(
        buffer, std::min(static_cast<size_t>(n), kMaxOutput - std::min(kMaxOutput, output.size())));
  }
  ::close(pipe_fds[0]);
  if (started != 0) return started;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.output = std::move(output);
  return kSuccess;
}

bool IsProgramFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

ErrorCode OpenInViewer(const std::string& viewer, const std::string& document) {
  return StartProgram(viewer, document);
}

}  // namespace twinmere
