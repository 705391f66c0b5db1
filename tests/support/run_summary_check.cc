#include "support/run_summary_check.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

extern char** environ;

namespace twinmere::testing {

::testing::AssertionResult MatchesRunSummarySchema(const std::string& path) {
  return MatchesRunSummarySchema(std::vector<std::string>{path});
}

::testing::AssertionResult MatchesRunSummarySchema(const std::vector<std::string>& paths) {
  const std::string source = TWINMERE_SOURCE_DIR;
  std::vector<std::string> args = {"python3", source + "/tests/support/validate_run_summary.py",
                                   source + "/packaging/run-summary.schema.json"};
  args.insert(args.end(), paths.begin(), paths.end());
  const std::string path = paths.size() == 1 ? paths[0] : "a summary";
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return ::testing::AssertionFailure() << "no pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  pid_t pid = 0;
  const int started = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  if (started != 0)
    return ::testing::AssertionFailure()
           << "python3 cannot be started to check " << path << " against the schema";
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << " does not match the schema:\n" << output;
}

}  // namespace twinmere::testing
