#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "generate/asp_code.h"
#include "platform/ado/connection.h"
#include "platform/ado/errors.h"
#include "platform/ado/fault.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "tests/store_fixture.h"

namespace vz::ado {
namespace {

using vz::testing::FailureOf;
using vz::testing::References;
using vz::testing::RunSql;
using vz::testing::TempDir;

constexpr char16_t kConnectionClosedText[] =
    u"The connection cannot be used to perform this operation. It is either closed or invalid in "
    u"this context.";
constexpr char16_t kItemNotFoundText[] =
    u"Item cannot be found in the collection corresponding to the requested name or ordinal.";

class SqliteProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "site.db";
    RunSql(path_,
           "create table t(a integer, b real, c text, d text);"
           "insert into t values(1, 2.5, '模板', null);"
           "insert into t values(-7, 0.1, 'x', 'y');"
           "create table empty(a integer);");
    db_ = OpenConnection(FromUtf8(path_));
    baseline_ = LiveRecordsets();
  }
  void TearDown() override {
    FailNthCall(0);
    EXPECT_EQ(LiveRecordsets(), baseline_);
    EXPECT_EQ(References(db_.get()), 1u);
  }

  TempDir dir_;
  std::string path_;
  com::Ref<DatabaseConnection> db_;
  int64_t baseline_ = 0;
};

TEST_F(SqliteProvider, DeliversCellsAsStoredWithTheirKinds) {
  com::Ref<Recordset> rs = db_->Execute(u"select * from t", adOptionUnspecified);
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->FieldValue(u"c"), Cell(Text(u"模板")));
  EXPECT_EQ(rs->FieldValue(u"A"), Cell(int64_t{1}));  // names match without case
  EXPECT_TRUE(IsNull(rs->FieldValue(u"d")));
  RowTable table = rs->GetRows(adGetRowsRest);
  EXPECT_TRUE(rs->Eof());
  ASSERT_EQ(table.columns, 4);
  ASSERT_EQ(table.rows, 2);
  EXPECT_EQ(table.At(0, 0), Cell(int64_t{1}));
  EXPECT_EQ(table.At(1, 0), Cell(2.5));
  EXPECT_EQ(table.At(2, 0), Cell(Text(u"模板")));
  EXPECT_TRUE(IsNull(table.At(3, 0)));
  EXPECT_EQ(table.At(0, 1), Cell(int64_t{-7}));
  EXPECT_EQ(CellText(table.At(1, 1)), u"0.1");
  EXPECT_EQ(table.At(3, 1), Cell(Text(u"y")));
  rs->Close();
}

// A real cell is used in its 15-digit text form, in tag names too: the tag
// named by the sum 0.1 + 0.2 (0.30000000000000004 in full) is <!--0.3-->.
// The name column has no type here, so that the database keeps the real.
TEST_F(SqliteProvider, RealTagNameMatchesItsFifteenDigitText) {
  std::string schema = vz::testing::kSiteSchema;
  schema.replace(schema.find("tag_name TEXT"), 13, "tag_name");
  RunSql(path_, schema + "insert into web_tag values(0.1 + 0.2, null, '', 'Three');");
  com::Ref<Recordset> rs = db_->Execute(u"select * from web_tag", adOptionUnspecified);
  RowTable tags = rs->GetRows(adGetRowsRest);
  rs->Close();
  ASSERT_EQ(tags.At(0, 0), Cell(0.1 + 0.2));
  EXPECT_EQ(CellText(tags.At(0, 0)), u"0.3");
  EXPECT_EQ(AssembleAspCode(u"<p><!--0.3--></p>", tags), u"<p><%Three%></p>");
}

TEST_F(SqliteProvider, KeepsRowsInDeliveryOrder) {
  std::string sql = "create table many(n integer);";
  for (int i = 0; i < 300; ++i)
    sql += "insert into many values(" + std::to_string((i * 37) % 300) + ");";
  RunSql(path_, sql);
  com::Ref<Recordset> rs = db_->Execute(u"select n from many", adOptionUnspecified);
  RowTable table = rs->GetRows(adGetRowsRest);
  ASSERT_EQ(table.rows, 300);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(table.At(0, i), Cell(int64_t{(i * 37) % 300})) << i;
}

