// The run's side of the desktop window. The engine runs on a worker thread
// and calls the SyncHost and the ReportDisplay here; what they report reaches
// the window thread only as queued calls of RunView, so neither thread ever
// waits for the other (but for the moment it takes to queue or take a call).
// The throttling of the status line and the progress figure happens here
// (StatusProgress), so that only changes are posted.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/status_progress.h"
#include "base/sync_options.h"
#include "engine/sync_host.h"
#include "engine/sync_session.h"
#include "report/report_display.h"
#include "report/reporter.h"

namespace twinmere::ui {

// What the window does with the run's reports; every call comes on the
// window thread.
class RunView {
 public:
  virtual ~RunView() = default;
  virtual void ApplyStatus(const StatusProgressView& view) = 0;
  // bytes_mode: progress is counted in bytes (quick start).
  virtual void ApplyRunningState(bool disallow_stop, bool bytes_mode) = 0;
  virtual void ApplyIdleState() = 0;
  // The run asks the program to end (automatic exit).
  virtual void ApplyCloseProgram(int exit_code) = 0;
  virtual void ApplyMessageBatch(const std::string& lines) = 0;
  virtual void ApplyMessageImmediate(const std::string& line) = 0;
  virtual void ApplyMessageRunBegins() = 0;
  // The run's thread has done all its work and ends.
  virtual void ApplyRunThreadEnds() = 0;
  // The deletion guard asks whether to delete all the same (the run waits).
  virtual DeletionAnswer ApplyDeletionQuestion(const DeletionQuestion& question) = 0;
};

class WindowHost final : public SyncHost, public ReportDisplay {
 public:
  // Made on the window thread, which runs the RunView calls; posted calls
  // still waiting when the host is destroyed are dropped. `options` and
  // `session` are read on the run's thread only; `reporter` gets the update
  // timer's flush on that thread.
  WindowHost(RunView& view, const SyncOptions& options, const SyncSession& session,
             Reporter& reporter, const Clock& clock);
  ~WindowHost() override;

  // SyncHost, called on the run's thread.
  void ShowStatus(std::string_view text, std::string_view path, double interval) override;
  void UpdateProgress(const SyncSession& session, double current_file_work) override;
  void EnterRunningState(bool disallow_stop) override;
  void EnterIdleState() override;
  void CloseProgram(int exit_code) override;
  // Serves the update timer's pending request: flushes throttled message lines.
  void PumpEvents() override;
  // Asks the window and waits for the answer, the status saying so
  // meanwhile; Keep once the questions are closed.
  DeletionAnswer AskDeletion(const DeletionQuestion& question) override;

  // The window closes (window thread): a question the run waits for is
  // answered Keep, and so is every later one.
  void CloseQuestions();

  // ReportDisplay, called by the reporter on whatever thread runs it.
  void ShowBatch(std::string_view lines) override;
  void ShowImmediate(std::string_view line) override;
  void BeginRun() override;

  // The update timer (window thread): shows a pending status and asks the
  // run to flush its throttled message lines at its next event pump.
  void TimerTick();

  // The last call of the run's thread: ApplyRunThreadEnds follows.
  void RunThreadEnds();

  // Runs the oldest posted call (window thread).
  void RunPostedCall();

 private:
  // Posts `call` to the window thread.
  void Post(std::function<void()> call);
  // Posts the current view; the mutex is held, so views arrive in order.
  void PostView();
  // Posts the deletion question and waits for its answer.
  DeletionAnswer WaitForDeletionAnswer(const DeletionQuestion& question);

  RunView& view_;
  const SyncOptions& options_;
  const SyncSession& session_;
  Reporter& reporter_;

  std::mutex mutex_;
  StatusProgress shown_;        // guarded by mutex_
  std::string session_figure_;  // the session's own progress text; guarded by mutex_
  std::atomic<bool> flush_due_{false};

  // The posted calls wait here, in order, until the window thread takes
  // them; the mutex hands their data over. Each comes with a wake-up of
  // `receiver_`, which lives on the window thread.
  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;  // guarded by posted_mutex_
  std::unique_ptr<QObject> receiver_;

  // The deletion question the run waits for.
  std::mutex question_mutex_;
  std::condition_variable answered_;
  uint64_t question_ = 0;                 // the number of the last one asked
  std::optional<DeletionAnswer> answer_;  // its answer, once given
  bool questions_closed_ = false;
};

}  // namespace twinmere::ui
