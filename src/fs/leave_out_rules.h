// Patterns that leave items out of a run, and the question a walk asks of
// them: is the item at this path left out?
//
// How a pattern behaves (one pattern per line of a patterns file or a
// .twinmereignore; one per -x switch):
//   *.tmp          a name, at any depth: "*" is any run of bytes but "/",
//                  "?" one byte but "/", [abc] [a-z] one of a set, [!a-z] or
//                  [^a-z] one byte outside it ([[:digit:]] and the other
//                  POSIX classes of the C locale work inside a set)
//   node_modules/  a trailing "/": folders only (not files, not links)
//   /build/        a leading "/" or a "/" in the middle anchors the pattern
//   docs/*.pdf     at the folder of its list (the synchronized folder for the
//                  command line, else the folder that holds the file)
//   **/cache/      "**" as a whole part: "**/" is any number of folders, a
//   docs/**/*.pdf  trailing "/**" everything below; "**" elsewhere is "*"
//   !keep.tmp      a leading "!" takes an item back in
//   \#x \!x \*     "\" makes the next byte literal; a trailing "\" alone is
//                  invalid; trailing spaces are dropped unless escaped
// A line that begins with "#" is a comment and a blank line is nothing (in
// text only: a single -x pattern is taken as written). A CR at the end of a
// line and a UTF-8 byte-order mark at the start of the text are dropped.
// Names are bytes and a pattern may hold any byte but NUL: "?" and a set
// match one byte, and the matcher reads nothing as UTF-8. A "[" without its
// closing "]" stands for itself. A pattern with an unknown [:class:], a lone
// trailing "\", a NUL byte or nothing after its "!" and "/" is invalid: it
// is not added, and the caller learns which one it was.
//
// Which pattern decides: the last one that matches, reading the levels from
// the lowest up: the command line's patterns (-x, -xf, in their order), then
// the top folder's .twinmereignore, then each deeper folder's down to the
// item's own folder. So a folder's file refines the command line, and a
// deeper file refines a shallower one. A folder that is left out hides
// everything beneath it: it is not walked, so a "!" cannot take back an item
// inside it.
//
// Letter case: a list either matches names exactly or through a NameFold
// (the key under which two names are equal ignoring case, as the comparison
// folds them). Literal parts of a pattern and every name of a path are folded
// the same way; a set ignores the case of ASCII letters only. A name that the
// fold leaves as it is (one that is not UTF-8) still matches a pattern whose
// other bytes are written as in the name, ASCII letters in either case.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace twinmere {

// The key of a name under which names that differ only in letter case are
// equal. It must keep "/" out of the key.
using NameFold = std::string (*)(std::string_view name);

// The compiled patterns of one level: the command line, or one folder's
// .twinmereignore. Built once and only read afterwards; matching allocates
// nothing.
class LeaveOutList {
 public:
  // Patterns that match names exactly (no fold) or through `fold`.
  explicit LeaveOutList(NameFold fold = nullptr) : fold_(fold) {}

  // Adds one pattern as written: no comment, no trimming (a -x switch).
  // Returns false, adding nothing, for an empty or invalid pattern.
  bool AddPattern(std::string_view pattern);
  // Adds the patterns of a file's text, one per line. Returns the numbers
  // (from 1) of the lines that held an invalid pattern; those add nothing.
  std::vector<int> AddText(std::string_view text);

  bool empty() const { return patterns_.empty(); }
  size_t size() const { return patterns_.size(); }
  NameFold fold() const { return fold_; }
  // The pattern as written, for reports (without comment or trailing spaces).
  const std::string& PatternText(size_t index) const { return patterns_[index].text; }

 private:
  friend class LeaveOutRules;
  // One pattern part between "/": ops are bytes (0-255), kAnyByte, kStar or
  // kSet + a set's index; a "**" part matches any number of parts.
  struct Part {
    uint32_t begin = 0;
    uint32_t end = 0;
    uint32_t tail = 0;  // the literal bytes it ends with
    bool any_parts = false;
  };
  struct Form {
    std::vector<uint32_t> ops;
    std::vector<Part> parts;
  };
  struct Pattern {
    std::string text;
    bool take_back = false;
    bool folders_only = false;
    bool anchored = false;  // matches the path below the list's folder, not the name
    Form form;              // literal bytes folded when the list folds names
    // With a fold, when a literal holds a byte >= 0x80: the same pattern
    // with ASCII letters folded alone, for names the fold cannot read.
    bool has_ascii_form = false;
    Form ascii_form;
  };
  using ByteSet = std::array<uint64_t, 4>;

  bool Compile(std::string_view body, NameFold fold, Form& form);
  bool Matches(const Form& form, std::string_view path) const;
  bool MatchesPart(const Form& form, const Part& part, std::string_view name) const;

  NameFold fold_ = nullptr;
  std::vector<Pattern> patterns_;
  std::vector<ByteSet> sets_;
};

// The levels that apply during a walk: the command line's list, and the
// .twinmereignore lists of the folders the walk is in. Pushing and popping a
// list costs no parsing; asking about an item allocates nothing when names
// match exactly. Not for use by several threads at once.
class LeaveOutRules {
 public:
  LeaveOutRules() = default;
  // `command_line` is the lowest level; it must outlive the rules.
  explicit LeaveOutRules(const LeaveOutList& command_line);
  explicit LeaveOutRules(const LeaveOutList&& command_line) = delete;

  // The list of `folder`'s .twinmereignore (its path below the synchronized
  // folder, "" for the top), above every level pushed so far: push a folder's
  // list after its parent's. The list must stay until it is popped.
  void Push(std::string_view folder, const LeaveOutList& list);
  void Push(std::string_view folder, const LeaveOutList&& list) = delete;
  // Removes the last pushed list (nothing when none is left).
  void Pop();
  // The number of pushed lists.
  size_t Depth() const { return levels_.size() - (has_command_line_ ? 1 : 0); }
  // No level holds a pattern: nothing is ever left out.
  bool empty() const;

  // Whether the item at `path` ("a/b/c", below the synchronized folder) is
  // left out by its own name and path, its folders taken as kept: the walk's
  // question, which it never asks below a folder that is left out.
  bool LeavesOut(std::string_view path, ItemKind kind);
  // The same, and left out too when one of its folders is.
  bool LeavesOutPath(std::string_view path, ItemKind kind);

 private:
  struct Level {
    const LeaveOutList* list = nullptr;
    std::string folder;  // "" or "a/b/"
    size_t depth = 0;    // parts of `folder`
  };
  // `path` is the path given to Prepare or one of its folders, of `parts` parts.
  bool Decide(std::string_view path, size_t parts, bool folder);
  void Prepare(std::string_view path);
  // The path given to Prepare, each name folded; ASCII letters alone folded.
  std::string_view Folded(NameFold fold);
  std::string_view AsciiFolded();
  bool HasHighBytes() const;

  std::vector<Level> levels_;
  bool has_command_line_ = false;
  // The path asked about and its folded forms. The folded names of its
  // folders stay for the next question, which is mostly about a sibling.
  std::string_view path_;
  bool folded_ready_ = false;
  NameFold folded_with_ = nullptr;
  std::string folded_;
  std::string folded_parent_source_;  // the folders of the path `folded_` began with
  size_t folded_parent_size_ = 0;
  bool ascii_ready_ = false;
  std::string ascii_folded_;
};

}  // namespace twinmere