TEST_F(SqliteProvider, GetRowsTakesACountFromTheCurrentRow) {
  com::Ref<Recordset> rs = db_->Execute(u"select a from t", adOptionUnspecified);
  RowTable first = rs->GetRows(1);
  ASSERT_EQ(first.rows, 1);
  EXPECT_EQ(first.At(0, 0), Cell(int64_t{1}));
  EXPECT_FALSE(rs->Eof());
  RowTable rest = rs->GetRows(adGetRowsRest);
  ASSERT_EQ(rest.rows, 1);
  EXPECT_EQ(rest.At(0, 0), Cell(int64_t{-7}));
  EXPECT_EQ(FailureOf([&] { rs->GetRows(adGetRowsRest); }).number, kNoCurrentRow);
  EXPECT_EQ(FailureOf([&] { rs->GetRows(0); }).number, kBadArguments);
}

TEST_F(SqliteProvider, ReadsLongTextsWhole) {
  RunSql(path_,
         "create table long(v text); insert into long values(replace(hex(zeroblob(5000)),"
         "'0','模'));");
  com::Ref<Recordset> rs = db_->Execute(u"select v from long", adOptionUnspecified);
  Text value = CellText(rs->FieldValue(u"v"));
  EXPECT_EQ(value, Text(10000, u'模'));
}

TEST_F(SqliteProvider, EmptyResultIsAtItsEnd) {
  com::Ref<Recordset> rs = db_->Execute(u"select * from empty", adOptionUnspecified);
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(FailureOf([&] { rs->FieldValue(u"a"); }).number, kNoCurrentRow);
  EXPECT_EQ(FailureOf([&] { rs->GetRows(adGetRowsRest); }).number, kNoCurrentRow);
}

TEST_F(SqliteProvider, UnknownFieldIsItemNotFound) {
  com::Ref<Recordset> rs = db_->Execute(u"select a from t", adOptionUnspecified);
  ErrorState error = FailureOf([&] { rs->FieldValue(u"tmpl_file"); });
  EXPECT_EQ(error.number, 3265);
  EXPECT_EQ(error.description, kItemNotFoundText);
}

struct RejectedCase {
  Text statement;
  int32_t number;
  const char16_t* description;
};

TEST_F(SqliteProvider, RejectedStatementsCarryTheDatabaseMessage) {
  const RejectedCase cases[] = {
      {u"select * from nosuch", kErrorsInCommand, u"no such table: nosuch"},
      {u"select a from t where a=abc", kErrorsInCommand, u"no such column: abc"},
      {u"selec 1", kErrorsInCommand, u"near \"selec\": syntax error"},
      {u"insert into t values(9, 9, 'w', 'w')", kErrorsInCommand,
       u"attempt to write a readonly database"},
      {u"select 1; drop table t", kErrorsInCommand, u"only one statement can be run at a time"},
      {u"select 1; nonsense", kErrorsInCommand, u"only one statement can be run at a time"},
      {Text(u"select 1\0 drop", 14), kErrorsInCommand, u"the command text holds a NUL character"},
      {u"", -2147217908, u"Command text was not set for the command object."},
      {u"  -- nothing", -2147217908, u"Command text was not set for the command object."},
  };
  for (const RejectedCase& c : cases) {
    SCOPED_TRACE(ToUtf8(c.statement));
    ErrorState error = FailureOf([&] { db_->Execute(c.statement, adOptionUnspecified); });
    EXPECT_EQ(error.number, c.number);
    EXPECT_EQ(error.description, c.description);
  }
  // Nothing was written or dropped.
  com::Ref<Recordset> rs = db_->Execute(u"select count(*) as n from t", adOptionUnspecified);
  EXPECT_EQ(rs->FieldValue(u"n"), Cell(int64_t{2}));
}

TEST_F(SqliteProvider, StatementWithTrailingBlanksAndCommentRuns) {
  com::Ref<Recordset> rs = db_->Execute(u"select 5 as v;  -- done\n", adOptionUnspecified);
  EXPECT_EQ(rs->FieldValue(u"v"), Cell(int64_t{5}));
}

