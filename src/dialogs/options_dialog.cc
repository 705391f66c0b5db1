#include "dialogs/options_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/folder_fields.h"
#include "app/help_topics.h"
#include "base/text.h"
#include "dialogs/dialog_support.h"
#include "dialogs/report_level_list.h"
#include "dialogs/shortcut_dialog.h"
#include "fs/paths.h"
#include "widgets/choosers.h"

namespace twinmere::ui {
namespace {

// A chooser beside a path field. It says what it chooses, in its tool tip
// and to a screen reader alike, and has no tab stop and no focus: Enter in
// the field presses it, and the focus stays in the field.
QPushButton* NewChooser(QWidget* parent, const char* name, const QString& chooses) {
  auto* chooser = Named(new QPushButton(parent), name);
  chooser->setToolTip(chooses);
  chooser->setAccessibleName(chooses);
  chooser->setFocusPolicy(Qt::NoFocus);
  return chooser;
}

// `controls` side by side; `wide` (one of them, or none) takes the room left.
QHBoxLayout* NewRow(std::initializer_list<QWidget*> controls, QWidget* wide = nullptr) {
  auto* row = new QHBoxLayout;
  for (QWidget* control : controls) row->addWidget(control, control == wide ? 1 : 0);
  return row;
}

}  // namespace

OptionsDialog::OptionsDialog(const SyncOptions& options, const OptionsDialogContext& context,
                             QWidget* parent)
    : QDialog(parent), context_(context), accepted_(options) {
  setObjectName("OptionsDialog");
  setWindowTitle(tr("Options"));
  CreateControls();
  UpdateUI();
  SetState(LoadOptionsDialog(options, context_.facts));
  RememberPlacedPaths();
  placed_patterns_ = options.LeaveOut;
  SetUpForm(*this, context_.services, kHelpOptionsDialog,
            {txtSource, txtTarget, txtReport, txtRestrict, txtJson, txtLeaveOut});
}

QCheckBox* OptionsDialog::NewCheckBox(const QString& caption, const char* name, QWidget* parent,
                                      CheckBoxState OptionsDialogState::*member) {
  auto* box = Named(new QCheckBox(caption, parent), name);
  boxes_.emplace_back(box, member);
  return box;
}

// The controls are made from the top down, which is their tab order.
void OptionsDialog::CreateControls() {
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(CreateFolderFields());
  layout->addWidget(CreateReportFrame());
  auto* groups = new QHBoxLayout;
  groups->addWidget(CreateSyncFrame(), 1);
  groups->addWidget(CreateProgramFrame());
  layout->addLayout(groups);
  layout->addWidget(CreateLeaveOutFrame(), 1);
  layout->addLayout(CreateVersionsRow());
  layout->addLayout(CreateButtonRow());

  // The drop-down list belongs to the dialog, so that no frame cuts it off.
  lstReportLevel = Named(new ReportLevelList(this), "lstReportLevel");
  lstReportLevel->setAccessibleName(tr("Report level"));
  lstReportLevel->SetFollowMouse(true);
  lstReportLevel->hide();

  AssistPathFields();
  ConnectControls();
  WatchControls();
  DescribeControls();
}

QGridLayout* OptionsDialog::CreateFolderFields() {
  lblSource = Named(new QLabel(tr("S&ource:"), this), "lblSource");
  txtSource = Named(new QLineEdit(this), "txtSource");
  cmdSource = NewChooser(this, "cmdSource", tr("Choose Source folder..."));
  lblTarget = Named(new QLabel(tr("&Target:"), this), "lblTarget");
  txtTarget = Named(new QLineEdit(this), "txtTarget");
  cmdTarget = NewChooser(this, "cmdTarget", tr("Choose Target folder..."));
  lblSource->setBuddy(txtSource);
  lblTarget->setBuddy(txtTarget);
  auto* folders = new QGridLayout;
  folders->addWidget(lblSource, 0, 0);
  folders->addWidget(txtSource, 0, 1);
  folders->addWidget(cmdSource, 0, 2);
  folders->addWidget(lblTarget, 1, 0);
  folders->addWidget(txtTarget, 1, 1);
  folders->addWidget(cmdTarget, 1, 2);
  return folders;
}

// The report file, with how it grows and what it holds below it, and the
// JSON summary: a file of its own, written at the end of each run.
QGroupBox* OptionsDialog::CreateReportFrame() {
  using S = OptionsDialogState;
  fraReport = Named(new QGroupBox(tr("&Report File"), this), "fraReport");
  txtReport = Named(new QLineEdit(fraReport), "txtReport");
  txtReport->setAccessibleName(tr("Report file"));
  cmdReport = NewChooser(fraReport, "cmdReport", tr("Choose report file..."));
  chkAppend = NewCheckBox(tr("&Append"), "chkAppend", fraReport, &S::chkAppend);
  chkRestrict = NewCheckBox(tr("Restrictio&n:"), "chkRestrict", fraReport, &S::chkRestrict);
  txtRestrict = Named(new QLineEdit(fraReport), "txtRestrict");
  txtRestrict->setFixedWidth(txtRestrict->fontMetrics().horizontalAdvance(u'0') * 10 + 12);
  txtRestrict->setAccessibleName(tr("Restriction"));
  lblKb = Named(new QLabel(tr("Kbytes"), fraReport), "lblKb");
  CreateLevelOutline(fraReport);
  lblJson = Named(new QLabel(tr("&JSON summary:"), fraReport), "lblJson");
  txtJson = Named(new QLineEdit(fraReport), "txtJson");
  txtJson->setAccessibleName(tr("JSON summary"));
  cmdJson = NewChooser(fraReport, "cmdJson", tr("Choose JSON summary file..."));
  lblJson->setBuddy(txtJson);

  QHBoxLayout* report_options = NewRow({chkAppend, chkRestrict, txtRestrict, lblKb});
  report_options->addStretch();
  report_options->addWidget(shReportLevel);
  auto* report = new QVBoxLayout(fraReport);
  report->addLayout(NewRow({txtReport, cmdReport}, txtReport));
  report->addLayout(report_options);
  report->addLayout(NewRow({lblJson, txtJson, cmdJson}, txtJson));
  return fraReport;
}

// The report level in a sunken outline, with the button that drops its list
// down.
void OptionsDialog::CreateLevelOutline(QWidget* frame) {
  shReportLevel = Named(new QFrame(frame), "shReportLevel");
  shReportLevel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  shReportLevel->setAccessibleName(tr("Report level"));
  lblReportLevel = Named(new QLabel(shReportLevel), "lblReportLevel");
  cmdReportLevel = Named(new QToolButton(shReportLevel), "cmdReportLevel");
  cmdReportLevel->setArrowType(Qt::DownArrow);
  cmdReportLevel->setAutoRaise(true);
  cmdReportLevel->setToolTip(tr("Adjust Report level..."));
  cmdReportLevel->setAccessibleName(cmdReportLevel->toolTip());
  // A press must not take the focus from the open list before the button
  // knows that the list was open.
  cmdReportLevel->setFocusPolicy(Qt::TabFocus);
  lblReportLevel->setBuddy(cmdReportLevel);
  auto* level_row = new QHBoxLayout(shReportLevel);
  level_row->setContentsMargins(6, 1, 1, 1);
  level_row->addWidget(lblReportLevel, 1);
  level_row->addWidget(cmdReportLevel);
}

QGroupBox* OptionsDialog::CreateSyncFrame() {
  using S = OptionsDialogState;
  fraSync = Named(new QGroupBox(tr("Synchronization options"), this), "fraSync");
  chkBidi = NewCheckBox(tr("&Bidirectional synchronization"), "chkBidi", fraSync, &S::chkBidi);
  chkNew = NewCheckBox(tr("Copy only ne&wer files"), "chkNew", fraSync, &S::chkNew);
  chkDelete =
      NewCheckBox(tr("&Delete extra files and folders"), "chkDelete", fraSync, &S::chkDelete);
  // No access key of its own: no stray Alt combination lifts the guard; Tab
  // reaches it right after the deletions.
  chkForceDelete =
      NewCheckBox(tr("Lift deletion guard"), "chkForceDelete", fraSync, &S::chkForceDelete);
  chkTrash = NewCheckBox(tr("Mov&e deleted items to the Trash"), "chkTrash", fraSync, &S::chkTrash);
  chkNoSecurity = NewCheckBox(tr("Don't copy sec&urity attributes"), "chkNoSecurity", fraSync,
                              &S::chkNoSecurity);
  chkNoDaylight = NewCheckBox(tr("Don't ta&ke into account daylight saving time difference"),
                              "chkNoDaylight", fraSync, &S::chkNoDaylight);
  chkAllowDecryption =
      NewCheckBox(tr("Allow decr&yption"), "chkAllowDecryption", fraSync, &S::chkAllowDecryption);
  chkCase = NewCheckBox(tr("Synchronize &case"), "chkCase", fraSync, &S::chkCase);
  chkSubfolders =
      NewCheckBox(tr("Exclude sub&folders"), "chkSubfolders", fraSync, &S::chkSubfolders);

  auto* sync = new QVBoxLayout(fraSync);
  for (QCheckBox* box : {chkBidi, chkNew, chkDelete}) sync->addWidget(box);
  // The guard belongs to the deletions: indented below them, its box under
  // their caption.
  auto* indented = new QHBoxLayout;
  indented->addSpacing(style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));
  indented->addWidget(chkForceDelete);
  sync->addLayout(indented);
  for (QCheckBox* box :
       {chkTrash, chkNoSecurity, chkNoDaylight, chkAllowDecryption, chkCase, chkSubfolders})
    sync->addWidget(box);
  sync->addStretch();
  return fraSync;
}

