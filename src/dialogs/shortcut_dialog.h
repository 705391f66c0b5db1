// The shortcut dialog: saves the options dialog's values as a launcher (a
// desktop entry) that starts the program with them. It proposes the file,
// a comment and the command line; Save checks them, creates a missing folder
// and writes the file (see SaveShortcut). Control names are the design's.
#pragma once

#include <QDialog>
#include <string>

#include "app/shortcuts.h"
#include "base/sync_options.h"
#include "widgets/byte_text.h"
#include "widgets/form.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace twinmere::ui {

class ShortcutDialog final : public QDialog, public Form, private ShortcutSaveQuestions {
  Q_OBJECT
 public:
  // `options`: the options dialog's current values (GetOptions).
  ShortcutDialog(const SyncOptions& options, const ShortcutDialogContext& context,
                 ShortcutMemory& memory, FormServices& services, QWidget* parent = nullptr);

  ShortcutDialogFields Fields() const;
  // Puts a launcher's path into the folder and name boxes, and shows its
  // schedule.
  void SetShortcutFile(const std::string& path);
  // Save: closes the dialog once the writing step is reached.
  void Save();

  // Form.
  void UpdateUI() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void FitCommandLine();
  void ChooseShortcutFile();
  // ShortcutSaveQuestions.
  void Show(const DialogMessage& message) override;
  bool Ask(const DialogMessage& question) override;

  QGroupBox* fraShortcut = nullptr;
  QLabel* lblPath = nullptr;
  QLineEdit* txtPath = nullptr;
  QLabel* lblFilename = nullptr;
  QLineEdit* txtFilename = nullptr;
  QPushButton* cmdShortcut = nullptr;
  QGroupBox* fraData = nullptr;
  QLabel* lblComment = nullptr;
  QLineEdit* txtTitle = nullptr;
  QLabel* lblCmdline = nullptr;
  QLineEdit* txtCmdline = nullptr;
  QLabel* lblSchedule = nullptr;
  QComboBox* cboSchedule = nullptr;
  QPushButton* cmdSave = nullptr;
  QPushButton* cmdCancel = nullptr;
  QPushButton* cmdHelp = nullptr;

  ShortcutDialogContext context_;
  ShortcutMemory& memory_;
  ByteText path_;
  ByteText filename_;
  ByteText title_;
  ByteText cmdline_;
  DropVerdict drop_;
};

}  // namespace twinmere::ui
