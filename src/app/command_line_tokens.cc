#include "app/command_line_tokens.h"

#include <utility>

namespace twinmere::command_line {

size_t SkipBlanks(std::string_view text, size_t p) {
  while (p < text.size() && text[p] == ' ') ++p;
  return p;
}

size_t SwitchNameEnd(std::string_view text, size_t p) {
  const size_t end = text.find_first_of(" /-", p + 1);
  return end == std::string_view::npos ? text.size() : end;
}

bool NextSwitch(std::string_view text, size_t& p, const SwitchRow*& row) {
  p = SkipBlanks(text, p);
  if (p >= text.size() || text[p] != '-') return false;
  const size_t end = SwitchNameEnd(text, p);
  row = LookupSwitch(text.substr(p + 1, end - p - 1));
  p = end;
  return true;
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

NumberStatus ParseNumber(std::string_view token, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    negative = token[i] == '-';
    ++i;
  }
  constexpr uint64_t kCap = uint64_t{1} << 40;  // far beyond the 32-bit range
  uint64_t whole = 0;
  bool any_digit = false;
  for (; i < token.size() && IsDigit(token[i]); ++i) {
    any_digit = true;
    whole = whole * 10 + static_cast<uint64_t>(token[i] - '0');
    if (whole > kCap) whole = kCap;
  }
  int first_fraction_digit = 0;      // the tenths
  bool nonzero_after_first = false;  // any nonzero digit after the tenths
  if (i < token.size() && token[i] == '.') {
    ++i;
    bool first = true;
    for (; i < token.size() && IsDigit(token[i]); ++i) {
      any_digit = true;
      const int digit = token[i] - '0';
      if (first) {
        first_fraction_digit = digit;
        first = false;
      } else if (digit != 0) {
        nonzero_after_first = true;
      }
    }
  }
  if (!any_digit || i != token.size()) return NumberStatus::NotANumber;
  const bool round_up = first_fraction_digit > 5 ||
                        (first_fraction_digit == 5 && (nonzero_after_first || whole % 2 == 1));
  if (round_up) ++whole;
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  if (whole > limit) return NumberStatus::OutOfRange;
  value =
      negative ? static_cast<int32_t>(-static_cast<int64_t>(whole)) : static_cast<int32_t>(whole);
  return NumberStatus::Ok;
}

bool LeadingValueIsPositive(std::string_view text) {
  size_t i = SkipBlanks(text, 0);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool nonzero = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) nonzero = nonzero || text[i] != '0';
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) nonzero = nonzero || text[i] != '0';
  }
  return nonzero && !negative;
}

bool ReadValueToken(std::string_view text, size_t p, std::string& token, size_t& next) {
  p = SkipBlanks(text, p);
  if (p >= text.size()) return false;
  size_t end = text.find(' ', p);
  if (end == std::string_view::npos) end = text.size();
  token = std::string(text.substr(p, end - p));
  next = end;
  return true;
}

bool ReadQuoted(std::string_view text, size_t open, std::string& item, size_t& close) {
  item.clear();
  for (size_t from = open + 1;;) {
    const size_t quote = text.find('"', from);
    if (quote == std::string_view::npos) {
      item.clear();
      return false;
    }
    item.append(text.substr(from, quote - from));
    if (quote + 1 < text.size() && text[quote + 1] == '"') {
      item += '"';
      from = quote + 2;
      continue;
    }
    close = quote;
    return true;
  }
}

std::string Quoted(std::string_view item) {
  std::string out = "\"";
  for (const char c : item) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

std::string QuoteIfNeeded(std::string_view item) {
  if (!item.empty() && item.find(' ') == std::string_view::npos && item.front() != '"') {
    return std::string(item);
  }
  return Quoted(item);
}

PathStatus ReadPath(std::string_view text, size_t p, std::string& path, size_t& next) {
  p = SkipBlanks(text, p);
  if (p >= text.size()) return PathStatus::Missing;
  if (text[p] == '"') {
    std::string quoted;
    size_t close = 0;
    if (!ReadQuoted(text, p, quoted, close)) {
      path.clear();
      next = text.size();
      return PathStatus::Ok;
    }
    if (close + 1 < text.size() && text[close + 1] != ' ') return PathStatus::BadQuote;
    path = std::move(quoted);
    next = close + 1;
    return PathStatus::Ok;
  }
  size_t end = text.find(' ', p);
  if (end == std::string_view::npos) end = text.size();
  path = std::string(text.substr(p, end - p));
  next = end;
  return PathStatus::Ok;
}

void ReadFolder(std::string_view text, size_t p, std::string& folder, size_t& next) {
  if (p < text.size() && text[p] == '"') {
    std::string quoted;
    size_t close = 0;
    if (!ReadQuoted(text, p, quoted, close)) {
      folder.clear();
      next = text.size();
      return;
    }
    folder = std::move(quoted);
    next = close + 1;
    return;
  }
  size_t end = text.find(' ', p);
  if (end == std::string_view::npos) end = text.size();
  folder = std::string(text.substr(p, end - p));
  next = end;
}

}  // namespace twinmere::command_line
