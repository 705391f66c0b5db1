// The counters of one run, printed by the summary.
#pragma once

#include <cstdint>

namespace twinmere {

// Counts are 32-bit; byte totals and size changes are exact 64-bit values.
struct SessionCounters {
  int32_t FilesCopiedToTarget = 0;
  int64_t BytesCopiedToTarget = 0;
  int32_t FilesReplacedInTarget = 0;
  int64_t BytesReplacedInTarget = 0;
  int64_t SizeChangeInTarget = 0;
  int32_t FilesDeletedInTarget = 0;
  int64_t BytesDeletedInTarget = 0;
  int32_t FileAttributesInTarget = 0;
  int32_t FileSecurityInTarget = 0;
  int32_t FileCaseInTarget = 0;
  int32_t ShortFileNamesInTarget = 0;
  int32_t FoldersCreatedInTarget = 0;
  int32_t FoldersUpdatedInTarget = 0;
  int32_t FoldersRemovedInTarget = 0;
  int32_t FolderAttributesInTarget = 0;
  int32_t FolderSecurityInTarget = 0;
  int32_t FolderCaseInTarget = 0;
  int32_t ShortFolderNamesInTarget = 0;

  int32_t FilesCopiedToSource = 0;
  int64_t BytesCopiedToSource = 0;
  int32_t FilesReplacedInSource = 0;
  int64_t BytesReplacedInSource = 0;
  int64_t SizeChangeInSource = 0;
  int32_t FileAttributesInSource = 0;
  int32_t FileSecurityInSource = 0;
  int32_t FileCaseInSource = 0;
  int32_t ShortFileNamesInSource = 0;
  int32_t FoldersCreatedInSource = 0;
  int32_t FoldersUpdatedInSource = 0;
  int32_t FolderAttributesInSource = 0;
  int32_t FolderSecurityInSource = 0;
  int32_t FolderCaseInSource = 0;
  int32_t ShortFolderNamesInSource = 0;

  int32_t ErrorCount = 0;

  // Items (files, links and folders) that went to the versions folder or
  // the Trash before the run deleted or replaced them.
  int32_t ItemsKept = 0;

  // Items the run left out by their names (patterns): each place below the
  // synchronized folders once, however many times the walks met it, and
  // not what a folder left out holds.
  int32_t ItemsLeftOut = 0;

  bool operator==(const SessionCounters&) const = default;
};

}  // namespace twinmere
