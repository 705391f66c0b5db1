// The shortcut dialog offscreen: where Save puts the launcher, what it says
// when it cannot, and drops on its file controls.

#include "dialogs/shortcut_dialog.h"

#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include "dialog_fixture.h"
#include "fs/paths.h"

namespace twinmere::ui {
namespace {

class ShortcutDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void SaveMakesTheMissingFolderOrSaysWhyAndStaysOpen();
  void FieldsLineUpAndTheCommandLineCanBeReadWhole();
  void RunAutomaticallyWritesTheUnitsAndShowsTheLaunchersSchedule();
};

void ShortcutDialogTest::SaveMakesTheMissingFolderOrSaysWhyAndStaysOpen() {
  DialogFixture f;
  QVERIFY(QDir().mkpath(QString::fromStdString(f.Path("links"))));
  f.WriteFile("links/old.desktop", "");
  SyncOptions options;
  options.Source = f.Path("a/");
  options.Target = f.Path("b/");
  ShortcutDialogContext context{*f.fs, "/usr/bin/twinmere", f.settings.shortcut_dir,
                                kDefaultReportLevel, AddSeparator(ProgramsFolder(f.folders))};
  ShortcutDialog dialog(options, context, f.memory, f.services);
  dialog.show();
  VERIFY_KEYS_AND_NAMES(dialog);
  VERIFY_HELP_PLACES(dialog, dialog, {"cmdCancel", "cmdHelp"});
  auto* path = Control<QLineEdit>(dialog, "txtPath");
  auto* name = Control<QLineEdit>(dialog, "txtFilename");
  QVERIFY(Drop(name, f.Path("links/old.desktop")));
  QCOMPARE(path->text().toStdString(), f.Path("links/"));
  QCOMPARE(name->text(), "old");

  MessageAnswers answers;
  path->setText(QString::fromStdString(f.Path("gone/deeper")));
  dialog.Save();
  QVERIFY(dialog.isVisible());
  QCOMPARE(answers.texts.size(), 1);  // its text is the app-level tests' concern
  path->setText(QString::fromStdString(f.Path("links/new")));
  dialog.Save();
  QVERIFY(!dialog.isVisible());
  QVERIFY(QFileInfo::exists(QString::fromStdString(f.Path("links/new/old.desktop"))));
}

void ShortcutDialogTest::FieldsLineUpAndTheCommandLineCanBeReadWhole() {
  DialogFixture f;
  SyncOptions options;
  options.Source = f.Path("photos of the family/");
  options.Target = f.Path("backup of the photos of the family/");
  options.Report = f.Path("reports/the report of the photos.txt");
  ShortcutDialogContext context{*f.fs, "/usr/bin/twinmere", f.settings.shortcut_dir,
                                kDefaultReportLevel, AddSeparator(ProgramsFolder(f.folders))};
  ShortcutDialog dialog(options, context, f.memory, f.services);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QList<int> lefts, rights;
  for (const char* name : {"txtPath", "txtFilename", "txtTitle", "txtCmdline"}) {
    auto* field = Control<QLineEdit>(dialog, name);
    lefts << field->mapTo(&dialog, QPoint(0, 0)).x();
    rights << field->mapTo(&dialog, QPoint(field->width(), 0)).x();
  }
  QCOMPARE(lefts, QList<int>(4, lefts[0]));
  QCOMPARE(rights.mid(1), QList<int>(3, rights[1]));  // the folder field has its button
  // The whole command line shows, or the dialog takes most of the screen.
  auto* command = Control<QLineEdit>(dialog, "txtCmdline");
  const int text = command->fontMetrics().horizontalAdvance(command->text());
  const int screen = dialog.screen()->availableGeometry().width();
  QVERIFY2(command->width() >= text || dialog.width() >= screen * 9 / 10 - 1,
           qPrintable(QString("field %1, text %2, dialog %3, screen %4")
                          .arg(command->width())
                          .arg(text)
                          .arg(dialog.width())
                          .arg(screen)));
}

void ShortcutDialogTest::RunAutomaticallyWritesTheUnitsAndShowsTheLaunchersSchedule() {
  DialogFixture f;
  f.FakeCliProgram();  // beside bin/twinmere, which the units name
  RecordingManager manager;
  const ScheduleContext schedule{UserUnitFolder(f.folders), manager};
  SyncOptions options;
  options.Source = f.Path("a/");
  options.Target = f.Path("b/");
  ShortcutDialogContext context{*f.fs,
                                f.Path("bin/twinmere"),
                                f.Path("links/"),
                                kDefaultReportLevel,
                                AddSeparator(ProgramsFolder(f.folders)),
                                &schedule};
  const std::string launcher = f.Path("links/nightly.desktop");
  {
    ShortcutDialog dialog(options, context, f.memory, f.services);
    dialog.show();
    auto* when = Control<QComboBox>(dialog, "cboSchedule");
    QCOMPARE(when->currentText(), "never");
    Control<QLineEdit>(dialog, "txtFilename")->setText("nightly");
    when->setCurrentIndex(when->findText("daily"));
    dialog.Save();
    QVERIFY(!dialog.isVisible());
  }
  QCOMPARE(ListScheduledRuns(schedule.unit_folder).size(), size_t{1});
  QCOMPARE(ListScheduledRuns(schedule.unit_folder)[0].launcher, launcher);
  QCOMPARE(ScheduleOfLauncher(schedule.unit_folder, launcher), RunSchedule::Daily);
  QCOMPARE(manager.calls.back(),
           (std::vector<std::string>{"enable", "--now", "twinmere-nightly.timer"}));

  // Opened again for the same launcher, the dialog shows its schedule; a
  // command line that a timer could not run keeps it open and says why.
  MessageAnswers answers;
  ShortcutDialog again(options, context, f.memory, f.services);
  again.show();
  auto* when = Control<QComboBox>(again, "cboSchedule");
  QCOMPARE(when->currentText(), "daily");
  auto* command = Control<QLineEdit>(again, "txtCmdline");
  const QString written = command->text();
  command->setText(QStringLiteral("twinmere -d src/ /b/"));
  again.Save();
  QVERIFY(again.isVisible());
  QCOMPARE(answers.texts.size(), 2);  // the overwrite question, then the refusal
  QVERIFY2(answers.texts[1].contains("needs its full path"), qPrintable(answers.texts[1]));
  // Never removes the units; the launcher stays.
  command->setText(written);
  when->setCurrentIndex(when->findText("never"));
  again.Save();
  QVERIFY(!again.isVisible());
  QCOMPARE(ListScheduledRuns(schedule.unit_folder).size(), size_t{0});
  QVERIFY(QFileInfo::exists(QString::fromStdString(launcher)));
}

}  // namespace
}  // namespace twinmere::ui

QTEST_MAIN(twinmere::ui::ShortcutDialogTest)
#include "shortcut_dialog_test.moc"
