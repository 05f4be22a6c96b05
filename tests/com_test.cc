#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/error_info.h"
#include "platform/com/types.h"
#include "platform/com/unknown.h"
#include "tests/test_doubles.h"

namespace vz::com {
namespace {

TEST(Bstr, LengthPrefixedAndTerminated) {
  BSTR s = SysAllocStringLen(u"ab\0cd", 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(SysStringByteLen(s), 10u);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 10u);
  EXPECT_EQ(s[5], 0);
  EXPECT_EQ(BstrView(s), TextView(u"ab\0cd", 5));
  SysFreeString(s);

  BSTR uninitialised = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(uninitialised, nullptr);
  EXPECT_EQ(SysStringLen(uninitialised), 3u);
  EXPECT_EQ(uninitialised[3], 0);
  SysFreeString(uninitialised);

  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

TEST(Bstr, NullIsTheEmptyText) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(BstrView(nullptr), u"");
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
  Bstr none{TextView()};
  EXPECT_EQ(none.get(), nullptr);
}

TEST(Bstr, LengthsThatCannotBeRepresentedGiveNull) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

TEST(Bstr, OwnerFreesAndHandsOver) {
  Bstr a(u"text");
  EXPECT_EQ(a.view(), u"text");
  Bstr b(std::move(a));
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(b.view(), u"text");
  *b.Out() = SysAllocString(u"new");
  EXPECT_EQ(b.view(), u"new");
  BSTR raw = b.Detach();
  EXPECT_EQ(b.get(), nullptr);
  SysFreeString(raw);
}

// A BSTR built in place holds what was written, kept across growth, with
// its length prefix and terminator; none written is the null BSTR.
TEST(Bstr, BuiltInPlaceKeepsWhatWasWritten) {
  BstrBuilder builder;
  OLECHAR* chars = builder.Reserve(0, 4);
  std::memcpy(chars, u"abcd", 8);
  chars = builder.Reserve(4, 3000000);  // large enough to be its own mapping
  for (size_t i = 4; i < 3000000; ++i) chars[i] = static_cast<OLECHAR>(u'a' + i % 26);
  chars = builder.Reserve(2900000, 5000000);
  chars[2900000] = u'!';
  Bstr built = builder.Finish(2900001);
  ASSERT_EQ(SysStringLen(built.get()), 2900001u);
  EXPECT_EQ(built.view().substr(0, 6), u"abcdef");
  EXPECT_EQ(built.view()[2899999], static_cast<OLECHAR>(u'a' + 2899999 % 26));
  EXPECT_EQ(built.view()[2900000], u'!');
  EXPECT_EQ(built.get()[2900001], 0);

  BstrBuilder unused;
  unused.Reserve(0, 10);
  EXPECT_EQ(unused.Finish(0).get(), nullptr);
  BstrBuilder abandoned;  // frees its block
  abandoned.Reserve(0, 10);
}

TEST(Guid, TextRoundTrip) {
  EXPECT_EQ(GuidText(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  auto parsed = ParseGuid("{ee308821-391c-4a03-8780-f3fb0d93beeb}");
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(GuidText(*parsed), "{EE308821-391C-4A03-8780-F3FB0D93BEEB}");
  EXPECT_TRUE(ParseGuid("00000001-0000-0000-C000-000000000046").value() == IID_IClassFactory);
  for (const char* bad :
       {"", "{}", "{00020400-0000-0000-C000-00000000004}", "{00020400-0000-0000-C000-00000000004G}",
        "{00020400+0000-0000-C000-000000000046}", "00020400-0000-0000-C000-000000000046}"}) {
    EXPECT_FALSE(ParseGuid(bad).has_value()) << bad;
  }
  EXPECT_FALSE(IID_IUnknown == IID_IDispatch);
}

TEST(HResult, FailureNumbersAndStatusesMapBothWays) {
  struct Case {
    int32_t number;
    HRESULT hr;
  } cases[] = {
      {5, MakeHResult(0x800A0005)},    {14, MakeHResult(0x800A000E)},
      {91, MakeHResult(0x800A005B)},   {7, E_OUTOFMEMORY},
      {3709, MakeHResult(0x800A0E7D)}, {-2147217900, MakeHResult(0x80040E14)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HResultFromFailureNumber(c.number), c.hr) << c.number;
    EXPECT_EQ(FailureNumberFromHResult(c.hr), c.number) << c.number;
  }
  EXPECT_EQ(HResultFromFailureNumber(0), E_FAIL);
  EXPECT_EQ(HResultFromFailureNumber(70000), E_FAIL);
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

TEST(ErrorInfo, TravelsWithTheStatusOnce) {
  ClearErrorInfo();
  try {
    Raise(kTypeMismatch, u"identifier 'abc' is not a number");
  } catch (...) {
    EXPECT_EQ(StatusFromCurrentFailure(), MakeHResult(0x800A000D));
  }
  Failure f = FailureFromHResult(MakeHResult(0x800A000D));
  EXPECT_EQ(f.number(), 13);
  EXPECT_EQ(f.description(), u"identifier 'abc' is not a number");
  // Taken: the next failure without information gets the standard text.
  Failure g = FailureFromHResult(MakeHResult(0x800A000D));
  EXPECT_EQ(g.description(), u"Type mismatch");
  Failure h = FailureFromHResult(E_FAIL);
  EXPECT_EQ(h.number(), E_FAIL);
  EXPECT_EQ(h.description(), u"Error 0x80004005");
}

TEST(Variant, ClearAndCopyOwnTextsAndReferences) {
  testing::PlainObject object;
  VARIANT a;
  VariantInit(&a);
  a.vt = VT_UNKNOWN;
  a.punkVal = &object;
  object.AddRef();
  VARIANT b;
  VariantInit(&b);
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(object.refs, 2);
  VariantClear(&a);
  VariantClear(&b);
  EXPECT_EQ(object.refs, 0);
  EXPECT_EQ(b.vt, VT_EMPTY);

  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"abc");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  EXPECT_EQ(BstrView(copy.bstrVal), u"abc");
  VariantClear(&text);
  VariantClear(&copy);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(Variant, TargetFollowsReferences) {
  int32_t n = 41;
  VARIANT by_ref;
  VariantInit(&by_ref);
  by_ref.vt = VT_I4 | VT_BYREF;
  by_ref.plVal = &n;
  VARIANT scratch;
  const VARIANT* target = VariantTarget(&by_ref, &scratch);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->vt, VT_I4);
  EXPECT_EQ(target->lVal, 41);

  VARIANT outer;
  VariantInit(&outer);
  outer.vt = VT_VARIANT | VT_BYREF;
  outer.pvarVal = &by_ref;
  target = VariantTarget(&outer, &scratch);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->lVal, 41);

  // A loop of references ends instead of spinning.
  VARIANT loop;
  VariantInit(&loop);
  loop.vt = VT_VARIANT | VT_BYREF;
  loop.pvarVal = &loop;
  EXPECT_EQ(VariantTarget(&loop, &scratch), nullptr);

  VARIANT dangling;
  VariantInit(&dangling);
  dangling.vt = VT_BSTR | VT_BYREF;
  EXPECT_EQ(VariantTarget(&dangling, &scratch), nullptr);

  VARIANT plain;
  VariantInit(&plain);
  plain.vt = VT_I2;
  EXPECT_EQ(VariantTarget(&plain, &scratch), &plain);
}

}  // namespace
}  // namespace vz::com
