#include "settings/program_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>

#include "settings/registry_printer.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using ::testing::ElementsAre;

class ProgramSettingsTest : public ::testing::Test {
 protected:
  ProgramSettingsTest() {
    folders_.config = tree_.Path("config");
    folders_.data = tree_.Path("data");
    machine_ = tree_.Path("etc/registry.sqlite3");
    OpenUser();
  }

  void OpenUser() {
    user_ =
        std::make_unique<Registry>(RegistryPaths{DefaultRegistryPaths(folders_).user, machine_});
  }
  // A fresh user store. The open one is closed first: Windows removes no
  // file that is open.
  void ResetUser() {
    user_.reset();
    testing::RemoveTree(tree_.Path("config"));
    OpenUser();
  }

  // Builds a machine store through a writable registry over the same file.
  void WriteMachine(const std::string& key, const std::string& name, const RegistryValue& value) {
    Registry writer(RegistryPaths{machine_, ""});
    writer.KeyValue(Hive::CurrentUser, key, name, value);
  }
  void Store(const char* name, const RegistryValue& value) {
    user_->KeyValue(Hive::CurrentUser, kSettingsKey, name, value);
  }
  RegistryValue Stored(const char* name) {
    return user_->KeyValue(Hive::CurrentUser, kSettingsKey, name);
  }

  testing::TempTree tree_;
  UserFolders folders_;
  std::string machine_;
  std::unique_ptr<Registry> user_;
};

TEST_F(ProgramSettingsTest, EmptyStoresGiveTheBuiltInDefaults) {
  const ProgramSettings s = ReadProgramSettings(*user_, folders_);
  EXPECT_EQ(s.program_group_folder, folders_.data + "/applications/Twinmere/");
  EXPECT_EQ(s.shortcut_dir, s.program_group_folder);
  EXPECT_FALSE(s.maximized);
  EXPECT_FALSE(tree_.Exists("config"));  // reading created nothing
  folders_.data.clear();
  EXPECT_EQ(ReadProgramSettings(*user_, folders_).shortcut_dir, "") << "never at the root";
}

TEST_F(ProgramSettingsTest, StoredValuesAreTakenUnlessOfTheWrongKind) {
  const ProgramSettings defaults = ReadProgramSettings(*user_, folders_);
  Store("ReportLevel", "200");
  Store("Viewer", "");
  Store("Height", "8000");
  Store("Width", RegistryBytes{1});
  Store("Report", int32_t{3});
  Store("ShortcutDir", int32_t{3});
  Store("DeletionGuard", int32_t{101});
  Store("VersionsKeep", "4");
  const ProgramSettings wrong = ReadProgramSettings(*user_, folders_);
  EXPECT_EQ(wrong.deletion_guard_percent, 50);
  EXPECT_EQ(wrong.default_report_level, 215);
  EXPECT_EQ(wrong.viewer, defaults.viewer);
  EXPECT_EQ(wrong.height, defaults.height);
  EXPECT_EQ(wrong.width, defaults.width);
  EXPECT_EQ(wrong.default_report, "");
  EXPECT_EQ(wrong.shortcut_dir, wrong.program_group_folder);
  EXPECT_EQ(wrong.versions_keep, 0);

  Store("ReportLevel", int32_t{3});
  Store("Viewer", "mousepad");
  Store("Report", "/var/log/sync.txt");
  Store("ShortcutDir", "/home/ada/links");
  Store("Height", kMaximizedFlag + 8000);
  Store("Width", int32_t{9000});
  Store("DeletionGuard", int32_t{0});
  Store("VersionsKeep", int32_t{4});
  const ProgramSettings s = ReadProgramSettings(*user_, folders_);
  EXPECT_EQ(s.deletion_guard_percent, 0);
  EXPECT_EQ(s.default_report_level, 3);
  EXPECT_EQ(s.viewer, "mousepad");
  EXPECT_EQ(s.default_report, "/var/log/sync.txt");
  EXPECT_EQ(s.shortcut_dir, "/home/ada/links/");
  EXPECT_EQ(s.height, 8000);
  EXPECT_EQ(s.width, 9000);
  EXPECT_EQ(s.versions_keep, 4);
  EXPECT_TRUE(s.maximized);
  EXPECT_TRUE(StartsMaximized(s, /*start_minimized=*/false));
  EXPECT_FALSE(StartsMaximized(s, /*start_minimized=*/true));

  Store("ShortcutDir", "");
  EXPECT_EQ(ReadProgramSettings(*user_, folders_).shortcut_dir, "");
}

