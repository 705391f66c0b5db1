#include "app/desktop_entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_launcher.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::DesktopArgv;
using testing::TempTree;
using testing::ValidatorComplaints;

class DesktopEntryTest : public ::testing::Test {
 protected:
  ShortcutFields Fields(const std::string& arguments) {
    ShortcutFields fields;
    fields.target_path = "/opt/my apps/twinmere";
    fields.arguments = arguments;
    fields.description = "Synchronize \"/b\" with \"/a\"";
    fields.show_command = kShowShow;
    return fields;
  }

  TempTree tree_;
};

// Argument strings with every character that matters to a desktop, a shell or
// the format; each must come back as written and reach the program as the
// same argv.
TEST_F(DesktopEntryTest, HostileArgumentsComeBackAsWrittenAndAddNothing) {
  const std::string cases[] = {
      "",
      "-s -q -r \"/my docs/r $HOME `id` 100%.txt\" /a/ /b/",
      "-r /x;rm${IFS}-rf~ \"$(id) x\" /a\\b/ 'single' %f %% %%%",
      "\"/new\nline\tand tab/\" /cr\r/",
      "-q-s -r/tmp/x \"\" \"/é ü/\" /a\"b/ #not-a-comment",
      "/x\n[Desktop Entry]\nExec=/bin/sh -c id",
      "-d -r \"notes.txt \" \" src\" \"dst \"",  // blanks at the ends belong to the names
      "/a\\x41b/ /c\\xFF/",                      // text that looks like an escape of a byte is text
  };
  for (const std::string& arguments : cases) {
    SCOPED_TRACE(arguments);
    const std::string file = tree_.Path("entry.desktop");
    ShortcutFields fields = Fields(arguments);
    fields.description = "comment\nExec=/bin/sh -c id\n[Other]";
    fields.working_directory = "/work dir/$x";
    fields.icon_file = " icon \\ ";
    ASSERT_TRUE(CreateShortcut(file, fields).ok());
    ShortcutFields read;
    const ShortcutStatus status = ReadShortcut(file, read);
    ASSERT_TRUE(status.ok()) << status.text;
    EXPECT_EQ(read, fields);

    // The desktop starts the same argv that the program joins back.
    const std::string text = tree_.ReadFile("entry.desktop");
    const std::vector<std::string> argv = DesktopArgv(text);
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(argv[0], fields.target_path);
    std::vector<const char*> pointers;
    for (const std::string& a : argv) pointers.push_back(a.c_str());
    EXPECT_EQ(JoinArguments(static_cast<int>(pointers.size()), pointers.data()), arguments);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9) << text;  // no line added
    EXPECT_EQ(ValidatorComplaints(file), "");
  }
}

TEST_F(DesktopEntryTest, RefusesWhatAnEntryCannotCarryAndKeepsTheOldFile) {
  tree_.WriteFile("entry.desktop", "old");
  struct Case {
    ShortcutFields fields;
    ErrorCode number;
  };
  const auto with = [&](std::string ShortcutFields::*field, const char* value) {
    ShortcutFields fields = Fields("/a/");
    fields.*field = value;
    return fields;
  };
  const Case cases[] = {
      {Fields("/caf\xE9/"), EILSEQ},
      {with(&ShortcutFields::description, "caf\xE9"), EILSEQ},
      {with(&ShortcutFields::working_directory, "/x\x01y"), EINVAL},
      {with(&ShortcutFields::target_path, "/opt/a=b/twinmere"), EINVAL},
      {with(&ShortcutFields::target_path, ""), EINVAL},
      {Fields("-rr \"5\""), EINVAL},    // would reach the program as 5
      {Fields("\"/a b/\"/c"), EINVAL},  // a quote followed by text
      {Fields("\"/never closed"), EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields.arguments);
    const ShortcutStatus status = CreateShortcut(tree_.Path("entry.desktop"), c.fields);
    EXPECT_EQ(status.number, c.number) << status.text;
    EXPECT_FALSE(status.text.empty());
    EXPECT_EQ(tree_.ReadFile("entry.desktop"), "old");
  }
  EXPECT_EQ(tree_.List(), std::vector<std::string>{"entry.desktop"});  // no temporary file left
  EXPECT_EQ(CreateShortcut("", Fields("/a/")).number, EINVAL);
}

