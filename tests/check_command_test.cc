// vavizar check: the lint functions on texts and rows (one golden case per
// kind of finding, exact text), and the sub-command on a real SQLite database
// and template files (pages, paths, exit statuses, the example site).

#include "cli/check_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/commands.h"
#include "cli/finding_printer.h"
#include "cli/template_lint.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "tests/cli_fixture.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using cli::Finding;
using cli::TagRow;
using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

// Every finding of a page, each as the human report of the file "a.html".
std::vector<Finding> Lint(TextView text, const std::vector<TagRow>& rows,
                          const std::string& encoding = "UTF-8") {
  cli::LintOptions options;
  options.encoding = encoding;
  return cli::LintPage(text, rows, options);
}

std::string Human(TextView text, const std::vector<TagRow>& rows,
                  const std::string& encoding = "UTF-8") {
  std::string out;
  cli::FindingPrinter printer("a.html", text, false);
  for (const Finding& f : Lint(text, rows, encoding)) out += printer.Format(f);
  return out;
}

std::string Json(TextView text, const std::vector<TagRow>& rows,
                 const std::string& encoding = "UTF-8") {
  std::string out;
  cli::FindingPrinter printer("a.html", text, true);
  for (const Finding& f : Lint(text, rows, encoding)) out += printer.Format(f);
  return out;
}

// The kinds of the findings, in order, separated by blanks.
std::string Kinds(TextView text, const std::vector<TagRow>& rows) {
  std::string out;
  for (const Finding& f : Lint(text, rows)) out += (out.empty() ? "" : " ") + f.kind;
  return out;
}

const std::vector<TagRow> kBox = {{u"box", u"S[data]E"}};

TEST(TemplateLint, OpeningTagWithoutCommentEnd) {
  EXPECT_EQ(Human(u"<p>\n<!--box w=1\n</p>", kBox),
            "a.html:2:1: error: unterminated-tag: opening tag of `box` has no `-->` after it: "
            "generating the page fails\n"
            "<!--box w=1\n"
            "^\n");
  EXPECT_EQ(Json(u"<p>\n<!--box w=1\n</p>", kBox),
            "{\"file\":\"a.html\",\"line\":2,\"column\":1,\"severity\":\"error\",\"kind\":"
            "\"unterminated-tag\","
            "\"tag\":\"box\",\"row\":null,\"row_name\":null,\"message\":\"opening tag of `box` "
            "has no `-->` after it: generating the page fails\"}\n");
  // A "-->" anywhere after the opening tag ends it (here the attribute text
  // then holds a line break, and the page no closing tag), and a plain
  // opening tag holds its own.
  EXPECT_EQ(Kinds(u"<!--box w=1\n</p>-->", kBox), "unclosed-tag bad-attributes");
  EXPECT_EQ(Kinds(u"<!--box-->", {{u"box", u"B"}}), "");
}

TEST(TemplateLint, ClosingTagWithoutOpeningTagBeforeIt) {
  EXPECT_EQ(
      Human(u"a<!--/box-->b<!--box-->c<!--/box-->", kBox),
      "a.html:1:2: warning: unopened-closing-tag: closing tag `<!--/box-->` has no opening tag of "
      "`box` before it\n"
      "a<!--/box-->b<!--box-->c<!--/box-->\n"
      " ^\n");
  // Closing tags of a name that the page has no row for are none of its
  // business.
  EXPECT_EQ(Human(u"a<!--/other-->b", kBox), "");
}

TEST(TemplateLint, OpeningTagPairedPastAnotherOpeningTag) {
  const Text text = u"<!--box-->\r\nX<!--box a=1-->\r\nY<!--/box-->\r\n<!--/box-->";
  EXPECT_EQ(
      Human(text, kBox),
      "a.html:1:1: warning: mispaired-tag: opening tag of `box` pairs with the closing tag at 3:2, "
      "past another opening tag of `box` at 2:2\n"
      "<!--box-->\n"
      "^\n");
  // Pairs in order draw no finding.
  EXPECT_EQ(Human(u"<!--box-->a<!--/box--><!--box w=2-->b<!--/box-->", kBox), "");
}

TEST(TemplateLint, CodeThatHoldsItsOwnOpeningTag) {
  const std::vector<TagRow> rows = {{u"t", u"x"}, {u"box", u"A<!--box-->B"}};
  const Text text = u"x\n\t <!--box-->";
  EXPECT_EQ(
      Human(text, rows),
      "a.html:2:3: error: code-opens-itself: the code of row 2 (`box`) holds an opening tag of "
      "`box`: expanding the tag never ends, so generating a page that uses it fails\n"
      "\t <!--box-->\n"
      "\t ^\n");
  EXPECT_EQ(Json(text, rows),
            "{\"file\":\"a.html\",\"line\":2,\"column\":3,\"severity\":\"error\",\"kind\":\"code-"
            "opens-itself\","
            "\"tag\":\"box\",\"row\":2,\"row_name\":\"box\",\"message\":\"the code of row 2 "
            "(`box`) holds an opening tag of `box`: expanding the tag never ends, so generating "
            "a page that uses it fails\"}\n");
  // The form with attributes counts too; a page without the tag gets the
  // finding without a place.
  EXPECT_EQ(Human(u"<p></p>", {{u"box", u"<!--box w=1-->"}}),
            "a.html: error: code-opens-itself: the code of row 1 (`box`) holds an opening tag of "
            "`box`: expanding the tag never ends, so generating a page that uses it fails\n");
  // A closing tag or a longer name in the code is no opening tag.
  EXPECT_EQ(Human(u"<!--box-->", {{u"box", u"<!--/box--><!--boxes-->"}}), "");
}

