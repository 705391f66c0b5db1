// The desktop window on real folders, offscreen: runs started from the
// window, the program as a process, the control states, the status strip,
// the window size and drag and drop.

#include "ui/main_window.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QWhatsThis>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "report/report_fakes.h"
#include "ui/gui_fixture.h"
#include "ui/status_strip.h"

namespace twinmere::ui {
namespace {

using testing::FakeClock;

// Serves events until `done` holds; false after `seconds`.
bool WaitFor(const std::function<bool()>& done, int seconds = 60) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// True when this process has `path` open (the copy of that file has begun).
bool HoldsOpen(const std::string& path) {
  DIR* dir = opendir("/proc/self/fd");
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) found = true;
  }
  closedir(dir);
  return found;
}

// A file of `mebibytes` MiB of data that a copy has to move, not holes.
void WriteBigFile(const std::string& path, int mebibytes) {
  std::ofstream big(path, std::ios::binary);
  std::string chunk(1 << 20, '\0');
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7 + i / 251);
  for (int i = 0; i < mebibytes; ++i)
    big.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

// Everything start-up hands a window, in a temporary home.
struct Program : TempHome {
  explicit Program(const Clock& clock = system_clock) : clock(clock) {}
  std::unique_ptr<MainWindow> Window(const std::string& arguments) {
    settings = ReadProgramSettings(registry, folders);
    auto window = std::make_unique<MainWindow>(
        ProgramContext{facts, folders, registry, settings, *fs, clock, arguments});
    window->Load();
    return window;
  }
  int32_t Stored(const char* name) {
    const RegistryValue value = registry.KeyValue(Hive::CurrentUser, kSettingsKey, name);
    return value.Integer() != nullptr ? *value.Integer() : -1;
  }

  static inline SystemClock system_clock;
  const Clock& clock;
};

QString StatusOf(QWidget& window) {
  return Control<StatusStrip>(window, "lblInfo")->StatusLine();
}

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void RunsFromTheWindowStopKeepingTheOldTargetAndStayResponsive();
  void ProgramStartedWithStartAndQuietExitsWithTheRunsCode();
  void ControlStatesFollowTheRunDropsFillTheFieldsAndCloseIsRefusedOnlyFromTheCloseCommand();
  void StatusLineCompactsThePathToThePane();
  void ProgressShowsCaptionBarSegmentsAndBytesUnderQuickStart();
  void WindowSizeRoundTripsWithTheMaximizedBitAndTheMinimum();
  void ViewReportStartsTheViewerOfTheSettingsOrSaysWhy();
  void StartUpTakesEveryArgumentToTheByte();
  void PathsTypedKeyByKeyStayAsTyped();
  void EditsDuringARunAreForTheNextRun();
  void PreviewShowsTheRunsLinesAndChangesNothing();
  void FocusReturnsToTheControlThatStartedTheRun();
  void DeletionGuardAsksWithNoAsTheDefault();
  void PathsOfActionLinesStartRightAfterTheWidestLabel();
  void LeaveOutNoteShowsBetweenRunsWhilePatternsApply();
  void PatternsOfTheOptionsDialogLeaveItemsOutOfPreviewAndRun();
};

