#include <atomic>
#include <cstdio>
#include <random>

#include "platform/temporary_names.h"
#include "platform/win32/file_system_win32_internal.h"

namespace twinmere {
namespace {

// The record of NtQuerySystemInformation(SystemTimeOfDayInformation).
struct TimeOfDay {
  LARGE_INTEGER boot_time;
  LARGE_INTEGER current_time;
  LARGE_INTEGER time_zone_bias;
  ULONG time_zone_id;
  ULONG reserved;
  ULONGLONG boot_time_bias;
  ULONGLONG sleep_time_bias;
};
constexpr auto kSystemTimeOfDayInformation = static_cast<SYSTEM_INFORMATION_CLASS>(3);

// The boot of this machine, hashed (64-bit FNV-1a): process ids mean the
// same processes exactly for the processes of one boot, as Windows has no
// namespaces of them. The time of the boot moves with the clock when it is
// set, so a process started after that takes the leftovers of earlier ones
// for strangers' and leaves them to their age: never the other way round.
// Empty when the system does not tell.
std::string ComputeOrigin() {
  TimeOfDay time{};
  if (!NT_SUCCESS(
          NtQuerySystemInformation(kSystemTimeOfDayInformation, &time, sizeof time, nullptr)) ||
      time.boot_time.QuadPart == 0)
    return "";
  uint64_t hash = 14695981039346656037ull;
  for (const char c : "windows-boot:" + std::to_string(time.boot_time.QuadPart)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[kOriginDigits + 1];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

std::string ThisOrigin() {
  static const std::string origin = ComputeOrigin();
  return origin;
}

std::string TemporaryName(int64_t pid, std::string_view random, uint64_t counter) {
  return ComposeTemporaryName(ThisOrigin(), pid, random, counter);
}

std::string NewTemporaryName() {
  static const std::string random = std::to_string(std::random_device{}() % 1000000000u);
  static std::atomic<uint64_t> counter{0};
  return TemporaryName(GetCurrentProcessId(), random,
                       counter.fetch_add(1, std::memory_order_relaxed) + 1);
}

bool ProcessEnded(int64_t pid) {
  if (pid <= 0 || pid > UINT32_MAX) return false;
  const win32::Handle process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  // No such process; one that may not be asked about lives.
  if (!process.valid()) return GetLastError() == ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

FileTime WallClockNow() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return win32::FromSystemTime(
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime));
}

}  // namespace twinmere
