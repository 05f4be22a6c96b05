// vavizar check: the lint functions on texts and rows (one golden case per
// kind of finding, exact text), and the sub-command on a real SQLite database
// and template files (pages, paths, exit statuses, the example site).

#include "cli/check_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
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
std::string Human(TextView text, const std::vector<TagRow>& rows,
                  const std::string& encoding = "UTF-8") {
  std::string out;
  for (const Finding& f : cli::LintPage(text, rows, encoding))
    out += cli::FormatHuman("a.html", text, f);
  return out;
}

std::string Json(TextView text, const std::vector<TagRow>& rows,
                 const std::string& encoding = "UTF-8") {
  std::string out;
  for (const Finding& f : cli::LintPage(text, rows, encoding))
    out += cli::FormatJson("a.html", text, f);
  return out;
}

const std::vector<TagRow> kBox = {{u"box", u"S[data]E"}};

TEST(TemplateLint, OpeningTagWithoutCommentEnd) {
  EXPECT_EQ(Human(u"<p>\n<!--box w=1\n</p>", kBox),
            "a.html:2:1: unterminated-tag: opening tag of `box` has no `-->` after it: "
            "generating the page fails\n"
            "<!--box w=1\n"
            "^\n");
  EXPECT_EQ(Json(u"<p>\n<!--box w=1\n</p>", kBox),
            "{\"file\":\"a.html\",\"line\":2,\"column\":1,\"kind\":\"unterminated-tag\","
            "\"tag\":\"box\",\"row\":null,\"row_name\":null,\"message\":\"opening tag of `box` "
            "has no `-->` after it: generating the page fails\"}\n");
  // A "-->" anywhere after the opening tag ends it, and a plain opening tag
  // holds its own.
  EXPECT_EQ(Human(u"<!--box w=1\n</p>-->", kBox), "");
  EXPECT_EQ(Human(u"<!--box-->", kBox), "");
}

TEST(TemplateLint, ClosingTagWithoutOpeningTagBeforeIt) {
  EXPECT_EQ(Human(u"a<!--/box-->b<!--box-->c<!--/box-->", kBox),
            "a.html:1:2: unopened-closing-tag: closing tag `<!--/box-->` has no opening tag of "
            "`box` before it\n"
            "a<!--/box-->b<!--box-->c<!--/box-->\n"
            " ^\n");
  // Closing tags of a name that the page has no row for are none of its
  // business.
  EXPECT_EQ(Human(u"a<!--/other-->b", kBox), "");
}

TEST(TemplateLint, OpeningTagPairedPastAnotherOpeningTag) {
  const Text text = u"<!--box-->\r\nX<!--box a=1-->\r\nY<!--/box-->\r\n<!--/box-->";
  EXPECT_EQ(Human(text, kBox),
            "a.html:1:1: mispaired-tag: opening tag of `box` pairs with the closing tag at 3:2, "
            "past another opening tag of `box` at 2:2\n"
            "<!--box-->\n"
            "^\n");
  // Pairs in order draw no finding.
  EXPECT_EQ(Human(u"<!--box-->a<!--/box--><!--box w=2-->b<!--/box-->", kBox), "");
}

TEST(TemplateLint, CodeThatHoldsItsOwnOpeningTag) {
  const std::vector<TagRow> rows = {{u"t", u"x"}, {u"box", u"A<!--box-->B"}};
  const Text text = u"x\n\t <!--box-->";
  EXPECT_EQ(Human(text, rows),
            "a.html:2:3: code-opens-itself: the code of row 2 (`box`) holds an opening tag of "
            "`box`: expanding the tag never ends, so generating a page that uses it fails\n"
            "\t <!--box-->\n"
            "\t ^\n");
  EXPECT_EQ(Json(text, rows),
            "{\"file\":\"a.html\",\"line\":2,\"column\":3,\"kind\":\"code-opens-itself\","
            "\"tag\":\"box\",\"row\":2,\"row_name\":\"box\",\"message\":\"the code of row 2 "
            "(`box`) holds an opening tag of `box`: expanding the tag never ends, so generating "
            "a page that uses it fails\"}\n");
  // The form with attributes counts too; a page without the tag gets the
  // finding without a place.
  EXPECT_EQ(Human(u"<p></p>", {{u"box", u"<!--box w=1-->"}}),
            "a.html: code-opens-itself: the code of row 1 (`box`) holds an opening tag of "
            "`box`: expanding the tag never ends, so generating a page that uses it fails\n");
  // A closing tag or a longer name in the code is no opening tag.
  EXPECT_EQ(Human(u"<!--box-->", {{u"box", u"<!--/box--><!--boxes-->"}}), "");
}

