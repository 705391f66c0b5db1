#include <signal.h>

#include <cstdlib>

#include "platform/stop_signals.h"

namespace twinmere {
namespace {

// Signal dispositions are process-wide, so the handlers can only reach the
// guard's state through these. They are lock-free atomics, safe to store
// into from a handler.
std::atomic<std::atomic<int>*> g_stop_requested{nullptr};
std::atomic<bool> g_interrupt_stops{false};
std::atomic<bool> g_interrupt_refused{false};
static_assert(std::atomic<std::atomic<int>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction g_previous_int;
struct sigaction g_previous_term;
struct sigaction g_previous_hup;

void RequestStop() {
  std::atomic<int>* stop = g_stop_requested.load();
  if (stop != nullptr) stop->store(1);
}

void OnSignal(int signal_number) {
  if (signal_number == SIGINT && !g_interrupt_stops.load()) {
    g_interrupt_refused.store(true);
    return;
  }
  RequestStop();
}

}  // namespace

StopSignalGuard::StopSignalGuard(std::atomic<int>& stop_requested, InterruptPolicy policy) {
  std::atomic<int>* expected = nullptr;
  if (!g_stop_requested.compare_exchange_strong(expected, &stop_requested)) std::abort();
  g_interrupt_stops.store(policy == InterruptPolicy::Stop);
  g_interrupt_refused.store(false);
  struct sigaction stops {};
  stops.sa_handler = OnSignal;
  sigemptyset(&stops.sa_mask);
  // A signal that stops the run does not restart the call it interrupts: a
  // run blocked in a system call (a full pipe on standard output, a hung
  // network file system) gets EINTR, and every caller that sees EINTR looks
  // at the stop flag instead of waiting again.
  stops.sa_flags = 0;
  // A refused Ctrl+C restarts what it interrupted: it must not turn into an
  // EINTR failure of a copy on a network or FUSE file system.
  struct sigaction refused = stops;
  refused.sa_flags = SA_RESTART;
  sigaction(SIGINT, policy == InterruptPolicy::Stop ? &stops : &refused, &g_previous_int);
  sigaction(SIGTERM, &stops, &g_previous_term);
  // The terminal went away: stop like SIGTERM, unless the program was
  // started to ignore that (nohup).
  sigaction(SIGHUP, nullptr, &g_previous_hup);
  if (g_previous_hup.sa_handler != SIG_IGN) sigaction(SIGHUP, &stops, nullptr);
}

StopSignalGuard::~StopSignalGuard() {
  sigaction(SIGINT, &g_previous_int, nullptr);
  sigaction(SIGTERM, &g_previous_term, nullptr);
  sigaction(SIGHUP, &g_previous_hup, nullptr);
  g_stop_requested.store(nullptr);
  g_interrupt_refused.store(false);
}

bool StopSignalGuard::TakeRefusedStop() {
  return g_interrupt_refused.exchange(false);
}

void IgnoreClosedPipes() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace twinmere
