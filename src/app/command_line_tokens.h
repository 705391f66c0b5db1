// The pieces of the command-line tokenizer shared by the strict reader
// (ParseCommandLine) and the lenient one (ReadCommandLineIntoDialog).
// Internal to src/app.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/switch_table.h"
#include "base/text.h"

namespace twinmere::command_line {

// The first position at or after `p` that is not a blank (text.size() at the end).
size_t SkipBlanks(std::string_view text, size_t p);

// The position of the first blank, "/" or "-" after `p`, or text.size().
size_t SwitchNameEnd(std::string_view text, size_t p);

// Reads the switch that begins at or after `p` (after blanks) and moves `p`
// to the character that ended its name; `row` is its entry in kSwitches, or
// nullptr for an unknown name. False when the switch list is over: the end of
// the text, or a token that does not begin with "-".
bool NextSwitch(std::string_view text, size_t& p, const SwitchRow*& row);

enum class NumberStatus { Ok, NotANumber, OutOfRange };

// A decimal number ("+"/"-" sign, digits, optionally "." and more digits) as a
// signed 32-bit integer, fractions rounded to the nearest integer with halves
// to the even one ("2.5" gives 2, "-0.4" gives 0). Exact: no floating point.
NumberStatus ParseNumber(std::string_view token, int32_t& value);

// True when the leading numeric part of `text` (blanks, sign, digits, ".",
// digits; anything after is ignored; none counts as 0) is greater than 0.
bool LeadingValueIsPositive(std::string_view text);

// The value token of -rr, -rl or -vk: blanks skipped from `p`, then up to the next
// blank or the end. False when only blanks remain. `next` is the position after
// the token.
bool ReadValueToken(std::string_view text, size_t p, std::string& token, size_t& next);

// A quoted item: the text after the double quote at `open` up to the closing
// double quote, where a doubled quote ("") stands for one double quote in the
// text. `close` is the position of the closing quote. False (and an empty
// `item`) when no closing quote follows.
bool ReadQuoted(std::string_view text, size_t open, std::string& item, size_t& close);

// `item` in double quotes, every double quote in it doubled: ReadQuoted gives
// it back.
std::string Quoted(std::string_view item);

// `item` as an argument that reads back as written, byte for byte: bare unless
// it is empty, holds a blank or begins with a double quote, else Quoted.
std::string QuoteIfNeeded(std::string_view item);

enum class PathStatus {
  Ok,
  Missing,   // only blanks remain
  BadQuote,  // a closing quote followed by something other than a blank
};

// The path of -r or -v: blanks skipped from `p`; a quoted path is read by
// ReadQuoted (no closing quote: empty path, reading ends) and kept as it
// stands, blanks at its ends included (they belong to the name); otherwise the
// path runs to the next blank or the end. `next` is the position after it.
PathStatus ReadPath(std::string_view text, size_t p, std::string& path, size_t& next);

// One folder of the positional part, read from `p` (not a blank): a quoted
// folder is read by ReadQuoted (no closing quote: empty folder, reading ends)
// and kept as it stands, blanks at its ends included; otherwise the text up to
// the next blank. `next` is the position after it (after the closing quote).
void ReadFolder(std::string_view text, size_t p, std::string& folder, size_t& next);

}  // namespace twinmere::command_line
