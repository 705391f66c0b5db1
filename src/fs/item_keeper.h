// Where a run keeps the items it deletes or replaces instead of letting them
// vanish (a versions folder, the desktop's Trash). The enumerator asks its
// keeper for a place before it deletes or replaces an item, and the item
// goes there first (engine/kept_items.h has the keepers).
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"
#include "platform/file_system.h"

namespace twinmere {

enum class KeepReason : uint8_t {
  Replace,  // a copy takes its name: its old contents are kept
  Delete,   // it is deleted, or a folder removed once its contents went
};

// The place of one item. For a file or link, a free name in an existing
// folder; for a folder, a folder that may exist already (its contents went
// there before it), or a free name in an existing folder.
struct KeepPlace {
  std::string path;
  // A file the keeper made for this item alone (a Trash entry's
  // .trashinfo), or empty: removed, with an empty folder at `path`, when the
  // item is not kept.
  std::string companion;
};

// Prepare and Finish may be called from several threads at once.
class ItemKeeper {
 public:
  virtual ~ItemKeeper() = default;
  // Prepares the place of the item at `path`, described by `item`. Returns 0
  // with `place` filled, or the error that keeps the item where it is: it
  // must then be neither deleted nor replaced.
  virtual ErrorCode Prepare(const std::string& path, const ItemInfo& item, KeepReason reason,
                            KeepPlace& place) = 0;
  // After the operation: whether the item went to its place (false: it is
  // still where it was, and what was prepared for it alone is undone).
  virtual void Finish(const KeepPlace& place, bool kept) = 0;
};

}  // namespace twinmere