// The writing itself is the atomic file writer's (its tests); the modes are
// the launcher's choice.
TEST_F(DesktopEntryTest, NewEntriesGetMode0644AndExistingFilesKeepTheirMode) {
  const ShortcutFields fields = Fields("-s /a/ /b/");
  ASSERT_TRUE(CreateShortcut(tree_.Path("new.desktop"), fields).ok());
  struct stat st;
  ASSERT_EQ(stat(tree_.Path("new.desktop").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_NE(tree_.ReadFile("new.desktop").find("Name=new\n"), std::string::npos);

  tree_.WriteFile("private.DESKTOP", "old");
  tree_.SetMode("private.DESKTOP", 0600);
  ASSERT_TRUE(CreateShortcut(tree_.Path("private.DESKTOP"), fields).ok());
  ASSERT_EQ(stat(tree_.Path("private.DESKTOP").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_NE(tree_.ReadFile("private.DESKTOP").find("Name=private\n"), std::string::npos);
}

TEST_F(DesktopEntryTest, ReadsEntriesOfOtherToolsWithoutCuttingAnything) {
  const std::string long_folder = "/" + std::string(300, 'x') + "/";
  tree_.WriteFile("other.desktop",
                  "# written by hand\r\n"
                  "\r\n"
                  "[Desktop Entry]\r\n"
                  "Version=1.0\n"
                  "Type=Application\n"
                  "Name=Backup\n"
                  "Name[de]=Sicherung\n"
                  "Comment[de]=Ignoriert\n"
                  "Comment = Nightly \\s\n"
                  "  Exec = twinmere  -s \"/with space/\" " +
                      long_folder +
                      "\n"
                      "Terminal=false\n"
                      "Categories=Utility;\n"
                      "X-Twinmere-IconIndex=-3\n"
                      "[Desktop Action other]\n"
                      "Exec=/bin/sh -c \"$HOME\"\n");
  ShortcutFields read;
  const ShortcutStatus status = ReadShortcut(tree_.Path("other.desktop"), read);
  ASSERT_TRUE(status.ok()) << status.text;
  EXPECT_EQ(read.target_path, "twinmere");
  EXPECT_EQ(read.arguments, "-s \"/with space/\" " + long_folder);
  EXPECT_EQ(read.description, "Nightly  ");
  EXPECT_EQ(read.icon_index, -3);
  EXPECT_EQ(read.show_command, kShowNormal);
  EXPECT_TRUE(read.working_directory.empty());
}

TEST_F(DesktopEntryTest, NamesWithBlanksAtTheirEndsAreReadBackExactly) {
  tree_.WriteFile("other.desktop",
                  "[Desktop Entry]\nType=Application\nName=x\n"
                  "Exec=twinmere -d -r \"notes.txt \" \" src\" \"dst \"\nPath=\\s/work \n");
  ShortcutFields read;
  const ShortcutStatus status = ReadShortcut(tree_.Path("other.desktop"), read);
  ASSERT_TRUE(status.ok()) << status.text;
  EXPECT_EQ(read.arguments, "-d -r \"notes.txt \" \" src\" \"dst \"");
  EXPECT_EQ(read.working_directory, " /work ");
}

TEST_F(DesktopEntryTest, RefusesMalformedEntriesAndWhatIsNoFile) {
  const std::string head = "[Desktop Entry]\nType=Application\n";
  const std::string cases[] = {
      "",
      "Type=Application\n[Desktop Entry]\nExec=x\n",        // a key before any group
      "[Other]\n" + head + "Exec=x\n",                      // not the first group
      head + "Exec=x\n[Desktop Entry]\n",                   // a group twice
      head + "Exec=x\nExec=y\n",                            // a key twice
      head + "Exec=x\nno equal sign\n",                     //
      head + "Exec=x\nbad key=1\n",                         //
      "[Desktop Entry]\nType=Link\nExec=x\n",               // not a program
      head + "Name=x\n",                                    // no Exec
      head + "Exec=\n",                                     // no program in it
      head + "Exec=x \\q\n",                                // unknown escape
      head + "Exec=x $HOME\n",                              // reserved outside quotes
      head + "Exec=x 'a b'\n",                              //
      head + "Exec=x \"$HOME\"\n",                          // unescaped inside quotes
      head + "Exec=x \"a\\\\q\"\n",                         // unknown escape inside quotes
      head + "Exec=x \"open\n",                             //
      head + "Exec=x \"a\"b\n",                             //
      head + "Exec=x %f\n",                                 // a field code
      head + "Exec=/opt/a=b/twinmere\n",                    //
      head + "Exec=x\nX-Twinmere-ShowCommand=5x\n",         //
      head + "Exec=x\nX-Twinmere-IconIndex=99999999999\n",  //
      head + "Exec=x\nComment=\x01\n",                      // a control character
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    tree_.WriteFile("entry.desktop", text);
    ShortcutFields read;
    read.description = "unchanged";
    const ShortcutStatus status = ReadShortcut(tree_.Path("entry.desktop"), read);
    EXPECT_EQ(status.number, EINVAL) << status.text;
    EXPECT_EQ(read.description, "unchanged");
  }

  ShortcutFields read;
  tree_.WriteFile("latin1.desktop", head + "Exec=x\nComment=caf\xE9\n");
  EXPECT_EQ(ReadShortcut(tree_.Path("latin1.desktop"), read).number, EILSEQ);
  tree_.WriteFile("big.desktop", head + "Exec=x\n" + std::string(1 << 20, '#'));
  EXPECT_EQ(ReadShortcut(tree_.Path("big.desktop"), read).number, EFBIG);
  EXPECT_EQ(ReadShortcut(tree_.Path("missing.desktop"), read).number, ENOENT);
  tree_.MakeFolder("folder.desktop");
  EXPECT_EQ(ReadShortcut(tree_.Path("folder.desktop"), read).number, EISDIR);
  ASSERT_EQ(mkfifo(tree_.Path("fifo.desktop").c_str(), 0600), 0);
  EXPECT_EQ(ReadShortcut(tree_.Path("fifo.desktop"), read).number, EINVAL);  // does not hang
}

}  // namespace
}  // namespace twinmere
