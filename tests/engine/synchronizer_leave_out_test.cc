// Runs that leave items out: on random trees and pattern sets, a run with
// patterns ends as a run without them on trees that never held the items
// left out, and leaves those items as they were; the files of patterns in
// Source's folders; letter case on a Target that ignores it.
//
// TWINMERE_LEAVE_OUT_SEED and TWINMERE_LEAVE_OUT_TREES pick other random
// cases; a failure names the seed of its tree.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "engine/compare.h"
#include "engine/engine_harness.h"
#include "engine/leave_out_filter.h"
#include "fs/leave_out_rules.h"
#include "platform/path_syntax.h"
#include "support/memory_file_system.h"
#include "support/mounts.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::EngineHarness;

constexpr FileTime kT0{1'700'000'000'000'000'000};

struct Entry {
  std::string rel;
  ItemKind kind = ItemKind::File;
  std::string data;
  int64_t seconds = 0;
};
using Tree = std::vector<Entry>;  // parents before what they hold

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  uint64_t Below(uint64_t n) { return engine_() % n; }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  std::mt19937_64 engine_;
};

constexpr const char* kNames[] = {"a.tmp", "keep.tmp", "b.txt", "cache", "build", "docs",
                                  "d.pdf", "x.log",    "sub",   "e\xff", "A.TMP", "Cache"};
constexpr const char* kPatterns[] = {"*.tmp",  "!keep.tmp", "cache/", "/build",     "docs/*.pdf",
                                     "sub/**", "x.log",     "[ab].*", "**/sub/d.*", "!/docs/d.pdf",
                                     "e*",     "sub/",      "*"};

Entry Make(Random& random, const std::string& rel, ItemKind kind) {
  Entry entry{rel, kind, "", static_cast<int64_t>(random.Below(50)) * 1000};
  if (kind == ItemKind::File) entry.data = std::string(1 + random.Below(9), 'a' + random.Below(3));
  if (kind == ItemKind::Link) entry.data = random.Chance(50) ? "b.txt" : "../x";
  return entry;
}

ItemKind RandomKind(Random& random, int depth) {
  const uint64_t r = random.Below(100);
  return r < 30 && depth < 3 ? ItemKind::Folder : r < 40 ? ItemKind::Link : ItemKind::File;
}

// `other_case`: Target's name of an item may differ from Source's in letter
// case (a Target that ignores it).
void Fill(Random& random, Tree& source, Tree& target, const std::string& folder,
          const std::string& target_folder, int depth, bool in_source, bool in_target,
          bool other_case) {
  std::set<std::string> used;
  for (size_t i = depth == 0 ? 3 + random.Below(5) : random.Below(4); i > 0; --i) {
    // Names equal but for letter case would be one on a Target that ignores it.
    const std::string name = random.Pick(kNames);
    if (!used.insert(NameIgnoringCase(name)).second) continue;
    const std::string rel = folder.empty() ? name : folder + "/" + name;
    std::string target_name = name;
    if (other_case && random.Chance(25)) {
      for (char& c : target_name)
        c = static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
    }
    const std::string target_rel =
        target_folder.empty() ? target_name : target_folder + "/" + target_name;
    bool s = in_source, t = in_target;
    if (s && t) {  // both 55 %, Source alone 25 %, Target alone 20 %
      const uint64_t r = random.Below(100);
      s = r < 80;
      t = r < 55 || r >= 80;
    }
    const ItemKind kind = RandomKind(random, depth);
    if (s && t && random.Chance(10)) {  // a folder against a file
      const ItemKind other = kind == ItemKind::Folder ? ItemKind::File : ItemKind::Folder;
      source.push_back(Make(random, rel, kind));
      target.push_back(Make(random, target_rel, other));
      Fill(random, source, target, rel, target_rel, depth + 1, kind == ItemKind::Folder,
           other == ItemKind::Folder, other_case);
      continue;
    }
    Entry item = Make(random, rel, kind);
    if (s) source.push_back(item);
    if (t) {
      item.rel = target_rel;
      if (kind != ItemKind::Folder && random.Chance(50)) {
        item.seconds += random.Chance(50) ? 100'000 : -100'000;
        item.data += "t";
      }
      target.push_back(item);
    }
    if (kind == ItemKind::Folder)
      Fill(random, source, target, rel, target_rel, depth + 1, s, t, other_case);
  }
}