QGroupBox* OptionsDialog::CreateProgramFrame() {
  using S = OptionsDialogState;
  fraApp = Named(new QGroupBox(tr("Program options"), this), "fraApp");
  chkStart = NewCheckBox(tr("&Start automatically"), "chkStart", fraApp, &S::chkStart);
  chkMinimized = NewCheckBox(tr("Start minimi&zed"), "chkMinimized", fraApp, &S::chkMinimized);
  chkQuiet = NewCheckBox(tr("E&xit automatically"), "chkQuiet", fraApp, &S::chkQuiet);
  chkQuickStart = NewCheckBox(tr("&Quick start"), "chkQuickStart", fraApp, &S::chkQuickStart);
  chkDisallowStop =
      NewCheckBox(tr("Disa&llow Stop"), "chkDisallowStop", fraApp, &S::chkDisallowStop);
  chkPreview = NewCheckBox(tr("&Preview only"), "chkPreview", fraApp, &S::chkPreview);
  auto* app = new QVBoxLayout(fraApp);
  for (QCheckBox* box :
       {chkStart, chkMinimized, chkQuiet, chkQuickStart, chkDisallowStop, chkPreview})
    app->addWidget(box);
  app->addStretch();
  return fraApp;
}

// What the run leaves out: patterns typed one per line, beside the files that
// hold more of them. Enter in the field starts a new line, Tab leaves it.
// Every letter is some control's access key already: Tab reaches them.
QGroupBox* OptionsDialog::CreateLeaveOutFrame() {
  fraLeaveOut = Named(new QGroupBox(tr("Leave out"), this), "fraLeaveOut");
  lblLeaveOut =
      Named(new QLabel(tr("One per line: *.tmp, cache/, /build/, !keep.tmp"), fraLeaveOut),
            "lblLeaveOut");
  txtLeaveOut = Named(new QPlainTextEdit(fraLeaveOut), "txtLeaveOut");
  txtLeaveOut->setAccessibleName(tr("Leave out"));
  txtLeaveOut->setAccessibleDescription(lblLeaveOut->text());
  txtLeaveOut->setTabChangesFocus(true);
  txtLeaveOut->setLineWrapMode(QPlainTextEdit::NoWrap);
  lblLeaveOutFiles = Named(new QLabel(tr("Patterns files:"), fraLeaveOut), "lblLeaveOutFiles");
  lstLeaveOutFiles = Named(new QListWidget(fraLeaveOut), "lstLeaveOutFiles");
  lstLeaveOutFiles->setAccessibleName(tr("Patterns files"));
  cmdLeaveOutFile =
      Named(new QPushButton(tr("Choose patterns file..."), fraLeaveOut), "cmdLeaveOutFile");
  cmdRemoveLeaveOutFile =
      Named(new QPushButton(tr("Remove"), fraLeaveOut), "cmdRemoveLeaveOutFile");
  cmdRemoveLeaveOutFile->setEnabled(false);
  lblLeaveOut->setBuddy(txtLeaveOut);
  lblLeaveOutFiles->setBuddy(lstLeaveOutFiles);
  // Their height is set by UpdateUI, in lines of the font; the frame takes
  // the room the dialog gains.
  txtLeaveOut->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  lstLeaveOutFiles->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);

  auto* patterns = new QVBoxLayout;
  patterns->addWidget(lblLeaveOut);
  patterns->addWidget(txtLeaveOut, 1);
  auto* files = new QVBoxLayout;
  files->addWidget(lblLeaveOutFiles);
  files->addWidget(lstLeaveOutFiles, 1);
  files->addLayout(NewRow({cmdLeaveOutFile, cmdRemoveLeaveOutFile}));
  auto* frame = new QHBoxLayout(fraLeaveOut);
  frame->addLayout(patterns, 3);
  frame->addLayout(files, 2);
  return fraLeaveOut;
}

