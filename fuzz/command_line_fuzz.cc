// ParseCommandLine on arbitrary bytes: no crash, no sanitizer report, and every
// line that parses is written again by BuildArguments and reads back to the
// same options.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "platform/memory_file_system.h"

namespace {

constexpr int32_t kLevel = 31;

twinmere::MemoryFileSystem& FileSystem() {
  static twinmere::MemoryFileSystem* fs = [] {
    auto* made = new twinmere::MemoryFileSystem(
        twinmere::MemoryFileSystemOptions{.case_insensitive = true, .short_names = true});
    made->AddFolder("/Data/Photos 2024");  // alias PHOTOS~1
    made->AddFolder("/Data/Backup");
    made->AddFile("/Data/file.txt", "");
    return made;
  }();
  return *fs;
}

void Fail(const char* what, const std::string& first, const std::string& second) {
  std::fprintf(stderr, "%s\n  input:   [%s]\n  rebuilt: [%s]\n", what, first.c_str(),
               second.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string args(reinterpret_cast<const char*>(data), size);
  const twinmere::CommandLineContext context{FileSystem(), "/state/twinmere", kLevel};

  twinmere::SyncOptions parsed;
  parsed.ReportLevel = kLevel;
  const twinmere::ParseResult result = twinmere::ParseCommandLine(args, parsed, context);
  if (!result.valid) return 0;
  if (parsed.Bidi && (parsed.Delete || !parsed.New))
    Fail("Bidi with Delete or without New", args, "");
  if (parsed.Restriction < 0 || parsed.ReportLevel < 0) Fail("negative number", args, "");
  if (result.view_report_enabled.has_value() &&
      *result.view_report_enabled == parsed.Report.empty())
    Fail("View Report flag disagrees with Report", args, "");

  const std::string rebuilt = twinmere::BuildArguments(parsed, kLevel);
  twinmere::SyncOptions again;
  again.ReportLevel = kLevel;
  if (!twinmere::ParseCommandLine(rebuilt, again, context).valid)
    Fail("rebuilt line does not parse", args, rebuilt);
  if (!(again == parsed)) Fail("rebuilt line gives other options", args, rebuilt);
  return 0;
}
