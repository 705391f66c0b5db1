// The text fields of the forms (QLineEdit, QPlainTextEdit, QTextEdit) seen
// through one interface: the filter every routed field goes through, and the
// editing commands of the shared context menu.
#pragma once

class QEvent;
class QFocusEvent;
class QLineEdit;
class QWidget;

namespace twinmere::ui {

// Whether `widget` is a text field. A field that scrolls receives its mouse,
// drag and context-menu events on its viewport, which must be routed too.
bool IsTextField(const QWidget& widget);
// Whether the user cannot change the field's text (a read-only field).
bool IsReadOnlyField(const QWidget& field);

// The text-field filter: returns true for an event that `field` must not see
// (its viewport's events come with the field itself as `field`):
// - every context-menu request, since the program shows its own menu;
// - in a read-only field every kind of paste: the paste keys, the middle
//   button that pastes the selection, and dragging or dropping anything.
// Everything else goes on to the field. Never fails.
bool FilterTextBox(QWidget& field, QEvent& event);

// A field's whole text is selected when the user moves the focus into it (a
// click, Tab, an access key, the program), once the click has placed the
// caret. Not when the focus only comes back to it: from the completion list
// that opens while a path is typed, from a menu, or with the window's
// activation; the next key would then replace what was typed. Call on every
// focus-in event of `field`.
void SelectAllOnFocus(QLineEdit& field, const QFocusEvent& event);
// Does at once what SelectAllOnFocus left for later, so that the field's
// selection is final (the context menu decides its entries from it).
void FinishFocusChange(QWidget& field);

// What the context menu needs to know about a field.
struct TextFieldState {
  bool read_only = false;
  bool has_text = false;
  bool has_selection = false;
  bool all_selected = false;  // also true for an empty field
  bool can_undo = false;
};
TextFieldState FieldState(const QWidget& field);

enum class FieldCommand { Undo, Cut, Copy, Paste, Clear, SelectAll };
// Runs one editing command on `field` as its own keys would: a read-only field
// changes for none of them; Clear empties the whole text (undoable).
void RunFieldCommand(QWidget& field, FieldCommand command);

}  // namespace twinmere::ui
