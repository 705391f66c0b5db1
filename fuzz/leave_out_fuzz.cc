// Pattern text and paths from arbitrary bytes: no crash, no sanitizer report,
// no slow input (every pattern matches in polynomial time). The input is the
// command line's patterns, NUL, the patterns of folder "a", NUL, paths one a
// line; its first byte says whether names are folded. Every answer must stay
// the same when asked again later (the folded names kept between questions
// must never leak into another path), and a path whose item is left out must
// be left out with its folders too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fs/leave_out_rules.h"

namespace {

// Folds ASCII letters and shortens "\xc3\x89" to "e", so that folded names
// differ in length from the names.
std::string FuzzFold(std::string_view name) {
  std::string key;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (name.substr(i, 2) == "\xc3\x89") {
      key += 'e';
      ++i;
    } else {
      key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return key;
}

std::string_view Take(std::string_view& rest, char end) {
  const size_t at = rest.find(end);
  const std::string_view piece = rest.substr(0, at);
  rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using twinmere::ItemKind;
  if (size < 1) return 0;
  const twinmere::NameFold fold = (data[0] & 1) != 0 ? FuzzFold : nullptr;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  twinmere::LeaveOutList command_line(fold);
  command_line.AddText(Take(rest, '\0'));
  twinmere::LeaveOutList folder(fold);
  folder.AddText(Take(rest, '\0'));
  for (size_t i = 0; i < folder.size(); ++i) {
    if (folder.PatternText(i).empty()) std::abort();
  }
  (void)command_line.AddPattern(rest.substr(0, 40));

  twinmere::LeaveOutRules rules(command_line);
  rules.Push("a", folder);
  struct Asked {
    std::string_view path;
    ItemKind kind;
    bool left_out;
  };
  std::vector<Asked> asked;
  while (!rest.empty()) {
    const std::string_view path = Take(rest, '\n');
    const ItemKind kind = path.size() % 2 == 0 ? ItemKind::Folder : ItemKind::File;
    const bool left_out = rules.LeavesOut(path, kind);
    if (left_out && !rules.LeavesOutPath(path, kind)) std::abort();
    asked.push_back({path, kind, left_out});
  }
  for (auto it = asked.rbegin(); it != asked.rend(); ++it) {
    if (rules.LeavesOut(it->path, it->kind) != it->left_out) std::abort();
  }
  rules.Pop();
  if (rules.Depth() != 0) std::abort();
  return 0;
}
