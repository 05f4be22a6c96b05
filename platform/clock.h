// Clock: the current local date and time, and its text.
//
// The component's language is Chinese (PRC), so a date-time value is written
// in that locale's general date form: the short date "yyyy/M/d", a blank and
// the long time "H:mm:ss" (for example "2026/12/8 4:03:36"). A time of exactly
// midnight is left out and the date is written alone.

#ifndef VAVIZAR_PLATFORM_CLOCK_H_
#define VAVIZAR_PLATFORM_CLOCK_H_

#include "platform/text.h"

namespace vz {

struct DateTime {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
};

// The current local date and time, whole seconds (the replacement's, when one
// is installed).
DateTime Now();

// The general date text of `t`.
Text DateTimeText(const DateTime& t);

// Replaces the clock for as long as it lives; tests use it to fix `Now`.
// Only one may be installed at a time, and only while no other thread reads
// the clock.
class ScopedClock {
 public:
  using Source = DateTime (*)();
  explicit ScopedClock(Source source);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Source previous_;
};

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_CLOCK_H_
