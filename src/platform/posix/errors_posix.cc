#include <cstring>

#include "platform/errors.h"

namespace twinmere {

std::string SystemErrorText(ErrorCode code) {
  char buffer[256];
  // The GNU strerror_r returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

}  // namespace twinmere
