#include <sys/utsname.h>

#include <fstream>
#include <sstream>

#include "platform/platform_facts.h"
#include "platform/posix/os_release.h"
#include "platform/privileges.h"

namespace twinmere {
namespace posix {

namespace {

std::string Unquoted(std::string_view value) {
  std::string out;
  char quote = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quote == 0 && (c == '"' || c == '\'')) {
      quote = c;
    } else if (quote != 0 && c == quote) {
      quote = 0;
    } else if (c == '\\' && quote != '\'' && i + 1 < value.size()) {
      out += value[++i];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string PrettyNameFromOsRelease(std::string_view contents) {
  constexpr std::string_view kKey = "PRETTY_NAME=";
  std::string result;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.substr(0, kKey.size()) == kKey) result = Unquoted(line.substr(kKey.size()));
    start = end + 1;
  }
  return result;
}

std::string FormatOsText(const std::string& sysname, const std::string& release,
                         const std::string& pretty_name) {
  std::string text = sysname + " " + release;
  if (!pretty_name.empty()) text += " (" + pretty_name + ")";
  return text;
}

}  // namespace posix

namespace {

std::string ReadOsRelease() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    if (!in) continue;
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
  }
  return {};
}

}  // namespace

PlatformFacts DetectPlatformFacts() {
  PlatformFacts facts;
  facts.OsIndex = 8;
  facts.IsNT = true;
  struct utsname names {};
  std::string sysname = "Linux";
  std::string release;
  if (uname(&names) == 0) {
    sysname = names.sysname;
    release = names.release;
  }
  facts.OsText =
      posix::FormatOsText(sysname, release, posix::PrettyNameFromOsRelease(ReadOsRelease()));
  facts.IsAdmin = HasAdministratorRights();
  return facts;
}

}  // namespace twinmere
