#include "dialogs/shortcut_dialog.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <utility>

#include "dialogs/dialog_support.h"
#include "fs/paths.h"
#include "widgets/choosers.h"

namespace twinmere::ui {

ShortcutDialog::ShortcutDialog(const SyncOptions& options, const ShortcutDialogContext& context,
                               ShortcutMemory& memory, FormServices& services, QWidget* parent)
    : QDialog(parent), context_(context), memory_(memory) {
  setObjectName("ShortcutDialog");
  setWindowTitle(tr("Shortcut Options"));
  CreateControls();
  UpdateUI();
  const ShortcutDialogFields fields = LoadShortcutDialog(options, memory_, context_);
  path_.Set(fields.txtPath);
  filename_.Set(fields.txtFilename);
  title_.Set(fields.txtTitle);
  cmdline_.Set(fields.txtCmdline);
  cboSchedule->setCurrentIndex(static_cast<int>(fields.cboSchedule));
  for (QLineEdit* field : {txtFilename, txtPath, txtCmdline, txtTitle}) field->setCursorPosition(0);
  FitCommandLine();
  SetUpForm(*this, services, kHelpShortcutDialog, {txtFilename, txtPath, txtCmdline, txtTitle});
}

void ShortcutDialog::CreateControls() {
  fraShortcut = Named(new QGroupBox(tr("Shortcut File"), this), "fraShortcut");
  lblPath = Named(new QLabel(tr("Save &in:"), fraShortcut), "lblPath");
  txtPath = Named(new QLineEdit(fraShortcut), "txtPath");
  cmdShortcut = Named(new QPushButton(fraShortcut), "cmdShortcut");
  lblFilename = Named(new QLabel(tr("&Name:"), fraShortcut), "lblFilename");
  txtFilename = Named(new QLineEdit(fraShortcut), "txtFilename");
  lblPath->setBuddy(txtPath);
  lblFilename->setBuddy(txtFilename);
  cmdShortcut->setToolTip(tr("Choose file..."));
  // No tab stop and no focus: Enter in the two fields presses it.
  cmdShortcut->setFocusPolicy(Qt::NoFocus);
  auto* file = new QGridLayout(fraShortcut);
  file->addWidget(lblPath, 0, 0);
  file->addWidget(txtPath, 0, 1);
  file->addWidget(cmdShortcut, 0, 2);
  file->addWidget(lblFilename, 1, 0);
  file->addWidget(txtFilename, 1, 1, 1, 2);

  fraData = Named(new QGroupBox(tr("Shortcut Data"), this), "fraData");
  lblComment = Named(new QLabel(tr("C&omment:"), fraData), "lblComment");
  txtTitle = Named(new QLineEdit(fraData), "txtTitle");
  lblCmdline = Named(new QLabel(tr("&Command line:"), fraData), "lblCmdline");
  txtCmdline = Named(new QLineEdit(fraData), "txtCmdline");
  lblComment->setBuddy(txtTitle);
  lblCmdline->setBuddy(txtCmdline);
  lblSchedule = Named(new QLabel(tr("&Run automatically:"), fraData), "lblSchedule");
  cboSchedule = Named(new QComboBox(fraData), "cboSchedule");
  for (const RunSchedule schedule : kRunSchedules)
    cboSchedule->addItem(QString::fromLatin1(ScheduleName(schedule)));
  cboSchedule->setAccessibleName(tr("Run automatically"));
  lblSchedule->setBuddy(cboSchedule);
  auto* data = new QGridLayout(fraData);
  data->addWidget(lblComment, 0, 0);
  data->addWidget(txtTitle, 0, 1, 1, 2);
  data->addWidget(lblCmdline, 1, 0);
  data->addWidget(txtCmdline, 1, 1, 1, 2);
  data->addWidget(lblSchedule, 2, 0);
  data->addWidget(cboSchedule, 2, 1, Qt::AlignLeft);
  // Scheduled runs need somewhere to put their units.
  lblSchedule->setVisible(context_.schedule != nullptr);
  cboSchedule->setVisible(context_.schedule != nullptr);
  // The fields of both frames start at one x and end at one x.
  int labels = 0;
  for (QLabel* label : {lblPath, lblFilename, lblComment, lblCmdline, lblSchedule})
    labels = std::max(labels, label->sizeHint().width());
  for (QGridLayout* grid : {file, data}) {
    grid->setColumnMinimumWidth(0, labels);
    grid->setColumnMinimumWidth(2, cmdShortcut->sizeHint().width());
    grid->setColumnStretch(1, 1);
  }

  cmdSave = Named(new QPushButton(tr("Save"), this), "cmdSave");
  cmdCancel = Named(new QPushButton(tr("Cancel"), this), "cmdCancel");
  cmdHelp = Named(new QPushButton(tr("&Help"), this), "cmdHelp");
  cmdSave->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdSave);
  buttons->addWidget(cmdCancel);
  buttons->addWidget(cmdHelp);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fraShortcut);
  layout->addWidget(fraData);
  layout->addLayout(buttons);
  // Wide enough for a command line with two folders.
  setMinimumWidth(fontMetrics().averageCharWidth() * 100);

  path_ = ByteText(txtPath);
  filename_ = ByteText(txtFilename);
  title_ = ByteText(txtTitle);
  cmdline_ = ByteText(txtCmdline);
  AssistTextField(txtPath, cmdShortcut, cmdSave);
  AssistTextField(txtFilename, cmdShortcut, cmdSave);
  AssistTextField(txtTitle);
  AssistTextField(txtCmdline);
  CompletePaths(txtPath, DiskModel(this, PathKinds::Folders));

  connect(cmdShortcut, &QPushButton::clicked, this, &ShortcutDialog::ChooseShortcutFile);
  connect(cmdSave, &QPushButton::clicked, this, &ShortcutDialog::Save);
  connect(cmdCancel, &QPushButton::clicked, this, &ShortcutDialog::reject);
  connect(cmdHelp, &QPushButton::clicked, this, [this] { ShowFormHelp(); });
  SetHelpTopic(*cmdSave, kHelpShortcutLimits);
  SetHelpSection(*fraShortcut, QStringLiteral("file"));
  SetHelpSection(*fraData, QStringLiteral("data"));

  for (QWidget* target : std::initializer_list<QWidget*>{fraShortcut, lblPath, lblFilename, txtPath,
                                                         txtFilename, cmdShortcut}) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
  }

  const std::pair<QWidget*, const char*> help[] = {
      {fraShortcut,
       "Where the launcher is saved. In the default folder it shows up in the desktop's "
       "application menu."},
      {txtPath,
       "The folder the launcher is saved in. A missing folder is created when its "
       "parent exists."},
      {txtFilename, "The launcher's file name without \".desktop\"; menus show it as its name."},
      {cmdShortcut, "Chooses the folder and the name of the launcher in a file chooser."},
      {fraData, "What the launcher holds."},
      {txtTitle, "The launcher's comment, which menus show as its description."},
      {txtCmdline,
       "The program and the arguments that the launcher starts: the options of the Options "
       "dialog and the two folders."},
      {cboSchedule,
       "Runs the launcher's synchronization by itself every hour, day or week, with "
       "twinmere-cli, through a systemd user timer; a run missed while the computer was off "
       "happens at the next login. Preferences lists the scheduled launchers."},
      {cmdSave, "Saves the launcher and closes the dialog."},
      {cmdCancel, "Closes the dialog without saving."},
      {cmdHelp, "Opens the help page of this dialog."}};
  for (const auto& [widget, text] : help) widget->setWhatsThis(tr(text));
}