// Where the items a run deletes or replaces are kept, and for how many runs.
QHBoxLayout* OptionsDialog::CreateVersionsRow() {
  lblVersions = Named(new QLabel(tr("Vers&ions folder:"), this), "lblVersions");
  txtVersions = Named(new QLineEdit(this), "txtVersions");
  txtVersions->setAccessibleName(tr("Versions folder"));
  cmdVersions = NewChooser(this, "cmdVersions", tr("Choose versions folder..."));
  // Every letter is some control's access key already: Tab from the versions
  // folder's chooser reaches the number.
  lblVersionsKeep = Named(new QLabel(tr("Keep newest:"), this), "lblVersionsKeep");
  spnVersionsKeep = Named(NewKeptRunsBox(this, tr("Keep newest")), "spnVersionsKeep");
  lblVersions->setBuddy(txtVersions);
  lblVersionsKeep->setBuddy(spnVersionsKeep);
  return NewRow({lblVersions, txtVersions, cmdVersions, lblVersionsKeep, spnVersionsKeep},
                txtVersions);
}

QHBoxLayout* OptionsDialog::CreateButtonRow() {
  cmdGet = Named(new QPushButton(tr("&Get options..."), this), "cmdGet");
  cmdShortcut = Named(new QPushButton(tr("&Make shortcut..."), this), "cmdShortcut");
  cmdOK = Named(new QPushButton(tr("OK"), this), "cmdOK");
  cmdCancel = Named(new QPushButton(tr("Cancel"), this), "cmdCancel");
  cmdHelp = Named(new QPushButton(tr("&Help"), this), "cmdHelp");
  cmdOK->setDefault(true);
  QHBoxLayout* buttons = NewRow({cmdGet, cmdShortcut});
  buttons->addStretch();
  for (QPushButton* button : {cmdOK, cmdCancel, cmdHelp}) buttons->addWidget(button);
  return buttons;
}

// The path fields keep their bytes, complete what is typed into them, and
// make their chooser the default button while they have the focus.
void OptionsDialog::AssistPathFields() {
  source_ = ByteText(txtSource);
  target_ = ByteText(txtTarget);
  report_ = ByteText(txtReport);
  json_ = ByteText(txtJson);
  versions_ = ByteText(txtVersions);
  leave_out_ = ByteText(txtLeaveOut);
  AssistTextField(txtSource, cmdSource, cmdOK);
  AssistTextField(txtTarget, cmdTarget, cmdOK);
  AssistTextField(txtReport, cmdReport, cmdOK);
  AssistTextField(txtRestrict);
  AssistTextField(txtJson, cmdJson, cmdOK);
  AssistTextField(txtVersions, cmdVersions, cmdOK);
  QFileSystemModel* folder_paths = DiskModel(this, PathKinds::Folders);
  CompletePaths(txtSource, folder_paths);
  CompletePaths(txtTarget, folder_paths);
  CompletePaths(txtVersions, folder_paths);
  QFileSystemModel* file_paths = DiskModel(this, PathKinds::FoldersAndFiles);
  CompletePaths(txtReport, file_paths);
  CompletePaths(txtJson, file_paths);
}