void MainWindowTest::RunsFromTheWindowStopKeepingTheOldTargetAndStayResponsive() {
  Program program;
  QVERIFY(QDir().mkpath(QString::fromStdString(program.Path("src"))));
  QVERIFY(QDir().mkpath(QString::fromStdString(program.Path("dst"))));
  program.WriteFile("src/small.txt", "small");
  program.WriteFile("dst/big.bin", "the older contents");
  WriteBigFile(program.Path("src/big.bin"), 1024);
  auto window = program.Window("-ns " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  auto* stop = Control<QToolButton>(*window, "cmdStop");

  // Stop while the large file is being copied.
  Control<QToolButton>(*window, "cmdStart")->click();
  QVERIFY(WaitFor([&] { return HoldsOpen(program.Path("src/big.bin")); }, 20));
  QVERIFY(WaitFor([&] { return stop->isVisible(); }));
  stop->click();
  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Stopped." && !stop->isVisible(); }));
  QCOMPARE(window->ExitCode(), 1);
  QCOMPARE(program.ReadFile("dst/big.bin"), std::string("the older contents"));
  for (const QString& name :
       QDir(QString::fromStdString(program.Path("dst"))).entryList(QDir::Files)) {
    QVERIFY2(name == "big.bin" || name == "small.txt", qPrintable(name));
  }

  // The whole copy, with the window thread answering a timer throughout.
  qint64 longest_gap = 0;
  QElapsedTimer since_tick;
  QTimer probe;
  probe.setInterval(10);
  QObject::connect(&probe, &QTimer::timeout,
                   [&] { longest_gap = std::max(longest_gap, since_tick.restart()); });
  since_tick.start();
  probe.start();
  window->findChild<QAction*>("mnuStart")->trigger();
  // The status comes before the idle state: both are posted from the worker.
  QVERIFY(WaitFor(
      [&] {
        return StatusOf(*window) == "Completed." &&
               Control<QToolButton>(*window, "cmdStart")->isVisible();
      },
      300));
  probe.stop();
  // A window thread that waited for the copy would miss the timer for
  // seconds; the bound leaves room for a loaded or sanitized test machine.
  QVERIFY2(longest_gap < 1000, qPrintable(QString::number(longest_gap)));
  QCOMPARE(window->ExitCode(), 0);
  QCOMPARE(QFileInfo(QString::fromStdString(program.Path("dst/big.bin"))).size(), qint64{1} << 30);
  QCOMPARE(program.ReadFile("dst/small.txt"), std::string("small"));
  const QString report = Control<QPlainTextEdit>(*window, "txtReport")->toPlainText();
  QVERIFY2(report.contains("Synchronization stopped.") &&
               report.contains("Synchronization completed.") && report.contains("dst/big.bin"),
           qPrintable(report));
}

void MainWindowTest::ProgramStartedWithStartAndQuietExitsWithTheRunsCode() {
  Program program;
  QDir().mkpath(QString::fromStdString(program.Path("src/sub")));
  QDir().mkpath(QString::fromStdString(program.Path("clash/x")));
  program.WriteFile("src/sub/a.txt", "a");
  program.WriteFile("src/x", "a file where the Target has a folder");
  // The lock file that tells that the program runs: a FIFO in its place in
  // the runtime folder does not hold up the start; without a runtime folder
  // it lies in a folder of the user's own in the temp folder.
  QVERIFY(QDir().mkpath(QString::fromStdString(program.Path("tmp"))));
  QCOMPARE(chmod(program.Path("tmp").c_str(), 01777), 0);  // as /tmp
  QCOMPARE(mkfifo(program.Path("TwinmereMutex").c_str(), 0600), 0);
  const auto start = [&](const QStringList& arguments, bool runtime = true) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(program.Path("config")));
    environment.insert("XDG_STATE_HOME", QString::fromStdString(program.Path("state")));
    environment.insert("TMPDIR", QString::fromStdString(program.Path("tmp")));
    environment.remove("XDG_RUNTIME_DIR");
    if (runtime) environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(program.Path("")));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(QString::fromStdString(program.Path("")));
    process->start(TWINMERE_GUI_PATH, arguments);
    return process;
  };
  const QString src = QString::fromStdString(program.Path("src/"));

  const struct {
    const char* target;
    int code;
    bool runtime;
  } runs[] = {{"new/dst/", 0, true}, {"clash/", 4, false}, {"-reverse", 0, true}};
  for (const auto& run : runs) {
    // A relative Target named as one of Qt's own options is a folder too.
    const std::string target = run.target[0] == '-' ? run.target : program.Path(run.target);
    auto process = start({"-s", "-q", src, QString::fromStdString(target)}, run.runtime);
    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), run.code);
  }
  QCOMPARE(program.ReadFile("new/dst/sub/a.txt"), std::string("a"));
  QCOMPARE(program.ReadFile("-reverse/sub/a.txt"), std::string("a"));
  const std::string own = "tmp/twinmere-" + std::to_string(geteuid());
  QVERIFY(QFileInfo::exists(QString::fromStdString(program.Path(own + "/TwinmereMutex"))));
  QCOMPARE(QFileInfo(QString::fromStdString(program.Path(own))).permissions(),
           QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
               QFile::WriteUser | QFile::ExeUser);

  // An invalid command line cancels -s and -q: the window stays until closed.
  auto invalid = start({"-s", "-q", "-nosuch", src, QString::fromStdString(program.Path("d2/"))});
  QVERIFY(invalid->waitForStarted());
  QVERIFY(!invalid->waitForFinished(1500));
  invalid->terminate();
  QVERIFY(invalid->waitForFinished(30000));
  QCOMPARE(invalid->exitCode(), 17);
  QVERIFY(!QFileInfo::exists(QString::fromStdString(program.Path("d2"))));
}

