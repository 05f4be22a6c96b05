#include "platform/clock.h"

#include <atomic>
#include <cstdio>
#include <ctime>

namespace vz {
namespace {

DateTime SystemNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  DateTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  return t;
}

std::atomic<ScopedClock::Source> g_source{nullptr};

}  // namespace

DateTime Now() {
  ScopedClock::Source source = g_source.load(std::memory_order_acquire);
  return source != nullptr ? source() : SystemNow();
}

Text DateTimeText(const DateTime& t) {
  char buffer[64];
  int n;
  if (t.hour == 0 && t.minute == 0 && t.second == 0) {
    n = std::snprintf(buffer, sizeof buffer, "%d/%d/%d", t.year, t.month, t.day);
  } else {
    n = std::snprintf(buffer, sizeof buffer, "%d/%d/%d %d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
  }
  return Text(buffer, buffer + n);
}

ScopedClock::ScopedClock(Source source) : previous_(g_source.exchange(source)) {}

ScopedClock::~ScopedClock() { g_source.store(previous_); }

}  // namespace vz
