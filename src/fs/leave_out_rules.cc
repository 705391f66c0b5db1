#include "fs/leave_out_rules.h"

#include <algorithm>

namespace twinmere {

namespace {

constexpr uint32_t kAnyByte = 256;
constexpr uint32_t kStar = 257;
constexpr uint32_t kSet = 258;
constexpr size_t kNone = std::string_view::npos;

using ByteSet = std::array<uint64_t, 4>;

void AddByte(ByteSet& set, unsigned c) {
  set[c >> 6] |= uint64_t{1} << (c & 63);
}
bool HasByte(const ByteSet& set, unsigned char c) {
  return ((set[c >> 6] >> (c & 63)) & 1) != 0;
}

bool IsUpper(unsigned c) {
  return c >= 'A' && c <= 'Z';
}
bool IsLower(unsigned c) {
  return c >= 'a' && c <= 'z';
}
bool IsDigit(unsigned c) {
  return c >= '0' && c <= '9';
}

void LowerAsciiLetters(std::string& text) {
  for (char& c : text) {
    if (IsUpper(static_cast<unsigned char>(c))) c = static_cast<char>(c - 'A' + 'a');
  }
}

std::string FoldAsciiLetters(std::string_view name) {
  std::string key(name);
  LowerAsciiLetters(key);
  return key;
}

// The POSIX classes of the C locale.
struct NamedClass {
  std::string_view name;
  bool (*member)(unsigned c);
};
constexpr NamedClass kClasses[] = {
    {"alnum", [](unsigned c) { return IsUpper(c) || IsLower(c) || IsDigit(c); }},
    {"alpha", [](unsigned c) { return IsUpper(c) || IsLower(c); }},
    {"blank", [](unsigned c) { return c == ' ' || c == '\t'; }},
    {"cntrl", [](unsigned c) { return c < 32 || c == 127; }},
    {"digit", IsDigit},
    {"graph", [](unsigned c) { return c > 32 && c < 127; }},
    {"lower", IsLower},
    {"print", [](unsigned c) { return c >= 32 && c < 127; }},
    {"punct",
     [](unsigned c) { return c > 32 && c < 127 && !IsUpper(c) && !IsLower(c) && !IsDigit(c); }},
    {"space", [](unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); }},
    {"upper", IsUpper},
    {"xdigit",
     [](unsigned c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }},
};

// False for an unknown class name.
bool AddClass(std::string_view name, ByteSet& set) {
  for (const NamedClass& named : kClasses) {
    if (named.name != name) continue;
    for (unsigned c = 0; c < 128; ++c) {
      if (named.member(c)) AddByte(set, c);
    }
    return true;
  }
  return false;
}

enum class SetEnd : uint8_t { Closed, Unclosed, Invalid };

// The set that begins with the "[" at body[at]; `next` is the byte after its "]".
SetEnd ParseSet(std::string_view body, size_t at, bool fold_letters, ByteSet& set, size_t& next) {
  const size_t n = body.size();
  size_t j = at + 1;
  const bool negate = j < n && (body[j] == '!' || body[j] == '^');
  if (negate) ++j;
  set = {};
  for (bool first = true;; first = false) {
    if (j >= n) return SetEnd::Unclosed;
    if (body[j] == ']' && !first) {
      ++j;
      break;
    }
    if (body[j] == '[' && j + 1 < n && body[j + 1] == ':') {
      const size_t close = body.find(']', j + 2);
      if (close == kNone) return SetEnd::Unclosed;
      if (close >= j + 3 && body[close - 1] == ':') {
        if (!AddClass(body.substr(j + 2, close - 1 - (j + 2)), set)) return SetEnd::Invalid;
        j = close + 1;
        continue;
      }
      // No ":]" before the "]": the "[" is a member like any other byte.
    }
    auto take = [&](unsigned char& c) {
      if (body[j] == '\\') {
        if (j + 1 >= n) return false;
        ++j;
      }
      c = static_cast<unsigned char>(body[j++]);
      return true;
    };
    unsigned char low = 0;
    if (!take(low)) return SetEnd::Unclosed;
    unsigned char high = low;
    if (j + 1 < n && body[j] == '-' && body[j + 1] != ']') {
      ++j;
      if (!take(high)) return SetEnd::Unclosed;
    }
    for (unsigned c = low; c <= high; ++c) AddByte(set, c);
  }
  if (fold_letters) {
    for (unsigned c = 'a'; c <= 'z'; ++c) {
      const unsigned upper = c - 'a' + 'A';
      if (HasByte(set, static_cast<unsigned char>(c)) ||
          HasByte(set, static_cast<unsigned char>(upper))) {
        AddByte(set, c);
        AddByte(set, upper);
      }
    }
  }
  if (negate) {
    for (uint64_t& word : set) word = ~word;
  }
  // A name holds neither "/" nor NUL.
  set[0] &= ~((uint64_t{1} << '/') | uint64_t{1});
  next = j;
  return SetEnd::Closed;
}

// Spaces at the end of a line go unless a "\" escapes them.
std::string_view TrimTrailingSpaces(std::string_view line) {
  size_t keep = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') continue;
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    keep = i + 1;
  }
  return line.substr(0, keep);
}

