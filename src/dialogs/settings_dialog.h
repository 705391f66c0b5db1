// The preferences dialog: edits the default shortcuts folder, the default
// report file, the report viewer, the default report level and the deletion
// guard's share. OK stores them
// through the settings layer (values equal to their defaults are deleted) and
// makes them the program-wide values; Cancel discards the edits.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "app/scheduled_runs.h"
#include "platform/file_system.h"
#include "platform/user_folders.h"
#include "settings/program_settings.h"
#include "settings/registry.h"
#include "widgets/byte_text.h"
#include "widgets/form.h"

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace twinmere::ui {

class ReportLevelList;

// What the dialog works on; everything outlives it.
struct SettingsDialogContext {
  Registry& registry;
  ProgramSettings& settings;  // the program-wide values: OK changes them
  const UserFolders& folders;
  FileSystem& fs;          // the window thread's own
  FormServices& services;  // help window and keyboard cues
  // The scheduled launchers, listed and removed here; null: no list.
  const ScheduleContext* schedule = nullptr;
};

class SettingsDialog final : public QDialog, public Form {
  Q_OBJECT
 public:
  explicit SettingsDialog(const SettingsDialogContext& context, QWidget* parent = nullptr);

  // Form.
  void UpdateUI() override;

 public slots:
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Makes the controls. Each group of rows is added to the grid by a
  // function of its own, from the top of the dialog down: the order that is
  // their tab order. Each returns the row after its own.
  void CreateControls();
  int AddPathFields(QGridLayout& grid, int row);
  int AddLevel(QGridLayout& grid, int row);
  int AddLimits(QGridLayout& grid, int row);
  int AddScheduledRuns(QGridLayout& grid, int row);
  QHBoxLayout* CreateButtonRow();
  void AssistPathFields();
  void ConnectControls();
  void DescribeControls();
  void ChooseReport();
  void ChooseViewer();
  void ShowLevel();
  void ShowScheduledRuns();
  void RemoveScheduledRun();

  QLabel* lblShortcuts = nullptr;
  QLineEdit* txtShortcuts = nullptr;
  QPushButton* cmdShortcuts = nullptr;
  QLabel* lblReport = nullptr;
  QLineEdit* txtReport = nullptr;
  QPushButton* cmdReport = nullptr;
  QLabel* lblViewer = nullptr;
  QLineEdit* txtViewer = nullptr;
  QPushButton* cmdViewer = nullptr;
  QLabel* lblLevel = nullptr;
  QLabel* lblLevelValue = nullptr;
  ReportLevelList* lstReportLevel = nullptr;
  QLabel* lblGuard = nullptr;
  QSpinBox* spnGuard = nullptr;  // the deletion guard's share of Target's items
  QLabel* lblVersionsKeep = nullptr;
  QSpinBox* spnVersionsKeep = nullptr;
  QLabel* lblScheduled = nullptr;
  QListWidget* lstScheduled = nullptr;
  QPushButton* cmdRemove = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;
  QPushButton* cmdHelp = nullptr;

  SettingsDialogContext context_;
  ByteText shortcuts_;
  ByteText report_;
  ByteText viewer_;
  DropVerdict shortcuts_drop_;
  DropVerdict report_drop_;
  DropVerdict viewer_drop_;
  int32_t level_ = 0;  // the working level
  // The scheduled runs as listed, and those Remove took out of the list:
  // OK removes them.
  std::vector<ScheduledRun> scheduled_;
  std::vector<ScheduledRun> removed_;
};

}  // namespace twinmere::ui
