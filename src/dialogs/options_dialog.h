// The options dialog: edits the options of the next run. OK hands them to
// the main window, Cancel leaves them as they were. From here the user also
// reads the options of a launcher (Get options...) and saves the dialog's
// values as one (Make shortcut...). Control names are the design's names.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_state.h"
#include "app/shortcuts.h"
#include "base/sync_options.h"
#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "platform/user_folders.h"
#include "settings/program_settings.h"
#include "widgets/byte_text.h"
#include "widgets/form.h"

class QCheckBox;
class QFrame;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace twinmere::ui {

class ReportLevelList;

// What the dialog needs besides the options; everything outlives it.
struct OptionsDialogContext {
  const PlatformFacts& facts;                 // IsAdmin enables chkNoSecurity
  const UserFolders& folders;                 // state folder, documents
  const ProgramSettings& settings;            // default level, default shortcut folder
  FileSystem& fs;                             // the window thread's own
  ShortcutMemory& memory;                     // the last launcher read or saved
  std::string program_path;                   // the executable that launchers start
  FormServices& services;                     // help window and keyboard cues
  const ScheduleContext* schedule = nullptr;  // scheduled runs; null: none offered
};

class OptionsDialog final : public QDialog, public Form {
  Q_OBJECT
 public:
  OptionsDialog(const SyncOptions& options, const OptionsDialogContext& context,
                QWidget* parent = nullptr);

  // After OK: the options for the next run.
  const SyncOptions& AcceptedOptions() const { return accepted_; }
  // The dialog's current values, as the shortcut dialog takes them.
  SyncOptions GetOptions() const;
  // Reads the launcher `path` into the controls (Get options..., a drop on
  // it); when it cannot, shows why and changes nothing.
  void ReadShortcutOptions(const std::string& path);

  // The report level's drop-down list.
  void OpenLevelList();
  void CloseLevelList();
  bool LevelListOpen() const;

  // Form.
  void UpdateUI() override;

 public slots:
  // Both only close the level list while it is open.
  void accept() override;
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class DropKind { Source, Target, Report, Shortcut };

  // Makes the controls. Each frame or row of them is made by a function of
  // its own, from the top of the dialog down: the order that is their tab
  // order.
  void CreateControls();
  QGridLayout* CreateFolderFields();
  QGroupBox* CreateReportFrame();
  void CreateLevelOutline(QWidget* frame);
  QGroupBox* CreateSyncFrame();
  QGroupBox* CreateProgramFrame();
  QGroupBox* CreateLeaveOutFrame();
  QHBoxLayout* CreateVersionsRow();
  QHBoxLayout* CreateButtonRow();
  void AssistPathFields();
  void ConnectControls();
  void WatchControls();
  void DescribeControls();
  QCheckBox* NewCheckBox(const QString& caption, const char* name, QWidget* parent,
                         CheckBoxState OptionsDialogState::*member);
  OptionsDialogState State() const;
  void SetState(const OptionsDialogState& state);
  void ApplyRules();
  void BidiClicked(bool checked);
  void RestrictionEdited();
  void ShowLevel(int32_t level);
  void BrowseReport();
  void BrowseJson();
  void ChoosePatternsFile();
  void RemovePatternsFile();
  void ShowPatternsFiles(const std::vector<std::string>& files);
  std::vector<std::string> PatternsFiles() const;
  bool LeaveOutIsValid();
  void GetShortcut();
  void MakeShortcut();
  bool LevelListEvent(QEvent* event);
  bool LevelButtonEvent(QEvent* event);
  bool DropEvent(DropKind kind, QEvent* event);
  std::string StateFolder() const;
  void RememberPlacedPaths();
  std::string FieldPath(const ByteText& field, const std::string& placed) const;

