#include "settings/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "settings/registry_printer.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr char kKey[] = "SOFTWARE\\Brevald\\Twinmere";

// Runs SQL on a database file directly, as a person with the sqlite3 tool
// would; returns the rows, each row's columns joined by "|".
std::vector<std::string> Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  auto collect = [](void* out, int n, char** values, char**) {
    std::string row;
    for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
    static_cast<std::vector<std::string>*>(out)->push_back(row);
    return 0;
  };
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), collect, &rows, &error), SQLITE_OK)
      << (error ? error : "") << " in " << sql;
  sqlite3_free(error);
  sqlite3_close(db);
  return rows;
}

constexpr char kSchema[] =
    "CREATE TABLE keys(path TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE vals(path TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE, "
    "type INTEGER NOT NULL, data, PRIMARY KEY(path, name));"
    "PRAGMA user_version = 1;";

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest()
      : user_(tree_.Path("config/twinmere/registry.sqlite3")),
        machine_(tree_.Path("etc/twinmere/registry.sqlite3")) {}

  std::unique_ptr<Registry> Open() {
    RegistryContext context;
    context.getenv_fn = [](const char* name) -> const char* {
      return std::string(name) == "HOME" ? "/home/ada" : nullptr;
    };
    context.notice = [this](const std::string& line) { notices_.push_back(line); };
    return std::make_unique<Registry>(RegistryPaths{user_, machine_}, context);
  }

  // The error that `body` raises; fails the test when it raises nothing.
  template <typename Body>
  RegistryError Raised(Body body) {
    try {
      body();
    } catch (const RegistryError& error) {
      return error;
    }
    ADD_FAILURE() << "no RegistryError raised";
    return RegistryError(0, "", "", 0);
  }

  // Lets other users read the store under `top` (etc or config).
  void OpenToOthers(const std::string& top) {
    for (const std::string& folder : {std::string(), top, top + "/twinmere"}) {
      tree_.SetMode(folder, 0755);
    }
    tree_.SetMode(top + "/twinmere/registry.sqlite3", 0644);
  }

  testing::TempTree tree_;
  std::string user_;
  std::string machine_;
  std::vector<std::string> notices_;
};

TEST_F(RegistryTest, EveryKindIsStoredInTheDocumentedFormatAndReadBack) {
  auto registry = Open();
  registry->KeyValue(Hive::CurrentUser, kKey, "Viewer", "xdg-open");
  registry->KeyValue(Hive::CurrentUser, kKey, "Path", ExpandText{"$HOME/r"});
  registry->KeyValue(Hive::CurrentUser, kKey, "Blob", RegistryBytes{0, 255});
  registry->KeyValue(Hive::CurrentUser, kKey, "ReportLevel", int32_t{200});
  registry->KeyValue(Hive::CurrentUser, kKey, "Flag", true);
  registry->KeyValue(Hive::CurrentUser, kKey, "List", RegistryList{"a", "bc"});

  EXPECT_THAT(Sql(user_, "PRAGMA user_version"), ElementsAre("1"));
  EXPECT_THAT(Sql(user_, "SELECT path FROM keys ORDER BY path"),
              ElementsAre("SOFTWARE", "SOFTWARE\\Brevald", "SOFTWARE\\Brevald\\Twinmere"));
  EXPECT_THAT(Sql(user_, "SELECT name, type, typeof(data), hex(data) FROM vals ORDER BY name"),
              ElementsAre("Blob|3|blob|00FF", "Flag|4|integer|2D31" /* "-1" */,
                          "List|7|blob|610062630"
                          "0",
                          "Path|2|text|24484F4D452F72", "ReportLevel|4|integer|323030",
                          "Viewer|1|text|7864672D6F70656E"));

  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "Viewer"), RegistryValue("xdg-open"));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "Path"), RegistryValue("/home/ada/r"));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "Blob"),
            RegistryValue(RegistryBytes{0, 255}));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "ReportLevel"),
            RegistryValue(int32_t{200}));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "Flag"), RegistryValue(int32_t{-1}));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "List"),
            RegistryValue(RegistryList{"a", "bc"}));

  // Values edited by hand (their decoding is DecodeStoredValue's) read as the registry reads them.
  Sql(user_, std::string("INSERT INTO vals VALUES('") + kKey + "', 'Empty', 1, '');" +
                 "INSERT INTO vals VALUES('" + kKey + "', 'Null', 1, NULL);");
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "Empty"), RegistryValue(std::string()));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "Null").FailureCode(), kFailKeyValue);
}

