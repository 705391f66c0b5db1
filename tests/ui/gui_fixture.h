// What the tests of the windows share: a temporary home with the settings
// store and the folders start-up would hand a window, finding controls,
// dropping items, answering message boxes, and the offscreen main().
#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/platform_facts.h"
#include "platform/user_folders.h"
#include "settings/program_settings.h"
#include "settings/registry.h"
#include "widgets/form.h"

namespace twinmere::ui {

// A temporary home: the user's folders below it and an empty settings store.
struct TempHome {
  TempHome() {
    folders.home = Path("");
    folders.config = Path("config");
    folders.state = Path("state");
    folders.data = Path("data");
    folders.documents = Path("docs");
    folders.runtime = Path("");
    folders.temp = Path("");
    settings = ReadProgramSettings(registry, folders);
  }
  std::string Path(const std::string& relative) const {
    return home.path().toStdString() + "/" + relative;
  }
  void WriteFile(const std::string& relative, const std::string& contents) const {
    std::ofstream(Path(relative), std::ios::binary) << contents;
  }
  std::string ReadFile(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  QTemporaryDir home;
  PlatformFacts facts;
  UserFolders folders;
  Registry registry{RegistryPaths{Path("config/registry.sqlite3"), ""}};
  ProgramSettings settings;
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
};

template <typename T>
T* Control(QWidget& window, const char* name) {
  T* control = window.findChild<T*>(name);
  if (control == nullptr) qFatal("no control %s", name);
  return control;
}

// Drags the local item `path` onto `target` and drops it there when the
// target offers to copy it; returns whether it did.
inline bool Drop(QWidget* target, const std::string& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  if (!enter.isAccepted() || enter.dropAction() != Qt::CopyAction) return false;
  QDropEvent drop(QPointF(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                  Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

// Types a path into `field`, a path field whose completion list offers the
// folders of `tree`, key by key at a brisk typist's pace (70 ms a key), with the list opening
// and changing under the keys: the field keeps exactly what was typed, also
// while the list's entries are gone through; picking an entry takes it.
// Reports a failure of the running test (QTest::currentTestFailed).
inline void ExpectTypedPathKept(QLineEdit* field, const QString& tree) {
  for (const char* folder :
       {"alpha/beta/gamma", "alpha/beta/gt9", "alpha/bx", "alphabet", "other", "own"}) {
    QVERIFY(QDir().mkpath(tree + "/" + folder));
  }
  field->activateWindow();
  QTRY_VERIFY(field->isActiveWindow());
  QTest::mouseClick(field, Qt::LeftButton);
  QTRY_VERIFY(field->hasFocus());
  const QString typed = tree + "/alpha/beta/gt9";
  QTest::keyClicks(field, typed, Qt::NoModifier, 35);
  QCOMPARE(field->text(), typed);

  // The list offers the names that go on what is left; going through it
  // changes nothing, Enter takes the highlighted entry.
  QTest::keyClick(field, Qt::Key_Backspace, Qt::NoModifier, 35);
  QTest::keyClick(field, Qt::Key_Backspace, Qt::NoModifier, 35);
  QAbstractItemView* list = field->completer()->popup();
  QTRY_VERIFY(list->isVisible());
  QTest::keyClick(list, Qt::Key_Down);
  QVERIFY(list->currentIndex().isValid());
  QCOMPARE(field->text(), tree + "/alpha/beta/g");
  QTest::keyClick(list, Qt::Key_Return);
  QVERIFY2(field->text() == tree + "/alpha/beta/gamma" || field->text() == typed,
           qPrintable(field->text()));
  QTRY_VERIFY(!list->isVisible());
}

// The ways the focus can leave a path field while its completion list is
// open: another field's access key, Tab, a click, and assistive technology.
enum class FocusMove { AccessKey, Tab, Click, Accessibility };

// Opens the completion list of `field` (key by key, folders of `tree`), moves
// the focus to `next` in every way above, and types on: each time the list
// closes, `field` keeps what was typed into it and the keys reach `next`.
// `access_key` is `next`'s (Alt+T); Tab goes wherever the focus chain says.
// Reports a failure of the running test.
inline void ExpectListClosesAsTheFocusLeaves(QLineEdit* field, QLineEdit* next, Qt::Key access_key,
                                             const QString& tree) {
  QVERIFY(QDir().mkpath(tree + "/data/sub"));
  QVERIFY(QDir().mkpath(tree + "/data/subtle"));
  QWindow* window = field->window()->windowHandle();
  for (const FocusMove move :
       {FocusMove::AccessKey, FocusMove::Tab, FocusMove::Click, FocusMove::Accessibility}) {
    field->clear();
    next->clear();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::qWait(20);  // the focus selects the (empty) text once its event is over
    for (const QChar c : tree + "/data/s")
      QTest::keyClick(window, c.toLatin1(), Qt::NoModifier, 20);
    QAbstractItemView* list = field->completer()->popup();
    QTRY_VERIFY(list->isVisible());
    switch (move) {
      case FocusMove::AccessKey:
        QTest::keyClick(window, access_key, Qt::AltModifier);
        break;
      case FocusMove::Tab:
        QTest::keyClick(window, Qt::Key_Tab);
        break;
      case FocusMove::Click:
        QTest::mouseClick(next, Qt::LeftButton);
        break;
      case FocusMove::Accessibility: {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(next);
        control->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
        break;
      }
    }
    QTRY_VERIFY2(!list->isVisible(), qPrintable(QString::number(int(move))));
    QTRY_VERIFY(!field->hasFocus());
    QTest::qWait(20);
    QTest::keyClick(window, Qt::Key_X);
    QTest::keyClick(window, Qt::Key_Y);
    QCOMPARE(field->text(), tree + "/data/s");
    if (move != FocusMove::Tab) QCOMPARE(next->text(), QString("xy"));
  }
}

// The access key of a caption ("Disa&llow Stop" gives 'l'), in lower case;
// null when it has none ("&&" is a plain "&").
inline QChar AccessKey(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (caption[i + 1] != u'&') return caption[i + 1].toLower();
    ++i;
  }
  return {};
}

// Access keys that two visible captions of `form` share, one entry per clash
// ("l: Disa&llow Stop | &Level: 215"). A form's captions are those of its
// labels, buttons, check boxes, frames and menu bar titles; each menu of the
// form (the menu bar's menus, the context menu once made) is a group of its
// own. Empty when every key belongs to one caption.
inline QStringList AccessKeyClashes(QWidget& form) {
  QStringList clashes;
  const auto check = [&clashes](const QStringList& captions) {
    std::map<QChar, QString> owner;
    for (const QString& caption : captions) {
      const QChar key = AccessKey(caption);
      if (key.isNull()) continue;
      const auto [found, fresh] = owner.emplace(key, caption);
      if (!fresh) clashes << QString(key) + ": " + found->second + " | " + caption;
    }
  };
  QStringList captions;
  for (QWidget* widget : form.findChildren<QWidget*>()) {
    if (widget->window() != &form || !widget->isVisibleTo(&form)) continue;
    if (auto* label = qobject_cast<QLabel*>(widget)) captions << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) captions << button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) captions << frame->title();
    if (auto* bar = qobject_cast<QMenuBar*>(widget)) {
      for (QAction* action : bar->actions())
        if (action->isVisible()) captions << action->text();
    }
  }
  check(captions);
  for (QMenu* menu : form.findChildren<QMenu*>()) {
    QStringList entries;
    for (QAction* action : menu->actions())
      if (action->isVisible() && !action->isSeparator()) entries << action->text();
    check(entries);
  }
  return clashes;
}

// What a screen reader cannot tell of `form`: visible controls that take the
// focus without an accessible name, and menu entries (of the menu bar and of
// the context menu once made) whose name is empty or carries more than the
// entry's words (a tab and its key).
inline QStringList UnnamedForScreenReaders(QWidget& form) {
  QStringList unnamed;
  for (QWidget* widget : form.findChildren<QWidget*>()) {
    if (widget->window() != &form || !widget->isVisibleTo(&form) ||
        widget->focusPolicy() == Qt::NoFocus)
      continue;
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
    if (control == nullptr || control->text(QAccessible::Name).trimmed().isEmpty())
      unnamed << widget->objectName() + " (" + widget->metaObject()->className() + ")";
  }
  for (QMenu* menu : form.findChildren<QMenu*>()) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(menu);
    for (int i = 0; list != nullptr && i < list->childCount(); ++i) {
      QAccessibleInterface* entry = list->child(i);
      if (entry->role() == QAccessible::Separator) continue;
      const QString name = entry->text(QAccessible::Name);
      if (name.trimmed().isEmpty() || name.contains(u'\t'))
        unnamed << menu->objectName() + ": \"" + name + "\"";
    }
  }
  return unnamed;
}

// Visible buttons and check boxes of `form` that a screen reader names alike
// ("Choose folder...: cmdSource | cmdTarget"), so that the user cannot tell
// them apart.
inline QStringList SharedButtonNames(QWidget& form) {
  std::map<QString, QString> owner;
  QStringList shared;
  for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
    if (button->window() != &form || !button->isVisibleTo(&form)) continue;
    const QString name = QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name);
    const auto [found, fresh] = owner.emplace(name, button->objectName());
    if (!fresh) shared << name + ": " + found->second + " | " + button->objectName();
  }
  return shared;
}

