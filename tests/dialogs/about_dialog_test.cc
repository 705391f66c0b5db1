// The about box: version, operating system and privileges. Offscreen.

#include "dialogs/about_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "base/version.h"
#include "platform/platform_facts.h"
#include "report/formats.h"
#include "ui/gui_fixture.h"

namespace twinmere::ui {
namespace {

class AboutDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void AboutBoxShowsTheFacts();
};

void AboutDialogTest::AboutBoxShowsTheFacts() {
  FormServices services(true, "");
  for (const bool admin : {true, false}) {
    const PlatformFacts facts{8, "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))", true,
                              admin};
    AboutDialog about(facts, services, nullptr);
    VERIFY_KEYS_AND_NAMES(about);
    const auto text = [&](const char* name) { return about.findChild<QLabel*>(name)->text(); };
    QCOMPARE(text("lblVersion"),
             "Version " + QString::fromStdString(VersionText()) + " (" + kVersion + ")");
    QCOMPARE(text("lblOs"), QString::fromStdString(facts.OsText));
    QCOMPARE(text("lblAdmin"), admin ? QString("Administrative privileges: Granted.")
                                     : QString("Administrative privileges: Not granted."));
    about.show();
    about.findChild<QPushButton*>("cmdOK")->click();
    QCOMPARE(about.result(), int{QDialog::Accepted});
  }
}

}  // namespace
}  // namespace twinmere::ui

TWINMERE_GUI_TEST_MAIN(twinmere::ui::AboutDialogTest)
#include "about_dialog_test.moc"