TEST(TemplateLint, NullNameAndNullCode) {
  const std::vector<TagRow> rows = {{u"a", u"x"}, {std::nullopt, u"c"}, {u"t", std::nullopt}};
  EXPECT_EQ(Human(u"<!--t-->", rows),
            "a.html: error: null-name: row 2 has a NULL name: generating the page fails\n"
            "a.html: error: null-code: row 3 (`t`) has a NULL code: generating the page fails\n");
  EXPECT_EQ(Json(u"<!--t-->", rows),
            "{\"file\":\"a.html\",\"line\":0,\"column\":0,\"severity\":\"error\",\"kind\":\"null-"
            "name\",\"tag\":null,"
            "\"row\":2,\"row_name\":null,\"message\":\"row 2 has a NULL name: generating the "
            "page fails\"}\n"
            "{\"file\":\"a.html\",\"line\":0,\"column\":0,\"severity\":\"error\",\"kind\":\"null-"
            "code\",\"tag\":\"t\","
            "\"row\":3,\"row_name\":\"t\",\"message\":\"row 3 (`t`) has a NULL code: generating "
            "the page fails\"}\n");
}

std::vector<TagRow> ManyRows(size_t count) {
  std::vector<TagRow> rows;
  for (size_t i = 0; i < count; ++i) {
    // Built in two steps: GCC 12 warns falsely of an overlap for "r" + string.
    std::string name = "r";
    name += std::to_string(i);
    rows.push_back({FromUtf8(name), u"c"});
  }
  return rows;
}

TEST(TemplateLint, RowsPastTheLastRowIndex) {
  EXPECT_EQ(Human(u"<p></p>", ManyRows(32767)), "");
  const std::string past =
      "a.html: error: too-many-rows: the page has 32768 tag rows; row 32768 and later are past the "
      "last row index 32767, so generating the page fails with \"Overflow\"\n";
  EXPECT_EQ(Human(u"<p></p>", ManyRows(32768)), past);
  std::vector<Finding> found = cli::LintRows(u"", ManyRows(32770));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].row, 32768);
  EXPECT_EQ(found[0].row_name, Text(u"r32767"));
}

TEST(TemplateLint, CommentOneOrTwoEditsFromATagName) {
  const std::vector<TagRow> rows = {{u"name", u"N"}, {u"footer", u"F"}, {u"box", u"S[data]E"}};
  EXPECT_EQ(Human(u"<p><!--nmae--></p>", rows),
            "a.html:1:4: warning: misspelled-tag: `<!--nmae-->`: did you mean `name`?\n"
            "<p><!--nmae--></p>\n"
            "   ^\n");
  // Two edits, an attribute text after the word, a closing tag.
  EXPECT_EQ(Human(u"<!--fotr-->\n<!--Box w=1-->x<!--/bxo-->", rows),
            "a.html:1:1: warning: misspelled-tag: `<!--fotr-->`: did you mean `footer`?\n"
            "<!--fotr-->\n"
            "^\n"
            "a.html:2:1: error: tag-not-applied: `<!--Box w=1-->` is plainly a custom tag (it has "
            "name=value attributes), but no tag row of the page is named `Box`, so the page keeps "
            "the comment as it is; did you mean `box`?\n"
            "<!--Box w=1-->x<!--/bxo-->\n"
            "^\n"
            "a.html:2:16: warning: misspelled-tag: `<!--/bxo-->`: did you mean `/box`?\n"
            "<!--Box w=1-->x<!--/bxo-->\n"
            "               ^\n");
  EXPECT_EQ(Json(u"<!--nmae-->", rows),
            "{\"file\":\"a.html\",\"line\":1,\"column\":1,\"severity\":\"warning\",\"kind\":"
            "\"misspelled-tag\","
            "\"tag\":\"name\",\"row\":null,\"row_name\":null,\"message\":\"`<!--nmae-->`: did "
            "you mean `name`?\"}\n");
}

TEST(TemplateLint, OrdinaryAndConditionalCommentsAreNotReported) {
  const std::vector<TagRow> rows = {{u"name", u"N"}, {u"id", u"I"}, {u"t", u"T"}};
  const Text text =
      u"<!-- a comment -->\n"
      u"<!--\nname\n-->\n"
      u"<!--note: far from every name-->\n"
      u"<!--x--><!--ab-->\n"
      u"<!--[if IE]><p>old</p><![endif]-->\n"
      u"<!--[if !IE]><!--><p>new</p><!--<![endif]-->\n"
      u"<!--name\tw=1-->\n"
      u"<!---->";
  EXPECT_EQ(Human(text, rows), "");
  // Three edits are too many.
  EXPECT_EQ(Human(u"<!--nxyz-->", rows), "");
}

