#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool IsProgramFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace twinmere
