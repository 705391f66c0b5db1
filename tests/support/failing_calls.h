// System calls made to fail inside a child process (a seccomp filter), for
// tests of what a failure or a crash at one step leaves behind.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace twinmere::testing {

// What a filtered call does.
enum class CallFault : uint8_t {
  FailsWithEio,  // returns EIO and does nothing
  KillsProcess,  // ends the process at once, as a crash or SIGKILL would
};

// RunWithFailingCalls' result for a child that the fault ended.
inline constexpr int kKilledByFault = 256;

// Runs `body` in a child process in which every call of the system calls
// `numbers` (SYS_...) meets `fault`. Returns the child's exit status,
// kKilledByFault, or -1 when the filter cannot be set up (the test should
// then skip). As with RunAsUnprivileged, let `body` return a distinct status
// for each check.
int RunWithFailingCalls(std::initializer_list<long> numbers, CallFault fault,
                        const std::function<int()>& body);

}  // namespace twinmere::testing