void MainWindowTest::
    ControlStatesFollowTheRunDropsFillTheFieldsAndCloseIsRefusedOnlyFromTheCloseCommand() {
  Program program;
  QDir().mkpath(QString::fromStdString(program.Path("src")));
  auto window = program.Window("-ds " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  auto* start = Control<QToolButton>(*window, "cmdStart");
  auto* stop = Control<QToolButton>(*window, "cmdStop");
  auto* source = Control<QLineEdit>(*window, "txtSource");
  auto* target = Control<QLineEdit>(*window, "txtTarget");
  const auto action = [&](const char* name) { return Control<QAction>(*window, name); };
  VERIFY_HELP_PLACES(*window, *window, {});
  // F1 opens the focused control's part of the page; Shift+F1, which the
  // Help menu names, What's This.
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window.get()));
  target->setFocus();
  QTest::keyClick(target, Qt::Key_F1);
  QCOMPARE(window->Services().help.Window()->Browser()->source().fileName() + "#" +
               window->Services().help.Window()->Browser()->source().fragment(),
           QString("1000.html#folders"));
  window->Services().help.CloseHelpWindow();
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(target, Qt::Key_F1, Qt::ShiftModifier);
  QVERIFY(QWhatsThis::inWhatsThisMode());
  QWhatsThis::leaveWhatsThisMode();
  QCOMPARE(action("mnuHelpWhat")->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F1));

  // The fields feed the options; an empty one disables Start.
  source->setText("  " + QString::fromStdString(program.Path("src")) + " ");
  QCOMPARE(window->Options().Source, program.Path("src/"));
  target->clear();
  QVERIFY(!start->isEnabled() && !action("mnuStart")->isEnabled());
  QVERIFY(!Control<QWidget>(*window, "cmdPreview")->isEnabled());
  QVERIFY(!action("mnuPreview")->isEnabled());
  target->setText(QString::fromStdString(program.Path("dst")));
  QVERIFY(start->isEnabled() && action("mnuStart")->isEnabled());
  QVERIFY(Control<QWidget>(*window, "cmdPreview")->isEnabled());
  // A blank at the end stays where a folder has it in its name.
  QDir().mkpath(QString::fromStdString(program.Path("dst ")));
  target->setText(QString::fromStdString(program.Path("dst ")));
  QCOMPARE(window->Options().Target, program.Path("dst /"));

  // A dropped folder fills the field; a file or a missing item is refused.
  program.WriteFile("file.txt", "x");
  QVERIFY(!Drop(source, program.Path("file.txt")));
  QVERIFY(!Drop(Control<QWidget>(*window, "cmdSource"), program.Path("missing")));
  QCOMPARE(window->Options().Source, program.Path("src/"));
  QDir().mkpath(QString::fromStdString(program.Path("folder")));
  QVERIFY(Drop(source, program.Path("folder")));
  QCOMPARE(window->Options().Source, program.Path("folder/"));
  QVERIFY(Drop(Control<QWidget>(*window, "lblTarget"), program.Path("folder")));
  QCOMPARE(target->text(), QString::fromStdString(program.Path("folder/")));

  const auto expect_running = [&](bool running) {
    QCoreApplication::processEvents();
    QCOMPARE(start->isVisible(), !running);
    QCOMPARE(stop->isVisible(), running);
    if (running) QVERIFY(!stop->isEnabled());  // -ds: Stop is shown but cannot be used
    for (const char* name : {"txtSource", "txtTarget", "cmdSource", "cmdTarget", "lblSource",
                             "cmdOptions", "cmdPreview"}) {
      QCOMPARE(Control<QWidget>(*window, name)->isEnabled(), !running);
    }
    for (const char* name :
         {"mnuSource", "mnuTarget", "mnuStart", "mnuPreview", "mnuOptions", "mnuExit"}) {
      QCOMPARE(action(name)->isEnabled(), !running);
    }
    QVERIFY(!action("mnuStop")->isEnabled());
    QVERIFY(!action("mnuViewReport")->isEnabled());  // no report file
    QCOMPARE(Control<QTimer>(*window, "tmrUpdate")->isActive(), running);
    VERIFY_KEYS_AND_NAMES(*window);
  };
  expect_running(false);
  // The field with the focus and its whole text selected gives both up,
  // also while another window is active.
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window.get()));
  target->setFocus();
  target->selectAll();
  QWidget elsewhere;
  elsewhere.show();
  elsewhere.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
  window->Host().EnterRunningState(/*disallow_stop=*/true);
  expect_running(true);
  QVERIFY(!target->hasSelectedText());
  QCOMPARE(window->focusWidget(), Control<QWidget>(*window, "txtReport"));
  elsewhere.close();
  QVERIFY(!window->close());  // the window's Close command
  QVERIFY(window->isVisible());
  window->Host().EnterIdleState();
  expect_running(false);

  // In the active window, the focus that the disabled fields pass on leaves
  // neither of them selected.
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window.get()));
  source->setFocus();
  window->Host().EnterRunningState(false);
  QTest::qWait(50);
  QVERIFY(!source->hasSelectedText() && !target->hasSelectedText());
  window->Host().EnterIdleState();
  expect_running(false);

  // Other close requests go on during such a run.
  window->Host().EnterRunningState(true);
  QCoreApplication::processEvents();
  window->CloseFor(CloseReason::Signal);
  QVERIFY(!window->isVisible());
}

