#include "widgets/text_fields.h"

#include <QDropEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

namespace twinmere::ui {
namespace {

// A field whose whole text is to be selected once the event that gave it the
// focus is over.
constexpr char kSelectAllPending[] = "selectAllPending";

// QPlainTextEdit and QTextEdit share these calls without a common base.
template <typename Edit>
TextFieldState DocumentState(const Edit& edit) {
  const QTextCursor cursor = edit.textCursor();
  const int length = edit.document()->characterCount() - 1;  // without the closing separator
  return {edit.isReadOnly(), length > 0, cursor.hasSelection(),
          length == 0 || (cursor.selectionStart() == 0 && cursor.selectionEnd() == length),
          edit.document()->isUndoAvailable()};
}

// Clear: the whole text goes, as one step that Undo takes back.
void ClearAll(QLineEdit& line) {
  line.selectAll();
  line.del();
}

template <typename Edit>
void ClearAll(Edit& edit) {
  QTextCursor cursor = edit.textCursor();
  cursor.select(QTextCursor::Document);
  cursor.removeSelectedText();
  edit.setTextCursor(cursor);
}

// The editors share the names of these calls, not a base class.
template <typename Edit>
void EditCommand(Edit& edit, FieldCommand command) {
  const bool read_only = edit.isReadOnly();
  switch (command) {
    case FieldCommand::Undo:
      if (!read_only) edit.undo();
      break;
    case FieldCommand::Cut:
      if (!read_only) edit.cut();
      break;
    case FieldCommand::Copy:
      edit.copy();
      break;
    case FieldCommand::Paste:
      if (!read_only) edit.paste();
      break;
    case FieldCommand::Clear:
      if (!read_only) ClearAll(edit);
      break;
    case FieldCommand::SelectAll:
      edit.selectAll();
      break;
  }
}

bool IsPasteRequest(const QEvent& event) {
  switch (event.type()) {
    case QEvent::KeyPress:
      return static_cast<const QKeyEvent&>(event).matches(QKeySequence::Paste);
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      return static_cast<const QMouseEvent&>(event).button() == Qt::MiddleButton;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsTextField(const QWidget& widget) {
  return qobject_cast<const QLineEdit*>(&widget) != nullptr ||
         qobject_cast<const QPlainTextEdit*>(&widget) != nullptr ||
         qobject_cast<const QTextEdit*>(&widget) != nullptr;
}

bool IsReadOnlyField(const QWidget& field) {
  return FieldState(field).read_only;
}

bool FilterTextBox(QWidget& field, QEvent& event) {
  if (event.type() == QEvent::ContextMenu) return true;
  if (!IsReadOnlyField(field) || !IsPasteRequest(event)) return false;
  if (event.type() == QEvent::DragEnter || event.type() == QEvent::DragMove ||
      event.type() == QEvent::Drop) {
    event.ignore();  // the drag shows that nothing can be dropped here
  }
  return true;
}

void SelectAllOnFocus(QLineEdit& field, const QFocusEvent& event) {
  switch (event.reason()) {
    case Qt::PopupFocusReason:
    case Qt::ActiveWindowFocusReason:
    case Qt::MenuBarFocusReason:
      return;
    default:
      field.setProperty(kSelectAllPending, true);
      QTimer::singleShot(0, &field, [&field] { FinishFocusChange(field); });
  }
}

void FinishFocusChange(QWidget& field) {
  auto* line = qobject_cast<QLineEdit*>(&field);
  if (line == nullptr || !line->property(kSelectAllPending).toBool()) return;
  line->setProperty(kSelectAllPending, false);
  // The focus may have gone on meanwhile (a run disables the field it was
  // passed to): a field without it keeps no selection.
  if (line->isEnabled() && line->window()->focusWidget() == line) line->selectAll();
}

TextFieldState FieldState(const QWidget& field) {
  if (const auto* line = qobject_cast<const QLineEdit*>(&field)) {
    return {line->isReadOnly(), !line->text().isEmpty(), line->hasSelectedText(),
            line->selectedText().size() == line->text().size(), line->isUndoAvailable()};
  }
  if (const auto* plain = qobject_cast<const QPlainTextEdit*>(&field)) return DocumentState(*plain);
  if (const auto* rich = qobject_cast<const QTextEdit*>(&field)) return DocumentState(*rich);
  return {};
}

void RunFieldCommand(QWidget& field, FieldCommand command) {
  if (auto* line = qobject_cast<QLineEdit*>(&field)) return EditCommand(*line, command);
  if (auto* plain = qobject_cast<QPlainTextEdit*>(&field)) return EditCommand(*plain, command);
  if (auto* rich = qobject_cast<QTextEdit*>(&field)) return EditCommand(*rich, command);
}

}  // namespace twinmere::ui
