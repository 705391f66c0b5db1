// A message that a window shows in a message box: its text, its icon and the
// help topic that the box's Help button opens. The core returns these; the
// windows show them with the program title as caption.
#pragma once

#include <cstdint>
#include <string>

namespace twinmere {

enum class MessageIcon : uint8_t {
  Exclamation,  // a warning with OK
  Information,  // a question with OK and Cancel
};

struct DialogMessage {
  std::string text;
  MessageIcon icon = MessageIcon::Exclamation;
  int help_topic = 0;
  bool operator==(const DialogMessage&) const = default;
};

}  // namespace twinmere
