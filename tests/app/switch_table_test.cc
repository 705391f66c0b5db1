// The manual pages and the shell completion are written by hand; these tests
// keep them naming exactly the switches of the table.
#include "app/switch_table.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace twinmere {
namespace {

std::string ReadPackagingFile(const std::string& name) {
  std::ifstream in(std::string(TWINMERE_SOURCE_DIR) + "/packaging/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Trimmed(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\n");
  if (begin == std::string_view::npos) return "";
  return std::string(text.substr(begin, text.find_last_not_of(" \t\n") - begin + 1));
}

std::vector<std::string> Words(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

// The terms of the manual page's switch entries: the line after each ".TP"
// that is a bold switch, as "-r FILE"; --help and --version left out.
std::vector<std::string> ManualSwitchTerms(const std::string& page) {
  std::vector<std::string> terms;
  std::istringstream in(page);
  bool after_tp = false;
  for (std::string line; std::getline(in, line);) {
    const bool entry = after_tp && (line.starts_with(".B \\-") || line.starts_with(".BI \\-"));
    after_tp = line == ".TP";
    if (!entry) continue;
    std::string term;
    for (size_t i = line.find(' ') + 1; i < line.size(); ++i) {
      if (line.compare(i, 2, "\\-") == 0) {
        term += '-';
        ++i;
      } else if (line[i] != '"') {
        term += line[i];
      }
    }
    term = Joined(Words(term));
    if (!term.starts_with("--")) terms.push_back(term);
  }
  return terms;
}

TEST(SwitchTable, ManualPagesDescribeExactlyItsSwitchesInItsOrder) {
  std::vector<std::string> expected;
  for (const SwitchRow& row : kSwitches) expected.push_back(SwitchTerm(row));
  for (const char* page : {"twinmere-cli.1.in", "twinmere.1.in"}) {
    EXPECT_EQ(ManualSwitchTerms(ReadPackagingFile(page)), expected) << page;
  }
}

// The arms of the bash `case` statement that begins with `head`: the patterns
// of each arm and its commands.
struct CaseArm {
  std::vector<std::string> patterns;
  std::string body;
};
std::vector<CaseArm> CaseArms(const std::string& script, const std::string& head) {
  const size_t begin = script.find(head);
  EXPECT_NE(begin, std::string::npos) << head;
  if (begin == std::string::npos) return {};
  const size_t end = script.find("esac", begin);
  std::vector<CaseArm> arms;
  std::string_view rest =
      std::string_view(script).substr(begin + head.size(), end - begin - head.size());
  for (size_t arm_end; (arm_end = rest.find(";;")) != std::string_view::npos;
       rest.remove_prefix(arm_end + 2)) {
    const std::string_view arm = rest.substr(0, arm_end);
    const size_t close = arm.find(')');
    CaseArm parsed;
    std::istringstream patterns{std::string(arm.substr(0, close))};
    for (std::string pattern; std::getline(patterns, pattern, '|');)
      parsed.patterns.push_back(Trimmed(pattern));
    parsed.body = Trimmed(arm.substr(close + 1));
    arms.push_back(parsed);
  }
  return arms;
}

bool AnyMatches(const std::vector<std::string>& patterns, const std::string& word) {
  return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
    return fnmatch(pattern.c_str(), word.c_str(), 0) == 0;
  });
}

// The switch as typed, in lower and in upper case: the programs read both.
std::vector<std::string> TypedForms(const SwitchRow& row) {
  std::string upper = "-" + std::string(row.name);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  return {"-" + std::string(row.name), upper};
}

TEST(SwitchTable, BashCompletionOffersExactlyItsSwitches) {
  const std::string script = ReadPackagingFile("twinmere-cli.bash");
  const std::string head = "compgen -W '";
  const size_t begin = script.find(head);
  ASSERT_NE(begin, std::string::npos);
  const size_t end = script.find('\'', begin + head.size());
  std::vector<std::string> offered;
  for (const std::string& word :
       Words(script.substr(begin + head.size(), end - begin - head.size())))
    if (!word.starts_with("--")) offered.push_back(word);
  std::vector<std::string> expected;
  for (const SwitchRow& row : kSwitches) expected.push_back("-" + std::string(row.name));
  std::sort(offered.begin(), offered.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(offered, expected);
}

// Completion skips a switch's value when it counts the words before the
// folders, and completes a file name after -r and nothing after a number or
// a pattern.
TEST(SwitchTable, BashCompletionExpectsAValueAfterExactlyTheSwitchesThatTakeOne) {
  const std::string script = ReadPackagingFile("twinmere-cli.bash");
  std::vector<std::string> takes_value;
  for (const CaseArm& arm : CaseArms(script, "case ${words[i]} in"))
    if (arm.body.find("i++") != std::string::npos) takes_value = arm.patterns;
  std::vector<std::string> path_value;
  std::vector<std::string> no_completion;
  for (const CaseArm& arm : CaseArms(script, "case $prev in")) {
    if (arm.body.find("_filedir") != std::string::npos) {
      path_value.insert(path_value.end(), arm.patterns.begin(), arm.patterns.end());
    } else if (arm.body.starts_with("return")) {
      no_completion.insert(no_completion.end(), arm.patterns.begin(), arm.patterns.end());
    }
  }
  ASSERT_FALSE(takes_value.empty());
  for (const SwitchRow& row : kSwitches) {
    for (const std::string& typed : TypedForms(row)) {
      EXPECT_EQ(AnyMatches(takes_value, typed), row.value != SwitchValue::None) << typed;
      EXPECT_EQ(AnyMatches(path_value, typed), row.value == SwitchValue::Path) << typed;
      EXPECT_EQ(AnyMatches(no_completion, typed),
                row.value == SwitchValue::Number || row.value == SwitchValue::Pattern)
          << typed;
    }
  }
}

}  // namespace
}  // namespace twinmere