void Build(MemoryFileSystem& fs, const std::string& top, const Tree& tree,
           const std::set<std::string>& left_out = {}) {
  fs.AddFolder(top, 0755, kT0);
  for (const Entry& e : tree) {
    if (left_out.contains(e.rel)) continue;
    const std::string path = top + "/" + e.rel;
    const FileTime time{kT0.ns + e.seconds * 1'000'000'000};
    if (e.kind == ItemKind::Folder) fs.AddFolder(path, 0755, time);
    if (e.kind == ItemKind::File) fs.AddFile(path, e.data, time);
    if (e.kind == ItemKind::Link) fs.AddLink(path, e.data, time);
  }
}

// The items of `tree` that `patterns` leave out, with all they hold, and the
// folders that hold one of them.
void LeftOut(const Tree& tree, const LeaveOutList& patterns, std::set<std::string>& out,
             std::set<std::string>& holding) {
  LeaveOutRules rules(patterns);
  for (const Entry& e : tree) {
    const size_t slash = e.rel.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : e.rel.substr(0, slash);
    if (out.contains(parent) || rules.LeavesOut(e.rel, e.kind)) out.insert(e.rel);
  }
  for (const std::string& rel : out) {
    for (size_t slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1))
      holding.insert(rel.substr(0, slash));
  }
}

// A path with each name as a Target that ignores letter case keys it.
std::string Folded(const std::string& rel) {
  std::string key;
  for (size_t at = 0; at <= rel.size();) {
    const size_t end = std::min(rel.find('/', at), rel.size());
    key += NameIgnoringCase(std::string_view(rel).substr(at, end - at));
    if (end < rel.size()) key += '/';
    at = end + 1;
  }
  return key;
}

std::set<std::string> Folded(const std::set<std::string>& rels) {
  std::set<std::string> keys;
  for (const std::string& rel : rels) keys.insert(Folded(rel));
  return keys;
}

// Every item below `folder` as the run left it, by its path below it (keyed
// ignoring letter case, its name as stored told).
void State(MemoryFileSystem& fs, const std::string& folder, const std::string& rel,
           std::map<std::string, std::string>& out) {
  std::unique_ptr<FolderReader> reader;
  if (fs.OpenFolder(folder, reader) != 0) return;
  for (ItemInfo item; reader->Next(item) == 0;) {
    const std::string path = rel.empty() ? item.name : rel + "/" + item.name;
    out[Folded(path)] = path + " " + std::to_string(static_cast<int>(item.kind)) + " " +
                        std::to_string(item.modify_time.ns) + " " +
                        fs.ReadContents(folder + item.name).value_or("");
    if (item.IsFolder()) State(fs, folder + item.name + "/", path, out);
  }
}

std::map<std::string, std::string> Without(std::map<std::string, std::string> state,
                                           const std::set<std::string>& a,
                                           const std::set<std::string>& b) {
  std::erase_if(state,
                [&](const auto& item) { return a.contains(item.first) || b.contains(item.first); });
  return state;
}
std::map<std::string, std::string> Only(std::map<std::string, std::string> state,
                                        const std::set<std::string>& kept) {
  std::erase_if(state, [&](const auto& item) { return !kept.contains(item.first); });
  return state;
}

int Count(int normal, const char* variable) {
  if (const char* text = std::getenv(variable)) return std::atoi(text);
  return normal;
}

