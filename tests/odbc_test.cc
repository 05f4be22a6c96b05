// The data-access layer through ODBC: a throwaway PostgreSQL server that the
// tests start on 127.0.0.1 (scripts/pg_scratch.sh) and stop again, and a
// SQLite file through the SQLite3 ODBC driver. The same queries run as on
// the embedded provider.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "component/page_ptr.h"
#include "platform/ado/connection.h"
#include "platform/ado/fault.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "store/templet_store.h"
#include "tests/pg_fixture.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using vz::testing::Entries;
using vz::testing::FailureOf;
using vz::testing::FreePort;
using vz::testing::Names;
using vz::testing::References;
using vz::testing::RunSql;
using vz::testing::ScratchServer;
using vz::testing::TempDir;
using vz::testing::WriteBytes;

// The site tables in SQL that both databases take. Function 1 is attached to
// page 12 twice.
const char kSiteSql[] =
    "create table web_templet(page_id integer, tset_id integer, tmpl_file text);\n"
    "create table web_page2func(page_id integer, FunID integer);\n"
    "create table web_tag(tag_name text, tag_note text, tag_kind integer, tag_code text,\n"
    "  FunID integer, tag_weight real);\n"
    "insert into web_templet values(12, 3, 'home/index.htm');\n"
    "insert into web_templet values(14, 3, null);\n"
    "insert into web_templet values(15, 3, 'missing.htm');\n"
    "insert into web_page2func values(12, 1);\n"
    "insert into web_page2func values(12, 1);\n"
    "insert into web_page2func values(12, 2);\n"
    "insert into web_tag values('all', 'n', 0, '<%=1%>', null, 0.5);\n"
    "insert into web_tag values('f1a', 'n', 0, '模板', 1, 1.5);\n"
    "insert into web_tag values('f3', 'n', 0, 'F3', 3, 2.5);\n"
    "insert into web_tag values('f2', 'n', 0, 'F2', 2, 3.5);\n"
    "insert into web_tag values('all2', 'n', null, null, null, null);\n";

const char16_t kNoTempletEntry[] = u"[Vantrel_ZozEza] 模板不存在。";

// Shared by the tests of one suite; started once per test process.
class OdbcTest : public ::testing::Test {
 protected:
  static const TempDir& Config() { return testing::PrivateDriverList(); }
  static void SetUpTestSuite() { Config(); }

  void SetUp() override {
    saved_code_page_ = fso::CodePage();
    fso::SetCodePage("65001");
    std::filesystem::create_directories(dir_ / "tpl/home");
    WriteBytes(dir_ / "tpl/home/index.htm", "<html>\xE6\xA8\xA1</html>");
    root_ = FromUtf8(dir_ / "tpl/");
    recordsets_ = ado::LiveRecordsets();
  }
  void TearDown() override {
    ado::FailNthCall(0);
    EXPECT_EQ(ado::LiveRecordsets(), recordsets_);
    if (db_) {
      EXPECT_EQ(References(db_.get()), 1u);
    }
    fso::SetCodePage(saved_code_page_);
  }

  // The queries every database must answer alike.
  void CheckQueries() {
    EXPECT_EQ(Names(GetPageTags(db_.get(), u"12")),
              (std::vector<Text>{u"all", u"f1a", u"f2", u"all2"}));
    EXPECT_EQ(Names(GetPageTags(db_.get(), u"99")), (std::vector<Text>{u"all", u"all2"}));
    EXPECT_EQ(Names(GetPageTags(db_.get(), u"")), (std::vector<Text>{u"all", u"all2"}));
    ado::RowTable tags = GetPageTags(db_.get(), u"12");
    ASSERT_EQ(tags.columns, 6);
    EXPECT_EQ(tags.At(3, 1), ado::Cell(Text(u"模板")));
    EXPECT_EQ(tags.At(2, 1), ado::Cell(int64_t{0}));
    EXPECT_EQ(tags.At(5, 1), ado::Cell(1.5));
    EXPECT_TRUE(ado::IsNull(tags.At(3, 3)));
    EXPECT_TRUE(ado::IsNull(tags.At(5, 3)));
    EXPECT_EQ(FailureOf([&] { GetPageTags(db_.get(), u"abc"); }).number, 13);

    Text log;
    EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u"12"), u"<html>模</html>");
    EXPECT_EQ(log, u"");
    EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u""), u"");
    EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"", u"12"), u"");
    EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u"14"), u"");
    EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u"15"), u"");
    EXPECT_EQ(Entries(log),
              (std::vector<Text>{kNoTempletEntry, kNoTempletEntry, u"[75] Path/File access error",
                                 u"[53] File not found"}));
  }

  TempDir dir_;
  Text root_;
  std::string saved_code_page_;
  com::Ref<ado::DatabaseConnection> db_;
  int64_t recordsets_ = 0;
};