void OptionsDialog::ConnectControls() {
  connect(chkBidi, &QCheckBox::toggled, this, &OptionsDialog::BidiClicked);
  connect(chkDelete, &QCheckBox::toggled, this, &OptionsDialog::ApplyRules);
  connect(chkSubfolders, &QCheckBox::toggled, this, [this](bool excluded) {
    chkDelete->setText(excluded ? tr("&Delete extra files")
                                : tr("&Delete extra files and folders"));
    chkDelete->setAccessibleName(WithoutAccessKey(chkDelete->text()));
  });
  connect(chkRestrict, &QCheckBox::toggled, this, &OptionsDialog::ApplyRules);
  connect(chkTrash, &QCheckBox::toggled, this, &OptionsDialog::ApplyRules);
  connect(txtReport, &QLineEdit::textChanged, this, &OptionsDialog::ApplyRules);
  connect(txtVersions, &QLineEdit::textChanged, this, &OptionsDialog::ApplyRules);
  connect(txtRestrict, &QLineEdit::textChanged, this, &OptionsDialog::RestrictionEdited);
  connect(lstReportLevel, &ReportLevelList::LevelChanged, this, [this](int32_t level) {
    level_ = level;
    ShowLevel(level);
  });
  connect(cmdReportLevel, &QToolButton::clicked, this, [this] {
    if (!LevelListOpen()) OpenLevelList();
  });
  connect(cmdSource, &QPushButton::clicked, this,
          [this] { BrowseIntoField(this, context_.fs, source_, tr("Select Source folder")); });
  connect(cmdTarget, &QPushButton::clicked, this,
          [this] { BrowseIntoField(this, context_.fs, target_, tr("Select Target folder")); });
  connect(cmdReport, &QPushButton::clicked, this, &OptionsDialog::BrowseReport);
  connect(cmdJson, &QPushButton::clicked, this, &OptionsDialog::BrowseJson);
  connect(cmdVersions, &QPushButton::clicked, this,
          [this] { BrowseIntoField(this, context_.fs, versions_, tr("Select versions folder")); });
  connect(cmdLeaveOutFile, &QPushButton::clicked, this, &OptionsDialog::ChoosePatternsFile);
  connect(cmdRemoveLeaveOutFile, &QPushButton::clicked, this, &OptionsDialog::RemovePatternsFile);
  connect(lstLeaveOutFiles, &QListWidget::currentRowChanged, this,
          [this](int row) { cmdRemoveLeaveOutFile->setEnabled(row >= 0); });
  connect(cmdGet, &QPushButton::clicked, this, &OptionsDialog::GetShortcut);
  connect(cmdShortcut, &QPushButton::clicked, this, &OptionsDialog::MakeShortcut);
  connect(cmdOK, &QPushButton::clicked, this, &OptionsDialog::accept);
  connect(cmdCancel, &QPushButton::clicked, this, &OptionsDialog::reject);
  connect(cmdHelp, &QPushButton::clicked, this, [this] { ShowFormHelp(); });
}

// The dialog watches the level's list and button, what closes the list, and
// the controls that take drops.
void OptionsDialog::WatchControls() {
  for (QObject* watched :
       std::initializer_list<QObject*>{lstReportLevel, cmdReportLevel, cmdOK, cmdCancel,
                                       txtRestrict, fraSync, fraApp, fraReport, lstLeaveOutFiles})
    watched->installEventFilter(this);
  drop_targets_ = {{lblSource, DropKind::Source},      {txtSource, DropKind::Source},
                   {cmdSource, DropKind::Source},      {lblTarget, DropKind::Target},
                   {txtTarget, DropKind::Target},      {cmdTarget, DropKind::Target},
                   {fraReport, DropKind::Report},      {txtReport, DropKind::Report},
                   {cmdReport, DropKind::Report},      {chkAppend, DropKind::Report},
                   {chkRestrict, DropKind::Report},    {txtRestrict, DropKind::Report},
                   {lblKb, DropKind::Report},          {lblReportLevel, DropKind::Report},
                   {cmdReportLevel, DropKind::Report}, {cmdGet, DropKind::Shortcut}};
  for (const auto& [target, kind] : drop_targets_) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
  }
}

