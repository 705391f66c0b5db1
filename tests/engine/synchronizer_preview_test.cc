// A whole preview run shows exactly the lines of the run that follows it
// while it leaves both trees as they were, on many random trees and option
// sets (real folders on a tmpfs, and the in-memory file system with a Target
// that ignores letter case and keeps 8.3 aliases).
//
// The random cases come from one seed: TWINMERE_PREVIEW_SEED picks another,
// TWINMERE_PREVIEW_TREES their number. A failure names the seed of its tree.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "engine/engine_harness.h"
#include "engine/synchronizer.h"
#include "support/memory_file_system.h"
#include "support/mounts.h"
#include "support/temp_tree.h"

namespace twinmere {
namespace {

using testing::EngineHarness;

constexpr FileTime kT0{1'700'000'000'000'000'000};

// ---- random trees -------------------------------------------------------------

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  // 0 .. n - 1.
  uint64_t Below(uint64_t n) { return engine_() % n; }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  std::mt19937_64 engine_;
};

// One item of a tree as the test builds it.
struct Entry {
  std::string rel;  // below the tree's folder, no leading "/"
  ItemKind kind = ItemKind::File;
  std::string data;  // contents, or a link's text
  uint32_t mode = 0644;
  int64_t seconds = 0;  // modification time after kT0
  int64_t nanoseconds = 0;
  uint32_t uid = 0, gid = 0;
  bool acl = false;  // an access ACL entry for another user
};

struct TreeShape {
  std::vector<Entry> source, target;  // parents before their contents
  bool target_missing = false;
};

constexpr const char* kNames[] = {"a.txt",
                                  "b",
                                  "c.dat",
                                  "Doc.txt",
                                  "doc.TXT",
                                  "sub",
                                  "Sub",
                                  "x y",
                                  "LongFileName.txt",
                                  "LONGFI~1.TXT",
                                  "\xc3\xbc.txt",
                                  "\xc3\x9c.TXT",
                                  "e\xff.bin",
                                  "-dash",
                                  "deep"};
constexpr uint32_t kFileModes[] = {0644, 0600, 0755, 0444, 0640};
constexpr uint32_t kFolderModes[] = {0755, 0700, 0555, 0750};
constexpr uint32_t kOwners[] = {0, 1000, 1001};

class TreeMaker {
 public:
  TreeMaker(Random& random, bool owners) : random_(random), owners_(owners) {}

  TreeShape Make() {
    TreeShape shape;
    Fill(shape, "", 0, true, true);
    if (random_.Chance(10)) {  // many extra items: the deletion guard's case
      const int count = 18 + static_cast<int>(random_.Below(20));
      for (int i = 0; i < count; ++i) shape.target.push_back(File("extra-" + std::to_string(i)));
    }
    if (random_.Chance(5)) shape.source.clear();  // an empty mount point
    shape.target_missing = random_.Chance(5);
    return shape;
  }

 private:
  Entry File(const std::string& rel) {
    Entry entry;
    entry.rel = rel;
    entry.data = std::string(random_.Below(40), static_cast<char>('a' + random_.Below(26)));
    entry.mode = random_.Pick(kFileModes);
    entry.seconds = static_cast<int64_t>(random_.Below(1000)) * 86400;
    if (owners_ && random_.Chance(15)) {
      entry.uid = random_.Pick(kOwners);
      entry.gid = random_.Pick(kOwners);
    }
    entry.acl = owners_ && random_.Chance(10);
    return entry;
  }

  Entry Item(const std::string& rel, ItemKind kind) {
    Entry entry = File(rel);
    entry.kind = kind;
    if (kind == ItemKind::Folder) {
      entry.data.clear();
      entry.mode = random_.Pick(kFolderModes);
    } else if (kind == ItemKind::Link) {
      entry.data = random_.Chance(50) ? "target-" + entry.data : "../a.txt";
      entry.mode = 0777;
      entry.acl = false;
    }
    return entry;
  }

  ItemKind RandomKind(int depth) {
    const uint64_t r = random_.Below(100);
    if (r < 25 && depth < 3) return ItemKind::Folder;
    if (r < 35) return ItemKind::Link;
    return ItemKind::File;
  }

