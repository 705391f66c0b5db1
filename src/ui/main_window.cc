#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <algorithm>
#include <climits>
#include <cmath>

#include "app/command_line.h"
#include "app/folder_fields.h"
#include "app/help_topics.h"
#include "app/report_viewer.h"
#include "base/version.h"
#include "dialogs/about_dialog.h"
#include "dialogs/options_dialog.h"
#include "dialogs/settings_dialog.h"
#include "engine/synchronizer.h"
#include "fs/paths.h"
#include "report/action_lines.h"
#include "ui/status_strip.h"
#include "widgets/choosers.h"
#include "widgets/text_fields.h"

namespace twinmere::ui {
namespace {

// The room the layout keeps beside the folder fields and below the message
// box's top edge, in twips.
constexpr int kMinimumFieldTwips = 3000;
constexpr int kMinimumReportTwips = 1000;
constexpr int kUpdateIntervalMs = 500;

enum class Glyph { Start, Stop };

// Start and Stop in the button text's colour when the icon theme has none, so
// that they stay visible in a dark palette too.
QIcon GlyphIcon(const QWidget& widget, const char* theme_name, Glyph glyph) {
  if (QIcon::hasThemeIcon(QString::fromLatin1(theme_name))) {
    return QIcon::fromTheme(QString::fromLatin1(theme_name));
  }
  const int size = widget.style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, &widget);
  const qreal ratio = widget.devicePixelRatioF();
  QIcon icon;
  for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPalette::ColorGroup group =
        mode == QIcon::Normal ? QPalette::Active : QPalette::Disabled;
    painter.setBrush(widget.palette().color(group, QPalette::ButtonText));
    const qreal m = size / 5.0;
    if (glyph == Glyph::Start) {
      painter.drawPolygon(QPolygonF(
          {QPointF(m * 1.2, m), QPointF(size - m, size / 2.0), QPointF(m * 1.2, size - m)}));
    } else {
      painter.drawRect(QRectF(m, m, size - 2 * m, size - 2 * m));
    }
    painter.end();
    icon.addPixmap(pixmap, mode);
  }
  return icon;
}

}  // namespace

MainWindow::MainWindow(ProgramContext context, QWidget* parent)
    : QMainWindow(parent),
      context_(std::move(context)),
      settings_(context_.settings),
      schedule_{UserUnitFolder(context_.folders), user_manager_},
      field_fs_(CreatePlatformFileSystem()),
      services_(KeyboardCuesFromStyle(), FindHelpFolder(*field_fs_)),
      host_(*this, run_options_, session_, reporter_, context_.clock),
      reporter_(run_options_, context_.facts, context_.fs, host_, context_.clock) {
  setObjectName("MainWindow");
  setWindowTitle(QString::fromLatin1(kProgramTitle));
  hooks_.InstallHooks();
  CreateControls();
  CreateMenus();
  DescribeControls();
  UpdateUI();
  SetUpForm(*this, services_, kHelpMainWindow, {this, txtSource, txtTarget, txtReport});
  UpdateStartState();
}

MainWindow::~MainWindow() {
  if (worker_.joinable()) {
    host_.CloseQuestions();
    session_.StopRequested = 1;
    reporter_.Run().Closing = true;
    worker_.join();
  }
}

