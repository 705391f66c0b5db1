// The help pages as the program finds them beside its build folder.
// Offscreen.

#include "widgets/help_window.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>

#include "ui/gui_fixture.h"

namespace twinmere::ui {
namespace {

QString ReadPage(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

class HelpWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void EveryTopicHasAPageAndEveryLinkResolves();
};

void HelpWindowTest::EveryTopicHasAPageAndEveryLinkResolves() {
  const QString folder = QString::fromStdString(FindHelpFolder(*CreatePlatformFileSystem()));
  QVERIFY2(!folder.isEmpty(), "the build links help/ to share/twinmere/help beside bin/");
  for (const int topic : kHelpTopics) {
    QVERIFY2(QFile::exists(folder + "/" + HelpPageName(topic)), qPrintable(HelpPageName(topic)));
  }
  const QRegularExpression link(R"re(href="([^"]*)")re");
  const QRegularExpression title("<title>[^<]+</title>");
  const QStringList pages = QDir(folder).entryList({"*.html"}, QDir::Files);
  QVERIFY(pages.size() >= 11);
  for (const QString& page : pages) {
    const QString html = ReadPage(folder + "/" + page);
    QVERIFY2(html.contains(title), qPrintable(page));
    for (auto match = link.globalMatch(html); match.hasNext();) {
      const QString target = match.next().captured(1);
      if (target.startsWith("https://")) continue;
      const QString file = target.section('#', 0, 0);
      const QString anchor = target.section('#', 1);
      const QString linked = ReadPage(folder + "/" + (file.isEmpty() ? page : file));
      QVERIFY2(!linked.isEmpty() && !file.contains('/'), qPrintable(page + " -> " + target));
      QVERIFY2(anchor.isEmpty() || linked.contains("id=\"" + anchor + "\""),
               qPrintable(page + " -> " + target));
    }
  }
  // The window shows a topic's page, and says so when one is missing.
  HelpWindow help(folder.toStdString());
  help.ShowHelpTopic(kHelpOptionsDialog);
  QCOMPARE(help.Window()->Browser()->documentTitle(), QString("Options"));
  // Its caption and what a screen reader finds: a window named as its
  // caption, holding the page under the page's title.
  const struct {
    int topic;
    const char* caption;
    const char* page;
  } captions[] = {{kHelpContents, "Twinmere Help", "Twinmere Help"},
                  {kHelpOptionsDialog, "Options - Twinmere Help", "Options"}};
  for (const auto& c : captions) {
    help.ShowHelpTopic(c.topic);
    QCOMPARE(help.Window()->windowTitle(), QString(c.caption));
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(help.Window());
    QCOMPARE(window->role(), QAccessible::Window);
    QCOMPARE(window->text(QAccessible::Name), QString(c.caption));
    QCOMPARE(
        QAccessible::queryAccessibleInterface(help.Window()->Browser())->text(QAccessible::Name),
        QString(c.page));
  }
  HelpWindow nowhere("");
  nowhere.ShowHelpTopic(kHelpAbout);
  QVERIFY(nowhere.Window()->Browser()->toPlainText().contains("8000.html"));
}

}  // namespace
}  // namespace twinmere::ui

TWINMERE_GUI_TEST_MAIN(twinmere::ui::HelpWindowTest)
#include "help_window_test.moc"