TEST_F(ProgramSettingsTest, GroupNameComesFromTheMatchingUninstallEntry) {
  const std::string entries = kUninstallKey;
  WriteMachine(entries + "\\Alpha_is1", "DisplayName", "Alpha");
  WriteMachine(entries + "\\Alpha_is1", kIconGroupValue, "Alpha Group");
  WriteMachine(entries + "\\Twinmere_is1", "DisplayName", "TWINMERE");
  WriteMachine(entries + "\\Twinmere_is1", kIconGroupValue, "Brevald Tools");
  const ProgramSettings s = ReadProgramSettings(*user_, folders_);
  EXPECT_EQ(s.program_group_name, "Brevald Tools");
  EXPECT_EQ(s.program_group_folder, folders_.data + "/applications/Brevald Tools/");

  WriteMachine(entries + "\\Twinmere_is1", kIconGroupValue, "");
  EXPECT_EQ(ProgramGroupName(*user_), "Twinmere");
}

TEST_F(ProgramSettingsTest, WindowSizeIsStoredOnlyWhenItChangedAndAFailureIsReturned) {
  const struct {
    const char* what;
    WindowState loaded, now;
    RegistryValue height, width;
  } cases[] = {
      {"unchanged", {6000, 7000, false}, {6000, 7000, false}, RegistryValue(), RegistryValue()},
      {"taller", {6000, 7000, false}, {6500, 7000, false}, int32_t{6500}, RegistryValue()},
      {"wider", {6000, 7000, false}, {6000, 7100, false}, RegistryValue(), int32_t{7100}},
      {"maximized",
       {6000, 7000, false},
       {6000, 7000, true},
       int32_t{kMaximizedFlag + 6000},
       RegistryValue()},
      {"restored after starting maximized",
       {6000, 7000, true},
       {6000, 7000, false},
       int32_t{6000},
       RegistryValue()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetUser();
    EXPECT_FALSE(SaveWindowSize(*user_, c.loaded, c.now).has_value());
    EXPECT_EQ(Stored("Height"), c.height);
    EXPECT_EQ(Stored("Width"), c.width);
  }
  // A failure is returned, not raised.
  ResetUser();
  tree_.WriteFile("config", "not a folder");
  const auto error = SaveWindowSize(*user_, {6000, 7000, false}, {6100, 7100, false});
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->Number(), kErrWriting);
}

TEST_F(ProgramSettingsTest, DialogDeletesValuesEqualToTheirDefaults) {
  ProgramSettings s = ReadProgramSettings(*user_, folders_);
  s.default_report_level = 7;
  s.viewer = "mousepad";
  s.default_report = "/tmp/r.txt";
  s.shortcut_dir = "/home/ada/links/";
  s.deletion_guard_percent = 80;
  s.versions_keep = 3;
  StoreDialogSettings(*user_, s);
  EXPECT_EQ(user_->EnumValues(Hive::CurrentUser, kSettingsKey),
            RegistryValue(RegistryList{"DeletionGuard", "Report", "ReportLevel", "ShortcutDir",
                                       "VersionsKeep", "Viewer"}));
  EXPECT_EQ(ReadProgramSettings(*user_, folders_).viewer, "mousepad");

  s.default_report_level = 215;
  s.viewer = kDefaultViewer;
  s.viewer[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s.viewer[0])));
  s.default_report = "";
  s.shortcut_dir = s.program_group_folder;
  s.deletion_guard_percent = 50;
  s.versions_keep = 0;
  StoreDialogSettings(*user_, s);
  EXPECT_EQ(user_->EnumValues(Hive::CurrentUser, kSettingsKey), RegistryValue(RegistryList{}));
  EXPECT_FALSE(StoreDialogSettings(*user_, s));  // deleting what is already missing is no failure
}

}  // namespace
}  // namespace twinmere
