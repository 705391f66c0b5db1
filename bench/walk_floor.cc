// The least a comparison of two trees must do: list every folder of each tree
// (getdents64) and read every item's metadata once (one fstatat per item),
// one tree after the other, on one thread. bench/compare-rsync times it
// beside the tools as the floor that each figure can be read against.
//
//   twinmere_walk_floor FOLDER...
//
// Prints the number of items read on standard output; exits nonzero when a
// folder cannot be read.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Dirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool Dots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Lists the open folder `fd`, stats each entry, walks the subfolders; closes `fd`.
bool Walk(int fd, uint64_t& items) {
  std::vector<char> buffer(32 * 1024);
  bool ok = true;
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    for (long pos = 0; pos < n;) {
      const auto* entry = reinterpret_cast<const Dirent64*>(buffer.data() + pos);
      pos += entry->d_reclen;
      if (Dots(entry->d_name)) continue;
      struct stat st;
      if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      ++items;
      if (S_ISDIR(st.st_mode)) {
        const int sub = openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
          ok = false;
        } else if (!Walk(sub, items)) {
          ok = false;
        }
      }
    }
  }
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
    return 2;
  }
  uint64_t items = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !Walk(fd, items)) ok = false;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(items));
  return ok ? 0 : 1;
}