// Where the first `parts` parts of `path` end (at a "/" or the end).
size_t PartsEnd(std::string_view path, size_t parts) {
  size_t end = 0;
  for (size_t k = 0; k < parts; ++k) {
    const size_t slash = path.find('/', k == 0 ? 0 : end + 1);
    if (slash == kNone) return path.size();
    end = slash;
  }
  return end;
}

// Parts [from, to) of `path`.
std::string_view SubPath(std::string_view path, size_t from, size_t to) {
  const size_t begin = from == 0 ? 0 : std::min(path.size(), PartsEnd(path, from) + 1);
  const size_t end = std::max(begin, PartsEnd(path, to));
  return path.substr(begin, end - begin);
}

std::string_view LastPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == kNone ? path : path.substr(slash + 1);
}

}  // namespace

bool LeaveOutList::AddPattern(std::string_view pattern) {
  Pattern p;
  std::string_view body = pattern;
  if (!body.empty() && body.front() == '!') {
    p.take_back = true;
    body.remove_prefix(1);
  }
  if (!body.empty() && body.back() == '/') {
    p.folders_only = true;
    body.remove_suffix(1);
  }
  p.anchored = body.find('/') != kNone;
  if (p.anchored && body.front() == '/') body.remove_prefix(1);
  if (body.empty() || body.find('\0') != kNone) return false;
  const size_t sets = sets_.size();
  if (!Compile(body, fold_, p.form)) {
    sets_.resize(sets);
    return false;
  }
  if (fold_ != nullptr &&
      std::any_of(body.begin(), body.end(), [](char c) { return (c & 0x80) != 0; })) {
    p.has_ascii_form = Compile(body, FoldAsciiLetters, p.ascii_form);
  }
  p.text.assign(pattern);
  patterns_.push_back(std::move(p));
  return true;
}

std::vector<int> LeaveOutList::AddText(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<int> invalid;
  int number = 0;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == kNone ? text.size() : newline + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    line = TrimTrailingSpaces(line);
    if (!line.empty() && !AddPattern(line)) invalid.push_back(number);
  }
  return invalid;
}

