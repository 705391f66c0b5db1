// The options dialog offscreen: its values through a saved launcher and
// back, the rules between its controls, and the report level's drop-down
// list.

#include "dialogs/options_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "dialog_fixture.h"
#include "dialogs/shortcut_dialog.h"
#include "support/every_flag.h"

namespace twinmere::ui {
namespace {

class OptionsDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void ValuesComeBackThroughASavedLauncherAndBytesThroughTheDialog();
  void RulesTieTheControlsAndTheRestrictionBoxPutsBackItsCaret();
  void ChoosersSayWhatTheyChoose();
  void LevelListOpensAndClosesByItsKeysMouseAndFocus();
  void PathsTypedKeyByKeyStayAsTyped();
  void LeaveOutTypedKeyByKeyComesBackWithItsFiles();
};

void OptionsDialogTest::ValuesComeBackThroughASavedLauncherAndBytesThroughTheDialog() {
  DialogFixture f;
  QVERIFY(QDir().mkpath(QString::fromStdString(f.Path("apps/folder"))));
  SyncOptions all = testing::EveryFlagButDelete();
  all.Source = f.Path("src 'a' $HOME `id` 100%/");
  all.Target = f.Path("q\"uote/");
  // A launcher's names come back to the byte, blanks at their ends included.
  all.Report = f.Path("my report.txt ");
  all.Restriction = 750;
  all.ReportLevel = 7;
  all.JsonSummary = f.Path("j 1");
  {
    OptionsDialog first(all, f.OptionsContext());
    QTimer::singleShot(0, &first, [&] {
      auto* shortcut = first.findChild<ShortcutDialog*>();
      Control<QLineEdit>(*shortcut, "txtPath")->setText(QString::fromStdString(f.Path("apps")));
      Control<QLineEdit>(*shortcut, "txtFilename")->setText("trip");
      shortcut->Save();
    });
    Control<QPushButton>(first, "cmdShortcut")->click();
  }
  OptionsDialog second(SyncOptions{}, f.OptionsContext());
  VERIFY_KEYS_AND_NAMES(second);
  VERIFY_HELP_PLACES(second, second, {"cmdOK", "cmdCancel", "cmdHelp"});
  QVERIFY(Drop(Control<QPushButton>(second, "cmdGet"), f.Path("apps/trip.desktop")));
  second.accept();
  QVERIFY(second.AcceptedOptions() == all);
  QCOMPARE(f.memory.LastShortcutFile, f.Path("apps/trip.desktop"));

  // The versions folder and its number too, and the patterns (a launcher of
  // their own: the arguments of one have a length limit).
  SyncOptions kept;
  kept.Versions = f.Path("old ones/");
  kept.VersionsKeep = 6;
  kept.LeaveOut = {"*.tmp", "my cache/", "!keep.tmp"};
  kept.LeaveOutFiles = {f.Path("my patterns.txt")};
  f.WriteFile("my patterns.txt", "*.o\n");
  {
    OptionsDialog first(kept, f.OptionsContext());
    QTimer::singleShot(0, &first, [&] {
      auto* shortcut = first.findChild<ShortcutDialog*>();
      Control<QLineEdit>(*shortcut, "txtFilename")->setText("kept");
      shortcut->Save();
    });
    Control<QPushButton>(first, "cmdShortcut")->click();
  }
  OptionsDialog third(SyncOptions{}, f.OptionsContext());
  QVERIFY(Drop(Control<QPushButton>(third, "cmdGet"), f.Path("apps/kept.desktop")));
  third.accept();
  QVERIFY(third.AcceptedOptions() == kept);

  // Names that are not UTF-8 come back from the dialog unchanged (Delete,
  // which excludes Bidi, with them); a launcher cannot carry them, and saving
  // says so.
  f.memory = {};
  SyncOptions bytes;
  bytes.Source = f.Path("caf\xE9/");
  bytes.Delete = true;
  OptionsDialog dialog(bytes, f.OptionsContext());
  MessageAnswers answers;
  QTimer::singleShot(0, &dialog, [&] {
    auto* shortcut = dialog.findChild<ShortcutDialog*>();
    shortcut->Save();
    shortcut->reject();
  });
  Control<QPushButton>(dialog, "cmdShortcut")->click();
  QCOMPARE(answers.texts.size(), 1);
  QVERIFY2(answers.texts[0].startsWith("Error creating shortcut.\n\n"),
           qPrintable(answers.texts[0]));
  dialog.accept();
  QVERIFY(dialog.AcceptedOptions() == bytes);

  // Folders drop on the folder fields, files on the report field.
  OptionsDialog drops(SyncOptions{}, f.OptionsContext());
  auto* source = Control<QLineEdit>(drops, "txtSource");
  auto* report = Control<QLineEdit>(drops, "txtReport");
  QVERIFY(!Drop(source, f.Path("apps/trip.desktop")));
  QVERIFY(Drop(source, f.Path("apps/folder")));
  QCOMPARE(source->text().toStdString(), f.Path("apps/folder/"));
  QVERIFY(!Drop(report, f.Path("apps/folder")));
  QVERIFY(Drop(report, f.Path("apps/trip.desktop")));
  QCOMPARE(report->text().toStdString(), f.Path("apps/trip.desktop"));
}

void OptionsDialogTest::RulesTieTheControlsAndTheRestrictionBoxPutsBackItsCaret() {
  DialogFixture f;
  SyncOptions options;
  options.Report = "/r.txt";
  options.Restriction = 500;
  options.Delete = true;
  OptionsDialog dialog(options, f.OptionsContext());
  dialog.show();
  QVERIFY(!Control<QCheckBox>(dialog, "chkNoSecurity")->isEnabled());  // no administrator

  auto* restriction = Control<QLineEdit>(dialog, "txtRestrict");
  restriction->setCursorPosition(1);
  QTest::keyClick(restriction, Qt::Key_X);
  QCOMPARE(restriction->text(), "500");
  QCOMPARE(restriction->cursorPosition(), 1);
  restriction->selectAll();
  QTest::keyClick(restriction, Qt::Key_0);
  QCOMPARE(restriction->text(), "500");
  QCOMPARE(restriction->cursorPosition(), 0);
  restriction->selectAll();
  QTest::keyClick(restriction, Qt::Key_Backspace);
  QTest::keyClick(restriction, Qt::Key_0);  // no number left to go back to
  QCOMPARE(restriction->text(), "");
  QTest::keyClicks(restriction, "42");
  QCOMPARE(restriction->text(), "42");

  auto* bidi = Control<QCheckBox>(dialog, "chkBidi");
  auto* newer = Control<QCheckBox>(dialog, "chkNew");
  auto* del = Control<QCheckBox>(dialog, "chkDelete");
  auto* force = Control<QCheckBox>(dialog, "chkForceDelete");
  // The guard is lifted only where something is deleted: unticking Delete,
  // or ticking Bidirectional, clears the lift, and no launcher carries it.
  QVERIFY(force->isEnabled());
  for (QCheckBox* takes_it_away : {del, bidi}) {
    if (!del->isChecked()) del->click();
    force->click();
    QVERIFY(force->isChecked() && dialog.GetOptions().ForceDelete);
    takes_it_away->click();
    QVERIFY(!force->isEnabled() && !force->isChecked());
    QVERIFY(!dialog.GetOptions().ForceDelete);
  }
  QVERIFY(newer->isChecked() && !newer->isEnabled() && !del->isChecked() && !del->isEnabled());
  bidi->click();
  QVERIFY(!newer->isChecked() && newer->isEnabled() && !del->isChecked() && del->isEnabled());
  QVERIFY(!force->isEnabled());
  del->click();
  QVERIFY(force->isEnabled() && !force->isChecked());
  force->click();
  Control<QCheckBox>(dialog, "chkSubfolders")->click();
  QCOMPARE(del->text(), "&Delete extra files");

  auto* report = Control<QLineEdit>(dialog, "txtReport");
  report->setText("  ");
  for (const char* name : {"chkAppend", "chkRestrict", "txtRestrict", "lblKb", "cmdReportLevel"})
    QVERIFY2(!Control<QWidget>(dialog, name)->isEnabled(), name);
  report->setText("bare.txt");
  QVERIFY(restriction->isEnabled());

  // The number of runs kept counts only with a versions folder, which the
  // Trash excludes.
  auto* keep = Control<QSpinBox>(dialog, "spnVersionsKeep");
  QVERIFY(!keep->isEnabled());
  QTest::keyClicks(Control<QLineEdit>(dialog, "txtVersions"), "/kept");
  QVERIFY(keep->isEnabled());
  Control<QCheckBox>(dialog, "chkTrash")->click();
  for (const char* name : {"txtVersions", "cmdVersions", "spnVersionsKeep"})
    QVERIFY2(!Control<QWidget>(dialog, name)->isEnabled(), name);
  dialog.accept();
  QVERIFY(dialog.AcceptedOptions().Delete && dialog.AcceptedOptions().ForceDelete);
  QVERIFY(dialog.AcceptedOptions().Trash);
  QCOMPARE(dialog.AcceptedOptions().Versions, "");
  Control<QCheckBox>(dialog, "chkTrash")->click();
  QVERIFY(Control<QWidget>(dialog, "txtVersions")->isEnabled());
  dialog.accept();
  QCOMPARE(dialog.AcceptedOptions().Versions, "/kept");
  QCOMPARE(dialog.AcceptedOptions().Restriction, 42);
  QCOMPARE(dialog.AcceptedOptions().Report, f.Path("state") + "/twinmere/bare.txt");
}

// Each chooser is named for what it chooses, its window's title ends
// without a colon, and the JSON summary's is a save dialog.
void OptionsDialogTest::ChoosersSayWhatTheyChoose() {
  DialogFixture f;
  OptionsDialog dialog(SyncOptions{}, f.OptionsContext());
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  const struct {
    const char* button;
    const char* name;
    bool saves;
  } choosers[] = {{"cmdSource", "Choose Source folder...", false},
                  {"cmdTarget", "Choose Target folder...", false},
                  {"cmdReport", "Choose report file...", false},
                  {"cmdJson", "Choose JSON summary file...", true},
                  {"cmdVersions", "Choose versions folder...", false},
                  {"cmdLeaveOutFile", "Choose patterns file...", false}};
  for (const auto& c : choosers) {
    auto* button = Control<QPushButton>(dialog, c.button);
    QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), c.name);
    const Chooser chooser = OpenChooser(button);
    QVERIFY2(!chooser.title.isEmpty() && !chooser.title.endsWith(':'), c.button);
    QCOMPARE(chooser.saves, c.saves);
  }
}