  // The Target side of an item both sides hold, in one of the ways two
  // items can differ (or not).
  Entry Counterpart(const Entry& source) {
    Entry target = source;
    if (source.kind == ItemKind::Folder) {
      if (random_.Chance(15)) target.mode = random_.Pick(kFolderModes);
      if (random_.Chance(30)) target.seconds += 5000;
      return target;
    }
    switch (random_.Below(10)) {
      case 0:  // Source newer
        target.seconds -= 1 + static_cast<int64_t>(random_.Below(100000));
        target.data += "old";
        break;
      case 1:  // Target newer
        target.seconds += 1 + static_cast<int64_t>(random_.Below(100000));
        target.data += "newer";
        break;
      case 2:  // same time, other size
        target.data += "xy";
        break;
      case 3:  // within the tolerance, or at its edge
        target.seconds += random_.Chance(50) ? 4 : 3;
        target.nanoseconds = random_.Chance(50) ? 1 : 0;
        break;
      case 4:  // a daylight-saving hour apart
        target.seconds += random_.Chance(50) ? 3600 : -3600;
        break;
      case 5:
        if (source.kind != ItemKind::Link) target.mode = random_.Pick(kFileModes);
        break;
      case 6:  // other owners, or another ACL
        if (owners_ && random_.Chance(50)) {
          target.uid = random_.Pick(kOwners);
          target.gid = random_.Pick(kOwners);
        } else if (owners_) {
          target.acl = !source.acl && source.kind != ItemKind::Link;
        }
        break;
      default:  // the same
        break;
    }
    return target;
  }

  void Fill(TreeShape& shape, const std::string& folder, int depth, bool in_source,
            bool in_target) {
    const size_t count = depth == 0 ? 3 + random_.Below(6) : random_.Below(5);
    std::set<std::string> used;
    for (size_t i = 0; i < count; ++i) {
      const std::string name = random_.Pick(kNames);
      if (!used.insert(name).second) continue;
      const std::string rel = folder.empty() ? name : folder + "/" + name;
      bool source = in_source, target = in_target;
      if (in_source && in_target) {  // both 55 %, Source alone 25 %, Target alone 20 %
        const uint64_t r = random_.Below(100);
        source = r < 80;
        target = r < 55 || r >= 80;
      }
      const ItemKind kind = RandomKind(depth);
      if (source && target) {
        const Entry item = Item(rel, kind);
        if (random_.Chance(8)) {  // a folder against a file, a link against a file ...
          ItemKind other = RandomKind(depth);
          if (other == kind) other = kind == ItemKind::File ? ItemKind::Folder : ItemKind::File;
          if (other == ItemKind::Folder && depth >= 3) other = ItemKind::Link;
          shape.source.push_back(item);
          shape.target.push_back(Item(rel, other));
          if (kind == ItemKind::Folder) Fill(shape, rel, depth + 1, true, false);
          if (other == ItemKind::Folder) Fill(shape, rel, depth + 1, false, true);
          continue;
        }
        shape.source.push_back(item);
        shape.target.push_back(Counterpart(item));
        if (kind == ItemKind::Folder) Fill(shape, rel, depth + 1, true, true);
      } else {
        (source ? shape.source : shape.target).push_back(Item(rel, kind));
        if (kind == ItemKind::Folder) Fill(shape, rel, depth + 1, source, target);
      }
    }
  }

