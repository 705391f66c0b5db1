#include "fs/paths.h"

#include <algorithm>

#include "fs/folder_identity.h"
#include "platform/network_shares.h"
#include "platform/path_syntax.h"

namespace twinmere {

std::string LongPathForm(const std::string& path) {
  return path;
}

std::string AddSeparator(const std::string& path) {
  if (path.empty() || path.back() == kSeparator) return path;
  return path + kSeparator;
}

std::string FolderPart(const std::string& path) {
  const size_t slash = path.rfind(kSeparator);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RemoveSeparator(const std::string& path) {
  if (path.size() <= std::max<size_t>(PathRootLength(path), 1) || path.back() != kSeparator)
    return path;
  return path.substr(0, path.size() - 1);
}

uint32_t GetAttributes(FileSystem& fs, const std::string& path) {
  if (path.empty()) return kInvalidAttributes;
  ItemInfo info;
  if (fs.Lookup(LongPathForm(RemoveSeparator(path)), info) != kSuccess) return kInvalidAttributes;
  return info.Attributes();
}

bool FolderExists(FileSystem& fs, const std::string& path, FinalLink link) {
  if (path.empty()) return false;
  if (link == FinalLink::Follow) {
    ItemInfo info;
    return LookupFolder(fs, path, info) && info.IsFolder();
  }
  const uint32_t attributes = GetAttributes(fs, path);
  if (attributes != kInvalidAttributes) return (attributes & kAttrFolder) != 0;
  // A share that may not be read still exists.
  return IsShareRoot(RemoveSeparator(path));
}

bool IsShareRoot(const std::string& path) {
  return IsShareRootPath(path) && IsNetworkDiskShare(path);
}

std::string FolderForm(FileSystem& fs, const std::string& path, NameForm form) {
  if (path.empty()) return path;
  const bool trailing = path.back() == kSeparator;
  const std::string body = trailing ? path.substr(0, path.size() - 1) : path;
  // The root is kept as written ("/", "C:/", "//server/share/"), as is the
  // first component of a relative path.
  const size_t root = PathRootLength(body);
  const size_t first = root > 0 ? root - 1 : body.find(kSeparator);
  // The root, or a single relative component: nothing to look up.
  if (first == std::string::npos || first + 1 >= body.size()) return path;

  std::string result = body.substr(0, first + 1);
  size_t start = first + 1;
  while (true) {
    size_t end = body.find(kSeparator, start);
    if (end == std::string::npos) end = body.size();
    const std::string written = body.substr(start, end - start);
    std::string name = written;
    if (!written.empty() && written != "." && written != "..") {
      ItemInfo info;
      if (fs.Lookup(LongPathForm(body.substr(0, end)), info) == kSuccess) {
        if (form == NameForm::Short && !info.short_name.empty()) {
          name = info.short_name;
        } else if (!info.name.empty()) {
          name = info.name;
        }
      }
    }
    result += name;
    if (end == body.size()) break;
    result += kSeparator;
    start = end + 1;
  }
  if (trailing) result += kSeparator;
  return result;
}

std::string PathForm(FileSystem& fs, const std::string& path, NameForm form) {
  if (path.find(kSeparator) == std::string::npos) return path;
  return FolderForm(fs, path, form);
}

std::string LongFolderForm(FileSystem& fs, const std::string& path) {
  return FolderForm(fs, path, NameForm::Long);
}

std::string ParentFolder(const std::string& path) {
  const size_t i = path.rfind(kSeparator);
  if (i == std::string::npos) return {};
  // A name right below the root: the root, with its separator.
  if (const size_t root = PathRootLength(path); i < root) return path.substr(0, root);
  return path.substr(0, i);
}

std::string Unquote(const std::string& text) {
  if (text.empty() || text.front() != '"') return text;
  const size_t close = text.find('"', 1);
  if (close == std::string::npos) return {};
  return text.substr(1, close - 1);
}

std::string QuoteIfBlank(const std::string& text) {
  if (text.find(' ') == std::string::npos) return text;
  return '"' + text + '"';
}

std::string QualifyName(const std::string& name, const std::string& program_folder) {
  if (name.empty() || name.find(kSeparator) != std::string::npos || PathRootLength(name) > 0 ||
      program_folder.empty())
    return name;
  return AddSeparator(program_folder) + name;
}

std::string GetInstallFolder() {
  const std::string exe = ExecutablePath();
  if (exe.empty()) return {};
  return ParentFolder(exe);
}

std::string AbsolutePath(const std::string& path, const std::string& folder) {
  if (path.empty() || IsAbsolutePath(path) || folder.empty()) return path;
  // A Windows path that names only part of its root: "/name" lies on the
  // drive of `folder`; "C:name" depends on a folder that only the system
  // knows, and is left to it.
  if (PathRootLength(path) > 0) {
    if (path.front() != kSeparator) return path;
    std::string drive = folder.substr(0, PathRootLength(folder));
    if (drive.ends_with(kSeparator)) drive.pop_back();
    return drive + path;
  }
  return AddSeparator(folder) + path;
}

}  // namespace twinmere
