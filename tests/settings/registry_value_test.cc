#include "settings/registry_value.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>

#include "platform/errors.h"
#include "settings/registry_printer.h"

namespace twinmere {
namespace {

using Storage = StoredData::Storage;

GetEnv FakeEnvironment() {
  static const std::map<std::string, std::string> kVars = {
      {"HOME", "/home/ada"}, {"EMPTY", ""}, {"LONG", std::string(250, 'x')}};
  return [](const char* name) -> const char* {
    auto it = kVars.find(name);
    return it == kVars.end() ? nullptr : it->second.c_str();
  };
}

TEST(ExpandEnvironmentText, ExpandsPlainAndBracedReferencesToSetVariablesUpTo259Bytes) {
  const std::string long_text(259, 'x');  // the longest an expansion may be
  const struct {
    std::string in, out;
  } cases[] = {
      {"$HOME/reports", "/home/ada/reports"},
      {"${HOME}x", "/home/adax"},
      {"a$EMPTY.b", "a.b"},
      {"$UNSET/x", "$UNSET/x"},  // an unset variable is not silently dropped
      {"${HOME", "${HOME"},      // unclosed
      {"${}", "${}"},
      {"cost $5 and $", "cost $5 and $"},
      {"$(id) `id` ${HOME:-x}", "$(id) `id` ${HOME:-x}"},  // nothing beyond plain references
      {"$HOMEx", "$HOMEx"},               // the name runs to its last name character
      {std::string("a\0$HOME", 7), "a"},  // the text ends at its first NUL
      {"${LONG}" + long_text.substr(250), long_text},
      {"${LONG}" + long_text.substr(249), ""},  // longer: nothing at all
      {std::string(300, 'q'), ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExpandEnvironmentText(c.in, FakeEnvironment()), c.out) << c.in;
}

StoredData Text(std::string s) {
  return {Storage::kText, 0, std::move(s)};
}
StoredData Blob(std::string s) {
  return {Storage::kBlob, 0, std::move(s)};
}
StoredData Int(int64_t n) {
  return {Storage::kInteger, n, {}};
}

TEST(DecodeStoredValue, ReadsEachTypeAndFallsBackToTheMarker) {
  const RegistryValue marker = RegistryFailure{kFailKeyValue};
  const struct {
    const char* what;
    int64_t type;
    StoredData data;
    RegistryValue expected;
  } cases[] = {
      {"empty text is a value", 1, Text(""), std::string()},
      {"missing datum is size 0", 1, StoredData{}, marker},
      {"text in a blob", 1, Blob("abc"), std::string("abc")},
      {"text keeps every byte", 1, Text(std::string("a\xff\0b", 4)), std::string("a\xff\0b", 4)},
      {"expandable text", 2, Text("$HOME/r.txt"), std::string("/home/ada/r.txt")},
      {"bytes", 3, Blob(std::string("\x00\x01\xfe", 3)), RegistryBytes{0, 1, 0xfe}},
      {"empty bytes are size 0", 3, Blob(""), marker},
      {"integer", 4, Int(215), int32_t{215}},
      {"integer as its unsigned pattern", 4, Int(4294967295), int32_t{-1}},
      {"integer too large", 4, Int(4294967296), marker},
      {"integer too small", 4, Int(-2147483649LL), marker},
      {"integer stored as text", 4, Text("200"), marker},
      {"list with its empty last element", 7, Blob(std::string("a\0bc\0\0", 6)),
       RegistryList{"a", "bc", ""}},
      {"list as written", 7, Blob(std::string("a\0bc\0", 5)), RegistryList{"a", "bc"}},
      {"list missing its last NUL", 7, Blob(std::string("a\0bc", 4)), RegistryList{"a", "bc"}},
      {"empty list", 7, Blob(""), RegistryList{}},
      {"unknown type", 11, Int(1), marker},
      {"negative type", -1, Text("x"), marker},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeStoredValue(c.type, c.data, FakeEnvironment()), c.expected) << c.what;
  }
}

TEST(EncodeValue, RefusesTheMarkerAndListElementsWithNul) {
  EncodedValue e;
  EXPECT_EQ(EncodeValue(RegistryFailure{kFailKeyValue}, &e), kErrInvalidArgument);
  EXPECT_EQ(EncodeValue(RegistryList{std::string("a\0b", 3)}, &e), kErrInvalidArgument);
}

}  // namespace
}  // namespace twinmere