// Columns count characters; the caret stands where a terminal shows the
// character, two columns for each wide one before it.
TEST(TemplateLint, CharactersTheOutputEncodingCannotHold) {
  const Text text = u"a\u20ACb\u4E2D\u6587c\n\U0001F600x\u4E2D";
  EXPECT_EQ(
      Human(text, {}, "ISO-8859-1"),
      "a.html:1:2: error: unencodable: `\u20AC` cannot be written in ISO-8859-1 (U+20AC)\n"
      "a\u20ACb\u4E2D\u6587c\n"
      " ^\n"
      "a.html:1:4: error: unencodable: `\u4E2D\u6587` cannot be written in ISO-8859-1 (U+4E2D "
      "U+6587)\n"
      "a\u20ACb\u4E2D\u6587c\n"
      "   ^\n"
      "a.html:2:1: error: unencodable: `\U0001F600` cannot be written in ISO-8859-1 (U+1F600)\n"
      "\U0001F600x\u4E2D\n"
      "^\n"
      "a.html:2:3: error: unencodable: `\u4E2D` cannot be written in ISO-8859-1 (U+4E2D)\n"
      "\U0001F600x\u4E2D\n"
      "   ^\n");
  EXPECT_EQ(Human(text, {}, "UTF-8"), "");
  EXPECT_EQ(Human(u"\u4E2D\u6587\U0001F600", {}, "936"),
            "a.html:1:3: error: unencodable: `\U0001F600` cannot be written in 936 (U+1F600)\n"
            "\u4E2D\u6587\U0001F600\n"
            "    ^\n");
}

TEST(TemplateLint, UnencodablePositionsAgreeWithEncode) {
  const Text text = u"\u00E9\u20AC\U0001F600z\xD800";
  EXPECT_EQ(fso::Encode("ISO-8859-1", text), "\xE9??z?");
  EXPECT_EQ(fso::Unencodable("ISO-8859-1", text), (std::vector<size_t>{1, 2, 5}));
  EXPECT_EQ(fso::Unencodable("UTF-8", u"\u20AC"), std::vector<size_t>{});
  ErrorState unknown = testing::FailureOf([] { fso::Unencodable("no-such-set", u"a"); });
  EXPECT_EQ(unknown.number, 5);
  EXPECT_EQ(ToUtf8(unknown.description), "Unknown encoding 'no-such-set'");
}

// The tags a page view marks: every opening tag (to its "-->", or to the end
// of a text without one) and closing tag of the rows' names, and nothing else.
TEST(TemplateLint, TagMarksAreTheTagsOfTheRowsNames) {
  const std::vector<TagRow> rows = {{u"box", u"S[data]E"}, {u"b", u"B"}};
  const struct {
    Text text;
    std::string marks;  // "START-END:NAME:open|close", by place
  } kCases[] = {
      {u"<!--box w=1-->a<!--/box-->", "0-14:box:open 15-26:box:close"},
      {u"x<!--b-->y<!--/b-->", "1-9:b:open 10-19:b:close"},
      {u"<!--bx--><!--b-->", "9-17:b:open"},
      {u"<p><!--box w=1", "3-14:box:open"},
      {u"<!-- box --><!--/b --><!--box\n-->", ""},
      {u"<!--box a=1--><!--b c=2-->", "0-14:box:open 14-26:b:open"},
  };
  for (const auto& c : kCases) {
    std::string marks;
    for (const cli::TagMark& m : cli::FindTagMarks(c.text, rows)) {
      if (!marks.empty()) marks += ' ';
      marks += std::to_string(m.start);
      marks += '-';
      marks += std::to_string(m.end);
      marks += ':' + ToUtf8(m.name) + (m.closing ? ":close" : ":open");
    }
    EXPECT_EQ(marks, c.marks) << ToUtf8(c.text);
  }
}

TEST(TemplateLint, EditDistanceCountsTranspositionsOnce) {
  EXPECT_EQ(cli::EditDistance(u"nmae", u"name"), 1u);
  EXPECT_EQ(cli::EditDistance(u"", u"abc"), 3u);
  EXPECT_EQ(cli::EditDistance(u"kitten", u"sitting"), 3u);
  EXPECT_EQ(cli::EditDistance(u"fotr", u"footer"), 2u);
  // Optimal string alignment: no substring is edited twice.
  EXPECT_EQ(cli::EditDistance(u"ca", u"abc"), 3u);
  EXPECT_EQ(cli::EditDistance(u"box", u"box"), 0u);
}

TEST(TemplateLint, LinesEndAtLfCrLfAndLoneCr) {
  const Text text = u"a\r\nb\rc\nd\U0001F600e";
  EXPECT_EQ(cli::Locate(text, 0).line, 1);
  EXPECT_EQ(cli::Locate(text, 3).line, 2);
  EXPECT_EQ(cli::Locate(text, 3).column, 1);
  EXPECT_EQ(cli::Locate(text, 5).line, 3);
  EXPECT_EQ(cli::Locate(text, 7).line, 4);
  EXPECT_EQ(cli::Locate(text, 10).column, 3);  // "e", after a surrogate pair
  Finding f;
  f.kind = "k";
  f.offset = 5;
  f.message = FromUtf8("m");
  EXPECT_EQ(cli::FormatHuman("f", text, f), "f:3:1: error: k: m\nc\n^\n");
  f.offset = 3;
  f.severity = cli::Severity::kWarning;
  EXPECT_EQ(cli::FormatHuman("f", text, f), "f:2:1: warning: k: m\nb\n^\n");
  f.offset = cli::kNoOffset;
  EXPECT_EQ(cli::FormatHuman("", text, f), "warning: k: m\n");
  // The index of lines answers as the scan does, at every offset.
  const cli::LineIndex index(text);
  for (size_t at = 0; at <= text.size(); ++at) {
    EXPECT_EQ(index.At(at).line, cli::Locate(text, at).line) << at;
    EXPECT_EQ(index.At(at).column, cli::Locate(text, at).column) << at;
  }
}