// The help of the controls: F1 opens the part of the page that explains the
// control (or its frame); What's This tells what it does.
void OptionsDialog::DescribeControls() {
  SetHelpTopic(*cmdGet, kHelpReadShortcut);
  SetHelpTopic(*cmdShortcut, kHelpShortcutDialog);
  for (QWidget* folder : std::initializer_list<QWidget*>{lblSource, txtSource, cmdSource, lblTarget,
                                                         txtTarget, cmdTarget})
    SetHelpSection(*folder, QStringLiteral("folders"));
  SetHelpSection(*fraSync, QStringLiteral("sync"));
  for (QWidget* control : std::initializer_list<QWidget*>{lblVersions, txtVersions, cmdVersions,
                                                          lblVersionsKeep, spnVersionsKeep})
    SetHelpSection(*control, QStringLiteral("versions"));
  SetHelpSection(*fraApp, QStringLiteral("program"));
  SetHelpSection(*fraLeaveOut, QStringLiteral("leave-out"));
  SetHelpSection(*fraReport, QStringLiteral("report"));
  SetHelpSection(*lstReportLevel, QStringLiteral("report"));

  const std::pair<QWidget*, const char*> help[] = {
      {txtSource, "The folder whose files are copied to the Target folder."},
      {cmdSource, "Chooses the Source folder in a folder browser."},
      {txtTarget, "The folder that is brought in step with the Source folder."},
      {cmdTarget, "Chooses the Target folder in a folder browser."},
      {fraSync, "What a run copies, deletes and compares."},
      {chkBidi,
       "Copies files that are missing or newer on either side to the other side, so that both "
       "folders end up with the newest files. Nothing is deleted then."},
      {chkNew, "Copies a file only when the Source file is newer, not whenever the two differ."},
      {chkDelete, "Deletes the items in the Target folder that the Source folder does not have."},
      {chkForceDelete,
       "Deletes even what the deletion guard would keep: every extra item when the Source "
       "folder is empty, or more than the guard's share of the Target folder's items (see the "
       "preferences). For this run only; the guard asks first, or stops the deletions."},
      {chkTrash,
       "Moves every Target item that a run deletes or replaces to the desktop's Trash, where a "
       "file manager can restore it. Where a file system has no usable Trash, nothing there is "
       "deleted or replaced."},
      {txtVersions,
       "A folder where every Target item that a run deletes or replaces is kept first, in a "
       "folder named for the run's start. Empty for none; not inside the Source folder."},
      {cmdVersions, "Chooses the versions folder in a folder browser."},
      {spnVersionsKeep,
       "How many run folders the versions folder keeps; the oldest go at the end of a run."},
      {chkNoSecurity,
       "Leaves the owner, group and access lists of Target items as they are. Copying them needs "
       "administrative rights, so the box can be changed only with them."},
      {chkNoDaylight,
       "Compares file times exactly. Without it, times exactly one hour apart (a daylight-saving "
       "shift) count as equal."},
      {chkAllowDecryption,
       "Kept in the options and the report for launchers shared with other systems. Linux file "
       "systems have no per-file encryption that a copy could drop, so it changes nothing here."},
      {chkCase, "Gives Target items the letter case of their Source names."},
      {chkSubfolders, "Synchronizes only the items directly inside the two folders."},
      {fraApp, "How the program behaves when it is started with these options."},
      {chkStart, "Starts the run as soon as the program opens with these options."},
      {chkMinimized, "Opens the program's window minimized."},
      {chkQuiet, "Closes the program after a run that was not stopped."},
      {chkQuickStart,
       "Starts copying without exploring the folders first. Progress is then shown in bytes, "
       "since the amount of work is not known."},
      {chkDisallowStop, "Disables Stop and closing the window while a run is going."},
      {chkPreview,
       "Runs a preview: it shows every line the run would write, and changes nothing in the "
       "Source or Target folder."},
      {fraLeaveOut,
       "The items a run leaves alone: they are not compared, copied, replaced or deleted, on "
       "either side."},
      {txtLeaveOut,
       "Patterns of the items to leave out, one per line, each taken as written: *.tmp leaves "
       "out every name that ends in .tmp, cache/ every folder named cache, /build/ the folder "
       "build at the top, and !keep.tmp takes keep.tmp back in. A later line wins over an "
       "earlier one. Enter starts a new line, Tab leaves the field."},
      {lstLeaveOutFiles,
       "Files that hold more patterns, one per line (a line that begins with # is a comment), "
       "read when the run starts. Delete removes the selected file from the list."},
      {cmdLeaveOutFile, "Adds a patterns file, chosen in a file chooser, to the list."},
      {cmdRemoveLeaveOutFile,
       "Removes the selected patterns file from the list; the file itself stays."},
      {fraReport, "Where each run writes its report, and what the report holds."},
      {txtReport,
       "The file each run writes its report to; empty for none. A bare name is placed in the "
       "program's state folder."},
      {cmdReport, "Chooses the report file in a file chooser."},
      {txtJson,
       "A file that each run ends by writing a JSON summary to, also a stopped or refused "
       "run: its options, counters, exit code and errors, for scripts and monitoring. Empty for "
       "none; a bare name is placed in the program's state folder."},
      {cmdJson, "Chooses the JSON summary file in a file chooser."},
      {chkAppend, "Adds each run's report to the end of the file instead of replacing it."},
      {chkRestrict,
       "Keeps the report file within the size in the box by dropping its oldest lines."},
      {txtRestrict, "The largest size of the report file, in kilobytes."},
      {lblKb, "The restriction is counted in kilobytes of 1024 bytes."},
      {shReportLevel, "The report level: the sum of the parts the report includes."},
      {cmdReportLevel,
       "Opens the list of what the report includes. The level is the sum of the checked items."},
      {lstReportLevel, "What the report includes. Space or a click checks or unchecks an item."},
      {cmdGet, "Reads the options of a launcher (a .desktop file) into this dialog."},
      {cmdShortcut,
       "Saves these options as a launcher (a .desktop file) that starts the program with them."},
      {cmdOK, "Uses these options for the next run."},
      {cmdCancel, "Closes the dialog and keeps the options as they were."},
      {cmdHelp, "Opens the help page of this dialog."}};
  for (const auto& [widget, text] : help) widget->setWhatsThis(tr(text));
}

void OptionsDialog::UpdateUI() {
  const QIcon folder = FolderIcon(*this);
  for (QPushButton* browse : {cmdSource, cmdTarget, cmdReport, cmdJson, cmdVersions, cmdGet})
    browse->setIcon(folder);
  cmdShortcut->setIcon(ThemeIcon(*this, "insert-link", QStyle::SP_FileLinkIcon));
  // At least three lines of patterns and two patterns files.
  const int line = txtLeaveOut->fontMetrics().lineSpacing();
  const int margins = 2 * static_cast<int>(txtLeaveOut->document()->documentMargin());
  txtLeaveOut->setMinimumHeight(3 * line + margins + 2 * txtLeaveOut->frameWidth());
  lstLeaveOutFiles->setMinimumHeight(2 * (line + 4) + 2 * lstLeaveOutFiles->frameWidth());
}