TEST_F(RegistryTest, UnsupportedKindsAndRefusedNamesRaiseAndStoreNothing) {
  auto registry = Open();
  RegistryError error =
      Raised([&] { registry->KeyValue(Hive::CurrentUser, kKey, "X", RegistryFailure{1033}); });
  EXPECT_EQ(error.Number(), 0x8004040Cu);
  EXPECT_EQ(error.Description(), "Unsupported data type.");
  EXPECT_EQ(error.Source(), "Twinmere.Registry.KeyValue");
  EXPECT_FALSE(tree_.Exists("config/twinmere/registry.sqlite3"));

  registry->KeyValue(Hive::CurrentUser, kKey, "X", "kept");
  Raised([&] { registry->KeyValue(Hive::CurrentUser, kKey, "X", RegistryValue()); });
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "X"), RegistryValue("kept"));

  const struct {
    std::string key, name;
    int code;
  } cases[] = {
      {kKey, std::string(256, 'n'), kErrNameTooLong},
      {std::string(kKey) + "\\" + std::string(256, 'k'), "v", kErrNameTooLong},
      {kKey, std::string("a\0b", 3), kErrInvalidArgument},
  };
  for (const auto& c : cases) {
    error = Raised([&] { registry->KeyValue(Hive::CurrentUser, c.key, c.name, 1); });
    EXPECT_EQ(error.Number(), 0x80040406u);
    EXPECT_EQ(error.Description(), "Error " + std::to_string(c.code) + " writing registry.");
  }
  EXPECT_THAT(Sql(user_, "SELECT count(*) FROM vals"), ElementsAre("1"));
  EXPECT_THAT(Sql(user_, "SELECT count(*) FROM keys"), ElementsAre("3"));
}

TEST_F(RegistryTest, EnumKeysListsDirectSubkeysOnlyInTheirStoredCase) {
  auto registry = Open();
  registry->KeyValue(Hive::CurrentUser, "Software\\Alpha\\Deep\\Deeper", "v", 1);
  registry->KeyValue(Hive::CurrentUser, "Software\\beta", "v", 1);
  registry->KeyValue(Hive::CurrentUser, "Software\\Alpha", "v", 1);
  registry->KeyValue(Hive::CurrentUser, "SoftwareX\\Gamma", "v", 1);  // shares a prefix, no level

  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, "SOFTWARE"),
            RegistryValue(RegistryList{"Alpha", "beta"}));
  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, ""),
            RegistryValue(RegistryList{"Software", "SoftwareX"}));
  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, "Software\\Alpha\\Deep\\Deeper"),
            RegistryValue(RegistryList{}));
  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, "Software\\Missing").FailureCode(),
            kFailEnumKeys);
  EXPECT_EQ(registry->EnumValues(Hive::CurrentUser, "Software\\Missing").FailureCode(),
            kFailEnumValues);
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, "Software\\Missing", "v").FailureCode(),
            kFailKeyValue);
}

