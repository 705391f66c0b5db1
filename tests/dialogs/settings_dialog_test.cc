// The preferences dialog offscreen: OK stores what differs from the defaults
// and deletes the rest, Cancel keeps everything; what each field accepts
// dropped.

#include "dialogs/settings_dialog.h"

#include <sys/stat.h>

#include <QAccessible>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "dialog_fixture.h"

namespace twinmere::ui {
namespace {

class SettingsDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void PreferencesRoundTripDeletingDefaultsAndCancelKeepsThem();
  void ScheduledRunsAreListedAndOkRemovesThoseTakenOut();
};

void SettingsDialogTest::PreferencesRoundTripDeletingDefaultsAndCancelKeepsThem() {
  DialogFixture f;
  QVERIFY(QDir().mkpath(QString::fromStdString(f.Path("links"))));
  f.WriteFile("viewer", "#!/bin/sh\n");
  QCOMPARE(chmod(f.Path("viewer").c_str(), 0755), 0);
  f.WriteFile("plain", "");
  const auto stored = [&] { return f.registry.EnumValues(Hive::CurrentUser, kSettingsKey); };
  const auto toggle_first = [](SettingsDialog& dialog) {
    auto* list = Control<QListWidget>(dialog, "lstReportLevel");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
  };
  {
    SettingsDialog dialog({f.registry, f.settings, f.folders, *f.fs, f.services});
    VERIFY_KEYS_AND_NAMES(dialog);
    VERIFY_HELP_PLACES(dialog, dialog, {"cmdOK", "cmdCancel", "cmdHelp"});
    for (const char* chooser : {"cmdShortcuts", "cmdReport", "cmdViewer"}) {
      QVERIFY2(!Control<QPushButton>(dialog, chooser)->icon().isNull(), chooser);
      const QString title = OpenChooser(Control<QPushButton>(dialog, chooser)).title;
      QVERIFY2(!title.isEmpty() && !title.endsWith(':'), chooser);
    }
    auto* viewer = Control<QLineEdit>(dialog, "txtViewer");
    auto* shortcuts = Control<QLineEdit>(dialog, "txtShortcuts");
    QCOMPARE(viewer->text(), "xdg-open");
    QVERIFY(!Drop(viewer, f.Path("plain")));
    QVERIFY(Drop(viewer, f.Path("viewer")));
    QVERIFY(!Drop(shortcuts, f.Path("viewer")));
    QVERIFY(Drop(shortcuts, f.Path("links")));
    QVERIFY(!Drop(Control<QLineEdit>(dialog, "txtReport"), f.Path("links")));
    Control<QLineEdit>(dialog, "txtReport")->setText(" /r.txt ");
    toggle_first(dialog);
    QCOMPARE(Control<QLabel>(dialog, "lblLevelValue")->text(), "214");
    auto* guard = Control<QSpinBox>(dialog, "spnGuard");
    QCOMPARE(guard->value(), 50);
    guard->setValue(80);
    auto* keep = Control<QSpinBox>(dialog, "spnVersionsKeep");
    for (const auto& [runs, text] : {std::pair{1, "1 run"}, {0, "all runs"}, {5, "5 runs"}}) {
      keep->setValue(runs);
      QCOMPARE(keep->text(), text);
    }
    dialog.accept();
  }
  QCOMPARE(stored(), RegistryValue(RegistryList{"DeletionGuard", "Report", "ReportLevel",
                                                "ShortcutDir", "VersionsKeep", "Viewer"}));
  QCOMPARE(f.settings.deletion_guard_percent, 80);
  QCOMPARE(f.settings.versions_keep, 5);
  QCOMPARE(f.settings.viewer, f.Path("viewer"));
  QCOMPARE(f.settings.shortcut_dir, f.Path("links/"));
  QCOMPARE(f.settings.default_report, "/r.txt");
  QCOMPARE(f.settings.default_report_level, 214);

  {
    SettingsDialog dialog({f.registry, f.settings, f.folders, *f.fs, f.services});
    QCOMPARE(Control<QLineEdit>(dialog, "txtReport")->text(), "/r.txt");
    Control<QSpinBox>(dialog, "spnVersionsKeep")->setValue(0);
    Control<QLineEdit>(dialog, "txtViewer")->setText("XDG-Open");
    Control<QLineEdit>(dialog, "txtReport")->clear();
    Control<QLineEdit>(dialog, "txtShortcuts")->clear();
    toggle_first(dialog);
    QCOMPARE(Control<QSpinBox>(dialog, "spnGuard")->value(), 80);
    Control<QSpinBox>(dialog, "spnGuard")->setValue(50);
    dialog.accept();
  }
  QCOMPARE(stored(), RegistryValue(RegistryList{}));
  QCOMPARE(f.settings.shortcut_dir, f.settings.program_group_folder);
  QCOMPARE(f.settings.default_report_level, kDefaultReportLevel);

  SettingsDialog dialog({f.registry, f.settings, f.folders, *f.fs, f.services});
  Control<QLineEdit>(dialog, "txtViewer")->setText("other");
  toggle_first(dialog);
  dialog.reject();
  QCOMPARE(f.settings.viewer, "XDG-Open");
  QCOMPARE(f.settings.default_report_level, kDefaultReportLevel);
  QCOMPARE(stored(), RegistryValue(RegistryList{}));
}

void SettingsDialogTest::ScheduledRunsAreListedAndOkRemovesThoseTakenOut() {
  DialogFixture f;
  const std::string cli = f.FakeCliProgram();
  RecordingManager manager;
  const ScheduleContext schedule{UserUnitFolder(f.folders), manager};
  for (const char* name : {"a b", "c"}) {
    const ScheduleRequest request{f.Path(std::string("links/") + name + ".desktop"),
                                  "-d /src/ /dst/", cli, RunSchedule::Weekly};
    QVERIFY(!ApplySchedule(request, *f.fs, schedule).has_value());
  }
  const auto list = [](SettingsDialog& dialog) {
    QStringList texts;
    auto* runs = Control<QListWidget>(dialog, "lstScheduled");
    for (int i = 0; i < runs->count(); ++i) texts << runs->item(i)->text();
    return texts;
  };
  const auto remove_first = [](SettingsDialog& dialog) {
    auto* runs = Control<QListWidget>(dialog, "lstScheduled");
    auto* remove = Control<QPushButton>(dialog, "cmdRemove");
    QVERIFY(!remove->isEnabled());
    runs->setCurrentRow(0);
    QVERIFY(remove->isEnabled());
    remove->click();
  };
  {
    SettingsDialog dialog({f.registry, f.settings, f.folders, *f.fs, f.services, &schedule});
    QCOMPARE(list(dialog), (QStringList{u"a b \u2014 weekly"_qs, u"c \u2014 weekly"_qs}));
    // A screen reader finds each one's launcher in its description.
    QAccessibleInterface* runs =
        QAccessible::queryAccessibleInterface(Control<QListWidget>(dialog, "lstScheduled"));
    QCOMPARE(runs->child(1)->text(QAccessible::Description),
             "Launcher: " + QString::fromStdString(f.Path("links/c.desktop")));
    remove_first(dialog);
    QCOMPARE(list(dialog), QStringList{u"c \u2014 weekly"_qs});
    dialog.reject();  // Cancel removes nothing
  }
  QCOMPARE(ListScheduledRuns(schedule.unit_folder).size(), size_t{2});
  manager.calls.clear();
  SettingsDialog dialog({f.registry, f.settings, f.folders, *f.fs, f.services, &schedule});
  remove_first(dialog);
  dialog.accept();
  QCOMPARE(ListScheduledRuns(schedule.unit_folder).size(), size_t{1});
  QCOMPARE(ListScheduledRuns(schedule.unit_folder)[0].launcher, f.Path("links/c.desktop"));
  QCOMPARE(manager.calls.front(),
           (std::vector<std::string>{"disable", "--now", "twinmere-a\\x20b.timer"}));
}

}  // namespace
}  // namespace twinmere::ui

QTEST_MAIN(twinmere::ui::SettingsDialogTest)
#include "settings_dialog_test.moc"
