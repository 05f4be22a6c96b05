#include "generate/expand_tag.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/failure.h"
#include "tests/expand_tag_cases.h"
#include "tests/expand_tag_differential.h"
#include "tests/expand_tag_reference.h"

namespace vz {
namespace {

using differential::Show;

constexpr char16_t kBoxCode[] = u"BoxStart w, h\r\n[data]\r\nBoxEnd";
constexpr char16_t kInvalid[] = u"Invalid procedure call or argument";

struct Golden {
  const char16_t* name;
  const char16_t* code;
  const char16_t* text;
  const char16_t* expected;  // nullptr: the expansion fails
  const char16_t* failure;   // the description, when it fails
};

const Golden kGolden[] = {
    // The worked example: the attribute form goes first, then the plain one.
    {u"box", kBoxCode, u"<p><!--box--></p><!--box w=1&h=2--><b>Hi</b><!--/box-->.",
     u"<p><%BoxStart w, h\r\n[data]\r\nBoxEnd%></p><%w=\"1\"\r\nh=\"2\"\r\nBoxStart w, h\r\n"
     u"%><b>Hi</b><%\r\nBoxEnd%>.",
     nullptr},
    // Nothing to expand: closing tags and look-alikes stay.
    {u"box", u"X", u"a<!--/box-->b", u"a<!--/box-->b", nullptr},
    {u"box", u"X", u"<!--Box--><!--boxes--><!--box\t-->", u"<!--Box--><!--boxes--><!--box\t-->",
     nullptr},
    {u"box", u"X", u"", u"", nullptr},
    // An empty name: every "<!-- " opens a tag with attributes.
    {u"", u"C", u"a<!-- x=1-->b", u"a<%x=\"1\"\r\nC%>b", nullptr},
    {u"", u"C", u"<!---->", u"<%C%>", nullptr},
    {u"", u"[data]", u"<!-- --><!--/-->", u"<%\"\r\n%><%%>", nullptr},
    // A space and no attributes: one line holding a lone double quote.
    {u"box", u"C", u"<!--box -->", u"<%\"\r\nC%>", nullptr},
    // No closing tag anywhere: "[data]" stays, the rest follows the block.
    {u"box", u"S[data]E", u"a<!--box-->b", u"a<%S[data]E%>b", nullptr},
    // Empty content.
    {u"box", u"[data]|[data]", u"<!--box--><!--/box-->", u"<%%><%|%><%%>", nullptr},
    // Paired in order, not by nesting.
    {u"box", u"S[data]E", u"<!--box-->X<!--box-->Y<!--/box-->Z<!--/box-->",
     u"<%S%>X<%S%>Y<%E%>Z<%E%>", nullptr},
    // A closing tag at the very end leaves an empty rest.
    {u"box", u"[data]", u"a<!--box-->b<!--/box-->", u"a<%%>b<%%>", nullptr},
    // Several markers copy the content, none drops it.
    {u"box", u"[data][data][data]", u"<!--box-->ab<!--/box-->", u"<%%>ab<%%>ab<%%>ab<%%>", nullptr},
    {u"box", u"K", u"<!--box-->ab<!--/box-->c", u"<%K%>c", nullptr},
    // Closing tags before the opening one do not pair with it.
    {u"box", u"[data]", u"<!--/box-->a<!--box-->b<!--/box-->c", u"<!--/box-->a<%%>b<%%>c", nullptr},
    // A name ending in ">": the first "-->" lies inside the opening tag.
    {u">", u"C", u"<!-->-->", u"<%C%>-->", nullptr},
    {u"-", u"C", u"<!----->z", u"<%C%>z", nullptr},
    // A name holding "-->": the tag's "-->" is the one inside the name, so
    // there are no attribute lines and the rest starts right after it.
    {u"x-->", u"C", u"<!--x--> a=1-->", u"<%C%> a=1-->", nullptr},
    // Blanks, "<", "%" and characters beyond ASCII in names.
    {u"a b", u"C", u"<!--a b c=1--><!--a b-->", u"<%c=\"1\"\r\nC%><%C%>", nullptr},
    {u"%", u"x", u"<!--%-->", u"<%x%>", nullptr},
    {u"<", u"x", u"1<!--<-->2", u"1<%x%>2", nullptr},
    {u"\u6846", u"\u4ee3\u7801", u"<!--\u6846-->", u"<%\u4ee3\u7801%>", nullptr},
    // Markup that a pass brings in (here through the attribute lines) is
    // expanded by a later pass.
    {u"box", u"C", u"<!--box a=<!--box -->b-->", u"<%a=\"<%\"\r\nC%>b\"\r\nC%>", nullptr},
    // An opening tag that forms across the end of an inserted block.
    {u"q%>", u"<!--q", u"<!--q%>-->-->", u"<%<%<!--q%>", nullptr},
    // Opening tags inside content are reached by later passes.
    {u"box", u"[[data]]", u"<!--box--><!--box-->x<!--/box--><!--/box-->", u"<%[%><%[%>x<%]%><%]%>",
     nullptr},
    // The closing tag lies only before the opening tag.
    {u"box", u"[data]", u"<!--/box--><!--box-->", nullptr, kInvalid},
    {u"box", u"[data]", u"<!--/box--><!--box-->x<!--/box--><!--box-->", nullptr, kInvalid},
    // Once the last closing tag is used, the code goes in unchanged.
    {u"box", u"[data]", u"<!--box--><!--/box--><!--box-->", u"<%%><%%><%[data]%>", nullptr},
    // An opening tag without "-->" after it, wherever it stands.
    {u"box", u"C", u"0123<!--box w=1", nullptr,
     u"Invalid procedure call or argument: tag <!--box at 5 has no -->"},
    {u"box", u"C", u"<!--box w", nullptr,
     u"Invalid procedure call or argument: tag <!--box at 1 has no -->"},
    {u"box", u"C", u"<!--box-->x<!--box ", nullptr,
     u"Invalid procedure call or argument: tag <!--box at 12 has no -->"},
    // A code that holds its own opening tag, with and without attributes.
    {u"box", u"x<!--box-->", u"<!--box-->", nullptr,
     u"Invalid procedure call or argument: the code of tag <!--box holds its own opening tag"},
    {u"box", u"<!--box a=1-->", u"a<!--box w=1-->", nullptr,
     u"Invalid procedure call or argument: the code of tag <!--box holds its own opening tag"},
    // ... which is harmless when there is nothing to expand.
    {u"box", u"x<!--box-->", u"<!--/box-->", u"<!--/box-->", nullptr},
};

std::string Describe(const Golden& g) {
  return "name \"" + Show(g.name) + "\" code \"" + Show(g.code) + "\" text \"" + Show(g.text) +
         "\"";
}

TEST(ExpandTag, GoldenTable) {
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(Describe(g));
    if (g.expected != nullptr) {
      EXPECT_EQ(Show(ExpandTag(g.text, g.name, g.code)), Show(g.expected));
    } else {
      try {
        Text out = ExpandTag(g.text, g.name, g.code);
        ADD_FAILURE() << "expected a failure, got \"" << Show(out) << "\"";
      } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), kInvalidArgument);
        EXPECT_EQ(Show(failure.description()), Show(g.failure));
      }
    }
  }
}

