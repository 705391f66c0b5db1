#include "support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace twinmere::testing {
namespace {

std::string ParentOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

void MakeParents(const std::string& path) {
  const std::string parent = ParentOf(path);
  if (parent.empty()) return;
  struct stat st;
  if (lstat(parent.c_str(), &st) == 0) return;
  MakeParents(parent);
  ASSERT_EQ(mkdir(parent.c_str(), 0755), 0) << parent << ": " << std::strerror(errno);
}

}  // namespace

TempTree::TempTree() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/twinmere-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    return;
  }
  root_ = buffer.data();
}

TempTree::~TempTree() {
  if (!root_.empty()) RemoveTree(root_);
}

std::string TempTree::Path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string TempTree::Folder(const std::string& relative) const {
  return Path(relative) + "/";
}

void TempTree::MakeFolder(const std::string& relative) {
  const std::string path = Path(relative);
  MakeParents(path);
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    ADD_FAILURE() << "mkdir " << path << ": " << std::strerror(errno);
}

void TempTree::WriteFile(const std::string& relative, const std::string& contents) {
  const std::string path = Path(relative);
  MakeParents(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void TempTree::MakeLink(const std::string& relative, const std::string& link_text) {
  const std::string path = Path(relative);
  MakeParents(path);
  if (symlink(link_text.c_str(), path.c_str()) != 0)
    ADD_FAILURE() << "symlink " << path << ": " << std::strerror(errno);
}

void TempTree::SetTime(const std::string& relative, int64_t seconds, int64_t nanoseconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)},
                             {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
  if (utimensat(AT_FDCWD, Path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    ADD_FAILURE() << "utimensat " << relative << ": " << std::strerror(errno);
}

void TempTree::SetMode(const std::string& relative, uint32_t mode) {
  if (chmod(Path(relative).c_str(), mode) != 0)
    ADD_FAILURE() << "chmod " << relative << ": " << std::strerror(errno);
}

bool TempTree::Exists(const std::string& relative) const {
  struct stat st;
  return lstat(Path(relative).c_str(), &st) == 0;
}

std::string TempTree::ReadFile(const std::string& relative) const {
  std::ifstream in(Path(relative), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string TempTree::ReadLink(const std::string& relative) const {
  char buffer[4096];
  const ssize_t n = readlink(Path(relative).c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

std::vector<std::string> TempTree::List(const std::string& relative) const {
  std::vector<std::string> names;
  DIR* dir = opendir(Path(relative).c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Goes down into the first subfolder and back up through "..", so that a
// tree of any depth needs two descriptors and no long path.
bool RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
  chmod(path.c_str(), 0700);  // a test may have left it unreadable
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<std::string> entered;  // the folders below `path` on the way down
  for (;;) {
    std::string folder;  // the first subfolder; everything else goes at once
    DIR* dir = fdopendir(openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    bool ok = dir != nullptr;
    while (ok) {
      const dirent* entry = readdir(dir);
      if (entry == nullptr) break;
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat item;
      if (fstatat(fd, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (!S_ISDIR(item.st_mode)) {
        ok = unlinkat(fd, name.c_str(), 0) == 0;
      } else if (folder.empty()) {
        folder = name;
      }
    }
    if (dir != nullptr) closedir(dir);
    int next = -1;
    if (ok && !folder.empty()) {
      (void)!fchmodat(fd, folder.c_str(), 0700, 0);  // its opening says whether it could
      next = openat(fd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next >= 0) entered.push_back(folder);
    } else if (ok && !entered.empty()) {
      next = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (next >= 0) {
        ok = unlinkat(next, entered.back().c_str(), AT_REMOVEDIR) == 0;
        entered.pop_back();
      }
    }
    close(fd);
    fd = next;
    if (!ok || fd < 0) break;
  }
  if (fd >= 0) close(fd);
  return entered.empty() && rmdir(path.c_str()) == 0;
}

int RunAsUnprivileged(const std::function<int()>& body) {
  if (geteuid() != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
    _exit(body());
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 125 ? -1 : WEXITSTATUS(status);
}

bool IsRoot() {
  return geteuid() == 0;
}

bool LinksCanBeMade() {
  return true;
}

}  // namespace twinmere::testing
