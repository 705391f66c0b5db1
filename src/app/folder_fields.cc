#include "app/folder_fields.h"

#include "engine/folder_identity.h"
#include "fs/paths.h"

namespace twinmere {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

}  // namespace

std::string FolderFieldPath(FileSystem& fs, std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  const std::string trimmed(text.substr(first, last - first + 1));
  return LongFolderForm(fs, AddSeparator(trimmed));
}

bool NamesExistingFolder(FileSystem& fs, const std::string& path) {
  ItemInfo info;
  return !path.empty() && LookupFolder(fs, path, info) && info.IsFolder();
}

bool NamesExistingNonFolder(FileSystem& fs, const std::string& path) {
  return GetAttributes(fs, path) != kInvalidAttributes && !NamesExistingFolder(fs, path);
}

std::string BrowseStartFolder(FileSystem& fs, std::string_view folder) {
  if (folder.empty() || folder.front() != kSeparator) return {};
  std::string candidate = RemoveSeparator(std::string(folder));
  while (!NamesExistingFolder(fs, candidate)) {
    if (candidate == "/") return {};
    candidate = ParentFolder(candidate);
  }
  return candidate;
}

}  // namespace twinmere