OptionsDialogState OptionsDialog::State() const {
  OptionsDialogState state;
  for (const auto& [box, member] : boxes_) state.*member = {box->isChecked(), box->isEnabled()};
  state.txtRestrict = TextToBytes(txtRestrict->text());
  state.txtRestrictEnabled = txtRestrict->isEnabled();
  state.reportLevelEnabled = cmdReportLevel->isEnabled();
  state.txtReport = report_.Get();
  state.txtJson = json_.Get();
  state.txtSource = source_.Get();
  state.txtTarget = target_.Get();
  state.txtVersions = versions_.Get();
  state.VersionsKeep = spnVersionsKeep->value();
  state.versionsEnabled = txtVersions->isEnabled();
  state.versionsKeepEnabled = spnVersionsKeep->isEnabled();
  state.ReportLevel = level_;
  state.txtLeaveOut = leave_out_.Get();
  state.lstLeaveOutFiles = PatternsFiles();
  return state;
}

// Shows `state` as it is: the rules that tie the controls together do not
// run meanwhile (the state obeys them already), the restriction box's own
// check does.
void OptionsDialog::SetState(const OptionsDialogState& state) {
  binding_ = true;
  for (const auto& [box, member] : boxes_) {
    box->setChecked((state.*member).checked);
    box->setEnabled((state.*member).enabled);
  }
  if (txtRestrict->text() != BytesToText(state.txtRestrict))
    txtRestrict->setText(BytesToText(state.txtRestrict));
  txtRestrict->setEnabled(state.txtRestrictEnabled);
  lblKb->setEnabled(state.txtRestrictEnabled);
  lblReportLevel->setEnabled(state.reportLevelEnabled);
  cmdReportLevel->setEnabled(state.reportLevelEnabled);
  report_.Set(state.txtReport);
  json_.Set(state.txtJson);
  source_.Set(state.txtSource);
  target_.Set(state.txtTarget);
  versions_.Set(state.txtVersions);
  spnVersionsKeep->setValue(state.VersionsKeep);
  for (QWidget* control : std::initializer_list<QWidget*>{lblVersions, txtVersions, cmdVersions})
    control->setEnabled(state.versionsEnabled);
  lblVersionsKeep->setEnabled(state.versionsKeepEnabled);
  spnVersionsKeep->setEnabled(state.versionsKeepEnabled);
  level_ = state.ReportLevel;
  lstReportLevel->SetLevel(level_);
  ShowLevel(level_);
  leave_out_.Set(state.txtLeaveOut);
  if (PatternsFiles() != state.lstLeaveOutFiles) ShowPatternsFiles(state.lstLeaveOutFiles);
  binding_ = false;
}

void OptionsDialog::ApplyRules() {
  if (binding_) return;
  OptionsDialogState state = State();
  ApplyOptionsDialogRules(state);
  SetState(state);
}

// Checking Bidi checks New and clears Delete (both disabled then);
// unchecking it clears New.
void OptionsDialog::BidiClicked(bool checked) {
  if (binding_) return;
  if (!checked) chkNew->setChecked(false);
  ApplyRules();
}

void OptionsDialog::RestrictionEdited() {
  if (restoring_restriction_) return;
  std::string text = TextToBytes(txtRestrict->text());
  if (!CheckRestrictionText(text, last_restriction_)) return;
  restoring_restriction_ = true;
  txtRestrict->setText(BytesToText(text));
  txtRestrict->setCursorPosition(std::min(restriction_caret_, int(txtRestrict->text().size())));
  restoring_restriction_ = false;
}

void OptionsDialog::ShowLevel(int32_t level) {
  lblReportLevel->setText(tr("Le&vel:") + u' ' + QString::number(level));
  lblReportLevel->setAccessibleName(WithoutAccessKey(lblReportLevel->text()));
}

void OptionsDialog::RememberPlacedPaths() {
  placed_source_ = source_.Get();
  placed_target_ = target_.Get();
  placed_report_ = report_.Get();
  placed_json_ = json_.Get();
  placed_versions_ = versions_.Get();
  placed_leave_out_ = leave_out_.Get();
  placed_patterns_ = LeaveOutPatterns(placed_leave_out_);
}

// A path the program put into the field (the options, a launcher read back)
// is taken to the byte; text the user changed loses blanks typed around it,
// unless a name with them exists (FolderFieldText).
std::string OptionsDialog::FieldPath(const ByteText& field, const std::string& placed) const {
  const std::string text = field.Get();
  return text == placed ? text : FolderFieldText(context_.fs, text);
}

SyncOptions OptionsDialog::GetOptions() const {
  SyncOptions options = DialogOptions(State(), StateFolder(), context_.settings.versions_keep);
  options.Source = FieldPath(source_, placed_source_);
  options.Target = FieldPath(target_, placed_target_);
  options.Report = QualifyName(FieldPath(report_, placed_report_), StateFolder());
  options.JsonSummary = QualifyName(FieldPath(json_, placed_json_), StateFolder());
  if (!options.Versions.empty()) options.Versions = FieldPath(versions_, placed_versions_);
  if (leave_out_.Get() == placed_leave_out_) options.LeaveOut = placed_patterns_;
  return options;
}

std::string OptionsDialog::StateFolder() const {
  return ProgramStateFolder(context_.folders);
}

void OptionsDialog::ReadShortcutOptions(const std::string& path) {
  OptionsDialogState state = State();
  const ShortcutOptionsContext read{StateFolder(), context_.settings.default_report_level,
                                    context_.settings.versions_keep};
  if (const std::optional<DialogMessage> message =
          twinmere::ReadShortcutOptions(path, read, state, context_.memory)) {
    ShowDialogMessage(this, *message, Services().help);
    return;
  }
  SetState(state);
  RememberPlacedPaths();
}

