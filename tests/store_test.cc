#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ado/connection.h"
#include "platform/ado/fault.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/fault.h"
#include "platform/fso/file_system.h"
#include "store/page_source.h"
#include "store/sql_value.h"
#include "store/templet_store.h"
#include "store/text_file.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using vz::testing::Entries;
using vz::testing::FailureOf;
using vz::testing::Names;
using vz::testing::OpenDescriptors;
using vz::testing::References;
using vz::testing::RunSql;
using vz::testing::TempDir;
using vz::testing::WriteBytes;

constexpr char16_t kNoTempletEntry[] = u"[Vantrel_ZozEza] 模板不存在。";

// A connection that passes every call to a real one and records what the
// queries do: the statements run, and per record set the calls made.
struct CallLog {
  std::vector<Text> statements;
  int get_rows = 0;
  int closes = 0;
  int released_open = 0;  // record sets released without Close
};

class RecordingRecordset final : public ado::Recordset {
 public:
  RecordingRecordset(com::Ref<ado::Recordset> inner, CallLog* calls)
      : inner_(std::move(inner)), calls_(calls) {}
  com::HRESULT QueryInterface(com::REFIID, void** object) override {
    *object = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return ++references_; }
  com::ULONG Release() override {
    com::ULONG left = --references_;
    if (left == 0) {
      if (!closed_) ++calls_->released_open;
      delete this;
    }
    return left;
  }
  bool Eof() override { return inner_->Eof(); }
  ado::Cell FieldValue(const Text& name) override { return inner_->FieldValue(name); }
  ado::RowTable GetRows(int32_t rows) override {
    ++calls_->get_rows;
    EXPECT_EQ(rows, ado::adGetRowsRest);
    return inner_->GetRows(rows);
  }
  void Close() override {
    ++calls_->closes;
    closed_ = true;
    inner_->Close();
  }

 private:
  ~RecordingRecordset() = default;
  std::atomic<com::ULONG> references_{0};
  com::Ref<ado::Recordset> inner_;
  CallLog* calls_;
  bool closed_ = false;
};

