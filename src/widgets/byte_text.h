// Byte strings (paths, names, command lines) in the windows' text fields.
// Qt shows text as UTF-16, and bytes that are not UTF-8 do not survive the
// conversion; a field therefore keeps the bytes it was last given and hands
// them back unchanged for as long as the user leaves its text alone. Also the
// paths that drags carry, and how a control answers them.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

class QEvent;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;

namespace twinmere::ui {

// The bytes as shown (UTF-8; a byte that is not becomes U+FFFD).
QString BytesToText(const std::string& bytes);
// The text as UTF-8 bytes.
std::string TextToBytes(const QString& text);

// The bytes of one line edit, or of a multi-line field ("\n" between lines).
class ByteText {
 public:
  explicit ByteText(QLineEdit* edit = nullptr) : edit_(edit) {}
  explicit ByteText(QPlainTextEdit* lines) : lines_(lines) {}
  // Shows `bytes`; a field that shows that text already keeps its caret.
  void Set(const std::string& bytes);
  // The bytes last set while the text is unchanged, else the text's bytes.
  std::string Get() const;
  QLineEdit* Edit() const { return edit_; }

 private:
  QString Text() const;

  QLineEdit* edit_ = nullptr;
  QPlainTextEdit* lines_ = nullptr;
  QString shown_;
  std::string bytes_;
};

// The path of the first local file or folder that a drag carries, as the
// bytes of its name (not UTF-8 decoded); nothing for any other drag.
std::optional<std::string> DraggedPath(const QMimeData* data);

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

// Whether `event` is a drag entering or moving over a control, or a drop.
bool IsDragEvent(const QEvent& event);

// Answers the drag or drop `event` (IsDragEvent) on a control that takes the
// items `accepts` says yes to, asked once per dragged path through `verdict`:
// such an item is taken as a copy, anything else is refused. Returns the
// dragged path when it is taken, else nothing.
std::optional<std::string> AnswerDrag(QEvent& event, DropVerdict& verdict,
                                      const std::function<bool(const std::string&)>& accepts);

}  // namespace twinmere::ui
