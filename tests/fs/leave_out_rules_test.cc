#include "fs/leave_out_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

namespace twinmere {
namespace {

using ::testing::ElementsAre;

// Folds ASCII letters, and "É" to "é" in names it reads as UTF-8 (those
// without a 0xFF byte), as the comparison folds names.
std::string TestFold(std::string_view name) {
  std::string key;
  const bool text = name.find('\xff') == std::string_view::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (text && name.substr(i, 2) == "\xc3\x89") {
      key += "\xc3\xa9";
      ++i;
    } else {
      key += static_cast<char>(name[i] >= 'A' && name[i] <= 'Z' ? name[i] - 'A' + 'a' : name[i]);
    }
  }
  return key;
}

// Whether `path` or one of its folders is left out by the patterns of `text`.
bool LeftOut(std::string_view text, std::string_view path, ItemKind kind = ItemKind::File) {
  LeaveOutList list;
  list.AddText(text);
  return LeaveOutRules(list).LeavesOutPath(path, kind);
}

// Whether the file at `path` matches `pattern`, anchored at the top.
bool Matches(std::string_view pattern, std::string_view path, NameFold fold = nullptr) {
  LeaveOutList list(fold);
  list.AddPattern("/" + std::string(pattern));
  return LeaveOutRules(list).LeavesOut(path, ItemKind::File);
}

// The whole path against one pattern, as wildmatch sees it: exactly and
// ignoring case. Rows from git's wildmatch cases; paths end in no "/".
TEST(LeaveOutPattern, MatchesAsWildmatchDoes) {
  struct Case {
    const char* path;
    const char* pattern;
    bool exact;
    bool ignoring_case;
  };
  const Case cases[] = {
      {"foo", "???", true, true},
      {"foo", "*f", false, false},
      {"foobar", "*ob*a*r*", true, true},
      {"aaaaaaabababab", "*ab", true, true},
      {"foo*", "foo\\*", true, true},
      {"f\\oo", "f\\\\oo", true, true},
      {"ball", "*[al]?", true, true},
      {"ten", "**[!te]", true, true},
      {"ten", "t[!a-g]n", false, false},
      {"ton", "t[^a-g]n", true, true},
      {"a]b", "a[]-]b", true, true},
      {"aab", "a[]-]b", false, false},
      {"foo/baz/bar", "foo**bar", false, false},
      {"foobazbar", "foo**bar", true, true},
      {"foo/bar", "foo/**/**/bar", true, true},
      {"foo/b/a/z/bar", "foo/**/bar", true, true},
      {"foo/bar", "foo?bar", false, false},
      {"foo/bar", "foo[/]bar", false, false},
      {"foo", "**/foo", true, true},
      {"bar/baz/foo", "*/foo", false, false},
      {"foo/bar/baz", "**/bar*", false, false},
      {"deep/foo/bar/baz", "**/bar/*", true, true},
      {"deep/foo/bar", "**/bar/*", false, false},
      {"foo/bar/baz", "**/bar**", false, false},
      {"deep/foo/bar/baz/x", "*/bar/**", false, false},
      {"deep/foo/bar/baz/x", "**/bar/*/*", true, true},
      {"]", "[!]-]", false, false},
      {"XXX/\\", "*/\\\\", true, true},
      {"[ab]", "[[]ab]", true, true},
      {"[ab]", "[[:]ab]", true, true},
      {"[ab]", "[[::]ab]", false, false},
      {"[ab]", "[[:digit]ab]", true, true},
      {"?a?b", "\\??\\?b", true, true},
      {"abc", "\\a\\b\\c", true, true},
      {"a1B", "[[:alpha:]][[:digit:]][[:upper:]]", true, true},
      {"a", "[[:digit:][:upper:][:space:]]", false, true},
      {"1", "[[:digit:][:upper:][:spaci:]]", false, false},
      {".", "[^[:alnum:][:alpha:][:blank:][:cntrl:][:digit:][:lower:][:space:][:upper:]]", true,
       true},
      {"q", "[a-c[:digit:]x-z]", false, false},
      {"]", "[\\\\-^]", true, true},
      {"[", "[\\\\-^]", false, false},
      {"\\]", "[\\]]", false, false},
      {"-", "[a-", false, false},
      {"5", "[--A]", true, true},
      {"-", "[a-e-n]", true, true},
      {"[", "[]-a]", false, false},
      {"-b]", "[a-]b]", true, true},
      {"\\", "[!\\\\]", false, false},
      {"G", "[A-\\\\]", true, true},
      {"2", "[\\1-\\3]", true, true},
      {"-", "[[-\\]]", false, false},
      {"foo/bb/aa/rr", "*/*/*", false, false},
      {"foo/bb/aa/rr", "**/**/**", true, true},
      {"ab/cXd/efXg/hi", "**/*X*/**/*i", true, true},
      {"abcd/abcdefg/abcdefghijk/abcdefghijklmnop.txtz", "**/*a*b*g*n*t", false, false},
      {"-adobe-courier-bold-o-normal--12-120-75-75-m-70-iso8859-1", "-*-*-*-*-*-*-12-*-*-*-m-*-*-*",
       true, true},
      {"foo/bba/arr", "foo/*arr", false, false},
      {"foo/bba/arr", "foo/**", true, true},
      {"A", "[B-a]", false, true},
      {"z", "[Z-y]", false, true},
      {"A", "[[:lower:]]", false, true},
      {"A", "[!a]", true, false},
      // Where wildmatch gives up on an unclosed "[", the "[" stands for itself.
      {"a[]b", "a[]b", true, true},
      {"ab[", "ab[", true, true},
      {"ab", "[!", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.path), c.exact) << c.pattern << " " << c.path;
    EXPECT_EQ(Matches(c.pattern, c.path, TestFold), c.ignoring_case)
        << c.pattern << " " << c.path << " ignoring case";
  }
}