// As wide as the command line needs to be read whole, up to most of the
// screen's width.
void ShortcutDialog::FitCommandLine() {
  const QFontMetrics metrics = txtCmdline->fontMetrics();
  const int text = metrics.horizontalAdvance(txtCmdline->text()) + 2 * metrics.averageCharWidth();
  const int needed = sizeHint().width() + std::max(0, text - txtCmdline->sizeHint().width());
  const QScreen* place = screen();
  const int room = place != nullptr ? place->availableGeometry().width() * 9 / 10 : needed;
  resize(std::max(minimumWidth(), std::min(needed, room)), sizeHint().height());
}

void ShortcutDialog::UpdateUI() {
  cmdShortcut->setIcon(FolderIcon(*this));
}

ShortcutDialogFields ShortcutDialog::Fields() const {
  return ShortcutDialogFields{path_.Get(), filename_.Get(), title_.Get(), cmdline_.Get(),
                              kRunSchedules[std::max(0, cboSchedule->currentIndex())]};
}

void ShortcutDialog::SetShortcutFile(const std::string& path) {
  ShortcutDialogFields fields = Fields();
  SplitShortcutPath(path, fields);
  path_.Set(fields.txtPath);
  filename_.Set(fields.txtFilename);
  cboSchedule->setCurrentIndex(static_cast<int>(ShownSchedule(fields, context_)));
}

void ShortcutDialog::ChooseShortcutFile() {
  const std::string proposed = ProposedShortcutFile(Fields(), context_);
  FileRequest request;
  request.title = tr("Select folder and enter the name of shortcut file");
  request.filter = QString::fromLatin1(kLauncherFilesFilter);
  request.default_extension = QStringLiteral("desktop");
  request.file_name = proposed;
  request.initial_folder = FolderPart(proposed);
  auto* field = qobject_cast<QLineEdit*>(focusWidget());
  if (!ChooseFile(this, request)) return;
  SetShortcutFile(request.file_name);
  if (field != nullptr) {
    field->selectAll();
    field->setFocus();
  }
}

void ShortcutDialog::Save() {
  if (SaveShortcut(Fields(), context_, memory_, *this) == SaveOutcome::Close) accept();
}

void ShortcutDialog::Show(const DialogMessage& message) {
  ShowDialogMessage(this, message, Services().help);
}

bool ShortcutDialog::Ask(const DialogMessage& question) {
  return ShowDialogMessage(this, question, Services().help);
}

bool ShortcutDialog::eventFilter(QObject* watched, QEvent* event) {
  if (!IsDragEvent(*event)) return QDialog::eventFilter(watched, event);
  FileSystem& fs = context_.file_system;
  const std::optional<std::string> path =
      AnswerDrag(*event, drop_, [&fs](const std::string& p) { return IsShortcutDrop(fs, p); });
  if (path && event->type() == QEvent::Drop) SetShortcutFile(*path);
  return true;
}

}  // namespace twinmere::ui
