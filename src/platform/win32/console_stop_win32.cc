#include "platform/win32/console_stop_win32.h"

#include <cstdlib>

#include "platform/win32/windows_api.h"

namespace twinmere::win32 {
namespace {

// The handler runs on a thread of its own that the system starts; it
// reaches the guard's state only through these.
std::atomic<std::atomic<int>*> g_stop_requested{nullptr};
std::atomic<bool> g_interrupt_stops{false};
std::atomic<bool> g_interrupt_refused{false};
// Set while no guard exists. Made once and never closed, so that a handler
// that waits on it cannot meet a handle closed meanwhile.
HANDLE GuardGone() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

constexpr DWORD kEndingWaitMs = 4000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  return ConsoleStopGuard::Handle(event) ? TRUE : FALSE;
}

}  // namespace

bool ConsoleStopGuard::Handle(unsigned long event) {
  std::atomic<int>* stop = g_stop_requested.load();
  if (stop == nullptr) return false;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (g_interrupt_stops.load()) {
        stop->store(1);
      } else {
        g_interrupt_refused.store(true);
      }
      return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stop->store(1);
      if (const HANDLE gone = GuardGone(); gone != nullptr)
        WaitForSingleObject(gone, kEndingWaitMs);
      return true;
    default:
      return false;
  }
}

ConsoleStopGuard::ConsoleStopGuard(std::atomic<int>& stop_requested, bool interrupt_stops) {
  std::atomic<int>* expected = nullptr;
  if (!g_stop_requested.compare_exchange_strong(expected, &stop_requested)) std::abort();
  g_interrupt_stops.store(interrupt_stops);
  g_interrupt_refused.store(false);
  if (const HANDLE gone = GuardGone(); gone != nullptr) ResetEvent(gone);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

ConsoleStopGuard::~ConsoleStopGuard() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  g_stop_requested.store(nullptr);
  g_interrupt_refused.store(false);
  if (const HANDLE gone = GuardGone(); gone != nullptr) SetEvent(gone);
}

bool ConsoleStopGuard::TakeRefusedStop() {
  return g_interrupt_refused.exchange(false);
}

}  // namespace twinmere::win32
