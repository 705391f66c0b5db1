// What's This texts that assistive technology can read: instead of a painted
// window that screen readers never meet, a pop-up that takes the keyboard
// focus, with the text as its accessible name.
#pragma once

class QPoint;
class QString;
class QWidget;

namespace twinmere::ui {

// Shows `text`, the What's This text of `control`, in a pop-up at `position`
// (global, moved into the screen) that takes the keyboard focus, so that a
// screen reader reads it out at once. Any key but a modifier, or a click,
// closes it, and the focus goes back where it was. Opening another closes
// this one.
void ShowWhatsThis(const QPoint& position, const QString& text, QWidget* control);

// From now on What's This mode (Shift+F1, Help > What's This?) shows the
// texts of every window of the program with ShowWhatsThis. A second call
// does nothing.
void ShowWhatsThisAccessibly();

}  // namespace twinmere::ui