  Random& random_;
  bool owners_;
};

// The trees go through every combination of these in turn: -bi, -d or
// neither; -new; -xs; -c; security compared or not (-ns). The other options
// are drawn at random. A tree's seed picks its combination, so that the
// seed alone repeats a case.
constexpr int kCombinations = 3 * 2 * 2 * 2 * 2;

SyncOptions RandomOptions(Random& random, int combination) {
  SyncOptions o;
  const int mode = combination % 3;
  o.Bidi = mode == 1;
  o.Delete = mode == 2;
  o.New = o.Bidi || (combination / 3) % 2 != 0;
  o.ExcludeSubfolders = (combination / 6) % 2 != 0;
  o.Case = (combination / 12) % 2 != 0;
  o.NoSecurity = (combination / 24) % 2 != 0;
  o.ForceDelete = o.Delete && random.Chance(35);
  o.NoDaylight = random.Chance(20);
  o.QuickStart = random.Chance(30);
  o.ReportLevel = random.Chance(30) ? 255 : kDefaultReportLevel;
  return o;
}

std::string Describe(const SyncOptions& o) {
  std::string text;
  const std::pair<bool, const char*> flags[] = {
      {o.Bidi, " -bi"},          {o.Delete, " -d"},      {o.ForceDelete, " -fd"},
      {o.New, " -new"},          {o.Case, " -c"},        {o.ExcludeSubfolders, " -xs"},
      {o.NoDaylight, " -ndl"},   {o.NoSecurity, " -ns"}, {o.QuickStart, " -qs"},
      {!o.Report.empty(), " -r"}};
  for (const auto& [set, name] : flags)
    if (set) text += name;
  return text;
}

// How many trees, and from which seed.
int TreeCount(int normal) {
  if (const char* text = std::getenv("TWINMERE_PREVIEW_TREES")) return std::atoi(text);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return normal / 3;  // the sanitizers make each run many times slower
#else
  return normal;
#endif
}

uint64_t FirstSeed() {
  if (const char* text = std::getenv("TWINMERE_PREVIEW_SEED")) return std::strtoull(text, 0, 10);
  return 20'240'521;
}

// A preview and the run after it, on `fs`: the preview's lines between its
// first and last line are the run's lines before its last, with the same
// counters and exit code, and `snapshot` of both trees is the same before
// and after the preview. False on the first difference.
bool PreviewIsTheRun(FileSystem& fs, const SyncOptions& options, const PlatformFacts& facts,
                     const std::function<std::string()>& snapshot) {
  const std::string before = snapshot();
  EngineHarness preview(fs);
  preview.options = options;
  preview.options.Preview = true;
  preview.facts = facts;
  const int preview_code = preview.Run();
  const std::string after = snapshot();
  EXPECT_EQ(after, before) << "the preview changed the trees";
  if (!options.Report.empty()) {  // a report outside both folders
    std::ifstream in(options.Report);
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find(" preview started, nothing will be changed."), std::string::npos) << line;
  }

  EngineHarness run(fs);
  run.options = options;
  run.facts = facts;
  const int run_code = run.Run();

  std::vector<std::string> shown = preview.display.lines;
  std::vector<std::string> done = run.display.lines;
  EXPECT_EQ(shown.front(), "Preview: nothing in Source or Target will be changed.");
  EXPECT_EQ(shown.back(), "Preview completed. Nothing was changed.");
  EXPECT_EQ(done.back(), "Synchronization completed.");
  shown.erase(shown.begin());
  shown.pop_back();
  done.pop_back();
  EXPECT_EQ(shown, done);
  EXPECT_EQ(preview_code, run_code);
  EXPECT_EQ(preview.Counters(), run.Counters());
  return after == before && shown == done && preview_code == run_code &&
         preview.Counters() == run.Counters();
}

std::string Hex(std::string_view bytes) {
  std::string out;
  char buffer[4];
  for (const unsigned char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02x", c);
    out += buffer;
  }
  return out;
}

// ---- real trees -----------------------------------------------------------------
// (Modes, owners, ACLs, extended attributes and links, made with the POSIX
// calls: Linux only.)
#ifndef _WIN32

// Everything a preview must not change: names, kinds, contents, link texts,
// modes, owners, modification and change times (the change time moves with
// any change of the item, its attributes and ACLs included) and every
// extended attribute. Access times are left out: reading a folder may move them.
void Snapshot(const std::string& path, const std::string& shown, std::ostringstream& out) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    out << shown << " missing\n";
    return;
  }
  out << shown << ' ' << std::oct << st.st_mode << std::dec << ' ' << st.st_uid << ':' << st.st_gid
      << ' ' << st.st_size << " m" << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec << " c"
      << st.st_ctim.tv_sec << '.' << st.st_ctim.tv_nsec;
  if (S_ISLNK(st.st_mode)) {
    char text[4096];
    const ssize_t n = readlink(path.c_str(), text, sizeof text);
    out << " -> " << Hex(std::string_view(text, n > 0 ? n : 0));
  } else if (S_ISREG(st.st_mode)) {
    std::ifstream in(path, std::ios::binary);
    out << " = " << Hex(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  char names[4096];
  const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
  std::vector<std::string> attributes;
  for (ssize_t i = 0; i < length; i += static_cast<ssize_t>(std::strlen(names + i)) + 1)
    attributes.emplace_back(names + i);
  std::sort(attributes.begin(), attributes.end());
  for (const std::string& name : attributes) {
    char value[4096];
    const ssize_t n = lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
    out << ' ' << name << '=' << Hex(std::string_view(value, n > 0 ? n : 0));
  }
  out << '\n';
  if (!S_ISDIR(st.st_mode)) return;
  std::vector<std::string> entries;
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") entries.push_back(name);
    }
    closedir(dir);
  }
  std::sort(entries.begin(), entries.end());
  for (const std::string& name : entries) Snapshot(path + "/" + name, shown + "/" + name, out);
}