void MainWindow::CreateControls() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  auto* top = new QWidget(central);
  auto* grid = new QGridLayout(top);
  lblSource = Named(new QLabel(tr("S&ource folder:"), top), "lblSource");
  txtSource = Named(new QLineEdit(top), "txtSource");
  cmdSource = Named(new QPushButton(top), "cmdSource");
  lblTarget = Named(new QLabel(tr("&Target folder:"), top), "lblTarget");
  txtTarget = Named(new QLineEdit(top), "txtTarget");
  cmdTarget = Named(new QPushButton(top), "cmdTarget");
  cmdOptions = Named(new QPushButton(top), "cmdOptions");
  cmdReport = Named(new QPushButton(top), "cmdReport");
  cmdStart = Named(new QToolButton(top), "cmdStart");
  cmdStop = Named(new QToolButton(top), "cmdStop");
  cmdPreview = Named(new QToolButton(top), "cmdPreview");
  lblSource->setBuddy(txtSource);
  lblTarget->setBuddy(txtTarget);
  cmdOptions->setToolTip(tr("Options"));
  cmdReport->setToolTip(tr("View Report (F4)"));
  for (QToolButton* button : {cmdStart, cmdStop, cmdPreview}) {
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    button->setFocusPolicy(Qt::StrongFocus);
    const int icon = style()->pixelMetric(QStyle::PM_ToolBarIconSize, nullptr, button);
    button->setIconSize(QSize(icon, icon));
  }
  cmdStart->setText(tr("&Start"));
  cmdStop->setText(tr("&Stop"));
  cmdStop->hide();
  cmdPreview->setText(tr("Pre&view"));
  cmdPreview->setToolTip(tr("Shows what Start would do, and changes nothing"));
  for (QPushButton* button : {cmdSource, cmdTarget, cmdOptions, cmdReport}) {
    button->setAutoDefault(false);
  }

  grid->addWidget(lblSource, 0, 0, 1, 3);
  grid->addWidget(txtSource, 1, 0);
  grid->addWidget(cmdSource, 1, 1);
  grid->addWidget(cmdOptions, 1, 2);
  grid->addWidget(lblTarget, 2, 0, 1, 3);
  grid->addWidget(txtTarget, 3, 0);
  grid->addWidget(cmdTarget, 3, 1);
  grid->addWidget(cmdReport, 3, 2);
  grid->addWidget(cmdStart, 1, 3, 3, 1);
  grid->addWidget(cmdStop, 1, 3, 3, 1);
  grid->addWidget(cmdPreview, 1, 4, 3, 1);
  grid->setColumnStretch(0, 1);
  outer->addWidget(top);

  txtReport = Named(new QPlainTextEdit(central), "txtReport");
  txtReport->setReadOnly(true);
  txtReport->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtReport->setAccessibleName(tr("Messages"));
  outer->addWidget(txtReport, 1);

  lblInfo = new StatusStrip(central);
  outer->addWidget(lblInfo);
  setCentralWidget(central);

  tmrUpdate = Named(new QTimer(this), "tmrUpdate");
  tmrUpdate->setInterval(kUpdateIntervalMs);
  connect(tmrUpdate, &QTimer::timeout, this, [this] { host_.TimerTick(); });

  source_ = {lblSource,
             txtSource,
             cmdSource,
             nullptr,
             tr("Select Source folder"),
             tr("Select Source folder"),
             &options_.Source,
             ByteText(txtSource)};
  target_ = {lblTarget,
             txtTarget,
             cmdTarget,
             nullptr,
             tr("Select Target folder"),
             tr("Select Target folder"),
             &options_.Target,
             ByteText(txtTarget)};

  // Folder paths complete from the disk as they are typed (folders only).
  QFileSystemModel* folders = DiskModel(this, PathKinds::Folders);
  for (FolderField* field : {&source_, &target_}) {
    field->browse->setToolTip(field->browse_tip);
    CompletePaths(field->edit, folders);
    connect(field->edit, &QLineEdit::textChanged, this,
            [this, field] { FieldTextChanged(*field); });
    connect(field->browse, &QPushButton::clicked, this, [this, field] { Browse(*field); });
    for (QWidget* control :
         {static_cast<QWidget*>(field->label), static_cast<QWidget*>(field->edit),
          static_cast<QWidget*>(field->browse)}) {
      control->setAcceptDrops(true);
      control->installEventFilter(this);
    }
  }

  connect(cmdStart, &QToolButton::clicked, this, [this] { StartRun(false, cmdStart); });
  connect(cmdStop, &QToolButton::clicked, this, &MainWindow::RequestStop);
  connect(cmdPreview, &QToolButton::clicked, this, [this] { StartRun(true, cmdPreview); });
  connect(cmdOptions, &QPushButton::clicked, this, &MainWindow::ShowOptionsDialog);
  connect(cmdReport, &QPushButton::clicked, this, &MainWindow::ViewReport);
}