TEST(TemplateLint, JsonStringsAreEscaped) {
  EXPECT_EQ(cli::JsonString("a\"b\\c\nd\re\tf\x01g\x7F"),
            "\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\\u007f\"");
  EXPECT_EQ(cli::JsonString("\xE4\xB8\xAD"), "\"\xE4\xB8\xAD\"");
  EXPECT_EQ(cli::JsonString("\xFF"), "\"\xEF\xBF\xBD\"");
}

// One golden case per kind of finding that comes from following the
// generation, and from the codes a page uses: the page, its rows and what
// check says of it.
TEST(TemplateLint, EachKindFromTheGenerationAtItsCause) {
  const std::unordered_map<Text, std::vector<Text>> functions = {{u"late", {u"7"}}};
  struct Case {
    const char* what;
    Text text;
    std::vector<TagRow> rows;
    std::string expected;
    std::string encoding = "UTF-8";
    int64_t max_length = 268435456;
    size_t max_units = 0;
  };
  const Case cases[] = {
      {"attributes that run on to the closing tag's -->",
       u"<!--box w=1&h=2\n<p>x</p>\n<!--/box-->\n", kBox,
       "a.html:1:1: error: attributes-run-on: the attribute text of `<!--box` runs from 1:9 to "
       "3:8, past its closing tag `<!--/box-->` at 3:1, up to that tag's `-->`: the opening tag "
       "has no `-->` of its own, so no closing tag is left after it and generating the page "
       "fails (5 Invalid procedure call or argument)\n"
       "<!--box w=1&h=2\n"
       "^\n"},
      {"a closing tag only before: the opening tag with attributes goes first",
       u"<!--box-->x<!--/box--><!--box a=1-->", kBox,
       "a.html:1:23: error: closing-tag-before: opening tag of `box` has no closing tag after "
       "it, while `<!--/box-->` at 1:12 stands before it: an opening tag pairs only with a "
       "closing tag after its `-->`, so generating the page fails (5 Invalid procedure call or "
       "argument)\n"
       "<!--box-->x<!--/box--><!--box a=1-->\n"
       "                      ^\n"},
      {"no closing tag, a near miss", u"<!--box w=1-->\n<p>x</p>\n<!--/box -->\n", kBox,
       "a.html:1:1: error: unclosed-tag: opening tag of `box` has no closing tag `<!--/box-->`, "
       "so the `[data]` of the code of row 1 goes into the page as it is; `<!--/box -->` at 3:1 "
       "looks like one, but a closing tag is exactly `<!--/box-->`\n"
       "<!--box w=1-->\n"
       "^\n"},
      {"the one closing tag taken by the first opening tag", u"<!--box-->a<!--/box--><!--box-->b",
       kBox,
       "a.html:1:23: error: unclosed-tag: opening tag of `box` has no closing tag `<!--/box-->` "
       "left after it, so the `[data]` of the code of row 1 goes into the page as it is\n"
       "<!--box-->a<!--/box--><!--box-->b\n"
       "                      ^\n"},
      {"attributes written as in HTML",
       u"<!--box w=1 h=2-->a<!--/box-->\n<!--box w=\"a b\"-->b<!--/box-->\n<!--box -->c<!--/box-->",
       kBox,
       "a.html:1:9: error: bad-attributes: attribute text `w=1 h=2` gives the line `w=\"1 "
       "h=\"2\"`, "
       "which a script host cannot compile: a value cannot hold `\"` or `=` (values carry no "
       "quotes); write `w=1&h=2`\n"
       "<!--box w=1 h=2-->a<!--/box-->\n"
       "        ^\n"
       "a.html:2:9: error: bad-attributes: attribute text `w=\"a b\"` gives the line `w=\"\"a "
       "b\"\"`, "
       "which a script host cannot compile: a value cannot hold `\"` or `=` (values carry no "
       "quotes); write `w=a b`\n"
       "<!--box w=\"a b\"-->b<!--/box-->\n"
       "        ^\n"
       "a.html:3:1: error: bad-attributes: the blank after the name starts an empty attribute "
       "text, which gives a line holding only `\"`: write `<!--box-->` without the blank\n"
       "<!--box -->c<!--/box-->\n"
       "^\n"},
      {"a code brings in a tag whose row came before",
       u"<!--nav-->",
       {{u"box", u"B"}, {u"nav", u"<!--box-->x"}},
       "a.html:1:1: error: tag-left: opening tag of `box` that the code of row 2 (`nav`) brings "
       "in stays in the page as it is: row 1 expands that tag before it comes in, and rows are "
       "applied in order\n"
       "<!--nav-->\n"
       "^\n"},
      {"past the working limit",
       u"<!--box-->",
       {{u"box", u"0123456789"}},
       "a.html:1:1: error: page-too-long: expanding this opening tag of `box` makes the page 14 "
       "characters long, past the limit of 12: generating the page fails (14 Out of string "
       "space)\n"
       "<!--box-->\n"
       "^\n",
       "UTF-8",
       12},
      {"a custom tag of a function the page is not attached to", u"<!--late-->x<!--/late-->", kBox,
       "a.html:1:1: error: tag-not-applied: `<!--late-->` is plainly a custom tag (it has a "
       "closing tag `<!--/late-->`), but no tag row named `late` applies to this page: web_tag "
       "has it for function 7, which web_page2func does not attach to the page\n"
       "<!--late-->x<!--/late-->\n"
       "^\n"},
      {"a code with a custom tag no row has",
       u"<!--box-->",
       {{u"box", u"<!--ad-->x<!--/ad-->"}},
       "a.html:1:1: error: tag-not-applied: the code of row 1 (`box`) holds `<!--ad-->`, plainly "
       "a custom tag (it has a closing tag `<!--/ad-->`), but no tag row of the page is named "
       "`ad`, so the page keeps the comment as it is\n"
       "<!--box-->\n"
       "^\n"},
      {"a name the trace does not follow",
       u"<!--a b-->",
       {{u"a b", u"X"}},
       "a.html: warning: odd-tag-name: row 1 (`a b`) has a name holding ` `, which the expansion "
       "can match across other markup and code; check does not follow this row's tags\n"},
      {"a page that fails with such a row",
       u"<!--/--><!-- x-->",
       {{u"", u"[data]"}},
       "a.html: warning: odd-tag-name: row 1 (``) has an empty name: every comment that starts "
       "with a blank, as `<!-- note -->`, is taken for its tag; check does not follow this row's "
       "tags\n"
       "a.html: error: generation-fails: generating the page fails (5 Invalid procedure call or "
       "argument); check cannot tell where, since it does not follow row 1 (``)\n"
       "a.html:1:1: warning: unopened-closing-tag: closing tag `<!--/-->` has no opening tag of "
       "`` before it\n"
       "<!--/--><!-- x-->\n"
       "^\n"},
      {"content copied past what check follows",
       u"<!--box-->" + Text(50, u'y') + u"<!--/box-->",
       {{u"box", u"[data][data][data]"}},
       "a.html:1:1: error: markup-grows: expanding this opening tag of `box` makes the tag "
       "markup of the page grow past 100 characters (the code of row 1 holds `[data]` 3 times, "
       "so the content is copied that often): the page comes out huge or fails, and check "
       "follows it no further\n"
       "<!--box-->" +
           std::string(50, 'y') +
           "<!--/box-->\n"
           "^\n",
       "UTF-8",
       268435456,
       100},
      {"a code the encoding cannot write",
       u"<p><!--euro--></p>",
       {{u"euro", u"Response.Write \"\u20AC\u4E2D\u20AC\""}},
       "a.html:1:4: error: unencodable: the code of row 1 (`euro`), which goes into the page "
       "here, holds characters that ISO-8859-1 cannot write: `\u20AC` U+20AC `\u4E2D` U+4E2D\n"
       "<p><!--euro--></p>\n"
       "   ^\n",
       "ISO-8859-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cli::LintOptions options;
    options.encoding = c.encoding;
    options.max_length = c.max_length;
    options.max_units = c.max_units;
    options.function_tags = &functions;
    std::string out;
    cli::FindingPrinter printer("a.html", c.text, false);
    for (const Finding& f : cli::LintPage(c.text, c.rows, options)) out += printer.Format(f);
    EXPECT_EQ(out, c.expected);
  }
}

// A long line is shown as a window of about 160 columns around the column,
// cut with "..."; the caret stands under the character, wide ones taking
// two columns; control characters show as "?"; a file name with a line end
// stays on its line.
TEST(FindingPrinter, LongLinesShowAWindowAroundTheColumn) {
  Finding f = cli::MakeFinding("misspelled-tag", 300, "m");
  const Text long_line = Text(300, u'a') + u"<!--x-->" + Text(300, u'b') + u"\nz";
  EXPECT_EQ(cli::FormatHuman("f", long_line, f),
            "f:1:301: warning: misspelled-tag: m\n..." + std::string(70, 'a') + "<!--x-->" +
                std::string(82, 'b') + "...\n" + std::string(73, ' ') + "^\n");
  // Near the end of the line the window takes more of its start.
  const Text line_end = Text(300, u'a') + u"Z";
  EXPECT_EQ(cli::FormatHuman("f", line_end, f), "f:1:301: warning: misspelled-tag: m\n..." +
                                                    std::string(159, 'a') + "Z\n" +
                                                    std::string(162, ' ') + "^\n");
  f.offset = 3;
  EXPECT_EQ(cli::FormatHuman("a\nb\x1B.html", u"\u4E2D\t\x1B<!--x-->", f),
            "a\\nb\\x1B.html:1:4: warning: misspelled-tag: m\n\u4E2D\t?<!--x-->\n  \t ^\n");
  EXPECT_EQ(
      cli::FormatJson("a\nb.html", u"x", cli::MakeFinding("outside-folder", cli::kNoOffset, "m")),
      "{\"file\":\"a\\nb.html\",\"line\":0,\"column\":0,\"severity\":\"warning\","
      "\"kind\":\"outside-folder\",\"tag\":null,\"row\":null,\"row_name\":null,"
      "\"message\":\"m\"}\n");
  // Any line, any column: the shown line stays within the window, and the
  // caret lines up with the character it points at.
  const Text pieces[] = {u"a", u"\u4E2D", u"\U0001F600", u"\t", u"\u00E9"};
  for (const Text& piece : pieces) {
    Text line;
    for (int i = 0; i < 400; ++i) line += i % 7 == 0 ? Text(u"b") : piece;
    for (size_t offset : {size_t{0}, size_t{37}, line.size() / 2, line.size() - 1}) {
      if (offset > 0 && line[offset] >= 0xDC00 && line[offset] <= 0xDFFF) --offset;
      f.offset = offset;
      const std::string out = cli::FormatHuman("", line, f);
      const size_t first = out.find('\n');
      const size_t second = out.find('\n', first + 1);
      const Text shown = FromUtf8(out.substr(first + 1, second - first - 1));
      const std::string caret = out.substr(second + 1, out.size() - second - 2);
      int width = 0;
      int before_caret = -1;
      for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] >= 0xDC00 && shown[i] <= 0xDFFF) continue;
        char32_t c = shown[i];
        if (c >= 0xD800 && c <= 0xDBFF)
          c = 0x10000 + ((c - 0xD800) << 10) + (shown[i + 1] - 0xDC00);
        if (static_cast<size_t>(width) == caret.size() - 1) before_caret = static_cast<int>(c);
        width += cli::DisplayWidth(c);
      }
      SCOPED_TRACE(ToUtf8(piece) + " at " + std::to_string(offset));
      EXPECT_LE(width, 166);
      EXPECT_EQ(caret.back(), '^');
      const char32_t pointed =
          line[offset] >= 0xD800 && line[offset] <= 0xDBFF
              ? 0x10000 + ((line[offset] - 0xD800) << 10) + (line[offset + 1] - 0xDC00)
              : line[offset];
      EXPECT_EQ(before_caret, static_cast<int>(pointed));
    }
  }
}

