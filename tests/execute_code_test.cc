#include "execute/execute_code.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "platform/failure.h"
#include "tests/execute_code_reference.h"

namespace vz {
namespace {

struct Case {
  const char16_t* page;
  const char16_t* code;
};

// A CodeBuffer over a vector, which tells how often it had to grow.
class VectorBuffer final : public CodeBuffer {
 public:
  char16_t* Reserve(size_t keep, size_t capacity) override {
    EXPECT_LE(keep, chars_.size());
    chars_.resize(capacity);
    ++reserves_;
    return chars_.data();
  }
  Text Take(size_t length) const { return Text(chars_.data(), length); }
  int reserves() const { return reserves_; }

 private:
  std::vector<char16_t> chars_;
  int reserves_ = 0;
};

// ExecuteCodeInto's text, through a VectorBuffer.
Text ExecuteCodeThroughBuffer(TextView page) {
  VectorBuffer buffer;
  const size_t length = ExecuteCodeInto(page, buffer);
  return buffer.Take(length);
}

TEST(ExecuteCode, WorkedExampleAndEdgeCases) {
  const Case cases[] = {
      {u"<p>\"Hi\"</p>\r\n<%x=1%>\r\n<%=x%><%y%>end",
       u"Response.Write \"<p>\"\"Hi\"\"</p>\" & vbCrLf\r\n"
       u"Response.Write \"\"\r\n"
       u"x=1\r\n"
       u"Response.Write \"\" & vbCrLf\r\n"
       u"Response.Write \"\"\r\n"
       u"=x\r\n"
       u"\r\n"
       u"y\r\n"
       u"Response.Write \"end\""},
      {u"", u"Response.Write \"\""},
      {u"a\"b", u"Response.Write \"a\"\"b\""},
      {u"<%x", u"Response.Write \"<%x\""},
      {u"<%", u"Response.Write \"<%\""},
      {u"<", u"Response.Write \"<\""},
      {u"%>", u"Response.Write \"%>\""},
      {u"ab<%x", u"Response.Write \"ab\"\r\nx\r\n"},
      {u"<%x%>ab", u"\r\nx\r\nResponse.Write \"ab\""},
      {u"<%x%>", u"\r\nx\r\n"},
      {u"<%x%>a", u"\r\nx\r\nResponse.Write \"a\""},
      {u"a<%%>b", u"Response.Write \"a\"\r\n\r\nResponse.Write \"b\""},
      {u"<%%>", u"\r\n\r\n"},
      {u"<%a%><%b%>", u"\r\na\r\n\r\nb\r\n"},
      {u"<%a%>%>b<%c<%d%>", u"\r\na\r\nResponse.Write \"%>b\"\r\nc<%d\r\n"},
      {u"a\r\n", u"Response.Write \"a\" & vbCrLf\r\nResponse.Write \"\""},
      {u"<% x %>", u"\r\n x \r\n"},
      {u"<%=x%>", u"\r\n=x\r\n"},
      {u"<%x%><", u"\r\nx\r\nResponse.Write \"<\""},
      // A "<%" that ends the text opens nothing: the scan stops there.
      {u"<%x%><%", u"\r\nx\r\n"},
      {u"a<%", u"Response.Write \"a\""},
      {u"<%<%%>", u"\r\n<%\r\n"},
      {u"\u6a21<%\u677f%>", u"Response.Write \"\u6a21\"\r\n\u677f\r\n"},
      // Lone line-end characters cannot stand inside a quoted string.
      {u"a\nb", u"Response.Write \"a\" & vbLf & \"b\""},
      {u"a\rb", u"Response.Write \"a\" & vbCr & \"b\""},
      {u"\n\r", u"Response.Write \"\" & vbLf & \"\" & vbCr & \"\""},
      {u"a\r\r\nb", u"Response.Write \"a\" & vbCr & \"\" & vbCrLf\r\nResponse.Write \"b\""},
      {u"a\r\n\nb", u"Response.Write \"a\" & vbCrLf\r\nResponse.Write \"\" & vbLf & \"b\""},
      {u"<%a\nb%>", u"\r\na\nb\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExecuteCodeOf(c.page), c.code) << ToUtf8(c.page);
    EXPECT_EQ(reference::ExecuteCode(c.page), c.code) << "reference: " << ToUtf8(c.page);
  }
}

TEST(ConvertSegment, CodeAndHtml) {
  EXPECT_EQ(ConvertSegment(u"", true), u"\r\n\r\n");
  EXPECT_EQ(ConvertSegment(u"\"x\"", true), u"\r\n\"x\"\r\n");
  EXPECT_EQ(ConvertSegment(u"", false), u"Response.Write \"\"");
  EXPECT_EQ(ConvertSegment(u"\r\n", false), u"Response.Write \"\" & vbCrLf\r\nResponse.Write \"\"");
  EXPECT_EQ(ConvertSegment(u"\"\r\n\"", false),
            u"Response.Write \"\"\"\" & vbCrLf\r\nResponse.Write \"\"\"\"");
  EXPECT_EQ(GetDelimiter(true), u"%>");
  EXPECT_EQ(GetDelimiter(false), u"<%");
}

// Texts built from the pieces that matter, against the reference. Most are
// short, for the edges of the scan; every fourth runs to a few hundred
// characters and every 32nd to a few thousand, so that the pieces fall on
// every place of the windows the scan reads at once (plain runs of several
// lengths shift them), with long runs of HTML and of code among them.
TEST(ExecuteCode, MatchesTheReferenceOnGeneratedPages) {
  static const char16_t* const kPieces[] = {
      u"<%",      u"%>",     u"<",
      u"%",       u">",      u"\"",
      u"\r\n",    u"\r",     u"\n",
      u"a",       u"=",      u" ",
      u"bcdefgh", u"\u6a21", u"<p class=\"x\">text and more text of a paragraph</p>",
  };
  const char* long_mode = std::getenv("VZ_LONG_TESTS");
  const int rounds = long_mode != nullptr ? 5000000 : 100000;
  std::mt19937 rng(4242);
  for (int round = 0; round < rounds; ++round) {
    Text page;
    const size_t pieces = round % 32 == 0  ? rng() % 1500
                          : round % 4 == 0 ? rng() % 160
                                           : rng() % 14;
    for (size_t i = 0; i < pieces; ++i) page += kPieces[rng() % std::size(kPieces)];
    const Text expected = reference::ExecuteCode(page);
    ASSERT_EQ(ExecuteCodeOf(page), expected) << ToUtf8(page);
    ASSERT_EQ(ExecuteCodeThroughBuffer(page), expected) << ToUtf8(page);
    // Handed on in pieces as it is made.
    Text handed;
    const size_t length = ExecuteCodeTo(page, [&](TextView piece) { handed += piece; });
    ASSERT_EQ(handed, expected) << ToUtf8(page);
    ASSERT_EQ(length, expected.size());
  }
}

// Written into a buffer of the caller's, the code is the same, and a page
// that grows far past twice its length grows the buffer on the way.
TEST(ExecuteCode, IntoABufferGivesTheSameCode) {
  for (const char16_t* page : {u"", u"a\"b", u"<%x%>", u"<%x", u"a<%", u"<%x%><%"}) {
    EXPECT_EQ(ExecuteCodeThroughBuffer(page), reference::ExecuteCode(page)) << ToUtf8(page);
  }
  const Text lone_breaks(5000, u'\r');
  VectorBuffer buffer;
  const size_t length = ExecuteCodeInto(lone_breaks, buffer);
  EXPECT_EQ(buffer.Take(length), reference::ExecuteCode(lone_breaks));
  EXPECT_GT(buffer.reserves(), 1);
}

// Each of the pieces whose meaning depends on its neighbours, at every place
// of the first windows of the scan, in HTML and in code, before plain text
// of every kind that can follow it.
TEST(ExecuteCode, EveryPieceAtEveryPlaceOfTheScan) {
  static const char16_t* const kProbes[] = {
      u"\r\n",  u"\r",   u"\n",     u"\r\r\n", u"\"",     u"<%",   u"%>",  u"%><%",   u"<%>",
      u"%><%>", u"<%%>", u"%>\r\n", u"\r<%",   u"<%\"%>", u"\n%>", u"%><", u"<%<%%>",
  };
  static const char16_t* const kBefore[] = {u"", u"<%", u"a<%", u"<%x%>"};
  static const char16_t* const kAfter[] = {u"", u"x", u"\n", u"%>", u">"};
  for (const char16_t* before : kBefore) {
    for (size_t place = 0; place < 200; ++place) {
      for (const char16_t* probe : kProbes) {
        for (const char16_t* after : kAfter) {
          Text page = Text(before) + Text(place, u'a') + probe + after + Text(150, u'b') + u"%>";
          ASSERT_EQ(ExecuteCodeOf(page), reference::ExecuteCode(page)) << ToUtf8(page);
          page.resize(page.size() - 151 + place % 120);
          ASSERT_EQ(ExecuteCodeOf(page), reference::ExecuteCode(page)) << ToUtf8(page);
        }
      }
    }
  }
}

}  // namespace
}  // namespace vz
