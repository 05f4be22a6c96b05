#include "platform/failure.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace vz {
namespace {

TEST(StandardDescription, TheRuntimeTable) {
  struct Case {
    int32_t number;
    const char16_t* text;
  } cases[] = {
      {5, u"Invalid procedure call or argument"},
      {6, u"Overflow"},
      {7, u"Out of memory"},
      {9, u"Subscript out of range"},
      {13, u"Type mismatch"},
      {14, u"Out of string space"},
      {28, u"Out of stack space"},
      {53, u"File not found"},
      {62, u"Input past end of file"},
      {70, u"Permission denied"},
      {75, u"Path/File access error"},
      {76, u"Path not found"},
      {91, u"Object variable or With block variable not set"},
      {94, u"Invalid use of Null"},
      {0, u"Application-defined or object-defined error"},
      {4, u"Application-defined or object-defined error"},
      {-1, u"Application-defined or object-defined error"},
  };
  for (const Case& c : cases) EXPECT_EQ(StandardDescription(c.number), c.text) << c.number;
}

TEST(Failure, CarriesNumberAndDescription) {
  Failure standard(kFileNotFound);
  EXPECT_EQ(standard.number(), 53);
  EXPECT_EQ(standard.description(), u"File not found");
  EXPECT_STREQ(standard.what(), "53: File not found");
  Failure own(-2147217900, u"\u6a21 syntax");
  EXPECT_EQ(own.number(), -2147217900);
  EXPECT_EQ(own.description(), u"\u6a21 syntax");
  EXPECT_STREQ(own.what(), "-2147217900: \xe6\xa8\xa1 syntax");
}

template <typename Throw>
ErrorState Handled(Throw&& fn) {
  try {
    fn();
  } catch (...) {
    return CurrentError();
  }
  return {-999, u"nothing thrown"};
}

TEST(CurrentError, DescribesTheExceptionBeingHandled) {
  struct Case {
    ErrorState state;
    int32_t number;
    const char16_t* description;
  } cases[] = {
      {Handled([] { Raise(kOverflow); }), 6, u"Overflow"},
      {Handled([] { Raise(-5, u""); }), -5, u""},
      {Handled([] { throw std::bad_alloc(); }), 7, u"Out of memory"},
      {Handled([] { throw std::length_error("too long"); }), 14, u"Out of string space"},
      {Handled([] { throw std::runtime_error("disk on fire"); }), 5, u"disk on fire"},
      {Handled([] { throw 42; }), 5, u"Invalid procedure call or argument"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.state.number, c.number);
    EXPECT_EQ(c.state.description, c.description);
  }
  ErrorState none = CurrentError();
  EXPECT_EQ(none.number, 0);
  EXPECT_EQ(none.description, u"");
}

}  // namespace
}  // namespace vz