void MainWindow::CreateMenus() {
  const auto add = [this](QMenu* menu, const QString& caption, const char* name,
                          const QKeySequence& keys = {}) {
    QAction* action = Named(menu->addAction(caption), name);
    action->setShortcut(keys);
    return action;
  };
  mnuFile = Named(menuBar()->addMenu(tr("&File")), "mnuFile");
  mnuSource = add(mnuFile, tr("S&ource..."), "mnuSource");
  mnuTarget = add(mnuFile, tr("&Target..."), "mnuTarget");
  mnuFile->addSeparator();
  mnuStart = add(mnuFile, tr("&Start"), "mnuStart");
  // Start and Stop share this menu: Stop takes its own key.
  mnuStop = add(mnuFile, tr("Sto&p"), "mnuStop");
  mnuPreview = add(mnuFile, tr("Pre&view"), "mnuPreview");
  mnuFile->addSeparator();
  mnuExit = add(mnuFile, tr("&Exit"), "mnuExit");
  source_.menu = mnuSource;
  target_.menu = mnuTarget;

  mnuEdit = Named(menuBar()->addMenu(tr("&Edit")), "mnuEdit");
  mnuSelectAll = add(mnuEdit, tr("Select &all"), "mnuSelectAll", QKeySequence::SelectAll);
  mnuCopy = add(mnuEdit, tr("&Copy"), "mnuCopy", QKeySequence::Copy);
  mnuClear = add(mnuEdit, tr("C&lear"), "mnuClear");
  mnuEdit->addSeparator();
  mnuOptions = add(mnuEdit, tr("&Options..."), "mnuOptions");
  mnuSettings = add(mnuEdit, tr("&Preferences..."), "mnuSettings");
  mnuEdit->addSeparator();
  mnuViewReport = add(mnuEdit, tr("&View Report"), "mnuViewReport", Qt::Key_F4);

  mnuHelp = Named(menuBar()->addMenu(tr("&Help")), "mnuHelp");
  // F1 (the focused control's page) and Shift+F1 belong to every form
  // (SetUpForm). The menu shows Shift+F1 as What's This's key; the key works
  // through the form, the entry's own shortcut only while the menu is open,
  // so that the two never compete.
  mnuHelpContents = add(mnuHelp, tr("&Contents..."), "mnuHelpContents");
  mnuHelpWhat = add(mnuHelp, tr("&What's This?"), "mnuHelpWhat", Qt::SHIFT | Qt::Key_F1);
  mnuHelpWhat->setShortcutContext(Qt::WidgetShortcut);
  mnuHelp->addSeparator();
  mnuAbout = add(mnuHelp, tr("&About..."), "mnuAbout");

  connect(mnuSource, &QAction::triggered, this, &MainWindow::BrowseSource);
  connect(mnuTarget, &QAction::triggered, this, &MainWindow::BrowseTarget);
  connect(mnuStart, &QAction::triggered, this, &MainWindow::Synchronize);
  connect(mnuStop, &QAction::triggered, this, &MainWindow::RequestStop);
  connect(mnuPreview, &QAction::triggered, this, &MainWindow::Preview);
  connect(mnuExit, &QAction::triggered, this, [this] { CloseFor(CloseReason::ExitCommand); });
  connect(mnuSelectAll, &QAction::triggered, this, [this] {
    txtReport->selectAll();
    mnuCopy->setEnabled(txtReport->textCursor().hasSelection());
  });
  connect(mnuCopy, &QAction::triggered, txtReport, &QPlainTextEdit::copy);
  connect(mnuClear, &QAction::triggered, this, [this] {
    box_.Clear();
    RefreshReportBox();
  });
  connect(mnuOptions, &QAction::triggered, this, &MainWindow::ShowOptionsDialog);
  connect(mnuSettings, &QAction::triggered, this, &MainWindow::ShowSettingsDialog);
  connect(mnuViewReport, &QAction::triggered, this, &MainWindow::ViewReport);
  connect(mnuHelpContents, &QAction::triggered, this, &MainWindow::ShowHelpContents);
  connect(mnuHelpWhat, &QAction::triggered, this, &MainWindow::EnterWhatsThisMode);
  connect(mnuAbout, &QAction::triggered, this, &MainWindow::ShowAbout);

  // Copy is offered exactly when txtReport has a selection.
  connect(txtReport, &QPlainTextEdit::copyAvailable, mnuCopy, &QAction::setEnabled);
  connect(mnuEdit, &QMenu::aboutToShow, this,
          [this] { mnuCopy->setEnabled(txtReport->textCursor().hasSelection()); });
  mnuStop->setEnabled(false);
  mnuCopy->setEnabled(false);
  mnuSelectAll->setEnabled(false);
  mnuClear->setEnabled(false);
  mnuViewReport->setEnabled(false);
  cmdReport->setEnabled(false);
}