void OptionsDialogTest::LevelListOpensAndClosesByItsKeysMouseAndFocus() {
  DialogFixture f;
  SyncOptions options;
  options.Report = "/r.txt";
  OptionsDialog dialog(options, f.OptionsContext());
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  auto* button = Control<QToolButton>(dialog, "cmdReportLevel");
  auto* list = Control<QListWidget>(dialog, "lstReportLevel");
  const auto reopen = [&] {
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Down);
    return dialog.LevelListOpen() && list->hasFocus();
  };

  // A press opens the list, the click that follows does nothing, the next
  // press closes it; Down, Enter and Space open it, Escape and Alt+Up close it.
  QTest::mousePress(button, Qt::LeftButton);
  QVERIFY(dialog.LevelListOpen() && list->hasFocus());
  QTest::mouseRelease(button, Qt::LeftButton);
  QVERIFY(dialog.LevelListOpen());
  QTest::mouseClick(button, Qt::LeftButton);
  QVERIFY(!dialog.LevelListOpen() && button->hasFocus());
  QVERIFY(reopen());
  QTest::keyClick(list, Qt::Key_Escape);
  QVERIFY(!dialog.LevelListOpen() && button->hasFocus() && dialog.isVisible());
  QTest::keyClick(button, Qt::Key_Return);
  QVERIFY(dialog.LevelListOpen());
  QTest::keyClick(list, Qt::Key_Up, Qt::AltModifier);
  QVERIFY(!dialog.LevelListOpen());
  QTest::mousePress(button, Qt::LeftButton, Qt::ShiftModifier);  // only the click opens it then
  QVERIFY(!dialog.LevelListOpen());
  QTest::mouseRelease(button, Qt::LeftButton, Qt::ShiftModifier);
  QVERIFY(dialog.LevelListOpen());

  // The highlight follows the mouse; a click on an item's text checks it.
  const QPoint fourth = list->visualItemRect(list->item(3)).center();
  QTest::mouseMove(list->viewport(), fourth);
  QCOMPARE(list->currentRow(), 3);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, fourth);
  QCOMPARE(Control<QLabel>(dialog, "lblReportLevel")->text(), "Le&vel: 223");

  // OK (clicked or Enter) and Cancel only close the open list, as do another
  // control taking the focus, a click on a frame and the dialog losing
  // activation.
  const std::function<void()> closers[] = {
      [&] { QTest::mouseClick(Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton); },
      [&] { QTest::keyClick(list, Qt::Key_Return); },
      [&] { QTest::mouseClick(Control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton); },
      [&] { Control<QLineEdit>(dialog, "txtSource")->setFocus(); },
      [&] {
        QTest::mouseClick(Control<QWidget>(dialog, "fraSync"), Qt::LeftButton, {}, {2, 2});
      },
  };
  for (const auto& close : closers) {
    QVERIFY(reopen());
    close();
    QVERIFY(!dialog.LevelListOpen() && dialog.isVisible() && dialog.result() == 0);
  }
  QVERIFY(reopen());
  QWidget other;
  other.show();
  other.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&other));
  QVERIFY(!dialog.LevelListOpen());

  QTest::mouseClick(Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(dialog.AcceptedOptions().ReportLevel, 223);
}

