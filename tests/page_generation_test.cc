// Whole pages: a real SQLite database, template files on disk, and the two
// generation methods of a Page, with the exact log lines of every failure.

#include <gtest/gtest.h>

#include <string>

#include "component/page.h"
#include "component/page_ptr.h"
#include "platform/ado/open.h"
#include "platform/fso/code_page.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using testing::Entries;
using testing::References;
using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

// A database and a template folder for one test.
class PageGenerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fso::SetCodePage("65001");
    db_path_ = dir_ / "site.db";
    std::filesystem::create_directories(dir_ / "tmpl");
  }

  // Creates the database from `sql` (after the schema unless `schema` is off).
  void Database(const std::string& sql, bool schema = true) {
    RunSql(db_path_, (schema ? std::string(testing::kSiteSchema) : std::string()) + sql);
  }
  void Template(const std::string& name, const std::string& bytes) {
    WriteBytes(dir_ / ("tmpl/" + name), bytes);
  }

  // A page on the database, with the template folder set.
  PagePtr OpenPage(bool connect = true) {
    PagePtr page = PagePtr::Create();
    if (connect) {
      conn_ = ado::OpenConnection(FromUtf8(db_path_));
      page.PutRefConnection(conn_.get());
    }
    page.PutTempletRoot(FromUtf8(dir_ / "tmpl"));
    return page;
  }

  TempDir dir_;
  std::string db_path_;
  com::Ref<ado::DatabaseConnection> conn_;
};

const char* const kBoxCode =
    "'BoxStart w, h' || char(13,10) || '[data]' || char(13,10) || 'BoxEnd'";

TEST_F(PageGenerationTest, TheWorkedExampleEndToEnd) {
  Database(
      "INSERT INTO web_templet VALUES (12, 1, 'p.html');\n"
      "INSERT INTO web_tag VALUES ('box', NULL, '', " +
      std::string(kBoxCode) + ");\n");
  Template("p.html", "<p><!--box--></p><!--box w=1&h=2--><b>Hi</b><!--/box-->.");
  PagePtr page = OpenPage();
  EXPECT_EQ(page.CreateAspCode(u"1", u"12"),
            u"<p><%BoxStart w, h\r\n[data]\r\nBoxEnd%></p><%w=\"1\"\r\nh=\"2\"\r\n"
            u"BoxStart w, h\r\n%><b>Hi</b><%\r\nBoxEnd%>.");
  EXPECT_EQ(page.GetErrors(), u"");
  // The same page twice gives the same text.
  EXPECT_EQ(page.CreateAspCode(u"1", u"12"), page.CreateAspCode(u"1", u"12"));
  EXPECT_EQ(page.CreateExecuteCode(u"1", u"12"),
            u"Response.Write \"<p>\""
            u"\r\nBoxStart w, h\r\n[data]\r\nBoxEnd\r\n"
            u"Response.Write \"</p>\""
            u"\r\nw=\"1\"\r\nh=\"2\"\r\nBoxStart w, h\r\n\r\n"
            u"Response.Write \"<b>Hi</b>\""
            u"\r\n\r\nBoxEnd\r\n"
            u"Response.Write \".\"");
  EXPECT_EQ(page.GetErrors(), u"");
}

TEST_F(PageGenerationTest, ExecuteCodeOfAPageWithoutTags) {
  Database(
      "INSERT INTO web_templet VALUES (1, 1, 'a.html');\n"
      "INSERT INTO web_templet VALUES (2, 1, 'lf.html');\n");
  Template("a.html", "<p>\"Hi\"</p>\r\n<%x=1%>\r\n<%=x%><%y%>end");
  Template("lf.html", "a\nb\rc\r\n");
  PagePtr page = OpenPage();
  EXPECT_EQ(page.CreateExecuteCode(u"1", u"1"),
            u"Response.Write \"<p>\"\"Hi\"\"</p>\" & vbCrLf\r\nResponse.Write \"\"\r\nx=1\r\n"
            u"Response.Write \"\" & vbCrLf\r\nResponse.Write \"\"\r\n=x\r\n\r\ny\r\n"
            u"Response.Write \"end\"");
  // Lone line-end characters are written as constants inside the statement.
  EXPECT_EQ(page.CreateExecuteCode(u"1", u"2"),
            u"Response.Write \"a\" & vbLf & \"b\" & vbCr & \"c\" & vbCrLf\r\n"
            u"Response.Write \"\"");
  EXPECT_EQ(page.GetErrors(), u"");
}