void OptionsDialog::GetShortcut() {
  FileRequest request;
  request.title = tr("Select shortcut file");
  request.filter = QString::fromLatin1(kLauncherFilesFilter);
  request.default_extension = QStringLiteral("desktop");
  request.must_exist = true;
  const std::string& last = context_.memory.LastShortcutFile;
  request.file_name = last;
  request.initial_folder = FolderPart(last);
  if (request.initial_folder.empty()) request.initial_folder = context_.settings.shortcut_dir;
  if (ChooseFile(this, request)) ReadShortcutOptions(request.file_name);
}

void OptionsDialog::MakeShortcut() {
  const ShortcutDialogContext shortcut{context_.fs,
                                       context_.program_path,
                                       context_.settings.shortcut_dir,
                                       context_.settings.default_report_level,
                                       AddSeparator(ProgramsFolder(context_.folders)),
                                       context_.schedule,
                                       context_.settings.versions_keep};
  ShortcutDialog dialog(GetOptions(), shortcut, context_.memory, Services(), this);
  dialog.setWindowModality(Qt::WindowModal);
  dialog.exec();
}

void OptionsDialog::BrowseReport() {
  if (const std::optional<std::string> chosen =
          ChooseReportFile(this, tr("Choose file to save report in"), report_.Get(),
                           context_.folders.documents, ReportFolderText::ReportFileInIt)) {
    report_.Set(*chosen);
    txtReport->selectAll();
  }
  txtReport->setFocus();
}

void OptionsDialog::BrowseJson() {
  std::string proposal = TrimBlanks(json_.Get());
  if (proposal.empty()) proposal = AddSeparator(context_.folders.documents) + "twinmere-run.json";
  FileRequest request;
  request.mode = FileRequest::Mode::Save;
  request.title = tr("Choose file to save JSON summary in");
  request.filter = QStringLiteral("JSON files (*.json)|*.json|All files (*)|*");
  request.default_extension = QStringLiteral("json");
  request.file_name = proposal;
  request.initial_folder = FolderPart(proposal);
  if (ChooseFile(this, request)) {
    json_.Set(request.file_name);
    txtJson->selectAll();
  }
  txtJson->setFocus();
}

void OptionsDialog::ShowPatternsFiles(const std::vector<std::string>& files) {
  lstLeaveOutFiles->clear();
  for (const std::string& file : files) {
    auto* item = new QListWidgetItem(BytesToText(file), lstLeaveOutFiles);
    item->setToolTip(Qt::convertFromPlainText(item->text(), Qt::WhiteSpaceNoWrap));
    item->setData(Qt::UserRole, QByteArray::fromStdString(file));
  }
}

std::vector<std::string> OptionsDialog::PatternsFiles() const {
  std::vector<std::string> files;
  for (int row = 0; row < lstLeaveOutFiles->count(); ++row)
    files.push_back(lstLeaveOutFiles->item(row)->data(Qt::UserRole).toByteArray().toStdString());
  return files;
}

// A chosen file joins the end of the list, unless it is there already; either
// way it is selected.
void OptionsDialog::ChoosePatternsFile() {
  std::vector<std::string> files = PatternsFiles();
  FileRequest request;
  request.title = tr("Choose patterns file");
  request.filter = QStringLiteral("All files (*)|*");
  request.must_exist = true;
  request.initial_folder = files.empty() ? context_.folders.documents : FolderPart(files.back());
  if (!ChooseFile(this, request)) return;
  const auto row = std::find(files.begin(), files.end(), request.file_name) - files.begin();
  if (row == static_cast<ptrdiff_t>(files.size())) {
    files.push_back(request.file_name);
    ShowPatternsFiles(files);
  }
  lstLeaveOutFiles->setCurrentRow(static_cast<int>(row));
  lstLeaveOutFiles->setFocus();
}

// The file below the removed one is selected next (the one above at the end);
// with none left, the focus goes to the chooser.
void OptionsDialog::RemovePatternsFile() {
  const int row = lstLeaveOutFiles->currentRow();
  if (row < 0) return;
  delete lstLeaveOutFiles->takeItem(row);
  if (lstLeaveOutFiles->count() == 0) {
    cmdLeaveOutFile->setFocus();
    return;
  }
  lstLeaveOutFiles->setCurrentRow(std::min(row, lstLeaveOutFiles->count() - 1));
  lstLeaveOutFiles->setFocus();
}

// A pattern the matcher refuses keeps the dialog open: the message names its
// line, which is selected.
bool OptionsDialog::LeaveOutIsValid() {
  const std::string text = leave_out_.Get();
  const std::optional<int> line = FirstInvalidLeaveOutLine(text);
  if (!line) return true;
  const QTextBlock block = txtLeaveOut->document()->findBlockByNumber(*line - 1);
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  txtLeaveOut->setTextCursor(cursor);
  txtLeaveOut->setFocus();
  const QString message = tr("Line %1 of Leave out is not a pattern that can be used:\n\n%2\n\n"
                             "A \"\\\" at its end, a [:class:] that is not known, or nothing "
                             "but \"!\" and \"/\" make a pattern unusable.")
                              .arg(*line)
                              .arg(block.text());
  ShowDialogMessage(this, {TextToBytes(message), MessageIcon::Exclamation, kHelpOptionsDialog},
                    Services().help);
  return false;
}

bool OptionsDialog::LevelListOpen() const {
  return lstReportLevel->isVisible();
}