TEST_F(RegistryTest, KeysAndNamesDifferingOnlyInLetterCaseAreTheSame) {
  auto registry = Open();
  registry->KeyValue(Hive::CurrentUser, kKey, "ReportLevel", 1);
  registry->KeyValue(Hive::CurrentUser, "software\\BREVALD\\twinmere", "REPORTLEVEL", 2);
  registry->KeyValue(Hive::CurrentUser, "Software\\Brevald\\Twinmere\\Sub", "x", 3);

  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, "SOFTWARE\\brevald\\TWINMERE", "reportlevel"),
            RegistryValue(int32_t{2}));
  EXPECT_EQ(registry->EnumValues(Hive::CurrentUser, kKey),
            RegistryValue(RegistryList{"ReportLevel"}));  // the first letter case stays
  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, "software\\brevald"),
            RegistryValue(RegistryList{"Twinmere"}));
  EXPECT_THAT(Sql(user_, "SELECT path FROM keys"), SizeIs(4));
  EXPECT_THAT(Sql(user_, "SELECT DISTINCT path FROM vals ORDER BY path"),
              ElementsAre(kKey, std::string(kKey) + "\\Sub"));

  registry->DeleteValue(Hive::CurrentUser, "software\\brevald\\twinmere", "reportLEVEL");
  EXPECT_EQ(registry->EnumValues(Hive::CurrentUser, kKey), RegistryValue(RegistryList{}));
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndTakesTheValuesWithIt) {
  auto registry = Open();
  registry->KeyValue(Hive::CurrentUser, "A\\B", "v", 1);
  registry->KeyValue(Hive::CurrentUser, "A", "w", 2);

  RegistryError error = Raised([&] { registry->DeleteKey(Hive::CurrentUser, "a"); });
  EXPECT_EQ(error.Number(), 0x80040407u);
  EXPECT_EQ(error.Source(), "Twinmere.Registry.DeleteKey");
  EXPECT_EQ(error.Description(),
            "Error " + std::to_string(kErrNotEmpty) + " Deleting registry key.");
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, "A", "w"), RegistryValue(int32_t{2}));

  registry->DeleteKey(Hive::CurrentUser, "a\\b");
  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, "A"), RegistryValue(RegistryList{}));
  registry->DeleteKey(Hive::CurrentUser, "A");
  EXPECT_EQ(registry->EnumKeys(Hive::CurrentUser, ""), RegistryValue(RegistryList{}));
  EXPECT_THAT(Sql(user_, "SELECT count(*) FROM vals"), ElementsAre("0"));

  EXPECT_EQ(Raised([&] { registry->DeleteKey(Hive::CurrentUser, "A"); }).SystemCode(),
            kErrNotFound);
  error = Raised([&] { registry->DeleteValue(Hive::CurrentUser, "A", "none"); });
  EXPECT_EQ(error.Number(), 0x8004040Au);
  EXPECT_EQ(error.Source(), "Twinmere.Registry.DeleteValue");
  EXPECT_EQ(error.Description(),
            "Error " + std::to_string(kErrNotFound) + " Deleting registry value.");
}

TEST_F(RegistryTest, MissingStoresAndUnknownHivesReadAsMarkersAndRefuseWrites) {
  auto registry = Open();
  const Hive classes_root = static_cast<Hive>(0x80000000);
  EXPECT_TRUE(registry->KeyValue(Hive::CurrentUser, kKey, "v").IsFailure());
  for (const Hive hive : {Hive::CurrentUser, Hive::LocalMachine, classes_root}) {
    EXPECT_EQ(registry->EnumKeys(hive, "").FailureCode(), kFailEnumKeys);
  }
  EXPECT_EQ(registry->EnumValues(Hive::LocalMachine, "").FailureCode(), kFailEnumValues);
  EXPECT_EQ(registry->KeyValue(Hive::LocalMachine, kKey, "v").FailureCode(), kFailKeyValue);

  EXPECT_EQ(Raised([&] { registry->KeyValue(Hive::LocalMachine, kKey, "v", 1); }).Description(),
            "Error " + std::to_string(kErrAccessDenied) + " writing registry.");
  EXPECT_EQ(Raised([&] { registry->DeleteKey(Hive::LocalMachine, kKey); }).SystemCode(),
            kErrAccessDenied);
  EXPECT_EQ(Raised([&] { registry->DeleteValue(Hive::LocalMachine, kKey, "v"); }).SystemCode(),
            kErrAccessDenied);
  EXPECT_FALSE(tree_.Exists("etc"));
  EXPECT_FALSE(tree_.Exists("config")) << "reading never creates the store";
  EXPECT_EQ(registry->KeyValue(classes_root, kKey, "v").FailureCode(), kFailKeyValue);
  EXPECT_EQ(Raised([&] { registry->KeyValue(classes_root, kKey, "v", 1); }).SystemCode(),
            kErrNotOpen);
  EXPECT_EQ(Raised([&] { registry->DeleteValue(classes_root, kKey, "v"); }).SystemCode(),
            kErrNotOpen);

  // A user store that cannot be created raises the system's code.
  tree_.WriteFile("config", "a file where the folder should be");
  EXPECT_EQ(Raised([&] { registry->KeyValue(Hive::CurrentUser, kKey, "v", 1); }).Description(),
            "Error " + std::to_string(kErrPathNotFound) + " writing registry.");
}

