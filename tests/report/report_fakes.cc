#include "report/report_fakes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace twinmere::testing {

ErrorCode DiskFileSystem::OpenFolder(const std::string&, std::unique_ptr<FolderReader>&) {
  return kErrNotSupported;
}

ErrorCode DiskFileSystem::Lookup(const std::string& path, ItemInfo& info) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno;
  const size_t slash = path.rfind('/');
  info = ItemInfo{};
  info.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (S_ISDIR(st.st_mode)) {
    info.kind = ItemKind::Folder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = ItemKind::Link;
  } else if (S_ISREG(st.st_mode)) {
    info.kind = ItemKind::File;
  } else {
    return kErrNotSupported;
  }
  info.mode = st.st_mode & 07777;
  info.size = static_cast<uint64_t>(st.st_size);
  info.uid = st.st_uid;
  info.gid = st.st_gid;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  return kSuccess;
}

ErrorCode DiskFileSystem::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) return errno;
  created.push_back(path);
  return kSuccess;
}

double UtcTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<double>(timegm(&tm));
}

UtcZone::UtcZone() {
  if (const char* tz = std::getenv("TZ")) {
    had_ = true;
    old_ = tz;
  }
  setenv("TZ", "UTC", 1);
  tzset();
}

UtcZone::~UtcZone() {
  if (had_) {
    setenv("TZ", old_.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace twinmere::testing
