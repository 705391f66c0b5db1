// The Windows implementations of the small platform services: whole-file
// replacement, the instance marker, temporary names, programs started,
// the version text, the user's folders and the console's stop requests.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "platform/atomic_file_writer.h"
#include "platform/instance_marker.h"
#include "platform/platform_facts.h"
#include "platform/program_start.h"
#include "platform/stop_signals.h"
#include "platform/temporary_names.h"
#include "platform/user_folders.h"
#include "platform/win32/attributes_win32.h"
#include "platform/win32/platform_facts_win32.h"
#include "platform/win32/program_start_win32.h"
#include "platform/win32/stop_signals_win32.h"
#include "platform/win32/windows_api.h"
// After windows.h, which it needs.
#include <shellapi.h>

#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::TempTree;

// The id of a process of this boot that has ended.
DWORD EndedProcessId() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  wchar_t line[] = L"cmd.exe /c exit 0";
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process))
    return 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

TEST(WinAtomicFileWriterTest, ReplacesWholeOrLeavesTheOldFileAlone) {
  TempTree tree;
  tree.WriteFile("report", "old");
  tree.SetMode("report", win32::ModeFromAttributes(FILE_ATTRIBUTE_HIDDEN));
  AtomicFileWriter writer;
  ASSERT_EQ(writer.Begin(tree.Path("report"), {}), 0);
  ASSERT_EQ(writer.Append("half"), 0);
  writer.Abandon();
  EXPECT_EQ(tree.ReadFile("report"), "old");
  EXPECT_EQ(tree.List(), std::vector<std::string>{"report"});

  ASSERT_EQ(WriteWholeFile(tree.Path("report"), "new",
                           {.mode_source = ModeSource::Existing, .flush = FileFlush::Data}),
            0);
  EXPECT_EQ(tree.ReadFile("report"), "new");
  EXPECT_EQ(tree.List(), std::vector<std::string>{"report"});
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  ItemInfo info;
  ASSERT_EQ(fs->Lookup(tree.Path("report"), info), 0);
  // Hidden as before; written anew, so to be archived.
  EXPECT_EQ(info.mode, win32::ModeFromAttributes(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(IsMissingError(WriteWholeFile(tree.Path("missing/report"), "x", {})));
}

TEST(WinAtomicFileWriterTest, DevicesAreWrittenIntoAndFoldersRefused) {
  TempTree tree;
  tree.MakeFolder("folder");
  const DWORD ended = EndedProcessId();
  ASSERT_NE(ended, 0u);
  const std::string leftover = TemporaryName(ended, "1", 1);
  tree.WriteFile(leftover, "killed writer's");
  EXPECT_EQ(WriteWholeFile(tree.Path("NUL"), "gone", {}), 0);
  EXPECT_EQ(WriteWholeFile(tree.Path("nul.txt"), "gone", {}), 0);
  EXPECT_EQ(tree.List(), (std::vector<std::string>{leftover, "folder"}));
  EXPECT_EQ(WriteWholeFile(tree.Path("folder"), "x", {}), win32::kErrorDirectoryNotSupported);
  // Writing a file takes away what killed writers left.
  EXPECT_EQ(WriteWholeFile(tree.Path("report"), "new", {}), 0);
  EXPECT_EQ(tree.List(), (std::vector<std::string>{"folder", "report"}));
}

TEST(WinFileLockTest, OneHolderAtATimeAndTheContentsStayReadable) {
  TempTree tree;
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  std::unique_ptr<FileLock> held, second;
  ASSERT_EQ(fs->CreateLockedFile(tree.Path("mark"), "started", held), 0);
  ASSERT_NE(held, nullptr);
  std::string contents;
  EXPECT_EQ(fs->LockFile(tree.Path("mark"), 100, contents, second), kErrInUse);
  EXPECT_EQ(tree.ReadFile("mark"), "started");
  held.reset();
  ASSERT_EQ(fs->LockFile(tree.Path("mark"), 3, contents, second), 0);
  EXPECT_EQ(contents, "sta");
  EXPECT_EQ(fs->CreateLockedFile(tree.Path("mark"), "again", held), kErrAlreadyExists);
}

TEST(WinInstanceMarkerTest, IsANamedMutexThatNeverKeepsASecondInstanceOut) {
  {
    const InstanceMarker first(UserFolders{});
    const InstanceMarker second(UserFolders{});
    EXPECT_TRUE(first.Held());
    EXPECT_TRUE(second.Held());
    const HANDLE found = OpenMutexW(SYNCHRONIZE, FALSE, L"TwinmereMutex");
    EXPECT_NE(found, nullptr);
    CloseHandle(found);
  }
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, L"TwinmereMutex"), nullptr);
}