class RecordingConnection final : public ado::Connection {
 public:
  RecordingConnection(ado::Connection* inner, CallLog* calls) : inner_(inner), calls_(calls) {}
  com::HRESULT QueryInterface(com::REFIID, void** object) override {
    *object = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return ++references_; }
  com::ULONG Release() override {
    com::ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  com::Ref<ado::Recordset> Execute(const Text& command_text, int32_t options) override {
    calls_->statements.push_back(command_text);
    EXPECT_EQ(options, ado::adOptionUnspecified);
    com::Ref<ado::Recordset> inner = inner_->Execute(command_text, options);
    return com::Ref<ado::Recordset>(new RecordingRecordset(std::move(inner), calls_));
  }

 private:
  ~RecordingConnection() = default;
  std::atomic<com::ULONG> references_{0};
  com::Ref<ado::Connection> inner_;
  CallLog* calls_;
};

TEST(SqlValue, Table) {
  // Anything the database reads as a number is written as it came; the
  // statement then means that number.
  const char16_t* passes[] = {
      u"12",   u"-7",   u"0",   u"007",     u"99999999999999999999",
      u" 12 ", u"\t12", u"+12", u"12.0",    u"1.2e1",
      u"1E-3", u".5",   u"12.", u"-1.5E+2", u"  +0.0e0  ",
  };
  EXPECT_EQ(SqlValue(u""), u"null");
  for (const char16_t* in : passes) EXPECT_EQ(SqlValue(in), in) << ToUtf8(in);
  const char16_t* refused[] = {
      u"abc",      u" ",    u"-",      u".",     u"--1",  u"+-1",  u"- 1",
      u"1e",       u"1e+",  u"e3",     u"1.2.3", u"0x1F", u"12)",  u"1;drop table web_tag",
      u"1 or 1=1", u"１２", u"12\r\n", u"12\n",  u"1 2",  u"12--", u"12/**/",
  };
  for (const char16_t* in : refused) {
    ErrorState error = FailureOf([&] { SqlValue(in); });
    EXPECT_EQ(error.number, 13) << ToUtf8(in);
    EXPECT_EQ(error.description,
              Concat({u"Type mismatch: identifier '", in, u"' is not a number"}));
  }
}

// A site database with the three tables, template files under a folder, and
// a recording connection on top of a real SQLite connection.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_code_page_ = fso::CodePage();
    fso::SetCodePage("65001");
    root_ = Concat({Windows(dir_.path()), u"\\tpl\\"});
    std::filesystem::create_directories(dir_ / "tpl/home");
    WriteBytes(dir_ / "tpl/home/index.htm", "<html><!--all--></html>\r\n");
    WriteBytes(dir_ / "tpl/first.htm", "first");
    WriteBytes(dir_ / "tpl/second.htm", "second");
    WriteBytes(dir_ / "tpl/42", "forty-two");
    WriteBytes(dir_ / "abs.htm", "absolute \xE6\xA8\xA1");
    WriteBytes(dir_ / "tpl/gbk.htm", "\xC4\xA3\xB0\xE5");
    db_path_ = dir_ / "site.db";
    RunSql(db_path_,
           "create table web_templet(page_id integer, tset_id integer, tmpl_file text);"
           "create table web_page2func(page_id integer, FunID integer);"
           "create table web_tag(tag_name text, tag_note text, tag_kind integer, tag_code text,"
           "  FunID integer, tag_order integer);"
           "insert into web_templet values(12, 3, 'home/index.htm');"
           "insert into web_templet values(12, 4, 'home\\index.htm');"
           "insert into web_templet values(13, 3, 'first.htm');"
           "insert into web_templet values(13, 3, 'second.htm');"
           "insert into web_templet values(14, 3, null);"
           "insert into web_templet values(15, 3, 'missing.htm');"
           "insert into web_templet values(16, 3, 'gbk.htm');"
           "insert into web_templet values(17, 3, 42);"
           "insert into web_templet values(18, 3, '" +
               dir_.path() +
               "/abs.htm');"
               "insert into web_page2func values(12, 1);"
               "insert into web_page2func values(12, 1);"
               "insert into web_page2func values(12, 2);"
               "insert into web_page2func values(20, 3);"
               "insert into web_tag values('all', 'n', 0, 'A', null, 1);"
               "insert into web_tag values('f1a', 'n', 0, 'F1A', 1, 2);"
               "insert into web_tag values('f3', 'n', 0, 'F3', 3, 3);"
               "insert into web_tag values('f2', 'n', 0, 'F2', 2, 4);"
               "insert into web_tag values('f1b', 'n', 0, 'F1B', 1, 5);"
               "insert into web_tag values('all2', 'n', 0, null, null, 6);");
    db_ = ado::OpenConnection(FromUtf8(db_path_));
    conn_ = com::Ref<ado::Connection>(new RecordingConnection(db_.get(), &calls_));
    descriptors_ = OpenDescriptors();
    recordsets_ = ado::LiveRecordsets();
    streams_ = fso::LiveTextStreams();
  }

  void TearDown() override {
    ado::FailNthCall(0);
    fso::FailNthCall(0);
    ExpectNothingLeft();
    conn_ = nullptr;
    EXPECT_EQ(References(db_.get()), 1u);
    fso::SetCodePage(saved_code_page_);
  }

  void ExpectNothingLeft() {
    EXPECT_EQ(OpenDescriptors(), descriptors_);
    EXPECT_EQ(ado::LiveRecordsets(), recordsets_);
    EXPECT_EQ(fso::LiveTextStreams(), streams_);
    EXPECT_EQ(References(conn_.get()), 1u);
  }

  static Text Windows(const std::string& posix) { return Replace(FromUtf8(posix), u"/", u"\\"); }

  Text Load(const Text& set, const Text& page) {
    return LoadTemplet(conn_.get(), root_, log_, set, page);
  }

  TempDir dir_;
  std::string db_path_;
  std::string saved_code_page_;
  Text root_;
  Text log_;
  CallLog calls_;
  com::Ref<ado::DatabaseConnection> db_;
  com::Ref<ado::Connection> conn_;
  int descriptors_ = 0;
  int64_t recordsets_ = 0;
  int64_t streams_ = 0;
};