TEST_F(RegistryTest, DamagedOrForeignFileIsMovedAsideAndAFreshStoreStartedAnEmptyOneIsTaken) {
  const struct {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"not a database",
       [&] { tree_.WriteFile("config/twinmere/registry.sqlite3", std::string(5000, 'J')); }},
      {"another program's database",
       [&] {
         tree_.MakeFolder("config/twinmere");
         Sql(user_, "CREATE TABLE settings(k, v); INSERT INTO settings VALUES(1, 2);");
       }},
      {"a damaged page",
       [&] {
         {
           auto registry = Open();
           for (int i = 0; i < 300; ++i) {
             registry->KeyValue(Hive::CurrentUser, kKey, "v" + std::to_string(i),
                                std::string(100, 'x'));
           }
         }
         std::string bytes = tree_.ReadFile("config/twinmere/registry.sqlite3");
         ASSERT_GT(bytes.size(), 5u * 4096);
         bytes.replace(2 * 4096, 2 * 4096, std::string(2 * 4096, 'X'));
         tree_.WriteFile("config/twinmere/registry.sqlite3", bytes);
       }},
      {"a later schema version",
       [&] {
         tree_.MakeFolder("config/twinmere");
         Sql(user_, std::string(kSchema) + "PRAGMA user_version = 2;");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::RemoveTree(tree_.Path("config"));
    notices_.clear();
    c.make();
    const std::string original = tree_.ReadFile("config/twinmere/registry.sqlite3");

    auto registry = Open();
    EXPECT_TRUE(registry->KeyValue(Hive::CurrentUser, kKey, "v").IsFailure());
    registry->KeyValue(Hive::CurrentUser, kKey, "v", 5);
    EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "v"), RegistryValue(int32_t{5}));

    ASSERT_THAT(notices_, SizeIs(1));
    EXPECT_THAT(notices_[0], HasSubstr("registry.sqlite3.corrupt-"));
    std::vector<std::string> aside;
    for (const std::string& name : tree_.List("config/twinmere")) {
      if (name.find(".corrupt-") != std::string::npos) aside.push_back(name);
    }
    ASSERT_THAT(aside, SizeIs(1));
    EXPECT_THAT(aside[0], StartsWith("registry.sqlite3.corrupt-20"));
    EXPECT_EQ(tree_.ReadFile("config/twinmere/" + aside[0]), original);  // nothing lost
  }
  // An empty file simply becomes a store.
  testing::RemoveTree(tree_.Path("config"));
  notices_.clear();
  tree_.WriteFile("config/twinmere/registry.sqlite3", "");
  Open()->KeyValue(Hive::CurrentUser, kKey, "v", 1);
  EXPECT_THAT(notices_, IsEmpty());
  EXPECT_THAT(tree_.List("config/twinmere"),
              ::testing::Not(::testing::Contains(HasSubstr("corrupt"))));
}

TEST_F(RegistryTest, StoreLinkedFromElsewhereIsWrittenThroughAndNeverReplaced) {
  if (!testing::LinksCanBeMade()) GTEST_SKIP() << "no symbolic links can be made here";
  tree_.MakeFolder("dotfiles");
  tree_.MakeLink("config/twinmere/registry.sqlite3", tree_.Path("dotfiles/registry.sqlite3"));
  Open()->KeyValue(Hive::CurrentUser, kKey, "v", 7);
  EXPECT_THAT(Sql(tree_.Path("dotfiles/registry.sqlite3"), "SELECT data FROM vals"),
              ElementsAre("7"));

  tree_.WriteFile("dotfiles/registry.sqlite3", std::string(5000, 'J'));
  auto registry = Open();
  registry->KeyValue(Hive::CurrentUser, kKey, "v", 8);
  EXPECT_EQ(tree_.ReadFile("dotfiles/registry.sqlite3"), std::string(5000, 'J'));
  EXPECT_THAT(notices_, SizeIs(1));
  EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey, "v"), RegistryValue(int32_t{8}));
}

