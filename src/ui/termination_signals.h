// SIGTERM and SIGINT (a system shutdown, Ctrl+C in the starting terminal)
// as a Qt signal on the window thread. The handler only writes the signal
// number into a pipe; a QSocketNotifier reads it there, so no Qt call is made
// from a signal handler.
#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace twinmere::ui {

class TerminationSignals final : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; the previous ones come back when the object goes
  // away. Signals are process-wide: at most one object may exist at a time
  // (a second one aborts the program). When the pipe cannot be made, the
  // handlers are not installed and the signals keep their defaults.
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 signals:
  void Received(int signal_number);

 private:
  void ReadPipe();

  QSocketNotifier* notifier_ = nullptr;
  struct sigaction previous_term_ {};
  struct sigaction previous_int_ {};
  bool installed_ = false;
};

}  // namespace twinmere::ui