// A site of set 1:
//   page 1  clean.html       uses its tags well
//   page 2  missing.html     registered, not on disk
//   page 3  sub\bad.html     a misspelled tag and a tag of function 7 only
//   page 4  clean.html       attached to function 7, whose tag has a NULL code
class CheckCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fso::SetCodePage("65001");
    db_ = dir_ / "site.db";
    templates_ = dir_ / "tmpl";
    std::filesystem::create_directories(templates_ + "/sub");
    RunSql(db_, std::string(testing::kSiteSchema) +
                    "INSERT INTO web_templet VALUES (3, 1, 'sub\\bad.html');\n"
                    "INSERT INTO web_templet VALUES (1, 1, 'clean.html');\n"
                    "INSERT INTO web_templet VALUES (2, 1, 'missing.html');\n"
                    "INSERT INTO web_templet VALUES (4, 1, 'clean.html');\n"
                    "INSERT INTO web_page2func VALUES (4, 7);\n"
                    "INSERT INTO web_tag VALUES ('name', NULL, '', 'Response.Write 1');\n"
                    "INSERT INTO web_tag VALUES ('box', NULL, '', 'B[data]E');\n"
                    "INSERT INTO web_tag VALUES ('late', 7, '', NULL);\n");
    WriteBytes(templates_ + "/clean.html", "<p><!--name--></p>\r\n<!--box-->x<!--/box-->\r\n");
    WriteBytes(templates_ + "/sub/bad.html", "<p>\r\n  <!--nmae--><!--lat-->\r\n</p>");
  }
  void TearDown() override { fso::SetCodePage("65001"); }

  std::vector<std::string> Args(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"check", "--db", db_, "--templates", templates_};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }

  TempDir dir_;
  std::string db_;
  std::string templates_;
};