// Every row of the failure table of a page's assembly.
TEST_F(PageGenerationTest, FailuresAreLoggedAndGiveAnEmptyText) {
  Database(
      "INSERT INTO web_templet VALUES (1, 1, 'ok.html');\n"
      "INSERT INTO web_templet VALUES (2, 1, 'missing.html');\n"
      "INSERT INTO web_templet VALUES (3, 1, 'closing_first.html');\n"
      "INSERT INTO web_templet VALUES (4, 1, 'ok.html');\n"
      "INSERT INTO web_page2func VALUES (4, 7);\n"
      "INSERT INTO web_tag VALUES ('box', NULL, '', 'B[data]E');\n"
      "INSERT INTO web_tag VALUES ('nullcode', 7, '', NULL);\n");
  Template("ok.html", "<!--box-->x<!--/box-->");
  Template("closing_first.html", "<!--/box--><!--box-->");
  PagePtr page = OpenPage();
  struct Case {
    const char16_t* set;
    const char16_t* page;
    const char16_t* result;
    std::vector<Text> lines;
  } cases[] = {
      {u"1", u"1", u"<%B%>x<%E%>", {}},
      {u"9", u"1", u"", {u"[Vantrel_ZozEza] \u6a21\u677f\u4e0d\u5b58\u5728\u3002"}},
      {u"", u"1", u"", {u"[Vantrel_ZozEza] \u6a21\u677f\u4e0d\u5b58\u5728\u3002"}},
      {u"1", u"2", u"", {u"[53] File not found"}},
      {u"1", u"3", u"", {u"[5] Invalid procedure call or argument"}},
      {u"1", u"4", u"", {u"[94] Invalid use of Null"}},
      // The template query refuses the identifier; the tag query still runs.
      {u"abc", u"1", u"", {u"[13] Type mismatch: identifier 'abc' is not a number"}},
      // Both queries refuse it: one line from each.
      {u"1",
       u"1 or 1=1",
       u"",
       {u"[13] Type mismatch: identifier '1 or 1=1' is not a number",
        u"[13] Type mismatch: identifier '1 or 1=1' is not a number"}},
  };
  for (const Case& c : cases) {
    Text before = page.GetErrors();
    EXPECT_EQ(page.CreateAspCode(c.set, c.page), c.result)
        << ToUtf8(c.set) << "/" << ToUtf8(c.page);
    EXPECT_EQ(Entries(page.GetErrors().substr(before.size())), c.lines)
        << ToUtf8(c.set) << "/" << ToUtf8(c.page);
  }
}

TEST_F(PageGenerationTest, TagQueryFailureIsLoggedOnce) {
  Database(
      "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);\n"
      "INSERT INTO web_templet VALUES (1, 1, 'ok.html');\n",
      false);
  Template("ok.html", "text");
  PagePtr page = OpenPage();
  EXPECT_EQ(page.CreateAspCode(u"1", u"1"), u"");
  std::vector<Text> lines = Entries(page.GetErrors());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 14), u"[-2147217900] ");
  EXPECT_NE(lines[0].find(u"no such table: web_tag"), Text::npos);
}

TEST_F(PageGenerationTest, WithoutAConnectionBothQueriesFail) {
  Database("");
  PagePtr page = OpenPage(false);
  EXPECT_EQ(page.CreateAspCode(u"1", u"1"), u"");
  EXPECT_EQ(Entries(page.GetErrors()),
            (std::vector<Text>{u"[91] Object variable or With block variable not set",
                               u"[91] Object variable or With block variable not set"}));
  // The inner call logs its own lines; the execute code goes on with "".
  EXPECT_EQ(page.CreateExecuteCode(u"1", u"1"), u"Response.Write \"\"");
  EXPECT_EQ(Entries(page.GetErrors()).size(), 4u);
}

TEST_F(PageGenerationTest, NoTagRowLeavesTheTemplateAlone) {
  Database(
      "INSERT INTO web_templet VALUES (1, 1, 'a.html');\n"
      "INSERT INTO web_tag VALUES ('box', 5, '', 'never');\n");
  Template("a.html", "<!--box--> stays");
  PagePtr page = OpenPage();
  EXPECT_EQ(page.CreateAspCode(u"1", u"1"), u"<!--box--> stays");
  EXPECT_EQ(page.GetErrors(), u"");
}

