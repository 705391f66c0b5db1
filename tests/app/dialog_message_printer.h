// How GoogleTest shows a DialogMessage in a failed expectation.
#pragma once

#include <ostream>

#include "app/dialog_message.h"

namespace twinmere {

inline void PrintTo(const DialogMessage& message, std::ostream* os) {
  *os << "{\"" << message.text << "\", " << message.help_topic << "}";
}

}  // namespace twinmere
