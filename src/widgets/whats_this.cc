#include "widgets/whats_this.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QWhatsThis>
#include <algorithm>

namespace twinmere::ui {
namespace {

// The pop-up: a label in the colours of tool tips that closes on any key or
// click.
class WhatsThisPopup final : public QLabel {
  Q_OBJECT
 public:
  WhatsThisPopup(const QString& text, QWidget* control)
      : QLabel(text, control != nullptr ? control->window() : nullptr, Qt::Popup),
        control_(control) {
    setObjectName(QStringLiteral("WhatsThisPopup"));
    setAttribute(Qt::WA_DeleteOnClose);
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setMargin(fontMetrics().averageCharWidth());
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
  }

  QWidget* Control() const { return control_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Shift:
      case Qt::Key_Control:
      case Qt::Key_Alt:
      case Qt::Key_Meta:
      case Qt::Key_AltGr:
      case Qt::Key_Super_L:
      case Qt::Key_Super_R:
        return;
      default:
        close();
    }
  }
  void mousePressEvent(QMouseEvent* /*event*/) override { close(); }

 private:
  QPointer<QWidget> control_;
};

// The pop-up as assistive technology sees it: a help balloon named by its
// text and described by the control it explains.
class WhatsThisAccessible final : public QAccessibleWidget {
 public:
  explicit WhatsThisAccessible(WhatsThisPopup* popup)
      : QAccessibleWidget(popup, QAccessible::HelpBalloon) {}
  QString text(QAccessible::Text kind) const override {
    const auto* popup = static_cast<const WhatsThisPopup*>(widget());
    switch (kind) {
      case QAccessible::Name:
        return popup->text();
      case QAccessible::Description: {
        QWidget* control = popup->Control();
        QAccessibleInterface* about =
            control != nullptr ? QAccessible::queryAccessibleInterface(control) : nullptr;
        return about != nullptr ? about->text(QAccessible::Name) : QString();
      }
      default:
        return QAccessibleWidget::text(kind);
    }
  }
};

QAccessibleInterface* WhatsThisInterface(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String(WhatsThisPopup::staticMetaObject.className())) return nullptr;
  return new WhatsThisAccessible(static_cast<WhatsThisPopup*>(object));
}

QPointer<WhatsThisPopup>& OpenPopup() {
  static QPointer<WhatsThisPopup> open;
  return open;
}

// Takes What's This mode's requests from every window.
class WhatsThisRequests final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::WhatsThis || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    const QString text = widget->whatsThis();
    if (text.isEmpty()) return false;  // the request goes on to the control around it
    ShowWhatsThis(static_cast<QHelpEvent*>(event)->globalPos(), text, widget);
    event->accept();
    return true;
  }
};

}  // namespace

void ShowWhatsThis(const QPoint& position, const QString& text, QWidget* control) {
  static const bool interface_known = [] {
    QAccessible::installFactory(WhatsThisInterface);
    return true;
  }();
  (void)interface_known;
  // As Qt's own text does: the mode ends with the text it shows.
  QWhatsThis::leaveWhatsThisMode();
  if (OpenPopup() != nullptr) OpenPopup()->close();
  auto* popup = new WhatsThisPopup(text, control);
  OpenPopup() = popup;

  // As wide as the text needs, up to about 50 characters, then as high as
  // its lines need; inside the screen.
  const int frame = 2 * (popup->frameWidth() + popup->margin());
  const int widest = popup->fontMetrics().averageCharWidth() * 50;
  const int width =
      std::min(popup->fontMetrics().boundingRect(text).width() + frame + 2, widest + frame);
  popup->setFixedWidth(width);
  popup->setFixedHeight(popup->heightForWidth(width));
  QScreen* screen = QGuiApplication::screenAt(position);
  if (screen == nullptr && control != nullptr) screen = control->screen();
  QPoint at = position;
  if (screen != nullptr) {
    const QRect room = screen->availableGeometry();
    at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - width)));
    at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - popup->height())));
  }
  popup->move(at);
  // The focus, which a screen reader follows, goes to the text.
  popup->setFocus(Qt::PopupFocusReason);
  popup->show();
  QAccessibleEvent shown(popup, QAccessible::Alert);
  QAccessible::updateAccessibility(&shown);
}

void ShowWhatsThisAccessibly() {
  static const bool installed = [] {
    qApp->installEventFilter(new WhatsThisRequests(qApp));
    return true;
  }();
  (void)installed;
}

}  // namespace twinmere::ui

#include "whats_this.moc"
