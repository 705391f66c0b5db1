// What every form shares, on a small dialog set up as the program's dialogs
// are: stacked routings, the text-field filter, the shared context menu and
// the keyboard cues. Offscreen.

#include "widgets/form.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <functional>
#include <set>
#include <vector>

#include "app/help_topics.h"
#include "app/shortcuts.h"
#include "ui/gui_fixture.h"
#include "widgets/keyboard_cues.h"
#include "widgets/routing.h"
#include "widgets/text_fields.h"

namespace twinmere::ui {
namespace {

// A dialog as the program builds one: a label with its buddy field, a
// read-only field that scrolls, and a button with a help page of its own.
class TestDialog final : public QDialog, public Form {
 public:
  explicit TestDialog(FormServices& services) {
    lblName = Named(new QLabel("&Name:", this), "lblName");
    txtName = Named(new QLineEdit(this), "txtName");
    txtLog = Named(new QPlainTextEdit(this), "txtLog");
    cmdGo = Named(new QPushButton("&Go", this), "cmdGo");
    lblName->setBuddy(txtName);
    txtLog->setReadOnly(true);
    txtLog->setAccessibleName("Log");
    txtName->setWhatsThis("The name.");
    txtLog->setWhatsThis("The log.");
    cmdGo->setWhatsThis("Goes.");
    SetHelpTopic(*cmdGo, kHelpShortcutDialog);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* control : {static_cast<QWidget*>(lblName), static_cast<QWidget*>(txtName),
                             static_cast<QWidget*>(txtLog), static_cast<QWidget*>(cmdGo)}) {
      layout->addWidget(control);
    }
    SetUpForm(*this, services, kHelpOptionsDialog, {txtName, txtLog});
    txtName->installEventFilter(this);
  }
  void UpdateUI() override {}
  // The name field selects its text when it gets the focus, as the
  // program's fields do.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == txtName && event->type() == QEvent::FocusIn)
      SelectAllOnFocus(*txtName, *static_cast<QFocusEvent*>(event));
    return QDialog::eventFilter(watched, event);
  }

  QLabel* lblName;
  QLineEdit* txtName;
  QPlainTextEdit* txtLog;
  QPushButton* cmdGo;
};

// A desktop style set to hide access keys until a key is pressed.
class HiddenAccessKeysStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_UnderlineShortcut) return 0;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

// Records the events of one kind that reach it, and passes them on or not.
class Probe final : public IRedirect {
 public:
  Probe(std::vector<char>& log, char name, bool handles)
      : log_(log), name_(name), handles_(handles) {}
  bool WndProc(QObject& /*watched*/, QEvent& event) override {
    if (event.type() != QEvent::User) return false;
    log_.push_back(name_);
    return handles_;
  }

 private:
  std::vector<char>& log_;
  char name_;
  bool handles_;
};

QString Text(QWidget& field) {
  if (auto* line = qobject_cast<QLineEdit*>(&field)) return line->text();
  return static_cast<QPlainTextEdit&>(field).toPlainText();
}

class FormTest : public QObject {
  Q_OBJECT
 private slots:
  void RoutingsStackAndComeOffInEitherOrder();
  void ReadOnlyFieldRefusesEveryPasteWhileAnEditableOneAccepts();
  void ContextMenuOffersWhatTheControlAllows();
  void RightClickThatFocusesAFieldOffersWhatItsSelectionAllows();
  void ShiftF10OpensTheMenuAndWhatsThisReachesScreenReaders();
  void CuesShowOnAKeyAndHideWhenTheMouseMovesMoreThan31Pixels();
};

