// The Windows file system: what only Windows has (attributes, short names,
// reparse points, names that ignore case, sharing), and the forms that
// paths and names take at the system boundary.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/attributes_win32.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/system_paths_win32.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::TempTree;

std::wstring System(const std::string& path) {
  win32::SystemPath system;
  EXPECT_EQ(win32::ToSystemPath(path, system), 0) << path;
  return system.text;
}

class WinFileSystemTest : public ::testing::Test {
 protected:
  ItemInfo Look(const std::string& relative) {
    ItemInfo info;
    EXPECT_EQ(fs_->Lookup(tree_.Path(relative), info), 0) << relative;
    return info;
  }
  std::vector<ItemInfo> Listing(const std::string& relative = "") {
    std::unique_ptr<FolderReader> reader;
    std::vector<ItemInfo> items;
    EXPECT_EQ(fs_->OpenFolder(tree_.Path(relative), reader), 0);
    ItemInfo item;
    while (reader && reader->Next(item) == 0) items.push_back(item);
    return items;
  }
  DWORD AttributesOf(const std::string& relative) {
    return GetFileAttributesW(System(tree_.Path(relative)).c_str());
  }
  // A junction (a mount point reparse point) at `relative` that leads to
  // the folder `target`; false where the file system makes none (Wine).
  bool MakeJunction(const std::string& relative, const std::string& target) {
    tree_.MakeFolder(relative);
    const HANDLE folder =
        CreateFileW(System(tree_.Path(relative)).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    std::wstring substitute = L"\\??\\" + System(tree_.Path(target)).substr(4);
    const auto bytes = static_cast<USHORT>(substitute.size() * sizeof(WCHAR));
    std::vector<char> data(sizeof(win32::ReparseDataHeader) + sizeof(win32::ReparseNames) + bytes +
                           2 * sizeof(WCHAR));
    const win32::ReparseDataHeader header{IO_REPARSE_TAG_MOUNT_POINT,
                                          static_cast<USHORT>(data.size() - 8), 0};
    const win32::ReparseNames names{0, bytes, static_cast<USHORT>(bytes + sizeof(WCHAR)), 0};
    std::memcpy(data.data(), &header, sizeof header);
    std::memcpy(data.data() + sizeof header, &names, sizeof names);
    std::memcpy(data.data() + sizeof header + sizeof names, substitute.data(), bytes);
    DWORD returned = 0;
    const bool made =
        DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(),
                        static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr) != FALSE;
    CloseHandle(folder);
    return made && (AttributesOf(relative) & FILE_ATTRIBUTE_REPARSE_POINT);
  }

  TempTree tree_;
  std::unique_ptr<FileSystem> fs_ = CreatePlatformFileSystem();
};

