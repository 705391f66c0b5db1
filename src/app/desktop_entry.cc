#include "app/desktop_entry.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/command_line_tokens.h"
#include "platform/atomic_file_writer.h"
#include "platform/own_files.h"
#include "report/formats.h"

namespace twinmere {

namespace {

constexpr std::string_view kMainGroup = "Desktop Entry";
constexpr std::string_view kIconIndexKey = "X-Twinmere-IconIndex";
constexpr std::string_view kShowCommandKey = "X-Twinmere-ShowCommand";

// Far more than any launcher holds; a larger file is not read.
constexpr size_t kMaxEntrySize = size_t{1} << 20;

ShortcutStatus Refused(ErrorCode number, std::string text) {
  return ShortcutStatus{number, std::move(text)};
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// Refuses control characters other than tab, newline and carriage return (the
// format has escapes for those three only) and text that is not UTF-8.
ShortcutStatus CheckText(std::string_view what, std::string_view text) {
  for (const char c : text) {
    if (c != '\t' && c != '\n' && c != '\r' && IsControl(static_cast<unsigned char>(c))) {
      return Refused(
          kErrInvalidArgument,
          std::string(what) + " holds a control character, which a desktop entry cannot hold.");
    }
  }
  if (!IsValidUtf8(text))
    return Refused(kErrInvalidText,
                   std::string(what) + " is not UTF-8 text, which a desktop entry needs.");
  return {};
}

// The escapes of the format: "\\", "\n", "\t", "\r", and "\s" for the blanks
// at either end (readers drop blanks around the value).
std::string EscapeValue(std::string_view value) {
  const size_t first = value.find_first_not_of(' ');
  const size_t last = value.find_last_not_of(' ');
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == ' ' && (first == std::string_view::npos || i < first || i > last)) {
      out += "\\s";
    } else {
      out += c;
    }
  }
  return out;
}

// Characters an Exec argument may hold without quotes. The freedesktop
// Desktop Entry Specification reserves fewer, but some desktops hand a line
// that holds other shell characters (globs such as "[") to a shell; quoting
// is always allowed.
bool SafeUnquoted(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("-_./,:+=@%").find(c) != std::string_view::npos;
}

// One argument of Exec: quoted unless every character is safe, with '"', "`",
// "$" and "\" escaped inside the quotes, and "%" doubled.
std::string ExecArgument(std::string_view argument) {
  bool quote = argument.empty();
  for (char c : argument) quote = quote || !SafeUnquoted(c);
  std::string out = quote ? "\"" : "";
  for (char c : argument) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (std::string_view("\"`$\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  if (quote) out += '"';
  return out;
}

// The reserved characters of the Desktop Entry Specification, which Exec may
// hold only inside quotes; a carriage return is refused there too.
bool Reserved(char c) {
  return std::string_view(" \t\n\r\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

// Splits an unescaped Exec value into the program's arguments as the
// freedesktop Desktop Entry Specification says, refusing what it leaves
// undefined.
bool SplitExec(std::string_view exec, std::vector<std::string>& argv, std::string& why) {
  size_t i = 0;
  const size_t n = exec.size();
  while (true) {
    while (i < n && exec[i] == ' ') ++i;
    if (i == n) return true;
    std::string item;
    if (exec[i] == '"') {
      bool closed = false;
      for (++i; i < n && !closed; ++i) {
        const char c = exec[i];
        if (c == '"') {
          closed = true;
        } else if (c == '\\') {
          if (i + 1 == n ||
              std::string_view("\"`$\\").find(exec[i + 1]) == std::string_view::npos) {
            why = "a backslash inside quotes may only escape '\"', '`', '$' or '\\'";
            return false;
          }
          item += exec[++i];
        } else if (c == '`' || c == '$') {
          why = std::string("'") + c + "' inside quotes must be escaped by a backslash";
          return false;
        } else {
          item += c;
        }
      }
      if (!closed) {
        why = "a double quote is not closed";
        return false;
      }
      if (i < n && exec[i] != ' ') {
        why = "a closing double quote is followed by something other than a blank";
        return false;
      }
    } else {
      for (; i < n && exec[i] != ' '; ++i) {
        if (Reserved(exec[i])) {
          why = "a reserved character stands outside double quotes";
          return false;
        }
        item += exec[i];
      }
    }
    std::string plain;
    for (size_t k = 0; k < item.size(); ++k) {
      if (item[k] != '%') {
        plain += item[k];
      } else if (k + 1 < item.size() && item[k + 1] == '%') {
        plain += '%';
        ++k;
      } else {
        why =
            "it holds a field code (a \"%\" that is not doubled), which launchers of this "
            "program never use";
        return false;
      }
    }
    argv.push_back(std::move(plain));
  }
}

// argv[first..] as the started program joins it.
std::string Join(const std::vector<std::string>& items, size_t first) {
  std::vector<const char*> argv{""};
  for (size_t i = first; i < items.size(); ++i) argv.push_back(items[i].c_str());
  return JoinArguments(static_cast<int>(argv.size()), argv.data());
}

// The argument string as the program's arguments: its items, read with the
// command line's own item reader, each written exactly as JoinArguments
// writes it back, so that the started program sees the same string. `fault`
// begins the message of an item that would change.
ShortcutStatus SplitArguments(std::string_view arguments, std::string_view fault,
                              std::vector<std::string>& items) {
  if (ShortcutStatus status = CheckText("The argument string", arguments); !status.ok())
    return status;
  const std::string text = TrimBlanks(arguments);
  size_t p = command_line::SkipBlanks(text, 0);
  while (p < text.size()) {
    std::string item;
    size_t next = p;
    command_line::ReadFolder(text, p, item, next);
    size_t end = next;
    if (end < text.size() && text[end] != ' ') {
      end = text.find(' ', end);
      if (end == std::string::npos) end = text.size();
    }
    const std::string_view written = std::string_view(text).substr(p, end - p);
    const std::string again = Join({"", item}, 1);
    if (end != next || again != written)
      return Refused(kErrInvalidArgument, std::string(fault) + ": the item " +
                                              std::string(written) +
                                              " would reach the program as " + again + ".");
    items.push_back(std::move(item));
    p = command_line::SkipBlanks(text, end);
  }
  return {};
}

ShortcutStatus CheckExecutable(std::string_view executable) {
  if (executable.empty()) return Refused(kErrInvalidArgument, "No executable was given.");
  if (executable.find('=') != std::string_view::npos)
    return Refused(kErrInvalidArgument,
                   "The executable's path holds \"=\", which Exec of a desktop entry "
                   "cannot hold.");
  return CheckText("The executable", executable);
}

// A value of one line, with its line number for messages.
struct RawValue {
  std::string text;
  size_t line = 0;
};

std::string LinePrefix(size_t line) {
  return "Line " + std::to_string(line) + " of the desktop entry: ";
}

bool Unescape(const RawValue& raw, std::string& out, ShortcutStatus& status) {
  out.clear();
  for (size_t i = 0; i < raw.text.size(); ++i) {
    const char c = raw.text[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    const char next = i + 1 < raw.text.size() ? raw.text[i + 1] : '\0';
    switch (next) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        status =
            Refused(kErrInvalidArgument, LinePrefix(raw.line) +
                                             "a backslash that is not one of the escapes \\s, \\n, "
                                             "\\t, \\r or \\\\.");
        return false;
    }
    ++i;
  }
  return true;
}

bool ValidKey(std::string_view key) {
  size_t i = 0;
  while (i < key.size() && ((key[i] >= 'a' && key[i] <= 'z') || (key[i] >= 'A' && key[i] <= 'Z') ||
                            (key[i] >= '0' && key[i] <= '9') || key[i] == '-'))
    ++i;
  if (i == 0) return false;
  if (i == key.size()) return true;
  // A locale: "[" lang_COUNTRY.ENCODING@MODIFIER "]".
  if (key[i] != '[' || key.back() != ']' || i + 2 >= key.size()) return false;
  for (size_t k = i + 1; k + 1 < key.size(); ++k) {
    const char c = key[k];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          std::string_view("_@.-").find(c) != std::string_view::npos))
      return false;
  }
  return true;
}

bool ParseInt(std::string_view text, int32_t& value) {
  size_t i = text.starts_with('-') ? 1 : 0;
  if (i == text.size() || text.size() - i > 10) return false;
  int64_t number = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
  }
  if (text.starts_with('-')) number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  value = static_cast<int32_t>(number);
  return true;
}

}  // namespace

ShortcutStatus SplitLauncherArguments(std::string_view arguments, std::vector<std::string>& items) {
  std::vector<std::string> split;
  ShortcutStatus status = SplitArguments(arguments, "The argument string cannot be carried", split);
  if (status.ok()) items = std::move(split);
  return status;
}

bool HasDesktopEntryExtension(std::string_view name) {
  const std::string_view extension = kDesktopEntryExtension;
  if (name.size() < extension.size()) return false;
  const std::string_view ending = name.substr(name.size() - extension.size());
  return std::equal(ending.begin(), ending.end(), extension.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
}

std::string WithoutDesktopEntryExtension(std::string_view name) {
  if (HasDesktopEntryExtension(name))
    name.remove_suffix(std::string_view(kDesktopEntryExtension).size());
  return std::string(name);
}

ShortcutStatus FormatDesktopEntry(std::string_view name, const ShortcutFields& fields,
                                  std::string& text) {
  if (ShortcutStatus status = CheckExecutable(fields.target_path); !status.ok()) return status;
  std::vector<std::string> items{fields.target_path};
  if (ShortcutStatus status =
          SplitArguments(fields.arguments, "The arguments cannot be stored unchanged", items);
      !status.ok())
    return status;
  for (const auto& [what, value] : {std::pair{"The comment", &fields.description},
                                    std::pair{"The working folder", &fields.working_directory},
                                    std::pair{"The icon file", &fields.icon_file}}) {
    if (ShortcutStatus status = CheckText(what, *value); !status.ok()) return status;
  }

  std::string exec;
  for (const std::string& item : items) {
    if (!exec.empty()) exec += ' ';
    exec += ExecArgument(item);
  }
  std::string out = "[Desktop Entry]\nType=Application\nVersion=1.4\n";
  out += "Name=" + EscapeValue(DisplayText(name)) + '\n';
  if (!fields.description.empty()) out += "Comment=" + EscapeValue(fields.description) + '\n';
  out += "Exec=" + EscapeValue(exec) + '\n';
  if (!fields.working_directory.empty())
    out += "Path=" + EscapeValue(fields.working_directory) + '\n';
  if (!fields.icon_file.empty()) out += "Icon=" + EscapeValue(fields.icon_file) + '\n';
  if (fields.icon_index != 0)
    out += std::string(kIconIndexKey) + '=' + std::to_string(fields.icon_index) + '\n';
  out += std::string(kShowCommandKey) + '=' + std::to_string(fields.show_command) + '\n';
  text = std::move(out);
  return {};
}

ShortcutStatus ParseDesktopEntry(std::string_view text, ShortcutFields& fields) {
  if (!IsValidUtf8(text)) return Refused(kErrInvalidText, "The desktop entry is not UTF-8 text.");

  std::map<std::string, RawValue, std::less<>> values;  // of the main group, unlocalized
  std::set<std::string> groups;
  std::set<std::string> keys;  // of the current group
  std::string group;
  size_t line_number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;

    if (line.front() == '[') {
      while (line.back() == ' ' || line.back() == '\t') line.remove_suffix(1);
      const std::string_view name =
          line.size() < 3 ? std::string_view() : line.substr(1, line.size() - 2);
      if (name.empty() || line.back() != ']' ||
          name.find_first_of("[]") != std::string_view::npos ||
          std::any_of(name.begin(), name.end(),
                      [](char c) { return IsControl(static_cast<unsigned char>(c)); }))
        return Refused(kErrInvalidArgument, LinePrefix(line_number) + "not a valid group header.");
      if (groups.empty() && name != kMainGroup)
        return Refused(kErrInvalidArgument,
                       LinePrefix(line_number) + "the first group must be [Desktop Entry].");
      if (!groups.emplace(name).second)
        return Refused(kErrInvalidArgument, LinePrefix(line_number) + "the group appears twice.");
      group = name;
      keys.clear();
      continue;
    }

    const size_t equal = line.find('=');
    if (equal == std::string_view::npos)
      return Refused(kErrInvalidArgument,
                     LinePrefix(line_number) + "neither a group header, a key nor a comment.");
    std::string_view key = line.substr(0, equal);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    std::string_view value = line.substr(equal + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    if (groups.empty())
      return Refused(kErrInvalidArgument,
                     LinePrefix(line_number) + "a key before the first group.");
    if (!ValidKey(key))
      return Refused(kErrInvalidArgument, LinePrefix(line_number) + "not a valid key.");
    if (!keys.emplace(key).second)
      return Refused(kErrInvalidArgument, LinePrefix(line_number) + "the key " + std::string(key) +
                                              " appears twice in its group.");
    if (group == kMainGroup && key.find('[') == std::string_view::npos)
      values.emplace(std::string(key), RawValue{std::string(value), line_number});
  }
  if (groups.empty())
    return Refused(kErrInvalidArgument, "The file holds no [Desktop Entry] group.");

  ShortcutStatus status;
  std::string type;
  const auto type_value = values.find("Type");
  if (type_value == values.end())
    return Refused(kErrInvalidArgument, "The desktop entry has no Type key.");
  if (!Unescape(type_value->second, type, status)) return status;
  if (type != "Application")
    return Refused(kErrInvalidArgument,
                   "The desktop entry does not start a program (Type is not Application).");

  ShortcutFields read;
  const auto exec_value = values.find("Exec");
  if (exec_value == values.end())
    return Refused(kErrInvalidArgument, "The desktop entry has no Exec key.");
  std::string exec;
  if (!Unescape(exec_value->second, exec, status)) return status;
  std::vector<std::string> argv;
  std::string why;
  if (!SplitExec(exec, argv, why))
    return Refused(kErrInvalidArgument,
                   LinePrefix(exec_value->second.line) + "Exec cannot be read: " + why + ".");
  if (argv.empty())
    return Refused(kErrInvalidArgument, "Exec of the desktop entry names no program.");
  if (status = CheckExecutable(argv[0]); !status.ok()) return status;
  read.target_path = argv[0];
  read.arguments = Join(argv, 1);
  std::vector<std::string> again{argv[0]};
  status = SplitArguments(
      read.arguments, "Exec holds arguments that the program's command line cannot carry unchanged",
      again);
  if (!status.ok()) return status;
  if (again != argv)
    return Refused(kErrInvalidArgument,
                   "Exec holds arguments that the program's command line cannot carry "
                   "unchanged.");

  for (const auto& [key, field, what] :
       {std::tuple{"Comment", &read.description, "The comment"},
        std::tuple{"Path", &read.working_directory, "The working folder"},
        std::tuple{"Icon", &read.icon_file, "The icon file"}}) {
    const auto found = values.find(key);
    if (found == values.end()) continue;
    if (!Unescape(found->second, *field, status)) return status;
    if (status = CheckText(what, *field); !status.ok()) return status;
  }
  for (const auto& [key, field] : {std::pair{kIconIndexKey, &read.icon_index},
                                   std::pair{kShowCommandKey, &read.show_command}}) {
    const auto found = values.find(key);
    if (found == values.end()) continue;
    if (!ParseInt(found->second.text, *field))
      return Refused(kErrInvalidArgument,
                     LinePrefix(found->second.line) + std::string(key) + " is not a whole number.");
  }
  fields = std::move(read);
  return {};
}

ShortcutStatus CreateShortcut(const std::string& shortcut_path, const ShortcutFields& fields) {
  if (shortcut_path.empty()) return Refused(kErrInvalidArgument, "No shortcut file was given.");
  // Menus show the file's name without ".desktop".
  const std::string name =
      WithoutDesktopEntryExtension(shortcut_path.substr(shortcut_path.rfind('/') + 1));
  std::string text;
  if (ShortcutStatus status = FormatDesktopEntry(name, fields, text); !status.ok()) return status;

  // A file that is there already keeps its permissions (a launcher the user
  // made trusted or private stays so); anything else is replaced by a new file.
  // Its temporary name is of the pattern that runs recognise: should the save
  // be killed in a synchronized tree, the leftover is never copied as an item
  // and a later run removes it.
  const ErrorCode error =
      WriteWholeFile(shortcut_path, text,
                     {.mode = 0644, .mode_source = ModeSource::Existing, .flush = FileFlush::Data});
  return error == kSuccess ? ShortcutStatus{} : Refused(error, SystemErrorText(error));
}

ShortcutStatus ReadShortcut(const std::string& shortcut_path, ShortcutFields& fields) {
  // Read without waiting: a FIFO under the name must not hang the dialog.
  std::string text;
  switch (const ErrorCode error =
              ReadSmallFile(shortcut_path, kMaxEntrySize, FinalLink::Follow, text)) {
    case kSuccess:
      return ParseDesktopEntry(text, fields);
    case kErrNotSupported:
      return Refused(kErrInvalidArgument, "The shortcut file is not a regular file.");
    case kErrFileTooLarge:
      return Refused(kErrFileTooLarge,
                     "The shortcut file is larger than 1 MiB, which no launcher is.");
    default:
      return Refused(error, SystemErrorText(error));
  }
}

}  // namespace twinmere
