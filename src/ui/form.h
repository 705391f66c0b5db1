// What every window of the desktop program shares. Each form derives from
// Form and calls SetUpForm once its controls exist; the event routing, the
// text-field filter, keyboard cues and the shared context menu of the windows
// hook in there, so that no form has to be rewritten for them.
#pragma once

#include <QIcon>
#include <QString>
#include <QStyle>

class QWidget;

namespace twinmere::ui {

class Form {
 public:
  virtual ~Form() = default;
  // Re-applies the form's colours, fonts and button images after a change
  // of the palette, the style or the icon theme.
  virtual void UpdateUI() = 0;
};

// The caption as a screen reader says it: without the access-key marker
// ("&Start" gives "Start", "&&" gives "&") and without a closing colon.
QString WithoutAccessKey(const QString& caption);

// Gives `widget` its design name as object name (tests and the window
// infrastructure find controls by it).
template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// The icon theme's icon `name`, else the style's `fallback`.
QIcon ThemeIcon(const QWidget& widget, const char* name, QStyle::StandardPixmap fallback);
// The open folder of the browse buttons.
QIcon FolderIcon(const QWidget& widget);

// Gives every control of `form` that has none an accessible name: a label or
// button its caption (WithoutAccessKey), a captionless button its tool tip,
// a field the name of the label whose buddy it is. Names set before stay.
void SetUpForm(QWidget& form);

}  // namespace twinmere::ui