// Fails the running test when `form` has a shared access key, something a
// screen reader cannot name, or two buttons it names alike
// (AccessKeyClashes, UnnamedForScreenReaders, SharedButtonNames).
#define VERIFY_KEYS_AND_NAMES(form)                                            \
  do {                                                                         \
    const QStringList clashes = ::twinmere::ui::AccessKeyClashes(form);        \
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join("; ")));               \
    const QStringList unnamed = ::twinmere::ui::UnnamedForScreenReaders(form); \
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join("; ")));               \
    const QStringList shared = ::twinmere::ui::SharedButtonNames(form);        \
    QVERIFY2(shared.isEmpty(), qPrintable(shared.join("; ")));                 \
  } while (false)

// The file chooser or folder browser that `button` opens, as the user meets
// it (closed again at once): its title and whether it saves.
struct Chooser {
  QString title;
  bool saves = false;
};
inline Chooser OpenChooser(QAbstractButton* button) {
  Chooser chooser;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    chooser = {dialog->windowTitle(), dialog->acceptMode() == QFileDialog::AcceptSave};
    dialog->reject();
  });
  timer.start(5);
  button->click();
  return chooser;
}

// Where F1 takes the user from the controls of `window` (the widget of
// `form`) that can have the focus, where that is wrong: a page that is not
// there, a section its page does not have, or the top of the form's own page
// for a control not listed in `page_top` ("txtSource -> 1000.html#nowhere").
// The form's help folder must hold the pages.
inline QStringList MisplacedHelp(QWidget& window, Form& form, const QStringList& page_top) {
  QStringList misplaced;
  HelpWindow& help = form.Services().help;
  for (QWidget* control : window.findChildren<QWidget*>()) {
    const QString name = control->objectName();
    if (control->window() != &window || !control->isVisibleTo(&window) ||
        control->focusPolicy() == Qt::NoFocus || name.isEmpty() || name.startsWith("qt_"))
      continue;
    form.ShowHelpFor(control);
    const QUrl shown = help.Window()->Browser()->source();
    QFile file(QString::fromStdString(help.Folder()) + "/" + shown.fileName());
    const QString page = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "";
    const bool form_top = shown.fileName() == HelpPageName(form.FormHelpTopic()) &&
                          shown.fragment().isEmpty() && !page_top.contains(name);
    if (page.isEmpty() || form_top ||
        (!shown.fragment().isEmpty() && !page.contains("id=\"" + shown.fragment() + "\"")))
      misplaced << name + " -> " + shown.fileName() + "#" + shown.fragment();
  }
  help.CloseHelpWindow();
  return misplaced;
}

#define VERIFY_HELP_PLACES(window, form, ...)                                               \
  do {                                                                                      \
    const QStringList misplaced = ::twinmere::ui::MisplacedHelp(window, form, __VA_ARGS__); \
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join("; ")));                        \
  } while (false)

// Answers every message box that opens while it lives, with OK or Cancel,
// and keeps the texts.
class MessageAnswers final : public QObject {
 public:
  explicit MessageAnswers(bool ok = true) : ok_(ok) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box == nullptr || !box->isVisible()) continue;
        texts << box->text();
        box->button(ok_ ? QMessageBox::Ok : QMessageBox::Cancel)->click();
      }
    });
    timer_.start(5);
  }
  QStringList texts;

 private:
  bool ok_;
  QTimer timer_;
};

}  // namespace twinmere::ui

// The test program of `TestClass`, drawing offscreen unless a platform is
// chosen.
#define TWINMERE_GUI_TEST_MAIN(TestClass)                                                        \
  int main(int argc, char** argv) {                                                              \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    QApplication application(argc, argv);                                                        \
    TestClass test;                                                                              \
    return QTest::qExec(&test, argc, argv);                                                      \
  }
