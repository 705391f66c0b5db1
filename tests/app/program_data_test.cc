#include "app/program_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fs/paths.h"
#include "support/memory_file_system.h"

namespace twinmere {
namespace {

TEST(FindProgramData, TakesTheShareFolderBesideTheExecutableBeforeThePrefix) {
  // The configured prefix's data folder is always the last one searched.
  const std::string prefix = ProgramDataFolders("").back();
  MemoryFileSystem fs;
  ASSERT_EQ(fs.AddFolder("/opt/tm/share/twinmere/help"), kSuccess);
  ASSERT_EQ(fs.AddFolder(prefix + "/twinmere/help"), kSuccess);
  ASSERT_EQ(fs.AddLink(prefix + "/icons/hicolor/48x48/apps/twinmere.png", "elsewhere.png"),
            kSuccess);

  struct Case {
    std::string exe_folder;
    const char* item;
    std::string found;
  };
  const Case cases[] = {
      {"/opt/tm/bin", kHelpData, "/opt/tm/share/twinmere/help"},
      {"/opt/tm/bin/", kHelpData, "/opt/tm/share/twinmere/help"},
      {"/home/u/bin", kHelpData, prefix + "/twinmere/help"},
      {"", kHelpData, prefix + "/twinmere/help"},
      {"relative/bin", kHelpData, prefix + "/twinmere/help"},
      {"/opt/tm/bin", kIcon48Data, prefix + "/" + kIcon48Data},  // a link counts
      {"/opt/tm/bin", kScalableIconData, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindProgramData(fs, c.item, c.exe_folder), c.found) << c.exe_folder << " " << c.item;
  }
}

#ifndef _WIN32  // the Windows build stages no data: it has no desktop program
TEST(FindProgramData, ProgramsRunFromTheBuildFolderFindTheStagedIcons) {
  const std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  const std::string exe_folder = GetInstallFolder();
  for (const char* item : {kScalableIconData, kIcon48Data, kIcon256Data}) {
    EXPECT_EQ(FindProgramData(*fs, item, exe_folder), ParentFolder(exe_folder) + "/share/" + item);
  }
}
#endif

}  // namespace
}  // namespace twinmere