TEST_F(SqliteProvider, ClosedRecordsetRefusesEverything) {
  com::Ref<Recordset> rs = db_->Execute(u"select a from t", adOptionUnspecified);
  rs->Close();
  for (auto op : {+[](Recordset* r) { r->Eof(); }, +[](Recordset* r) { r->FieldValue(u"a"); },
                  +[](Recordset* r) { r->GetRows(-1); }, +[](Recordset* r) { r->Close(); }}) {
    ErrorState error = FailureOf([&] { op(rs.get()); });
    EXPECT_EQ(error.number, 3704);
    EXPECT_EQ(error.description, u"Operation is not allowed when the object is closed.");
  }
}

TEST_F(SqliteProvider, ReleasingARecordsetClosesIt) {
  {
    com::Ref<Recordset> rs = db_->Execute(u"select a from t", adOptionUnspecified);
    EXPECT_EQ(LiveRecordsets(), baseline_ + 1);
    EXPECT_EQ(References(db_.get()), 2u);  // the record set holds its connection
  }
  EXPECT_EQ(LiveRecordsets(), baseline_);
}

TEST_F(SqliteProvider, ClosedConnectionFailsWith3709) {
  com::Ref<Recordset> open = db_->Execute(u"select a from t", adOptionUnspecified);
  db_->Close();
  EXPECT_FALSE(db_->IsOpen());
  ErrorState error = FailureOf([&] { db_->Execute(u"select 1", adOptionUnspecified); });
  EXPECT_EQ(error.number, 3709);
  EXPECT_EQ(error.description, kConnectionClosedText);
  EXPECT_EQ(FailureOf([&] { db_->Close(); }).number, 3709);
  // A record set returned before stays readable until it is closed.
  EXPECT_EQ(open->FieldValue(u"a"), Cell(int64_t{1}));
  open->Close();
}

TEST_F(SqliteProvider, AnswersQueryInterfaceForItsInterfaces) {
  void* object = nullptr;
  ASSERT_EQ(db_->QueryInterface(IID_Connection, &object), com::S_OK);
  static_cast<Connection*>(object)->Release();
  ASSERT_EQ(db_->QueryInterface(com::IID_IDispatch, &object), com::E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  com::Ref<Recordset> rs = db_->Execute(u"select 1", adOptionUnspecified);
  ASSERT_EQ(rs->QueryInterface(IID_Recordset, &object), com::S_OK);
  static_cast<Recordset*>(object)->Release();
}

// Fails the 1st, 2nd, ... database call of a whole read: prepare, three
// steps, the close. Each run fails cleanly with the I/O error and leaves no
// record set behind; the run after the last call succeeds.
TEST_F(SqliteProvider, FaultSweepOverARead) {
  int64_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE(n);
    FailNthCall(n);
    RowTable table;
    ErrorState error = FailureOf([&] {
      com::Ref<Recordset> rs = db_->Execute(u"select a from t", adOptionUnspecified);
      if (!rs->Eof()) table = rs->GetRows(adGetRowsRest);
      rs->Close();
    });
    EXPECT_EQ(LiveRecordsets(), baseline_);
    EXPECT_EQ(References(db_.get()), 1u);
    if (!FaultFired()) {
      EXPECT_EQ(error.number, 0);
      EXPECT_EQ(table.rows, 2);
      break;
    }
    EXPECT_EQ(error.number, kProviderFailure);
    EXPECT_EQ(error.description, u"disk I/O error");
    ASSERT_LT(n, 100);
  }
  EXPECT_EQ(n, 6);
}

TEST(SqliteOpen, PathAndProviderStringsOpenTheSameFile) {
  TempDir dir;
  std::string path = dir / "a.db";
  RunSql(path, "create table v(x); insert into v values('here');");
  const Text strings[] = {
      FromUtf8(path),
      Concat({u"Provider=SQLite;Data Source=", FromUtf8(path)}),
      Concat({u" provider = sqlite ; DATA SOURCE = {", FromUtf8(path), u"} ;"}),
      Concat({u"Data Source=\"", FromUtf8(path), u"\";Provider=SQLite"}),
  };
  for (const Text& s : strings) {
    SCOPED_TRACE(ToUtf8(s));
    com::Ref<DatabaseConnection> db = OpenConnection(s);
    com::Ref<Recordset> rs = db->Execute(u"select x from v", adOptionUnspecified);
    EXPECT_EQ(rs->FieldValue(u"x"), Cell(Text(u"here")));
  }
}