// The reference must agree with the table too, or the differential test
// proves nothing.
TEST(ExpandTagReference, GoldenTable) {
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(Describe(g));
    reference::Outcome out = reference::ExpandTag(g.text, g.name, g.code, kMaxTextLength, 1000);
    if (g.expected != nullptr) {
      ASSERT_EQ(out.kind, reference::Outcome::kText) << Show(out.description);
      EXPECT_EQ(Show(out.text), Show(g.expected));
    } else {
      ASSERT_EQ(out.kind, reference::Outcome::kFailure);
      EXPECT_EQ(out.number, kInvalidArgument);
      EXPECT_EQ(Show(out.description), Show(g.failure));
    }
  }
}

TEST(ExpandTag, WorkedExampleLineByLine) {
  Text out =
      ExpandTag(u"<p><!--box--></p><!--box w=1&h=2--><b>Hi</b><!--/box-->.", u"box", kBoxCode);
  std::vector<Text> lines;
  for (size_t at = 0;;) {
    size_t end = out.find(u"\r\n", at);
    lines.push_back(out.substr(at, end == Text::npos ? Text::npos : end - at));
    if (end == Text::npos) break;
    at = end + 2;
  }
  const std::vector<Text> expected = {
      u"<p><%BoxStart w, h", u"[data]",    u"BoxEnd%></p><%w=\"1\"", u"h=\"2\"", u"BoxStart w, h",
      u"%><b>Hi</b><%",      u"BoxEnd%>.",
  };
  EXPECT_EQ(lines, expected);
}

TEST(ExpandTag, HeaderExample) {
  EXPECT_EQ(ExpandTag(u"<p><!--box w=1&h=2--><b>Hi</b><!--/box--></p>", u"box",
                      u"Start w, h\r\n[data]\r\nEnd"),
            u"<p><%w=\"1\"\r\nh=\"2\"\r\nStart w, h\r\n%><b>Hi</b><%\r\nEnd%></p>");
}

