// What the dialogs share: the one route of every help request, the message
// box, the behaviour of their text fields and the cache of drop verdicts.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "app/dialog_message.h"

class QLineEdit;
class QPushButton;
class QWidget;

namespace twinmere::ui {

// Opens the help page of `topic`. Every Help button, message box and help
// command of the dialogs comes through here.
void RequestHelp(QWidget* from, int topic);

// Shows `message` modally over `owner`: the program title as caption, a
// warning icon and OK, or for a question (MessageIcon::Information) an
// information icon with OK and Cancel; a Help button opens the message's
// topic and leaves the box open. Returns true for OK.
bool ShowDialogMessage(QWidget* owner, const DialogMessage& message);

// Gives a dialog's text field its common behaviour: its whole text is
// selected when it gets the focus, and its tool tip shows the text while it
// is wider than the field. With `browse`, that button is the dialog's
// default button while the field has the focus (its tool tip then ends in
// " (Enter)") and `default_button` becomes the default again when the
// field loses it.
void AssistTextField(QLineEdit* field, QPushButton* browse = nullptr,
                     QPushButton* default_button = nullptr);

// The verdict on the item being dragged, worked out once per dragged path.
class DropVerdict {
 public:
  bool For(const std::string& path, const std::function<bool(const std::string&)>& check) {
    if (!known_ || path != path_) {
      path_ = path;
      verdict_ = check(path);
      known_ = true;
    }
    return verdict_;
  }

 private:
  std::string path_;
  bool verdict_ = false;
  bool known_ = false;
};

}  // namespace twinmere::ui
