#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/temporary_names.h"

namespace twinmere {
namespace {

// The boot of this machine (a random id drawn at every boot, the same in
// every container) and the process-id namespace of this process, hashed
// (64-bit FNV-1a): equal only for processes whose ids mean the same
// processes. Empty when either cannot be read. Runs of every version must
// compute it alike, or they would not know their own leftovers.
std::string ComputeOrigin() {
  char boot[64];
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  const ssize_t n = read(fd, boot, sizeof boot);
  close(fd);
  if (n <= 0) return "";
  size_t length = static_cast<size_t>(n);
  while (length > 0 && (boot[length - 1] == '\n' || boot[length - 1] == ' ')) --length;
  struct stat ns;
  if (length == 0 || stat("/proc/self/ns/pid", &ns) != 0) return "";

  uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](std::string_view bytes) {
    for (const char c : bytes) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
  };
  mix(std::string_view(boot, length));
  mix("\n" + std::to_string(ns.st_dev) + ":" + std::to_string(ns.st_ino));
  char text[kOriginDigits + 1];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

std::string ThisOrigin() {
  static std::mutex mutex;
  static pid_t learned_by = 0;
  static std::string origin;
  std::lock_guard<std::mutex> lock(mutex);
  // A child may live in another namespace: it learns its own.
  if (const pid_t pid = getpid(); pid != learned_by) {
    origin = ComputeOrigin();
    learned_by = pid;
  }
  return origin;
}

std::string TemporaryName(int64_t pid, std::string_view random, uint64_t counter) {
  return ComposeTemporaryName(ThisOrigin(), pid, random, counter);
}

std::string NewTemporaryName() {
  // A forked child keeps both; its own id keeps its names apart.
  static const std::string random = std::to_string(std::random_device{}() % 1000000000u);
  static std::atomic<uint64_t> counter{0};
  return TemporaryName(getpid(), random, counter.fetch_add(1, std::memory_order_relaxed) + 1);
}

bool ProcessEnded(int64_t pid) {
  if (pid <= 0 || pid > INT32_MAX) return false;
  // Signal 0 only asks whether the process exists; EPERM means it does.
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

FileTime WallClockNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return FileTime{static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec};
}

}  // namespace twinmere