// A pattern file's lines, as git's gitignore rules read them; LeavesOutPath,
// so a folder left out takes what is inside it along.
TEST(LeaveOutPattern, ReadsLinesAsGitignoreDoes) {
  struct Case {
    const char* patterns;
    const char* path;
    ItemKind kind;
    bool left_out;
  };
  const ItemKind kFile = ItemKind::File;
  const ItemKind kFolder = ItemKind::Folder;
  const Case cases[] = {
      {"hello.*", "a/hello.java", kFile, true},
      {"/hello.*", "hello.c", kFile, true},
      {"/hello.*", "a/hello.java", kFile, false},
      {"foo/", "a/foo", kFolder, true},
      {"foo/", "a/foo/x", kFile, true},
      {"foo/", "foo", kFile, false},
      {"foo/", "foo", ItemKind::Link, false},
      {"doc/frotz/", "a/doc/frotz", kFolder, false},
      {"doc/frotz", "doc/frotz", kFile, true},
      {"foo/*", "foo/test.json", kFile, true},
      {"foo/*", "foo", kFolder, false},
      {"**/foo/bar", "x/y/foo/bar", kFile, true},
      {"abc/**", "abc", kFolder, false},
      {"abc/**", "abc/x/y", kFile, true},
      {"a/**/b", "a/b", kFile, true},
      {"a/**/b", "a/x/y/b", kFile, true},
      {"docs/**/*.pdf", "docs/a/b.pdf", kFile, true},
      {"**/cache/", "a/b/cache/x", kFile, true},
      {"*.html\n!foo.html", "d/foo.html", kFile, false},
      {"*.html\n!foo.html", "d/bar.html", kFile, true},
      {"/*\n!/foo\n/foo/*\n!/foo/bar", "foo/bar/x", kFile, false},
      {"/*\n!/foo\n/foo/*\n!/foo/bar", "foo/baz", kFile, true},
      {"#a", "#a", kFile, false},
      {"\\#a", "#a", kFile, true},
      {"\\!a", "!a", kFile, true},
      {"x  ", "x", kFile, true},
      {"x\\ ", "x ", kFile, true},
      {"x\\ ", "x", kFile, false},
      {"\xEF\xBB\xBFy\r\nx\r\n", "x", kFile, true},
      {"\xEF\xBB\xBFy\r\nx\r\n", "y", kFile, true},
      {"\xff*", "\xff\xfe", kFile, true},
      {"tmp/\n!tmp/keep", "tmp/keep", kFile, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LeftOut(c.patterns, c.path, c.kind), c.left_out) << c.patterns << " " << c.path;
  }
}

TEST(LeaveOutPattern, TextReportsTheLinesOfInvalidPatterns) {
  LeaveOutList list;
  EXPECT_THAT(list.AddText("ok\nbad\\\n# note\n\n[[:nope:]]\n!\n/\n[x"), ElementsAre(2, 5, 6, 7));
  ASSERT_EQ(list.size(), 2U);
  EXPECT_EQ(list.PatternText(1), "[x");
  EXPECT_TRUE(list.AddPattern("#x  "));  // a single pattern is taken as written
  EXPECT_FALSE(LeaveOutRules(list).LeavesOut("#x", ItemKind::File));
  EXPECT_TRUE(LeaveOutRules(list).LeavesOut("#x  ", ItemKind::File));
}