TEST_F(StoreTest, TagStatementTextAndOneGetRows) {
  ado::RowTable tags = GetPageTags(conn_.get(), u"12");
  ASSERT_EQ(calls_.statements.size(), 1u);
  EXPECT_EQ(calls_.statements[0],
            u"select * from web_tag where FunID is null or FunID in (select FunID from "
            u"web_page2func where page_id=12)");
  EXPECT_EQ(calls_.get_rows, 1);
  EXPECT_EQ(calls_.closes, 1);
  EXPECT_EQ(calls_.released_open, 0);
  ASSERT_EQ(tags.columns, 6);
  // Each tag once although function 1 is attached twice; delivery order.
  EXPECT_EQ(Names(tags), (std::vector<Text>{u"all", u"f1a", u"f2", u"f1b", u"all2"}));
  EXPECT_EQ(tags.At(3, 1), ado::Cell(Text(u"F1A")));
  EXPECT_TRUE(ado::IsNull(tags.At(3, 4)));
}

TEST_F(StoreTest, TagsWithoutFunctionApplyToEveryPage) {
  EXPECT_EQ(Names(GetPageTags(conn_.get(), u"99")), (std::vector<Text>{u"all", u"all2"}));
  EXPECT_EQ(Names(GetPageTags(conn_.get(), u"20")), (std::vector<Text>{u"all", u"f3", u"all2"}));
  EXPECT_EQ(Names(GetPageTags(conn_.get(), u"")), (std::vector<Text>{u"all", u"all2"}));
  EXPECT_EQ(calls_.statements[2],
            u"select * from web_tag where FunID is null or FunID in (select FunID from "
            u"web_page2func where page_id=null)");
}

TEST_F(StoreTest, NoTagAppliesGivesAnEmptyTableWithoutGetRows) {
  RunSql(db_path_, "delete from web_tag where FunID is null;");
  ado::RowTable tags = GetPageTags(conn_.get(), u"99");
  EXPECT_EQ(tags.rows, 0);
  EXPECT_EQ(tags.columns, 0);
  EXPECT_EQ(calls_.get_rows, 0);
  EXPECT_EQ(calls_.closes, 1);
}

TEST_F(StoreTest, TagQueryFailuresTravelToTheCaller) {
  ErrorState error = FailureOf([&] { GetPageTags(conn_.get(), u"abc"); });
  EXPECT_EQ(error.number, 13);
  EXPECT_EQ(error.description, u"Type mismatch: identifier 'abc' is not a number");
  EXPECT_TRUE(calls_.statements.empty());  // refused before any statement ran

  error = FailureOf([&] { GetPageTags(nullptr, u"12"); });
  EXPECT_EQ(error.number, 91);
  EXPECT_EQ(error.description, u"Object variable or With block variable not set");

  RunSql(db_path_, "drop table web_page2func;");
  error = FailureOf([&] { GetPageTags(conn_.get(), u"12"); });
  EXPECT_EQ(error.number, -2147217900);
  EXPECT_EQ(error.description, u"no such table: web_page2func");
}

TEST_F(StoreTest, TempletStatementTextAndTheFile) {
  EXPECT_EQ(Load(u"3", u"12"), u"<html><!--all--></html>\r\n");
  ASSERT_EQ(calls_.statements.size(), 1u);
  EXPECT_EQ(calls_.statements[0],
            u"select tmpl_file from web_templet where page_id=12 and tset_id=3");
  EXPECT_EQ(calls_.closes, 1);
  EXPECT_EQ(calls_.get_rows, 0);
  EXPECT_EQ(log_, u"");
}

TEST_F(StoreTest, BothSeparatorsInTmplFileReachTheSameFile) {
  EXPECT_EQ(Load(u"4", u"12"), u"<html><!--all--></html>\r\n");
  EXPECT_EQ(LoadTemplet(conn_.get(), FromUtf8(dir_ / "tpl/"), log_, u"3", u"12"),
            u"<html><!--all--></html>\r\n");
  EXPECT_EQ(log_, u"");
}

TEST_F(StoreTest, FirstOfSeveralRowsWins) {
  EXPECT_EQ(Load(u"3", u"13"), u"first");
  EXPECT_EQ(log_, u"");
}

TEST_F(StoreTest, NumberInTmplFileIsAddedInItsTextForm) {
  EXPECT_EQ(Load(u"3", u"17"), u"forty-two");
}

TEST_F(StoreTest, NoTempletFolderUsesTmplFileAlone) {
  EXPECT_EQ(LoadTemplet(conn_.get(), u"", log_, u"3", u"18"), u"absolute 模");
  EXPECT_EQ(log_, u"");
}

TEST_F(StoreTest, FileIsDecodedInTheCodePage) {
  fso::SetCodePage("936");
  EXPECT_EQ(Load(u"3", u"16"), u"模板");
}

