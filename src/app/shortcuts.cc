#include "app/shortcuts.h"

#include "app/command_line.h"
#include "app/command_line_tokens.h"
#include "app/desktop_entry.h"
#include "base/version.h"
#include "fs/paths.h"
#include "platform/errors.h"
#include "platform/platform_facts.h"
#include "report/formats.h"

namespace twinmere {

namespace {

DialogMessage Warning(std::string text, int help_topic) {
  return DialogMessage{std::move(text), MessageIcon::Exclamation, help_topic};
}

std::string Maximum(size_t limit) {
  return "exceeds allowable maximum of " + std::to_string(limit) + " symbols.";
}

// A folder that a file can be written into: an existing folder or a link,
// which the writing follows (a link that leads nowhere fails there).
bool FolderReady(FileSystem& fs, const std::string& folder) {
  if (folder.empty()) return true;  // the root
  ItemInfo info;
  return fs.Lookup(folder, info) == kSuccess && info.kind != ItemKind::File;
}

// Makes `folder` (no trailing "/") and its missing parents. Failures are
// left to the caller's own attempt, which reports them.
void MakeFolders(FileSystem& fs, const std::string& folder) {
  if (folder.empty() || FolderReady(fs, folder)) return;
  MakeFolders(fs, ParentFolder(folder));
  (void)fs.CreateFolder(folder);
}

}  // namespace

std::optional<DialogMessage> ReadShortcutOptions(const std::string& shortcut_path,
                                                 const ShortcutOptionsContext& context,
                                                 OptionsDialogState& state,
                                                 ShortcutMemory& memory) {
  if (kBuiltForWindows) return Warning(kLaunchersNotSupported, kHelpReadShortcut);
  ShortcutFields fields;
  const ShortcutStatus status = ReadShortcut(shortcut_path, fields);
  if (!status.ok())
    return Warning("Error reading shortcut file.\n\n" + status.text, kHelpReadShortcut);
  const std::string executable = fields.target_path.substr(fields.target_path.rfind('/') + 1);
  if (executable != context.program_name) return Warning("Wrong shortcut file.", kHelpReadShortcut);

  OptionsDialogState read =
      ReadCommandLineIntoDialog(fields.arguments, context.state_folder,
                                context.default_report_level, context.default_versions_keep);
  // The launcher starts the program in its working folder: relative paths
  // name what they name from there.
  for (std::string* path :
       {&read.txtSource, &read.txtTarget, &read.txtReport, &read.txtJson, &read.txtVersions})
    *path = AbsolutePath(*path, fields.working_directory);
  read.chkNoSecurity.enabled = state.chkNoSecurity.enabled;
  read.chkAllowDecryption.enabled = state.chkAllowDecryption.enabled;
  state = read;
  memory.LastShortcutFile = shortcut_path;
  memory.LastShortcutComment = fields.description;
  return std::nullopt;
}

bool IsShortcutDrop(FileSystem& fs, const std::string& path) {
  return HasDesktopEntryExtension(path) && !FolderExists(fs, path, FinalLink::NotFollowed);
}

std::string ProgramPath(const std::string& install_folder) {
  return AddSeparator(install_folder) + kProgramExecutableName;
}

std::string DefaultShortcutComment(const SyncOptions& options) {
  if (options.Source.empty() || options.Target.empty()) return "Launch Twinmere";
  return "Synchronize \"" + options.Target + "\" with \"" + options.Source + "\"";
}

std::string DefaultShortcutFile(FileSystem& fs, const std::string& folder) {
  const std::string base = folder + kDefaultShortcutName;
  const std::string first = base + kDesktopEntryExtension;
  std::string candidate = first;
  for (uint32_t n = 1; GetAttributes(fs, candidate) != kInvalidAttributes; ++n) {
    if (n > UINT16_MAX) return first;
    candidate = base + "(" + std::to_string(n) + ")" + kDesktopEntryExtension;
  }
  return candidate;
}

void SplitShortcutPath(const std::string& path, ShortcutDialogFields& fields) {
  const std::string stem = WithoutDesktopEntryExtension(path);
  fields.txtPath = FolderPart(stem);
  fields.txtFilename = stem.substr(fields.txtPath.size());
}

ShortcutDialogFields LoadShortcutDialog(const SyncOptions& dialog_options,
                                        const ShortcutMemory& memory,
                                        const ShortcutDialogContext& context) {
  // A launcher is started from another folder than this process's: its
  // paths must not depend on where it starts.
  SyncOptions options = dialog_options;
  const std::string here = WorkingFolder();
  for (std::string* path :
       {&options.Source, &options.Target, &options.Report, &options.JsonSummary, &options.Versions})
    *path = AbsolutePath(*path, here);

  ShortcutDialogFields fields;
  if (memory.LastShortcutFile.empty()) {
    fields.txtTitle = DefaultShortcutComment(options);
    SplitShortcutPath(DefaultShortcutFile(context.file_system, context.shortcut_folder), fields);
  } else {
    fields.txtTitle = memory.LastShortcutComment;
    SplitShortcutPath(memory.LastShortcutFile, fields);
  }
  fields.txtCmdline = BuildLauncherCommandLine(
      context.program_path, options, context.default_report_level, context.default_versions_keep);
  fields.cboSchedule = ShownSchedule(fields, context);
  return fields;
}

RunSchedule ShownSchedule(const ShortcutDialogFields& fields,
                          const ShortcutDialogContext& context) {
  if (context.schedule == nullptr) return RunSchedule::Never;
  return ScheduleOfLauncher(context.schedule->unit_folder, ProposedShortcutFile(fields, context));
}

std::string ProposedShortcutFile(const ShortcutDialogFields& fields,
                                 const ShortcutDialogContext& context) {
  std::string folder = TrimBlanks(fields.txtPath);
  folder = folder.empty() ? context.shortcut_folder : AddSeparator(folder);
  const std::string name = TrimBlanks(fields.txtFilename);
  if (name.empty()) return DefaultShortcutFile(context.file_system, folder);
  return folder + name + (HasDesktopEntryExtension(name) ? "" : kDesktopEntryExtension);
}

SaveOutcome SaveShortcut(const ShortcutDialogFields& fields, const ShortcutDialogContext& context,
                         ShortcutMemory& memory, ShortcutSaveQuestions& questions) {
  const auto stop = [&questions](std::string text, int help_topic) {
    questions.Show(Warning(std::move(text), help_topic));
    return SaveOutcome::KeepOpen;
  };
  if (kBuiltForWindows) return stop(kLaunchersNotSupported, kHelpShortcutDialog);

  // The executable is read as the command line reads an item, so that the
  // program's own quoting of its path is understood.
  const std::string command = TrimBlanks(fields.txtCmdline);
  std::string executable;
  size_t next = 0;
  command_line::ReadFolder(command, 0, executable, next);
  if (executable.empty()) return stop("Invalid command line", kHelpShortcutDialog);
  const std::string arguments = TrimBlanks(std::string_view(command).substr(next));

  const std::string name = TrimBlanks(fields.txtFilename);
  std::string path = TrimBlanks(fields.txtPath);
  if (path.empty() || path.back() != kSeparator) path += kSeparator;
  path += name;
  if (!name.empty() && !HasDesktopEntryExtension(name)) path += kDesktopEntryExtension;
  memory.LastShortcutFile = path;

  const std::string comment = TrimBlanks(fields.txtTitle);
  memory.LastShortcutComment = comment;

  if (path.size() > kMaxShortcutPath)
    return stop("The  " + Maximum(kMaxShortcutPath), kHelpShortcutLimits);

  if (const uint32_t attributes = GetAttributes(context.file_system, path);
      attributes != kInvalidAttributes) {
    if (attributes & kAttrFolder)
      return stop("Invalid shortcut filename: The folder with same name already exists.",
                  kHelpShortcutLimits);
    if (!questions.Ask(DialogMessage{"The shortcut with same filename already exists. Owerwrite?",
                                     MessageIcon::Information, kHelpShortcutLimits}))
      return SaveOutcome::KeepOpen;
  }

  if (executable.size() > kMaxExecutablePath)
    return stop("The full path to the executable file " + Maximum(kMaxExecutablePath),
                kHelpShortcutLimits);
  if (Utf8Length(arguments) > kMaxArgumentsCharacters)
    return stop("The length of the arguments string " + Maximum(kMaxArgumentsCharacters),
                kHelpShortcutLimits);
  if (Utf8Length(comment) > kMaxCommentCharacters)
    return stop("The length of the comment string " + Maximum(kMaxCommentCharacters),
                kHelpShortcutLimits);

  ShortcutFields entry;
  entry.target_path = executable;
  entry.arguments = arguments;
  entry.description = comment;
  entry.show_command = kShowShow;
  // The menus show the launcher with the program's own icon.
  entry.icon_file = kIconName;
  // Relative paths typed into the command line mean what they mean here, in
  // this process's working folder: the launcher starts the program there.
  const OptionsDialogState named = ReadCommandLineIntoDialog(arguments, "", kDefaultReportLevel);
  for (const std::string* path :
       {&named.txtSource, &named.txtTarget, &named.txtReport, &named.txtJson, &named.txtVersions}) {
    if (!path->empty() && !path->starts_with(kSeparator)) entry.working_directory = WorkingFolder();
  }
  std::string text;
  if (const ShortcutStatus status = FormatDesktopEntry(name, entry, text); !status.ok())
    return stop("Error creating shortcut.\n\n" + status.text, kHelpShortcutDialog);

  ScheduleRequest schedule{path, arguments, FolderPart(context.program_path) + kCliExecutableName,
                           fields.cboSchedule};
  if (context.schedule != nullptr) {
    if (const std::optional<DialogMessage> refused =
            CheckSchedule(schedule, context.file_system, *context.schedule))
      return stop(refused->text, refused->help_topic);
  }

  const std::string folder = path.substr(0, path.rfind(kSeparator));
  const std::string programs = RemoveSeparator(context.programs_folder);
  if (!programs.empty() && programs != "/" && (folder + "/").starts_with(programs + "/"))
    MakeFolders(context.file_system, programs);
  if (!FolderReady(context.file_system, folder)) {
    if (const ErrorCode code = context.file_system.CreateFolder(folder); code != kSuccess)
      return stop("Error " + std::to_string(code) + " creating folder \"" + DisplayPath(folder) +
                      "\".\n\n" + SystemErrorText(code),
                  kHelpShortcutDialog);
  }

  if (const ShortcutStatus status = CreateShortcut(path, entry); !status.ok()) {
    questions.Show(Warning("Error creating shortcut.\n\n" + status.text, kHelpShortcutDialog));
  } else if (context.schedule != nullptr) {
    if (const std::optional<DialogMessage> message =
            ApplySchedule(schedule, context.file_system, *context.schedule))
      questions.Show(*message);
  }
  return SaveOutcome::Close;
}

}  // namespace twinmere