// Row order decides: a later row expands markup an earlier row brought in,
// never the other way round.
TEST_F(PageGenerationTest, RowOrderDecidesWhatIsExpanded) {
  for (bool a_first : {true, false}) {
    SCOPED_TRACE(a_first ? "A then B" : "B then A");
    TempDir dir;
    std::string path = dir / "order.db";
    std::string rows = a_first ? "INSERT INTO web_tag VALUES ('a', NULL, '', 'A<!--b-->');\n"
                                 "INSERT INTO web_tag VALUES ('b', NULL, '', 'B');\n"
                               : "INSERT INTO web_tag VALUES ('b', NULL, '', 'B');\n"
                                 "INSERT INTO web_tag VALUES ('a', NULL, '', 'A<!--b-->');\n";
    RunSql(path, std::string(testing::kSiteSchema) +
                     "INSERT INTO web_templet VALUES (1, 1, 'a.html');\n" + rows);
    Template("a.html", "[<!--a-->]");
    PagePtr page = PagePtr::Create();
    com::Ref<ado::DatabaseConnection> conn = ado::OpenConnection(FromUtf8(path));
    page.PutRefConnection(conn.get());
    page.PutTempletRoot(FromUtf8(dir_ / "tmpl"));
    EXPECT_EQ(page.CreateAspCode(u"1", u"1"), a_first ? u"[<%A<%B%>%>]" : u"[<%A<!--b-->%>]");
  }
}

TEST_F(PageGenerationTest, SixteenBitRowIndex) {
  // 32,767 rows are all applied; the last one's tag is in the template.
  const std::string rows =
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %d)\n"
      "INSERT INTO web_tag SELECT 't' || x, NULL, '', 'c' || x FROM n;\n";
  char sql[512];
  std::snprintf(sql, sizeof sql, rows.c_str(), 32767);
  Database(std::string("INSERT INTO web_templet VALUES (1, 1, 'a.html');\n") + sql);
  Template("a.html", "<!--t1--><!--t32767-->");
  PagePtr page = OpenPage();
  EXPECT_EQ(page.CreateAspCode(u"1", u"1"), u"<%c1%><%c32767%>");
  EXPECT_EQ(page.GetErrors(), u"");

  // One more row: every row is applied, then the step past 32,767 overflows.
  RunSql(db_path_, "INSERT INTO web_tag VALUES ('t32768', NULL, '', 'c32768');\n");
  EXPECT_EQ(page.CreateAspCode(u"1", u"1"), u"");
  EXPECT_EQ(Entries(page.GetErrors()), std::vector<Text>{u"[6] Overflow"});
}

// A page whose text doubles on every pass (each pass copies content that
// holds opening tags through two markers) ends at the working limit with 14,
// long before it could exhaust memory, and the limit is the host's to set.
TEST_F(PageGenerationTest, ARunawayPageEndsAtTheWorkingLimit) {
  std::string opening, closing;
  for (int i = 0; i < 40; ++i) {
    opening += "<!--d-->";
    closing += "<!--/d-->";
  }
  Database(
      "INSERT INTO web_templet VALUES (1, 1, 'runaway.html');\n"
      "INSERT INTO web_tag VALUES ('d', NULL, '', '[data][data]');\n");
  Template("runaway.html", opening + "x" + closing);
  PagePtr page = OpenPage();
  const int64_t before = WorkingTextLimit();
  SetWorkingTextLimit(int64_t{1} << 20);
  const Text code = page.CreateAspCode(u"1", u"1");
  SetWorkingTextLimit(before);
  EXPECT_EQ(code, u"");
  EXPECT_EQ(Entries(page.GetErrors()), std::vector<Text>{u"[14] Out of string space"});
  EXPECT_EQ(WorkingTextLimit(), before);
}

TEST(WorkingTextLimit, ClampedToTheTextBound) {
  const int64_t before = WorkingTextLimit();
  SetWorkingTextLimit(0);
  EXPECT_EQ(WorkingTextLimit(), 1);
  SetWorkingTextLimit(int64_t{1} << 40);
  EXPECT_EQ(WorkingTextLimit(), kMaxTextLength);
  SetWorkingTextLimit(before);
}

TEST_F(PageGenerationTest, ReferencesComeBackOnEveryPath) {
  Database(
      "INSERT INTO web_templet VALUES (1, 1, 'a.html');\n"
      "INSERT INTO web_tag VALUES ('x', NULL, '', NULL);\n");
  Template("a.html", "<!--x-->");
  PagePtr page = OpenPage();
  const unsigned page_refs = References(page.get());
  const unsigned conn_refs = References(conn_.get());
  page.CreateAspCode(u"1", u"1");
  page.CreateExecuteCode(u"1", u"1");
  page.CreateAspCode(u"abc", u"");
  EXPECT_EQ(References(page.get()), page_refs);
  EXPECT_EQ(References(conn_.get()), conn_refs);
  EXPECT_EQ(ado::LiveRecordsets(), 0);
  // Null code twice (the second time inside the execute code), then the
  // refused set identifier and the null code once more.
  EXPECT_EQ(Entries(page.GetErrors()).size(), 4u);
}

}  // namespace
}  // namespace vz
