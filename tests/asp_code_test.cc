#include "generate/asp_code.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/failure.h"
#include "tests/tag_table.h"

namespace vz {
namespace {

// Every row through ExpandTag, as the rows are written.
Text LiteralLoop(Text text, const ado::RowTable& tags) {
  for (int32_t i = 0; i < tags.rows; ++i) {
    Text code = ado::CellText(tags.At(3, i));
    Text name = ado::CellText(tags.At(0, i));
    text = ExpandTag(std::move(text), std::move(name), std::move(code));
  }
  return text;
}

template <typename Fn>
int32_t FailureOf(Fn&& fn) {
  try {
    fn();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

TEST(AssembleAspCode, RowsApplyInOrder) {
  EXPECT_EQ(AssembleAspCode(u"[<!--a-->]",
                            Table({{Text(u"a"), Text(u"A<!--b-->")}, {Text(u"b"), Text(u"B")}})),
            u"[<%A<%B%>%>]");
  EXPECT_EQ(AssembleAspCode(u"[<!--a-->]",
                            Table({{Text(u"b"), Text(u"B")}, {Text(u"a"), Text(u"A<!--b-->")}})),
            u"[<%A<!--b-->%>]");
  EXPECT_EQ(AssembleAspCode(u"no tags", Table({})), u"no tags");
  // Numbers are written as text: a name 7 matches "<!--7-->".
  EXPECT_EQ(AssembleAspCode(u"<!--7-->", Table({{int64_t{7}, 2.5}})), u"<%2.5%>");
}

// A row's code can complete an opening tag that begins before the changed
// stretch: "<!--x" followed by the block "<% y%>" opens the tag "x<%".
TEST(AssembleAspCode, TagsFormedAcrossTheStartOfAChange) {
  const ado::RowTable rows = Table({{Text(u"a"), Text(u" y")}, {Text(u"x<%"), Text(u"Z")}});
  EXPECT_EQ(LiteralLoop(u"<!--x<!--a-->-->", rows), u"<%y%>\"\r\nZ%>");
  EXPECT_EQ(AssembleAspCode(u"<!--x<!--a-->-->", rows), u"<%y%>\"\r\nZ%>");
  // The same where the name is too long for the quick answer.
  const Text long_name = u"x0123456789012345678901234567890123456789<%";
  const ado::RowTable long_rows = Table({{Text(u"a"), Text(u" y")}, {long_name, Text(u"Z")}});
  const Text page = u"<!--x0123456789012345678901234567890123456789<!--a-->-->";
  const Text expected = LiteralLoop(page, long_rows);
  EXPECT_NE(expected.find(u"Z"), Text::npos);
  EXPECT_EQ(AssembleAspCode(page, long_rows), expected);
}

TEST(AssembleAspCode, NullCellsAndShortTables) {
  // Code is read before name; either NULL fails, also after rows that worked.
  EXPECT_EQ(FailureOf([] {
              AssembleAspCode(u"<!--a-->", Table({{Text(u"a"), Text(u"A")}, {Text(u"x"), {}}}));
            }),
            kInvalidUseOfNull);
  EXPECT_EQ(FailureOf([] {
              AssembleAspCode(u"text", Table({{{}, Text(u"code")}}));
            }),
            kInvalidUseOfNull);
  ado::RowTable narrow;
  narrow.columns = 2;
  narrow.rows = 1;
  narrow.cells = {Text(u"a"), Text(u"b")};
  EXPECT_EQ(FailureOf([&] { AssembleAspCode(u"<!--a-->", narrow); }), kSubscriptOutOfRange);
}

TEST(AssembleAspCode, SixteenBitRowIndex) {
  std::vector<std::pair<ado::Cell, ado::Cell>> rows(32767, {Text(u"t"), Text(u"c")});
  EXPECT_EQ(AssembleAspCode(u"<!--t-->", Table(rows)), u"<%c%>");
  rows.emplace_back(Text(u"t"), Text(u"c"));
  EXPECT_EQ(FailureOf([&] { AssembleAspCode(u"<!--t-->", Table(rows)); }), kOverflow);
  rows.emplace_back(Text(u"t"), ado::Cell{});
  // Past 32,768 rows the failure comes before any row: the NULL is not met.
  EXPECT_EQ(FailureOf([&] { AssembleAspCode(u"<!--t-->", Table(rows)); }), kOverflow);
  // Nor are too few columns: the last index overflows first. With 32,768
  // rows it does not, and the first cell is out of range.
  const struct {
    int32_t rows;
    int32_t failure;
  } kNarrow[] = {{32769, kOverflow}, {32768, kSubscriptOutOfRange}};
  for (const auto& narrow : kNarrow) {
    ado::RowTable table;
    table.columns = 2;
    table.rows = narrow.rows;
    table.cells.resize(2 * static_cast<size_t>(narrow.rows), Text(u"t"));
    EXPECT_EQ(FailureOf([&] { AssembleAspCode(u"<!--t-->", table); }), narrow.failure)
        << narrow.rows << " rows";
  }
}

TEST(OpeningTagIndex, AnswersAsASearchWould) {
  struct Case {
    const char16_t* text;
    const char16_t* name;
    bool occurs;
  } cases[] = {
      {u"<!--box-->", u"box", true},
      {u"<!--box a=1-->", u"box", true},
      {u"<!--boxes-->", u"box", false},
      {u"<!--Box-->", u"box", false},
      {u"<!--/box-->", u"box", false},
      {u"<!-- x-->", u"", true},
      {u"<!---->", u"", true},
      {u"<!--x-->", u"", false},
      {u"<!--box", u"box", false},
      {u"<!--box--", u"box", false},
      {u"<!--<!--box-->", u"box", true},
      {u"<!--a b c-->", u"a b", true},
      {u"", u"box", false},
  };
  for (const Case& c : cases) {
    PageText page(c.text, 3);
    OpeningTagIndex index(page);
    TagSightings sightings;
    EXPECT_EQ(index.Sightings(c.name, sightings), c.occurs)
        << ToUtf8(c.text) << " / " << ToUtf8(c.name);
    const bool searched = Find(c.text, Concat({u"<!--", c.name, u" "})) != TextView::npos ||
                          Find(c.text, Concat({u"<!--", c.name, u"-->"})) != TextView::npos;
    EXPECT_EQ(searched, c.occurs) << "the table itself is wrong: " << ToUtf8(c.text);
  }
}

// The assembly against every row through ExpandTag, on generated pages and
// tables whose codes bring in markup of other rows.
TEST(AssembleAspCode, MatchesTheRowByRowLoopOnGeneratedInput) {
  static const char16_t* const kNames[] = {
      u"a", u"b", u"ab", u"", u"a b", u"-", u"abcdefghijklmnopqrstuvwxyz0123456789x"};
  static const char16_t* const kPieces[] = {
      u"<!--", u"-->", u"<!--/", u" ",      u"a", u"b",
      u"x",    u"=1",  u"&",     u"[data]", u"-", u"abcdefghijklmnopqrstuvwxyz0123456789x"};
  static_assert(std::size(kPieces) == 12);
  std::mt19937 rng(99);
  auto random_text = [&](size_t pieces) {
    Text t;
    for (size_t i = 0; i < pieces; ++i) t += kPieces[rng() % std::size(kPieces)];
    return t;
  };
  int compared = 0;
  for (int round = 0; round < 20000; ++round) {
    Text page = random_text(rng() % 24);
    std::vector<std::pair<ado::Cell, ado::Cell>> rows;
    // Up to nine rows, so that the later ones are answered by the index.
    for (size_t r = rng() % 10; r > 0; --r)
      rows.emplace_back(Text(kNames[rng() % std::size(kNames)]), random_text(rng() % 6));
    ado::RowTable table = Table(rows);
    ExpandLimits limits;
    limits.max_length = 4096;
    Text expected, actual;
    int32_t expected_failure = 0, actual_failure = 0;
    try {
      Text text = page;
      for (int32_t i = 0; i < table.rows; ++i)
        text = ExpandTag(std::move(text), ado::CellText(table.At(0, i)),
                         ado::CellText(table.At(3, i)), limits);
      expected = text;
    } catch (const Failure& f) {
      expected_failure = f.number();
    }
    // Blocks of one to a few characters put every edge of a block in play.
    const size_t block_chars = round % 4 == 0 ? PageText::kBlockChars : 1 + round % 7;
    try {
      PageText text(page, block_chars);
      AssembleAspCode(text, table, limits);
      actual = text.Take();
    } catch (const Failure& f) {
      actual_failure = f.number();
    }
    ASSERT_EQ(actual_failure, expected_failure) << ToUtf8(page) << " / " << block_chars;
    ASSERT_EQ(actual, expected) << ToUtf8(page) << " / " << block_chars;
    ++compared;
  }
  EXPECT_EQ(compared, 20000);
  EXPECT_EQ(LiteralLoop(u"<!--a-->", Table({{Text(u"a"), Text(u"A")}})), u"<%A%>");
}

// Every start of `needle` in `text`, overlapping ones included.
std::vector<size_t> Starts(TextView text, TextView needle) {
  std::vector<size_t> starts;
  for (size_t at = text.find(needle); at != TextView::npos; at = text.find(needle, at + 1))
    starts.push_back(at);
  return starts;
}

// Expansion told where the tag stands, on a page text of small blocks,
// gives what the searching expansion gives.
TEST(ExpandTagWithSightings, MatchesTheSearch) {
  static const char16_t* const kPieces[] = {u"<!--", u"-->", u"<!--/",  u" ", u"a",
                                            u"b",    u"x",   u"[data]", u"-", u"<!--a"};
  static const char16_t* const kNames[] = {u"a", u"ab", u"", u"a b", u"-", u"<!--a"};
  std::mt19937 rng(7);
  for (int round = 0; round < 50000; ++round) {
    Text text;
    for (size_t i = rng() % 20; i > 0; --i) text += kPieces[rng() % std::size(kPieces)];
    Text name = kNames[rng() % std::size(kNames)];
    Text code;
    for (size_t i = rng() % 4; i > 0; --i) code += kPieces[rng() % std::size(kPieces)];
    TagSightings sightings{Starts(text, Concat({u"<!--", name, u" "})),
                           Starts(text, Concat({u"<!--", name, u"-->"})),
                           Starts(text, Concat({u"<!--/", name, u"-->"}))};
    ExpandLimits limits;
    limits.max_length = 2048;
    Text expected, actual;
    int32_t expected_failure = 0, actual_failure = 0;
    try {
      expected = ExpandTag(text, name, code, limits);
    } catch (const Failure& f) {
      expected_failure = f.number();
    }
    try {
      PageText page(text, 1 + round % 5);
      ExpandTag(page, name, code, limits, &sightings);
      actual = page.Take();
    } catch (const Failure& f) {
      actual_failure = f.number();
    }
    ASSERT_EQ(actual_failure, expected_failure) << ToUtf8(text) << " / " << ToUtf8(name);
    ASSERT_EQ(actual, expected) << ToUtf8(text) << " / " << ToUtf8(name);
  }
}

}  // namespace
}  // namespace vz