TEST(LeaveOutRun, EndsAsIfTheLeftOutItemsWereNeverThereAndLeavesThemAsTheyWere) {
  const char* seed_text = std::getenv("TWINMERE_LEAVE_OUT_SEED");
  const uint64_t first = seed_text != nullptr ? std::strtoull(seed_text, nullptr, 10) : 20'250'301;
  const int trees = Count(480, "TWINMERE_LEAVE_OUT_TREES");
  for (int i = 0; i < trees; ++i) {
    const uint64_t seed = first + static_cast<uint64_t>(i);
    Random random(seed);
    // Every combination of -bi, -d or neither; -new; -xs; -qs in turn.
    const int combination = static_cast<int>(seed % 24);
    SyncOptions options;
    options.Bidi = combination % 3 == 1;
    options.Delete = combination % 3 == 2;
    options.New = options.Bidi || (combination / 3) % 2 != 0;
    options.ExcludeSubfolders = (combination / 6) % 2 != 0;
    options.QuickStart = (combination / 12) % 2 != 0;
    options.ForceDelete = options.Delete && random.Chance(50);
    // Every other tree: a Target whose names compare ignoring letter case,
    // where the patterns do too.
    const bool fold = (seed / 24) % 2 != 0;
    LeaveOutList patterns(fold ? NameIgnoringCase : nullptr);
    for (uint64_t n = 1 + random.Below(4); n > 0; --n) {
      options.LeaveOut.push_back(random.Pick(kPatterns));
      patterns.AddPattern(options.LeaveOut.back());
    }
    Tree source, target;
    Fill(random, source, target, "", "", 0, true, true, fold);
    std::set<std::string> out_source, out_target, holding_source, holding_target;
    LeftOut(source, patterns, out_source, holding_source);
    LeftOut(target, patterns, out_target, holding_target);
    const std::set<std::string> keys_out_source = Folded(out_source);
    const std::set<std::string> keys_out_target = Folded(out_target);
    const std::set<std::string> keys_holding_source = Folded(holding_source);
    const std::set<std::string> keys_holding_target = Folded(holding_target);
    std::string describe;
    for (const std::string& p : options.LeaveOut) describe += " -x '" + p + "'";
    SCOPED_TRACE(::testing::Message()
                 << "TWINMERE_LEAVE_OUT_SEED=" << seed << " TWINMERE_LEAVE_OUT_TREES=1:"
                 << (options.Bidi ? " -bi" : "") << (options.Delete ? " -d" : "")
                 << (options.ForceDelete ? " -fd" : "") << (options.New ? " -new" : "")
                 << (options.ExcludeSubfolders ? " -xs" : "") << (options.QuickStart ? " -qs" : "")
                 << describe << (fold ? " (Target ignores case)" : ""));

    MemoryFileSystem fs;
    if (fold) fs.SetVolume("/dst", MemoryFileSystemOptions{.case_insensitive = true});
    Build(fs, "/src", source);
    Build(fs, "/dst", target);
    options.Source = "/src/";
    options.Target = "/dst/";
    std::map<std::string, std::string> source_before, target_before;
    State(fs, "/src/", "", source_before);
    State(fs, "/dst/", "", target_before);

    // The preview shows the very run, and changes nothing.
    EngineHarness preview(fs);
    preview.options = options;
    preview.options.Preview = true;
    const int preview_code = preview.Run();
    std::map<std::string, std::string> source_seen, target_seen;
    State(fs, "/src/", "", source_seen);
    State(fs, "/dst/", "", target_seen);
    EXPECT_EQ(source_seen, source_before);
    EXPECT_EQ(target_seen, target_before);

    EngineHarness run(fs);
    run.options = options;
    const int code = run.Run();
    std::vector<std::string> shown = preview.display.lines;
    std::vector<std::string> done = run.display.lines;
    ASSERT_GE(shown.size(), 2u);
    shown.erase(shown.begin());
    shown.pop_back();
    done.pop_back();
    EXPECT_EQ(shown, done) << run.AllLines();
    EXPECT_EQ(preview_code, code);
    EXPECT_EQ(preview.Counters(), run.Counters());

    // The same run without patterns, on trees that never held those items.
    MemoryFileSystem bare_fs;
    if (fold) bare_fs.SetVolume("/dst", MemoryFileSystemOptions{.case_insensitive = true});
    Build(bare_fs, "/src", source, out_source);
    Build(bare_fs, "/dst", target, out_target);
    EngineHarness bare(bare_fs);
    bare.options = options;
    bare.options.LeaveOut.clear();
    bare.Run();

    std::map<std::string, std::string> source_after, target_after, bare_source, bare_target;
    State(fs, "/src/", "", source_after);
    State(fs, "/dst/", "", target_after);
    State(bare_fs, "/src/", "", bare_source);
    State(bare_fs, "/dst/", "", bare_target);
    // A folder that holds an item left out stays where the bare run may
    // remove it, or keep a file from its place: it is left aside.
    EXPECT_EQ(Without(source_after, keys_out_source, keys_holding_source),
              Without(bare_source, keys_out_source, keys_holding_source))
        << run.AllLines() << "---\n"
        << bare.AllLines();
    EXPECT_EQ(Without(target_after, keys_out_target, keys_holding_target),
              Without(bare_target, keys_out_target, keys_holding_target))
        << run.AllLines() << "---\n"
        << bare.AllLines();
    EXPECT_EQ(Only(source_after, keys_out_source), Only(source_before, keys_out_source));
    EXPECT_EQ(Only(target_after, keys_out_target), Only(target_before, keys_out_target));
    if (::testing::Test::HasFailure()) break;
  }
}

