#include "support/failing_calls.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <vector>

namespace twinmere::testing {

int RunWithFailingCalls(std::initializer_list<long> numbers, CallFault fault,
                        const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Load the call's number; each match jumps past the others and "allow"
    // to the fault.
    std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    const auto count = static_cast<uint8_t>(numbers.size());
    uint8_t index = 0;
    for (const long number : numbers) {
      filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(number),
                                static_cast<uint8_t>(count - index), 0));
      ++index;
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, fault == CallFault::KillsProcess
                                                   ? SECCOMP_RET_KILL_PROCESS
                                                   : SECCOMP_RET_ERRNO | EIO));
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(125);
    _exit(body());
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) return kKilledByFault;
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 125) return -1;
  return WEXITSTATUS(status);
}

}  // namespace twinmere::testing