TEST(WinTemporaryNamesTest, OriginIsThisBootsAndEndedProcessesAreKnown) {
  const std::string origin = ThisOrigin();
  EXPECT_EQ(origin.size(), kOriginDigits);
  EXPECT_EQ(ParseTemporaryName(NewTemporaryName())->origin, origin);
  EXPECT_FALSE(ProcessEnded(GetCurrentProcessId()));
  EXPECT_TRUE(ProcessEnded(EndedProcessId()));
  EXPECT_GT(WallClockNow().ns, int64_t{1'700'000'000} * 1'000'000'000);
}

TEST(WinProgramStartTest, ArgumentsReachTheProgramExactly) {
  const std::vector<std::wstring> kArguments[] = {
      {L"program", L"plain"},      {L"program", L"two words", L""},
      {L"program", L"say \"hi\""}, {L"program", L"C:\\folder\\", L"a\\\\\"b"},
      {L"program", L"tab\there"},
  };
  for (const auto& arguments : kArguments) {
    int count = 0;
    wchar_t** split = CommandLineToArgvW(win32::CommandLine(arguments).c_str(), &count);
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(std::vector<std::wstring>(split, split + count), arguments);
    LocalFree(split);
  }
  ProgramResult result;
  ASSERT_EQ(RunProgram({"cmd.exe", "/c", "echo said& exit 3"}, result), 0);
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.output.substr(0, 4), "said");
  EXPECT_EQ(StartProgram("no-such-program-here.exe", "x"), kErrNotFound);
  EXPECT_EQ(RunProgram({"no-such-program-here.exe"}, result), kErrNotFound);
}

TEST(WinPlatformFactsTest, VersionsAreClassifiedAndWrittenAsBefore) {
  struct {
    win32::WindowsVersion version;
    int32_t index;
    const char* text;
  } const kCases[] = {
      {{1, 4, 10, 1998, ""}, 1, "Windows 98, version 4.10.1998"},
      {{2, 4, 0, 1381, "Service Pack 6"}, 4, "Windows NT, version 4.00.1381 Service Pack 6"},
      {{2, 5, 1, 2600, "Service Pack 2"}, 6, "Windows XP, version 5.01.2600 Service Pack 2"},
      {{2, 6, 0, 6000, ""}, 8, "Windows, version 6.00.6000"},
      {{2, 10, 0, 19045, ""}, 8, "Windows, version 10.00.19045"},
      {{2, 3, 51, 1057, ""}, -1, nullptr},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(win32::ClassifyWindowsVersion(c.version), c.index) << c.version.major;
    if (c.text != nullptr) {
      EXPECT_EQ(win32::FormatWindowsVersion(c.version, c.index), c.text);
    }
  }
  const PlatformFacts facts = DetectPlatformFacts();
  EXPECT_TRUE(facts.IsNT);
  EXPECT_TRUE(facts.OsText.starts_with("Windows")) << facts.OsText;
}

TEST(WinUserFoldersTest, FoldersComeFromTheWindowsEnvironment) {
  const std::map<std::string, std::string> environment = {
      {"USERPROFILE", "C:\\Users\\Ann\\"},
      {"APPDATA", "C:\\Users\\Ann\\AppData\\Roaming"},
      {"LOCALAPPDATA", "relative\\ignored"},
      {"TMP", "D:/temp/"},
  };
  const UserFolders folders = UserFoldersFromEnvironment([&](const char* name) -> const char* {
    const auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
  });
  // In the program's form: "/" between names.
  EXPECT_EQ(folders.home, "C:/Users/Ann");
  EXPECT_EQ(folders.config, "C:/Users/Ann/AppData/Roaming");
  EXPECT_EQ(folders.state, "C:/Users/Ann/AppData/Local");
  EXPECT_EQ(folders.documents, "C:/Users/Ann/Documents");
  EXPECT_EQ(folders.temp, "D:/temp");
  EXPECT_EQ(folders.runtime, folders.temp);
  EXPECT_EQ(ProgramStateFolder(folders), "C:/Users/Ann/AppData/Local/twinmere");
  EXPECT_EQ(HomeTrashFolder(folders), "");
  EXPECT_FALSE(UserFoldersFromEnvironment().config.empty());
}

TEST(WinStopSignalsTest, CtrlCStopsOrIsRefusedAndClosingAlwaysStops) {
  for (const InterruptPolicy policy : {InterruptPolicy::Stop, InterruptPolicy::Refuse}) {
    std::atomic<int> stop{0};
    StopSignalGuard guard(stop, policy);
    EXPECT_TRUE(win32::HandleConsoleEvent(CTRL_C_EVENT));
    EXPECT_EQ(stop.load(), policy == InterruptPolicy::Stop ? 1 : 0);
    EXPECT_EQ(guard.TakeRefusedStop(), policy == InterruptPolicy::Refuse);
    EXPECT_FALSE(guard.TakeRefusedStop());
  }
  // Closing the console stops the run and waits for it to end, that is for
  // the guard to go.
  std::atomic<int> stop{0};
  auto guard = std::make_unique<StopSignalGuard>(stop, InterruptPolicy::Refuse);
  std::atomic<bool> returned{false};
  std::thread handler([&] {
    win32::HandleConsoleEvent(CTRL_CLOSE_EVENT);
    returned = true;
  });
  while (stop.load() == 0) std::this_thread::yield();
  EXPECT_FALSE(returned.load());
  guard.reset();
  handler.join();
  EXPECT_FALSE(win32::HandleConsoleEvent(CTRL_C_EVENT));  // no guard: the system's way
}

}  // namespace
}  // namespace twinmere