  // Controls, by their design names.
  QLabel* lblSource = nullptr;
  QLineEdit* txtSource = nullptr;
  QPushButton* cmdSource = nullptr;
  QLabel* lblTarget = nullptr;
  QLineEdit* txtTarget = nullptr;
  QPushButton* cmdTarget = nullptr;
  QGroupBox* fraSync = nullptr;
  QCheckBox* chkBidi = nullptr;
  QCheckBox* chkNew = nullptr;
  QCheckBox* chkDelete = nullptr;
  QCheckBox* chkForceDelete = nullptr;
  QCheckBox* chkNoSecurity = nullptr;
  QCheckBox* chkNoDaylight = nullptr;
  QCheckBox* chkAllowDecryption = nullptr;
  QCheckBox* chkCase = nullptr;
  QCheckBox* chkSubfolders = nullptr;
  QGroupBox* fraApp = nullptr;
  QCheckBox* chkStart = nullptr;
  QCheckBox* chkMinimized = nullptr;
  QCheckBox* chkQuiet = nullptr;
  QCheckBox* chkQuickStart = nullptr;
  QCheckBox* chkDisallowStop = nullptr;
  QCheckBox* chkPreview = nullptr;
  QGroupBox* fraLeaveOut = nullptr;
  QLabel* lblLeaveOut = nullptr;
  QPlainTextEdit* txtLeaveOut = nullptr;
  QLabel* lblLeaveOutFiles = nullptr;
  QListWidget* lstLeaveOutFiles = nullptr;
  QPushButton* cmdLeaveOutFile = nullptr;
  QPushButton* cmdRemoveLeaveOutFile = nullptr;
  QGroupBox* fraReport = nullptr;
  QLineEdit* txtReport = nullptr;
  QPushButton* cmdReport = nullptr;
  QLabel* lblJson = nullptr;
  QLineEdit* txtJson = nullptr;
  QPushButton* cmdJson = nullptr;
  QCheckBox* chkTrash = nullptr;
  QLabel* lblVersions = nullptr;
  QLineEdit* txtVersions = nullptr;
  QPushButton* cmdVersions = nullptr;
  QLabel* lblVersionsKeep = nullptr;
  QSpinBox* spnVersionsKeep = nullptr;
  QCheckBox* chkAppend = nullptr;
  QCheckBox* chkRestrict = nullptr;
  QLineEdit* txtRestrict = nullptr;
  QLabel* lblKb = nullptr;
  QFrame* shReportLevel = nullptr;
  QLabel* lblReportLevel = nullptr;
  QToolButton* cmdReportLevel = nullptr;
  ReportLevelList* lstReportLevel = nullptr;
  QPushButton* cmdGet = nullptr;
  QPushButton* cmdShortcut = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;
  QPushButton* cmdHelp = nullptr;

  OptionsDialogContext context_;
  SyncOptions accepted_;
  ByteText source_;
  ByteText target_;
  ByteText report_;
  ByteText json_;
  ByteText versions_;
  ByteText leave_out_;
  // The paths as the program last put them into the fields (see FieldPath).
  std::string placed_source_;
  std::string placed_target_;
  std::string placed_report_;
  std::string placed_json_;
  std::string placed_versions_;
  // The patterns as the options held them, while the field shows them
  // unchanged: a pattern may hold a line end, which the field cannot show.
  std::string placed_leave_out_;
  std::vector<std::string> placed_patterns_;
  std::vector<std::pair<QCheckBox*, CheckBoxState OptionsDialogState::*>> boxes_;
  std::vector<std::pair<QWidget*, DropKind>> drop_targets_;
  DropVerdict folder_drop_;
  DropVerdict report_drop_;
  DropVerdict shortcut_drop_;

  int32_t level_ = 0;             // the edited report level
  int32_t last_restriction_ = 0;  // the last valid number in txtRestrict
  int restriction_caret_ = 0;     // the caret at the last key press in it
  bool restoring_restriction_ = false;
  bool closed_by_press_ = false;  // the list lost the focus to a press now being delivered
  bool level_press_ = false;      // the button's press was handled: no click follows
  bool binding_ = false;          // SetState at work: no click rules
};

}  // namespace twinmere::ui
