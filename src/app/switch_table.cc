#include "app/switch_table.h"

namespace twinmere {
namespace {

constexpr size_t kTermColumn = 12;  // the width of the term in --help

constexpr bool IsWellFormed(const SwitchRow& row) {
  const bool is_flag = row.flag != nullptr;
  const bool is_path = row.path != nullptr;
  const bool is_number = row.number != nullptr;
  const bool is_list = row.list != nullptr;
  if (int{is_flag} + int{is_path} + int{is_number} + int{is_list} != 1) return false;
  switch (row.value) {
    case SwitchValue::None:
      if (!is_flag || !row.value_name.empty()) return false;
      break;
    case SwitchValue::Path:
      if ((!is_path && !is_list) || row.value_name.empty()) return false;
      break;
    case SwitchValue::Number:
      if (!is_number || row.value_name.empty()) return false;
      break;
    case SwitchValue::Pattern:
      if (!is_list || row.value_name.empty()) return false;
      break;
  }
  for (const char c : row.name) {
    if (c < 'a' || c > 'z') return false;  // lower case; never "/" or "-", which end a name
  }
  const size_t term =
      1 + row.name.size() + (row.value_name.empty() ? 0 : 1 + row.value_name.size());
  return !row.name.empty() && term < kTermColumn && !row.help.empty();
}

constexpr bool TableIsWellFormed() {
  for (size_t i = 0; i < kSwitches.size(); ++i) {
    if (!IsWellFormed(kSwitches[i])) return false;
    bool order_taken = false;  // write_order runs over 1 .. size, each once
    for (size_t j = 0; j < kSwitches.size(); ++j) {
      if (j == i) continue;
      if (kSwitches[j].name == kSwitches[i].name || kSwitches[j].which == kSwitches[i].which)
        return false;
      order_taken = order_taken || kSwitches[j].write_order == kSwitches[i].write_order;
    }
    if (order_taken || kSwitches[i].write_order < 1 ||
        kSwitches[i].write_order > static_cast<int>(kSwitches.size()))
      return false;
  }
  return true;
}
static_assert(TableIsWellFormed(), "every switch once, with one option and one write position");

}  // namespace

const SwitchRow* LookupSwitch(std::string_view name) {
  for (const SwitchRow& row : kSwitches) {
    if (row.name.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == row.name[i];
    }
    if (same) return &row;
  }
  return nullptr;
}

const std::array<const SwitchRow*, kSwitches.size()>& SwitchesInWriteOrder() {
  static constexpr std::array<const SwitchRow*, kSwitches.size()> kOrder = [] {
    std::array<const SwitchRow*, kSwitches.size()> order{};
    for (const SwitchRow& row : kSwitches) order[row.write_order - 1] = &row;
    return order;
  }();
  return kOrder;
}

std::string SwitchTerm(const SwitchRow& row) {
  std::string term = "-" + std::string(row.name);
  if (!row.value_name.empty()) term += " " + std::string(row.value_name);
  return term;
}

std::string SwitchHelp() {
  const std::string indent(2 + kTermColumn, ' ');
  std::string text;
  for (const SwitchRow& row : kSwitches) {
    std::string term = SwitchTerm(row);
    term.resize(kTermColumn, ' ');
    text += "  " + term;
    for (const char c : row.help) {
      text += c;
      if (c == '\n') text += indent;
    }
    text += '\n';
  }
  return text;
}

}  // namespace twinmere
