// The shortcut dialog offscreen: where Save puts the launcher, what it says
// when it cannot, and drops on its file controls.

#include "dialogs/shortcut_dialog.h"

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

}  // namespace
}  // namespace twinmere::ui

QTEST_MAIN(twinmere::ui::ShortcutDialogTest)
#include "shortcut_dialog_test.moc"