struct LoadCase {
  const char16_t* set;
  const char16_t* page;
  std::vector<Text> entries;
  int statements;  // statements run
};

TEST_F(StoreTest, LoadTempletPaths) {
  const LoadCase cases[] = {
      {u"3", u"", {kNoTempletEntry}, 1},
      {u"", u"12", {kNoTempletEntry}, 1},
      {u"9", u"12", {kNoTempletEntry}, 1},
      {u"3", u"14", {u"[75] Path/File access error"}, 1},  // NULL: the folder alone
      {u"3", u"15", {u"[53] File not found"}, 1},
      {u"abc", u"12", {u"[13] Type mismatch: identifier 'abc' is not a number"}, 0},
      {u"3",
       u"12;drop table web_tag",
       {u"[13] Type mismatch: identifier '12;drop table "
        u"web_tag' is not a number"},
       0},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(ToUtf8(Concat({c.set, u"/", c.page})));
    log_.clear();
    calls_ = CallLog{};
    EXPECT_EQ(Load(c.set, c.page), u"");
    EXPECT_EQ(Entries(log_), c.entries);
    EXPECT_EQ(static_cast<int>(calls_.statements.size()), c.statements);
    ExpectNothingLeft();
  }
  EXPECT_EQ(calls_.statements.size(), 0u);
}

// The file of a page is the template folder followed by the stored name,
// joined as they stand ("\\" read as "/"): a name with ".." may leave the
// folder, a stored absolute name lands inside it, and links are followed as
// the file system follows them. Without a folder, the stored name is the
// path. The database that names the files is trusted as it is trusted with
// the tag codes.
TEST_F(StoreTest, TemplatePathsWithDotsAbsoluteNamesAndLinks) {
  std::filesystem::create_directories(dir_ / "shared");
  WriteBytes(dir_ / "outside.htm", "outside");
  WriteBytes(dir_ / "shared/part.htm", "shared part");
  WriteBytes(dir_ / "tpl/inside.htm", "inside");
  std::filesystem::create_directories(dir_ / "tpl" + dir_.path());
  WriteBytes(dir_ / "tpl" + dir_.path() + "/outside.htm", "under the folder");
  std::filesystem::create_symlink("../outside.htm", dir_ / "tpl/link.htm");
  std::filesystem::create_directory_symlink("../shared", dir_ / "tpl/linked");
  std::filesystem::create_symlink("nowhere.htm", dir_ / "tpl/dangling.htm");
  std::filesystem::create_symlink("loop-b.htm", dir_ / "tpl/loop-a.htm");
  std::filesystem::create_symlink("loop-a.htm", dir_ / "tpl/loop-b.htm");
  std::filesystem::create_symlink("/dev/zero", dir_ / "tpl/device.htm");
  std::filesystem::create_directory_symlink("home", dir_ / "tpl/folder.htm");

  struct Case {
    std::string stored;
    const char16_t* result;
    const char16_t* entry;  // nullptr: nothing logged
  } cases[] = {
      {"inside.htm", u"inside", nullptr},
      {"./inside.htm", u"inside", nullptr},
      {"home/../inside.htm", u"inside", nullptr},
      {"..\\outside.htm", u"outside", nullptr},
      {"../outside.htm", u"outside", nullptr},
      {"home/../../shared/part.htm", u"shared part", nullptr},
      {dir_.path() + "/outside.htm", u"under the folder", nullptr},
      {"link.htm", u"outside", nullptr},
      {"linked/part.htm", u"shared part", nullptr},
      {"linked\\part.htm", u"shared part", nullptr},
      {"dangling.htm", u"", u"[53] File not found"},
      {"loop-a.htm", u"", u"[75] Path/File access error"},
      {"device.htm", u"", u"[75] Path/File access error"},
      {"folder.htm", u"", u"[75] Path/File access error"},
      {"../missing/outside.htm", u"", u"[76] Path not found"},
      {"inside.htm/", u"", u"[76] Path not found"},
  };
  int page = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    RunSql(db_path_,
           "insert into web_templet values(" + std::to_string(page) + ", 7, '" + c.stored + "');");
    log_.clear();
    EXPECT_EQ(Load(u"7", FromUtf8(std::to_string(page++))), c.result);
    EXPECT_EQ(Entries(log_), c.entry == nullptr ? std::vector<Text>{} : std::vector<Text>{c.entry});
    ExpectNothingLeft();
  }

  // Without a folder the stored name is the path: an absolute name is read
  // where it points.
  RunSql(db_path_, "insert into web_templet values(60, 7, '" + dir_.path() + "/outside.htm');");
  log_.clear();
  EXPECT_EQ(LoadTemplet(conn_.get(), Text(), log_, u"7", u"60"), u"outside");
  EXPECT_EQ(log_, u"");
}

