#include "widgets/form.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QShortcut>
#include <QWhatsThis>
#include <QWidget>
#include <algorithm>

#include "widgets/text_fields.h"
#include "widgets/whats_this.h"

namespace twinmere::ui {
namespace {

constexpr char kHelpTopicProperty[] = "helpTopic";
constexpr char kHelpSectionProperty[] = "helpSection";

// The controls of `form` that take part in the context menu: its labels,
// fields, buttons, check boxes, frames and every other control with a What's
// This text, found by their design names (Qt's own parts have none or one
// that begins with "qt_"). Controls of other windows (a dialog owned by the
// form) are not the form's.
std::vector<QWidget*> ControlsOf(QWidget& form) {
  std::vector<QWidget*> controls;
  for (QWidget* widget : form.findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || widget->window() != &form) {
      continue;
    }
    if (qobject_cast<QLabel*>(widget) != nullptr || IsTextField(*widget) ||
        qobject_cast<QAbstractButton*>(widget) != nullptr ||
        qobject_cast<QGroupBox*>(widget) != nullptr || !widget->whatsThis().isEmpty()) {
      controls.push_back(widget);
    }
  }
  return controls;
}

void GiveAccessibleNames(QWidget& form) {
  for (QLabel* label : form.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    const QString name = WithoutAccessKey(label->text());
    if (label->accessibleName().isEmpty()) label->setAccessibleName(name);
    QWidget* buddy = label->buddy();
    if (buddy != nullptr && buddy->accessibleName().isEmpty()) buddy->setAccessibleName(name);
  }
  for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
    if (!button->accessibleName().isEmpty()) continue;
    button->setAccessibleName(button->text().isEmpty() ? button->toolTip()
                                                       : WithoutAccessKey(button->text()));
  }
  for (QGroupBox* frame : form.findChildren<QGroupBox*>()) {
    if (frame->accessibleName().isEmpty())
      frame->setAccessibleName(WithoutAccessKey(frame->title()));
  }
}

// A form as assistive technology sees it: its window with its controls and,
// while it is open, the shared context menu. A pop-up menu belongs to no
// window of its own, so nothing else would list it.
class FormAccessible final : public QAccessibleWidget {
 public:
  using QAccessibleWidget::QAccessibleWidget;
  int childCount() const override {
    return QAccessibleWidget::childCount() + (OpenMenu() != nullptr ? 1 : 0);
  }
  QAccessibleInterface* child(int index) const override {
    QMenu* menu = OpenMenu();
    if (menu != nullptr && index == QAccessibleWidget::childCount())
      return QAccessible::queryAccessibleInterface(menu);
    return QAccessibleWidget::child(index);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    QMenu* menu = OpenMenu();
    if (menu != nullptr && child != nullptr && child->object() == menu)
      return QAccessibleWidget::childCount();
    return QAccessibleWidget::indexOfChild(child);
  }

 private:
  QMenu* OpenMenu() const {
    auto* menu =
        widget()->findChild<QMenu*>(QStringLiteral("mnuPopup"), Qt::FindDirectChildrenOnly);
    return menu != nullptr && menu->isVisible() ? menu : nullptr;
  }
};

// Forms (their most derived class, once it is one) get FormAccessible.
QAccessibleInterface* FormInterface(const QString& class_name, QObject* object) {
  if (!object->isWidgetType() || class_name != QLatin1String(object->metaObject()->className()))
    return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (!widget->isWindow() || dynamic_cast<Form*>(widget) == nullptr) return nullptr;
  return new FormAccessible(widget, qobject_cast<QDialog*>(widget) != nullptr
                                        ? QAccessible::Dialog
                                        : QAccessible::Window);
}

}  // namespace

void SetHelpTopic(QWidget& control, int topic) {
  control.setProperty(kHelpTopicProperty, topic);
}

int HelpTopicOf(const QWidget& control) {
  return control.property(kHelpTopicProperty).toInt();
}

void SetHelpSection(QWidget& control, const QString& section) {
  control.setProperty(kHelpSectionProperty, section);
}

QString HelpSectionOf(const QWidget& control) {
  return control.property(kHelpSectionProperty).toString();
}

QString WithoutAccessKey(const QString& caption) {
  QString out;
  out.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size()) ++i;  // "&&" keeps one "&"
    out += caption[i];
  }
  if (out.endsWith(u':')) out.chop(1);
  return out.trimmed();
}

QIcon ThemeIcon(const QWidget& widget, const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), widget.style()->standardIcon(fallback));
}

QIcon FolderIcon(const QWidget& widget) {
  return ThemeIcon(widget, "folder-open", QStyle::SP_DirIcon);
}

void UpdateOpenForms(Form& caller) {
  caller.UpdateUI();
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* form = dynamic_cast<Form*>(window);
    if (form != nullptr && form != &caller && window->isVisible()) form->UpdateUI();
  }
}

Form::~Form() {
  UnloadForm();
}