class OdbcPostgres : public OdbcTest {
 protected:
  static void SetUpTestSuite() {
    OdbcTest::SetUpTestSuite();
    server_ = new ScratchServer();
    if (server_->running()) server_->Sql(kSiteSql, Config());
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    OdbcTest::SetUp();
    ASSERT_TRUE(server_->running());
    db_ = ado::OpenConnection(server_->ConnectionString());
  }

  static ScratchServer* server_;
};

ScratchServer* OdbcPostgres::server_ = nullptr;

TEST_F(OdbcPostgres, QueriesAnswerAsOnTheEmbeddedDatabase) { CheckQueries(); }

TEST_F(OdbcPostgres, TextsPassBothWaysAsUtf16) {
  com::Ref<ado::Recordset> rs =
      db_->Execute(u"select '模板 \U0001F600'::text as v, 7::bigint as n, null::text as z", -1);
  EXPECT_EQ(rs->FieldValue(u"v"), ado::Cell(Text(u"模板 \U0001F600")));
  EXPECT_EQ(rs->FieldValue(u"N"), ado::Cell(int64_t{7}));
  EXPECT_TRUE(ado::IsNull(rs->FieldValue(u"z")));
  rs->Close();
}

TEST_F(OdbcPostgres, LongValuesComeWhole) {
  com::Ref<ado::Recordset> rs = db_->Execute(u"select repeat('模x', 5000) as v", -1);
  Text expected;
  for (int i = 0; i < 5000; ++i) expected += u"模x";
  EXPECT_TRUE(rs->FieldValue(u"v") == ado::Cell(expected));
}

TEST_F(OdbcPostgres, RejectedStatementCarriesSqlStateAndMessage) {
  ErrorState error = FailureOf([&] { db_->Execute(u"select * from nosuch", -1); });
  EXPECT_EQ(error.number, -2147217900);
  EXPECT_TRUE(error.description.starts_with(u"[42P01] ERROR: relation \"nosuch\" does not exist"))
      << ToUtf8(error.description);
  Text log;
  EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u"12"), u"<html>模</html>");
  server_->Sql("alter table web_templet rename column tmpl_file to file_name;", Config());
  EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u"12"), u"");
  server_->Sql("alter table web_templet rename column file_name to tmpl_file;", Config());
  std::vector<Text> entries = Entries(log);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(
      entries[0].starts_with(u"[-2147217900] [42703] ERROR: column \"tmpl_file\" does "
                             u"not exist"))
      << ToUtf8(entries[0]);
}

TEST_F(OdbcPostgres, ConnectionIsReadOnly) {
  ErrorState error =
      FailureOf([&] { db_->Execute(u"insert into web_page2func values(1, 1)", -1); });
  EXPECT_EQ(error.number, -2147217900);
  EXPECT_TRUE(error.description.starts_with(u"[25006]")) << ToUtf8(error.description);
}

TEST_F(OdbcPostgres, ClosedConnection) {
  db_->Close();
  EXPECT_EQ(FailureOf([&] { db_->Execute(u"select 1", -1); }).number, 3709);
  Text log;
  EXPECT_EQ(LoadTemplet(db_.get(), root_, log, u"3", u"12"), u"");
  EXPECT_EQ(Entries(log).at(0).substr(0, 7), u"[3709] ");
}