void OptionsDialogTest::PathsTypedKeyByKeyStayAsTyped() {
  DialogFixture f;
  OptionsDialog dialog(SyncOptions{}, f.OptionsContext());
  dialog.show();
  for (const char* name : {"txtSource", "txtTarget", "txtReport"}) {
    ExpectTypedPathKept(Control<QLineEdit>(dialog, name), QString::fromStdString(f.Path(name)));
    if (QTest::currentTestFailed()) return;
  }
  ExpectListClosesAsTheFocusLeaves(Control<QLineEdit>(dialog, "txtSource"),
                                   Control<QLineEdit>(dialog, "txtTarget"), Qt::Key_T,
                                   QString::fromStdString(f.Path("tree")));
  if (QTest::currentTestFailed()) return;
  // OK keeps a blank at the end where a folder has it in its name.
  QVERIFY(QDir().mkpath(QString::fromStdString(f.Path("dst "))));
  QVERIFY(QDir().mkpath(QString::fromStdString(f.Path("dst"))));
  Control<QLineEdit>(dialog, "txtTarget")->setText(QString::fromStdString(f.Path("dst ")));
  // Blanks typed around a name that does not exist are dropped.
  Control<QLineEdit>(dialog, "txtReport")->setText(QString::fromStdString(f.Path("new.txt ")));
  dialog.accept();
  QCOMPARE(dialog.AcceptedOptions().Target, f.Path("dst /"));
  QCOMPARE(dialog.AcceptedOptions().Report, f.Path("new.txt"));
}