// Inputs read ahead with ReadPageInputs and given back are what the two reads
// give on their own, taken without a statement or a file, once each, and
// only for the same connection, folder, set and page.
TEST_F(StoreTest, GivenInputsAreWhatTheReadsGiveAndAreTakenOnce) {
  for (const char16_t* page : {u"12", u"13", u"16", u"17"}) {
    SCOPED_TRACE(ToUtf8(page));
    const Text read = Load(u"3", page);
    const ado::RowTable tags = GetPageTags(conn_.get(), page);
    PageInputs inputs = ReadPageInputs(*conn_, root_, u"3", page);
    calls_.statements.clear();
    {
      GivenPageInputs given(*conn_, root_, u"3", page, inputs.path, std::move(inputs.text),
                            std::move(inputs.tags));
      const int streams = static_cast<int>(fso::LiveTextStreams());
      EXPECT_EQ(Load(u"3", page), read);
      const ado::RowTable given_tags = GetPageTags(conn_.get(), page);
      EXPECT_EQ(given_tags.columns, tags.columns);
      EXPECT_EQ(given_tags.cells, tags.cells);
      EXPECT_TRUE(calls_.statements.empty());
      EXPECT_EQ(fso::LiveTextStreams(), streams);
      // Taken once: the next reads are the component's own.
      EXPECT_EQ(Load(u"3", page), read);
      EXPECT_EQ(GetPageTags(conn_.get(), page).cells, tags.cells);
      EXPECT_EQ(calls_.statements.size(), 2u);
    }
    EXPECT_EQ(log_, u"");
  }
  // Another page, set, folder or connection reads for itself.
  PageInputs inputs = ReadPageInputs(*conn_, root_, u"3", u"12");
  GivenPageInputs given(*conn_, root_, u"3", u"12", inputs.path, u"given", inputs.tags);
  calls_.statements.clear();
  EXPECT_EQ(Load(u"3", u"13"), u"first");
  EXPECT_EQ(Load(u"4", u"12"), u"<html><!--all--></html>\r\n");
  EXPECT_EQ(LoadTemplet(conn_.get(), FromUtf8(dir_ / "tpl/"), log_, u"3", u"12"),
            u"<html><!--all--></html>\r\n");
  EXPECT_EQ(LoadTemplet(db_.get(), root_, log_, u"3", u"12"), u"<html><!--all--></html>\r\n");
  EXPECT_EQ(Names(GetPageTags(conn_.get(), u"20")), (std::vector<Text>{u"all", u"f3", u"all2"}));
  EXPECT_EQ(calls_.statements.size(), 4u);  // the one through db_ is not recorded
  EXPECT_EQ(Load(u"3", u"12"), u"given");
  EXPECT_EQ(calls_.statements.size(), 4u);
}

TEST_F(StoreTest, NoRowReleasesTheResultSetWithoutClosingIt) {
  EXPECT_EQ(Load(u"3", u""), u"");
  EXPECT_EQ(calls_.statements[0],
            u"select tmpl_file from web_templet where page_id=null and tset_id=3");
  EXPECT_EQ(calls_.closes, 0);
  EXPECT_EQ(calls_.released_open, 1);
}

TEST_F(StoreTest, LoadTempletLogsConnectionFailures) {
  EXPECT_EQ(LoadTemplet(nullptr, root_, log_, u"3", u"12"), u"");
  db_->Close();
  descriptors_ = OpenDescriptors();  // the database file is closed now
  EXPECT_EQ(Load(u"3", u"12"), u"");
  EXPECT_EQ(Entries(log_),
            (std::vector<Text>{u"[91] Object variable or With block variable not set",
                               u"[3709] The connection cannot be used to perform this operation. "
                               u"It is either closed or invalid in this context."}));
}

