// What the dialogs share besides the Form machinery: the behaviour of their
// text fields and the cache of drop verdicts.
#pragma once

#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

namespace twinmere::ui {

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
