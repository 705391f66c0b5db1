#include "ui/window_host.h"

#include <utility>

#include "report/formats.h"

namespace twinmere::ui {

// Runs the posted calls on the window thread, one for each wake-up. Woken
// by the name of its slot, so that the queued call carries nothing the
// run's thread made: everything the calls need passes through the host's
// mutex.
class PostedCallsReceiver final : public QObject {
  Q_OBJECT
 public:
  explicit PostedCallsReceiver(WindowHost& host) : host_(host) {}

 public slots:
  void RunPostedCall() { host_.RunPostedCall(); }

 private:
  WindowHost& host_;
};

WindowHost::WindowHost(RunView& view, const SyncOptions& options, const SyncSession& session,
                       Reporter& reporter, const Clock& clock)
    : view_(view),
      options_(options),
      session_(session),
      reporter_(reporter),
      shown_(clock, LocaleClockStyle(), ProcessSeparators().thousands),
      receiver_(std::make_unique<PostedCallsReceiver>(*this)) {}

WindowHost::~WindowHost() = default;

void WindowHost::Post(std::function<void()> call) {
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(call));
  }
  QMetaObject::invokeMethod(receiver_.get(), "RunPostedCall", Qt::QueuedConnection);
}

void WindowHost::RunPostedCall() {
  std::function<void()> call;
  {
    std::lock_guard lock(posted_mutex_);
    if (posted_.empty()) return;
    call = std::move(posted_.front());
    posted_.pop_front();
  }
  call();
}

void WindowHost::RunThreadEnds() {
  Post([this] { view_.ApplyRunThreadEnds(); });
}

void WindowHost::PostView() {
  StatusProgressView view = shown_.View();
  if (view.progress_text.empty()) view.progress_text = session_figure_;
  Post([this, view = std::move(view)] { view_.ApplyStatus(view); });
}

void WindowHost::ShowStatus(std::string_view text, std::string_view path, double interval) {
  std::lock_guard lock(mutex_);
  session_figure_ = session_.ProgressText;
  if (shown_.ShowStatus(text, path, interval)) PostView();
}

void WindowHost::UpdateProgress(const SyncSession& session, double current_file_work) {
  std::lock_guard lock(mutex_);
  session_figure_ = session.ProgressText;
  if (shown_.UpdateProgress(options_.QuickStart, session, current_file_work)) PostView();
}

void WindowHost::EnterRunningState(bool disallow_stop) {
  const bool bytes_mode = options_.QuickStart;
  {
    std::lock_guard lock(mutex_);
    shown_.BeginRun();
    session_figure_.clear();
  }
  flush_due_ = false;
  Post([this, disallow_stop, bytes_mode] { view_.ApplyRunningState(disallow_stop, bytes_mode); });
}

void WindowHost::EnterIdleState() {
  {
    std::lock_guard lock(mutex_);
    shown_.EndRun();
    session_figure_.clear();
    PostView();
  }
  Post([this] { view_.ApplyIdleState(); });
}

void WindowHost::CloseProgram(int exit_code) {
  Post([this, exit_code] { view_.ApplyCloseProgram(exit_code); });
}

void WindowHost::PumpEvents() {
  if (flush_due_.exchange(false)) {
    reporter_.AddReportLine("", ReportLineKind::Action, 0.5, LineFlush::Throttled);
  }
}

// While the question is open the status says what the run waits for; the
// status before it comes back with the answer.
DeletionAnswer WindowHost::AskDeletion(const DeletionQuestion& question) {
  StatusProgressView before;
  {
    std::lock_guard lock(mutex_);
    before = shown_.View();
    const std::string waiting = "Waiting for your answer: delete " +
                                std::to_string(question.extra) + " of " +
                                std::to_string(question.items) + " items from Target?";
    if (shown_.ShowStatus(waiting, "", 0)) PostView();
  }
  const DeletionAnswer answer = WaitForDeletionAnswer(question);
  std::lock_guard lock(mutex_);
  if (shown_.ShowStatus(before.status_text, before.status_path, 0)) PostView();
  return answer;
}

DeletionAnswer WindowHost::WaitForDeletionAnswer(const DeletionQuestion& question) {
  std::unique_lock lock(question_mutex_);
  if (questions_closed_) return DeletionAnswer::Keep;
  const uint64_t number = ++question_;
  answer_.reset();
  Post([this, question, number] {
    const DeletionAnswer answer = view_.ApplyDeletionQuestion(question);
    std::lock_guard answered(question_mutex_);
    if (number != question_ || answer_) return;
    answer_ = answer;
    answered_.notify_all();
  });
  answered_.wait(lock, [this] { return answer_.has_value() || questions_closed_; });
  return answer_.value_or(DeletionAnswer::Keep);
}

void WindowHost::CloseQuestions() {
  std::lock_guard lock(question_mutex_);
  questions_closed_ = true;
  answered_.notify_all();
}

void WindowHost::ShowBatch(std::string_view lines) {
  Post([this, lines = std::string(lines)] { view_.ApplyMessageBatch(lines); });
}

void WindowHost::ShowImmediate(std::string_view line) {
  Post([this, line = std::string(line)] { view_.ApplyMessageImmediate(line); });
}

void WindowHost::BeginRun() {
  Post([this] { view_.ApplyMessageRunBegins(); });
}

void WindowHost::TimerTick() {
  {
    std::lock_guard lock(mutex_);
    if (shown_.ShowStatus("", "", 0.5)) PostView();
  }
  flush_due_ = true;
}

}  // namespace twinmere::ui

#include "window_host.moc"
