#include "dialogs/settings_dialog.h"

#include <QEvent>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <functional>
#include <initializer_list>
#include <utility>

#include "app/desktop_entry.h"
#include "app/folder_fields.h"
#include "app/help_topics.h"
#include "base/text.h"
#include "dialogs/dialog_support.h"
#include "dialogs/report_level_list.h"
#include "fs/paths.h"
#include "platform/program_start.h"
#include "widgets/choosers.h"

namespace twinmere::ui {
namespace {

// `label` and `control` at the left of a row of their own.
QHBoxLayout* NewLeftRow(QWidget* label, QWidget* control) {
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(control);
  row->addStretch();
  return row;
}

}  // namespace

SettingsDialog::SettingsDialog(const SettingsDialogContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
  setObjectName("SettingsDialog");
  setWindowTitle(tr("Preferences"));
  CreateControls();
  UpdateUI();
  const ProgramSettings& settings = context_.settings;
  level_ = settings.default_report_level;
  shortcuts_.Set(settings.shortcut_dir);
  report_.Set(settings.default_report);
  viewer_.Set(settings.viewer);
  lstReportLevel->SetLevel(level_);
  spnVersionsKeep->setValue(settings.versions_keep);
  ShowLevel();
  spnGuard->setValue(settings.deletion_guard_percent);
  ShowScheduledRuns();
  SetUpForm(*this, context_.services, kHelpPreferences, {txtViewer, txtShortcuts, txtReport});
}

// The controls stand in one grid of two columns, made from the top down (the
// order that is their tab order); the wide controls span both.
void SettingsDialog::CreateControls() {
  auto* grid = new QGridLayout;
  int row = AddPathFields(*grid, 0);
  row = AddLevel(*grid, row);
  row = AddLimits(*grid, row);
  AddScheduledRuns(*grid, row);
  grid->setColumnStretch(0, 1);
  QHBoxLayout* buttons = CreateButtonRow();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);

  AssistPathFields();
  ConnectControls();
  DescribeControls();
}

// The three paths, each with its label above it and its chooser beside it.
int SettingsDialog::AddPathFields(QGridLayout& grid, int row) {
  lblShortcuts = Named(new QLabel(tr("Default &shortcuts location:"), this), "lblShortcuts");
  txtShortcuts = Named(new QLineEdit(this), "txtShortcuts");
  // Each chooser says what it chooses: the three stand in one column.
  cmdShortcuts = Named(new QPushButton(tr("Choose shortcuts folder..."), this), "cmdShortcuts");
  lblReport = Named(new QLabel(tr("Default &report file:"), this), "lblReport");
  txtReport = Named(new QLineEdit(this), "txtReport");
  cmdReport = Named(new QPushButton(tr("Choose report file..."), this), "cmdReport");
  lblViewer = Named(new QLabel(tr("Report &viewer:"), this), "lblViewer");
  txtViewer = Named(new QLineEdit(this), "txtViewer");
  cmdViewer = Named(new QPushButton(tr("Choose report viewer..."), this), "cmdViewer");
  for (const auto& [label, field, button] :
       {std::tuple{lblShortcuts, txtShortcuts, cmdShortcuts},
        std::tuple{lblReport, txtReport, cmdReport}, std::tuple{lblViewer, txtViewer, cmdViewer}}) {
    label->setBuddy(field);
    field->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    grid.addWidget(label, row++, 0, 1, 2);
    grid.addWidget(field, row, 0);
    grid.addWidget(button, row++, 1);
  }
  return row;
}

// The default report level, as a number and as the list of what it includes.
int SettingsDialog::AddLevel(QGridLayout& grid, int row) {
  lblLevel = Named(new QLabel(tr("Default report &level:"), this), "lblLevel");
  lblLevelValue = Named(new QLabel(this), "lblLevelValue");
  lstReportLevel = Named(new ReportLevelList(this), "lstReportLevel");
  lstReportLevel->setSelectionMode(QAbstractItemView::NoSelection);
  lstReportLevel->setFixedHeight(lstReportLevel->FullHeight());
  lstReportLevel->setAccessibleName(tr("Default report level"));
  lblLevel->setBuddy(lstReportLevel);
  auto* level = new QHBoxLayout;
  level->addWidget(lblLevel);
  level->addWidget(lblLevelValue, 1);
  grid.addLayout(level, row++, 0, 1, 2);
  grid.addWidget(lstReportLevel, row++, 0, 1, 2);
  return row;
}