void Form::SetUpForm(QWidget& self, FormServices& services, int help_topic,
                     std::initializer_list<QWidget*> routed) {
  static const bool interface_known = [] {
    QAccessible::installFactory(FormInterface);
    return true;
  }();
  (void)interface_known;
  ShowWhatsThisAccessibly();
  self_ = &self;
  services_ = &services;
  help_topic_ = help_topic;
  InstallCueStyle();
  GiveAccessibleNames(self);

  const std::vector<QWidget*> controls = ControlsOf(self);
  for (QWidget* control : controls) {
    auto* label = qobject_cast<QLabel*>(control);
    if (label != nullptr && label->whatsThis().isEmpty() && label->buddy() != nullptr) {
      label->setWhatsThis(label->buddy()->whatsThis());
    }
    if (control->whatsThis().isEmpty()) {
      qWarning("Twinmere: %s has no What's This text", qPrintable(control->objectName()));
    }
  }
  // The listed windows first, in their order; then the other controls.
  for (QWidget* widget : routed) {
    if (widget != &self) fields_.push_back(widget);
    Route(*widget, *widget);
  }
  for (QWidget* control : controls) {
    if (std::find(fields_.begin(), fields_.end(), control) == fields_.end()) {
      Route(*control, *control);
    }
  }

  cued_ = false;
  if (!services.keyboard_cues) self.setAttribute(Qt::WA_KeyboardFocusChange, false);
  if (auto* dialog = qobject_cast<QDialog*>(&self)) {
    QObject::connect(dialog, &QDialog::finished, dialog, [this] { UnloadForm(); });
  }

  // F1: the help of the focused control. Shift+F1 (What's This) is another
  // key, so F1 with Shift never opens a page.
  auto* help_key = new QShortcut(QKeySequence(Qt::Key_F1), &self);
  QObject::connect(help_key, &QShortcut::activated, &self,
                   [this] { ShowHelpFor(self_->focusWidget()); });
  auto* whats_this_key = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), &self);
  QObject::connect(whats_this_key, &QShortcut::activated, &self,
                   [] { QWhatsThis::enterWhatsThisMode(); });
  // Shift+F10 opens the focused control's menu, as the menu key does.
  auto* menu_key = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), &self);
  QObject::connect(menu_key, &QShortcut::activated, &self, [this] { RequestMenuForFocus(); });
}

void Form::RequestMenuForFocus() {
  QWidget* focus = self_->focusWidget();
  if (focus == nullptr) return;
  // At the text cursor of a field, else in the middle of the control.
  QPoint at = focus->rect().center();
  const QRect cursor = focus->inputMethodQuery(Qt::ImCursorRectangle).toRect();
  if (IsTextField(*focus) && cursor.isValid()) at = cursor.center();
  QContextMenuEvent request(QContextMenuEvent::Keyboard, at, focus->mapToGlobal(at));
  QCoreApplication::sendEvent(focus, &request);
}

void Form::Route(QObject& routed, QWidget& control) {
  routings_.push_back(std::make_unique<Routing>(routed, *this));
  controls_.emplace_back(&routed, &control);
  // A field that scrolls gets its mouse, drag and menu events on its
  // viewport.
  auto* area = qobject_cast<QAbstractScrollArea*>(&control);
  if (&routed == &control && area != nullptr && &control != self_) {
    routings_.push_back(std::make_unique<Routing>(*area->viewport(), *this));
    controls_.emplace_back(area->viewport(), &control);
  }
}

void Form::UnloadForm() {
  if (mnuPopup != nullptr) mnuPopup->close();
  while (!routings_.empty()) routings_.pop_back();
  controls_.clear();
  fields_.clear();
}

QWidget* Form::ControlOf(const QObject& watched) const {
  for (const auto& [routed, control] : controls_) {
    if (routed == &watched) return control;
  }
  return nullptr;
}

bool Form::WndProc(QObject& watched, QEvent& event) {
  QWidget* control = ControlOf(watched);
  if (control == nullptr || control == self_) return false;
  if (event.type() == QEvent::ContextMenu) {
    // The menu shows when the right button is released; the menu key shows
    // it at once.
    const auto& request = static_cast<const QContextMenuEvent&>(event);
    if (request.reason() == QContextMenuEvent::Keyboard && control->isEnabled()) {
      ShowContextMenu(*control, request.globalPos());
      // From the keyboard the first entry is chosen at once, as the next
      // key would choose it; a screen reader says it.
      for (QAction* action : mnuPopup->actions()) {
        if (action->isVisible() && action->isEnabled() && !action->isSeparator()) {
          mnuPopup->setActiveAction(action);
          break;
        }
      }
    }
    return true;
  }
  if (std::find(fields_.begin(), fields_.end(), control) != fields_.end() &&
      FilterTextBox(*control, event)) {
    return true;
  }
  if (event.type() == QEvent::MouseButtonRelease && control->isEnabled()) {
    const auto& release = static_cast<const QMouseEvent&>(event);
    if (release.button() == Qt::RightButton) {
      ShowContextMenu(*control, release.globalPosition().toPoint());
      return true;
    }
  }
  return false;
}