void MainWindowTest::StatusLineCompactsThePathToThePane() {
  StatusStrip strip;
  const QFontMetrics metrics = strip.fontMetrics();
  const std::string text = "Copying to Target ...   ";
  const std::string path = "/home/ann/projects/alpha/reports/2026/summary-of-the-year.txt";
  const int text_width = metrics.horizontalAdvance(QString::fromStdString(text));
  const int path_width = metrics.horizontalAdvance(QString::fromStdString(path));
  const auto room_for = [&](int room) { return room + (strip.width() - strip.StatusTextRoom()); };
  const struct {
    int room;               // pixels the status text may take
    const char* path_part;  // what the line shows after the text ("*": the whole path)
  } cases[] = {
      // Which folders give way is CompactPath's rule, tested on its own.
      {text_width + path_width + 2, "*"},
      {text_width + metrics.horizontalAdvance("/.../summary-of-the-year.txt") + 2,
       "/.../summary-of-the-year.txt"},
      {text_width + metrics.horizontalAdvance("..."), ""},  // the path empties
      {text_width - 10, ""},                                // the text alone is wider than the pane
  };
  for (const auto& c : cases) {
    strip.resize(room_for(c.room), strip.StatusHeight());
    StatusProgressView view;
    view.status_text = text;
    view.status_path = path;
    strip.SetView({});  // a new view each time
    strip.SetView(view);
    const QString expected =
        QString::fromStdString(text) +
        (std::string(c.path_part) == "*" ? QString::fromStdString(path) : QString(c.path_part));
    QCOMPARE(strip.StatusLine(), expected);
  }
}

void MainWindowTest::ProgressShowsCaptionBarSegmentsAndBytesUnderQuickStart() {
  FakeClock clock;
  Program program(clock);
  auto window = program.Window(program.Path("a/") + " " + program.Path("b/"));
  auto* info = Control<StatusStrip>(*window, "lblInfo");
  SyncSession session;
  session.PercentMode = true;
  session.CopyStartTime = clock.now;
  session.WorkTotal = 200;
  session.WorkDone = 50;
  window->Host().EnterRunningState(false);
  clock.now += 600;
  window->Host().UpdateProgress(session, 0);
  QCoreApplication::processEvents();
  QCOMPARE(window->windowTitle(), QString("25% synchronized"));
  QCOMPARE(info->ProgressText(), QString("25%"));
  QVERIFY(info->toolTip().startsWith("Estimated End Time: "));
  // A screen reader finds it all in the status bar: the status with its
  // whole path as the name, the figure and the estimate as the description.
  QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(info);
  QCOMPARE(strip->role(), QAccessible::StatusBar);
  QCOMPARE(strip->text(QAccessible::Description), "25%, " + info->toolTip());
  const std::string path = "/home/ann/" + std::string(300, 'x') + "/a.txt";
  window->Host().ShowStatus("Copying to Target ...   ", path, 0);
  QCoreApplication::processEvents();
  QCOMPARE(strip->text(QAccessible::Name), "Copying to Target ... " + QString::fromStdString(path));

  // A file in progress is a second segment of the bar. (Which changes are
  // shown at all is StatusProgress's rule, tested with twinmere-cli's host.)
  clock.timer += 0.6;
  window->Host().UpdateProgress(session, 20);
  QCoreApplication::processEvents();
  QCOMPARE(window->windowTitle(), QString("35% synchronized"));
  QCOMPARE(info->View().fraction_current, 0.1);
  window->Host().EnterIdleState();
  QCoreApplication::processEvents();
  QCOMPARE(window->windowTitle(), QString("Twinmere"));

  // Quick start counts bytes (the count's text is tested with twinmere-cli's
  // host): no percentage, no caption, no estimate.
  auto quick = program.Window("-qs " + program.Path("a/") + " " + program.Path("b/"));
  quick->Host().EnterRunningState(false);
  quick->Host().UpdateProgress(SyncSession{}, 0.5);
  QCoreApplication::processEvents();
  auto* quick_info = Control<StatusStrip>(*quick, "lblInfo");
  QVERIFY(quick_info->ProgressText().endsWith(" bytes processed"));
  QVERIFY(!quick_info->View().percent_shown);
  QCOMPARE(quick->windowTitle(), QString("Twinmere"));
  QCOMPARE(quick_info->toolTip(), QString());
}