void GiveAcl(const std::string& path) {
  acl_t acl = acl_from_text("u::rwx,u:1234:r-x,g::r-x,m::r-x,o::r--");
  if (acl != nullptr) {
    acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl);
    acl_free(acl);
  }
}

void Build(testing::TempTree& tree, const std::string& top, const std::vector<Entry>& entries) {
  tree.MakeFolder(top);
  for (const Entry& entry : entries) {
    const std::string rel = top + "/" + entry.rel;
    switch (entry.kind) {
      case ItemKind::Folder:
        tree.MakeFolder(rel);
        break;
      case ItemKind::Link:
        tree.MakeLink(rel, entry.data);
        break;
      case ItemKind::File:
        tree.WriteFile(rel, entry.data);
        setxattr(tree.Path(rel).c_str(), "trusted.twinmere-test", entry.data.data(),
                 entry.data.size(), 0);
        break;
    }
  }
  // Deepest first: filling a folder changes its time, and a folder whose
  // mode forbids writing is filled already.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const std::string path = tree.Path(top + "/" + it->rel);
    if (it->kind != ItemKind::Link) {
      // Refused without root, where the tree keeps the test's own owner.
      (void)!lchown(path.c_str(), it->uid, it->gid);
      if (it->acl) GiveAcl(path);  // its mask then follows the mode
      chmod(path.c_str(), it->mode);
    }
    const timespec times[2] = {{kT0.ns / 1'000'000'000 + it->seconds, it->nanoseconds},
                               {kT0.ns / 1'000'000'000 + it->seconds, it->nanoseconds}};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  tree.SetTime(top, kT0.ns / 1'000'000'000);
}

TEST(PreviewRun, ShowsExactlyTheLinesOfTheRunAndChangesNothingOnRandomRealTrees) {
  testing::TempTree tree;
  // A tmpfs keeps modes, owners, ACLs and trusted.* attributes and writes
  // nothing to a disk; without root the test's own folder serves.
  testing::TmpfsMount tmpfs(tree, "fs", "64m");
  const std::string base = tmpfs.SkipReason().empty() ? "fs/" : "";
  if (!tmpfs.SkipReason().empty()) tree.MakeFolder("trees");
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  const bool root = testing::IsRoot();
  const uint64_t first = FirstSeed();
  const int trees = TreeCount(300);
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < trees; ++i) {
    const uint64_t seed = first + static_cast<uint64_t>(i);
    Random random(seed);
    SyncOptions options = RandomOptions(random, static_cast<int>(seed % kCombinations));
    const TreeShape shape = TreeMaker(random, root).Make();
    const std::string top = base + "t" + std::to_string(i);
    Build(tree, top + "/src", shape.source);
    if (!shape.target_missing) Build(tree, top + "/dst", shape.target);
    options.Source = tree.Folder(top + "/src");
    options.Target = tree.Folder(top + "/dst");
    if (random.Chance(30)) options.Report = tree.Path(top + "-report.txt");
    PlatformFacts facts;
    facts.IsAdmin = root;
    SCOPED_TRACE(::testing::Message()
                 << "seed " << seed << " (TWINMERE_PREVIEW_SEED=" << seed
                 << " TWINMERE_PREVIEW_TREES=1), options" << Describe(options));
    const auto snapshot = [&] {
      std::ostringstream out;
      Snapshot(tree.Path(top + "/src"), "src", out);
      Snapshot(tree.Path(top + "/dst"), "dst", out);
      return out.str();
    };
    if (!PreviewIsTheRun(*fs, options, facts, snapshot)) break;
    testing::RemoveTree(tree.Path(top));
    if (!options.Report.empty()) unlink(options.Report.c_str());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d trees from seed %llu in %.1f s\n", trees, static_cast<unsigned long long>(first),
              seconds);
}

// What only the real items tell (a FIFO that no listing shows, how a FUSE
// folder compares names) the preview asks of them, so that it meets what
// the run meets: a folder that holds a FIFO stays; a FIFO where a folder of
// a path should be is no folder; names that differ only in case are two
// items on a FUSE Target that keeps them apart (sshfs, empty), one on a
// FUSE Target that does not (vfat).
TEST(PreviewRun, ShowsTheLinesOfTheRunWhereOnlyTheRealItemsTell) {
  testing::TempTree tree;
  std::unique_ptr<FileSystem> fs = CreatePlatformFileSystem();
  const auto fifo = [&](const std::string& rel) {
    tree.MakeFolder(rel.substr(0, rel.rfind('/')));
    EXPECT_EQ(mkfifo(tree.Path(rel).c_str(), 0600), 0) << rel;
  };
  const auto same_as_run = [&](const std::string& src, const std::string& dst, bool bidi,
                               bool remove) {
    SyncOptions options;
    options.Source = tree.Folder(src);
    options.Target = tree.Folder(dst);
    options.Bidi = options.New = bidi;
    options.Delete = remove;
    const auto snapshot = [&] {
      std::ostringstream out;
      Snapshot(tree.Path(src), "src", out);
      Snapshot(tree.Path(dst), "dst", out);
      return out.str();
    };
    PreviewIsTheRun(*fs, options, PlatformFacts{}, snapshot);
  };
  {
    SCOPED_TRACE("a FIFO in a folder that -d removes");
    tree.WriteFile("a/src/k", "k");
    tree.WriteFile("a/dst/gone/f", "f");
    fifo("a/dst/gone/p");
    same_as_run("a/src", "a/dst", false, true);
  }
  {
    SCOPED_TRACE("a FIFO where -bi fills a folder");
    fifo("b/src/x");
    tree.WriteFile("b/dst/x/y", "y");
    same_as_run("b/src", "b/dst", true, false);
  }
  {
    SCOPED_TRACE("a FIFO where a copy fills a folder");
    tree.WriteFile("c/src/x/y", "y");
    fifo("c/dst/x");
    same_as_run("c/src", "c/dst", false, false);
  }
  const auto names_in_case = [&](const std::string& src) {
    tree.WriteFile(src + "/Name.txt", "one");
    tree.WriteFile(src + "/name.txt", "two");
    tree.WriteFile(src + "/Sub/x", "x");
  };
  testing::SshfsMount sshfs(tree, "remote", "sshfs");
  if (sshfs.SkipReason().empty()) {
    SCOPED_TRACE("names in case onto sshfs");
    names_in_case("d/src");
    tree.MakeLink("d/src/link", "Name.txt");
    same_as_run("d/src", "sshfs", true, false);
  }
  testing::VfatMount vfat(tree, "vfat");
  if (vfat.SkipReason().empty()) {
    SCOPED_TRACE("names in case onto vfat");
    names_in_case("e/src");
    tree.WriteFile("vfat/Old.txt", "old");
    same_as_run("e/src", "vfat", false, false);
  }
}

#endif  // _WIN32

// ---- trees in memory -------------------------------------------------------------

#ifdef _WIN32
// The tags of ACL entries as libacl numbers them; the in-memory file system
// keeps entries as given.
enum : uint32_t {
  ACL_USER_OBJ = 0x01,
  ACL_USER = 0x02,
  ACL_GROUP_OBJ = 0x04,
  ACL_MASK = 0x10,
  ACL_OTHER = 0x20
};
#endif

void Build(MemoryFileSystem& fs, const std::string& top, const std::vector<Entry>& entries,
           bool security) {
  fs.AddFolder(top, 0755, kT0);
  for (const Entry& entry : entries) {
    const std::string path = top + "/" + entry.rel;
    const FileTime time{kT0.ns + entry.seconds * 1'000'000'000 + entry.nanoseconds};
    switch (entry.kind) {
      case ItemKind::Folder:
        fs.AddFolder(path, entry.mode, time);
        break;
      case ItemKind::Link:
        fs.AddLink(path, entry.data, time);
        break;
      case ItemKind::File:
        fs.AddFile(path, entry.data, time, entry.mode);
        break;
    }
    if (security && (entry.uid != 0 || entry.acl)) {
      Security given;
      given.uid = entry.uid;
      given.gid = entry.gid;
      if (entry.acl) {
        given.has_access_acl = true;
        given.access_acl = {{ACL_USER_OBJ, 0, 7},
                            {ACL_USER, 1234, 5},
                            {ACL_GROUP_OBJ, 0, 5},
                            {ACL_MASK, 0, 5},
                            {ACL_OTHER, 0, 4}};
      }
      fs.WriteSecurity(path, given);
    }
  }
}

// Items that a run makes get no 8.3 aliases in a preview (Linux keeps none;
// the in-memory Target makes them as Windows would). So that no name of
// Source meets the alias of a file copied before it, a Source folder keeps
// the alias-shaped name without the long name it stands for. Names that meet
// aliases Target had before the run stay.
void KeepAliasesToTheTarget(TreeShape& shape) {
  std::set<std::string> folders;
  for (const Entry& entry : shape.source) {
    const size_t slash = entry.rel.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : entry.rel.substr(0, slash + 1);
    if (entry.rel.substr(folder.size()) == "LONGFI~1.TXT") folders.insert(folder);
  }
  std::erase_if(shape.source, [&](const Entry& entry) {
    for (const std::string& folder : folders) {
      const std::string dropped = folder + "LongFileName.txt";
      if (entry.rel == dropped || entry.rel.starts_with(dropped + "/")) return true;
    }
    return false;
  });
}

// Every item of the in-memory tree with all that it shows.
void Dump(MemoryFileSystem& fs, const std::string& folder, std::ostringstream& out) {
  std::unique_ptr<FolderReader> reader;
  if (fs.OpenFolder(folder, reader) != 0) {
    out << folder << " missing\n";
    return;
  }
  for (ItemInfo item; reader->Next(item) == 0;) {
    const std::string path = folder + item.name;
    Security security;
    fs.ReadSecurity(path, security);
    out << path << " (" << item.short_name << ") " << static_cast<int>(item.kind) << ' ' << std::oct
        << item.mode << std::dec << ' ' << item.uid << ':' << item.gid << ' ' << item.modify_time.ns
        << ' ' << item.access_time.ns << ' ' << item.inode << ' '
        << Hex(fs.ReadContents(path).value_or("")) << ' ' << security.access_acl.size() << '\n';
    if (item.IsFolder()) Dump(fs, path + "/", out);
  }
}

TEST(PreviewRun, ShowsExactlyTheLinesOfTheRunOnRandomTreesWithATargetIgnoringCase) {
  const uint64_t first = FirstSeed();
  const int trees = TreeCount(500);
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < trees; ++i) {
    const uint64_t seed = first + static_cast<uint64_t>(i);
    Random random(seed);
    SyncOptions options = RandomOptions(random, static_cast<int>(seed % kCombinations));
    // Owners and ACLs in the trees, and a privileged user; with -ns too
    // at times, which must then leave them alone.
    const bool security = !options.NoSecurity || random.Chance(50);
    TreeShape shape = TreeMaker(random, security).Make();
    KeepAliasesToTheTarget(shape);
    MemoryFileSystem fs;
    fs.SetVolume("/src", {});
    fs.SetVolume("/dst", MemoryFileSystemOptions{.case_insensitive = true, .short_names = true});
    Build(fs, "/src", shape.source, security);
    if (!shape.target_missing) Build(fs, "/dst", shape.target, security);
    options.Source = "/src/";
    options.Target = shape.target_missing ? "/dst/new/" : "/dst/";
    PlatformFacts facts;
    facts.IsAdmin = security;
    SCOPED_TRACE(::testing::Message()
                 << "seed " << seed << " (TWINMERE_PREVIEW_SEED=" << seed
                 << " TWINMERE_PREVIEW_TREES=1), options" << Describe(options));
    const auto snapshot = [&] {
      std::ostringstream out;
      Dump(fs, "/", out);
      return out.str();
    };
    if (!PreviewIsTheRun(fs, options, facts, snapshot)) break;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d trees from seed %llu in %.1f s\n", trees, static_cast<unsigned long long>(first),
              seconds);
}

// A Target whose abilities only a trial tells, as FUSE: the preview cannot
// know that it sets a link's own times. Two links with the same text are the
// same wherever a receiving side may not keep their times, so that a link
// copied there comes back neither in the preview nor in the run.
class TrialTarget final : public MemoryFileSystem {
 public:
  bool KnownAbilities(const std::string& path, VolumeAbilities& abilities) override {
    return !path.starts_with("/dst") && MemoryFileSystem::KnownAbilities(path, abilities);
  }
};

TEST(PreviewRun, ALinkCopiedBothWaysOntoAVolumeKnownByTrialComesNotBack) {
  TrialTarget fs;
  fs.SetVolume("/dst", {});
  fs.AddFile("/src/file", "f", kT0);
  fs.AddLink("/src/link", "file", kT0);
  SyncOptions options;
  options.Source = "/src/";
  options.Target = "/dst/";
  options.Bidi = options.New = true;
  PreviewIsTheRun(fs, options, PlatformFacts{}, [&] {
    std::ostringstream out;
    Dump(fs, "/", out);
    return out.str();
  });
}

}  // namespace
}  // namespace twinmere
