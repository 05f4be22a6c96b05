#include "platform/clock.h"

#include <gtest/gtest.h>

namespace vz {
namespace {

TEST(DateTimeText, GeneralDateOfTheChineseLocale) {
  struct Case {
    DateTime t;
    const char16_t* text;
  } cases[] = {
      {{2026, 12, 8, 4, 3, 36}, u"2026/12/8 4:03:36"},
      {{2026, 1, 5, 23, 59, 59}, u"2026/1/5 23:59:59"},
      {{2026, 12, 8, 0, 0, 0}, u"2026/12/8"},
      {{2026, 12, 8, 0, 0, 1}, u"2026/12/8 0:00:01"},
      {{2026, 12, 8, 0, 1, 0}, u"2026/12/8 0:01:00"},
      {{2026, 12, 8, 12, 0, 0}, u"2026/12/8 12:00:00"},
      {{999, 3, 4, 5, 6, 7}, u"999/3/4 5:06:07"},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeText(c.t), c.text);
}

DateTime Fixed() { return {2001, 2, 3, 4, 5, 6}; }
DateTime Other() { return {2002, 2, 3, 4, 5, 6}; }

TEST(ScopedClock, ReplacesAndRestoresTheClock) {
  DateTime real = Now();
  EXPECT_GE(real.year, 2024);
  EXPECT_GE(real.month, 1);
  EXPECT_LE(real.month, 12);
  {
    ScopedClock fixed(Fixed);
    EXPECT_EQ(Now().year, 2001);
    {
      ScopedClock other(Other);
      EXPECT_EQ(Now().year, 2002);
    }
    EXPECT_EQ(Now().year, 2001);
  }
  EXPECT_GE(Now().year, 2024);
}

}  // namespace
}  // namespace vz