// The deletion guard's share of Target's items, and how many runs versions
// folders keep.
int SettingsDialog::AddLimits(QGridLayout& grid, int row) {
  lblGuard = Named(new QLabel(tr("Deletion &guard: stop deleting more than"), this), "lblGuard");
  spnGuard = Named(new QSpinBox(this), "spnGuard");
  spnGuard->setRange(0, 100);
  spnGuard->setSuffix(tr(" % of Target"));
  NameSpinBox(*spnGuard, tr("Deletion guard: stop deleting more than"));
  lblGuard->setBuddy(spnGuard);
  lblVersionsKeep =
      Named(new QLabel(tr("Versions folders &keep the newest:"), this), "lblVersionsKeep");
  spnVersionsKeep =
      Named(NewKeptRunsBox(this, tr("Versions folders keep the newest")), "spnVersionsKeep");
  lblVersionsKeep->setBuddy(spnVersionsKeep);
  grid.addLayout(NewLeftRow(lblGuard, spnGuard), row++, 0, 1, 2);
  grid.addLayout(NewLeftRow(lblVersionsKeep, spnVersionsKeep), row++, 0, 1, 2);
  return row;
}

// The scheduled runs, only where there are any to offer.
int SettingsDialog::AddScheduledRuns(QGridLayout& grid, int row) {
  lblScheduled = Named(new QLabel(tr("Sch&eduled runs:"), this), "lblScheduled");
  lstScheduled = Named(new QListWidget(this), "lstScheduled");
  lstScheduled->setAccessibleName(tr("Scheduled runs"));
  lstScheduled->setFixedHeight(lstScheduled->fontMetrics().height() * 5);
  lblScheduled->setBuddy(lstScheduled);
  cmdRemove = Named(new QPushButton(tr("Re&move"), this), "cmdRemove");
  const bool scheduling = context_.schedule != nullptr;
  for (QWidget* control : std::initializer_list<QWidget*>{lblScheduled, lstScheduled, cmdRemove})
    control->setVisible(scheduling);
  grid.addWidget(lblScheduled, row++, 0, 1, 2);
  grid.addWidget(lstScheduled, row, 0);
  grid.addWidget(cmdRemove, row++, 1, Qt::AlignTop);
  return row;
}

QHBoxLayout* SettingsDialog::CreateButtonRow() {
  cmdOK = Named(new QPushButton(tr("OK"), this), "cmdOK");
  cmdCancel = Named(new QPushButton(tr("Cancel"), this), "cmdCancel");
  cmdHelp = Named(new QPushButton(tr("&Help"), this), "cmdHelp");
  cmdOK->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  buttons->addWidget(cmdHelp);
  return buttons;
}

// The path fields keep their bytes, complete what is typed into them, take
// drops, and make their chooser the default button while they have the
// focus.
void SettingsDialog::AssistPathFields() {
  shortcuts_ = ByteText(txtShortcuts);
  report_ = ByteText(txtReport);
  viewer_ = ByteText(txtViewer);
  AssistTextField(txtShortcuts, cmdShortcuts, cmdOK);
  AssistTextField(txtReport, cmdReport, cmdOK);
  AssistTextField(txtViewer, cmdViewer, cmdOK);
  CompletePaths(txtShortcuts, DiskModel(this, PathKinds::Folders));
  QFileSystemModel* files = DiskModel(this, PathKinds::FoldersAndFiles);
  CompletePaths(txtReport, files);
  CompletePaths(txtViewer, files);
  for (QLineEdit* field : {txtShortcuts, txtReport, txtViewer}) {
    field->setAcceptDrops(true);
    field->installEventFilter(this);
  }
}

void SettingsDialog::ConnectControls() {
  lstReportLevel->installEventFilter(this);
  connect(lstReportLevel, &ReportLevelList::LevelChanged, this, [this](int32_t level) {
    level_ = level;
    ShowLevel();
  });
  connect(cmdShortcuts, &QPushButton::clicked, this, [this] {
    BrowseIntoField(this, context_.fs, shortcuts_, tr("Select default shortcuts location"));
  });
  connect(cmdReport, &QPushButton::clicked, this, &SettingsDialog::ChooseReport);
  connect(cmdViewer, &QPushButton::clicked, this, &SettingsDialog::ChooseViewer);
  connect(cmdRemove, &QPushButton::clicked, this, &SettingsDialog::RemoveScheduledRun);
  connect(lstScheduled, &QListWidget::currentRowChanged, this,
          [this](int row) { cmdRemove->setEnabled(row >= 0); });
  connect(cmdOK, &QPushButton::clicked, this, &SettingsDialog::accept);
  connect(cmdCancel, &QPushButton::clicked, this, &SettingsDialog::reject);
  connect(cmdHelp, &QPushButton::clicked, this, [this] { ShowFormHelp(); });
}