void MainWindowTest::WindowSizeRoundTripsWithTheMaximizedBitAndTheMinimum() {
  Program program;
  {
    // At first the window shows a message line with a usual path whole.
    auto window = program.Window("");
    window->ShowAtStart();
    window->Host().ShowBatch(
        "Copied:            \t\"/home/ann/Documents/Projects/2026/quarterly-report-final.odt\"  "
        "1,234,567 bytes.");
    QVERIFY(WaitFor(
        [&] { return !Control<QPlainTextEdit>(*window, "txtReport")->toPlainText().isEmpty(); },
        5));
    QCOMPARE(Control<QPlainTextEdit>(*window, "txtReport")->horizontalScrollBar()->maximum(), 0);
    window->CloseFor(CloseReason::ExitCommand);
  }
  {
    // A size stored on a larger screen stays within this one, and stays stored.
    program.registry.KeyValue(Hive::CurrentUser, kSettingsKey, "Width", 90000);
    auto window = program.Window("");
    QVERIFY(window->width() <= window->screen()->availableGeometry().width());
    window->CloseFor(CloseReason::ExitCommand);
    QCOMPARE(program.Stored("Width"), 90000);
  }
  program.registry.KeyValue(Hive::CurrentUser, kSettingsKey, "Height", kMaximizedFlag | 300);
  program.registry.KeyValue(Hive::CurrentUser, kSettingsKey, "Width", 9000);
  {
    auto window = program.Window("");
    window->ShowAtStart();
    QVERIFY(WaitFor([&] { return window->isMaximized(); }, 5));
    QCOMPARE(window->normalGeometry().height(), window->minimumHeight());
    QCOMPARE(window->normalGeometry().width(), TwipsToPixels(9000, window->logicalDpiX()));
    window->CloseFor(CloseReason::ExitCommand);
    QCOMPARE(program.Stored("Height"),
             kMaximizedFlag | PixelsToTwips(window->minimumHeight(), window->logicalDpiY()));
    QCOMPARE(program.Stored("Width"), 9000);
  }
  {
    // Restored at closing: the bit goes, the restored height stays.
    auto window = program.Window("");
    window->ShowAtStart();
    QVERIFY(WaitFor([&] { return window->isMaximized(); }, 5));
    window->showNormal();
    QVERIFY(WaitFor([&] { return !window->isMaximized(); }, 5));
    window->CloseFor(CloseReason::ExitCommand);
    QCOMPARE(program.Stored("Height"),
             PixelsToTwips(window->minimumHeight(), window->logicalDpiY()));
  }
  {
    // -m starts minimized and is not overruled by a stored maximized state.
    program.registry.KeyValue(Hive::CurrentUser, kSettingsKey, "Height", kMaximizedFlag | 6000);
    auto window = program.Window("-m");
    window->ShowAtStart();
    QVERIFY(WaitFor([&] { return window->isMinimized(); }, 5));
    QVERIFY(!window->isMaximized());
  }
}

void MainWindowTest::ViewReportStartsTheViewerOfTheSettingsOrSaysWhy() {
  Program program;
  program.WriteFile("viewer", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.got\"\n");
  QFile::setPermissions(QString::fromStdString(program.Path("viewer")),
                        QFile::ExeOwner | QFile::ReadOwner);
  program.registry.KeyValue(Hive::CurrentUser, kSettingsKey, "Viewer", program.Path("viewer"));
  QVERIFY(QDir().mkpath(QString::fromStdString(program.Path("src"))));
  const std::string report_path = program.Path("reports/my report.txt");
  auto window = program.Window("-r \"" + report_path + "\" " + program.Path("src/") + " " +
                               program.Path("dst/"));
  window->show();
  auto* report = Control<QPushButton>(*window, "cmdReport");
  MessageAnswers answers;
  report->click();
  QCOMPARE(answers.texts, QStringList{"The Report file doesn't exist."});
  // The run writes the report, its folder too; asking again finds it.
  Control<QToolButton>(*window, "cmdStart")->click();
  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Completed." && !window->Running(); }));
  report->click();
  QVERIFY(WaitFor([&] { return program.ReadFile("viewer.got") == report_path; }));
  QCOMPARE(answers.texts, QStringList{"The Report file doesn't exist."});
}

// Blanks at the ends of an argument belong to the name, as in twinmere-cli:
// the window reads the same joined argument string.
void MainWindowTest::StartUpTakesEveryArgumentToTheByte() {
  Program program;
  const char* argv[] = {"twinmere", "-r", "notes.txt ", " src", "dst "};
  auto window = program.Window(JoinArguments(5, argv));
  QCOMPARE(window->Options().Report, program.Path("state/twinmere/notes.txt "));
  QCOMPARE(window->Options().Source, std::string(" src/"));
  QCOMPARE(window->Options().Target, std::string("dst /"));
}

void MainWindowTest::PathsTypedKeyByKeyStayAsTyped() {
  Program program;
  auto window = program.Window("");
  window->show();
  for (const char* name : {"txtSource", "txtTarget"}) {
    auto* field = Control<QLineEdit>(*window, name);
    ExpectTypedPathKept(field, QString::fromStdString(program.Path(name)));
    if (QTest::currentTestFailed()) return;
  }
  ExpectListClosesAsTheFocusLeaves(Control<QLineEdit>(*window, "txtSource"),
                                   Control<QLineEdit>(*window, "txtTarget"), Qt::Key_T,
                                   QString::fromStdString(program.Path("tree")));
}