TEST_F(OdbcPostgres, FaultSweepOverLoadTemplet) {
  int64_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE(n);
    Text log;
    ado::FailNthCall(n);
    Text result = LoadTemplet(db_.get(), root_, log, u"3", u"12");
    bool failed = ado::FaultFired();
    ado::FailNthCall(0);
    EXPECT_EQ(ado::LiveRecordsets(), recordsets_);
    EXPECT_EQ(References(db_.get()), 1u);
    if (!failed) {
      EXPECT_EQ(result, u"<html>模</html>");
      EXPECT_EQ(log, u"");
      break;
    }
    EXPECT_EQ(Entries(log), std::vector<Text>{u"[-2147467259] [08S01] Communication link failure"});
    EXPECT_EQ(result, n == 3 ? u"<html>模</html>" : u"");  // 3: closing the result set
    ASSERT_LT(n, 100);
  }
  EXPECT_EQ(n, 4);  // run, fetch, close
}

// A server of this test's own goes away between two page generations: the
// template query logs the failure, the tag query raises it, nothing crashes
// and everything is released.
TEST_F(OdbcPostgres, ServerStoppedMidSession) {
  ScratchServer own;
  ASSERT_TRUE(own.running());
  own.Sql(kSiteSql, Config());
  com::Ref<ado::DatabaseConnection> db = ado::OpenConnection(own.ConnectionString());
  Text log;
  EXPECT_EQ(LoadTemplet(db.get(), root_, log, u"3", u"12"), u"<html>模</html>");
  own.Stop();
  EXPECT_EQ(LoadTemplet(db.get(), root_, log, u"3", u"12"), u"");
  std::vector<Text> entries = Entries(log);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].starts_with(u"[-2147467259] [57P01]") ||
              entries[0].starts_with(u"[-2147467259] [08S01]"))
      << ToUtf8(entries[0]);
  ErrorState error = FailureOf([&] { GetPageTags(db.get(), u"12"); });
  EXPECT_EQ(error.number, -2147467259);
  EXPECT_TRUE(error.description.starts_with(u"[08")) << ToUtf8(error.description);
  EXPECT_EQ(ado::LiveRecordsets(), recordsets_);
  db->Close();
  EXPECT_EQ(References(db.get()), 1u);
}

// Opening without a server.
using OdbcOpen = OdbcTest;

TEST_F(OdbcOpen, UnreachableServerUnknownDriverAndDsn) {
  int port = FreePort();
  ErrorState error = FailureOf([&] {
    ado::OpenConnection(FromUtf8("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" +
                                 std::to_string(port) + ";Database=postgres;Uid=postgres;"));
  });
  EXPECT_EQ(error.number, -2147467259);
  EXPECT_TRUE(error.description.starts_with(u"[08001]")) << ToUtf8(error.description);
  error = FailureOf([&] { ado::OpenConnection(u"Driver={No Such Driver};Database=x"); });
  EXPECT_EQ(error.number, -2147467259);
  EXPECT_NE(error.description.find(u"No Such Driver"), Text::npos) << ToUtf8(error.description);
  error = FailureOf([&] { ado::OpenConnection(u"DSN=no_such_source"); });
  EXPECT_EQ(error.number, -2147467259);
  EXPECT_TRUE(error.description.starts_with(u"[IM002]")) << ToUtf8(error.description);
}

TEST_F(OdbcOpen, InjectedConnectFailure) {
  ado::FailNthCall(1);
  ErrorState error = FailureOf([&] { ado::OpenConnection(u"Driver={SQLite3};Database=x.db"); });
  EXPECT_TRUE(ado::FaultFired());
  EXPECT_EQ(error.number, -2147467259);
  EXPECT_EQ(error.description, u"[08001] Unable to connect to the data source");
}

