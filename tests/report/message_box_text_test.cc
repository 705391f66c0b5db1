#include "report/message_box_text.h"

#include <gtest/gtest.h>

namespace twinmere {
namespace {

TEST(MessageBoxTextTest, BatchesGoAboveTheImmediateLinesUntilANewRun) {
  MessageBoxText box;
  box.ShowBatch("");  // empty texts change nothing
  box.ShowImmediate("");
  EXPECT_EQ(box.Text(), "");
  box.ShowBatch("one\ntwo");
  box.ShowImmediate("Error writing report");
  box.ShowBatch("three");
  box.ShowImmediate("second message");
  box.ShowBatch("four");
  const std::string text = "\none\ntwo\nthree\nfour\nError writing report\nsecond message";
  EXPECT_EQ(box.Text(), text);
  EXPECT_EQ(box.ImmediateLength(), std::string("\nError writing report\nsecond message").size());
  // A new run turns the immediate lines into ordinary text.
  box.BeginRun();
  box.ShowBatch("new run");
  EXPECT_EQ(box.Text(), text + "\nnew run");
  EXPECT_EQ(box.ImmediateLength(), 0u);
}

TEST(MessageBoxTextTest, StaysWithinTheBoundByKeepingTwoThirdsOfTheRoomLeft) {
  const struct {
    size_t old_length;
    size_t incoming;
    size_t kept;  // bytes of the old text that remain
  } cases[] = {
      {32765 - 11, 10, 32765 - 11},            // exactly full with the line break
      {32765 - 10, 10, (32765 - 11) * 2 / 3},  // one over: cut
      {30000, 3000, (32765 - 3001) * 2 / 3},
      {100, 40000, 0},  // a batch beyond the bound keeps nothing
  };
  for (const auto& c : cases) {
    for (bool immediate : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.old_length << "+" << c.incoming << " " << immediate);
      MessageBoxText box;
      std::string old;
      for (size_t i = 0; old.size() < c.old_length; ++i) old += static_cast<char>('a' + i % 26);
      box.ShowBatch(old.substr(1));  // the box adds "\n" in front
      ASSERT_EQ(box.Text().size(), c.old_length);
      const std::string incoming(c.incoming, 'N');
      if (immediate) {
        box.ShowImmediate(incoming);
      } else {
        box.ShowBatch(incoming);
      }
      const std::string expected =
          ("\n" + old.substr(1)).substr(c.old_length - c.kept) + "\n" + incoming;
      EXPECT_EQ(box.Text(), expected);
    }
  }
}

TEST(MessageBoxTextTest, ImmediateLinesStayAtTheBottomAfterACut) {
  MessageBoxText box;
  box.ShowBatch(std::string(20000, 'o'));
  box.ShowImmediate("IMMEDIATE");
  box.ShowBatch(std::string(15000, 'b'));
  const std::string& text = box.Text();
  EXPECT_LE(text.size(), MessageBoxText::kMaxLength);
  EXPECT_EQ(text.substr(text.size() - 10), "\nIMMEDIATE");
  EXPECT_EQ(box.ImmediateLength(), 10u);
  EXPECT_EQ(text.substr(text.size() - 10 - 15001, 15001), "\n" + std::string(15000, 'b'));
}

TEST(MessageBoxTextTest, ACutDoesNotBeginInsideAMultiByteCharacter) {
  MessageBoxText box;
  std::string old;
  while (old.size() < 30000) old += "\xC3\xBC";  // "ü"
  box.ShowBatch(old);
  box.ShowBatch(std::string(2999, 'x'));  // keeps (32765 - 3000) * 2 / 3 = 19843 bytes
  const unsigned char first = static_cast<unsigned char>(box.Text()[0]);
  EXPECT_NE(first & 0xC0, 0x80);
}

}  // namespace
}  // namespace twinmere
