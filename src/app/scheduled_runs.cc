#include "app/scheduled_runs.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/desktop_entry.h"
#include "app/shortcuts.h"
#include "base/text.h"
#include "fs/paths.h"
#include "report/formats.h"

namespace twinmere {
namespace {

// A unit name has at most this many bytes, its suffix included.
constexpr size_t kMaxUnitName = 255;

DialogMessage Refusal(std::string text) {
  return DialogMessage{std::move(text), MessageIcon::Exclamation, kHelpShortcutDialog};
}

std::string Hex(unsigned char c) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", c);
  return text;
}

// `text` in double quotes with the C escapes of a unit file; `doubled` lists
// the characters that systemd would expand and so are written twice.
std::string QuotedWord(std::string_view text, std::string_view doubled) {
  std::string word = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\' || c == '"') {
      word += '\\';
      word += static_cast<char>(c);
      ++i;
    } else if (doubled.find(static_cast<char>(c)) != std::string_view::npos) {
      word.append(2, static_cast<char>(c));
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      word += Hex(c);
      ++i;
    } else if (const size_t length = Utf8SequenceAt(text, i); length > 0) {
      word.append(text.substr(i, length));
      i += length;
    } else {
      word += Hex(c);  // a byte that is not UTF-8
      ++i;
    }
  }
  return word + "\"";
}

// What the name of a launcher shows as in a unit's description: printable
// (as reports show names) and free of systemd's specifiers.
std::string DescriptionName(std::string_view launcher) {
  std::string name = WithoutDesktopEntryExtension(launcher.substr(launcher.rfind('/') + 1));
  std::string shown;
  for (const char c : DisplayText(name)) {
    shown += c;
    if (c == '%') shown += '%';
  }
  return "\"" + shown + "\"";
}

bool IsAbsoluteOrEmpty(const std::string& path) {
  return path.empty() || path.starts_with('/');
}

}  // namespace

std::string_view ScheduleName(RunSchedule schedule) {
  switch (schedule) {
    case RunSchedule::Never:
      return "never";
    case RunSchedule::Hourly:
      return "hourly";
    case RunSchedule::Daily:
      return "daily";
    case RunSchedule::Weekly:
      return "weekly";
  }
  return "never";
}

std::string UserUnitFolder(const UserFolders& folders) {
  return folders.config.empty() ? std::string() : folders.config + "/systemd/user";
}

std::string SystemdEscape(std::string_view text) {
  std::string escaped;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == ':' || c == '_' || (c == '.' && i > 0);
    if (c == '/') {
      escaped += '-';
    } else if (plain) {
      escaped += static_cast<char>(c);
    } else {
      escaped += Hex(c);
    }
  }
  return escaped;
}

std::string ScheduledUnitName(const std::string& launcher_path) {
  const std::string file = launcher_path.substr(launcher_path.rfind('/') + 1);
  const std::string name = kScheduledUnitPrefix + SystemdEscape(WithoutDesktopEntryExtension(file));
  if (name.size() + std::string_view(".service").size() > kMaxUnitName) return {};
  return name;
}

std::optional<std::string> ExecProgramWord(std::string_view path) {
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\'' || c == '\\' || byte < 0x20 || byte == 0x7F) return std::nullopt;
  }
  if (path.empty()) return std::nullopt;
  return QuotedWord(path, "%");
}

std::string ExecArgumentWord(std::string_view argument) {
  return QuotedWord(argument, "%$");
}

std::optional<std::string> ReadExecArgumentWord(std::string_view word) {
  if (word.size() < 2 || word.front() != '"' || word.back() != '"') return std::nullopt;
  word = word.substr(1, word.size() - 2);
  std::string text;
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    const char next = i + 1 < word.size() ? word[i + 1] : '\0';
    if (c == '%' || c == '$') {
      if (next != c) return std::nullopt;
      text += c;
      ++i;
    } else if (c == '"') {
      return std::nullopt;
    } else if (c != '\\') {
      text += c;
    } else if (next == '\\' || next == '"') {
      text += next;
      ++i;
    } else if (next == 'x' && i + 3 < word.size() && hex(word[i + 2]) >= 0 &&
               hex(word[i + 3]) >= 0) {
      text += static_cast<char>(hex(word[i + 2]) * 16 + hex(word[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return text;
}

std::optional<DialogMessage> FormatScheduledUnits(const ScheduleRequest& request, FileSystem& fs,
                                                  ScheduledUnitTexts& texts) {
  const std::optional<std::string> program = ExecProgramWord(request.cli_path);
  if (!program)
    return Refusal("A scheduled run cannot start \"" + DisplayPath(request.cli_path) +
                   "\": systemd does not take quotes, backslashes or control characters in the "
                   "path of a program.");
  const std::string name = ScheduledUnitName(request.launcher);
  if (name.empty())
    return Refusal("The launcher's name is too long for the name of a scheduled run.");

  std::vector<std::string> items;
  if (const ShortcutStatus status = SplitLauncherArguments(request.arguments, items); !status.ok())
    return Refusal("A scheduled run cannot be made of this command line.\n\n" + status.text);
  // The run must be one that twinmere-cli takes, and that means the same
  // from the service manager's working folder.
  SyncOptions options;
  const CommandLineContext reading{fs, "/state", kDefaultReportLevel};
  if (!ParseCommandLine(TrimBlanks(request.arguments), options, reading).valid ||
      options.Source.empty() || options.Target.empty())
    return Refusal(
        "A scheduled run needs a valid command line that names both folders, the Source folder "
        "and the Target folder.");
  for (const std::string* path : {&options.Source, &options.Target, &options.Report,
                                  &options.JsonSummary, &options.Versions}) {
    if (!IsAbsoluteOrEmpty(*path))
      return Refusal("A scheduled run does not start in this folder: \"" + DisplayPath(*path) +
                     "\" needs its full path, from \"/\" on.");
  }

  std::string exec = "ExecStart=" + *program;
  for (const std::string& item : items) exec += " " + ExecArgumentWord(item);
  const std::string launcher_key = "X-Twinmere-Launcher=" + ExecArgumentWord(request.launcher);
  const std::string shown = DescriptionName(request.launcher);
  const std::string schedule(ScheduleName(request.schedule));

  texts.name = name;
  texts.service =
      "# Written by Twinmere: runs the synchronization of the launcher below with\n"
      "# twinmere-cli. Saving the launcher again or Preferences changes or removes it.\n"
      "[Unit]\n"
      "Description=Twinmere: the launcher " +
      shown + "\n" + launcher_key +
      "\n"
      "\n"
      "[Service]\n"
      "Type=oneshot\n" +
      exec + "\n";
  texts.timer = "# Written by Twinmere: starts " + name + ".service " + schedule +
                "; a run missed while\n"
                "# the computer was off or the user away happens at the next start.\n"
                "[Unit]\n"
                "Description=Twinmere: the launcher " +
                shown + ", " + schedule + "\n" + launcher_key +
                "\n"
                "\n"
                "[Timer]\n"
                "OnCalendar=" +
                schedule +
                "\n"
                "Persistent=true\n"
                "\n"
                "[Install]\n"
                "WantedBy=timers.target\n";
  return std::nullopt;
}

}  // namespace twinmere
