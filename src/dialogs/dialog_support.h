// What the dialogs share besides the Form machinery: the behaviour of their
// text fields and the report file chooser.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;
class QSpinBox;
class QWidget;

namespace twinmere {
class FileSystem;
}

namespace twinmere::ui {

class ByteText;

// Gives a dialog's text field its common behaviour: its whole text is
// selected when the user moves the focus into it (SelectAllOnFocus), and its tool tip shows the
// text while it is wider than the field. With `browse`, that button is the dialog's default button
// while the field has the focus (its tool tip then ends in " (Enter)") and `default_button` becomes
// the default again when the field loses it.
void AssistTextField(QLineEdit* field, QPushButton* browse = nullptr,
                     QPushButton* default_button = nullptr);

// Gives `box` the accessible name `name`, and its text field too: the field
// takes the focus and is what a screen reader meets.
void NameSpinBox(QSpinBox& box, const QString& name);

// A box for a number of runs to keep, from 0 to 9999, named `name`: it shows
// "all runs" for 0, "1 run", "2 runs" ... as the value changes.
QSpinBox* NewKeptRunsBox(QWidget* parent, const QString& name);

// The folder browser for a dialog's folder field, titled `title`: it opens
// where BrowseStartFolder says for the field's text; a chosen folder is put
// into the field with a trailing "/" and selected. The field has the focus
// afterwards either way.
void BrowseIntoField(QWidget* owner, FileSystem& fs, ByteText& field, const QString& title);

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

}  // namespace twinmere::ui
