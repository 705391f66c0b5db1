#include "dialogs/dialog_support.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "app/version.h"
#include "ui/byte_text.h"
#include "ui/form.h"

namespace twinmere::ui {
namespace {

// The behaviour AssistTextField gives; a child of its field.
class FieldAssist final : public QObject {
 public:
  FieldAssist(QLineEdit* field, QPushButton* browse, QPushButton* default_button)
      : QObject(field), field_(field), browse_(browse), default_button_(default_button) {
    if (browse_ != nullptr) tip_ = browse_->toolTip();
    field->installEventFilter(this);
    connect(field, &QLineEdit::textChanged, this, &FieldAssist::RefreshTip);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::FocusIn:
        // After the mouse press that brought the focus has placed the caret.
        QTimer::singleShot(0, field_, &QLineEdit::selectAll);
        if (browse_ != nullptr) {
          browse_->setDefault(true);
          browse_->setToolTip(tip_ + QObject::tr(" (Enter)"));
        }
        break;
      case QEvent::FocusOut:
        if (browse_ != nullptr) {
          browse_->setToolTip(tip_);
          if (default_button_ != nullptr) default_button_->setDefault(true);
        }
        break;
      case QEvent::Resize:
        RefreshTip();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void RefreshTip() {
    const QString text = field_->text().trimmed();
    const int room = field_->contentsRect().width() - 8;
    field_->setToolTip(field_->fontMetrics().horizontalAdvance(text) > room ? text : QString());
  }

  QLineEdit* field_;
  QPushButton* browse_;
  QPushButton* default_button_;
  QString tip_;
};

}  // namespace

void RequestHelp(QWidget* from, int topic) {
  // The help window opens the topic's page; until it exists there is none.
  (void)from;
  (void)topic;
}

bool ShowDialogMessage(QWidget* owner, const DialogMessage& message) {
  const bool question = message.icon == MessageIcon::Information;
  QDialog box(owner);
  box.setObjectName("MessageBox");
  box.setWindowTitle(QString::fromLatin1(kProgramTitle));
  auto* icon = new QLabel(&box);
  const int size = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
  icon->setPixmap(
      box.style()
          ->standardIcon(question ? QStyle::SP_MessageBoxInformation : QStyle::SP_MessageBoxWarning)
          .pixmap(size, size));
  icon->setAlignment(Qt::AlignTop);
  auto* text = Named(new QLabel(BytesToText(message.text), &box), "lblMessage");
  text->setTextFormat(Qt::PlainText);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text->setWordWrap(true);
  text->setMinimumWidth(text->fontMetrics().averageCharWidth() * 60);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | (question ? QDialogButtonBox::Cancel : QDialogButtonBox::NoButton) |
          QDialogButtonBox::Help,
      &box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::helpRequested, &box,
                   [&box, topic = message.help_topic] { RequestHelp(&box, topic); });
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(&box);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  for (QAbstractButton* button : buttons->buttons()) button->setIcon(QIcon());
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  return box.exec() == QDialog::Accepted;
}

void AssistTextField(QLineEdit* field, QPushButton* browse, QPushButton* default_button) {
  new FieldAssist(field, browse, default_button);
}

}  // namespace twinmere::ui