// The list drops below the outline of the level, at its left edge (moved
// left as far as needed to stay inside the dialog), over everything else.
void OptionsDialog::OpenLevelList() {
  if (LevelListOpen() || !cmdReportLevel->isEnabled()) return;
  const QPoint below = shReportLevel->mapTo(this, QPoint(0, shReportLevel->height()));
  const int width = std::max(shReportLevel->width(), lstReportLevel->sizeHintForColumn(0) +
                                                         2 * lstReportLevel->frameWidth() + 8);
  const int left = std::max(0, std::min(below.x(), this->width() - width));
  lstReportLevel->setGeometry(left, below.y(), width, lstReportLevel->FullHeight());
  lstReportLevel->raise();
  lstReportLevel->show();
  lstReportLevel->setFocus(Qt::OtherFocusReason);
}

// Closing gives the focus back to the drop-down button; the list hides as
// it loses the focus.
void OptionsDialog::CloseLevelList() {
  if (!LevelListOpen()) return;
  cmdReportLevel->setFocus(Qt::OtherFocusReason);
  if (LevelListOpen()) {
    lstReportLevel->hide();
    lstReportLevel->clearSelection();
  }
}

bool OptionsDialog::LevelListEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape ||
          (key->key() == Qt::Key_Up && (key->modifiers() & Qt::AltModifier))) {
        CloseLevelList();
        return true;
      }
      break;
    }
    case QEvent::FocusOut: {
      // Also when the dialog loses activation; the focus comes back to the
      // button with it.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason == Qt::ActiveWindowFocusReason) cmdReportLevel->setFocus(Qt::OtherFocusReason);
      // A press on a control takes the focus before the control sees the
      // press: remember for that press that the list was open.
      if (reason == Qt::MouseFocusReason) {
        closed_by_press_ = true;
        QTimer::singleShot(0, this, [this] { closed_by_press_ = false; });
      }
      lstReportLevel->hide();
      lstReportLevel->clearSelection();
      lstReportLevel->setCurrentItem(nullptr);
      break;
    }
    default:
      break;
  }
  return false;
}

// The button opens the list on a press of the left button without Shift,
// Ctrl or Alt (and closes it when it is open), on Enter and on Down; a click
// (Space, or the mouse with a modifier) only opens it.
bool OptionsDialog::LevelButtonEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton ||
          (mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
        return false;
      if (LevelListOpen()) {
        CloseLevelList();
      } else {
        OpenLevelList();
      }
      cmdReportLevel->setDown(true);
      level_press_ = true;
      return true;  // no click follows
    }
    case QEvent::MouseButtonRelease:
      if (!level_press_ || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
        return false;
      level_press_ = false;
      cmdReportLevel->setDown(false);
      return true;
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Down) return false;
      if (LevelListOpen()) {
        CloseLevelList();
      } else {
        OpenLevelList();
      }
      return true;
    }
    default:
      return false;
  }
}

bool OptionsDialog::DropEvent(DropKind kind, QEvent* event) {
  if (!IsDragEvent(*event)) return false;
  FileSystem& fs = context_.fs;
  std::optional<std::string> path;
  switch (kind) {
    case DropKind::Source:
    case DropKind::Target:
      path = AnswerDrag(*event, folder_drop_, [&fs](const std::string& p) {
        return FolderExists(fs, p, FinalLink::Follow);
      });
      break;
    case DropKind::Report:
      path = AnswerDrag(*event, report_drop_,
                        [&fs](const std::string& p) { return NamesExistingNonFolder(fs, p); });
      break;
    case DropKind::Shortcut:
      path = AnswerDrag(*event, shortcut_drop_,
                        [&fs](const std::string& p) { return IsShortcutDrop(fs, p); });
      break;
  }
  if (!path || event->type() != QEvent::Drop) return true;
  switch (kind) {
    case DropKind::Source:
      source_.Set(AddSeparator(*path));
      break;
    case DropKind::Target:
      target_.Set(AddSeparator(*path));
      break;
    case DropKind::Report:
      report_.Set(*path);
      break;
    case DropKind::Shortcut:
      ReadShortcutOptions(*path);
      break;
  }
  return true;
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
  for (const auto& [target, kind] : drop_targets_) {
    if (watched == target && DropEvent(kind, event)) return true;
  }
  if (watched == lstReportLevel)
    return LevelListEvent(event) || QDialog::eventFilter(watched, event);
  if (watched == cmdReportLevel && LevelButtonEvent(event)) return true;
  if (watched == lstLeaveOutFiles && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    RemovePatternsFile();
    return true;
  }
  if (watched == txtRestrict && event->type() == QEvent::KeyPress) {
    restriction_caret_ = txtRestrict->hasSelectedText() ? txtRestrict->selectionStart()
                                                        : txtRestrict->cursorPosition();
  }
  if (event->type() == QEvent::MouseButtonPress && (LevelListOpen() || closed_by_press_)) {
    closed_by_press_ = false;
    CloseLevelList();
    // OK and Cancel only close the list while it is open.
    if (watched == cmdOK || watched == cmdCancel) return true;
  }
  return QDialog::eventFilter(watched, event);
}

// A click on the dialog itself closes the list.
void OptionsDialog::mousePressEvent(QMouseEvent* event) {
  CloseLevelList();
  QDialog::mousePressEvent(event);
}

void OptionsDialog::accept() {
  if (LevelListOpen()) {
    CloseLevelList();
    return;
  }
  if (!LeaveOutIsValid()) return;
  accepted_ = GetOptions();
  accepted_.Source = AddSeparator(accepted_.Source);
  accepted_.Target = AddSeparator(accepted_.Target);
  QDialog::accept();
}

void OptionsDialog::reject() {
  if (LevelListOpen()) {
    CloseLevelList();
    return;
  }
  QDialog::reject();
}

// Closing the window is no Cancel: it closes the dialog with the list too.
void OptionsDialog::closeEvent(QCloseEvent* event) {
  CloseLevelList();
  QDialog::closeEvent(event);
}

}  // namespace twinmere::ui