void MainWindowTest::EditsDuringARunAreForTheNextRun() {
  Program program;
  for (const char* folder : {"src", "dst", "other"}) {
    QVERIFY(QDir().mkpath(QString::fromStdString(program.Path(folder))));
  }
  WriteBigFile(program.Path("src/big.bin"), 256);
  program.WriteFile("other/keep.txt", "not in Source");
  auto window = program.Window("-d " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  auto* source = Control<QLineEdit>(*window, "txtSource");
  auto* target = Control<QLineEdit>(*window, "txtTarget");
  const QString other = QString::fromStdString(program.Path("other/"));

  // Start, and at once the fields and the options dialog point elsewhere:
  // the run has begun and goes on with what it was started with.
  Control<QToolButton>(*window, "cmdStart")->click();
  target->setText(other);
  QTimer::singleShot(0, window.get(), [&] {
    auto* dialog = window->findChild<QDialog*>("OptionsDialog");
    QVERIFY(dialog != nullptr);
    Control<QLineEdit>(*dialog, "txtSource")->setText(other);
    Control<QPushButton>(*dialog, "cmdOK")->click();
  });
  window->ShowOptionsDialog();
  QCOMPARE(window->Options().Source, program.Path("other/"));
  // While it runs, its fields are disabled; text put into them all the same
  // changes only the next run's options.
  source->setText(QString::fromStdString(program.Path("src")));
  target->setText(other + "sub");

  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Completed." && !window->Running(); }));
  QCOMPARE(window->ExitCode(), 0);
  QCOMPARE(QFileInfo(QString::fromStdString(program.Path("dst/big.bin"))).size(),
           qint64{256} << 20);
  // Nothing of the run reached the folder the fields named meanwhile.
  QCOMPARE(program.ReadFile("other/keep.txt"), std::string("not in Source"));
  QVERIFY(!QFileInfo::exists(other + "big.bin"));
  QCOMPARE(window->Options().Source, program.Path("src/"));
  QCOMPARE(window->Options().Target, program.Path("other/sub/"));
}

// Preview runs what Start would and shows its lines between two that say
// so; both folders stay as they were, and Start does the same for real.
void MainWindowTest::PreviewShowsTheRunsLinesAndChangesNothing() {
  Program program;
  for (const char* folder : {"src", "dst"})
    QVERIFY(QDir().mkpath(QString::fromStdString(program.Path(folder))));
  program.WriteFile("src/new.txt", "new");
  program.WriteFile("dst/old.txt", "old");
  auto window = program.Window("-d " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  auto* box = Control<QPlainTextEdit>(*window, "txtReport");
  const QString copied =
      "Copied:            \t\"" + QString::fromStdString(program.Path("dst/new.txt"));
  const QString deleted =
      "Deleted:           \t\"" + QString::fromStdString(program.Path("dst/old.txt"));

  Control<QToolButton>(*window, "cmdPreview")->click();
  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Preview completed." && !window->Running(); }));
  const QStringList lines = box->toPlainText().split('\n');
  QCOMPARE(lines.size(), 4);
  QCOMPARE(lines[0], "Preview: nothing in Source or Target will be changed.");
  QVERIFY2(lines[1].startsWith(copied), qPrintable(lines[1]));
  QVERIFY2(lines[2].startsWith(deleted), qPrintable(lines[2]));
  QCOMPARE(lines[3], "Preview completed. Nothing was changed.");
  QCOMPARE(window->ExitCode(), 0);
  QVERIFY(!QFileInfo::exists(QString::fromStdString(program.Path("dst/new.txt"))));
  QCOMPARE(program.ReadFile("dst/old.txt"), std::string("old"));
  QVERIFY(!window->Options().Preview);  // the next Start is a run

  Control<QAction>(*window, "mnuStart")->trigger();
  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Completed." && !window->Running(); }));
  QVERIFY(box->toPlainText().endsWith(lines[1] + "\n" + lines[2] + "\nSynchronization completed."));
  QCOMPARE(program.ReadFile("dst/new.txt"), std::string("new"));
  QVERIFY(!QFileInfo::exists(QString::fromStdString(program.Path("dst/old.txt"))));
}

// However a run or a preview was started, by key or by mouse, the focus
// comes back to where it was started from: after a preview never to Start,
// so that a second Space previews again instead of running for real.
void MainWindowTest::FocusReturnsToTheControlThatStartedTheRun() {
  Program program;
  for (const char* folder : {"src", "dst"})
    QVERIFY(QDir().mkpath(QString::fromStdString(program.Path(folder))));
  program.WriteFile("src/new.txt", "new");
  program.WriteFile("dst/old.txt", "old");
  auto window = program.Window("-d " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window.get()));
  auto* preview = Control<QToolButton>(*window, "cmdPreview");
  auto* start = Control<QToolButton>(*window, "cmdStart");
  auto* target = Control<QLineEdit>(*window, "txtTarget");
  auto* box = Control<QPlainTextEdit>(*window, "txtReport");
  const auto ended = [&] {
    return box->toPlainText().count("Preview completed.") +
           box->toPlainText().count("Synchronization completed.");
  };
  const struct {
    const char* way;
    QWidget* focus_before;
    std::function<void()> start;
    QWidget* focus_after;
  } ways[] = {
      {"Space on Preview", preview, [&] { QTest::keyClick(preview, Qt::Key_Space); }, preview},
      {"Space again", preview, [&] { QTest::keyClick(window->focusWidget(), Qt::Key_Space); },
       preview},
      {"a click on Preview", box, [&] { QTest::mouseClick(preview, Qt::LeftButton); }, preview},
      {"Alt+V", target, [&] { QTest::keyClick(window.get(), Qt::Key_V, Qt::AltModifier); },
       preview},
      {"File > Preview", target, [&] { Control<QAction>(*window, "mnuPreview")->trigger(); },
       target},
      {"Space on Start", start, [&] { QTest::keyClick(start, Qt::Key_Space); }, start},
  };
  for (const auto& way : ways) {
    const int before = ended();
    way.focus_before->setFocus();
    way.start();
    QVERIFY2(WaitFor([&] { return ended() > before && !window->Running(); }), way.way);
    QCoreApplication::processEvents();
    QVERIFY2(window->focusWidget() == way.focus_after,
             qPrintable(QString(way.way) + ": " + window->focusWidget()->objectName()));
    // Only the run from Start deleted anything.
    QCOMPARE(QFileInfo::exists(QString::fromStdString(program.Path("dst/old.txt"))),
             way.focus_after != start);
  }
}

// Mass deletion: the window asks, No is the default answer and Escape gives
// it; No keeps every Target item, Yes deletes them.
void MainWindowTest::DeletionGuardAsksWithNoAsTheDefault() {
  Program program;
  for (const char* folder : {"src", "dst"})
    QVERIFY(QDir().mkpath(QString::fromStdString(program.Path(folder))));
  program.WriteFile("src/kept.txt", "k");
  for (int i = 0; i < 25; ++i) program.WriteFile("dst/x" + std::to_string(i), "extra");
  auto window = program.Window("-d " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  const QDir target(QString::fromStdString(program.Path("dst")));
  QString status;
  const auto answer = [&](bool yes) {
    QString text;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      auto* question = window->findChild<QMessageBox*>("DeletionQuestion");
      if (question == nullptr || !question->isVisible()) return;
      text = question->text();
      // Meanwhile the status says what the run waits for, to a screen reader
      // too.
      status = QAccessible::queryAccessibleInterface(Control<StatusStrip>(*window, "lblInfo"))
                   ->text(QAccessible::Name);
      QCOMPARE(question->defaultButton(), question->button(QMessageBox::No));
      if (yes) {
        question->button(QMessageBox::Yes)->click();
      } else {
        QTest::keyClick(question, Qt::Key_Escape);
      }
    });
    timer.start(5);
    auto* box = Control<QPlainTextEdit>(*window, "txtReport");
    const auto runs = [&] { return box->toPlainText().count("Synchronization completed."); };
    const int before = runs();
    Control<QToolButton>(*window, "cmdStart")->click();
    WaitFor([&] { return runs() > before && !window->Running(); });
    return text;
  };

  QCOMPARE(answer(false), "Delete 25 of 25 items from Target?");
  QCOMPARE(status, "Waiting for your answer: delete 25 of 25 items from Target?");
  QCOMPARE(window->ExitCode(), 4);
  QCOMPARE(target.entryList(QDir::Files).size(), 26);  // kept.txt copied, nothing deleted
  QVERIFY(Control<QPlainTextEdit>(*window, "txtReport")
              ->toPlainText()
              .contains("Nothing deleted: deleting 25 of 25 items in Target was declined."));

  QCOMPARE(answer(true), "Delete 25 of 26 items from Target?");
  QCOMPARE(window->ExitCode(), 0);
  QCOMPARE(target.entryList(QDir::Files), QStringList{"kept.txt"});
}

