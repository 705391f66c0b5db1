// What every window of the desktop program shares: the routing of its text
// fields through the text-field filter, keyboard cues, the shared context
// menu with its What's This and More Info entries, F1 and Shift+F1, and the
// help topic of the form and of its controls.
//
// How a form adopts it (the main window does the same):
//
//   class OptionsDialog final : public QDialog, public Form { ... };
//
//   1. Create the controls with their design names as object names
//      (txtSource, chkBidi, fraReport ...). Give every control a What's This
//      text (setWhatsThis: what it does, in one or two sentences); a label
//      without one takes its buddy's. A control with a page of its own gets
//      SetHelpTopic(*control, topic); the others use the form's. A control
//      (or a frame, for the controls in it) that a section of its page
//      explains gets SetHelpSection(*control, "id"): F1 opens the page there.
//   2. At the end of loading call, with the routed text fields in the order
//      they are routed:
//        SetUpForm(*this, services, kHelpOptionsDialog,
//                  {txtSource, txtTarget, txtReport, txtRestrict});
//      Every label, field, button, check box, frame (QGroupBox) and every
//      other control with a What's This text then shows the shared context
//      menu on a right-button release (and for the menu key), every routed
//      field goes through the text-field filter, the form starts with its
//      keyboard cues hidden (unless KeyboardCues), F1 opens the help of the
//      focused control, Shift+F1 starts What's This mode (whose texts a
//      screen reader reads, see whats_this.h) and Shift+F10 opens the
//      focused control's menu.
//   3. Implement UpdateUI. The main window calls it for every open form when
//      the palette, style, font or theme change; a form needs no change
//      handler of its own.
//   4. A dialog's routings are removed, in the reverse order, when it
//      finishes (OK, Cancel, closing the window), before its controls go
//      away. Another form calls UnloadForm() when it unloads.
//   5. Open the dialog window-modal (QDialog::open(), or
//      setWindowModality(Qt::WindowModal) before exec()), so that the help
//      window, which has no owner, stays usable; show messages with
//      ShowDialogMessage (help_window.h). A Help button calls
//      ShowFormHelp().
#pragma once

#include <QIcon>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStyle>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "widgets/help_window.h"
#include "widgets/keyboard_cues.h"
#include "widgets/routing.h"

class QAction;
class QMenu;
class QWidget;

namespace twinmere::ui {

// What the forms of the program share. The main window makes it at start-up
// and hands it to every form it opens.
struct FormServices {
  FormServices(bool cues, std::string help_folder)
      : keyboard_cues(cues), help(std::move(help_folder)) {}
  // KeyboardCues: the style always shows access-key underlines (read once at
  // start-up, KeyboardCuesFromStyle).
  bool keyboard_cues;
  HelpWindow help;
};

// The help topic of one control for More Info and F1 (0: the form's).
void SetHelpTopic(QWidget& control, int topic);
int HelpTopicOf(const QWidget& control);
// The section of its page that explains a control, by the id of an element
// of the page (empty: the page's top). A control without one takes that of
// the nearest control around it that has one (its frame).
void SetHelpSection(QWidget& control, const QString& section);
QString HelpSectionOf(const QWidget& control);

class Form : public IRedirect, public ICue {
 public:
  Form() = default;
  ~Form() override;
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Re-applies the form's colours, fonts and button images after a change
  // of the palette, the style or the icon theme.
  virtual void UpdateUI() = 0;

  // ICue. Cue and UnCue do nothing while KeyboardCues holds (the form is
  // then always cued) or before SetUpForm.
  void Cue() override;
  void UnCue() override;
  bool Cued() const override;

  // The routed events: the text-field filter for the routed fields, and the
  // shared context menu for every control that takes part. Events of the
  // form's own window are passed on; a form that routes its window (the
  // main window) overrides this for them and calls Form::WndProc for the
  // rest.
  bool WndProc(QObject& watched, QEvent& event) override;

  // The shared context menu for `control` at `position` (global): prepared
  // as PrepareContextMenu says, then popped up (the call returns at once).
  void ShowContextMenu(QWidget& control, const QPoint& position);
  // Sets the entries of the menu for `control` and remembers it as the
  // control the entries act on (RClickControl); returns the menu (mnuPopup).
  // Editing entries (Undo, Cut, Copy, Paste, Clear, Select All and their
  // separators) show only for text fields: Copy and Cut need a selection,
  // Select All text that is not all selected, Undo the field's undo state,
  // Clear text, Paste text on the clipboard; a read-only field shows only
  // Copy and Select All of them. What's This? and More Info... always show.
  QMenu* PrepareContextMenu(QWidget& control);

  // Opens the context menu of the focused control as the menu key does
  // (Shift+F10).
  void RequestMenuForFocus();

  // The help of `control`: its page (its own topic, else the form's) at its
  // section, each taken from the control or the nearest control around it
  // that has one; the form's page when null.
  void ShowHelpFor(const QWidget* control);
  void ShowFormHelp();
  int FormHelpTopic() const { return help_topic_; }
  FormServices& Services() const { return *services_; }

 protected:
  // See the header's comment. `routed` lists the windows routed on load in
  // their order: the form's own window may come first (the main window), then
  // the text fields. Also gives every control an accessible name (a label
  // or button its caption without the access-key marker, a captionless
  // button its tool tip, a field its label's, a frame its title) unless it
  // has one.
  void SetUpForm(QWidget& self, FormServices& services, int help_topic,
                 std::initializer_list<QWidget*> routed);
  // Removes the routings, newest first. A second call does nothing.
  void UnloadForm();

 private:
  void Route(QObject& routed, QWidget& control);
  QWidget* ControlOf(const QObject& watched) const;
  void CreateContextMenu();
  void RefreshCues();

  QWidget* self_ = nullptr;
  FormServices* services_ = nullptr;
  int help_topic_ = 0;
  bool cued_ = false;
  // One routing per routed object, in the order made; the object each one
  // routes (a field's viewport stands for the field) and its control.
  std::vector<std::unique_ptr<Routing>> routings_;
  std::vector<std::pair<QObject*, QWidget*>> controls_;
  std::vector<QWidget*> fields_;  // the routed text fields

  // The shared context menu, made on first use.
  QMenu* mnuPopup = nullptr;
  QAction* mnuContextUndo = nullptr;
  QAction* mnuSep6 = nullptr;
  QAction* mnuContextCut = nullptr;
  QAction* mnuContextCopy = nullptr;
  QAction* mnuContextPaste = nullptr;
  QAction* mnuContextClear = nullptr;
  QAction* mnuSep7 = nullptr;
  QAction* mnuContextSelectAll = nullptr;
  QAction* mnuSep8 = nullptr;
  QAction* mnuWhat = nullptr;
  QAction* mnuMoreInfo = nullptr;
  QPointer<QWidget> rclick_control_;  // RClickControl
  QPoint menu_position_;
};

// The caption as a screen reader says it: without the access-key marker
// ("&Start" gives "Start", "&&" gives "&") and without a closing colon.
QString WithoutAccessKey(const QString& caption);

// Gives `widget` its design name as object name (tests and the forms find
// controls by it).
template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// The icon theme's icon `name`, else the style's `fallback`.
QIcon ThemeIcon(const QWidget& widget, const char* name, QStyle::StandardPixmap fallback);
// The open folder of the browse buttons.
QIcon FolderIcon(const QWidget& widget);

// Calls UpdateUI of `caller` and of every other open (visible) form.
void UpdateOpenForms(Form& caller);

}  // namespace twinmere::ui
