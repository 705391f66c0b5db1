#include "ui/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace twinmere::ui {
namespace {

// The pipe's ends; the write end is the only thing the handler touches.
std::atomic<int> g_write_end{-1};
int g_read_end = -1;
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int signal_number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // A full pipe already holds a request; this one may be dropped.
  [[maybe_unused]] ssize_t written = ::write(g_write_end.load(), &byte, 1);
  errno = saved_errno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (g_write_end.load() >= 0) std::abort();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_read_end = ends[0];
  g_write_end = ends[1];
  notifier_ = new QSocketNotifier(g_read_end, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::ReadPipe);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, &previous_term_);
  sigaction(SIGINT, &action, &previous_int_);
  installed_ = true;
}

TerminationSignals::~TerminationSignals() {
  if (!installed_) return;
  sigaction(SIGTERM, &previous_term_, nullptr);
  sigaction(SIGINT, &previous_int_, nullptr);
  delete notifier_;
  ::close(g_write_end.exchange(-1));
  ::close(g_read_end);
  g_read_end = -1;
}

void TerminationSignals::ReadPipe() {
  unsigned char byte = 0;
  while (::read(g_read_end, &byte, 1) == 1) emit Received(byte);
}

}  // namespace twinmere::ui
