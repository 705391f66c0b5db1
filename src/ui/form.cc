#include "ui/form.h"

#include <QAbstractButton>
#include <QLabel>
#include <QStyle>
#include <QWidget>

namespace twinmere::ui {

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

void SetUpForm(QWidget& form) {
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
}

}  // namespace twinmere::ui
