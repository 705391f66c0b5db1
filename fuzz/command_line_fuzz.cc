// ParseCommandLine on arbitrary bytes: no crash, no sanitizer report, and every
// line that parses is written again by BuildArguments and reads back to the
// same options. An input that holds NUL bytes is taken as up to three paths
// (report, Source, Target) instead: options holding them, and the arguments
// naming them as JoinArguments joins them, read back to the same paths, byte
// for byte (blanks at their ends included).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "fs/paths.h"
#include "support/memory_file_system.h"

namespace {

constexpr int32_t kLevel = 31;

twinmere::MemoryFileSystem& FileSystem() {
  static twinmere::MemoryFileSystem* fs = [] {
    auto* made = new twinmere::MemoryFileSystem(
        twinmere::MemoryFileSystemOptions{.case_insensitive = true, .short_names = true});
    made->AddFolder("/Data/Photos 2024");       // alias PHOTOS~1
    made->AddFolder("/Data/My \"Best\" Days");  // a blank and quotes
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

twinmere::SyncOptions ParsedOrFail(const std::string& line, const std::string& input,
                                   const twinmere::CommandLineContext& context) {
  twinmere::SyncOptions parsed;
  parsed.ReportLevel = kLevel;
  if (!twinmere::ParseCommandLine(line, parsed, context).valid)
    Fail("written line does not parse", input, line);
  return parsed;
}

void CheckPathsRoundTrip(const std::string& input, const twinmere::CommandLineContext& context) {
  std::string pieces[3];
  size_t count = 0;
  for (size_t from = 0; count < 3; ++count) {
    const size_t nul = input.find('\0', from);
    pieces[count] = input.substr(from, nul == std::string::npos ? std::string::npos : nul - from);
    if (nul == std::string::npos) {
      ++count;
      break;
    }
    from = nul + 1;
  }
  twinmere::SyncOptions expected;
  expected.ReportLevel = kLevel;
  expected.Report = twinmere::QualifyName(pieces[0], "/state/twinmere");
  if (!pieces[1].empty() || !pieces[2].empty()) {
    expected.Source =
        twinmere::LongFolderForm(context.file_system, twinmere::AddSeparator(pieces[1]));
    expected.Target =
        twinmere::LongFolderForm(context.file_system, twinmere::AddSeparator(pieces[2]));
  }

  const std::string built = twinmere::BuildArguments(expected, kLevel);
  if (!(ParsedOrFail(built, input, context) == expected))
    Fail("paths do not come back", input, built);

  // As arguments of a process; a Source that begins with "-" is a switch there.
  if (pieces[1].starts_with('-')) return;
  const char* argv[] = {"twinmere", "-r", pieces[0].c_str(), pieces[1].c_str(), pieces[2].c_str()};
  const int argc = !pieces[2].empty() ? 5 : !pieces[1].empty() ? 4 : 3;
  const std::string joined = twinmere::JoinArguments(argc, argv);
  if (!(ParsedOrFail(joined, input, context) == expected))
    Fail("arguments do not come back", input, joined);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string args(reinterpret_cast<const char*>(data), size);
  const twinmere::CommandLineContext context{FileSystem(), "/state/twinmere", kLevel};
  if (args.find('\0') != std::string::npos) {
    CheckPathsRoundTrip(args, context);
    return 0;
  }

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