// What's This texts; the two labels take their fields' texts.
void MainWindow::DescribeControls() {
  txtSource->setWhatsThis(
      tr("The Source folder, whose files are copied to the Target folder. Type its path, drop "
         "a folder here, or press Enter to choose one."));
  txtTarget->setWhatsThis(
      tr("The Target folder, which is kept in step with the Source folder. A Target folder "
         "that does not exist yet is created when the run starts."));
  cmdSource->setWhatsThis(tr("Opens a folder browser to choose the Source folder."));
  cmdTarget->setWhatsThis(tr("Opens a folder browser to choose the Target folder."));
  cmdOptions->setWhatsThis(
      tr("Opens the options of the next run: what is copied or deleted, the report file and "
         "its level, and saving all of it as a shortcut."));
  cmdReport->setWhatsThis(
      tr("Opens the report file in the report viewer chosen in the preferences. Available "
         "while a report file is set."));
  cmdStart->setWhatsThis(
      tr("Starts the run: the Target folder is brought in step with the Source folder. "
         "Available when both folders are set."));
  cmdPreview->setWhatsThis(
      tr("Shows every line that Start would write, in the same order, and changes nothing in "
         "the Source or Target folder. Available when both folders are set."));
  cmdStop->setWhatsThis(
      tr("Stops the run after the current step; a file that is being copied keeps its old "
         "contents in the Target folder."));
  txtReport->setWhatsThis(
      tr("The messages of the runs: every item copied, deleted or changed, every error, and "
         "how each run ended. Select lines to copy them."));
  lblInfo->setWhatsThis(
      tr("What the run is doing now and how far it has come; its tool tip tells when the run "
         "is expected to end."));

  // F1 opens the part of the window's page that explains the control.
  const std::pair<QWidget*, const char*> sections[] = {
      {lblSource, "folders"},  {txtSource, "folders"}, {cmdSource, "folders"},
      {lblTarget, "folders"},  {txtTarget, "folders"}, {cmdTarget, "folders"},
      {cmdStart, "start"},     {cmdStop, "start"},     {cmdPreview, "start"},
      {txtReport, "messages"}, {lblInfo, "messages"},  {cmdReport, "buttons"}};
  for (const auto& [control, section] : sections)
    SetHelpSection(*control, QString::fromLatin1(section));
  SetHelpTopic(*cmdOptions, kHelpOptionsDialog);
}

void MainWindow::UpdateUI() {
  const QIcon folder = FolderIcon(*this);
  cmdSource->setIcon(folder);
  cmdTarget->setIcon(folder);
  cmdOptions->setIcon(ThemeIcon(*this, "document-properties", QStyle::SP_FileDialogDetailedView));
  cmdReport->setIcon(ThemeIcon(*this, "text-x-generic", QStyle::SP_FileDialogContentsView));
  cmdStart->setIcon(GlyphIcon(*cmdStart, "media-playback-start", Glyph::Start));
  cmdStop->setIcon(GlyphIcon(*cmdStop, "media-playback-stop", Glyph::Stop));
  cmdPreview->setIcon(ThemeIcon(*this, "document-print-preview", QStyle::SP_FileDialogInfoView));
  lblInfo->UpdateUI();
  // Action lines put a tab after their padded label: the tab stop lies just
  // past the widest label, so that every path starts there, close to its
  // label, and not at a far stop of the font's own.
  const QFontMetricsF metrics(txtReport->font());
  qreal widest = 0;
  for (const ActionRow& row : ActionRows())
    widest = std::max(widest, metrics.horizontalAdvance(QString::fromLatin1(row.label)));
  txtReport->setTabStopDistance(std::ceil(widest + metrics.horizontalAdvance(u' ')));
  ApplyMinimumSize();
}

// The window may not get narrower than the fields' left edge plus room for a
// path, nor lower than the message box's top edge plus the status strip and
// a few lines.
void MainWindow::ApplyMinimumSize() {
  layout()->activate();
  const int min_width =
      txtSource->mapTo(this, QPoint()).x() + TwipsToPixels(kMinimumFieldTwips, logicalDpiX());
  const int min_height = txtReport->mapTo(this, QPoint()).y() + lblInfo->StatusHeight() +
                         TwipsToPixels(kMinimumReportTwips, logicalDpiY());
  const QSize hint = minimumSizeHint();
  setMinimumSize(std::max(min_width, hint.width()), std::max(min_height, hint.height()));
}

