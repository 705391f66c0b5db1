#include "report/action_lines.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/path_syntax.h"

namespace twinmere {
namespace {

// A path in double quotes as the lines show it (with "\" between names on
// Windows).
std::string Quoted(const std::string& path) {
  return "\"" + ShownSeparators(path) + "\"";
}

using C = SessionCounters;

const Separators kDefaults;

// The counters each row moves: count, bytes and size change on the Target
// side and on the Source side.
struct Row {
  int code;
  const char* label;
  const char* verb;
  int32_t C::*target_count;
  int32_t C::*source_count;
  int64_t C::*target_bytes;
  int64_t C::*source_bytes;
  const char* shows;  // what follows the quoted path for size 2048, change -512
};

const Row kRows[] = {
    {1, "Copied:            ", " copying ", &C::FilesCopiedToTarget, &C::FilesCopiedToSource,
     &C::BytesCopiedToTarget, &C::BytesCopiedToSource, "  2.000 Kbytes."},
    {2, "Deleted:           ", " deleting ", &C::FilesDeletedInTarget, &C::FilesDeletedInTarget,
     &C::BytesDeletedInTarget, &C::BytesDeletedInTarget, "  2.000 Kbytes."},
    {34, "Deleted:           ", " deleting ", &C::FilesDeletedInTarget, &C::FilesDeletedInTarget,
     &C::BytesDeletedInTarget, &C::BytesDeletedInTarget, "  2.000 Kbytes."},
    {17, "Created folder:    ", " creating folder ", &C::FoldersCreatedInTarget,
     &C::FoldersCreatedInSource, nullptr, nullptr, "."},
    {18, "Removed folder:    ", " removing folder ", &C::FoldersRemovedInTarget,
     &C::FoldersRemovedInTarget, nullptr, nullptr, "."},
    {50, "Removed folder:    ", " removing folder ", &C::FoldersRemovedInTarget,
     &C::FoldersRemovedInTarget, nullptr, nullptr, "."},
    {33, "Replaced:          ", " replacing ", &C::FilesReplacedInTarget, &C::FilesReplacedInSource,
     &C::BytesReplacedInTarget, &C::BytesReplacedInSource, "  2.000 Kbytes (-512 bytes)."},
    {36, "File attributes:   ", " updating attributes of file ", &C::FileAttributesInTarget,
     &C::FileAttributesInSource, nullptr, nullptr, "."},
    {40, "File security:     ", " updating security attributes of file ", &C::FileSecurityInTarget,
     &C::FileSecurityInSource, nullptr, nullptr, "."},
    {49, "Folder properties: ", " updating properties of folder ", &C::FoldersUpdatedInTarget,
     &C::FoldersUpdatedInSource, nullptr, nullptr, "."},
    {52, "Folder attributes: ", " updating attributes of folder ", &C::FolderAttributesInTarget,
     &C::FolderAttributesInSource, nullptr, nullptr, "."},
    {56, "Folder security:   ", " updating security attributes of folder ",
     &C::FolderSecurityInTarget, &C::FolderSecurityInSource, nullptr, nullptr, "."},
    {96, "File short name:   ", " changing short name of file ", &C::ShortFileNamesInTarget,
     &C::ShortFileNamesInSource, nullptr, nullptr, "."},
    {112, "Folder short name:  ", " changing short name of folder ", &C::ShortFolderNamesInTarget,
     &C::ShortFolderNamesInSource, nullptr, nullptr, "."},
    {161, "File name case:     ", " renaming ", &C::FileCaseInTarget, &C::FileCaseInSource, nullptr,
     nullptr, "."},
    {177, "Folder name case:  ", " renaming folder ", &C::FolderCaseInTarget,
     &C::FolderCaseInSource, nullptr, nullptr, "."},
};

TEST(ActionLinesTest, EveryCodeHasItsLabelVerbAndShownValues) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(ActionSuccessLine(ActionCode{row.code}, "/t/x", 2048, -512, kDefaults),
              std::string(row.label) + "\t" + Quoted("/t/x") + row.shows);
    EXPECT_EQ(ActionErrorLine(kErrAccessDenied, ActionCode{row.code}, "/t/x"),
              "Error " + std::to_string(kErrAccessDenied) + row.verb + Quoted("/t/x") + ". " +
                  SystemErrorText(kErrAccessDenied));
  }
}

TEST(ActionLinesTest, EverySuccessMovesOnlyItsOwnCountersOnItsSide) {
  for (const Row& row : kRows) {
    for (bool source : {false, true}) {
      SCOPED_TRACE(::testing::Message() << row.code << (source ? " source" : " target"));
      SessionCounters counters;
      CountAction(counters, ActionCode{row.code}, source, 2048, -512);
      SessionCounters expected;
      expected.*(source ? row.source_count : row.target_count) = 1;
      if (auto bytes = source ? row.source_bytes : row.target_bytes) expected.*bytes = 2048;
      if (row.code == kActionReplace) {
        (source ? expected.SizeChangeInSource : expected.SizeChangeInTarget) = -512;
      }
      EXPECT_EQ(counters, expected);
    }
  }
}

TEST(ActionLinesTest, UnknownCodeUsesTheQuestionMarkRowAndCountsNothing) {
  for (int code : {0, 3, 35, 255, -1}) {
    EXPECT_EQ(ActionSuccessLine(ActionCode{code}, "/t/x", 5, 5, kDefaults),
              "???:               \t" + Quoted("/t/x") + ".");
    EXPECT_EQ(ActionErrorLine(kErrNotFound, ActionCode{code}, "/t/x"),
              "Error " + std::to_string(kErrNotFound) + " ??? " + Quoted("/t/x") + ". " +
                  SystemErrorText(kErrNotFound));
    SessionCounters counters;
    CountAction(counters, ActionCode{code}, false, 5, 5);
    CountAction(counters, ActionCode{code}, true, 5, 5);
    EXPECT_EQ(counters, SessionCounters{});
  }
}

TEST(ActionLinesTest, EnumeratorErrorLinesNameTheirKindAndPathsThatWouldBreakALineAreEscaped) {
  EXPECT_EQ(AccessErrorLine("/s/locked", kErrAccessDenied),
            "Error " + std::to_string(kErrAccessDenied) + " accessing " + Quoted("/s/locked") +
                ". " + SystemErrorText(kErrAccessDenied));
  EXPECT_EQ(SecurityErrorLine("/s/f", kErrNotPermitted),
            "Error " + std::to_string(kErrNotPermitted) + " accessing security information of " +
                Quoted("/s/f") + ". " + SystemErrorText(kErrNotPermitted));
  // Paths that would break the line are escaped.
  EXPECT_EQ(ActionSuccessLine(kActionCopy, "/t/a\nb", 1, 0, kDefaults),
            "Copied:            \t" + Quoted("/t/a\\x0Ab") + "  1 bytes.");
}

}  // namespace
}  // namespace twinmere