// The help of the controls: F1 opens the part of the page that explains the
// control; What's This tells what it does.
void SettingsDialog::DescribeControls() {
  const std::pair<QWidget*, const char*> sections[] = {
      {lblShortcuts, "shortcuts"},   {txtShortcuts, "shortcuts"},  {cmdShortcuts, "shortcuts"},
      {lblReport, "report-file"},    {txtReport, "report-file"},   {cmdReport, "report-file"},
      {lblViewer, "report-viewer"},  {txtViewer, "report-viewer"}, {cmdViewer, "report-viewer"},
      {lblLevel, "level"},           {lblLevelValue, "level"},     {lstReportLevel, "level"},
      {lblGuard, "guard"},           {spnGuard, "guard"},

      {lblVersionsKeep, "versions"}, {spnVersionsKeep, "versions"}};
  for (const auto& [control, section] : sections)
    SetHelpSection(*control, QString::fromLatin1(section));

  const std::pair<QWidget*, const char*> help[] = {
      {txtShortcuts,
       "The folder that the shortcut dialog proposes for new launchers. Launchers below the "
       "desktop's applications folder show up in its application menu."},
      {cmdShortcuts, "Chooses the default shortcuts folder in a folder browser."},
      {txtReport,
       "The report file used when the program is started without any arguments; empty for "
       "none."},
      {cmdReport, "Chooses the default report file in a file chooser."},
      {txtViewer,
       "The program that View Report opens the report with: a name found along the search path, "
       "or a path. It gets the report file as its one argument."},
      {cmdViewer, "Chooses the report viewer program in a file chooser."},
      {lblLevelValue, "The default report level: the sum of the checked items below."},
      {lstReportLevel,
       "What reports include unless the command line says otherwise. The number is the sum of "
       "the checked items."},
      {spnGuard,
       "Before a run deletes extra items in the Target folder, it counts them. When they are "
       "at least 20 and more than this share of the Target folder's items, or the Source "
       "folder is empty, nothing is deleted: the window asks first, a run that exits by itself "
       "or the command line stops the deletions. The option Lift deletion guard (-fd) lets one "
       "run delete them all the same."},
      {spnVersionsKeep,
       "How many run folders a versions folder keeps when the command line does not say (-vk); "
       "the oldest go at the end of a run."},
      {lstScheduled,
       "The launchers whose synchronization runs by itself (Run automatically in the shortcut "
       "dialog), each with its launcher and how often it runs."},
      {cmdRemove,
       "Takes the chosen scheduled run out of the list; OK then stops its timer and removes "
       "it. The launcher itself stays."},
      {cmdOK,
       "Stores the preferences. A value equal to its default is removed from the settings "
       "instead."},
      {cmdCancel, "Closes the dialog without changing the preferences."},
      {cmdHelp, "Opens the help page of this dialog."}};
  for (const auto& [widget, text] : help) widget->setWhatsThis(tr(text));
}

// The three choosers alike: a folder for the folder, an open file for the
// two files.
void SettingsDialog::UpdateUI() {
  cmdShortcuts->setIcon(FolderIcon(*this));
  const QIcon file = ThemeIcon(*this, "document-open", QStyle::SP_DialogOpenButton);
  cmdReport->setIcon(file);
  cmdViewer->setIcon(file);
}

void SettingsDialog::ShowLevel() {
  lblLevelValue->setText(QString::number(level_));
  lblLevelValue->setAccessibleName(lblLevelValue->text());
}

void SettingsDialog::ShowScheduledRuns() {
  if (context_.schedule != nullptr) scheduled_ = ListScheduledRuns(context_.schedule->unit_folder);
  lstScheduled->clear();
  for (const ScheduledRun& run : scheduled_) {
    const std::string file = run.launcher.substr(run.launcher.rfind('/') + 1);
    auto* item = new QListWidgetItem(BytesToText(WithoutDesktopEntryExtension(file)) +
                                         QStringLiteral(" \u2014 ") +
                                         QString::fromLatin1(ScheduleName(run.schedule)),
                                     lstScheduled);
    // The launcher, for the mouse and for a screen reader.
    item->setToolTip(BytesToText(run.launcher));
    item->setData(Qt::AccessibleDescriptionRole, tr("Launcher: %1").arg(BytesToText(run.launcher)));
  }
  cmdRemove->setEnabled(false);
}

