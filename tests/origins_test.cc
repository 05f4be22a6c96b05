// The origins recorded beside the assembly, against the literal passes run
// on characters that carry their origin with them.

#include "generate/origins.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "generate/asp_code.h"
#include "platform/failure.h"
#include "tests/origins_reference.h"
#include "tests/tag_table.h"

namespace vz {
namespace {

using reference::Char;
using reference::Chars;
using reference::PerCharacter;
using reference::Plain;
using reference::ReferenceAssembly;

// The pieces the random pages and codes are made of: every form of the
// tags, attributes, markers and line breaks.
constexpr const char16_t* kPieces[] = {u"<!--", u"-->", u"<!--/", u" ",      u"a",    u"b",
                                       u"x",    u"=1",  u"&",     u"[data]", u"\r\n", u"\"",
                                       u"<%",   u"%>",  u"=",     u"\n"};
constexpr const char16_t* kNames[] = {u"a", u"b", u"ab", u"", u"a b", u"-"};

TEST(PageOrigins, MatchTheLiteralPassesOnGeneratedPages) {
  std::mt19937 rng(2026);
  auto random_text = [&](size_t pieces) {
    Text t;
    for (size_t i = 0; i < pieces; ++i) t += kPieces[rng() % std::size(kPieces)];
    return t;
  };
  int checked = 0;
  for (int round = 0; round < 20000; ++round) {
    const Text page = random_text(rng() % 24);
    std::vector<std::pair<ado::Cell, ado::Cell>> rows;
    for (size_t r = rng() % 8; r > 0; --r)
      rows.emplace_back(Text(kNames[rng() % std::size(kNames)]), random_text(rng() % 6));
    const ado::RowTable table = Table(rows);
    ExpandLimits limits;
    limits.max_length = 1 << 16;

    Chars expected;
    PageOrigins expected_origins;
    const bool reference_ends = ReferenceAssembly(page, table, expected, expected_origins);

    // The same text with and without origins, or the same failure.
    Text without, with;
    int32_t failure_without = 0, failure_with = 0;
    try {
      without = AssembleAspCode(page, table, limits);
    } catch (const Failure& f) {
      failure_without = f.number();
    }
    PageOrigins origins;
    try {
      PageText text(page, 1 + round % 9);
      AssembleAspCode(text, table, limits, &origins);
      with = text.Take();
    } catch (const Failure& f) {
      failure_with = f.number();
    }
    ASSERT_EQ(failure_with, failure_without) << ToUtf8(page);
    ASSERT_EQ(with, without) << ToUtf8(page);
    if (!reference_ends || failure_with != 0) continue;

    ASSERT_EQ(Plain(expected), with) << ToUtf8(page);
    std::string error;
    const std::vector<Origin> actual = PerCharacter(origins, error);
    ASSERT_EQ(error, "") << ToUtf8(page);
    ASSERT_EQ(actual.size(), with.size()) << ToUtf8(page);
    for (size_t i = 0; i < actual.size(); ++i) {
      ASSERT_EQ(actual[i], expected[i].origin) << "character " << i << " of " << ToUtf8(with);
      // A character that has a place has the character found there.
      const Origin& origin = actual[i];
      if (origin.kind == Origin::Kind::kTemplate) {
        ASSERT_EQ(with[i], page[origin.offset]);
      } else if (origin.kind == Origin::Kind::kCode) {
        ASSERT_EQ(with[i], ado::CellText(table.At(3, origin.row))[origin.offset]);
      }
    }
    ASSERT_EQ(origins.occurrences, expected_origins.occurrences) << ToUtf8(page);
    ASSERT_EQ(origins.rows, expected_origins.rows) << ToUtf8(page);
    // Runs that follow on from each other are one.
    for (size_t r = 1; r < origins.runs.size(); ++r) {
      const OriginRun& a = origins.runs[r - 1];
      const OriginRun& b = origins.runs[r];
      const bool continues = a.origin.kind == b.origin.kind && a.origin.row == b.origin.row &&
                             a.origin.occurrence == b.origin.occurrence &&
                             (a.origin.kind == Origin::Kind::kGenerated ||
                              a.origin.offset + a.length == b.origin.offset);
      ASSERT_FALSE(continues) << "runs " << r - 1 << " and " << r << " of " << ToUtf8(with);
    }
    ++checked;
  }
  // Most pages end and succeed; the check must not dwindle to nothing.
  EXPECT_GT(checked, 10000);
}

// One nested case spelled out: a tag inside another tag's content inside a
// row's code, with attributes.
TEST(PageOrigins, NestedExpansionsChainBackToTheTemplate) {
  const Text page = u"A<!--outer-->B";
  const ado::RowTable table = Table(
      {{Text(u"outer"), Text(u"x<!--box w=1-->C<!--/box-->")}, {Text(u"box"), Text(u"[data]y")}});
  PageOrigins origins;
  const Text out = AssembleAspCode(page, table, {}, &origins);
  EXPECT_EQ(out, u"A<%x<%w=\"1\"\r\n%>C<%y%>%>B");
  ASSERT_EQ(origins.occurrences.size(), 2u);
  EXPECT_EQ(origins.occurrences[0].tag, u"<!--outer-->");
  EXPECT_EQ(origins.occurrences[0].at.kind, Origin::Kind::kTemplate);
  EXPECT_EQ(origins.occurrences[0].at.offset, 1u);
  EXPECT_EQ(origins.occurrences[1].tag, u"<!--box w=1-->");
  EXPECT_EQ(origins.occurrences[1].at.kind, Origin::Kind::kCode);
  EXPECT_EQ(origins.occurrences[1].at.row, 0);
  EXPECT_EQ(origins.occurrences[1].at.occurrence, 0);
  EXPECT_EQ(origins.occurrences[1].at.offset, 1u);
  // "C" is content of box, code of outer at offset 15.
  const size_t c = out.find(u'C');
  const OriginRun* found = nullptr;
  for (const OriginRun& run : origins.runs)
    if (run.start <= c && c < run.start + run.length) found = &run;
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->origin.kind, Origin::Kind::kCode);
  EXPECT_EQ(found->origin.row, 0);
  EXPECT_EQ(found->origin.offset + (c - found->start), 15u);
  EXPECT_EQ(origins.rows.size(), 2u);
}

}  // namespace
}  // namespace vz