void FormTest::RoutingsStackAndComeOffInEitherOrder() {
  // 'w' is the widget's own handling: the oldest routing, which passes on.
  for (const bool newest_first : {true, false}) {
    QWidget widget;
    std::vector<char> log;
    Probe own(log, 'w', false), a(log, 'a', false), b(log, 'b', false);
    Routing widget_handling(widget, own);
    auto route_a = std::make_unique<Routing>(widget, a);
    auto route_b = std::make_unique<Routing>(widget, b);
    const auto deliver = [&] {
      log.clear();
      QEvent event(QEvent::User);
      QCoreApplication::sendEvent(&widget, &event);
      return std::string(log.begin(), log.end());
    };
    QCOMPARE(deliver(), std::string("baw"));
    (newest_first ? route_b : route_a).reset();
    QCOMPARE(deliver(), std::string(newest_first ? "aw" : "bw"));
    (newest_first ? route_a : route_b).reset();
    QCOMPARE(deliver(), std::string("w"));
  }
  // A routing that handles an event keeps it from the older ones, and one
  // removed after its widget is gone does no harm.
  std::vector<char> log;
  Probe keeper(log, 'k', true), older(log, 'o', false);
  auto widget = std::make_unique<QWidget>();
  Routing route_older(*widget, older);
  Routing route_keeper(*widget, keeper);
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(widget.get(), &event);
  QCOMPARE(std::string(log.begin(), log.end()), std::string("k"));
  widget.reset();
  route_older.Remove();
  QVERIFY(route_keeper.Routed() == nullptr);
}

void FormTest::ReadOnlyFieldRefusesEveryPasteWhileAnEditableOneAccepts() {
  FormServices services(true, "");
  TestDialog dialog(services);
  auto* read_only_line = Named(new QLineEdit(&dialog), "txtReadOnly");
  read_only_line->setReadOnly(true);
  dialog.show();
  const bool has_selection = QGuiApplication::clipboard()->supportsSelection();

  struct Way {
    const char* name;
    std::function<void(QWidget&)> paste;
  };
  const Way ways[] = {
      {"keys",
       [](QWidget& field) {
         QGuiApplication::clipboard()->setText("+keys");
         QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
       }},
      {"middle button",
       [](QWidget& field) {
         QGuiApplication::clipboard()->setText("+middle", QClipboard::Selection);
         QWidget* target = field.focusProxy() != nullptr ? field.focusProxy() : &field;
         if (auto* area = qobject_cast<QAbstractScrollArea*>(&field)) target = area->viewport();
         QTest::mouseClick(target, Qt::MiddleButton, {}, QPoint(5, 5));
       }},
      {"drop",
       [](QWidget& field) {
         QWidget* target = &field;
         if (auto* area = qobject_cast<QAbstractScrollArea*>(&field)) target = area->viewport();
         QMimeData data;
         data.setText("+drop");
         QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
         QCoreApplication::sendEvent(target, &enter);
         if (!enter.isAccepted()) return;
         QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
         QCoreApplication::sendEvent(target, &drop);
       }},
  };
  for (QWidget* field :
       {static_cast<QWidget*>(dialog.txtName), static_cast<QWidget*>(read_only_line),
        static_cast<QWidget*>(dialog.txtLog)}) {
    const bool editable = field == dialog.txtName;
    for (const Way& way : ways) {
      if (way.name == std::string("middle button") && !has_selection && editable) continue;
      if (auto* line = qobject_cast<QLineEdit*>(field)) line->setText("text");
      if (auto* plain = qobject_cast<QPlainTextEdit*>(field)) plain->setPlainText("text");
      field->setFocus();
      way.paste(*field);
      QVERIFY2((Text(*field) != "text") == editable,
               qPrintable(field->objectName() + " " + way.name + ": " + Text(*field)));
    }
  }
}