TEST(SqliteOpen, BadConnectionStrings) {
  struct Case {
    const char16_t* text;
    int32_t number;
  };
  const Case cases[] = {
      {u"", kBadArguments},
      {u"   ", kBadArguments},
      {u"Provider=SQLite", kBadArguments},
      {u"Provider=SQLite;Data Source=", kBadArguments},
      {u"Provider=SQLite;Data Source={unclosed", kBadArguments},
      {u"Provider=SQLite;junk;Data Source=x", kBadArguments},
      {u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb", kProviderNotFound},
      {u"Data Source=x.db", kProviderNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    ErrorState error = FailureOf([&] { OpenConnection(c.text); });
    EXPECT_EQ(error.number, c.number);
    EXPECT_EQ(error.description, ErrorDescription(static_cast<AdoError>(c.number)));
  }
}

TEST(SqliteOpen, BadBusyTimeouts) {
  for (const char16_t* value : {u"", u"x", u"-1", u"1.5", u"2147483648", u"99999999999"}) {
    SCOPED_TRACE(ToUtf8(value));
    ErrorState error = FailureOf([&] {
      OpenConnection(Concat({u"Provider=SQLite;Data Source=x.db;Busy Timeout=", value}));
    });
    EXPECT_EQ(error.number, kBadArguments);
  }
}

// A database in WAL mode in a folder the user cannot write: SQLite cannot
// make its shared-memory file there, yet with no write-ahead log waiting the
// file reads as it stands.
TEST(SqliteOpen, AWalDatabaseInAFolderThatCannotBeWrittenReads) {
  TempDir dir;
  const std::string folder = dir / "ro";
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/w.db";
  RunSql(path, "PRAGMA journal_mode=WAL; create table v(x); insert into v values('here');");
  ASSERT_FALSE(std::filesystem::exists(path + "-wal"));
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  auto read = [&] {
    com::Ref<DatabaseConnection> db = OpenConnection(FromUtf8(path));
    com::Ref<Recordset> rs = db->Execute(u"select x from v", adOptionUnspecified);
    return rs->FieldValue(u"x") == Cell(Text(u"here"));
  };
  if (geteuid() != 0) {
    EXPECT_TRUE(read());
  } else {
    // Root writes anywhere: the reader is another user.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
      bool ok = false;
      try {
        ok = read();
      } catch (...) {
      }
      _exit(ok ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: could not drop root; 2: not read";
  }
  chmod(folder.c_str(), 0755);
}

TEST(SqliteOpen, MissingFileIsNotCreated) {
  TempDir dir;
  std::string path = dir / "none.db";
  ErrorState error = FailureOf([&] { OpenConnection(FromUtf8(path)); });
  EXPECT_EQ(error.number, kProviderFailure);
  EXPECT_EQ(error.description, Concat({u"unable to open database file: ", FromUtf8(path)}));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SqliteOpen, FileThatIsNoDatabaseFailsOnTheFirstStatement) {
  TempDir dir;
  std::string path = dir / "text.db";
  vz::testing::WriteBytes(path, std::string(2048, 'x'));
  com::Ref<DatabaseConnection> db = OpenConnection(FromUtf8(path));
  ErrorState error = FailureOf([&] { db->Execute(u"select 1 from sqlite_master", -1); });
  EXPECT_EQ(error.number, kProviderFailure);
  EXPECT_EQ(error.description, u"file is not a database");
}

TEST(SqliteOpen, InjectedOpenFailure) {
  TempDir dir;
  std::string path = dir / "a.db";
  RunSql(path, "create table v(x);");
  FailNthCall(1);
  ErrorState error = FailureOf([&] { OpenConnection(FromUtf8(path)); });
  FailNthCall(0);
  EXPECT_EQ(error.number, kProviderFailure);
  EXPECT_EQ(error.description, Concat({u"unable to open database file: ", FromUtf8(path)}));
}

}  // namespace
}  // namespace vz::ado