void MainWindow::Load() {
  const ProgramSettings& settings = settings_;
  const CommandLineContext command_context{context_.fs, ProgramStateFolder(context_.folders),
                                           settings.default_report_level, settings.versions_keep};
  const StartupCommandLine line = ReadStartupCommandLine(
      context_.arguments, settings.default_report, command_context, options_);
  reporter_.SetArgumentString(context_.arguments);
  reporter_.SetCommandLineWriter(
      [level = settings.default_report_level, keep = settings.versions_keep](const SyncOptions& o) {
        return BuildArguments(o, level, keep);
      });
  run_options_ = options_;  // no run goes on yet: the reporter reads these
  if (!line.valid) {
    session_.ExitCode = line.exit_code;
    reporter_.AddReportLine(line.error_line, ReportLineKind::Error, 0, LineFlush::Throttled);
    reporter_.EndRun(line.exit_code, line.error_line);
  }
  ShowOptions();

  // The stored size (in twips), never below the minimum nor, where it can
  // be helped, beyond the screen.
  ApplyMinimumSize();
  const QSize room =
      screen() != nullptr ? screen()->availableGeometry().size() : QSize(INT_MAX, INT_MAX);
  const int height = std::max(
      std::min(TwipsToPixels(settings.height, logicalDpiY()), room.height()), minimumHeight());
  const int width = std::max(std::min(TwipsToPixels(settings.width, logicalDpiX()), room.width()),
                             minimumWidth());
  resize(width, height);
  saved_size_ = {PixelsToTwips(height, logicalDpiY()), PixelsToTwips(width, logicalDpiX()),
                 StartsMaximized(settings, options_.Minimized)};
}

void MainWindow::ShowAtStart() {
  if (options_.Minimized) {
    showMinimized();
  } else if (saved_size_.maximized) {
    showMaximized();
  } else {
    show();
  }
  if (options_.Start) QTimer::singleShot(0, this, &MainWindow::Synchronize);
}

void MainWindow::ShowOptions() {
  SetFieldPath(source_, options_.Source);
  SetFieldPath(target_, options_.Target);
  EnableIdleControls(!running_state_);
  ShowLeaveOutNote();
}

// "Leaving out 3 patterns, 1 patterns file"; the details name each pattern
// and file, up to a screenful of lines.
void MainWindow::ShowLeaveOutNote() {
  const std::vector<std::string>& patterns = options_.LeaveOut;
  const std::vector<std::string>& files = options_.LeaveOutFiles;
  if (running_state_ || (patterns.empty() && files.empty())) {
    lblInfo->SetNote({}, {});
    return;
  }
  QStringList counts;
  if (!patterns.empty()) {
    counts << (patterns.size() == 1 ? tr("1 pattern") : tr("%1 patterns").arg(patterns.size()));
  }
  if (!files.empty()) {
    counts << (files.size() == 1 ? tr("1 patterns file")
                                 : tr("%1 patterns files").arg(files.size()));
  }
  constexpr qsizetype kMostLines = 20;
  QStringList details;
  for (const std::string& pattern : patterns) details << BytesToText(pattern);
  for (const std::string& file : files) details << tr("the patterns in %1").arg(BytesToText(file));
  if (details.size() > kMostLines) {
    const qsizetype more = details.size() - (kMostLines - 1);
    details.resize(kMostLines - 1);
    details << tr("and %1 more").arg(more);
  }
  lblInfo->SetNote(tr("Leaving out %1").arg(counts.join(QStringLiteral(", "))), details);
}

void MainWindow::EnableIdleControls(bool enabled) {
  for (FolderField* field : {&source_, &target_}) {
    field->label->setEnabled(enabled);
    field->edit->setEnabled(enabled);
    field->browse->setEnabled(enabled);
    field->menu->setEnabled(enabled);
  }
  cmdOptions->setEnabled(enabled);
  mnuOptions->setEnabled(enabled);
  const bool report = enabled && !options_.Report.empty();
  cmdReport->setEnabled(report);
  mnuViewReport->setEnabled(report);
}

void MainWindow::SetFieldPath(FolderField& field, const std::string& path) {
  // A folder the program puts into the field (command line, options dialog,
  // browser, drop) is taken to the byte: trimming is for typed text only.
  // (`path` may be the option itself, which the field's change rewrites.)
  const std::string folder = path;
  field.bytes.Set(folder);
  FieldTextChanged(field);
  *field.option = LongFolderForm(*field_fs_, folder);
  UpdateStartState();
}

void MainWindow::FieldTextChanged(FolderField& field) {
  *field.option = FolderFieldPath(*field_fs_, field.bytes.Get());
  UpdateStartState();
  RefreshFieldTip(field);
}

void MainWindow::RefreshFieldTip(FolderField& field) {
  const QString text = field.edit->text();
  const int room = field.edit->contentsRect().width() - 8;
  field.edit->setToolTip(field.edit->fontMetrics().horizontalAdvance(text) > room ? text
                                                                                  : QString());
}