void FormTest::ContextMenuOffersWhatTheControlAllows() {
  FormServices services(true, FindHelpFolder(*CreatePlatformFileSystem()));
  TestDialog dialog(services);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QGuiApplication::clipboard()->setText("clip");
  dialog.txtName->clear();
  QTest::keyClicks(dialog.txtName, "abc");  // undoable, nothing selected
  dialog.txtLog->setPlainText("line");
  dialog.txtLog->selectAll();

  struct Case {
    QWidget* control;
    std::set<QString> shown;
    std::set<QString> enabled;
    int more_info_topic;
  };
  const std::set<QString> help = {"mnuWhat", "mnuMoreInfo"};
  const Case cases[] = {
      {dialog.txtName,
       {"mnuContextUndo", "mnuSep6", "mnuContextCut", "mnuContextCopy", "mnuContextPaste",
        "mnuContextClear", "mnuSep7", "mnuContextSelectAll", "mnuSep8", "mnuWhat", "mnuMoreInfo"},
       {"mnuContextUndo", "mnuContextPaste", "mnuContextClear", "mnuContextSelectAll", "mnuWhat",
        "mnuMoreInfo", "mnuSep6", "mnuSep7", "mnuSep8"},
       kHelpOptionsDialog},
      {dialog.txtLog,
       {"mnuContextCopy", "mnuContextSelectAll", "mnuSep8", "mnuWhat", "mnuMoreInfo"},
       {"mnuContextCopy", "mnuWhat", "mnuMoreInfo", "mnuSep8"},
       kHelpOptionsDialog},
      {dialog.cmdGo, help, help, kHelpShortcutDialog},
  };
  for (const Case& c : cases) {
    QWidget* target = c.control == dialog.txtLog ? dialog.txtLog->viewport() : c.control;
    QTest::mouseRelease(target, Qt::RightButton, {}, QPoint(4, 4));
    auto* menu = dialog.findChild<QMenu*>("mnuPopup");
    QVERIFY(menu != nullptr && menu->isVisible());
    std::set<QString> shown, enabled;
    for (QAction* action : menu->actions()) {
      if (action->isVisible()) shown.insert(action->objectName());
      if (action->isVisible() && action->isEnabled()) enabled.insert(action->objectName());
    }
    QVERIFY2(shown == c.shown && enabled == c.enabled, qPrintable(c.control->objectName()));
    menu->findChild<QAction*>("mnuMoreInfo")->trigger();
    menu->hide();
    QTextBrowser* browser = services.help.Window()->Browser();
    QCOMPARE(browser->source().fileName(), HelpPageName(c.more_info_topic));
  }
  VERIFY_KEYS_AND_NAMES(dialog);
  // The menu's Paste reaches the field it was opened on.
  QTest::mouseRelease(dialog.txtName, Qt::RightButton, {}, QPoint(4, 4));
  // While it is open, assistive technology finds the menu among the form's
  // children, with its entries by their names and states.
  auto* menu = dialog.findChild<QMenu*>("mnuPopup");
  QAccessibleInterface* form = QAccessible::queryAccessibleInterface(&dialog);
  QCOMPARE(form->role(), QAccessible::Dialog);
  QAccessibleInterface* listed = form->child(form->childCount() - 1);
  QVERIFY(listed != nullptr && listed->object() == menu);
  QCOMPARE(listed->role(), QAccessible::PopupMenu);
  QCOMPARE(form->indexOfChild(listed), form->childCount() - 1);
  QStringList entries;
  for (int i = 0; i < listed->childCount(); ++i) {
    QAccessibleInterface* entry = listed->child(i);
    if (entry->role() == QAccessible::MenuItem && !entry->state().disabled &&
        !entry->state().invisible)
      entries << entry->text(QAccessible::Name);
  }
  QCOMPARE(entries,
           QStringList({"Undo", "Paste", "Clear", "Select All", "What's This?", "More Info..."}));
  dialog.findChild<QAction*>("mnuContextPaste")->trigger();
  QCOMPARE(dialog.txtName->text(), QString("abcclip"));
  menu->hide();
  QCOMPARE(form->child(form->childCount() - 1)->object() == menu, false);
  // The menu key opens it with its first entry chosen.
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(4, 4),
                        dialog.txtName->mapToGlobal(QPoint(4, 4)));
  QCoreApplication::sendEvent(dialog.txtName, &key);
  QVERIFY(menu->isVisible());
  QCOMPARE(menu->activeAction(), dialog.findChild<QAction*>("mnuContextUndo"));
  menu->hide();
  services.help.CloseHelpWindow();
}

// The click gives the field the focus, which selects its text; the menu
// offers Cut and Copy for that selection, and no Select All.
void FormTest::RightClickThatFocusesAFieldOffersWhatItsSelectionAllows() {
  FormServices services(true, "");
  TestDialog dialog(services);
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  dialog.txtName->setText("abc");
  dialog.cmdGo->setFocus();
  QTest::mouseClick(dialog.txtName, Qt::RightButton, {}, QPoint(4, 4));
  auto* menu = dialog.findChild<QMenu*>("mnuPopup");
  QVERIFY(menu != nullptr && menu->isVisible());
  QVERIFY(dialog.txtName->hasFocus());
  QCOMPARE(dialog.txtName->selectedText(), QString("abc"));
  for (const char* name : {"mnuContextCut", "mnuContextCopy"})
    QVERIFY2(menu->findChild<QAction*>(name)->isEnabled(), name);
  QVERIFY(!menu->findChild<QAction*>("mnuContextSelectAll")->isEnabled());
  menu->hide();
  QCoreApplication::processEvents();
  QCOMPARE(dialog.txtName->selectedText(), QString("abc"));
}