TEST_F(WinFileSystemTest, AttributesTravelInTheModeBothWays) {
  const DWORD kAttributes[] = {FILE_ATTRIBUTE_READONLY,
                               FILE_ATTRIBUTE_HIDDEN,
                               FILE_ATTRIBUTE_SYSTEM,
                               FILE_ATTRIBUTE_ARCHIVE,
                               FILE_ATTRIBUTE_TEMPORARY,
                               FILE_ATTRIBUTE_OFFLINE,
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED};
  for (const DWORD attribute : kAttributes) {
    SCOPED_TRACE(attribute);
    tree_.WriteFile("read", "r");
    tree_.WriteFile("written", "w");
    ASSERT_TRUE(SetFileAttributesW(System(tree_.Path("read")).c_str(), attribute));
    // As far as the volume keeps it (Wine keeps no temporary, offline or
    // not-indexed attribute, and sets archive on every file).
    const DWORD held = AttributesOf("read") & win32::kWrittenAttributes;
    if ((held & attribute) == 0) continue;
    const ItemInfo read = Look("read");
    EXPECT_EQ(read.mode, win32::ModeFromAttributes(held));
    EXPECT_EQ((read.Attributes() & kAttrReadOnly) != 0, attribute == FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(fs_->SetMode(tree_.Path("written"), read.mode), 0);
    EXPECT_EQ(AttributesOf("written") & win32::kWrittenAttributes, held);
    SetFileAttributesW(System(tree_.Path("read")).c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(System(tree_.Path("written")).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  // The comparison looks at read-only, hidden, system, archive and temporary.
  const uint32_t kept = fs_->Abilities(tree_.Path("read")).kept_mode_bits;
  EXPECT_EQ(kept & win32::ModeFromAttributes(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY),
            win32::ModeFromAttributes(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY));
  EXPECT_EQ(kept & win32::ModeFromAttributes(FILE_ATTRIBUTE_OFFLINE) & 07000, 0u);
}

TEST_F(WinFileSystemTest, ShortNameIsListedAndFindsItsItem) {
  tree_.WriteFile("A long file name.txt", "x");
  const ItemInfo listed = Listing().at(0);
  if (listed.short_name.empty()) GTEST_SKIP() << "this volume keeps no short names";
  EXPECT_NE(listed.short_name, listed.name);
  // The alias finds the item, under its long name: what a run takes for a
  // clash of short names, never for the item asked about.
  EXPECT_EQ(Look(listed.short_name).name, "A long file name.txt");
  EXPECT_EQ(Look("A long file name.txt").short_name, listed.short_name);
}

TEST_F(WinFileSystemTest, NamesIgnoreCaseAndChangeCaseInPlace) {
  tree_.WriteFile("Report.TXT", "old");
  tree_.WriteFile("new", "new");
  EXPECT_TRUE(fs_->NamesIgnoreCase(tree_.Root()));
  EXPECT_EQ(Look("report.txt").name, "Report.TXT");
  CopyOptions options;
  options.no_replace = true;
  EXPECT_EQ(fs_->CopyFile(tree_.Path("new"), tree_.Path("REPORT.txt"), options), kErrAlreadyExists);
  EXPECT_EQ(tree_.ReadFile("Report.TXT"), "old");
  ASSERT_EQ(fs_->Rename(tree_.Path("Report.TXT"), tree_.Path("report.txt"), RenameMode::NoReplace),
            0);
  EXPECT_EQ(tree_.List(), (std::vector<std::string>{"new", "report.txt"}));
}

TEST_F(WinFileSystemTest, JunctionsAreLinksThatNothingFollows) {
  tree_.WriteFile("target/secret", "s");
  if (!MakeJunction("link", "target")) GTEST_SKIP() << "no reparse points on this file system";
  ItemInfo info = Look("link");
  EXPECT_EQ(info.kind, ItemKind::Link);
  std::string text;
  ASSERT_EQ(fs_->ReadLink(tree_.Path("link"), text), 0);
  EXPECT_TRUE(text.ends_with("\\target")) << text;
  EXPECT_EQ(info.size, text.size());
  std::unique_ptr<FolderReader> reader;
  EXPECT_EQ(fs_->OpenFolder(tree_.Path("link"), reader), kErrNotAFolder);
  fs_->SetConfinedRoots({tree_.Root()});
  EXPECT_EQ(fs_->Lookup(tree_.Path("link/secret"), info), kErrLinkInPath);
  EXPECT_EQ(fs_->SetMode(tree_.Path("link/secret"), 0500), kErrLinkInPath);
  ASSERT_EQ(fs_->CopyFile(tree_.Path("link"), tree_.Path("copy"), {}), 0);
  EXPECT_EQ(Look("copy").kind, ItemKind::Link);
  ASSERT_EQ(fs_->DeleteFile(tree_.Path("link")), 0);
  EXPECT_EQ(tree_.ReadFile("target/secret"), "s");
}

TEST_F(WinFileSystemTest, FilesInUseFailTheCopyAndLeaveNothingBehind) {
  tree_.WriteFile("source", "new");
  tree_.WriteFile("target", "old");
  struct {
    const char* held;
    DWORD share;
  } const kCases[] = {{"source", 0}, {"target", FILE_SHARE_READ | FILE_SHARE_WRITE}};
  for (const auto& held : kCases) {
    SCOPED_TRACE(held.held);
    const HANDLE file = CreateFileW(System(tree_.Path(held.held)).c_str(), GENERIC_WRITE,
                                    held.share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const ErrorCode code = fs_->CopyFile(tree_.Path("source"), tree_.Path("target"), {});
    CloseHandle(file);
    EXPECT_TRUE(code == ERROR_SHARING_VIOLATION || code == kErrAccessDenied) << code;
    EXPECT_EQ(tree_.ReadFile("target"), "old");
    EXPECT_EQ(tree_.List(), (std::vector<std::string>{"source", "target"}));
  }
}

class Progress : public IProgress {
 public:
  void SetProgress(uint64_t bytes) override { last = bytes; }
  uint64_t last = 0;
};

TEST_F(WinFileSystemTest, CopyReplacesWithContentsTimesAndAttributesAndKeepsTheOld) {
  const std::string contents(3 << 20, 'c');
  tree_.WriteFile("source", contents);
  tree_.SetTime("source", 1'500'000'000, 123'456'700);
  tree_.SetMode("source", win32::ModeFromAttributes(FILE_ATTRIBUTE_HIDDEN));
  tree_.WriteFile("target", "old");
  std::atomic<int> stop{1};
  CopyOptions stopped;
  stopped.stop = &stop;
  EXPECT_EQ(fs_->CopyFile(tree_.Path("source"), tree_.Path("target"), stopped), kErrCancelled);
  EXPECT_EQ(tree_.List(), (std::vector<std::string>{"source", "target"}));

  Progress progress;
  bool kept = false;
  const std::string keep = tree_.Path("kept");
  CopyOptions options;
  options.progress = &progress;
  options.keep_old_as = &keep;
  options.old_kept = &kept;
  ASSERT_EQ(fs_->CopyFile(tree_.Path("source"), tree_.Path("target"), options), 0);
  EXPECT_EQ(tree_.ReadFile("target"), contents);
  EXPECT_EQ(progress.last, contents.size());
  EXPECT_TRUE(kept);
  EXPECT_EQ(tree_.ReadFile("kept"), "old");
  const ItemInfo copy = Look("target");
  EXPECT_EQ(copy.modify_time, Look("source").modify_time);
  EXPECT_EQ(copy.mode, Look("source").mode);
  EXPECT_EQ(tree_.List(), (std::vector<std::string>{"kept", "source", "target"}));
}

TEST_F(WinFileSystemTest, PathsBeyondTheOldLimitWork) {
  std::string deep;
  for (int i = 0; i < 30; ++i) deep += (deep.empty() ? "" : "/") + std::string(12, 'a' + i % 26);
  ASSERT_GT(tree_.Path(deep).size(), 300u);
  std::string made = tree_.Root();
  for (size_t start = 0; start < deep.size();) {
    const size_t slash = std::min(deep.find('/', start), deep.size());
    made += "/" + deep.substr(start, slash - start);
    ASSERT_EQ(fs_->CreateFolder(made), 0) << made;
    start = slash + 1;
  }
  ASSERT_EQ(fs_->WriteNewFile(made + "/file", "deep"), 0);
  ASSERT_EQ(fs_->CopyFile(made + "/file", made + "/copy", {}), 0);
  ItemInfo info;
  ASSERT_EQ(fs_->Lookup(made + "/copy", info), 0);
  EXPECT_EQ(info.size, 4u);
}

TEST_F(WinFileSystemTest, SecurityDescriptorsCopyExactly) {
  tree_.WriteFile("a", "a");
  tree_.WriteFile("b", "b");
  Security a, b;
  ASSERT_EQ(fs_->ReadSecurity(tree_.Path("a"), a), 0);
  ASSERT_FALSE(a.descriptor.empty());
  ASSERT_EQ(fs_->WriteSecurity(tree_.Path("b"), a), 0);
  ASSERT_EQ(fs_->ReadSecurity(tree_.Path("b"), b), 0);
  EXPECT_EQ(a, b);
  EXPECT_TRUE(fs_->KeepsSecurity(tree_.Root()));
}

TEST_F(WinFileSystemTest, ErrorsAreWindowsNumbersWithTheSystemsText) {
  tree_.WriteFile("file", "f");
  ItemInfo info;
  EXPECT_EQ(fs_->Lookup(tree_.Path("missing"), info), kErrNotFound);
  EXPECT_EQ(fs_->Lookup(tree_.Path("missing/item"), info), kErrPathNotFound);
  EXPECT_TRUE(IsMissingError(fs_->Lookup(tree_.Path("file/item"), info)));
  fs_->SetConfinedRoots({tree_.Root()});
  EXPECT_EQ(fs_->Lookup(tree_.Path("missing/deeper/item"), info), kErrPathNotFound);
  EXPECT_TRUE(IsMissingError(fs_->Lookup(tree_.Path("file/item"), info)));
  EXPECT_EQ(fs_->CreateFolder(tree_.Path("file")), kErrAlreadyExists);
  EXPECT_EQ(fs_->Lookup(tree_.Path("a*b"), info), ERROR_INVALID_NAME);
  const std::string text = SystemErrorText(kErrAccessDenied);  // "Access is denied."
  EXPECT_TRUE(text.starts_with("Access") && text.ends_with(".")) << text;
  EXPECT_EQ(SystemErrorText(0x7654321), "Unknown error 124076833");
}

// The reparse data of a link as the file system gives it: a header, the
// names' places, for symbolic links their flags, then the names.
std::string ReparseData(ULONG tag, std::wstring_view substitute, std::wstring_view print) {
  std::string body;
  const auto add = [&body](const void* bytes, size_t size) {
    body.append(static_cast<const char*>(bytes), size);
  };
  const auto length = [](std::wstring_view name) {
    return static_cast<USHORT>(name.size() * sizeof(WCHAR));
  };
  const win32::ReparseNames names{0, length(substitute), length(substitute), length(print)};
  add(&names, sizeof names);
  if (tag == IO_REPARSE_TAG_SYMLINK) {
    const ULONG flags = win32::kSymlinkFlagRelative;
    add(&flags, sizeof flags);
  }
  add(substitute.data(), length(substitute));
  add(print.data(), length(print));
  const win32::ReparseDataHeader header{tag, static_cast<USHORT>(body.size()), 0};
  return std::string(reinterpret_cast<const char*>(&header), sizeof header) + body;
}

TEST(WinLinksTest, LinkTextIsTheNameTheLinkLeadsTo) {
  std::string text;
  ASSERT_EQ(win32::LinkText(ReparseData(IO_REPARSE_TAG_SYMLINK, L"..\\d\\\u00e9", L"x"), text), 0);
  EXPECT_EQ(text, "..\\d\\\xc3\xa9");
  ASSERT_EQ(
      win32::LinkText(ReparseData(IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\t", L"C:\\t"), text), 0);
  EXPECT_EQ(text, "\\??\\C:\\t");
  const std::string wsl = std::string("\x1d\0\0\xa0\x08\0\0\0\x02\0\0\0", 12) + "../a";
  ASSERT_EQ(win32::LinkText(wsl, text), 0);
  EXPECT_EQ(text, "../a");
  std::string cut = ReparseData(IO_REPARSE_TAG_SYMLINK, L"far", L"");
  cut.resize(cut.size() - 2);
  EXPECT_EQ(win32::LinkText(cut, text), ERROR_INVALID_REPARSE_DATA);
  EXPECT_EQ(win32::LinkText(ReparseData(0x80000017, L"x", L""), text), kErrNotSupported);
}

TEST(WinPathsTest, PathsTakeTheLongFormWithNamesKeptExactly) {
  struct {
    const char* path;
    const wchar_t* system;
  } const kCases[] = {
      {"C:/a/./b/../c/", L"\\\\?\\C:\\a\\c"},
      {"c:\\dots.\\blank \\", L"\\\\?\\c:\\dots.\\blank "},
      {"C:\\..\\x", L"\\\\?\\C:\\x"},
      {"//server/share/x", L"\\\\?\\UNC\\server\\share\\x"},
      {"\\\\server\\share", L"\\\\?\\UNC\\server\\share\\"},
      {"\\\\?\\C:\\x\\y", L"\\\\?\\C:\\x\\y"},
      {"\\\\?\\UNC\\s\\h\\x", L"\\\\?\\UNC\\s\\h\\x"},
      {"C:\\", L"\\\\?\\C:\\"},
  };
  for (const auto& c : kCases) {
    win32::SystemPath system;
    ASSERT_EQ(win32::ToSystemPath(c.path, system), 0) << c.path;
    EXPECT_EQ(system.text, c.system) << c.path;
  }
  win32::SystemPath system;
  EXPECT_EQ(win32::ToSystemPath("\\\\server", system), ERROR_BAD_PATHNAME);
  EXPECT_EQ(win32::ToSystemPath("C:/bad\xff", system), ERROR_INVALID_NAME);
  ASSERT_EQ(win32::ToSystemPath("C:/a/b", system), 0);
  EXPECT_EQ(system.Parent().text, L"\\\\?\\C:\\a");
  EXPECT_EQ(system.Parent().Parent().text, L"\\\\?\\C:\\");
  EXPECT_EQ(system.LastName(), L"b");
}

TEST(WinPathsTest, EveryWindowsNameRoundTripsThroughItsBytes) {
  // Random names of every kind of unit: ASCII, the rest of the BMP, pairs
  // and lone halves of surrogates.
  std::mt19937 random(20261207);
  const wchar_t kUnits[] = {L'a', L'\u00e9', L'\u4e2d', L'\xd83d', L'\xde00', L'\xdbff', L'\xdc00'};
  for (int round = 0; round < 2000; ++round) {
    std::wstring name;
    for (int i = random() % 8; i > 0; --i) name += kUnits[random() % std::size(kUnits)];
    std::wstring back;
    ASSERT_TRUE(win32::Utf8ToWide(win32::WideToUtf8(name), back));
    EXPECT_EQ(back, name);
  }
  const char* kNotWtf8[] = {
      "\xff",         "\xc0\x80",
      "\xe0\x80\x80", "\xf4\x90\x80\x80",
      "a\xe2\x82",    "\xed\xa0\xbd\xed\xb8\x80"};  // a pair written as two halves
  for (const char* bytes : kNotWtf8) {
    std::wstring wide;
    EXPECT_FALSE(win32::Utf8ToWide(bytes, wide)) << bytes;
  }
}

}  // namespace
}  // namespace twinmere