TEST_F(StoreTest, LoadTempletLogsRejectedStatements) {
  RunSql(db_path_, "alter table web_templet rename column tmpl_file to file_name;");
  EXPECT_EQ(Load(u"3", u"12"), u"");
  EXPECT_EQ(Entries(log_), (std::vector<Text>{u"[-2147217900] no such column: tmpl_file"}));
}

TEST_F(StoreTest, LogOnlyGrows) {
  log_ = u"earlier\r\n";
  Load(u"3", u"15");
  Load(u"", u"12");
  Load(u"3", u"12");
  ASSERT_EQ(log_.substr(0, 9), u"earlier\r\n");
  EXPECT_EQ(Entries(log_.substr(9)), (std::vector<Text>{u"[53] File not found", kNoTempletEntry}));
}

// Fails the 1st, 2nd, ... database call of LoadTemplet (prepare, first step,
// close); then the same for the file calls (open, two reads, close). Every
// run logs exactly the injected failure and returns "" or, when only a close
// failed, the file's text; nothing stays open.
TEST_F(StoreTest, LoadTempletFaultSweep) {
  const Text text = u"<html><!--all--></html>\r\n";
  struct Expect {
    Text entry;
    bool has_text;
  };
  const Expect db_runs[] = {
      {u"[-2147467259] disk I/O error", false},
      {u"[-2147467259] disk I/O error", false},
      {u"[-2147467259] disk I/O error", true},  // closing the result set
  };
  const Expect file_runs[] = {
      {u"[57] Device I/O error", false},
      {u"[57] Device I/O error", false},
      {u"[57] Device I/O error", true},  // closing the stream
  };
  for (int layer = 0; layer < 2; ++layer) {
    auto arm = layer == 0 ? ado::FailNthCall : fso::FailNthCall;
    auto fired = layer == 0 ? ado::FaultFired : fso::FaultFired;
    const Expect* runs = layer == 0 ? db_runs : file_runs;
    size_t run_count = layer == 0 ? std::size(db_runs) : std::size(file_runs);
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE(::testing::Message() << "layer " << layer << " call " << n);
      log_.clear();
      arm(n);
      Text result = Load(u"3", u"12");
      bool failed = fired();
      arm(0);
      ExpectNothingLeft();
      if (!failed) {
        EXPECT_EQ(result, text);
        EXPECT_EQ(log_, u"");
        EXPECT_EQ(static_cast<size_t>(n), run_count + 1);
        break;
      }
      ASSERT_LE(static_cast<size_t>(n), run_count);
      EXPECT_EQ(Entries(log_), std::vector<Text>{runs[n - 1].entry});
      EXPECT_EQ(result, runs[n - 1].has_text ? text : Text());
    }
  }
}

TEST_F(StoreTest, GetPageTagsFaultSweep) {
  int64_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE(n);
    ado::FailNthCall(n);
    ado::RowTable tags;
    ErrorState error = FailureOf([&] { tags = GetPageTags(conn_.get(), u"12"); });
    bool failed = ado::FaultFired();
    ado::FailNthCall(0);
    ExpectNothingLeft();
    if (!failed) {
      EXPECT_EQ(error.number, 0);
      EXPECT_EQ(tags.rows, 5);
      break;
    }
    EXPECT_EQ(error.number, -2147467259);
    EXPECT_EQ(error.description, u"disk I/O error");
    ASSERT_LT(n, 100);
  }
  EXPECT_EQ(n, 9);  // prepare, six steps (five rows and the end), close
}

TEST_F(StoreTest, ReadTextFileLogsOnlyFailures) {
  Text posix = FromUtf8(dir_ / "tpl/first.htm");
  EXPECT_EQ(ReadTextFile(posix, log_), u"first");
  EXPECT_EQ(ReadTextFile(Windows(dir_ / "tpl/first.htm"), log_), u"first");
  EXPECT_EQ(ReadTextFile(u"", log_), u"");
  EXPECT_EQ(ReadTextFile(FromUtf8(dir_ / "tpl"), log_), u"");
  EXPECT_EQ(ReadTextFile(FromUtf8(dir_ / "tpl/none.htm"), log_), u"");
  EXPECT_EQ(ReadTextFile(FromUtf8(dir_ / "none/x.htm"), log_), u"");
  EXPECT_EQ(Entries(log_),
            (std::vector<Text>{u"[75] Path/File access error", u"[75] Path/File access error",
                               u"[53] File not found", u"[76] Path not found"}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "tpl/none.htm"));
}

}  // namespace
}  // namespace vz