// Key by key: Shift+F10 opens the field's menu, W its What's This?, whose
// text takes the focus with its words as the accessible name, so that a
// screen reader says it; Escape gives the focus back. What's This mode
// (Shift+F1 and a click) shows the same.
void FormTest::ShiftF10OpensTheMenuAndWhatsThisReachesScreenReaders() {
  FormServices services(true, "");
  TestDialog dialog(services);
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  dialog.txtName->setFocus();
  QTest::keyClick(&dialog, Qt::Key_F10, Qt::ShiftModifier);
  auto* menu = dialog.findChild<QMenu*>("mnuPopup");
  QVERIFY(menu != nullptr && menu->isVisible());
  QVERIFY(menu->activeAction() != nullptr);  // the first entry, as the menu key chooses it
  QTest::keyClick(menu, Qt::Key_W);
  QVERIFY(!menu->isVisible());

  const auto expect_read_out = [](const QString& text, QWidget* control) {
    QWidget* shown = QApplication::focusWidget();
    QVERIFY(shown != nullptr && shown->isVisible());
    QAccessibleInterface* popup = QAccessible::queryAccessibleInterface(shown);
    QCOMPARE(popup->role(), QAccessible::HelpBalloon);
    QCOMPARE(popup->text(QAccessible::Name), text);
    QCOMPARE(popup->text(QAccessible::Description),
             QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name));
    QVERIFY(popup->state().focused);
    QTest::keyClick(shown, Qt::Key_Escape);
    QTRY_COMPARE(QApplication::focusWidget(), control);
  };
  expect_read_out("The name.", dialog.txtName);
  if (QTest::currentTestFailed()) return;

  dialog.cmdGo->setFocus();
  QTest::keyClick(&dialog, Qt::Key_F1, Qt::ShiftModifier);
  QVERIFY(QWhatsThis::inWhatsThisMode());
  QTest::mouseClick(dialog.cmdGo, Qt::LeftButton);
  QVERIFY(!QWhatsThis::inWhatsThisMode());
  expect_read_out("Goes.", dialog.cmdGo);
}

void FormTest::CuesShowOnAKeyAndHideWhenTheMouseMovesMoreThan31Pixels() {
  QApplication::setStyle(new HiddenAccessKeysStyle);
  FormServices services(KeyboardCuesFromStyle(), "");
  QVERIFY(!services.keyboard_cues);
  InputHooks hooks;
  hooks.InstallHooks();
  TestDialog dialog(services);
  dialog.show();
  dialog.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  const auto underlined = [&] {
    return dialog.lblName->style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr,
                                              dialog.lblName) != 0;
  };
  const auto move_to = [&](QPoint global) {
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(global), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(dialog.cmdGo, &move);
  };
  const QPoint start(300, 200);
  move_to(start);
  QVERIFY(!dialog.Cued() && !underlined());
  QTest::keyClick(dialog.txtName, Qt::Key_Shift);
  QVERIFY(dialog.Cued() && underlined());
  move_to(start + QPoint(31, 0));  // 961: kept
  QVERIFY(dialog.Cued());
  move_to(start + QPoint(32, 0));  // 1024: hidden
  QVERIFY(!dialog.Cued() && !underlined());

  // The label's access key works whether or not it is underlined.
  dialog.cmdGo->setFocus();
  QTest::keyClick(&dialog, Qt::Key_N, Qt::AltModifier);
  QCOMPARE(QApplication::focusWidget(), dialog.txtName);
  hooks.RemoveHooks();
  QTest::keyClick(dialog.txtName, Qt::Key_Shift);
  move_to(start + QPoint(200, 0));
  QVERIFY(dialog.Cued());  // no hooks, no change
}

}  // namespace
}  // namespace twinmere::ui

TWINMERE_GUI_TEST_MAIN(twinmere::ui::FormTest)
#include "form_test.moc"
