// What the options dialog and the shortcut dialog do with launchers, without
// widgets: loading a launcher's options into the options dialog, and the
// shortcut dialog's proposals and its Save. The dialogs bind their widgets to
// these, show the messages returned (caption: the program title; a Help button
// opening the message's topic) and answer the questions through
// ShortcutSaveQuestions.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/dialog_message.h"
#include "app/dialog_state.h"
#include "app/scheduled_runs.h"
#include "base/sync_options.h"
#include "platform/file_system.h"

namespace twinmere {

// The program that a launcher must start to be read back.
inline constexpr char kProgramExecutableName[] = "twinmere";
inline constexpr char kDefaultShortcutName[] = "New Synchronization";

// What reading or saving a launcher says on Windows, where launchers (desktop
// entries) do not exist; nothing is read or written there.
inline constexpr char kLaunchersNotSupported[] = "Launchers are not supported on Windows yet.";

inline constexpr int kHelpReadShortcut = 2050;
inline constexpr int kHelpShortcutDialog = 6000;
inline constexpr int kHelpShortcutLimits = 6001;

// Limits that Save checks. The paths are limited by what the kernel takes (in
// bytes); the argument string and the comment keep their 259 characters.
inline constexpr size_t kMaxShortcutPath = PATH_MAX - 1;
inline constexpr size_t kMaxExecutablePath = PATH_MAX - 1;
inline constexpr size_t kMaxArgumentsCharacters = 259;
inline constexpr size_t kMaxCommentCharacters = 259;

// The most recent launcher read or saved in this process. The main window
// keeps it for the life of the process, beside the options, and hands it to
// both dialogs; both start empty.
struct ShortcutMemory {
  std::string LastShortcutFile;     // full path
  std::string LastShortcutComment;  // its comment
};

// What reading a launcher into the options dialog needs besides the file.
struct ShortcutOptionsContext {
  std::string state_folder;  // where a bare report name goes
  int32_t default_report_level = kDefaultReportLevel;
  int32_t default_versions_keep = 0;
  std::string program_name = kProgramExecutableName;
};

// "Get options...": reads the launcher `shortcut_path` and, when it starts
// this program (the executable's name after its last "/" equals
// `program_name`, letter case included; its folder plays no part), replaces
// `state` with what ReadCommandLineIntoDialog reads from its arguments (the
// enabled states of chkNoSecurity and chkAllowDecryption, which depend on the
// system, are kept; relative folders, the versions folder, report and JSON summary paths are taken
// from the launcher's working folder, Path, when it has one: AbsolutePath) and sets
// LastShortcutFile and LastShortcutComment. Returns
// nothing then. Otherwise returns the message to show, help topic 2050, and
// changes nothing: "Error reading shortcut file." with two line breaks and the
// error's description, or "Wrong shortcut file.".
std::optional<DialogMessage> ReadShortcutOptions(const std::string& shortcut_path,
                                                 const ShortcutOptionsContext& context,
                                                 OptionsDialogState& state, ShortcutMemory& memory);

// Whether a dragged item may be dropped as a launcher (on "Get options..." or
// the shortcut dialog's file controls): its name ends in ".desktop" in any
// letter case and it is not a folder (a link is not followed). Never fails.
bool IsShortcutDrop(FileSystem& fs, const std::string& path);

// The text boxes of the shortcut dialog.
struct ShortcutDialogFields {
  std::string txtPath;                           // the folder, ending in "/"
  std::string txtFilename;                       // the name without ".desktop"
  std::string txtTitle;                          // the comment
  std::string txtCmdline;                        // the executable and its arguments
  RunSchedule cboSchedule = RunSchedule::Never;  // "Run automatically:"
  bool operator==(const ShortcutDialogFields&) const = default;
};

struct ShortcutDialogContext {
  FileSystem& file_system;
  std::string program_path;     // the program's own executable (ProgramPath)
  std::string shortcut_folder;  // the default shortcut folder, ending in "/"
  int32_t default_report_level = kDefaultReportLevel;
  // The desktop's applications folder (ProgramsFolder; empty: none). Like a
  // system folder it is taken to be there: Save makes it and its missing
  // parents for a launcher below it, as the XDG rules ask of a writer.
  std::string programs_folder;
  // Where scheduled runs go; null: launchers are saved without one.
  const ScheduleContext* schedule = nullptr;
  int32_t default_versions_keep = 0;
};

// The program's own executable: `install_folder` (GetInstallFolder), a "/"
// and "twinmere"; the bare name when the folder is unknown (empty).
std::string ProgramPath(const std::string& install_folder);

// "Synchronize "<Target>" with "<Source>"" when both folders are set, else
// "Launch Twinmere".
std::string DefaultShortcutComment(const SyncOptions& options);

// `folder` + "New Synchronization.desktop", or while an item of that name
// exists (any kind; links not followed) "New Synchronization(1).desktop",
// "(2)" and so on. Should every number up to 65535 be taken, the name without
// a number. Lookups that fail count as free.
std::string DefaultShortcutFile(FileSystem& fs, const std::string& folder);

// Puts a launcher's path into the boxes: ".desktop" (any case) is dropped,
// txtPath gets everything up to and including the last "/", txtFilename the
// rest.
void SplitShortcutPath(const std::string& path, ShortcutDialogFields& fields);

// The boxes when the dialog opens for `options` (the options dialog's current
// values), whose relative folders (the versions folder too), report and JSON summary paths are
// first made absolute from the working folder (WorkingFolder, AbsolutePath): after a launcher was
// read or saved in this process its path and comment, else
// DefaultShortcutFile in the default folder and DefaultShortcutComment; the
// command line is BuildLauncherCommandLine of the program's path; the schedule
// is ShownSchedule.
ShortcutDialogFields LoadShortcutDialog(const SyncOptions& options, const ShortcutMemory& memory,
                                        const ShortcutDialogContext& context);

// The schedule shown for the launcher the boxes name (ProposedShortcutFile):
// its timer's, else Never. Never without a schedule context.
RunSchedule ShownSchedule(const ShortcutDialogFields& fields, const ShortcutDialogContext& context);

// The file proposed to the file chooser: the folder box (the default folder
// when blank) and the name box with ".desktop" added when missing, or
// DefaultShortcutFile in that folder when the name is blank.
std::string ProposedShortcutFile(const ShortcutDialogFields& fields,
                                 const ShortcutDialogContext& context);

// How Save talks to the user; the dialog implements it with message boxes.
class ShortcutSaveQuestions {
 public:
  virtual ~ShortcutSaveQuestions() = default;
  // Shows a warning (exclamation icon, OK).
  virtual void Show(const DialogMessage& message) = 0;
  // Asks a question (information icon, OK and Cancel); true for OK.
  virtual bool Ask(const DialogMessage& question) = 0;
};

enum class SaveOutcome : uint8_t {
  KeepOpen,  // a check failed: the dialog stays open with the user's input
  Close,     // the writing step was reached, successful or not
};

// Save, in this order (every stop keeps the dialog open):
// 1. The trimmed command line splits into the executable (a quoted first item,
//    read as the command line reads items, or the text up to the first blank)
//    and the trimmed rest, the arguments. An empty executable (an empty line,
//    "" or a quote never closed) stops with "Invalid command line" (6000).
// 2. The path: the trimmed folder box with "/" added when missing, the trimmed
//    name and ".desktop" unless the name ends in it in any letter case (an
//    empty name adds nothing); it becomes LastShortcutFile.
// 3. The trimmed comment becomes LastShortcutComment.
// 4. A path longer than kMaxShortcutPath bytes stops with
//    "The  exceeds allowable maximum of 4095 symbols." (6001).
// 5. An existing folder at the path stops with "Invalid shortcut filename:
//    The folder with same name already exists." (6001); any other existing
//    item (a link is not followed) asks "The shortcut with same filename
//    already exists. Owerwrite?" (6001), anything but OK stops.
// 6. An executable longer than kMaxExecutablePath bytes stops with "The full
//    path to the executable file exceeds allowable maximum of 4095 symbols."
//    (6001).
// 7. Arguments of 260 characters or more stop with "The length of the
//    arguments string exceeds allowable maximum of 259 symbols." (6001).
// 8. A comment of 260 characters or more stops with "The length of the
//    comment string exceeds allowable maximum of 259 symbols." (6001).
// 9. Fields that a desktop entry cannot carry unchanged (FormatDesktopEntry)
//    stop with "Error creating shortcut." and the description (6000).
// 9a. With a schedule other than never, CheckSchedule's refusals stop (the
//    units would run twinmere-cli beside the program, ProgramPath's folder).
// 10. A missing folder of the path is created, the innermost one only (a link
//    to a folder counts as a folder; below the programs folder, that folder
//    and its parents are made first); failing, "Error <errno> creating folder
//    "<folder>"." with two line breaks and the system's text (6000) stops.
// 11. CreateShortcut with the executable, the arguments, the comment and show
//    command 5, and the working folder (WorkingFolder) as Path when the
//    arguments name a relative folder or file path; a failure shows "Error
//    creating shortcut." with two line breaks and the description (6000).
//    The dialog closes either way.
// 12. Once the launcher is written, ApplySchedule with the schedule (never
//    removes units the launcher had); its message, if any, is shown.
SaveOutcome SaveShortcut(const ShortcutDialogFields& fields, const ShortcutDialogContext& context,
                         ShortcutMemory& memory, ShortcutSaveQuestions& questions);

}  // namespace twinmere