// An action line is a padded label, a tab and the path: the path starts
// right after the widest label, in every line at the same place.
void MainWindowTest::PathsOfActionLinesStartRightAfterTheWidestLabel() {
  Program program;
  auto window = program.Window("");
  window->show();
  window->Host().ShowBatch(
      "Copied:            \t\"/a\"  5 bytes.\nFolder short name:  \t\"/b\".\n"
      "File attributes:   \t\"/c\".");
  QCoreApplication::processEvents();
  auto* box = Control<QPlainTextEdit>(*window, "txtReport");
  const QFontMetricsF metrics(box->font());
  const qreal widest = metrics.horizontalAdvance("Folder short name:  ");
  QList<int> starts;
  for (int line = 0; line < 3; ++line) {
    QTextCursor cursor(box->document()->findBlockByNumber(line));
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor,
                        cursor.block().text().indexOf('"'));
    starts << box->cursorRect(cursor).left();
  }
  QCOMPARE(starts[1], starts[0]);
  QCOMPARE(starts[2], starts[0]);
  const int left = box->cursorRect(QTextCursor(box->document())).left();
  QVERIFY2(
      starts[0] - left >= widest && starts[0] - left <= widest + 2 * metrics.averageCharWidth(),
      qPrintable(QString("path at %1, widest label %2").arg(starts[0] - left).arg(widest)));
}