bool LeaveOutList::Compile(std::string_view body, NameFold fold, Form& form) {
  form = {};
  std::vector<uint32_t>& ops = form.ops;
  std::string literal;
  auto flush = [&] {
    if (literal.empty()) return;
    for (const char c : fold == nullptr ? literal : fold(literal)) {
      ops.push_back(static_cast<unsigned char>(c));
    }
    literal.clear();
  };
  Part part;
  int stars = 0;
  bool only_stars = true;
  auto close_part = [&] {
    flush();
    part.any_parts = only_stars && stars >= 2;
    if (part.any_parts) ops.resize(part.begin);
    part.end = static_cast<uint32_t>(ops.size());
    while (part.tail < part.end - part.begin && ops[part.end - 1 - part.tail] < 256) ++part.tail;
    form.parts.push_back(part);
    part = Part{part.end, part.end};
    stars = 0;
    only_stars = true;
  };
  for (size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (c == '/') {
      close_part();
      ++i;
    } else if (c == '\\') {
      if (i + 1 == body.size()) return false;
      if (body[i + 1] == '/') {
        close_part();
      } else {
        literal += body[i + 1];
        only_stars = false;
      }
      i += 2;
    } else if (c == '*') {
      flush();
      ++stars;
      if (ops.size() == part.begin || ops.back() != kStar) ops.push_back(kStar);
      ++i;
    } else if (c == '?') {
      flush();
      ops.push_back(kAnyByte);
      only_stars = false;
      ++i;
    } else {
      ByteSet set;
      size_t next = 0;
      const SetEnd end =
          c == '[' ? ParseSet(body, i, fold != nullptr, set, next) : SetEnd::Unclosed;
      if (end == SetEnd::Invalid) return false;
      if (end == SetEnd::Closed) {
        flush();
        ops.push_back(kSet + static_cast<uint32_t>(sets_.size()));
        sets_.push_back(set);
        i = next;
      } else {
        literal += c;
        ++i;
      }
      only_stars = false;
    }
  }
  close_part();
  // A trailing "/**" needs one part at least: "a/**" is what lies inside a.
  if (form.parts.back().any_parts) {
    const auto at = static_cast<uint32_t>(ops.size());
    ops.push_back(kStar);
    form.parts.insert(form.parts.end() - 1, Part{at, at + 1});
  }
  return true;
}

// One part of a pattern against one name. A "*" that failed is retried one
// byte further, never an earlier one: at most (name bytes x ops) steps.
bool LeaveOutList::MatchesPart(const Form& form, const Part& part, std::string_view name) const {
  const uint32_t* ops = form.ops.data() + part.begin;
  const size_t count = part.end - part.begin;
  // Most parts end in literal bytes ("*.tmp"): a name that ends otherwise
  // is passed over at once.
  if (name.size() < part.tail) return false;
  for (size_t k = 1; k <= part.tail; ++k) {
    if (ops[count - k] != static_cast<unsigned char>(name[name.size() - k])) return false;
  }
  size_t i = 0;
  size_t j = 0;
  size_t star_j = kNone;
  size_t star_i = 0;
  while (i < name.size()) {
    if (j < count) {
      const uint32_t op = ops[j];
      const auto c = static_cast<unsigned char>(name[i]);
      if (op == kStar) {
        star_j = j++;
        star_i = i;
        continue;
      }
      if (op < 256 ? op == c : op == kAnyByte || HasByte(sets_[op - kSet], c)) {
        ++i;
        ++j;
        continue;
      }
    }
    if (star_j == kNone) return false;
    j = star_j + 1;
    i = ++star_i;
  }
  while (j < count && ops[j] == kStar) ++j;
  return j == count;
}

// The parts of a pattern against the parts of a path, with the same bound:
// a "**" that failed takes one more part, so at most (parts x parts) tries.
bool LeaveOutList::Matches(const Form& form, std::string_view path) const {
  const size_t done = path.size() + 1;
  auto part_end = [&](size_t at) {
    const size_t slash = path.find('/', at);
    return slash == kNone ? path.size() : slash;
  };
  size_t at = 0;  // where the current part of the path begins
  size_t j = 0;
  size_t star_j = kNone;
  size_t star_at = 0;
  const size_t count = form.parts.size();
  while (at != done) {
    if (j < count && form.parts[j].any_parts) {
      star_j = j++;
      star_at = at;
      continue;
    }
    const size_t end = part_end(at);
    if (j < count && MatchesPart(form, form.parts[j], path.substr(at, end - at))) {
      ++j;
      at = end + 1;
      continue;
    }
    if (star_j == kNone) return false;
    j = star_j + 1;
    star_at = part_end(star_at) + 1;
    at = star_at;
  }
  while (j < count && form.parts[j].any_parts) ++j;
  return j == count;
}

LeaveOutRules::LeaveOutRules(const LeaveOutList& command_line) : has_command_line_(true) {
  levels_.push_back(Level{&command_line, std::string(), 0});
}

