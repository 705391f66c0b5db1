#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/user_folders.h"

namespace twinmere {
namespace {

std::string Absolute(const char* value) {
  if (value == nullptr || value[0] != '/') return {};
  std::string text(value);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string XdgOr(const GetEnv& getenv_fn, const char* name, const std::string& home,
                  const char* fallback) {
  std::string value = Absolute(getenv_fn(name));
  if (!value.empty()) return value;
  return home.empty() ? std::string() : home + fallback;
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" in user-dirs.dirs, as xdg-user-dir reads it.
std::string DocumentsFolder(const std::string& config, const std::string& home) {
  if (config.empty()) return home;
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    std::string absolute = Absolute(value.c_str());
    if (!absolute.empty() && absolute != home) return absolute;
  }
  return home;
}

}  // namespace

UserFolders UserFoldersFromEnvironment(const GetEnv& getenv_fn) {
  UserFolders f;
  f.home = Absolute(getenv_fn("HOME"));
  f.config = XdgOr(getenv_fn, "XDG_CONFIG_HOME", f.home, "/.config");
  f.state = XdgOr(getenv_fn, "XDG_STATE_HOME", f.home, "/.local/state");
  f.data = XdgOr(getenv_fn, "XDG_DATA_HOME", f.home, "/.local/share");
  f.documents = DocumentsFolder(f.config, f.home);
  f.temp = Absolute(getenv_fn("TMPDIR"));
  if (f.temp.empty()) f.temp = "/tmp";
  f.runtime = Absolute(getenv_fn("XDG_RUNTIME_DIR"));
  if (f.runtime.empty()) f.runtime = f.temp;
  return f;
}

UserFolders UserFoldersFromEnvironment() {
  return UserFoldersFromEnvironment([](const char* name) { return std::getenv(name); });
}

std::string HomeTrashFolder(const UserFolders& folders) {
  return folders.data.empty() ? std::string() : folders.data + "/Trash";
}

uint32_t CurrentUserId() {
  return static_cast<uint32_t>(::geteuid());
}

uint32_t CurrentGroupId() {
  return static_cast<uint32_t>(::getegid());
}

std::string ProgramStateFolder(const UserFolders& folders) {
  return folders.state.empty() ? std::string() : folders.state + "/twinmere";
}

}  // namespace twinmere