void MainWindow::UpdateStartState() {
  const bool ready = !options_.Source.empty() && !options_.Target.empty();
  mnuStart->setEnabled(ready && !running_state_);
  cmdStart->setEnabled(ready);
  mnuPreview->setEnabled(ready && !running_state_);
  cmdPreview->setEnabled(ready && !running_state_);
}

void MainWindow::Browse(FolderField& field) {
  const std::string chosen =
      BrowseForFolder(this, field.chooser_title, BrowseStartFolder(*field_fs_, field.bytes.Get()));
  if (chosen.empty()) return;
  SetFieldPath(field, AddSeparator(chosen));
  field.edit->selectAll();
  field.edit->setFocus();
}

void MainWindow::BrowseSource() {
  Browse(source_);
}

void MainWindow::BrowseTarget() {
  Browse(target_);
}

MainWindow::FolderField* MainWindow::FieldOf(QObject* control) {
  for (FolderField* field : {&source_, &target_}) {
    if (control == field->label || control == field->edit || control == field->browse) {
      return field;
    }
  }
  return nullptr;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  FolderField* field = FieldOf(watched);
  if (field == nullptr) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
      // Only an existing folder (or a link to one) may be dropped.
      const std::optional<std::string> folder =
          AnswerDrag(*event, folder_drop_, [this](const std::string& path) {
            return FolderExists(*field_fs_, path, FinalLink::Follow);
          });
      if (folder && event->type() == QEvent::Drop) SetFieldPath(*field, AddSeparator(*folder));
      return true;
    }
    case QEvent::FocusIn:
      // While a folder field has the focus, Enter opens its browser.
      if (watched == field->edit) {
        field->browse->setToolTip(field->browse_tip + tr(" (Enter)"));
        SelectAllOnFocus(*field->edit, *static_cast<QFocusEvent*>(event));
      }
      break;
    case QEvent::FocusOut:
      if (watched == field->edit) field->browse->setToolTip(field->browse_tip);
      break;
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      const bool completing =
          field->edit->completer() != nullptr && field->edit->completer()->popup()->isVisible();
      if (watched == field->edit && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
          !completing) {
        field->browse->click();
        return true;
      }
      break;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

// Enter presses the focused button, else Start (the default button).
void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QAbstractButton*>(focusWidget())) {
      button->click();
      return;
    }
    if (!cmdStart->isHidden() && cmdStart->isEnabled()) {
      Synchronize();
      return;
    }
  }
  QMainWindow::keyPressEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  RefreshFieldTip(source_);
  RefreshFieldTip(target_);
}

bool MainWindow::WndProc(QObject& watched, QEvent& event) {
  if (&watched != this) return Form::WndProc(watched, event);
  switch (event.type()) {
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::ThemeChange:
      UpdateOpenForms(*this);
      break;
    default:
      break;
  }
  return false;
}

void MainWindow::Synchronize() {
  StartRun(false);
}

void MainWindow::Preview() {
  StartRun(true);
}

void MainWindow::StartRun(bool preview, QWidget* origin) {
  if (closing_) return;
  run_origin_ = origin != nullptr ? origin : focusWidget();
  if (run_active_) {
    // The last run is between its idle state and its end: start right after.
    start_pending_ = !running_state_;
    pending_preview_ = preview;
    return;
  }
  run_active_ = true;
  // The run gets its own options: what the fields and dialogs change from
  // now on is for the next run, and the run's changes come back at its end.
  run_options_ = options_;
  run_options_.Preview = run_options_.Preview || preview;
  preview_running_ = run_options_.Preview;
  reporter_.SetCommandLineWriter([level = settings_.default_report_level,
                                  keep = settings_.versions_keep](const SyncOptions& o) {
    return BuildArguments(o, level, keep);
  });
  synchronizer_ = std::make_unique<Synchronizer>(run_options_, session_, context_.facts,
                                                 context_.fs, reporter_, host_);
  synchronizer_->SetDeletionGuard({.percent = settings_.deletion_guard_percent});
  worker_ = std::thread([this] {
    run_outcome_ = synchronizer_->Synchronize();
    host_.RunThreadEnds();
  });
}

