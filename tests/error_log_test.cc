#include "store/error_log.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/failure.h"

namespace vz {
namespace {

DateTime Morning() { return {2026, 12, 8, 4, 3, 36}; }
DateTime Midnight() { return {2026, 1, 5, 0, 0, 0}; }

// Appends a failure entry while `raise` is the failure being handled.
template <typename Raise>
void LogFailure(Text& log, Raise&& raise) {
  try {
    raise();
  } catch (...) {
    AppendError(log, u"");
  }
}

TEST(AppendError, MessageEntries) {
  ScopedClock clock(Morning);
  struct Case {
    const char16_t* msg;
    const char16_t* entry;
  } cases[] = {
      {u"\u6a21\u677f\u4e0d\u5b58\u5728\u3002",
       u"2026/12/8 4:03:36 - [Vantrel_ZozEza] \u6a21\u677f\u4e0d\u5b58\u5728\u3002\r\n"},
      // One blank is a message, not the empty text.
      {u" ", u"2026/12/8 4:03:36 - [Vantrel_ZozEza]  \r\n"},
      {u"a\r\nb", u"2026/12/8 4:03:36 - [Vantrel_ZozEza] a\r\nb\r\n"},
  };
  for (const Case& c : cases) {
    Text log;
    AppendError(log, c.msg);
    EXPECT_EQ(log, c.entry);
  }
}

TEST(AppendError, FailureEntriesShowNumberAndDescriptionUnchanged) {
  ScopedClock clock(Morning);
  struct Case {
    int32_t number;
    const char16_t* description;
    const char16_t* entry;
  } cases[] = {
      {53, u"File not found", u"2026/12/8 4:03:36 - [53] File not found\r\n"},
      {-2147217900, u"near \"abc\": syntax error",
       u"2026/12/8 4:03:36 - [-2147217900] near \"abc\": syntax error\r\n"},
      {94, u"", u"2026/12/8 4:03:36 - [94] \r\n"},
      {5, u"line one\r\nline two\nthree",
       u"2026/12/8 4:03:36 - [5] line one\r\nline two\nthree\r\n"},
      {1234567, u"x", u"2026/12/8 4:03:36 - [1234567] x\r\n"},
  };
  for (const Case& c : cases) {
    Text log;
    LogFailure(log, [&] { Raise(c.number, c.description); });
    EXPECT_EQ(log, c.entry);
  }
}

TEST(AppendError, FailuresOfTheRuntimeItself) {
  ScopedClock clock(Morning);
  Text log;
  LogFailure(log, [] { throw std::bad_alloc(); });
  EXPECT_EQ(log, u"2026/12/8 4:03:36 - [7] Out of memory\r\n");
  log.clear();
  LogFailure(log, [] { Raise(kOutOfStringSpace); });
  EXPECT_EQ(log, u"2026/12/8 4:03:36 - [14] Out of string space\r\n");
  log.clear();
  LogFailure(log, [] { throw std::length_error("basic_string::_M_create"); });
  EXPECT_EQ(log, u"2026/12/8 4:03:36 - [14] Out of string space\r\n");
}

TEST(AppendError, MidnightWritesTheDateAlone) {
  ScopedClock clock(Midnight);
  Text log;
  AppendError(log, u"m");
  LogFailure(log, [] { Raise(kInvalidUseOfNull); });
  EXPECT_EQ(log,
            u"2026/1/5 - [Vantrel_ZozEza] m\r\n"
            u"2026/1/5 - [94] Invalid use of Null\r\n");
}

TEST(AppendError, EntriesAppendInCallOrderAndKeepTheOldLog) {
  ScopedClock clock(Morning);
  Text log = u"old\r\n";
  AppendError(log, u"one");
  LogFailure(log, [] { Raise(kPathNotFound); });
  AppendError(log, u"two");
  EXPECT_EQ(log,
            u"old\r\n"
            u"2026/12/8 4:03:36 - [Vantrel_ZozEza] one\r\n"
            u"2026/12/8 4:03:36 - [76] Path not found\r\n"
            u"2026/12/8 4:03:36 - [Vantrel_ZozEza] two\r\n");
}

TEST(AppendError, OutsideAHandlerTheErrorObjectIsClear) {
  ScopedClock clock(Morning);
  Text log;
  AppendError(log, u"");
  EXPECT_EQ(log, u"2026/12/8 4:03:36 - [0] \r\n");
}

TEST(AppendError, TheInnermostHandledFailureIsLogged) {
  ScopedClock clock(Morning);
  Text log;
  try {
    Raise(kFileNotFound);
  } catch (...) {
    try {
      Raise(kPermissionDenied);
    } catch (...) {
      AppendError(log, u"");
    }
    AppendError(log, u"");
  }
  EXPECT_EQ(log,
            u"2026/12/8 4:03:36 - [70] Permission denied\r\n"
            u"2026/12/8 4:03:36 - [53] File not found\r\n");
}

}  // namespace
}  // namespace vz