void SettingsDialog::RemoveScheduledRun() {
  const int row = lstScheduled->currentRow();
  if (row < 0 || row >= static_cast<int>(scheduled_.size())) return;
  removed_.push_back(scheduled_[static_cast<size_t>(row)]);
  scheduled_.erase(scheduled_.begin() + row);
  delete lstScheduled->takeItem(row);
  cmdRemove->setEnabled(lstScheduled->currentRow() >= 0);
}

void SettingsDialog::ChooseReport() {
  const std::optional<std::string> chosen =
      ChooseReportFile(this, tr("Choose file to save report by default"), report_.Get(),
                       context_.folders.documents, ReportFolderText::AsWritten);
  if (!chosen) return;
  report_.Set(*chosen);
  txtReport->selectAll();
  txtReport->setFocus();
}

// The chooser opens where the viewer is: a bare name is looked up along
// PATH, as starting it would.
void SettingsDialog::ChooseViewer() {
  std::string proposal = TrimBlanks(viewer_.Get());
  if (proposal.empty()) proposal = kDefaultViewer;
  if (proposal.find(kSeparator) == std::string::npos) {
    const QString found = QStandardPaths::findExecutable(BytesToText(proposal));
    if (!found.isEmpty()) proposal = TextToBytes(found);
  }
  FileRequest request;
  request.title = tr("Choose program to view report file");
  request.filter = QString::fromLatin1(kProgramFilesFilter);
  request.must_exist = true;
  request.file_name = proposal;
  request.initial_folder = FolderPart(proposal);
  if (!ChooseFile(this, request)) return;
  viewer_.Set(request.file_name);
  txtViewer->selectAll();
  txtViewer->setFocus();
}

void SettingsDialog::accept() {
  ProgramSettings edited =
      EditedSettings(context_.settings, shortcuts_.Get(), report_.Get(), viewer_.Get(), level_);
  edited.deletion_guard_percent = spnGuard->value();
  edited.versions_keep = spnVersionsKeep->value();
  const std::optional<RegistryError> refused = StoreDialogSettings(context_.registry, edited);
  context_.settings = edited;
  for (const ScheduledRun& run : removed_) {
    if (const std::optional<DialogMessage> message =
            twinmere::RemoveScheduledRun(run, *context_.schedule))
      ShowDialogMessage(this, *message, Services().help);
  }
  removed_.clear();
  if (refused) {
    ShowDialogMessage(
        this,
        DialogMessage{"The preferences could not be stored.\n\n" + refused->Description(),
                      MessageIcon::Exclamation, kHelpPreferences},
        Services().help);
  }
  QDialog::accept();
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == lstReportLevel) {
    // The current item shows only while the list has the focus.
    if (type == QEvent::FocusIn && lstReportLevel->currentItem() == nullptr) {
      lstReportLevel->selectionModel()->setCurrentIndex(lstReportLevel->model()->index(0, 0),
                                                        QItemSelectionModel::NoUpdate);
    } else if (type == QEvent::FocusOut) {
      lstReportLevel->selectionModel()->setCurrentIndex(QModelIndex(),
                                                        QItemSelectionModel::NoUpdate);
    }
    return QDialog::eventFilter(watched, event);
  }
  if (!IsDragEvent(*event)) return QDialog::eventFilter(watched, event);

  // The shortcuts box takes a folder, the report box anything else, the
  // viewer box a program.
  FileSystem& fs = context_.fs;
  DropVerdict* verdict = &viewer_drop_;
  ByteText* field = &viewer_;
  std::function<bool(const std::string&)> check = [](const std::string& p) {
    return IsProgramFile(p);
  };
  if (watched == txtShortcuts) {
    verdict = &shortcuts_drop_;
    field = &shortcuts_;
    check = [&fs](const std::string& p) { return FolderExists(fs, p, FinalLink::Follow); };
  } else if (watched == txtReport) {
    verdict = &report_drop_;
    field = &report_;
    check = [&fs](const std::string& p) { return NamesExistingNonFolder(fs, p); };
  }
  const std::optional<std::string> path = AnswerDrag(*event, *verdict, check);
  if (path && type == QEvent::Drop)
    field->Set(watched == txtShortcuts ? AddSeparator(*path) : *path);
  return true;
}

}  // namespace twinmere::ui