TEST_F(CheckCommandTest, CleanPageGivesNothingAndStatusZero) {
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "1"}));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(CheckCommandTest, MisspelledTagIsReportedWhereTheFileIs) {
  // The folder gets a "\" after it and the "\" of tmpl_file separates
  // folders; only the page's own tags count ("late" belongs to page 4).
  // A misspelling is a warning: status 0, unless --strict.
  const std::string found = templates_ +
                            "/sub/bad.html:2:3: warning: misspelled-tag: `<!--nmae-->`: did you "
                            "mean `name`?\n"
                            "  <!--nmae--><!--lat-->\n"
                            "  ^\n";
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "3"}));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, found);
  EXPECT_EQ(r.err, "");
  r = testing::RunCli(Args({"--set", "1", "--page", "3", "--strict"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, found);
}

TEST_F(CheckCommandTest, JsonGivesOneObjectAFinding) {
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "4", "--json"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(
      r.out,
      "{\"file\":\"" + templates_ +
          "/clean.html\",\"line\":0,\"column\":0,\"severity\":\"error\",\"kind\":\"null-code\","
          "\"tag\":\"late\",\"row\":3,\"row_name\":\"late\",\"message\":\"row 3 "
          "(`late`) has a NULL code: generating the page fails\"}\n");
}

TEST_F(CheckCommandTest, RegisteredTemplateThatIsMissing) {
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "2"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out,
            templates_ +
                "/missing.html: error: missing-template: the template of page 2 of set 1 cannot "
                "be read: File not found\n");
}