void MainWindow::RunEnded() {
  if (worker_.joinable()) worker_.join();
  synchronizer_.reset();
  run_active_ = false;
  // What the run made of its options stays for the next runs, unless the
  // window changed the same option meanwhile: the folders as the run took
  // them (with their trailing "/"), and Quiet, which a report that could not
  // be written lifts so that the program stays open to show why.
  const auto take = [](const auto& given, const auto& ended, auto& now) {
    if (ended != given && now == given) now = ended;
  };
  take(run_options_.Source, run_outcome_.source, options_.Source);
  take(run_options_.Target, run_outcome_.target, options_.Target);
  take(run_options_.Quiet, run_outcome_.quiet, options_.Quiet);
  if (start_pending_ && !closing_) {
    start_pending_ = false;
    StartRun(pending_preview_);
  }
}

void MainWindow::RequestStop() {
  session_.StopRequested = 1;
}

void MainWindow::ShowOptionsDialog() {
  if (running_state_ || closing_) return;
  const OptionsDialogContext dialog_context{context_.facts,   context_.folders,
                                            settings_,        *field_fs_,
                                            shortcut_memory_, ProgramPath(GetInstallFolder()),
                                            services_,        &schedule_};
  OptionsDialog dialog(options_, dialog_context, this);
  dialog.setWindowModality(Qt::WindowModal);
  if (dialog.exec() != QDialog::Accepted) return;
  options_ = dialog.AcceptedOptions();
  ShowOptions();
}

void MainWindow::ShowSettingsDialog() {
  SettingsDialog dialog(
      {context_.registry, settings_, context_.folders, *field_fs_, services_, &schedule_}, this);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.exec();
}

void MainWindow::ViewReport() {
  if (options_.Report.empty()) return;
  if (const std::optional<DialogMessage> message =
          twinmere::ViewReport(*field_fs_, options_.Report, settings_.viewer))
    ShowDialogMessage(this, *message, services_.help);
}

void MainWindow::ShowHelpContents() {
  services_.help.ShowHelpTopic(kHelpContents);
}

void MainWindow::EnterWhatsThisMode() {
  QWhatsThis::enterWhatsThisMode();
}

void MainWindow::ShowAbout() {
  AboutDialog about(context_.facts, services_, this);
  about.setWindowModality(Qt::WindowModal);
  about.exec();
}

void MainWindow::ApplyStatus(const StatusProgressView& view) {
  if (closing_) return;
  lblInfo->SetView(view);
  if (running_state_ && view.percent_shown) {
    setWindowTitle(BytesToText(view.progress_text) +
                   (preview_running_ ? tr(" previewed") : tr(" synchronized")));
  }
  if (!view.eta_text.empty() && view.eta_text != eta_text_) {
    eta_text_ = view.eta_text;
    lblInfo->setToolTip(BytesToText(eta_text_));
  }
}

void MainWindow::ApplyRunningState(bool disallow_stop, bool bytes_mode) {
  if (closing_) return;
  const bool had_focus = cmdStart->hasFocus() || cmdPreview->hasFocus();
  running_state_ = true;
  tmrUpdate->start();
  lblInfo->SetBytesMode(bytes_mode);
  eta_text_.clear();
  cmdStart->hide();
  cmdStop->show();
  cmdStop->setEnabled(!disallow_stop);
  if (had_focus && !disallow_stop) cmdStop->setFocus();
  mnuStart->setEnabled(false);
  mnuPreview->setEnabled(false);
  cmdPreview->setEnabled(false);
  mnuStop->setEnabled(!disallow_stop);
  mnuExit->setEnabled(!disallow_stop);
  SetCloseCommand(!disallow_stop);
  EnableIdleControls(false);
  ShowLeaveOutNote();
  // A disabled field keeps neither the focus nor a selection: the focus goes
  // where the run can be followed or stopped.
  for (QLineEdit* field : {txtSource, txtTarget}) field->deselect();
  QWidget* focus = focusWidget();
  if (focus == nullptr || !focus->isEnabled()) {
    if (cmdStop->isEnabled()) {
      cmdStop->setFocus(Qt::OtherFocusReason);
    } else {
      txtReport->setFocus(Qt::OtherFocusReason);
    }
  }
  running_focus_ = focusWidget();
}