// The levels: the command line lowest, then each folder's file from the top
// down; a file speaks of what lies below its folder only.
TEST(LeaveOutRules, DeeperLevelsWinAndApplyBelowTheirFolder) {
  LeaveOutList command_line;
  command_line.AddText("*.log\n/VMs/");
  LeaveOutList top;
  top.AddText("!keep.log\n!VMs/\nVMs/*.iso");
  LeaveOutList a;
  a.AddText("keep.log\n/b\na");
  LeaveOutRules rules(command_line);
  EXPECT_TRUE(rules.LeavesOut("x.log", ItemKind::File));
  rules.Push("", top);
  EXPECT_FALSE(rules.LeavesOut("a/keep.log", ItemKind::File));
  EXPECT_FALSE(rules.LeavesOut("VMs", ItemKind::Folder));
  EXPECT_TRUE(rules.LeavesOut("VMs/big.iso", ItemKind::File));
  rules.Push("a", a);
  EXPECT_EQ(rules.Depth(), 2U);
  EXPECT_FALSE(rules.LeavesOut("a", ItemKind::Folder));
  EXPECT_TRUE(rules.LeavesOut("a/keep.log", ItemKind::File));
  EXPECT_TRUE(rules.LeavesOut("a/a", ItemKind::File));
  EXPECT_TRUE(rules.LeavesOut("a/b", ItemKind::File));
  EXPECT_FALSE(rules.LeavesOut("a/c/b", ItemKind::File));
  EXPECT_FALSE(rules.LeavesOut("b", ItemKind::File));
  rules.Pop();
  EXPECT_FALSE(rules.LeavesOut("a/keep.log", ItemKind::File));
  rules.Pop();
  rules.Pop();  // the command line stays
  EXPECT_EQ(rules.Depth(), 0U);
  EXPECT_TRUE(rules.LeavesOut("x.log", ItemKind::File));
  EXPECT_FALSE(LeaveOutRules().LeavesOutPath("x.log", ItemKind::File));
}

TEST(LeaveOutRules, FoldsNamesAsTheComparisonDoes) {
  LeaveOutList list(TestFold);
  list.AddText("*.TXT\nÉté/\n!/été/keep\nÉA*");
  LeaveOutRules rules(list);
  EXPECT_TRUE(rules.LeavesOut("README.txt", ItemKind::File));
  EXPECT_TRUE(rules.LeavesOut("d/ÉTÉ", ItemKind::Folder));
  EXPECT_FALSE(rules.LeavesOut("ÉTÉ/KEEP", ItemKind::File));
  EXPECT_TRUE(rules.LeavesOutPath("ÉTÉ/KEEP", ItemKind::File));  // its folder is left out
  // A name the fold cannot read keeps its bytes, and its ASCII letters fold.
  EXPECT_TRUE(rules.LeavesOut("x/Éa\xff", ItemKind::File));
  EXPECT_FALSE(LeftOut("*.TXT", "README.txt"));
}

// Patterns that take naive backtracking exponential time must end at once.
TEST(LeaveOutPattern, PathologicalStarsEndInPolynomialTime) {
  std::string deep;
  for (int i = 0; i < 60; ++i) deep += "a/";
  deep += "a";
  EXPECT_FALSE(Matches("**/a/**/a/**/a/**/a/**/a/**/a/**/a/**/a/**/b", deep));
  EXPECT_FALSE(Matches("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(200, 'a')));
  EXPECT_TRUE(Matches("**/**/**/**/**/**/**/**/a/**/**/**/**/a", deep));
}

// Random patterns over {a, b, ?, *, **, [ab], [!a], /} against random paths,
// compared with a regular expression built from the same pieces.
TEST(LeaveOutPattern, RandomPatternsMatchAsTheirRegularExpression) {
  std::mt19937 random(30);
  const char* const pieces[] = {"a", "b", "?", "*", "[ab]", "[!a]"};
  const char* const regexes[] = {"a", "b", "[^/]", "[^/]*", "[ab]", "[^/a]"};
  for (int round = 0; round < 3000; ++round) {
    std::string pattern;
    std::string regex;
    const int parts = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < parts; ++k) {
      const bool last = k + 1 == parts;
      if (k > 0) pattern += '/';
      if (random() % 4 == 0) {
        pattern += "**";
        regex += last ? "[^/]+(/[^/]+)*" : "([^/]+/)*";
        continue;
      }
      std::string part;
      std::string part_regex;
      for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) {
        const size_t piece = random() % 6;
        part += pieces[piece];
        part_regex += regexes[piece];
      }
      pattern += part;
      if (part == "**" || part == "***") part_regex = last ? "[^/]+(/[^/]+)*" : "([^/]+/)*";
      regex += part_regex;
      if (!last && part_regex != "([^/]+/)*") regex += '/';
    }
    std::string path;
    for (int k = static_cast<int>(random() % 4); k >= 0; --k) {
      for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) path += "ab"[random() % 2];
      if (k > 0) path += '/';
    }
    EXPECT_EQ(Matches(pattern, path), std::regex_match(path, std::regex(regex)))
        << pattern << " " << path << " " << regex;
  }
}

}  // namespace
}  // namespace twinmere
