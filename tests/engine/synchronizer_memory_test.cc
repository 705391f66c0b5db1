// Scenario tests on the in-memory file system, for what no file system here
// shows: names that compare ignoring letter case, 8.3 aliases and their
// clashes, injected failures.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine_harness.h"
#include "engine/synchronizer.h"
#include "platform/path_syntax.h"
#include "support/memory_file_system.h"

namespace twinmere {
namespace {

// An error line as shown: the code, what was being done, the path (with
// "\" between names on Windows) and the system's text.
std::string ErrorLine(ErrorCode code, const std::string& doing, const std::string& path) {
  return "Error " + std::to_string(code) + " " + doing + " \"" + ShownSeparators(path) + "\". " +
         SystemErrorText(code);
}

using testing::EngineHarness;

constexpr FileTime kT0{1'700'000'000'000'000'000};

class SynchronizerMemoryTest : public ::testing::Test {
 protected:
  SynchronizerMemoryTest()
      : fs_(MemoryFileSystemOptions{.case_insensitive = true, .short_names = true}), run_(fs_) {
    fs_.AddFolder("/src", 0755, kT0);
    fs_.AddFolder("/dst", 0755, kT0);
    run_.options.Source = "/src/";
    run_.options.Target = "/dst/";
  }

  MemoryFileSystem fs_;
  EngineHarness run_;
};

// A run with nothing to do lists each folder of each tree once, whatever
// the direction and however the Target compares names: the phases that act
// go into the folders that exploring found equal without listing them again.
// A folder with a difference is listed again.
TEST_F(SynchronizerMemoryTest, ANoOpRunListsEachFolderOnceAndADifferingOneAgain) {
  const std::vector<std::string> folders = {"", "a/", "a/b/", "a/b/c/", "a/empty/", "d/"};
  for (const bool ignore_case : {false, true}) {
    for (const char* direction : {"-d", "-bi", "one way"}) {
      for (const bool differs : {false, true}) {
        SCOPED_TRACE(::testing::Message() << ignore_case << direction << differs);
        MemoryFileSystem fs(MemoryFileSystemOptions{.case_insensitive = ignore_case});
        for (const std::string root : {"/src/", "/dst/"}) {
          for (const std::string& folder : folders) fs.AddFolder(root + folder, 0755, kT0);
          fs.AddFile(root + "top", "t", kT0);
          const bool newer = differs && root == "/src/";
          fs.AddFile(root + "a/b/c/deep", newer ? "newer" : "x",
                     newer ? FileTime{kT0.ns + 1'000'000'000} : kT0);
          fs.AddFile(root + "d/one", "1", kT0);
        }
        EngineHarness run(fs);
        run.options.Source = "/src/";
        run.options.Target = "/dst/";
        run.options.Delete = direction == std::string("-d");
        run.options.Bidi = direction == std::string("-bi");
        EXPECT_EQ(run.Run(), 0) << run.AllLines();
        EXPECT_EQ(run.Counters().FilesReplacedInTarget, differs ? 1 : 0);
        const bool target_walked = direction != std::string("one way");
        for (const std::string& folder : folders) {
          const auto count = [&](const std::string& path) {
            return std::count(fs.Opened().begin(), fs.Opened().end(), path);
          };
          // Exploring Target for -d asks only whether each item is there.
          const bool again = differs && folder == "a/b/c/";
          EXPECT_EQ(count("/src/" + folder), again ? 2 : 1) << folder;
          EXPECT_EQ(count("/dst/" + folder), !target_walked              ? 0
                                             : again && run.options.Bidi ? 2
                                                                         : 1)
              << folder;
        }
      }
    }
  }
}

// The phase that acts takes the security of a folder in a folder found
// equal as exploring found it, where that was equal: it is not read again
// (a second read fails here). One found to differ is still copied.
TEST_F(SynchronizerMemoryTest, SubfolderSecurityFoundEqualIsNotReadAgainAndADifferenceIsCopied) {
  for (const std::string root : {"/src/", "/dst/"}) {
    for (const char* folder : {"a/b", "x/c"}) fs_.AddFolder(root + folder, 0755, kT0);
    fs_.AddFile(root + "a/f", "f", kT0);
  }
  Security owned;
  ASSERT_EQ(fs_.ReadSecurity("/dst/x/c", owned), 0);
  owned.uid = 7;
  ASSERT_EQ(fs_.WriteSecurity("/dst/x/c", owned), 0);
  for (const char* path : {"/src/a/b", "/dst/a/b"})
    fs_.FailNext(MemoryOp::ReadSecurity, EIO, path, 1, 1);
  run_.facts.IsAdmin = true;
  run_.options.Delete = true;
  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  Security copied;
  ASSERT_EQ(fs_.ReadSecurity("/dst/x/c", copied), 0);
  EXPECT_EQ(copied.uid, 0u);
}

// Only the Case option without New brings the Target name's letter case in
// line: by a rename when the file is the same, with the copy when it is not.
TEST_F(SynchronizerMemoryTest, LetterCaseOfTheTargetFollowsTheCaseOptionWithoutOnlyNewer) {
  const struct {
    bool case_option, newer_only;
    int64_t later_s;  // how much newer Source is
    const char* name;
  } cases[] = {{true, false, 0, "Readme.TXT"},
               {false, false, 0, "README.txt"},
               {true, true, 0, "README.txt"},
               {true, false, 100, "Readme.TXT"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.case_option << c.newer_only << c.later_s);
    MemoryFileSystem fs(MemoryFileSystemOptions{.case_insensitive = true});
    const std::string contents = c.later_s ? "new contents" : "same";
    fs.AddFile("/src/Readme.TXT", contents, FileTime{kT0.ns + c.later_s * 1'000'000'000});
    fs.AddFile("/dst/README.txt", "same", kT0);
    EngineHarness run(fs);
    run.options.Source = "/src/";
    run.options.Target = "/dst/";
    run.options.Case = c.case_option;
    run.options.New = c.newer_only;
    EXPECT_EQ(run.Run(), 0) << run.AllLines();
    EXPECT_EQ(fs.Names("/dst"), std::vector<std::string>{c.name});
    EXPECT_EQ(fs.ReadContents("/dst/Readme.TXT"), contents);
    if (c.later_s == 0) {
      const bool renamed = std::string(c.name) == "Readme.TXT";
      EXPECT_EQ(fs.BytesCopied(), 0u);
      EXPECT_EQ(run.HasAction(testing::kFileNameCase, "/dst/Readme.TXT"), renamed);
      EXPECT_EQ(run.Counters().FileCaseInTarget, renamed ? 1 : 0);
    }
  }
}

// A Target that ignores letter case may hold a Source item under another
// case: that item is its counterpart. It is neither deleted as an extra
// item nor copied back to Source as a new one beside it.
TEST_F(SynchronizerMemoryTest, AnItemOfTargetInAnotherCaseIsTheCounterpartNotAnExtraItem) {
  for (const bool both_ways : {false, true}) {
    SCOPED_TRACE(both_ways ? "both ways" : "delete");
    MemoryFileSystem fs;
    fs.SetVolume("/dst", MemoryFileSystemOptions{.case_insensitive = true});
    fs.AddFile("/src/foo", "source", kT0);
    fs.AddFile("/src/Dir/x.txt", "x", kT0);
    fs.AddFile("/dst/Foo", "target, newer", FileTime{kT0.ns + 100'000'000'000});
    fs.AddFile("/dst/DIR/x.txt", "x", kT0);
    fs.AddFile("/dst/DIR/gone.txt", "g", kT0);
    if (both_ways) {  // a file against a folder: one line, nothing put into it either way
      fs.AddFile("/src/Note", "a file", kT0);
      fs.AddFile("/dst/NOTE/inner/a.txt", "a", kT0);
    }
    EngineHarness run(fs);
    run.options.Source = "/src/";
    run.options.Target = "/dst/";
    run.options.Delete = !both_ways;
    run.options.Bidi = run.options.New = both_ways;
    EXPECT_EQ(run.Run(), both_ways ? 4 : 0) << run.AllLines();
    EXPECT_EQ(fs.Names("/src"), both_ways ? (std::vector<std::string>{"foo", "Dir", "Note"})
                                          : (std::vector<std::string>{"foo", "Dir"}));
    EXPECT_EQ(fs.Names("/dst")[0], "Foo");
    EXPECT_EQ(fs.Names("/dst")[1], "DIR");
    // Without -new the older Source file replaces it; both ways the newer one wins.
    EXPECT_EQ(fs.ReadContents("/dst/Foo"), both_ways ? "target, newer" : "source");
    if (both_ways) {
      EXPECT_EQ(fs.ReadContents("/src/foo"), "target, newer");
      EXPECT_EQ(fs.Names("/src/Dir"), (std::vector<std::string>{"x.txt", "gone.txt"}));
      EXPECT_EQ(run.Counters().FilesReplacedInSource, 1);
      EXPECT_EQ(run.Counters().ErrorCount, 1) << run.AllLines();
      EXPECT_TRUE(
          run.HasLine("Can't copy file because the folder with this name already exists: \"" +
                      ShownSeparators("/dst/Note") + "\"."));
    } else {
      EXPECT_EQ(fs.Names("/dst/DIR"), std::vector<std::string>{"x.txt"});
      EXPECT_EQ(run.Counters().FilesDeletedInTarget, 1);
    }
  }
}

// A Source file is named like the alias of another Target file: that file
// gets a new alias first (its line names it), then the Source file is copied.
TEST_F(SynchronizerMemoryTest, ShortNameClashIsReleasedBeforeTheCopy) {
  struct Case {
    std::string occupant;  // long name of the Target file whose alias is taken
    std::string alias;     // its alias, which the Source file is called
  };
  const Case cases[] = {
      {"LongFileName.txt", "LONGFI~1.TXT"},
      // The same length as the alias: told apart by the name, not by its length.
      {"abcd+efg.txt", "ABCD_E~1.TXT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.occupant);
    MemoryFileSystem fs(MemoryFileSystemOptions{.case_insensitive = true, .short_names = true});
    fs.AddFolder("/src", 0755, kT0);
    fs.AddFile("/dst/" + c.occupant, "occupant", kT0);
    fs.AddFile("/src/" + c.alias, "source file", kT0);
    ItemInfo before;
    ASSERT_EQ(fs.Lookup("/dst/" + c.occupant, before), 0);
    ASSERT_EQ(before.short_name, c.alias);
    EngineHarness run(fs);
    run.options.Source = "/src/";
    run.options.Target = "/dst/";

    EXPECT_EQ(run.Run(), 0) << run.AllLines();

    EXPECT_EQ(fs.ReadContents("/dst/" + c.occupant), "occupant");
    ItemInfo copied;
    ASSERT_EQ(fs.Lookup("/dst/" + c.alias, copied), 0);
    EXPECT_EQ(copied.name, c.alias);
    EXPECT_EQ(fs.ReadContents("/dst/" + c.alias), "source file");
    EXPECT_TRUE(run.HasAction(testing::kFileShortName, "/dst/" + c.occupant)) << run.AllLines();
    EXPECT_TRUE(run.HasAction(testing::kCopied, "/dst/" + c.alias));
    EXPECT_EQ(run.Counters().ShortFileNamesInTarget, 1);
  }
}

// The exploring phases meet the same faults as the phase that acts on the
// tree afterwards: each is one line and one error, from the acting phase. A
// failed action is one line too, and the run goes on past every fault.
TEST_F(SynchronizerMemoryTest, InaccessibleItemsAndFailedActionsAreReportedOnceAndLeftAlone) {
  fs_.AddFile("/src/a.txt", "a", kT0);
  fs_.AddFile("/src/b.txt", "b", kT0);
  fs_.AddFile("/src/c.txt", "c", kT0);
  fs_.FailNext(MemoryOp::CopyFile, kErrAccessDenied, "", 1);
  fs_.AddFile("/dst/a.txt", "different", kT0);
  fs_.AddFile("/src/sub/b.txt", "b", kT0);
  fs_.AddFile("/src/both/c.txt", "c", kT0);
  fs_.AddFile("/dst/both/c.txt", "c", kT0);
  fs_.FailNext(MemoryOp::Lookup, kErrIoFailed, "/dst/a.txt", 2);
  fs_.FailNext(MemoryOp::OpenFolder, kErrAccessDenied, "/src/sub/", 2);
  fs_.FailNext(MemoryOp::OpenFolder, kErrAccessDenied, "/dst/both/", 2);
  run_.options.Delete = true;

  EXPECT_EQ(run_.Run(), 4);
  EXPECT_EQ(run_.LinesStartingWith("Error").size(), 4u) << run_.AllLines();
  const std::string denied = "Error " + std::to_string(kErrAccessDenied);
  EXPECT_EQ(run_.LinesStartingWith(denied + " copying \"" + ShownSeparators("/dst/")).size(), 1u);
  EXPECT_EQ(run_.Counters().FilesCopiedToTarget, 1);
  EXPECT_TRUE(run_.HasLine(ErrorLine(kErrIoFailed, "accessing", "/dst/a.txt")));
  EXPECT_TRUE(run_.HasLine(ErrorLine(kErrAccessDenied, "accessing", "/src/sub/*")));
  EXPECT_TRUE(run_.HasLine(ErrorLine(kErrAccessDenied, "accessing", "/dst/both/*")));
  EXPECT_EQ(run_.Counters().ErrorCount, 4);
  EXPECT_EQ(fs_.ReadContents("/dst/a.txt"), "different");
}

// A completed run is on the disk before it says so: one sync of each file
// system it wrote to (one mounted inside Target too) and of the receiving
// folders' own, Source's too after a run both ways; a write-back error is
// an error of the run.
TEST_F(SynchronizerMemoryTest, RunEndsWithOneSyncOfEachFileSystemItWroteTo) {
  ASSERT_EQ(fs_.SetVolume("/src", {}), 0);
  ASSERT_EQ(fs_.SetVolume("/dst/mnt", {}), 0);
  fs_.AddFile("/src/a.txt", "a", kT0);
  fs_.AddFile("/src/mnt/b.txt", "b", kT0);
  fs_.AddFile("/src/mnt/c.txt", "c", kT0);
  EXPECT_EQ(run_.Run(), 0) << run_.AllLines();
  EXPECT_EQ(fs_.ReadContents("/dst/mnt/c.txt"), "c");
  EXPECT_EQ(fs_.Synced(), (std::vector<std::string>{"/dst/", "/dst/mnt"}));

  EngineHarness both(fs_);
  both.options = run_.options;
  both.options.Bidi = both.options.New = true;
  EXPECT_EQ(both.Run(), 0) << both.AllLines();
  EXPECT_EQ(fs_.Synced(), (std::vector<std::string>{"/dst/", "/dst/mnt", "/dst/", "/src/"}));

  EngineHarness failed(fs_);
  failed.options = run_.options;
  fs_.FailNext(MemoryOp::SyncFileSystem, kErrIoFailed);
  EXPECT_EQ(failed.Run(), 4);
  const auto& lines = failed.display.lines;
  const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line == ErrorLine(kErrIoFailed, "accessing", "/dst/");
  });
  ASSERT_NE(error, lines.end()) << failed.AllLines();
  EXPECT_LT(error, std::find(lines.begin(), lines.end(), "Synchronization completed."));
}

// A volume that keeps only the read-only attribute, as vfat and exfat do
// through the kernel: that is all that is given and compared there.
TEST_F(SynchronizerMemoryTest, OnAVolumeKeepingOnlyTheReadOnlyBitThatIsAllThatCounts) {
  MemoryFileSystem fs;
  fs.AddFile("/src/locked.txt", "l", kT0, 0444);
  fs.AddFile("/src/open.txt", "o", kT0, 0640);
  fs.AddFolder("/src/folder", 0700, kT0);
  fs.SetVolume("/dst", MemoryFileSystemOptions{.kept_mode_bits = 0200});
  const auto run = [&fs] {
    EngineHarness harness(fs);
    harness.options.Source = "/src/";
    harness.options.Target = "/dst/";
    EXPECT_EQ(harness.Run(), 0) << harness.AllLines();
    return harness.display.lines;
  };
  run();
  ItemInfo info;
  ASSERT_EQ(fs.Lookup("/dst/locked.txt", info), 0);
  EXPECT_EQ(info.mode, 0555u);  // all write bits gone together
  ASSERT_EQ(fs.Lookup("/dst/open.txt", info), 0);
  EXPECT_EQ(info.mode, 0777u);
  EXPECT_EQ(run(), std::vector<std::string>{"Synchronization completed."});
  ASSERT_EQ(fs.SetMode("/src/locked.txt", 0644), 0);
  EXPECT_EQ(run(), (std::vector<std::string>{
                       "File attributes:   \t\"" + ShownSeparators("/dst/locked.txt") + "\".",
                       "Synchronization completed."}));
  ASSERT_EQ(fs.Lookup("/dst/locked.txt", info), 0);
  EXPECT_EQ(info.mode, 0777u);
}

TEST_F(SynchronizerMemoryTest, StoppedCopyLeavesNoErrorLine) {
  fs_.AddFile("/src/big.bin", std::string(3 << 20, 'x'), kT0);
  run_.host.on_status = [&](std::string_view text) {
    if (text == "Copying to Target ...   ") run_.session.StopRequested = 1;
  };

  EXPECT_EQ(run_.Run(), 1) << run_.AllLines();
  EXPECT_EQ(run_.Counters().ErrorCount, 0);
  EXPECT_FALSE(fs_.Exists("/dst/big.bin"));
  EXPECT_TRUE(run_.HasLine("Synchronization stopped."));
}

// The progress the front ends show: an item counts as done once its copy is
// over, and the file being copied adds its share as its chunks arrive.
TEST_F(SynchronizerMemoryTest, ProgressRisesThroughEachCopyAndIsCompleteOnlyAtTheEnd) {
  constexpr int kFiles = 5;
  for (int i = 0; i < kFiles; ++i)
    fs_.AddFile("/src/big" + std::to_string(i) + ".bin", std::string(4 << 20, 'x'), kT0);

  ASSERT_EQ(run_.Run(), 0) << run_.AllLines();
  const auto& samples = run_.host.progress;
  ASSERT_FALSE(samples.empty());
  double before = 0;
  int copying = 0;
  for (const auto& sample : samples) {
    EXPECT_GE(sample.fraction, before);
    if (sample.copying) {
      ++copying;
      EXPECT_LT(sample.fraction, 1.0) << "the estimate would lie in the past";
    }
    before = sample.fraction;
  }
  EXPECT_EQ(copying, kFiles * 4);  // one sample for each 1 MiB chunk
  // Each whole copy is a fifth of the work; the first chunk shows a part of
  // the first fifth.
  const auto first_copy = std::find_if(samples.begin(), samples.end(),
                                       [](const auto& sample) { return sample.copying; });
  EXPECT_GT(first_copy->fraction, 0.0);
  EXPECT_LT(first_copy->fraction, 1.0 / kFiles);
  EXPECT_NEAR(first_copy[3].fraction, 1.0 / kFiles, 0.01);
  EXPECT_NEAR(samples.back().fraction, 1.0, 1e-9);
}

// Where the exploring phase found a folder's items equal, the next phase
// takes its files as found; the lines are those of a run that compares every
// item again (a quick start), also where exploring met errors the later
// phases do not meet (a listing that ended early, a lookup that failed),
// names differing in letter case, and two Source names for one Target item.
TEST(SynchronizerExploredTest, FoldersFoundEqualGiveTheLinesOfAFullComparison) {
  const auto build = [](MemoryFileSystem& fs, bool exploring_errors) {
    fs.AddFolder("/src", 0755, kT0);
    fs.SetVolume("/dst", MemoryFileSystemOptions{.case_insensitive = true});
    for (const std::string side : {"/src/", "/dst/"}) {
      for (const char* name : {"equal/one", "equal/two", "listing/a", "lookup/x", "lookup/y"})
        fs.AddFile(side + name, name, kT0);
      fs.AddFile(side + "clash/File", "f", kT0);
    }
    fs.AddFile("/src/clash/file", "f", kT0);
    fs.AddFile("/src/listing/b", "newer", FileTime{kT0.ns + 100'000'000'000});
    fs.AddFile("/dst/listing/b", "older", kT0);
    fs.AddFile("/src/case/Name", "n", kT0);
    fs.AddFile("/dst/case/NAME", "n", kT0);
    fs.AddFile("/src/new/file", "new", kT0);
    fs.AddFile("/dst/extra/file", "extra", kT0);
    if (exploring_errors) {
      // The listing of /src/listing/ ends after its first item, and one
      // lookup fails: both only while exploring (the first of their calls).
      fs.FailNext(MemoryOp::ReadFolder, EIO, "/src/listing/", 1, 1);
      fs.FailNext(MemoryOp::Lookup, EIO, "/dst/lookup/y");
    }
  };
  const struct {
    const char* what;
    void (*set)(SyncOptions&);
  } cases[] = {
      {"one way", [](SyncOptions&) {}},
      {"only newer", [](SyncOptions& o) { o.New = true; }},
      {"case", [](SyncOptions& o) { o.Case = true; }},
      {"both ways", [](SyncOptions& o) { o.Bidi = o.New = true; }},
      {"delete", [](SyncOptions& o) { o.Delete = true; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> lines[2];
    for (const bool quick : {true, false}) {
      MemoryFileSystem fs;
      build(fs, !quick);
      EngineHarness run(fs);
      run.options.Source = "/src/";
      run.options.Target = "/dst/";
      c.set(run.options);
      run.options.QuickStart = quick;
      lines[quick] = {"exit " + std::to_string(run.Run())};
      lines[quick].insert(lines[quick].end(), run.display.lines.begin(), run.display.lines.end());
    }
    EXPECT_EQ(lines[false], lines[true]);
    EXPECT_GT(lines[false].size(), 3u);
  }
}
}  // namespace
}  // namespace twinmere
