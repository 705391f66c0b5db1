#include "platform/path_syntax.h"

#include <algorithm>

namespace twinmere {
namespace {

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The end of the share of "//server/share...": the place of the "/" after
// it, or the path's length; 0 when `path` is no such path.
size_t ShareEnd(std::string_view path) {
  if (path.size() < 5 || path[0] != '/' || path[1] != '/' || path[2] == '/') return 0;
  const size_t server_end = path.find('/', 2);
  if (server_end == std::string_view::npos || server_end + 1 >= path.size() ||
      path[server_end + 1] == '/')
    return 0;
  const size_t share_end = path.find('/', server_end + 1);
  return share_end == std::string_view::npos ? path.size() : share_end;
}

}  // namespace

size_t PathRootLength(std::string_view path, PathSyntax syntax) {
  if (syntax == PathSyntax::Posix) return path.starts_with('/') ? 1 : 0;
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':')
    return path.size() >= 3 && path[2] == '/' ? 3 : 2;
  if (const size_t share_end = ShareEnd(path); share_end != 0)
    return share_end < path.size() ? share_end + 1 : share_end;
  return path.starts_with('/') ? 1 : 0;
}

bool IsAbsolutePath(std::string_view path, PathSyntax syntax) {
  if (syntax == PathSyntax::Posix) return path.starts_with('/');
  return (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '/') ||
         ShareEnd(path) != 0;
}

bool IsShareRootPath(std::string_view path, PathSyntax syntax) {
  if (syntax == PathSyntax::Posix) return false;
  const size_t share_end = ShareEnd(path);
  return share_end != 0 && (share_end == path.size() || share_end + 1 == path.size());
}

std::string FromUserPath(std::string path, PathSyntax syntax) {
  if (syntax == PathSyntax::Windows) std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ShownSeparators(std::string text, PathSyntax syntax) {
  if (syntax == PathSyntax::Windows) std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

}  // namespace twinmere