void Form::CreateContextMenu() {
  mnuPopup = new QMenu(self_);
  mnuPopup->setObjectName("mnuPopup");
  const auto entry = [this](const QString& caption, const char* name, auto&& run) {
    QAction* action = mnuPopup->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, self_, run);
    return action;
  };
  const auto separator = [this](const char* name) {
    QAction* action = mnuPopup->addSeparator();
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  const auto field_command = [this](FieldCommand command) {
    return [this, command] {
      if (rclick_control_ != nullptr) RunFieldCommand(*rclick_control_, command);
    };
  };
  mnuContextUndo = entry(QObject::tr("&Undo"), "mnuContextUndo", field_command(FieldCommand::Undo));
  mnuSep6 = separator("mnuSep6");
  mnuContextCut = entry(QObject::tr("Cu&t"), "mnuContextCut", field_command(FieldCommand::Cut));
  mnuContextCopy = entry(QObject::tr("&Copy"), "mnuContextCopy", field_command(FieldCommand::Copy));
  mnuContextPaste =
      entry(QObject::tr("&Paste"), "mnuContextPaste", field_command(FieldCommand::Paste));
  mnuContextClear =
      entry(QObject::tr("C&lear"), "mnuContextClear", field_command(FieldCommand::Clear));
  mnuSep7 = separator("mnuSep7");
  mnuContextSelectAll = entry(QObject::tr("Select &All"), "mnuContextSelectAll",
                              field_command(FieldCommand::SelectAll));
  mnuSep8 = separator("mnuSep8");
  mnuWhat = entry(QObject::tr("&What's This?"), "mnuWhat", [this] {
    if (rclick_control_ == nullptr) return;
    ShowWhatsThis(menu_position_, rclick_control_->whatsThis(), rclick_control_);
  });
  mnuMoreInfo =
      entry(QObject::tr("More &Info..."), "mnuMoreInfo", [this] { ShowHelpFor(rclick_control_); });
}

QMenu* Form::PrepareContextMenu(QWidget& control) {
  if (mnuPopup == nullptr) CreateContextMenu();
  // The control takes the focus first, with what that does to its
  // selection; the entries follow from the state it is left in.
  if (control.focusPolicy() != Qt::NoFocus) control.setFocus(Qt::PopupFocusReason);
  FinishFocusChange(control);
  const bool field = IsTextField(control);
  for (QAction* action : {mnuContextUndo, mnuSep6, mnuContextCut, mnuContextCopy, mnuContextPaste,
                          mnuContextClear, mnuSep7, mnuContextSelectAll, mnuSep8}) {
    action->setVisible(field);
  }
  mnuWhat->setEnabled(true);
  if (field) {
    const TextFieldState state = FieldState(control);
    mnuContextCopy->setEnabled(state.has_selection);
    mnuContextSelectAll->setEnabled(!state.all_selected);
    if (state.read_only) {
      for (QAction* action :
           {mnuContextUndo, mnuContextCut, mnuContextPaste, mnuContextClear, mnuSep6, mnuSep7}) {
        action->setVisible(false);
      }
    } else {
      const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
      mnuContextUndo->setEnabled(state.can_undo);
      mnuContextClear->setEnabled(state.has_text);
      mnuContextCut->setEnabled(state.has_selection);
      mnuContextPaste->setEnabled(clipboard != nullptr && clipboard->hasText() &&
                                  !clipboard->text().isEmpty());
    }
  }
  rclick_control_ = &control;
  return mnuPopup;
}

void Form::ShowContextMenu(QWidget& control, const QPoint& position) {
  QMenu* menu = PrepareContextMenu(control);
  menu_position_ = position;
  menu->popup(position);
}

void Form::ShowHelpFor(const QWidget* control) {
  if (services_ == nullptr) return;
  // A part of a control (the field of a spin box) has the control's topic,
  // a control in a frame the frame's section.
  int topic = 0;
  QString section;
  for (const QWidget* widget = control; widget != nullptr && widget != self_;
       widget = widget->parentWidget()) {
    if (topic == 0) topic = HelpTopicOf(*widget);
    if (section.isEmpty()) section = HelpSectionOf(*widget);
  }
  services_->help.ShowHelpTopic(topic != 0 ? topic : help_topic_, section);
}

void Form::ShowFormHelp() {
  ShowHelpFor(nullptr);
}

void Form::Cue() {
  if (services_ == nullptr || services_->keyboard_cues || cued_) return;
  cued_ = true;
  self_->setAttribute(Qt::WA_KeyboardFocusChange, true);
  RefreshCues();
}

void Form::UnCue() {
  if (services_ == nullptr || services_->keyboard_cues || !cued_) return;
  cued_ = false;
  self_->setAttribute(Qt::WA_KeyboardFocusChange, false);
  RefreshCues();
}

bool Form::Cued() const {
  return services_ == nullptr || services_->keyboard_cues || cued_;
}

// Every control draws its caption and focus frame again with the new state.
void Form::RefreshCues() {
  self_->update();
  for (QWidget* widget : self_->findChildren<QWidget*>()) {
    if (widget->window() == self_) widget->update();
  }
}

}  // namespace twinmere::ui
