// The action codes shared by the engine and the report, and the text and
// counters of each action's line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "report/formats.h"
#include "report/session_counters.h"

namespace twinmere {

// What an action line or an error line stands for. An action's code is made
// of bits: 1 copy, 2 delete, 4 attributes, 8 security, 16 folder, 32 in
// place, 64 short name, 128 rename; only these combinations occur. The
// errors that no action line stands for have codes below zero, which the
// JSON summary names (RunErrorActionName).
enum ActionCode : int {
  kAccessErrorAction = -1,          // "Error N accessing ..."
  kSecurityErrorAction = -2,        // "... accessing security information of ..."
  kGuardErrorAction = -3,           // "Nothing deleted: ..." (the deletions cancelled)
  kTrashErrorAction = -4,           // "No Trash can be used for ..."
  kRemoveVersionsErrorAction = -5,  // "Error N removing versions ..."
  // "Not synchronized: ... lies where Target keeps the versions folder."
  kVersionsFolderErrorAction = -6,
  kActionCopy = 1,
  kActionDelete = 2,
  kActionCreateFolder = 17,
  kActionRemoveFolder = 18,
  kActionReplace = 33,
  kActionDeleteInPlace = 34,
  kActionFileAttributes = 36,
  kActionFileSecurity = 40,
  kActionFolderProperties = 49,
  kActionRemoveFolderInPlace = 50,
  kActionFolderAttributes = 52,
  kActionFolderSecurity = 56,
  kActionFileShortName = 96,
  kActionFolderShortName = 112,
  kActionFileCase = 161,
  kActionFolderCase = 177,
};

// What the success line shows after the quoted path.
enum class ActionShows : uint8_t { PathOnly, Size, SizeAndChange };

// One row of the action table. The counter members are null where the row
// counts nothing; deletions and removed folders count on the Target side
// whatever the side.
struct ActionRow {
  ActionCode code;
  const char* label;  // 19 or 20 characters, blank-filled; a TAB follows
  const char* verb;   // between the code and the quoted path of an error line
  ActionShows shows;
  int32_t SessionCounters::*target_count;
  int32_t SessionCounters::*source_count;
  int64_t SessionCounters::*target_bytes;
  int64_t SessionCounters::*source_bytes;
  int64_t SessionCounters::*target_change;
  int64_t SessionCounters::*source_change;
};

// The row of `code`; the "???" row (counting nothing) for an unknown code.
const ActionRow& FindActionRow(ActionCode code);
// Every row of the table (the display lines paths up past the widest label).
std::span<const ActionRow> ActionRows();

// The system's text for an error code with one trailing line end removed.
// Never fails.
std::string GetSystemErrorText(ErrorCode code);

// "Error 13 copying "path". Permission denied".
std::string ActionErrorLine(ErrorCode error, ActionCode code, std::string_view path);
// "Copied:            \t"path"  2.000 Kbytes." and the other success forms.
std::string ActionSuccessLine(ActionCode code, std::string_view path, int64_t size,
                              int64_t size_change, const Separators& seps);
// Adds one success of `code` to the counters of the side (true: Source).
void CountAction(SessionCounters& counters, ActionCode code, bool source_side, int64_t size,
                 int64_t size_change);

// "Error 13 accessing "path". ..." and "... accessing security information of ...".
std::string AccessErrorLine(std::string_view path, ErrorCode code);
std::string SecurityErrorLine(std::string_view path, ErrorCode code);

}  // namespace twinmere
