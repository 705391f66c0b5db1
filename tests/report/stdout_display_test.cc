#include "report/stdout_display.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace twinmere {
namespace {

TEST(StdoutDisplayTest, PrintsEveryLineOnceWithALineEnd) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  StdoutDisplay display(out);
  display.ShowBatch("one\ntwo");
  display.ShowImmediate("Error writing report");
  display.ShowBatch("");
  std::rewind(out);
  char buffer[128] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, n), "one\ntwo\nError writing report\n");
}

}  // namespace
}  // namespace twinmere
