// The folder browser and the file chooser that every window uses, so that
// folders and files are picked the same way everywhere. Both are modal to
// their owner, which Qt keeps disabled while the chooser is open. Also the
// completion of paths typed into a field.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

class QFileSystemModel;
class QLineEdit;
class QObject;
class QWidget;

namespace twinmere::ui {

// Filters of the file choosers: pairs of description and patterns, each part
// ended by "|" ("Text files (*.txt)|*.txt|All files (*.*)|*.*"); several
// patterns of one pair are separated by ";".
inline constexpr char kTextFilesFilter[] = "Text files (*.txt)|*.txt|All files (*)|*";
inline constexpr char kLauncherFilesFilter[] = "Desktop entries (*.desktop)|*.desktop";
// Programs carry no extension here; what may run is told by the file's mode.
inline constexpr char kProgramFilesFilter[] = "Programs (*)|*";

// Opens a folder browser titled `title` (for example "Select Source folder")
// in `start_folder` (empty: the home folder). Returns the chosen folder as
// bytes without a trailing "/" (the root keeps it), or an empty text when
// the user cancels.
std::string BrowseForFolder(QWidget* owner, const QString& title, const std::string& start_folder);

// One request to the file chooser, and what it gives back.
struct FileRequest {
  enum class Mode { Open, Save };
  Mode mode = Mode::Open;
  QString title;
  QString filter;           // "|"-separated, see kTextFilesFilter
  int filter_index = 1;     // in: the filter shown first (from 1); out: the one chosen
  bool must_exist = false;  // only an existing file can be chosen
  std::string initial_folder;
  std::string file_name;      // in: the proposed file; out: the chosen path (bytes)
  QString default_extension;  // added to a name typed without one, e.g. "txt"
};

// Shows the file chooser. Returns true when the user chose a file (filled
// into file_name and filter_index); false when cancelled, leaving file_name
// empty and filter_index -1.
bool ChooseFile(QWidget* owner, FileRequest& request);

// The Qt name filters of a "|"-separated filter: "Text files (*.txt)" with
// "*.txt" stays "Text files (*.txt)"; a description whose parenthesised
// patterns differ gets the real ones ("Programs (*.exe)" with "*.exe;*.com"
// gives "Programs (*.exe *.com)"). An odd last part is dropped.
QStringList NameFilters(const QString& filter);

// What a path completion offers.
enum class PathKinds : uint8_t { Folders, FoldersAndFiles };

// A model of the disk's folders (and files) that typed paths complete from,
// a child of `owner`. One model may serve several fields.
QFileSystemModel* DiskModel(QObject* owner, PathKinds kinds);

// Offers completions of what is typed into `field` from `model`, in a popup
// list. The field's text changes only when the user picks an entry (Enter or
// a click): moving through the list leaves what was typed as it is. The list
// closes as soon as the focus leaves the field, by whatever means.
void CompletePaths(QLineEdit* field, QFileSystemModel* model);

}  // namespace twinmere::ui