TEST(TemplateLint, NullNameAndNullCode) {
  const std::vector<TagRow> rows = {{u"a", u"x"}, {std::nullopt, u"c"}, {u"t", std::nullopt}};
  EXPECT_EQ(Human(u"<!--t-->", rows),
            "a.html: null-name: row 2 has a NULL name: generating the page fails\n"
            "a.html: null-code: row 3 (`t`) has a NULL code: generating the page fails\n");
  EXPECT_EQ(Json(u"<!--t-->", rows),
            "{\"file\":\"a.html\",\"line\":0,\"column\":0,\"kind\":\"null-name\",\"tag\":null,"
            "\"row\":2,\"row_name\":null,\"message\":\"row 2 has a NULL name: generating the "
            "page fails\"}\n"
            "{\"file\":\"a.html\",\"line\":0,\"column\":0,\"kind\":\"null-code\",\"tag\":\"t\","
            "\"row\":3,\"row_name\":\"t\",\"message\":\"row 3 (`t`) has a NULL code: generating "
            "the page fails\"}\n");
}

std::vector<TagRow> ManyRows(size_t count) {
  std::vector<TagRow> rows;
  for (size_t i = 0; i < count; ++i) rows.push_back({FromUtf8("r" + std::to_string(i)), u"c"});
  return rows;
}

TEST(TemplateLint, RowsPastTheLastRowIndex) {
  EXPECT_EQ(Human(u"<p></p>", ManyRows(32767)), "");
  const std::string past =
      "a.html: too-many-rows: the page has 32768 tag rows; row 32768 and later are past the "
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
            "a.html:1:4: misspelled-tag: `<!--nmae-->`: did you mean `name`?\n"
            "<p><!--nmae--></p>\n"
            "   ^\n");
  // Two edits, an attribute text after the word, a closing tag.
  EXPECT_EQ(Human(u"<!--fotr-->\n<!--Box w=1-->x<!--/bxo-->", rows),
            "a.html:1:1: misspelled-tag: `<!--fotr-->`: did you mean `footer`?\n"
            "<!--fotr-->\n"
            "^\n"
            "a.html:2:1: misspelled-tag: `<!--Box`: did you mean `box`?\n"
            "<!--Box w=1-->x<!--/bxo-->\n"
            "^\n"
            "a.html:2:16: misspelled-tag: `<!--/bxo-->`: did you mean `/box`?\n"
            "<!--Box w=1-->x<!--/bxo-->\n"
            "               ^\n");
  EXPECT_EQ(Json(u"<!--nmae-->", rows),
            "{\"file\":\"a.html\",\"line\":1,\"column\":1,\"kind\":\"misspelled-tag\","
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

TEST(TemplateLint, CharactersTheOutputEncodingCannotHold) {
  const Text text = u"a\u20ACb\u4E2D\u6587c\n\U0001F600x\u4E2D";
  EXPECT_EQ(Human(text, {}, "ISO-8859-1"),
            "a.html:1:2: unencodable: `\u20AC` cannot be written in ISO-8859-1 (U+20AC)\n"
            "a\u20ACb\u4E2D\u6587c\n"
            " ^\n"
            "a.html:1:4: unencodable: `\u4E2D\u6587` cannot be written in ISO-8859-1 (U+4E2D "
            "U+6587)\n"
            "a\u20ACb\u4E2D\u6587c\n"
            "   ^\n"
            "a.html:2:1: unencodable: `\U0001F600` cannot be written in ISO-8859-1 (U+1F600)\n"
            "\U0001F600x\u4E2D\n"
            "^\n"
            "a.html:2:3: unencodable: `\u4E2D` cannot be written in ISO-8859-1 (U+4E2D)\n"
            "\U0001F600x\u4E2D\n"
            "  ^\n");
  EXPECT_EQ(Human(text, {}, "UTF-8"), "");
  EXPECT_EQ(Human(u"\u4E2D\u6587\U0001F600", {}, "936"),
            "a.html:1:3: unencodable: `\U0001F600` cannot be written in 936 (U+1F600)\n"
            "\u4E2D\u6587\U0001F600\n"
            "  ^\n");
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
  EXPECT_EQ(cli::FormatHuman("f", text, f), "f:3:1: k: m\nc\n^\n");
  f.offset = 3;
  EXPECT_EQ(cli::FormatHuman("f", text, f), "f:2:1: k: m\nb\n^\n");
  f.offset = cli::kNoOffset;
  EXPECT_EQ(cli::FormatHuman("", text, f), "k: m\n");
}

TEST(TemplateLint, JsonStringsAreEscaped) {
  EXPECT_EQ(cli::JsonString("a\"b\\c\nd\re\tf\x01g\x7F"),
            "\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\\u007f\"");
  EXPECT_EQ(cli::JsonString("\xE4\xB8\xAD"), "\"\xE4\xB8\xAD\"");
  EXPECT_EQ(cli::JsonString("\xFF"), "\"\xEF\xBF\xBD\"");
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
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "3"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/sub/bad.html:2:3: misspelled-tag: `<!--nmae-->`: did you mean "
                       "`name`?\n"
                       "  <!--nmae--><!--lat-->\n"
                       "  ^\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CheckCommandTest, JsonGivesOneObjectAFinding) {
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "4", "--json"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "{\"file\":\"" + templates_ +
                       "/clean.html\",\"line\":0,\"column\":0,\"kind\":\"null-code\","
                       "\"tag\":\"late\",\"row\":3,\"row_name\":\"late\",\"message\":\"row 3 "
                       "(`late`) has a NULL code: generating the page fails\"}\n");
}