void LeaveOutRules::Push(std::string_view folder, const LeaveOutList& list) {
  Level level{&list, std::string(), 0};
  if (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
  if (!folder.empty()) {
    level.folder.assign(folder);
    level.folder += '/';
    level.depth = static_cast<size_t>(std::count(folder.begin(), folder.end(), '/')) + 1;
  }
  levels_.push_back(std::move(level));
}

void LeaveOutRules::Pop() {
  if (levels_.size() > (has_command_line_ ? 1U : 0U)) levels_.pop_back();
}

bool LeaveOutRules::empty() const {
  return std::all_of(levels_.begin(), levels_.end(),
                     [](const Level& level) { return level.list->empty(); });
}

bool LeaveOutRules::LeavesOut(std::string_view path, ItemKind kind) {
  if (path.empty()) return false;
  Prepare(path);
  const auto parts = static_cast<size_t>(std::count(path.begin(), path.end(), '/')) + 1;
  return Decide(path, parts, kind == ItemKind::Folder);
}

bool LeaveOutRules::LeavesOutPath(std::string_view path, ItemKind kind) {
  if (path.empty()) return false;
  Prepare(path);
  const auto parts = static_cast<size_t>(std::count(path.begin(), path.end(), '/')) + 1;
  for (size_t k = 1; k < parts; ++k) {
    if (Decide(path.substr(0, PartsEnd(path, k)), k, true)) return true;
  }
  return Decide(path, parts, kind == ItemKind::Folder);
}

void LeaveOutRules::Prepare(std::string_view path) {
  path_ = path;
  folded_ready_ = false;
  ascii_ready_ = false;
}

bool LeaveOutRules::Decide(std::string_view path, size_t parts, bool folder) {
  for (auto level = levels_.rbegin(); level != levels_.rend(); ++level) {
    if (level->depth >= parts || path.substr(0, level->folder.size()) != level->folder) continue;
    const LeaveOutList& list = *level->list;
    const std::string_view below = path.substr(level->folder.size());
    std::string_view folded_below;
    if (list.fold_ != nullptr) folded_below = SubPath(Folded(list.fold_), level->depth, parts);
    const std::string_view subject = list.fold_ == nullptr ? below : folded_below;
    const std::string_view name = LastPart(subject);
    for (auto p = list.patterns_.rbegin(); p != list.patterns_.rend(); ++p) {
      if (p->folders_only && !folder) continue;
      bool match = p->anchored || p->form.parts.size() != 1
                       ? list.Matches(p->form, p->anchored ? subject : name)
                       : list.MatchesPart(p->form, p->form.parts[0], name);
      if (!match && p->has_ascii_form && HasHighBytes()) {
        const std::string_view ascii = SubPath(AsciiFolded(), level->depth, parts);
        match = list.Matches(p->ascii_form, p->anchored ? ascii : LastPart(ascii));
      }
      if (match) return !p->take_back;
    }
  }
  return false;
}

std::string_view LeaveOutRules::Folded(NameFold fold) {
  if (folded_ready_ && folded_with_ == fold) return folded_;
  const size_t slash = path_.rfind('/');
  const size_t parent_size = slash == kNone ? 0 : slash + 1;
  const std::string_view parent = path_.substr(0, parent_size);
  if (folded_with_ != fold || parent != folded_parent_source_) {
    folded_.clear();
    for (size_t at = 0; at < parent_size;) {
      const size_t end = path_.find('/', at);
      folded_ += fold(path_.substr(at, end - at));
      folded_ += '/';
      at = end + 1;
    }
    folded_with_ = fold;
    folded_parent_source_.assign(parent);
    folded_parent_size_ = folded_.size();
  }
  folded_.resize(folded_parent_size_);
  folded_ += fold(path_.substr(parent_size));
  folded_ready_ = true;
  return folded_;
}

bool LeaveOutRules::HasHighBytes() const {
  return std::any_of(path_.begin(), path_.end(), [](char c) { return (c & 0x80) != 0; });
}

std::string_view LeaveOutRules::AsciiFolded() {
  if (!ascii_ready_) {
    ascii_folded_.assign(path_);
    LowerAsciiLetters(ascii_folded_);
    ascii_ready_ = true;
  }
  return ascii_folded_;
}

}  // namespace twinmere