class OdbcSqlite : public OdbcTest {
 protected:
  void SetUp() override {
    OdbcTest::SetUp();
    path_ = dir_ / "site.db";
    RunSql(path_, kSiteSql);
    db_ = ado::OpenConnection(Concat({u"Driver={SQLite3};Database=", FromUtf8(path_), u";"}));
  }
  std::string path_;
};

TEST_F(OdbcSqlite, QueriesAnswerAsOnTheEmbeddedDatabase) { CheckQueries(); }

TEST_F(OdbcSqlite, StatementTextOutsideAsciiArrivesIntact) {
  com::Ref<ado::Recordset> rs =
      db_->Execute(u"select tag_name from web_tag where tag_code='模板'", -1);
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->FieldValue(u"tag_name"), ado::Cell(Text(u"f1a")));
}

TEST_F(OdbcSqlite, RejectedStatementCarriesTheDriverMessage) {
  ErrorState error = FailureOf([&] { db_->Execute(u"select * from nosuch", -1); });
  EXPECT_EQ(error.number, -2147217900);
  EXPECT_NE(error.description.find(u"no such table: nosuch"), Text::npos)
      << ToUtf8(error.description);
  EXPECT_TRUE(error.description.starts_with(u"[HY000] ")) << ToUtf8(error.description);
}

// Identifiers built to run statements of their own, as the template set or
// as the page, through a connection that could write: each is refused with
// 13 before any statement runs, and the database file keeps every byte.
TEST_F(OdbcSqlite, IdentifiersBuiltToInjectStatementsChangeNothing) {
  const Text attempts[] = {
      u"12; drop table web_tag",
      u"12;drop table web_tag--",
      u"1 or 1=1",
      u"12 or 1=1",
      u"12' or '1'='1",
      u"12'--",
      u"12 -- comment",
      u"12/* comment */",
      u"12) or (1=1",
      u"(select 12)",
      u"12 union select tag_code from web_tag",
      u"-12; delete from web_templet",
      u"12\ndelete from web_templet",
      Text(u"12\0; drop table web_tag", 23),
      u"0x0C",
      u"\uFF11\uFF12",  // full-width digits
  };
  // The connection writes when told to: the row with NULL cells goes, so
  // that the pages below generate cleanly.
  const std::string site = testing::ReadBytes(path_);
  db_->Execute(u"delete from web_tag where tag_name = 'all2'", -1);
  const std::string before = testing::ReadBytes(path_);
  ASSERT_NE(before, site);

  PagePtr page = PagePtr::Create();
  page.PutRefConnection(db_.get());
  page.PutTempletRoot(root_);
  for (const Text& id : attempts) {
    SCOPED_TRACE(ToUtf8(id));
    const Text refused = Concat({u"[13] Type mismatch: identifier '", id, u"' is not a number"});
    size_t logged = page.GetErrors().size();
    // As the page: the template query and the tag query both refuse it.
    EXPECT_EQ(page.CreateAspCode(u"3", id), u"");
    EXPECT_EQ(Entries(page.GetErrors().substr(logged)), (std::vector<Text>{refused, refused}));
    logged = page.GetErrors().size();
    EXPECT_EQ(page.CreateExecuteCode(u"3", id), u"Response.Write \"\"");
    EXPECT_EQ(Entries(page.GetErrors().substr(logged)), (std::vector<Text>{refused, refused}));
    // As the set: the template query refuses it; the tags of page 12 are
    // read and applied to no text.
    logged = page.GetErrors().size();
    EXPECT_EQ(page.CreateAspCode(id, u"12"), u"");
    EXPECT_EQ(Entries(page.GetErrors().substr(logged)), std::vector<Text>{refused});
    EXPECT_EQ(ado::LiveRecordsets(), recordsets_);
  }
  EXPECT_EQ(page.CreateAspCode(u"3", u"12"), u"<html>模</html>");
  EXPECT_EQ(page.GetErrors().find(u"[94]"), Text::npos);
  EXPECT_EQ(testing::ReadBytes(path_), before);
}

}  // namespace
}  // namespace vz
