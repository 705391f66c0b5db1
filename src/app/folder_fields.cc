#include "app/folder_fields.h"

#include "fs/paths.h"

namespace twinmere {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

}  // namespace

std::string FolderFieldText(FileSystem& fs, std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(kBlanks) + 1;
  // As typed, then without the blanks of one end, then of the other.
  for (const std::string_view candidate : {text, text.substr(first), text.substr(0, end)}) {
    if (candidate.size() == end - first) break;  // nothing left to trim
    if (GetAttributes(fs, std::string(candidate)) != kInvalidAttributes) {
      return std::string(candidate);
    }
  }
  return std::string(text.substr(first, end - first));
}

std::string FolderFieldPath(FileSystem& fs, std::string_view text) {
  const std::string path = FolderFieldText(fs, text);
  return path.empty() ? path : LongFolderForm(fs, AddSeparator(path));
}

bool NamesExistingNonFolder(FileSystem& fs, const std::string& path) {
  return GetAttributes(fs, path) != kInvalidAttributes &&
         !FolderExists(fs, path, FinalLink::Follow);
}

std::string BrowseStartFolder(FileSystem& fs, std::string_view folder) {
  if (folder.empty() || folder.front() != kSeparator) return {};
  std::string candidate = RemoveSeparator(std::string(folder));
  while (!FolderExists(fs, candidate, FinalLink::Follow)) {
    if (candidate == "/") return {};
    candidate = ParentFolder(candidate);
  }
  return candidate;
}

}  // namespace twinmere