// Counts the reads of each file, to see each folder's patterns read once.
class CountingFileSystem final : public MemoryFileSystem {
 public:
  ErrorCode ReadFileText(const std::string& path, size_t limit, std::string& text) override {
    ++reads[path];
    return MemoryFileSystem::ReadFileText(path, limit, text);
  }
  std::map<std::string, int> reads;
};

// .twinmereignore files at several levels, with "!", on a real tree (where
// the walk's read-ahead reads them too) and in memory: only Source's count,
// a deeper file refines a shallower one, a folder left out hides what it
// holds, and a file that cannot be used leaves its folder out with one line.
TEST(LeaveOutRun, FilesOfPatternsInSourceFoldersApplyBelowThemInBothTrees) {
  const std::vector<std::pair<std::string, std::string>> source = {
      {".twinmereignore", "*.log\n/build/\n"},
      {"app.log", "new"},
      {"build/.twinmereignore", "!*.o\n"},
      {"build/out.o", "o"},
      {"a/.twinmereignore", "# notes are private\n!keep.log\n*.txt\n"},
      {"a/keep.log", "k"},
      {"a/drop.log", "new"},
      {"a/notes.txt", "n"},
      {"a/b/.twinmereignore", "!important.txt\n"},
      {"a/b/important.txt", "i"},
      {"a/b/other.txt", "o"},
      {"a/b/keep.log", "k"},
      {"c/x.log", "x"},
      {"c/y.dat", "y"},
      {"bad/.twinmereignore", "ok\n[[:nope:]]\n"},
      {"bad/z.dat", "z"},
  };
  const std::vector<std::pair<std::string, std::string>> target = {
      {".twinmereignore", "*\n"},  // an ordinary file here
      {"app.log", "old"},         {"build/stale.o", "s"}, {"a/drop.log", "old"},
      {"extra.dat", "e"},         {"bad/gone.dat", "g"},
  };
  const std::map<std::string, std::optional<std::string>> expected = {
      {".twinmereignore", "*.log\n/build/\n"},
      {"app.log", "old"},
      {"build/stale.o", "s"},
      {"build/out.o", std::nullopt},
      {"a/.twinmereignore", "# notes are private\n!keep.log\n*.txt\n"},
      {"a/keep.log", "k"},
      {"a/drop.log", "old"},
      {"a/notes.txt", std::nullopt},
      {"a/b/important.txt", "i"},
      {"a/b/other.txt", std::nullopt},
      {"a/b/keep.log", "k"},
      {"c/x.log", std::nullopt},
      {"c/y.dat", "y"},
      {"extra.dat", std::nullopt},
      {"bad/gone.dat", "g"},
      {"bad/z.dat", std::nullopt},
      {"bad/.twinmereignore", std::nullopt},
  };
  const auto check =
      [&](FileSystem& fs, const std::string& src, const std::string& dst,
          const std::function<std::optional<std::string>(const std::string&)>& read) {
        EngineHarness run(fs);
        run.options.Source = src;
        run.options.Target = dst;
        run.options.Delete = true;
        EXPECT_EQ(run.Run(), 4) << run.AllLines();
        for (const auto& [rel, contents] : expected) EXPECT_EQ(read(rel), contents) << rel;
        EXPECT_EQ(run.LinesStartingWith("Invalid pattern in line 2 of \"" +
                                        ShownSeparators(src + "bad/.twinmereignore") +
                                        "\": everything in its folder is left out."),
                  std::vector<std::string>(1, "Invalid pattern in line 2 of \"" +
                                                  ShownSeparators(src + "bad/.twinmereignore") +
                                                  "\": everything in its folder is "
                                                  "left out."));
        EXPECT_EQ(run.Counters().ErrorCount, 1);
        // app.log, build, a/drop.log, a/notes.txt, a/b/other.txt, c/x.log.
        EXPECT_EQ(run.Counters().ItemsLeftOut, 6);
      };
  {
    SCOPED_TRACE("in memory");
    CountingFileSystem fs;
    for (const auto& [rel, contents] : source) fs.AddFile("/src/" + rel, contents, kT0);
    for (const auto& [rel, contents] : target) fs.AddFile("/dst/" + rel, contents, kT0);
    check(fs, "/src/", "/dst/",
          [&](const std::string& rel) { return fs.ReadContents("/dst/" + rel); });
    for (const std::string folder : {"", "a/", "a/b/", "bad/", "c/"})
      EXPECT_EQ(fs.reads["/src/" + folder + ".twinmereignore"], 1) << folder;
    EXPECT_EQ(fs.reads.count("/src/build/.twinmereignore"), 0u);
  }
  {
    SCOPED_TRACE("real folders");
    testing::TempTree tree;
    for (const auto& [rel, contents] : source) tree.WriteFile("src/" + rel, contents);
    for (const auto& [rel, contents] : target) tree.WriteFile("dst/" + rel, contents);
    std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
    check(*fs, tree.Folder("src"), tree.Folder("dst"),
          [&](const std::string& rel) -> std::optional<std::string> {
            if (!tree.Exists("dst/" + rel)) return std::nullopt;
            return tree.ReadFile("dst/" + rel);
          });
  }
}

