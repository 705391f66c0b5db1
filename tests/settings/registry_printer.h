// Readable test output for registry values.
#pragma once

#include <ostream>

#include "settings/registry_value.h"

namespace twinmere {

inline void PrintTo(const RegistryValue& value, std::ostream* out) {
  auto quoted = [](const std::string& text) {
    std::string shown = "\"";
    for (char c : text) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown + "\"";
  };
  switch (value.Kind()) {
    case ValueKind::kFailure:
      *out << "failure " << value.FailureCode();
      break;
    case ValueKind::kText:
      *out << "text " << quoted(*value.Text());
      break;
    case ValueKind::kExpandText:
      *out << "expandable " << quoted(value.Expandable()->text);
      break;
    case ValueKind::kInteger:
      *out << "integer " << *value.Integer();
      break;
    case ValueKind::kList:
      *out << "list {";
      for (const auto& element : *value.List()) *out << " " << quoted(element);
      *out << " }";
      break;
    case ValueKind::kBytes:
      *out << "bytes {";
      for (int byte : *value.Bytes()) *out << " " << byte;
      *out << " }";
      break;
  }
}

}  // namespace twinmere