TEST_F(CheckCommandTest, PairNotRegistered) {
  testing::Result r = testing::RunCli(Args({"--set", "2", "--page", "1"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "error: not-registered: no template is registered for page 1 of set 2\n");
  r = testing::RunCli(Args({"--set", "2", "--page", "1", "--json"}));
  EXPECT_EQ(r.out,
            "{\"file\":\"\",\"line\":0,\"column\":0,\"severity\":\"error\",\"kind\":\"not-"
            "registered\",\"tag\":null,"
            "\"row\":null,\"row_name\":null,\"message\":\"no template is registered for page 1 "
            "of set 2\"}\n");
  r = testing::RunCli(Args({"--set", "2"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "error: not-registered: no page is registered for set 2\n");
}

TEST_F(CheckCommandTest, WholeSetGoesPageByPageInOrder) {
  testing::Result r = testing::RunCli(Args({"--set", "1"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out,
            templates_ +
                "/missing.html: error: missing-template: the template of page 2 of set 1 cannot "
                "be read: File not found\n" +
                templates_ +
                "/sub/bad.html:2:3: warning: misspelled-tag: `<!--nmae-->`: did you mean "
                "`name`?\n"
                "  <!--nmae--><!--lat-->\n"
                "  ^\n" +
                templates_ +
                "/clean.html: error: null-code: row 3 (`late`) has a NULL code: generating the "
                "page fails\n");
}

TEST_F(CheckCommandTest, TemplatesAreReadInTheCodePage) {
  // "中" saved in GBK: read in code page 936 it is one character, which
  // ASCII cannot hold and UTF-8 can.
  WriteBytes(templates_ + "/clean.html", "<p>\xD6\xD0</p>");
  testing::Result r = testing::RunCli(
      Args({"--set", "1", "--page", "1", "--codepage", "936", "--encoding", "ASCII"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out,
            templates_ +
                "/clean.html:1:4: error: unencodable: `\xE4\xB8\xAD` cannot be written in ASCII "
                "(U+4E2D)\n"
                "<p>\xE4\xB8\xAD</p>\n"
                "   ^\n");
  r = testing::RunCli(Args({"--set", "1", "--page", "1", "--codepage", "936"}));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, "");
}

TEST_F(CheckCommandTest, UsageAndDatabaseMistakesGiveStatusTwo) {
  testing::Result r = testing::RunCli(Args({}));
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "vavizar check: give the template set with --set SET\n"
            "Try 'vavizar check --help'.\n");
  r = testing::RunCli(Args({"--set", "x1"}));
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err,
            "vavizar check: Type mismatch: identifier 'x1' is not a number\n"
            "Try 'vavizar check --help'.\n");
  r = testing::RunCli(Args({"--set", "1", "--encoding", "no-such-set"}));
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err,
            "vavizar check: Unknown encoding 'no-such-set'\n"
            "Try 'vavizar check --help'.\n");
  r = testing::RunCli({"check", "--set", "1"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err,
            "vavizar check: give one of --db FILE or --odbc STRING\n"
            "Try 'vavizar check --help'.\n");
  r = testing::RunCli({"check", "--db", dir_ / "none/x.db", "--set", "1"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err.rfind("vavizar check: cannot open database '" + (dir_ / "none") + "/x.db': ", 0),
            0u)
      << r.err;
  // A database without the tables.
  RunSql(dir_ / "empty.db", "CREATE TABLE other (a INTEGER);\n");
  r = testing::RunCli({"check", "--db", dir_ / "empty.db", "--set", "1"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("vavizar check: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("web_templet"), std::string::npos) << r.err;
  r = testing::RunCli(Args({"--set", "1", "extra"}));
  EXPECT_EQ(r.status, cli::kExitUsage);
}

TEST_F(CheckCommandTest, HelpTellsTheOptions) {
  testing::Result r = testing::RunCli({"check", "--help"});
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out.rfind(cli::kCheckUsage, 0), 0u);
  EXPECT_NE(r.out.find("--templates DIR"), std::string::npos);
  r = testing::RunCli({"--help"});
  EXPECT_NE(r.out.find("  check       find template and tag-row mistakes"), std::string::npos)
      << r.out;
}

// Set 3: a custom tag of function 7, which its page is not attached to, and
// templates that leave the folder through "..", a link and an absolute name.
TEST_F(CheckCommandTest, FunctionTagsAndPathsOutsideTheFolder) {
  RunSql(db_,
         "INSERT INTO web_templet VALUES (5, 3, 'custom.html');\n"
         "INSERT INTO web_templet VALUES (6, 3, '..\\outside.html');\n"
         "INSERT INTO web_templet VALUES (7, 3, 'link.html');\n"
         "INSERT INTO web_templet VALUES (8, 3, '" +
             (dir_ / "outside.html") + "');\n");
  WriteBytes(templates_ + "/custom.html", "<!--late-->x<!--/late-->");
  WriteBytes(dir_ / "outside.html", "<p>out</p>");
  std::filesystem::create_symlink(dir_ / "outside.html", templates_ + "/link.html");
  testing::Result r = testing::RunCli(Args({"--set", "3", "--page", "5"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/custom.html:1:1: error: tag-not-applied: `<!--late-->` is plainly a "
                       "custom tag (it has a closing tag `<!--/late-->`), but no tag row named "
                       "`late` applies to this page: web_tag has it for function 7, which "
                       "web_page2func does not attach to the page\n"
                       "<!--late-->x<!--/late-->\n"
                       "^\n");
  const std::string outside =
      ", through `..`, an absolute name or a link: allowed, but rarely "
      "meant\n";
  r = testing::RunCli(Args({"--set", "3", "--page", "6"}));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, templates_ +
                       "/../outside.html: warning: outside-folder: tmpl_file `..\\outside.html` "
                       "leads outside the template folder `" +
                       templates_ + "`" + outside);
  r = testing::RunCli(Args({"--set", "3", "--page", "7", "--strict"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/link.html: warning: outside-folder: tmpl_file `link.html` leads outside "
                       "the template folder `" +
                       templates_ + "`" + outside);
  // Without --templates the folder is the working one.
  r = testing::RunCli({"check", "--db", db_, "--set", "3", "--page", "8"});
  EXPECT_EQ(r.out, dir_ / "outside.html" + ": warning: outside-folder: tmpl_file `" +
                       (dir_ / "outside.html") +
                       "` leads outside the template folder (the working folder: no "
                       "--templates)" +
                       outside);
  r = testing::RunCli(Args({"--set", "1", "--page", "1"}));
  EXPECT_EQ(r.out, "");
}

// A GBK template read as UTF-8: the first invalid place, the count, and the
// common code pages that read the file cleanly.
TEST_F(CheckCommandTest, BytesNotValidInTheCodePage) {
  RunSql(db_, "INSERT INTO web_templet VALUES (9, 3, 'gbk.html');\n");
  WriteBytes(templates_ + "/gbk.html", "<p>\n<h1>\xC4\xA3\xB0\xE5</h1>");
  testing::Result r = testing::RunCli(Args({"--set", "3", "--page", "9", "--codepage", "65001"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/gbk.html:2:6: error: invalid-bytes: 2 byte sequences are not valid in "
                       "code page UTF-8 and read as U+FFFD (this is the first); it reads cleanly "
                       "as GBK (--codepage 936), Big5 (--codepage 950), Windows-1252 "
                       "(--codepage 1252)\n"
                       // C4 A3 happens to be UTF-8 too (U+0123); B0 E5 is not.
                       "<h1>\xC4\xA3\xEF\xBF\xBD\xEF\xBF\xBD</h1>\n"
                       "     ^\n");
  r = testing::RunCli(Args({"--set", "3", "--page", "9", "--codepage", "936"}));
  EXPECT_EQ(r.status, cli::kExitOk) << r.out;
}

// A web_tag whose first column is an integer id: told once, naming the
// columns, and the pages are not checked, since no tag of theirs can match.
TEST_F(CheckCommandTest, TagTableLaidOutWithAnIdFirst) {
  const std::string db = dir_ / "id.db";
  RunSql(db,
         "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
         "CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);\n"
         "CREATE TABLE web_tag (id INTEGER PRIMARY KEY, tag_name TEXT, FunID INTEGER,\n"
         "                      tag_code TEXT);\n"
         "INSERT INTO web_templet VALUES (1, 1, 'clean.html');\n"
         "INSERT INTO web_templet VALUES (2, 1, 'clean.html');\n"
         "INSERT INTO web_tag VALUES (1, 'name', NULL, 'Response.Write 1');\n");
  testing::Result r =
      testing::RunCli({"check", "--db", db, "--templates", templates_, "--set", "1"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out,
            "error: tag-columns: the first column of web_tag (`id`) holds numbers, but the "
            "component takes the first column as the tag name and the fourth as the tag code: no "
            "tag can match, so every page comes out unexpanded; its columns are `id`, "
            "`tag_name`, `FunID`, `tag_code`; put the tag name first and the tag code fourth; "
            "the pages are not checked until then\n");
}

// A one-line template of 20,000 mistyped tags: every finding is printed with
// a window of the line, and written out as the page is done.
TEST_F(CheckCommandTest, LongLineOfFindingsStaysBounded) {
  std::string line;
  for (int i = 0; i < 20000; ++i) line += "<!--bax-->";
  WriteBytes(templates_ + "/clean.html", line);
  const std::string written = dir_ / "out.txt";
  const int fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  cli::Output output;
  output.out_fd = fd;
  const int status = cli::Run(Args({"--set", "1", "--page", "1"}), output);
  ::close(fd);
  EXPECT_EQ(status, cli::kExitOk);
  EXPECT_EQ(output.out, "");  // all of it went out as the page was done
  const std::string out = testing::ReadBytes(written);
  size_t findings = 0;
  size_t longest = 0;
  for (size_t start = 0, end; start < out.size(); start = end + 1) {
    end = out.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    longest = std::max(longest, end - start);
    findings += out.compare(start, templates_.size(), templates_) == 0;
  }
  EXPECT_EQ(findings, 20000u);
  EXPECT_LE(longest, std::max(templates_.size() + 100, size_t{170}));
  const std::string last = templates_ +
                           "/clean.html:1:199991: warning: misspelled-tag: `<!--bax-->`: did you "
                           "mean `box`?\n..." +
                           line.substr(line.size() - 160) + "\n" + std::string(153, ' ') + "^\n";
  ASSERT_GE(out.size(), last.size());
  EXPECT_EQ(out.substr(out.size() - last.size()), last);
}

// The example site, created from its SQL, is clean in both template sets.
TEST(CheckCommand, ExampleSiteHasNoFindings) {
  TempDir dir;
  const std::string db = dir / "site.db";
  const std::string site = VZ_EXAMPLE_SITE;
  std::string sql;
  {
    std::ifstream in(site + "/site.sql", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    sql = bytes.str();
  }
  ASSERT_FALSE(sql.empty());
  RunSql(db, sql);
  for (const auto& [set, codepage] :
       {std::pair{"1", "936"}, std::pair{"2", "936"}, std::pair{"2", "65001"}}) {
    testing::Result r = testing::RunCli({"check", "--db", db, "--templates", site + "/templates",
                                         "--codepage", codepage, "--set", set});
    EXPECT_EQ(r.status, cli::kExitOk) << set << " " << codepage << "\n" << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  // Its GBK page read as UTF-8 is the one finding of set 1.
  {
    testing::Result r = testing::RunCli({"check", "--db", db, "--templates", site + "/templates",
                                         "--codepage", "65001", "--set", "1", "--json"});
    EXPECT_EQ(r.status, cli::kExitLogged);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    EXPECT_NE(r.out.find("\"kind\":\"invalid-bytes\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cn/about.html"), std::string::npos) << r.out;
  }
  // The Chinese page in a set without Chinese: findings, status 1.
  testing::Result r =
      testing::RunCli({"check", "--db", db, "--templates", site + "/templates", "--codepage", "936",
                       "--encoding", "ISO-8859-1", "--set", "1", "--page", "4"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out.rfind(site + "/templates/cn/about.html:4:5: error: unencodable: ", 0), 0u)
      << r.out;
  fso::SetCodePage("65001");
}

}  // namespace
}  // namespace vz