TEST_F(RegistryTest, StoreRemovedWhileInUseIsNotWrittenIntoTheVoid) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows removes no file that is open";
#endif
  auto registry = Open();
  registry->KeyValue(Hive::CurrentUser, kKey, "old", 1);
  ASSERT_TRUE(testing::RemoveTree(tree_.Path("config")));  // the user resets the settings
  EXPECT_TRUE(registry->KeyValue(Hive::CurrentUser, kKey, "old").IsFailure());
  registry->KeyValue(Hive::CurrentUser, kKey, "new", 2);
  EXPECT_THAT(Sql(user_, "SELECT name FROM vals"), ElementsAre("new"));
}

// The machine store belongs to root and may have been left in WAL mode by
// whoever wrote it: it is read, never written, and is not the user's store.
// An ordinary user still reads it, and reads a store of their own that they
// may not write, where writes raise.
TEST_F(RegistryTest, MachineStoreAndStoresAUserCannotWriteAreReadAndWritesRaise) {
  tree_.MakeFolder("etc/twinmere");
  {
    Registry writer(RegistryPaths{machine_, ""});  // leaves the file in WAL mode
    writer.KeyValue(Hive::CurrentUser, kKey, "v", 42);
  }
  {
    auto registry = Open();
    EXPECT_EQ(registry->EnumKeys(Hive::LocalMachine, "software\\brevald"),
              RegistryValue(RegistryList{"Twinmere"}));
    EXPECT_EQ(registry->KeyValue(Hive::LocalMachine, "SOFTWARE\\brevald\\TWINMERE", "V"),
              RegistryValue(int32_t{42}));
    Raised([&] { registry->DeleteValue(Hive::LocalMachine, kKey, "v"); });
    EXPECT_TRUE(registry->KeyValue(Hive::CurrentUser, kKey, "v").IsFailure());
    registry->KeyValue(Hive::CurrentUser, kKey, "v", 42);
  }
  EXPECT_THAT(Sql(machine_, "SELECT count(*) FROM vals"), ElementsAre("1"));
  OpenToOthers("etc");
  OpenToOthers("config");
  const int status = testing::RunAsUnprivileged([&] {
    Registry registry(RegistryPaths{user_, machine_},
                      RegistryContext{nullptr, [](const std::string&) {}});
    for (const Hive hive : {Hive::LocalMachine, Hive::CurrentUser}) {
      const RegistryValue value = registry.KeyValue(hive, kKey, "v");
      if (value.Integer() == nullptr || *value.Integer() != 42) return 2;
    }
    try {
      registry.KeyValue(Hive::CurrentUser, kKey, "v", 1);
    } catch (const RegistryError& error) {
      return error.Number() == kErrWriting && error.SystemCode() == kErrAccessDenied ? 0 : 3;
    }
    return 4;
  });
  if (status < 0) GTEST_SKIP() << "cannot run as an unprivileged user here";
  EXPECT_EQ(status, 0);
  EXPECT_THAT(notices_, IsEmpty());
}

#ifndef _WIN32  // processes made by fork
TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kPerProcess = 1000;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        auto registry = Open();  // each process creates or opens the store itself
        for (int i = 0; i < kPerProcess; ++i) {
          registry->KeyValue(Hive::CurrentUser, kKey,
                             "p" + std::to_string(child) + "-" + std::to_string(i), i);
        }
      } catch (const RegistryError& error) {
        std::fprintf(stderr, "child %d: %s\n", child, error.what());
        status = 1;
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto registry = Open();
  const RegistryValue names = registry->EnumValues(Hive::CurrentUser, kKey);
  ASSERT_NE(names.List(), nullptr);
  EXPECT_THAT(*names.List(), SizeIs(2 * kPerProcess));
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kPerProcess; i += 97) {
      EXPECT_EQ(registry->KeyValue(Hive::CurrentUser, kKey,
                                   "p" + std::to_string(child) + "-" + std::to_string(i)),
                RegistryValue(int32_t{i}));
    }
  }
  EXPECT_THAT(notices_, IsEmpty());
}
#endif

}  // namespace
}  // namespace twinmere
