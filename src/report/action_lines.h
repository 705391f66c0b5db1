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

// Bits of an action code: 1 copy, 2 delete, 4 attributes, 8 security,
// 16 folder, 32 in place, 64 short name, 128 rename. Only these combinations
// occur.
enum ActionCode : int {
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
  int code;
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
const ActionRow& FindActionRow(int code);
// Every row of the table (the display lines paths up past the widest label).
std::span<const ActionRow> ActionRows();

// The system's text for an error code with one trailing line end removed.
// Never fails.
std::string GetSystemErrorText(ErrorCode code);

// "Error 13 copying "path". Permission denied".
std::string ActionErrorLine(ErrorCode error, int code, std::string_view path);
// "Copied:            \t"path"  2.000 Kbytes." and the other success forms.
std::string ActionSuccessLine(int code, std::string_view path, int64_t size, int64_t size_change,
                              const Separators& seps);
// Adds one success of `code` to the counters of the side (true: Source).
void CountAction(SessionCounters& counters, int code, bool source_side, int64_t size,
                 int64_t size_change);

// "Error 13 accessing "path". ..." and "... accessing security information of ...".
std::string AccessErrorLine(std::string_view path, ErrorCode code);
std::string SecurityErrorLine(std::string_view path, ErrorCode code);

}  // namespace twinmere