// The strip says what the next run leaves out, between runs only, with each
// pattern as plain text in its tool tip and to a screen reader.
void MainWindowTest::LeaveOutNoteShowsBetweenRunsWhilePatternsApply() {
  Program program;
  auto window = program.Window("");
  window->show();
  auto* strip = Control<StatusStrip>(*window, "lblInfo");
  const auto spoken = [strip] {
    return QAccessible::queryAccessibleInterface(strip)->text(QAccessible::Description);
  };
  const auto leave_out = [&](const QString& patterns) {
    QTimer::singleShot(0, window.get(), [&] {
      auto* dialog = window->findChild<QDialog*>("OptionsDialog");
      Control<QPlainTextEdit>(*dialog, "txtLeaveOut")->setPlainText(patterns);
      Control<QPushButton>(*dialog, "cmdOK")->click();
    });
    window->ShowOptionsDialog();
  };
  const auto host_state = [&](bool running) {
    running ? window->Host().EnterRunningState(false) : window->Host().EnterIdleState();
    QTRY_COMPARE(window->Running(), running);
  };

  QCOMPARE(strip->Note(), "");
  leave_out("*.tmp\n<b>cache</b>/");
  QCOMPARE(strip->Note(), "Leaving out 2 patterns");
  QCOMPARE(spoken(), "Leaving out 2 patterns: *.tmp; <b>cache</b>/");
  const QPoint over_note(strip->width() - 40, strip->height() / 2);
  QHelpEvent tip(QEvent::ToolTip, over_note, strip->mapToGlobal(over_note));
  QCoreApplication::sendEvent(strip, &tip);
  QTRY_VERIFY(QToolTip::isVisible());
  QVERIFY2(QToolTip::text().contains("&lt;b&gt;cache"), qPrintable(QToolTip::text()));

  host_state(true);
  QCOMPARE(strip->Note(), "");
  host_state(false);
  QCOMPARE(strip->Note(), "Leaving out 2 patterns");
  leave_out("");
  QCOMPARE(strip->Note(), "");
  QCOMPARE(spoken(), "");
}

// What the Leave out box names, the preview and the run started from the
// window leave alone on both sides, -d notwithstanding.
void MainWindowTest::PatternsOfTheOptionsDialogLeaveItemsOutOfPreviewAndRun() {
  Program program;
  for (const char* folder : {"src/cache", "dst"})
    QVERIFY(QDir().mkpath(QString::fromStdString(program.Path(folder))));
  program.WriteFile("src/a.txt", "a");
  program.WriteFile("src/b.tmp", "new");
  program.WriteFile("src/cache/c.bin", "c");
  program.WriteFile("dst/old.tmp", "old");
  auto window = program.Window("-d " + program.Path("src/") + " " + program.Path("dst/"));
  window->show();
  QTimer::singleShot(0, window.get(), [&] {
    auto* dialog = window->findChild<QDialog*>("OptionsDialog");
    Control<QPlainTextEdit>(*dialog, "txtLeaveOut")->setPlainText("*.tmp\ncache/");
    Control<QPushButton>(*dialog, "cmdOK")->click();
  });
  window->ShowOptionsDialog();
  auto* box = Control<QPlainTextEdit>(*window, "txtReport");

  Control<QToolButton>(*window, "cmdPreview")->click();
  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Preview completed." && !window->Running(); }));
  const QStringList previewed = box->toPlainText().split('\n');
  QCOMPARE(previewed.size(), 3);  // the first line, a.txt copied, the last line
  QVERIFY2(previewed[1].contains(QString::fromStdString(program.Path("dst/a.txt")) + "\""),
           qPrintable(previewed[1]));

  Control<QAction>(*window, "mnuStart")->trigger();
  QVERIFY(WaitFor([&] { return StatusOf(*window) == "Completed." && !window->Running(); }));
  QVERIFY(box->toPlainText().endsWith(previewed[1] + "\nSynchronization completed."));
  QCOMPARE(program.ReadFile("dst/a.txt"), std::string("a"));
  QCOMPARE(program.ReadFile("dst/old.tmp"), std::string("old"));
  QVERIFY(!QFileInfo::exists(QString::fromStdString(program.Path("dst/b.tmp"))));
  QVERIFY(!QFileInfo::exists(QString::fromStdString(program.Path("dst/cache"))));
}

}  // namespace
}  // namespace twinmere::ui

TWINMERE_GUI_TEST_MAIN(twinmere::ui::MainWindowTest)
#include "main_window_test.moc"