// The deletion guard weighs only what is not left out: a left-out folder of
// many items makes neither the share to delete smaller nor larger, and the
// question names the numbers without it.
TEST(LeaveOutRun, DeletionGuardCountsOnlyItemsNotLeftOut) {
  MemoryFileSystem fs;
  for (int i = 0; i < 10; ++i) {
    fs.AddFile("/src/keep" + std::to_string(i), "k", kT0);
    fs.AddFile("/dst/keep" + std::to_string(i), "k", kT0);
  }
  for (int i = 0; i < 25; ++i) fs.AddFile("/dst/extra" + std::to_string(i), "e", kT0);
  for (int i = 0; i < 100; ++i) fs.AddFile("/dst/cache/c" + std::to_string(i), "c", kT0);
  EngineHarness run(fs);
  run.options.Source = "/src/";
  run.options.Target = "/dst/";
  run.options.Delete = true;
  run.options.LeaveOut = {"cache/"};
  EXPECT_EQ(run.Run(), 4) << run.AllLines();
  ASSERT_EQ(run.host.questions.size(), 1u);
  EXPECT_EQ(run.host.questions[0].extra, 25);
  EXPECT_EQ(run.host.questions[0].items, 35);
  EXPECT_EQ(
      run.LinesStartingWith("Nothing deleted: 25 of 35 items in Target would be deleted").size(),
      1u)
      << run.AllLines();
  EXPECT_TRUE(fs.ReadContents("/dst/extra0").has_value());
}

// On a Target that ignores letter case the patterns do too, whatever -c
// says; on one that does not, they match exactly.
TEST(LeaveOutRun, PatternsIgnoreLetterCaseWhereTheTargetDoes) {
  testing::TempTree tree;
  testing::VfatMount vfat(tree, "vfat");
  if (!vfat.SkipReason().empty()) GTEST_SKIP() << vfat.SkipReason();
  tree.WriteFile("src/Cache/new.bin", "n");
  tree.WriteFile("src/A.TMP", "new");
  tree.WriteFile("src/Sub/Keep.TMP", "k");
  tree.WriteFile("src/b.txt", "b");
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  for (const bool ignoring : {true, false}) {
    SCOPED_TRACE(ignoring ? "vfat" : "case-sensitive");
    const std::string dst = ignoring ? "vfat" : "plain";
    tree.WriteFile(dst + "/cache/old.bin", "o");
    tree.WriteFile(dst + "/a.tmp", "old");
    EngineHarness run(*fs);
    run.options.Source = tree.Folder("src");
    run.options.Target = tree.Folder(dst);
    run.options.Delete = run.options.Case = true;
    run.options.LeaveOut = {"cache/", "*.tmp", "!keep.tmp"};
    EXPECT_EQ(run.Run(), 0) << run.AllLines();
    EXPECT_TRUE(tree.Exists(dst + "/Sub/Keep.TMP"));
    EXPECT_TRUE(tree.Exists(dst + "/b.txt"));
    EXPECT_EQ(tree.ReadFile(dst + "/cache/old.bin"), "o");
    if (ignoring) {
      EXPECT_EQ(tree.ReadFile(dst + "/a.tmp"), "old");
      EXPECT_FALSE(tree.Exists(dst + "/cache/new.bin"));
      EXPECT_EQ(run.Counters().ItemsLeftOut, 2);  // Cache and A.TMP, one with each counterpart
    } else {
      EXPECT_EQ(tree.ReadFile(dst + "/A.TMP"), "new");
      EXPECT_EQ(tree.ReadFile(dst + "/a.tmp"), "old");
      EXPECT_EQ(tree.ReadFile(dst + "/Cache/new.bin"), "n");
    }
  }
}

}  // namespace
}  // namespace twinmere
