// Times the walk of a tree and the copy of one file through the file-system
// layer, for bench/compare-walk-copy.
//
//   twinmere_fs_walk_copy walk FOLDER   walks FOLDER (folders before contents)
//   twinmere_fs_walk_copy copy FROM TO  copies one file, replacing TO
//
// Prints the elapsed seconds on standard output, the item count or the bytes
// on standard error; exits nonzero on failure.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "fs/files_enumerator.h"
#include "platform/file_system.h"

namespace {

class Count : public twinmere::IEnumFile {
 public:
  void File(twinmere::FilesEnumerator&) override { ++items; }
  void AccessError(const std::string& path, twinmere::ErrorCode code) override {
    std::fprintf(stderr, "error %d on %s\n", code, path.c_str());
    ++errors;
  }
  void SecurityError(const std::string&, twinmere::ErrorCode) override {}
  long items = 0;
  long errors = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s walk FOLDER | copy FROM TO\n", argv[0]);
    return 2;
  }
  auto fs = twinmere::CreatePlatformFileSystem();
  const std::string command = argv[1];
  const auto start = Clock::now();
  if (command == "walk") {
    std::string folder = argv[2];
    if (folder.back() != '/') folder += '/';
    fs->SetConfinedRoots({folder});
    twinmere::EnumeratorContext context{fs.get()};
    twinmere::FilesEnumerator e(context);
    e.SetFolder(folder);
    Count count;
    const twinmere::ErrorCode code = e.Enumerate(count, twinmere::EnumMode::FolderFirst, "*");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%.6f\n", seconds);
    std::fprintf(stderr, "%ld items\n", count.items);
    return code == 0 && count.errors == 0 ? 0 : 1;
  }
  if (command == "copy" && argc == 4) {
    const twinmere::ErrorCode code = fs->CopyFile(argv[2], argv[3], {});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (code != 0) {
      std::fprintf(stderr, "copy failed: %s\n", std::strerror(code));
      return 1;
    }
    std::printf("%.6f\n", seconds);
    return 0;
  }
  std::fprintf(stderr, "unknown command %s\n", command.c_str());
  return 2;
}
