// Stop requests from the console on Windows: Ctrl+C and Ctrl+Break stop
// the work (or are refused and remembered, as the policy says); closing
// the console window, logging off and shutting down always stop it.
// Windows ends the process soon after the handler returns from those, so
// the handler waits (up to four seconds) for the work to end and the guard
// to go first. A stop also cancels the call that the guard's thread waits
// in (CancelSynchronousIo: a full pipe, a hung network share), which then
// fails with kErrInterrupted, as a signal interrupts it on Linux.
#include "platform/win32/stop_signals_win32.h"

#include <cstdlib>
#include <mutex>

#include "platform/stop_signals.h"
#include "platform/win32/windows_api.h"

namespace twinmere {
namespace {

// The handler runs on a thread of its own that the system starts; it
// reaches the guard's state only through these.
std::atomic<std::atomic<int>*> g_stop_requested{nullptr};
std::atomic<bool> g_interrupt_stops{false};
std::atomic<bool> g_interrupt_refused{false};
// The thread that made the guard, while it exists.
std::mutex g_thread_mutex;
HANDLE g_thread = nullptr;

// Set while no guard exists. Made once and never closed, so that a handler
// that waits on it cannot meet a handle closed meanwhile.
HANDLE GuardGone() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

constexpr DWORD kEndingWaitMs = 4000;

void RequestStop(std::atomic<int>& stop) {
  stop.store(1);
  const std::lock_guard lock(g_thread_mutex);
  if (g_thread != nullptr) CancelSynchronousIo(g_thread);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  return win32::HandleConsoleEvent(event) ? TRUE : FALSE;
}

}  // namespace

namespace win32 {

bool HandleConsoleEvent(unsigned long event) {
  std::atomic<int>* stop = g_stop_requested.load();
  if (stop == nullptr) return false;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (g_interrupt_stops.load()) {
        RequestStop(*stop);
      } else {
        g_interrupt_refused.store(true);
      }
      return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      RequestStop(*stop);
      if (const HANDLE gone = GuardGone(); gone != nullptr)
        WaitForSingleObject(gone, kEndingWaitMs);
      return true;
    default:
      return false;
  }
}

}  // namespace win32

StopSignalGuard::StopSignalGuard(std::atomic<int>& stop_requested, InterruptPolicy policy) {
  std::atomic<int>* expected = nullptr;
  if (!g_stop_requested.compare_exchange_strong(expected, &stop_requested)) std::abort();
  g_interrupt_stops.store(policy == InterruptPolicy::Stop);
  g_interrupt_refused.store(false);
  {
    const std::lock_guard lock(g_thread_mutex);
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_thread,
                         THREAD_TERMINATE, FALSE, 0))
      g_thread = nullptr;
  }
  if (const HANDLE gone = GuardGone(); gone != nullptr) ResetEvent(gone);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignalGuard::~StopSignalGuard() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  {
    const std::lock_guard lock(g_thread_mutex);
    if (g_thread != nullptr) CloseHandle(g_thread);
    g_thread = nullptr;
  }
  g_stop_requested.store(nullptr);
  g_interrupt_refused.store(false);
  if (const HANDLE gone = GuardGone(); gone != nullptr) SetEvent(gone);
}

bool StopSignalGuard::TakeRefusedStop() {
  return g_interrupt_refused.exchange(false);
}

// A write into a pipe whose reader has gone fails on Windows
// (ERROR_NO_DATA): there is nothing to turn off.
void IgnoreClosedPipes() {}

}  // namespace twinmere
