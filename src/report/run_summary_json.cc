#include "report/run_summary_json.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <nlohmann/json.hpp>

#include "base/version.h"
#include "platform/atomic_file_writer.h"
#include "platform/local_time.h"
#include "platform/own_files.h"
#include "platform/path_syntax.h"
#include "report/action_lines.h"
#include "report/formats.h"

namespace twinmere {
namespace {

// Fields keep the order they are written in, so that the file reads well.
using Json = nlohmann::ordered_json;

constexpr char kFormatName[] = "twinmere-run-summary";

// The number of fields of the aggregate T: the most initializers T{...}
// takes. It keeps the document's lists below complete when a record grows.
struct AnyField {
  template <class T>
  operator T() const;  // only named in unevaluated checks
};
template <class T, class... Fields>
constexpr size_t FieldCount() {
  if constexpr (requires { T{Fields{}..., AnyField{}}; }) {
    return FieldCount<T, Fields..., AnyField>();
  } else {
    return sizeof...(Fields);
  }
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (const size_t rest = bytes.size() - i; rest > 0) {
    uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Bytes as the document holds them: a string when they are UTF-8 text, else
// {"base64": ...}. The JSON writer is never handed anything but UTF-8.
Json Bytes(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return Json(std::string(bytes));
  return Json{{"base64", Base64(bytes)}};
}

std::string_view Outcome(int exit_code) {
  if (exit_code == 17) return "invalid_command_line";
  if (exit_code >= 18) return "refused";
  return (exit_code & 1) != 0 ? "stopped" : "completed";
}

// A list of byte strings.
Json Texts(const std::vector<std::string>& texts) {
  Json list = Json::array();
  for (const std::string& text : texts) list.push_back(Bytes(text));
  return list;
}

// Every field of the options record, under its own name. A field added to
// the record belongs here too (and in the schema's "options").
Json Options(const SyncOptions& o) {
  static_assert(FieldCount<SyncOptions>() == 27,
                "a new field of SyncOptions needs its place in the JSON summary and its schema");
  return Json{
      {"Source", Bytes(o.Source)},
      {"Target", Bytes(o.Target)},
      {"ExcludeSubfolders", o.ExcludeSubfolders},
      {"Bidi", o.Bidi},
      {"Delete", o.Delete},
      {"New", o.New},
      {"Case", o.Case},
      {"NoDaylight", o.NoDaylight},
      {"NoSecurity", o.NoSecurity},
      {"AllowDecryption", o.AllowDecryption},
      {"Start", o.Start},
      {"Minimized", o.Minimized},
      {"Quiet", o.Quiet},
      {"QuickStart", o.QuickStart},
      {"DisallowStop", o.DisallowStop},
      {"Preview", o.Preview},
      {"ForceDelete", o.ForceDelete},
      {"Report", Bytes(o.Report)},
      {"Append", o.Append},
      {"Restriction", o.Restriction},
      {"ReportLevel", o.ReportLevel},
      {"JsonSummary", Bytes(o.JsonSummary)},
      {"Versions", Bytes(o.Versions)},
      {"VersionsKeep", o.VersionsKeep},
      {"Trash", o.Trash},
      {"LeaveOut", Texts(o.LeaveOut)},
      {"LeaveOutFiles", Texts(o.LeaveOutFiles)},
  };
}

// Every summary counter, under its own name.
Json Counters(const SessionCounters& c) {
  static_assert(FieldCount<SessionCounters>() == 36,
                "a new summary counter needs its place in the JSON summary and its schema");
  return Json{
      {"FilesCopiedToTarget", c.FilesCopiedToTarget},
      {"BytesCopiedToTarget", c.BytesCopiedToTarget},
      {"FilesReplacedInTarget", c.FilesReplacedInTarget},
      {"BytesReplacedInTarget", c.BytesReplacedInTarget},
      {"SizeChangeInTarget", c.SizeChangeInTarget},
      {"FilesDeletedInTarget", c.FilesDeletedInTarget},
      {"BytesDeletedInTarget", c.BytesDeletedInTarget},
      {"FileAttributesInTarget", c.FileAttributesInTarget},
      {"FileSecurityInTarget", c.FileSecurityInTarget},
      {"FileCaseInTarget", c.FileCaseInTarget},
      {"ShortFileNamesInTarget", c.ShortFileNamesInTarget},
      {"FoldersCreatedInTarget", c.FoldersCreatedInTarget},
      {"FoldersUpdatedInTarget", c.FoldersUpdatedInTarget},
      {"FoldersRemovedInTarget", c.FoldersRemovedInTarget},
      {"FolderAttributesInTarget", c.FolderAttributesInTarget},
      {"FolderSecurityInTarget", c.FolderSecurityInTarget},
      {"FolderCaseInTarget", c.FolderCaseInTarget},
      {"ShortFolderNamesInTarget", c.ShortFolderNamesInTarget},
      {"FilesCopiedToSource", c.FilesCopiedToSource},
      {"BytesCopiedToSource", c.BytesCopiedToSource},
      {"FilesReplacedInSource", c.FilesReplacedInSource},
      {"BytesReplacedInSource", c.BytesReplacedInSource},
      {"SizeChangeInSource", c.SizeChangeInSource},
      {"FileAttributesInSource", c.FileAttributesInSource},
      {"FileSecurityInSource", c.FileSecurityInSource},
      {"FileCaseInSource", c.FileCaseInSource},
      {"ShortFileNamesInSource", c.ShortFileNamesInSource},
      {"FoldersCreatedInSource", c.FoldersCreatedInSource},
      {"FoldersUpdatedInSource", c.FoldersUpdatedInSource},
      {"FolderAttributesInSource", c.FolderAttributesInSource},
      {"FolderSecurityInSource", c.FolderSecurityInSource},
      {"FolderCaseInSource", c.FolderCaseInSource},
      {"ShortFolderNamesInSource", c.ShortFolderNamesInSource},
      {"ErrorCount", c.ErrorCount},
      {"ItemsKept", c.ItemsKept},
      {"ItemsLeftOut", c.ItemsLeftOut},
  };
}

Json Errors(const std::vector<RunError>& errors) {
  Json list = Json::array();
  for (const RunError& error : errors) {
    Json entry{{"code", error.code}, {"action", RunErrorActionName(error.action)}};
    if (error.action > 0) entry["action_code"] = error.action;
    entry["path"] = Bytes(error.path);
    entry["text"] = Bytes(GetSystemErrorText(error.code));
    list.push_back(std::move(entry));
  }
  return list;
}

// Makes the missing folders above `path`'s final name; failures are left to
// the write that follows, which reports them.
void MakeParentFolders(const std::string& path) {
  for (size_t slash = path.find('/', std::max<size_t>(PathRootLength(path), 1));
       slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (folder.back() == '/') continue;
    PathFacts facts;
    if (LookUpPath(folder, FinalLink::Itself, facts) == kSuccess) continue;
    if (const ErrorCode code = MakeFolder(folder, 0777);
        code != kSuccess && code != kErrAlreadyExists)
      return;
  }
}

}  // namespace

std::string_view RunErrorActionName(ActionCode action) {
  switch (action) {
    case kAccessErrorAction:
      return "access";
    case kSecurityErrorAction:
      return "access_security";
    case kGuardErrorAction:
      return "deletion_guard";
    case kTrashErrorAction:
      return "trash";
    case kRemoveVersionsErrorAction:
      return "remove_versions";
    case kVersionsFolderErrorAction:
      return "versions_folder";
    case kActionCopy:
      return "copy";
    case kActionDelete:
    case kActionDeleteInPlace:
      return "delete";
    case kActionCreateFolder:
      return "create_folder";
    case kActionRemoveFolder:
    case kActionRemoveFolderInPlace:
      return "remove_folder";
    case kActionReplace:
      return "replace";
    case kActionFileAttributes:
      return "file_attributes";
    case kActionFileSecurity:
      return "file_security";
    case kActionFolderProperties:
      return "folder_properties";
    case kActionFolderAttributes:
      return "folder_attributes";
    case kActionFolderSecurity:
      return "folder_security";
    case kActionFileShortName:
      return "file_short_name";
    case kActionFolderShortName:
      return "folder_short_name";
    case kActionFileCase:
      return "file_case";
    case kActionFolderCase:
      return "folder_case";
    default:
      return "unknown";
  }
}

std::string Iso8601LocalTime(double epoch_seconds) {
  const auto seconds = static_cast<int64_t>(std::floor(epoch_seconds));
  CalendarTime t;
  if (!ToLocalTime(seconds, t)) ToUtcTime(seconds, t);
  const int offset_minutes = static_cast<int>(t.utc_offset / 60);
  const int magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char text[80];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                offset_minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

ErrorCode FormatRunSummary(const RunSummary& s, std::string& text) {
  try {
    Json doc{
        {"format", kFormatName},
        {"format_version", kRunSummaryFormatVersion},
        {"program", {{"name", kProgramTitle}, {"version", kVersion}}},
        {"start_time", Iso8601LocalTime(s.start_time)},
        {"end_time", Iso8601LocalTime(s.end_time)},
        {"elapsed_seconds", std::round(std::max(0.0, s.end_time - s.start_time) * 1000) / 1000},
        {"exit_code", s.exit_code},
        {"outcome", Outcome(s.exit_code)},
    };
    if (s.exit_code >= 17) doc["message"] = Bytes(s.message);
    doc["arguments"] = Bytes(s.arguments);
    doc["command_line"] = Bytes(s.command_line);
    doc["options"] = Options(s.options);
    doc["security_support"] = s.security_support;
    doc["operating_system"] = Bytes(s.facts.OsText);
    doc["administrative_privileges"] = s.facts.IsAdmin;
    doc["counters"] = Counters(s.counters);
    doc["errors"] = Errors(s.errors);
    doc["errors_omitted"] = s.errors_omitted;
    text = doc.dump(2) + "\n";
    return kSuccess;
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  } catch (const nlohmann::json::exception&) {
    // Not reached: every string is checked to be UTF-8 before it goes in.
    return kErrInvalidText;
  }
}

ErrorCode WriteRunSummary(const std::string& path, std::string_view text) {
  MakeParentFolders(path);
  return WriteWholeFile(
      path, text, {.mode = 0644, .mode_source = ModeSource::Existing, .flush = FileFlush::Data});
}

}  // namespace twinmere
