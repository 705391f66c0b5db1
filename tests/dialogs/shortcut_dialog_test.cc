// The shortcut dialog offscreen: where Save puts the launcher, what it says
// when it cannot, and drops on its file controls.

#include "dialogs/shortcut_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

#include "dialog_fixture.h"
#include "fs/paths.h"

namespace twinmere::ui {
namespace {

class ShortcutDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void SaveMakesTheMissingFolderOrSaysWhyAndStaysOpen();
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

}  // namespace
}  // namespace twinmere::ui

QTEST_MAIN(twinmere::ui::ShortcutDialogTest)
#include "shortcut_dialog_test.moc"