TEST(AttributesToCode, Table) {
  const struct {
    const char16_t* attributes;
    const char16_t* lines;
  } kTable[] = {
      {u"w=1&h=2", u"w=\"1\"\r\nh=\"2\"\r\n"},
      {u"a=1 b=2", u"a=\"1 b=\"2\"\r\n"},
      {u"a=x=y", u"a=\"x=\"y\"\r\n"},
      {u"flag", u"flag\"\r\n"},
      {u"", u"\"\r\n"},
      {u"&&", u"\"\r\n\"\r\n\"\r\n"},
      {u" a = 1 & ", u" a =\" 1 \"\r\n \"\r\n"},
  };
  for (const auto& row : kTable) {
    EXPECT_EQ(Show(AttributesToCode(row.attributes)), Show(row.lines)) << Show(row.attributes);
    EXPECT_EQ(Show(reference::AttributesToCode(row.attributes)), Show(row.lines));
  }
}

TEST(ExpandTag, TextWithoutOpeningTagComesBackAsIs) {
  Text text(100000, u'<');
  EXPECT_EQ(ExpandTag(text, u"box", u"X"), text);
}

// A code that copies the content twice and brings a closing tag back grows
// the text pass after pass; the expansion stops at the limit.
TEST(ExpandTag, RunawayEndsAtTheLimit) {
  const Text text = u"<!--box-->x<!--box-->y<!--/box-->";
  const Text code = u"[data][data]<!--/box-->";
  for (int64_t limit : {int64_t{1000}, int64_t{1} << 20}) {
    ExpandLimits limits;
    limits.max_length = limit;
    try {
      Text out = ExpandTag(text, u"box", code, limits);
      ADD_FAILURE() << "ended with " << out.size() << " characters";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), kOutOfStringSpace);
      EXPECT_EQ(Show(failure.description()), "Out of string space");
    }
  }
}

TEST(ExpandTag, LimitIsTheLongestTextAPassMayMake) {
  const Text text = u"<!--box-->abc<!--/box-->";
  const Text code = u"[data][data]";
  const Text expected = u"<%%>abc<%%>abc<%%>";
  ExpandLimits limits;
  limits.max_length = static_cast<int64_t>(expected.size());
  EXPECT_EQ(ExpandTag(text, u"box", code, limits), expected);
  limits.max_length -= 1;
  try {
    ExpandTag(text, u"box", code, limits);
    ADD_FAILURE() << "expected failure 14";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), kOutOfStringSpace);
  }
}

// Every prefix of some awkward inputs: cut-off tags, half markers.
TEST(ExpandTag, EveryPrefixMatchesTheReference) {
  const struct {
    const char16_t* name;
    const char16_t* code;
    const char16_t* text;
  } kInputs[] = {
      {u"box", kBoxCode, u"<p><!--box--></p><!--box w=1&h=2--><b>Hi</b><!--/box-->."},
      {u"box", u"S[data]E", u"<!--box-->X<!--box a=1&b-->Y<!--/box-->Z<!--/box-->"},
      {u"", u"[data][data]", u"<!-- a--><!---->q<!--/-->r<!--/-->"},
      {u">", u"<%[data]%>", u"<!-->--><!--> x-->y<!--/>-->"},
  };
  for (const auto& input : kInputs) {
    const Text full = input.text;
    for (size_t n = 0; n <= full.size(); ++n) {
      differential::Verdict v = differential::Compare(full.substr(0, n), input.name, input.code,
                                                      4096, differential::kReferencePassCap, 3);
      EXPECT_TRUE(v.same) << v.detail;
    }
  }
}

void RunDifferential(uint64_t seed, int64_t cases) {
  differential::CaseMaker maker(seed);
  int64_t mismatches = 0, failures = 0, capped = 0;
  for (int64_t i = 0; i < cases; ++i) {
    differential::Case c = maker.Next();
    differential::Verdict v = differential::Compare(c.text, c.name, c.code, c.max_length,
                                                    differential::kReferencePassCap, 1 + i % 7);
    failures += v.failed;
    capped += v.reference_capped;
    if (!v.same && ++mismatches <= 5) ADD_FAILURE() << "case " << i << ": " << v.detail;
  }
  EXPECT_EQ(mismatches, 0);
  // The generator must reach the failure paths, or it tests too little.
  EXPECT_GT(failures, cases / 100);
  std::printf("differential: %lld cases, %lld failing alike, %lld beyond the pass cap\n",
              static_cast<long long>(cases), static_cast<long long>(failures),
              static_cast<long long>(capped));
}

TEST(ExpandTag, MatchesTheLiteralPassesOnGeneratedCases) {
  const char* long_mode = std::getenv("VZ_LONG_TESTS");
  const bool is_long = long_mode != nullptr && std::string(long_mode) == "1";
  RunDifferential(20261208, is_long ? 30000000 : 250000);
}

}  // namespace
}  // namespace vz
