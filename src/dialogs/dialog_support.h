// What the dialogs share besides the Form machinery: the behaviour of their
// text fields, the report file chooser and the cache of drop verdicts.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;
class QWidget;

namespace twinmere::ui {

// Gives a dialog's text field its common behaviour: its whole text is
// selected when it gets the focus, and its tool tip shows the text while it
// is wider than the field. With `browse`, that button is the dialog's
// default button while the field has the focus (its tool tip then ends in
// " (Enter)") and `default_button` becomes the default again when the
// field loses it.
void AssistTextField(QLineEdit* field, QPushButton* browse = nullptr,
                     QPushButton* default_button = nullptr);

// What the report file chooser proposes for a report field's text that ends
// in "/": that folder as written, or "SyncReport.txt" in it.
enum class ReportFolderText : uint8_t { AsWritten, ReportFileInIt };

// The report file chooser of the dialogs, titled `title` (text files, default
// extension "txt", the file need not exist), for the text of a report field:
// it proposes the text without blanks at its ends or, when that is empty,
// "SyncReport.txt" in `documents` (the program's folder when that is empty),
// and opens in the proposal's folder. Returns the chosen file, or nothing when
// the user cancels.
std::optional<std::string> ChooseReportFile(QWidget* owner, const QString& title,
                                            const std::string& text, const std::string& documents,
                                            ReportFolderText folder_text);

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