// Enter makes a new line in the field and Tab leaves it, while Enter
// elsewhere is OK; each line is a pattern as typed, files join the list once
// and Delete takes one off, and the dialog opens again on what it gave.
void OptionsDialogTest::LeaveOutTypedKeyByKeyComesBackWithItsFiles() {
  DialogFixture f;
  f.WriteFile("a.txt", "*.o\n");
  f.WriteFile("b.txt", "*.a\n");
  OptionsDialog dialog(SyncOptions{}, f.OptionsContext());
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  auto* field = Control<QPlainTextEdit>(dialog, "txtLeaveOut");
  auto* files = Control<QListWidget>(dialog, "lstLeaveOutFiles");
  field->setFocus();
  for (const char* line : {"*.tmp", "cache/ ", "", "!keep.tmp"}) {
    QTest::keyClicks(field, line);
    QTest::keyClick(field, Qt::Key_Return);
  }
  QTest::keyClick(field, Qt::Key_Tab);
  QVERIFY(files->hasFocus() && dialog.isVisible());
  QCOMPARE(field->toPlainText(), "*.tmp\ncache/ \n\n!keep.tmp\n");

  const auto choose = [&](const std::string& name) {
    QTimer::singleShot(0, &dialog, [&, name] {
      auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      QVERIFY(chooser != nullptr);
      chooser->selectFile(QString::fromStdString(f.Path(name)));
      static_cast<QDialog*>(chooser)->accept();
    });
    Control<QPushButton>(dialog, "cmdLeaveOutFile")->click();
  };
  for (const char* name : {"a.txt", "b.txt", "a.txt"}) choose(name);
  QCOMPARE(files->count(), 2);
  QCOMPARE(files->currentRow(), 0);
  QTest::keyClick(files, Qt::Key_Delete);
  QCOMPARE(files->count(), 1);
  QTest::keyClick(Control<QCheckBox>(dialog, "chkCase"), Qt::Key_Return);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  const SyncOptions accepted = dialog.AcceptedOptions();
  QVERIFY(accepted.LeaveOut == std::vector<std::string>({"*.tmp", "cache/ ", "!keep.tmp"}));
  QVERIFY(accepted.LeaveOutFiles == std::vector<std::string>{f.Path("b.txt")});

  OptionsDialog again(accepted, f.OptionsContext());
  QCOMPARE(Control<QPlainTextEdit>(again, "txtLeaveOut")->toPlainText(),
           "*.tmp\ncache/ \n!keep.tmp");
  QCOMPARE(Control<QListWidget>(again, "lstLeaveOutFiles")->item(0)->text(),
           QString::fromStdString(f.Path("b.txt")));
  // A line the matcher refuses keeps the dialog open, named and selected.
  MessageAnswers answers;
  Control<QPlainTextEdit>(again, "txtLeaveOut")->appendPlainText("ends in\\");
  again.accept();
  QCOMPARE(again.result(), 0);
  QCOMPARE(answers.texts.size(), 1);
  QVERIFY2(answers.texts[0].startsWith("Line 4 of Leave out"), qPrintable(answers.texts[0]));
  QCOMPARE(Control<QPlainTextEdit>(again, "txtLeaveOut")->textCursor().selectedText(), "ends in\\");

  // Patterns the field cannot show as they are come back untouched.
  SyncOptions odd;
  odd.LeaveOut = {"caf\xE9", "two\nlines", ""};
  OptionsDialog unchanged(odd, f.OptionsContext());
  unchanged.accept();
  QVERIFY(unchanged.AcceptedOptions().LeaveOut == odd.LeaveOut);
}

}  // namespace
}  // namespace twinmere::ui

QTEST_MAIN(twinmere::ui::OptionsDialogTest)
#include "options_dialog_test.moc"