TEST_F(CheckCommandTest, RegisteredTemplateThatIsMissing) {
  testing::Result r = testing::RunCli(Args({"--set", "1", "--page", "2"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/missing.html: missing-template: the template of page 2 of set 1 cannot "
                       "be read: File not found\n");
}

TEST_F(CheckCommandTest, PairNotRegistered) {
  testing::Result r = testing::RunCli(Args({"--set", "2", "--page", "1"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "not-registered: no template is registered for page 1 of set 2\n");
  r = testing::RunCli(Args({"--set", "2", "--page", "1", "--json"}));
  EXPECT_EQ(r.out,
            "{\"file\":\"\",\"line\":0,\"column\":0,\"kind\":\"not-registered\",\"tag\":null,"
            "\"row\":null,\"row_name\":null,\"message\":\"no template is registered for page 1 "
            "of set 2\"}\n");
  r = testing::RunCli(Args({"--set", "2"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "not-registered: no page is registered for set 2\n");
}

TEST_F(CheckCommandTest, WholeSetGoesPageByPageInOrder) {
  testing::Result r = testing::RunCli(Args({"--set", "1"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/missing.html: missing-template: the template of page 2 of set 1 cannot "
                       "be read: File not found\n" +
                       templates_ +
                       "/sub/bad.html:2:3: misspelled-tag: `<!--nmae-->`: did you mean "
                       "`name`?\n"
                       "  <!--nmae--><!--lat-->\n"
                       "  ^\n" +
                       templates_ +
                       "/clean.html: null-code: row 3 (`late`) has a NULL code: generating the "
                       "page fails\n");
}

TEST_F(CheckCommandTest, TemplatesAreReadInTheCodePage) {
  // "中" saved in GBK: read in code page 936 it is one character, which
  // ASCII cannot hold and UTF-8 can.
  WriteBytes(templates_ + "/clean.html", "<p>\xD6\xD0</p>");
  testing::Result r = testing::RunCli(
      Args({"--set", "1", "--page", "1", "--codepage", "936", "--encoding", "ASCII"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, templates_ +
                       "/clean.html:1:4: unencodable: `\xE4\xB8\xAD` cannot be written in ASCII "
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
  for (const char* set : {"1", "2"}) {
    for (const char* codepage : {"936", "65001"}) {
      testing::Result r = testing::RunCli({"check", "--db", db, "--templates", site + "/templates",
                                           "--codepage", codepage, "--set", set});
      EXPECT_EQ(r.status, cli::kExitOk) << set << " " << codepage << "\n" << r.out << r.err;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "");
    }
  }
  // The Chinese page in a set without Chinese: findings, status 1.
  testing::Result r =
      testing::RunCli({"check", "--db", db, "--templates", site + "/templates", "--codepage", "936",
                       "--encoding", "ISO-8859-1", "--set", "1", "--page", "4"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out.rfind(site + "/templates/cn/about.html:4:5: unencodable: ", 0), 0u) << r.out;
  fso::SetCodePage("65001");
}

}  // namespace
}  // namespace vz
