#include "report/action_lines.h"

namespace twinmere {
namespace {

using C = SessionCounters;

constexpr ActionRow kRows[] = {
    {kActionCopy, "Copied:            ", " copying ", ActionShows::Size, &C::FilesCopiedToTarget,
     &C::FilesCopiedToSource, &C::BytesCopiedToTarget, &C::BytesCopiedToSource, nullptr, nullptr},
    {kActionDelete, "Deleted:           ", " deleting ", ActionShows::Size,
     &C::FilesDeletedInTarget, &C::FilesDeletedInTarget, &C::BytesDeletedInTarget,
     &C::BytesDeletedInTarget, nullptr, nullptr},
    {kActionDeleteInPlace, "Deleted:           ", " deleting ", ActionShows::Size,
     &C::FilesDeletedInTarget, &C::FilesDeletedInTarget, &C::BytesDeletedInTarget,
     &C::BytesDeletedInTarget, nullptr, nullptr},
    {kActionCreateFolder, "Created folder:    ", " creating folder ", ActionShows::PathOnly,
     &C::FoldersCreatedInTarget, &C::FoldersCreatedInSource, nullptr, nullptr, nullptr, nullptr},
    {kActionRemoveFolder, "Removed folder:    ", " removing folder ", ActionShows::PathOnly,
     &C::FoldersRemovedInTarget, &C::FoldersRemovedInTarget, nullptr, nullptr, nullptr, nullptr},
    {kActionRemoveFolderInPlace, "Removed folder:    ", " removing folder ", ActionShows::PathOnly,
     &C::FoldersRemovedInTarget, &C::FoldersRemovedInTarget, nullptr, nullptr, nullptr, nullptr},
    {kActionReplace, "Replaced:          ", " replacing ", ActionShows::SizeAndChange,
     &C::FilesReplacedInTarget, &C::FilesReplacedInSource, &C::BytesReplacedInTarget,
     &C::BytesReplacedInSource, &C::SizeChangeInTarget, &C::SizeChangeInSource},
    {kActionFileAttributes, "File attributes:   ", " updating attributes of file ",
     ActionShows::PathOnly, &C::FileAttributesInTarget, &C::FileAttributesInSource, nullptr,
     nullptr, nullptr, nullptr},
    {kActionFileSecurity, "File security:     ", " updating security attributes of file ",
     ActionShows::PathOnly, &C::FileSecurityInTarget, &C::FileSecurityInSource, nullptr, nullptr,
     nullptr, nullptr},
    {kActionFolderProperties, "Folder properties: ", " updating properties of folder ",
     ActionShows::PathOnly, &C::FoldersUpdatedInTarget, &C::FoldersUpdatedInSource, nullptr,
     nullptr, nullptr, nullptr},
    {kActionFolderAttributes, "Folder attributes: ", " updating attributes of folder ",
     ActionShows::PathOnly, &C::FolderAttributesInTarget, &C::FolderAttributesInSource, nullptr,
     nullptr, nullptr, nullptr},
    {kActionFolderSecurity, "Folder security:   ", " updating security attributes of folder ",
     ActionShows::PathOnly, &C::FolderSecurityInTarget, &C::FolderSecurityInSource, nullptr,
     nullptr, nullptr, nullptr},
    {kActionFileShortName, "File short name:   ", " changing short name of file ",
     ActionShows::PathOnly, &C::ShortFileNamesInTarget, &C::ShortFileNamesInSource, nullptr,
     nullptr, nullptr, nullptr},
    {kActionFolderShortName, "Folder short name:  ", " changing short name of folder ",
     ActionShows::PathOnly, &C::ShortFolderNamesInTarget, &C::ShortFolderNamesInSource, nullptr,
     nullptr, nullptr, nullptr},
    {kActionFileCase, "File name case:     ", " renaming ", ActionShows::PathOnly,
     &C::FileCaseInTarget, &C::FileCaseInSource, nullptr, nullptr, nullptr, nullptr},
    {kActionFolderCase, "Folder name case:  ", " renaming folder ", ActionShows::PathOnly,
     &C::FolderCaseInTarget, &C::FolderCaseInSource, nullptr, nullptr, nullptr, nullptr},
};

constexpr ActionRow kUnknownRow = {ActionCode{0}, "???:               ",
                                   " ??? ",       ActionShows::PathOnly,
                                   nullptr,       nullptr,
                                   nullptr,       nullptr,
                                   nullptr,       nullptr};

std::string Quoted(std::string_view path) {
  std::string quoted;
  quoted.reserve(path.size() + 2);
  quoted += '"';
  quoted += DisplayPath(path);
  quoted += '"';
  return quoted;
}

std::string ErrorLine(ErrorCode code, std::string_view verb, std::string_view path) {
  return "Error " + std::to_string(code) + std::string(verb) + Quoted(path) + ". " +
         GetSystemErrorText(code);
}

}  // namespace

std::span<const ActionRow> ActionRows() {
  return kRows;
}

const ActionRow& FindActionRow(ActionCode code) {
  for (const ActionRow& row : kRows) {
    if (row.code == code) return row;
  }
  return kUnknownRow;
}

std::string GetSystemErrorText(ErrorCode code) {
  std::string text = SystemErrorText(code);
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
    text.resize(text.size() - 2);
  } else if (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  return text;
}

std::string ActionErrorLine(ErrorCode error, ActionCode code, std::string_view path) {
  return ErrorLine(error, FindActionRow(code).verb, path);
}

std::string ActionSuccessLine(ActionCode code, std::string_view path, int64_t size,
                              int64_t size_change, const Separators& seps) {
  const ActionRow& row = FindActionRow(code);
  std::string line(row.label);
  line += '\t';
  line += Quoted(path);
  switch (row.shows) {
    case ActionShows::SizeAndChange:
      line += "  ";
      line += FormatSize(size, SizeFormat::Plain, seps);
      line += " (";
      line += FormatSize(size_change, SizeFormat::Signed, seps);
      line += ").";
      break;
    case ActionShows::Size:
      line += "  ";
      line += FormatSize(size, SizeFormat::Plain, seps);
      line += '.';
      break;
    case ActionShows::PathOnly:
      line += ".";
      break;
  }
  return line;
}

void CountAction(SessionCounters& counters, ActionCode code, bool source_side, int64_t size,
                 int64_t size_change) {
  const ActionRow& row = FindActionRow(code);
  if (auto count = source_side ? row.source_count : row.target_count) counters.*count += 1;
  if (auto bytes = source_side ? row.source_bytes : row.target_bytes) counters.*bytes += size;
  if (auto change = source_side ? row.source_change : row.target_change) {
    counters.*change += size_change;
  }
}

std::string AccessErrorLine(std::string_view path, ErrorCode code) {
  return ErrorLine(code, " accessing ", path);
}

std::string SecurityErrorLine(std::string_view path, ErrorCode code) {
  return ErrorLine(code, " accessing security information of ", path);
}

}  // namespace twinmere
