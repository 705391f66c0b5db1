#include "widgets/keyboard_cues.h"

#include <QApplication>
#include <QEvent>
#include <QSinglePointEvent>
#include <QStyle>
#include <QWidget>
#include <cstdint>

namespace twinmere::ui {
namespace {

// The squared distance the mouse must move beyond to hide the cues.
constexpr int kUnCueDistanceSquared = 1000;

// The form whose cues apply to `widget`: the form it belongs to, else (a
// menu, a message box) the active window's.
const ICue* CueOf(const QWidget* widget) {
  const ICue* cue = widget != nullptr ? dynamic_cast<const ICue*>(widget->window()) : nullptr;
  if (cue == nullptr) cue = dynamic_cast<const ICue*>(QApplication::activeWindow());
  return cue;
}

ICue* ActiveForm() {
  return dynamic_cast<ICue*>(QApplication::activeWindow());
}

}  // namespace

bool KeyboardCuesFromStyle() {
  const QStyle* style = QApplication::style();
  if (const auto* cue_style = qobject_cast<const CueStyle*>(style)) style = cue_style->baseStyle();
  return style->styleHint(QStyle::SH_UnderlineShortcut) != 0;
}

CueStyle::CueStyle(QStyle* inner) : QProxyStyle(inner) {}

int CueStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                        QStyleHintReturn* return_data) const {
  const int inner = QProxyStyle::styleHint(hint, option, widget, return_data);
  if (hint != SH_UnderlineShortcut || inner != 0) return inner;
  const ICue* cue = CueOf(widget);
  return cue != nullptr && cue->Cued() ? 1 : 0;
}

void CueStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                             QPainter* painter, const QWidget* widget) const {
  if (element == PE_FrameFocusRect && baseStyle()->styleHint(SH_UnderlineShortcut) == 0) {
    const ICue* cue = CueOf(widget);
    if (cue != nullptr && !cue->Cued()) return;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void InstallCueStyle() {
  if (qobject_cast<CueStyle*>(QApplication::style()) != nullptr) return;
  // The proxy adopts the current style; the application no longer owns it
  // then and keeps it alive inside the proxy.
  QApplication::setStyle(new CueStyle(QApplication::style()));
}

void InputHooks::InstallHooks() {
  if (installed_) return;
  qApp->installEventFilter(this);
  installed_ = true;
}

void InputHooks::RemoveHooks() {
  if (!installed_) return;
  if (qApp != nullptr) qApp->removeEventFilter(this);
  installed_ = false;
}

bool InputHooks::eventFilter(QObject* /*watched*/, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      if (ICue* form = ActiveForm()) form->Cue();
      break;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::Wheel: {
      const QPoint position = static_cast<QSinglePointEvent*>(event)->globalPosition().toPoint();
      const int64_t dx = int64_t{position.x()} - last_position_.x();
      const int64_t dy = int64_t{position.y()} - last_position_.y();
      if (dx * dx + dy * dy > kUnCueDistanceSquared) {
        if (ICue* form = ActiveForm()) form->UnCue();
        last_position_ = position;
      }
      break;
    }
    default:
      break;
  }
  return false;
}

}  // namespace twinmere::ui
