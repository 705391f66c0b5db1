// The main window: the two folder fields with their browse buttons, Start
// and Stop, Options and View Report, the message box txtReport, the status
// and progress strip and the menus; the idle and running states; start-up
// (Load, ShowAtStart) and shutdown (closeEvent). The run itself goes on a
// worker thread (see WindowHost). Member and object names of the controls
// are their names in the program's design (txtSource, cmdStart, mnuStop ...).
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/scheduled_runs.h"
#include "app/shortcuts.h"
#include "app/status_progress.h"
#include "base/sync_options.h"
#include "engine/sync_session.h"
#include "engine/synchronizer.h"
#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "platform/user_folders.h"
#include "report/clock.h"
#include "report/message_box_text.h"
#include "report/reporter.h"
#include "settings/program_settings.h"
#include "settings/registry.h"
#include "ui/window_host.h"
#include "widgets/byte_text.h"
#include "widgets/form.h"
#include "widgets/keyboard_cues.h"

class QAction;
class QCompleter;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolButton;

namespace twinmere::ui {

class StatusStrip;

// What start-up hands the main window; everything outlives the window.
struct ProgramContext {
  const PlatformFacts& facts;
  const UserFolders& folders;
  Registry& registry;
  const ProgramSettings& settings;
  FileSystem& fs;  // used by the runs only
  const Clock& clock;
  std::string arguments;  // the process's argument string (JoinArguments)
};

// Where a close request comes from. Only the window's own Close command
// (title-bar button, Alt+F4, window menu) is refused during a run that may
// not be stopped.
enum class CloseReason { CloseCommand, ExitCommand, AutomaticExit, Signal };

class MainWindow final : public QMainWindow, public Form, private RunView {
  Q_OBJECT
 public:
  explicit MainWindow(ProgramContext context, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Loading: the default report level, the command line (an invalid one
  // gives its line in txtReport and exit code 17), the folder fields, the
  // default report and the window size from the settings.
  void Load();
  // Shows the window minimized (-m), maximized (as stored) or normally, and
  // starts the run (-s) once the event loop runs.
  void ShowAtStart();
  // The process exit code (kept across runs).
  int ExitCode() const { return session_.ExitCode; }

  // Closes the window for `reason` (the close goes through closeEvent).
  void CloseFor(CloseReason reason);

  // Form.
  void UpdateUI() override;
  // The main window's own routed events: a change of the palette, the style,
  // the font or the theme calls UpdateUI of every open form.
  bool WndProc(QObject& watched, QEvent& event) override;

  // Start and Preview enabled exactly when both folders are set (Preview,
  // like Start's menu entry, not while a run goes on).
  void UpdateStartState();

  // The options of the next run (a running run has its own copy).
  const SyncOptions& Options() const { return options_; }
  // The run's host; a test may drive it as a run would.
  WindowHost& Host() { return host_; }
  bool Running() const { return running_state_; }

 public slots:
  // A run on the worker thread; ignored while one is going.
  void Synchronize();
  // A preview of that run: the same lines, nothing changed (-n).
  void Preview();
  // Stop button and Stop menu entry.
  void RequestStop();
  void BrowseSource();
  void BrowseTarget();

  // The options dialog: edits the options of the next run.
  void ShowOptionsDialog();
  // The preferences dialog: edits the stored defaults.
  void ShowSettingsDialog();
  // Opens the report file in the viewer of the settings (F4).
  void ViewReport();
  // Help > Contents: the contents page. (F1 opens the help of the focused
  // control.)
  void ShowHelpContents();
  // Help > What's This? (Shift+F1): the next click shows a control's text.
  void EnterWhatsThisMode();
  // Help > About...: the about box, window-modal.
  void ShowAbout();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // One folder field with its label, browse button, menu entry and the
  // bytes of the text it was last given (paths need not be UTF-8).
  struct FolderField {
    QLabel* label = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton* browse = nullptr;
    QAction* menu = nullptr;
    QString browse_tip;             // the browse button's tool tip without " (Enter)"
    QString chooser_title;          // "Select Source folder"
    std::string* option = nullptr;  // options_.Source or options_.Target
    ByteText bytes;
  };

  void CreateControls();
  void CreateMenus();
  void DescribeControls();
  void Browse(FolderField& field);
  // The options' folders in the fields, and View Report as the report file
  // allows.
  void ShowOptions();
  // What only an idle window offers besides Start: the folder fields with
  // their browse buttons and menu entries, Options, and View Report while a
  // report file is set.
  void EnableIdleControls(bool enabled);
  // The status strip's note between runs: what the next run leaves out.
  void ShowLeaveOutNote();
  void SetFieldPath(FolderField& field, const std::string& path);
  void FieldTextChanged(FolderField& field);
  void RefreshFieldTip(FolderField& field);
  FolderField* FieldOf(QObject* control);
  void ApplyMinimumSize();
  void RefreshReportBox();
  void RunEnded();
  void Unload();
  void SetCloseCommand(bool enabled) { close_command_enabled_ = enabled; }

  // RunView.
  void ApplyStatus(const StatusProgressView& view) override;
  void ApplyRunningState(bool disallow_stop, bool bytes_mode) override;
  void ApplyIdleState() override;
  void ApplyCloseProgram(int exit_code) override;
  void ApplyMessageBatch(const std::string& lines) override;
  void ApplyMessageImmediate(const std::string& line) override;
  void ApplyMessageRunBegins() override;
  void ApplyRunThreadEnds() override { RunEnded(); }
  DeletionAnswer ApplyDeletionQuestion(const DeletionQuestion& question) override;
  // Starts a run, or a preview of one, with the options of the next run;
  // `origin` is the control that started it (null: the one with the focus),
  // which gets the focus back when the run ends.
  void StartRun(bool preview, QWidget* origin = nullptr);

 private:
  // Controls, by their design names (also their object names).
  QLabel* lblSource = nullptr;
  QLineEdit* txtSource = nullptr;
  QPushButton* cmdSource = nullptr;
  QLabel* lblTarget = nullptr;
  QLineEdit* txtTarget = nullptr;
  QPushButton* cmdTarget = nullptr;
  QToolButton* cmdStart = nullptr;
  QToolButton* cmdStop = nullptr;
  QToolButton* cmdPreview = nullptr;
  QPushButton* cmdOptions = nullptr;
  QPushButton* cmdReport = nullptr;
  QPlainTextEdit* txtReport = nullptr;
  StatusStrip* lblInfo = nullptr;
  QTimer* tmrUpdate = nullptr;

  QMenu* mnuFile = nullptr;
  QAction* mnuSource = nullptr;
  QAction* mnuTarget = nullptr;
  QAction* mnuStart = nullptr;
  QAction* mnuStop = nullptr;
  QAction* mnuPreview = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuEdit = nullptr;
  QAction* mnuSelectAll = nullptr;
  QAction* mnuCopy = nullptr;
  QAction* mnuClear = nullptr;
  QAction* mnuOptions = nullptr;
  QAction* mnuSettings = nullptr;
  QAction* mnuViewReport = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuHelpContents = nullptr;
  QAction* mnuHelpWhat = nullptr;
  QAction* mnuAbout = nullptr;

  ProgramContext context_;
  // The settings as the program uses them now (the preferences change them).
  ProgramSettings settings_;
  // The last launcher read or saved, for both dialogs.
  ShortcutMemory shortcut_memory_;
  // Scheduled runs: the user's unit folder and systemctl --user.
  SystemctlUserManager user_manager_;
  ScheduleContext schedule_;
  // The window thread's own file system, for the fields and drops, so that
  // it never shares one with a run.
  std::unique_ptr<FileSystem> field_fs_;
  // The keyboard and mouse hooks, from initialisation to the end of
  // unloading; and what every form shares (KeyboardCues, the help window).
  InputHooks hooks_;
  FormServices services_;
  // The options that the fields and dialogs edit, for the next run; and the
  // run's own copy, taken at Start, that the reporter, the host and the run
  // read on the run's thread while it goes on. What the run made of them
  // comes back in its outcome, written on the run's thread before it ends.
  SyncOptions options_;
  SyncOptions run_options_;
  RunOutcome run_outcome_;
  SyncSession session_;
  MessageBoxText box_;
  WindowHost host_;
  Reporter reporter_;
  std::unique_ptr<Synchronizer> synchronizer_;
  std::thread worker_;

  FolderField source_;
  FolderField target_;

  std::string shown_report_;  // txtReport's text as last set
  DropVerdict folder_drop_;   // whether the item dragged over a field is a folder

  bool run_active_ = false;          // a worker thread exists
  bool start_pending_ = false;       // Start came while the last run was finishing
  bool pending_preview_ = false;     // ... and it was Preview
  bool preview_running_ = false;     // the run going on is a preview
  QMessageBox* question_ = nullptr;  // the deletion guard's question while it is open
  QPointer<QWidget> run_origin_;     // the control that started the run
  QPointer<QWidget> running_focus_;  // the focus as the running state left it
  bool running_state_ = false;       // the controls are in the running state (Stop shown)
  bool close_command_enabled_ = true;
  bool closing_ = false;
  CloseReason close_reason_ = CloseReason::CloseCommand;
  std::string eta_text_;
  WindowState saved_size_;  // the size as applied at loading, in twips
};

}  // namespace twinmere::ui