void MainWindow::ApplyIdleState() {
  if (closing_) return;
  running_state_ = false;
  tmrUpdate->stop();
  setWindowTitle(QString::fromLatin1(kProgramTitle));
  lblInfo->setToolTip(QString());
  eta_text_.clear();
  // The focus goes back to the control that started the run (Preview stays
  // Preview, so that a second key press never runs for real), unless the
  // user put it elsewhere meanwhile.
  QWidget* focus = focusWidget();
  const bool back_to_origin =
      focus == nullptr || !focus->isEnabled() || focus == cmdStop || focus == running_focus_;
  cmdStop->hide();
  cmdStart->show();
  mnuStop->setEnabled(false);
  mnuExit->setEnabled(true);
  SetCloseCommand(true);
  EnableIdleControls(true);
  ShowLeaveOutNote();
  mnuSelectAll->setEnabled(true);
  mnuClear->setEnabled(true);
  UpdateStartState();
  if (back_to_origin) {
    QWidget* origin = run_origin_;
    if (origin == nullptr || !origin->isVisible() || !origin->isEnabled()) origin = cmdStart;
    origin->setFocus(Qt::OtherFocusReason);
  }
  running_focus_ = nullptr;
}

// The guard's question: the counts, why the guard stopped, and No as the
// default answer (Escape too).
DeletionAnswer MainWindow::ApplyDeletionQuestion(const DeletionQuestion& question) {
  if (closing_) return DeletionAnswer::Keep;
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kProgramTitle),
                  tr("Delete %1 of %2 items from Target?").arg(question.extra).arg(question.items),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName("DeletionQuestion");
  box.setInformativeText(
      question.source_empty
          ? tr("The Source folder is empty. If it is a drive that is not mounted, answer No.")
          : tr("That is more than the deletion guard's %1 % of the Target folder's items.")
                .arg(question.percent));
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  question_ = &box;
  const bool yes = box.exec() == QMessageBox::Yes;
  question_ = nullptr;
  return yes && !closing_ ? DeletionAnswer::Delete : DeletionAnswer::Keep;
}

void MainWindow::ApplyCloseProgram(int /*exit_code*/) {
  CloseFor(CloseReason::AutomaticExit);
}

void MainWindow::ApplyMessageBatch(const std::string& lines) {
  if (closing_) return;
  box_.ShowBatch(lines);
  RefreshReportBox();
}

void MainWindow::ApplyMessageImmediate(const std::string& line) {
  if (closing_) return;
  box_.ShowImmediate(line);
  RefreshReportBox();
}

void MainWindow::ApplyMessageRunBegins() {
  box_.BeginRun();
}

// txtReport shows the message box's text; new lines at the end are appended
// so that a selection survives them.
void MainWindow::RefreshReportBox() {
  std::string text = box_.Text();
  if (text.starts_with('\n')) text.erase(0, 1);
  if (text == shown_report_) return;
  if (!shown_report_.empty() && text.starts_with(shown_report_)) {
    QTextCursor cursor(txtReport->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(
        QString::fromUtf8(text.data() + shown_report_.size(),
                          static_cast<qsizetype>(text.size() - shown_report_.size())));
  } else {
    txtReport->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  shown_report_ = std::move(text);
  QScrollBar* bar = txtReport->verticalScrollBar();
  bar->setValue(bar->maximum());
  mnuSelectAll->setEnabled(!shown_report_.empty());
  mnuClear->setEnabled(!shown_report_.empty());
  mnuCopy->setEnabled(txtReport->textCursor().hasSelection());
}

void MainWindow::CloseFor(CloseReason reason) {
  close_reason_ = reason;
  close();
  close_reason_ = CloseReason::CloseCommand;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A run that may not be stopped keeps the window's Close command from
  // working; every other close request goes on.
  if (running_state_ && !close_command_enabled_ && close_reason_ == CloseReason::CloseCommand) {
    event->ignore();
    return;
  }
  Unload();
  event->accept();
}

void MainWindow::Unload() {
  if (closing_) return;
  session_.StopRequested = 1;
  reporter_.Run().Closing = true;
  closing_ = true;
  tmrUpdate->stop();
  // A run waiting for the guard's question deletes nothing and goes on.
  host_.CloseQuestions();
  if (question_ != nullptr) question_->reject();
  // The run stops at its next check: between items, or between two chunks
  // of the file being copied.
  if (worker_.joinable()) worker_.join();
  synchronizer_.reset();
  run_active_ = false;

  const QRect restored = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
  services_.help.CloseHelpWindow();
  UnloadForm();
  const WindowState now{PixelsToTwips(restored.height(), logicalDpiY()),
                        PixelsToTwips(restored.width(), logicalDpiX()), isMaximized()};
  // A size that cannot be stored is not worth keeping the program open for.
  (void)SaveWindowSize(context_.registry, saved_size_, now);
  hooks_.RemoveHooks();
}

}  // namespace twinmere::ui
