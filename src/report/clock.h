// Time as the report sees it; tests pass a fixed clock.
#pragma once

#include <ctime>

namespace twinmere {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since local midnight, for throttling flushes.
  virtual double Timer() const = 0;
  // The current time (seconds since the epoch, with fraction), shown in local time.
  virtual double Now() const = 0;
};

// The real clock of the machine.
class SystemClock final : public Clock {
 public:
  double Timer() const override;
  double Now() const override;
};

}  // namespace twinmere
