// The vavizar command: vz::cli::Run on a real SQLite database and template
// files (exact stdout bytes, stderr text and exit status), and the built
// binary itself for what only a process shows: the two output streams kept
// apart, exit codes, the locale's code page, registration.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/fso/code_page.h"
#include "platform/text.h"
#include "tests/cli_fixture.h"
#include "tests/process_fixture.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using testing::Entries;
using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

// "中文" in GBK and in UTF-8.
constexpr const char* kChineseGbk = "\xD6\xD0\xCE\xC4";
constexpr const char* kChineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";

constexpr const char* kHomeAsp = "<p><%Response.Write 1%></p>\r\n<%w=\"5\"\r\nB w\r\n%>x<%\r\nE%>";

// The log entries that a run wrote to stderr, without their dates.
std::vector<Text> ErrEntries(const testing::Result& result) {
  return Entries(FromUtf8(result.err));
}

// A site: a database with a few pages and their template folder.
//   set 1 page 1  home.html: a plain tag and a tag with attributes and content
//   set 1 page 2  sub/gbk.html: Chinese text saved in GBK
//   set 1 page 3  missing.html: registered but not on disk
//   set 1 page 4  an absolute tmpl_file naming home.html
//   set 1 page 5  simple.html: one tag, no line breaks
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fso::SetCodePage("65001");
    db_ = dir_ / "site.db";
    templates_ = dir_ / "tmpl";
    std::filesystem::create_directories(templates_ + "/sub");
    RunSql(db_, std::string(testing::kSiteSchema) +
                    "INSERT INTO web_templet VALUES (1, 1, 'home.html');\n"
                    "INSERT INTO web_templet VALUES (2, 1, 'sub/gbk.html');\n"
                    "INSERT INTO web_templet VALUES (3, 1, 'missing.html');\n"
                    "INSERT INTO web_templet VALUES (4, 1, '" +
                    templates_ +
                    "/home.html');\n"
                    "INSERT INTO web_templet VALUES (5, 1, 'simple.html');\n"
                    "INSERT INTO web_tag VALUES ('t', NULL, '', 'Response.Write 1');\n"
                    "INSERT INTO web_tag VALUES ('box', NULL, '', "
                    "'B w' || char(13,10) || '[data]' || char(13,10) || 'E');\n");
    WriteBytes(templates_ + "/home.html", "<p><!--t--></p>\r\n<!--box w=5-->x<!--/box-->");
    WriteBytes(templates_ + "/sub/gbk.html", std::string("<p>") + kChineseGbk + "<!--t--></p>");
    WriteBytes(templates_ + "/simple.html", "<p><!--t--></p>");
  }
  void TearDown() override {
    fso::SetCodePage("65001");
    SetWorkingTextLimit(saved_limit_);
  }

  // The arguments of a page sub-command on this site.
  std::vector<std::string> PageArgs(const std::string& command, const std::string& set,
                                    const std::string& page,
                                    const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {command, "--db", db_, "--templates", templates_};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(set);
    args.push_back(page);
    return args;
  }

  TempDir dir_;
  std::string db_;
  std::string templates_;
  int64_t saved_limit_ = WorkingTextLimit();
};

TEST_F(CliTest, AspWritesTheServerPageCodeAndNothingElse) {
  testing::Result r = testing::RunCli(PageArgs("asp", "1", "1"));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, kHomeAsp);
  EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, ExecWritesTheExecuteCode) {
  testing::Result r = testing::RunCli(PageArgs("exec", "1", "5"));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, "Response.Write \"<p>\"\r\nResponse.Write 1\r\nResponse.Write \"</p>\"");
  EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, ExecConvertsTheSameServerPageCodeThatAspWrites) {
  testing::Result r = testing::RunCli(PageArgs("exec", "1", "1"));
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out,
            "Response.Write \"<p>\"\r\nResponse.Write 1\r\n"
            "Response.Write \"</p>\" & vbCrLf\r\nResponse.Write \"\"\r\n"
            "w=\"5\"\r\nB w\r\n\r\nResponse.Write \"x\"\r\n\r\nE\r\n");
  EXPECT_EQ(r.err, "");
}

// Given a descriptor, asp and exec write the page to it as it is encoded:
// the same bytes as gathered whole, "?" for what the encoding cannot hold in
// its place, a page of several pieces in order; a descriptor that refuses is
// recorded for the caller, and the page's status and log stay as they are.
TEST_F(CliTest, APageWrittenToADescriptorIsTheSameBytes) {
  std::string big = "<p>";
  for (int i = 0; i < 40000; ++i) big += "<!--t-->\"\xE4\xB8\xAD\"<%x%>\r\n";
  WriteBytes(templates_ + "/simple.html", big);
  const std::string written = dir_ / "out.txt";
  for (const char* command : {"asp", "exec"}) {
    for (const char* page : {"1", "2", "3", "5"}) {
      for (const char* encoding : {"UTF-8", "GBK", "ISO-8859-1"}) {
        SCOPED_TRACE(std::string(command) + " " + page + " " + encoding);
        const std::vector<std::string> args =
            PageArgs(command, "1", page, {"--encoding", encoding, "--codepage", "GBK"});
        const testing::Result whole = testing::RunCli(args);
        const int fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        cli::Output output;
        output.out_fd = fd;
        EXPECT_EQ(cli::Run(args, output), whole.status);
        ::close(fd);
        EXPECT_EQ(output.out, "");
        EXPECT_EQ(output.out_error, 0);
        EXPECT_EQ(output.err, whole.err);
        EXPECT_EQ(testing::ReadBytes(written), whole.out);
      }
    }
  }
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  cli::Output output;
  output.out_fd = full;
  EXPECT_EQ(cli::Run(PageArgs("exec", "1", "5"), output), cli::kExitOk);
  ::close(full);
  EXPECT_EQ(output.out_error, ENOSPC);
  EXPECT_EQ(output.err, "");
}

TEST_F(CliTest, OptionValuesMayFollowAnEqualsSign) {
  testing::Result r =
      testing::RunCli({"asp", "--db=" + db_, "--templates=" + templates_, "1", "1"});
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, kHomeAsp);
}

TEST_F(CliTest, WithoutTemplatesTheStoredFileNameIsThePath) {
  testing::Result r = testing::RunCli({"asp", "--db", db_, "1", "4"});
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(r.out, kHomeAsp);
  // With a folder, the folder leads the stored absolute path: no such path.
  r = testing::RunCli({"asp", "--db", db_, "--templates", templates_, "1", "4"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ErrEntries(r), std::vector<Text>{u"[76] Path not found"});
}

TEST_F(CliTest, LoggedLinesGoToStderrAndTheStatusIsOne) {
  struct Case {
    const char* command;
    const char* set;
    const char* page;
    const char* out;
    std::vector<Text> entries;
  };
  const Case cases[] = {
      {"asp", "1", "9", "", {u"[Vantrel_ZozEza] 模板不存在。"}},
      {"exec", "1", "9", "Response.Write \"\"", {u"[Vantrel_ZozEza] 模板不存在。"}},
      {"asp", "1", "3", "", {u"[53] File not found"}},
      {"exec", "1", "3", "Response.Write \"\"", {u"[53] File not found"}},
      {"asp", "abc", "1", "", {u"[13] Type mismatch: identifier 'abc' is not a number"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.set + " " + c.page);
    testing::Result r = testing::RunCli(PageArgs(c.command, c.set, c.page));
    EXPECT_EQ(r.status, cli::kExitLogged);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(ErrEntries(r), c.entries);
    // Nothing but the log's own lines.
    EXPECT_EQ(r.err.find("vavizar"), std::string::npos);
  }
}

TEST_F(CliTest, AnEmptyArgumentIsTheEmptyIdentifier) {
  // An empty page matches no template (page_id=null); it is no usage error.
  for (const auto& [set, page] : {std::pair{"", "1"}, std::pair{"1", ""}, std::pair{"", ""}}) {
    SCOPED_TRACE(std::string("set '") + set + "' page '" + page + "'");
    testing::Result r = testing::RunCli(PageArgs("asp", set, page));
    EXPECT_EQ(r.status, cli::kExitLogged);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ErrEntries(r), std::vector<Text>{u"[Vantrel_ZozEza] 模板不存在。"});
  }
}

TEST_F(CliTest, DoubleDashEndsTheOptions) {
  testing::Result r =
      testing::RunCli({"asp", "--db", db_, "--templates", templates_, "--", "1", "1"});
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out, kHomeAsp);
  // After "--" a word with dashes is an identifier: it matches no number.
  r = testing::RunCli({"asp", "--db", db_, "--", "1", "--x"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, AnIdentifierTheDatabaseReadsAsTheSameNumberGivesTheSamePage) {
  for (const char* one : {" 1 ", "+1", "1.0", "1e0", "0.1E+1", "1."}) {
    SCOPED_TRACE(std::string("'") + one + "'");
    for (const auto& [set, page] : {std::pair{one, "1"}, std::pair{"1", one}}) {
      testing::Result r = testing::RunCli(PageArgs("asp", set, page));
      EXPECT_EQ(r.status, cli::kExitOk) << r.err;
      EXPECT_EQ(r.out, kHomeAsp);
    }
  }
  // A signed fraction is an identifier too, not an option.
  RunSql(db_, "INSERT INTO web_templet VALUES (-1, -2, 'simple.html');\n");
  testing::Result r = testing::RunCli(PageArgs("asp", "-2.0", "-1e0"));
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(r.out, "<p><%Response.Write 1%></p>");
}

TEST_F(CliTest, ANegativeNumberIsAnIdentifierNotAnOption) {
  RunSql(db_, "INSERT INTO web_templet VALUES (-1, -2, 'simple.html');\n");
  testing::Result r = testing::RunCli(PageArgs("asp", "-2", "-1"));
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(r.out, "<p><%Response.Write 1%></p>");
  // A dash and anything but digits stays an option.
  r = testing::RunCli(PageArgs("asp", "-2x", "-1"));
  EXPECT_EQ(r.status, cli::kExitUsage);
}

// Sets an environment variable for its lifetime, then puts back what was
// there.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(CliTest, VersionAndDefaultsFromTheEnvironment) {
  for (const char* word : {"--version", "version"}) {
    testing::Result r = testing::RunCli({word});
    EXPECT_EQ(r.status, cli::kExitOk);
    EXPECT_EQ(r.out, "vavizar 1.0.0 (component Vantrel_VaviZar.Page 9.0)\n");
  }
  ScopedVariable db("VAVIZAR_DB", db_);
  ScopedVariable templates("VAVIZAR_TEMPLATES", templates_);
  testing::Result r = testing::RunCli({"asp", "1", "1"});
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(r.out, kHomeAsp);
  {
    // An option beats its variable; --odbc beats VAVIZAR_DB too.
    ScopedVariable no_db("VAVIZAR_DB", dir_ / "none.db");
    ScopedVariable no_templates("VAVIZAR_TEMPLATES", dir_ / "none");
    r = testing::RunCli({"asp", "--db", db_, "--templates", templates_, "1", "1"});
    EXPECT_EQ(r.out, kHomeAsp) << r.err;
    r = testing::RunCli({"asp", "--odbc", "DSN=vavizar-no-such-source", "1", "1"});
    EXPECT_EQ(r.err.rfind("vavizar asp: cannot open the ODBC source: ", 0), 0u) << r.err;
  }
  ScopedVariable odbc("VAVIZAR_ODBC", "DSN=site");
  r = testing::RunCli({"asp", "1", "1"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err,
            "vavizar asp: VAVIZAR_DB and VAVIZAR_ODBC are both set: give --db FILE or --odbc "
            "STRING\nTry 'vavizar asp --help'.\n");
}

TEST_F(CliTest, BadUsageIsStatusTwoWithAOneLineMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string kTryAsp = "Try 'vavizar asp --help'.\n";
  const Case cases[] = {
      {{"asp", "--bogus", "--db", "DB", "1", "1"},
       "vavizar asp: unknown option '--bogus'\n" + kTryAsp},
      {{"asp", "-x", "--db", "DB", "1", "1"}, "vavizar asp: unknown option '-x'\n" + kTryAsp},
      {{"asp", "1", "1", "--db"}, "vavizar asp: option '--db' needs a value\n" + kTryAsp},
      {{"exec", "1", "1", "--templates"},
       "vavizar exec: option '--templates' needs a value\nTry 'vavizar exec --help'.\n"},
      {{"asp", "--db", "DB", "--db", "DB", "1", "1"},
       "vavizar asp: option '--db' is given twice\n" + kTryAsp},
      {{"asp", "--db", "DB", "1"}, "vavizar asp: expected 2 arguments, got 1\n" + kTryAsp},
      {{"asp", "--db", "DB"}, "vavizar asp: expected 2 arguments, got 0\n" + kTryAsp},
      {{"asp", "--db", "DB", "1", "1", "1"},
       "vavizar asp: expected 2 arguments, got 3\n" + kTryAsp},
      {{"asp", "--db", "DB", "--odbc", "DSN=site", "1", "1"},
       "vavizar asp: --db and --odbc cannot be combined\n" + kTryAsp},
      {{"asp", "--db", "", "1", "1"}, "vavizar asp: --db: a file name is needed\n" + kTryAsp},
      {{"asp", "--db", "DIR", "1", "1"},
       "vavizar asp: cannot open database 'DIR': it is a folder\n"},
      {{"build", "--db", "DB", "--templates", "DIR/none", "--set", "1", "--out", "DIR/out"},
       "vavizar build: the template folder 'DIR/none' cannot be read: No such file or directory\n"},
      {{"check", "--db", "DB", "--templates", "DB", "--set", "1"},
       "vavizar check: the template folder 'DB' cannot be read: it is not a folder\n"},
      {{"register", ""},
       "vavizar register: MODULE: a file name is needed\nTry 'vavizar register --help'.\n"},
      {{"exec", "1", "1"},
       "vavizar exec: give one of --db FILE or --odbc STRING\nTry 'vavizar exec --help'.\n"},
      {{"asp", "--db", "DB", "--codepage", "999999", "1", "1"},
       "vavizar asp: Unknown code page '999999'\n" + kTryAsp},
      {{"asp", "--db", "DB", "--codepage", "NO-SUCH-SET", "1", "1"},
       "vavizar asp: Unknown code page 'NO-SUCH-SET'\n" + kTryAsp},
      {{"exec", "--db", "DB", "--encoding", "NO-SUCH-SET", "1", "1"},
       "vavizar exec: Unknown encoding 'NO-SUCH-SET'\nTry 'vavizar exec --help'.\n"},
      {{"register"},
       "vavizar register: expected 1 argument, got 0\nTry 'vavizar register --help'.\n"},
      {{"unregister", "a", "b"},
       "vavizar unregister: expected 1 argument, got 2\nTry 'vavizar unregister --help'.\n"},
      {{"register", "--db", "x", "m"},
       "vavizar register: unknown option '--db'\nTry 'vavizar register --help'.\n"},
      {{"asp", "--db", "DB", "--max-chars", "0", "1", "1"},
       "vavizar asp: --max-chars: '0' is not a number from 1 to 2147483647\n" + kTryAsp},
      {{"asp", "--db", "DB", "--max-chars", "-5", "1", "1"},
       "vavizar asp: --max-chars: '-5' is not a number from 1 to 2147483647\n" + kTryAsp},
      {{"asp", "--db", "DB", "--max-chars=", "1", "1"},
       "vavizar asp: --max-chars: '' is not a number from 1 to 2147483647\n" + kTryAsp},
      {{"asp", "--db", "DB", "--max-chars", "2147483648", "1", "1"},
       "vavizar asp: --max-chars: '2147483648' is not a number from 1 to 2147483647\n" + kTryAsp},
      {{"exec", "--db", "DB", "--max-chars", "1e6", "1", "1"},
       "vavizar exec: --max-chars: '1e6' is not a number from 1 to 2147483647\n"
       "Try 'vavizar exec --help'.\n"},
      {{"asp", "--db", "DB", "--max-chars", " 10", "1", "1"},
       "vavizar asp: --max-chars: ' 10' is not a number from 1 to 2147483647\n" + kTryAsp},
      {{"check", "--db", "DB", "--set", "1", "--max-chars", "10"},
       "vavizar check: unknown option '--max-chars'\nTry 'vavizar check --help'.\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    std::string shown;
    // "DB" and "DIR" stand for the database and the test's folder.
    auto place = [&](const std::string& text) {
      std::string placed;
      for (size_t at = 0; at < text.size();) {
        if (text.compare(at, 3, "DIR") == 0) {
          placed += dir_.path();
          at += 3;
        } else if (text.compare(at, 2, "DB") == 0) {
          placed += db_;
          at += 2;
        } else {
          placed += text[at++];
        }
      }
      return placed;
    };
    for (std::string& a : args) {
      a = place(a);
      shown += " " + a;
    }
    SCOPED_TRACE(shown);
    testing::Result r = testing::RunCli(args);
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, place(c.err));
  }
}

// A page whose text doubles on every pass: 12 opening tags, one character,
// 12 closing tags, and a code that copies its content twice. Its server-page
// code is 692,296 characters.
class RunawayPageTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::string opening, closing;
    for (int i = 0; i < 12; ++i) {
      opening += "<!--d-->";
      closing += "<!--/d-->";
    }
    RunSql(db_,
           "INSERT INTO web_templet VALUES (9, 1, 'runaway.html');\n"
           "INSERT INTO web_tag VALUES ('d', NULL, '', '[data][data]');\n");
    WriteBytes(templates_ + "/runaway.html", opening + "x" + closing);
  }
};

TEST_F(RunawayPageTest, MaxCharsStopsThePageWithOutOfStringSpace) {
  struct Case {
    const char* limit;
    int status;
    size_t out_size;
  } cases[] = {
      {"692295", cli::kExitLogged, 0},       // one short of the final length
      {"100", cli::kExitLogged, 0},          // the template alone is longer
      {"2147483647", cli::kExitOk, 692296},  // room for every pass
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    testing::Result r = testing::RunCli(PageArgs("asp", "1", "9", {"--max-chars", c.limit}));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.size(), c.out_size);
    if (c.status == cli::kExitOk) {
      EXPECT_EQ(r.out.rfind("<%%><%%><%%>", 0), 0u);
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(ErrEntries(r), std::vector<Text>{u"[14] Out of string space"});
    }
    EXPECT_EQ(WorkingTextLimit(), std::stoll(c.limit));
  }
  // exec converts the empty server-page code its call logged for.
  testing::Result r = testing::RunCli(PageArgs("exec", "1", "9", {"--max-chars=65536"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out, "Response.Write \"\"");
  EXPECT_EQ(ErrEntries(r), std::vector<Text>{u"[14] Out of string space"});
}

TEST_F(RunawayPageTest, WithoutTheOptionTheLimitIsTheDefault) {
  SetWorkingTextLimit(1000);
  testing::Result r = testing::RunCli(PageArgs("asp", "1", "5"));
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(WorkingTextLimit(), cli::kDefaultMaxChars);
  EXPECT_EQ(cli::kDefaultMaxChars, 268435456);
  // Bad usage leaves the setting alone.
  SetWorkingTextLimit(1000);
  EXPECT_EQ(testing::RunCli(PageArgs("asp", "1", "5", {"--max-chars", "x"})).status,
            cli::kExitUsage);
  EXPECT_EQ(WorkingTextLimit(), 1000);
}

TEST_F(CliTest, AnUnknownCodePageLeavesTheSettingAsItWas) {
  fso::SetCodePage("936");
  EXPECT_EQ(testing::RunCli(PageArgs("asp", "1", "1", {"--codepage", "NO-SUCH-SET"})).status,
            cli::kExitUsage);
  EXPECT_EQ(fso::CodePage(), "GBK");
}

TEST_F(CliTest, NoCommandOrAnUnknownOneIsStatusTwo) {
  testing::Result none = testing::RunCli({});
  EXPECT_EQ(none.status, cli::kExitUsage);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err.rfind("usage: vavizar COMMAND", 0), 0u) << none.err;

  testing::Result unknown = testing::RunCli({"frob", "1", "1"});
  EXPECT_EQ(unknown.status, cli::kExitUsage);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("vavizar: unknown command 'frob'\nusage: vavizar COMMAND", 0), 0u)
      << unknown.err;
}

TEST_F(CliTest, ADatabaseThatCannotBeOpenedIsStatusTwo) {
  const std::string missing = dir_ / "no-such.db";
  const std::string not_a_db = dir_ / "notes.txt";
  WriteBytes(not_a_db, "these are notes, not a database\n");
  struct Case {
    std::string db;
    std::string err;
  };
  const Case cases[] = {
      {missing, "vavizar asp: cannot open database '" + missing +
                    "': unable to open database file: " + missing + "\n"},
      {not_a_db, "vavizar asp: cannot open database '" + not_a_db + "': file is not a database\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.db);
    testing::Result r = testing::RunCli({"asp", "--db", c.db, "1", "1"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  // Opening read-only never creates the file.
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(CliTest, AnOdbcSourceThatCannotBeOpenedIsStatusTwo) {
  testing::Result r =
      testing::RunCli({"asp", "--odbc", "Driver={No Such Driver};Database=x", "1", "1"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("vavizar asp: cannot open the ODBC source: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST_F(CliTest, HelpOnTheCommandAndEachSubCommand) {
  struct Case {
    std::vector<std::string> args;
    std::string starts;
    std::string holds;
  };
  const Case cases[] = {
      {{"--help"}, "usage: vavizar COMMAND", "  unregister  "},
      {{"-h"}, "usage: vavizar COMMAND", "  register    "},
      {{"asp", "--help"}, "usage: vavizar asp [options] SET PAGE\n", "  --codepage CP  "},
      {{"exec", "-h"}, "usage: vavizar exec [options] SET PAGE\n", "  --encoding ENC  "},
      {{"register", "--help"}, "usage: vavizar register MODULE\n", "DllRegisterServer"},
      {{"unregister", "--help"}, "usage: vavizar unregister MODULE\n", "DllUnregisterServer"},
      {{"exec", "--help"}, "usage: vavizar exec ", "  --max-chars N  "},
      // Help wins over missing arguments.
      {{"asp", "1", "--help"}, "usage: vavizar asp ", "  --db FILE  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    testing::Result r = testing::RunCli(c.args);
    EXPECT_EQ(r.status, cli::kExitOk);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << r.out;
    EXPECT_NE(r.out.find(c.holds), std::string::npos) << r.out;
  }
  // The main help lists every sub-command.
  std::string help = testing::RunCli({"--help"}).out;
  for (const char* name : {"asp", "exec", "register", "unregister"})
    EXPECT_NE(help.find("  " + std::string(name) + " "), std::string::npos) << name;
}

TEST_F(CliTest, CodePageReadsAGbkTemplate) {
  const std::string expected = std::string("<p>") + kChineseUtf8 + "<%Response.Write 1%></p>";
  for (const char* cp : {"936", "GBK"}) {
    SCOPED_TRACE(cp);
    testing::Result r = testing::RunCli(PageArgs("asp", "1", "2", {"--codepage", cp}));
    EXPECT_EQ(r.status, cli::kExitOk);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
  // Read as UTF-8 the same bytes are not that text.
  testing::Result r = testing::RunCli(PageArgs("asp", "1", "2", {"--codepage", "65001"}));
  EXPECT_NE(r.out, expected);
}

TEST_F(CliTest, EncodingSetsTheBytesOfStdout) {
  struct Case {
    const char* encoding;
    std::string out;
  };
  const Case cases[] = {
      {"GBK", std::string("<p>") + kChineseGbk + "<%Response.Write 1%></p>"},
      {"936", std::string("<p>") + kChineseGbk + "<%Response.Write 1%></p>"},
      {"UTF-8", std::string("<p>") + kChineseUtf8 + "<%Response.Write 1%></p>"},
      // A character the set cannot hold becomes "?".
      {"ISO-8859-1",
       "<p>?"
       "?<%Response.Write 1%></p>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    testing::Result r =
        testing::RunCli(PageArgs("asp", "1", "2", {"--codepage", "936", "--encoding", c.encoding}));
    EXPECT_EQ(r.status, cli::kExitOk);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CliTest, LogLinesStayUtf8WhateverTheEncoding) {
  testing::Result r = testing::RunCli(PageArgs("asp", "1", "9", {"--encoding", "GBK"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(ErrEntries(r), std::vector<Text>{u"[Vantrel_ZozEza] 模板不存在。"});
}

// The built binary, run as a process.

struct Process {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs the vavizar binary with `args` and exactly the environment `env`,
// standard output and standard error each into a file of `dir`, in the
// folder `cwd` when one is given.
Process Spawn(const TempDir& dir, const std::vector<std::string>& args,
              std::vector<std::string> env = {"LC_ALL=C"}, const std::string& cwd = "") {
  const std::string out_path = dir / "stdout";
  const std::string err_path = dir / "stderr";
  Process result;
  result.status = testing::WaitBinary(testing::StartBinary(args, out_path, err_path, env, cwd));
  result.out = testing::ReadBytes(out_path);
  result.err = testing::ReadBytes(err_path);
  return result;
}

TEST_F(CliTest, TheBinaryWritesTheTextToStdoutAndExitsZero) {
  Process p = Spawn(dir_, PageArgs("asp", "1", "1"));
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, kHomeAsp);
  EXPECT_EQ(p.err, "");
}

TEST_F(CliTest, TheBinaryWritesLogLinesToStderrAndExitsOne) {
  Process p = Spawn(dir_, PageArgs("exec", "1", "3"));
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.out, "Response.Write \"\"");
  EXPECT_EQ(Entries(FromUtf8(p.err)), std::vector<Text>{u"[53] File not found"});
}

TEST_F(CliTest, TheBinaryExitsTwoOnBadUsageAndAMissingDatabase) {
  Process bad = Spawn(dir_, {"asp", "--bogus", "1", "1"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "vavizar asp: unknown option '--bogus'\nTry 'vavizar asp --help'.\n");

  const std::string missing = dir_ / "gone.db";
  Process gone = Spawn(dir_, {"exec", "--db", missing, "1", "1"});
  EXPECT_EQ(gone.status, 2);
  EXPECT_EQ(gone.out, "");
  EXPECT_EQ(gone.err, "vavizar exec: cannot open database '" + missing +
                          "': unable to open database file: " + missing + "\n");
}

TEST_F(CliTest, TheBinaryPrintsHelpOnStdout) {
  Process p = Spawn(dir_, {"exec", "--help"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out.rfind("usage: vavizar exec [options] SET PAGE\n", 0), 0u) << p.out;
  EXPECT_EQ(p.err, "");
}

TEST_F(CliTest, TheBinaryWritesTheEncodingItIsAskedFor) {
  Process p = Spawn(dir_, PageArgs("asp", "1", "2", {"--codepage", "936", "--encoding", "GBK"}));
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, std::string("<p>") + kChineseGbk + "<%Response.Write 1%></p>");
  EXPECT_EQ(p.err, "");
}

// Without --codepage the template files are read in the locale's character
// set. A GBK locale is built into the test's folder with localedef.
TEST_F(CliTest, TheBinaryReadsTemplatesInTheLocalesCharacterSet) {
  const std::string locales = dir_ / "locales";
  std::filesystem::create_directories(locales);
  const std::string build = "localedef -i zh_CN -f GBK '" + locales + "/zh_CN.GBK' >/dev/null 2>&1";
  if (std::system(build.c_str()) != 0 || !std::filesystem::exists(locales + "/zh_CN.GBK"))
    GTEST_SKIP() << "localedef cannot build zh_CN.GBK here (package 'locales' missing?)";

  const std::string expected = std::string("<p>") + kChineseUtf8 + "<%Response.Write 1%></p>";
  Process gbk = Spawn(dir_, PageArgs("asp", "1", "2"), {"LOCPATH=" + locales, "LC_ALL=zh_CN.GBK"});
  EXPECT_EQ(gbk.status, 0) << gbk.err;
  EXPECT_EQ(gbk.out, expected);
  // The C locale names no character set beyond ASCII: UTF-8 then.
  Process c = Spawn(dir_, PageArgs("asp", "1", "2"), {"LC_ALL=C"});
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_NE(c.out, expected);
  // --codepage wins over the locale.
  Process utf8 = Spawn(dir_, PageArgs("asp", "1", "2", {"--codepage", "65001"}),
                       {"LOCPATH=" + locales, "LC_ALL=zh_CN.GBK"});
  EXPECT_NE(utf8.out, expected);
}

TEST_F(CliTest, TheBinaryRegistersAndUnregistersTheModule) {
  const std::string registry = dir_ / "registry.txt";
  const std::vector<std::string> env = {"LC_ALL=C", "VAVIZAR_COM_REGISTRY=" + registry};
  Process reg = Spawn(dir_, {"register", VZ_MODULE_PATH}, env);
  EXPECT_EQ(reg.status, 0) << reg.err;
  EXPECT_EQ(reg.out, "");
  EXPECT_EQ(reg.err, std::string("registered ") + VZ_MODULE_PATH + " (" + registry + ")\n");
  EXPECT_NE(testing::ReadBytes(registry).find("Vantrel_VaviZar.Page"), std::string::npos);

  Process unreg = Spawn(dir_, {"unregister", VZ_MODULE_PATH}, env);
  EXPECT_EQ(unreg.status, 0) << unreg.err;
  EXPECT_EQ(unreg.err, std::string("unregistered ") + VZ_MODULE_PATH + " (" + registry + ")\n");
  EXPECT_EQ(testing::ReadBytes(registry).find("Vantrel_VaviZar.Page"), std::string::npos);

  // A bare name is the file in the current folder, registered by its full
  // path.
  const std::filesystem::path module = VZ_MODULE_PATH;
  Process bare =
      Spawn(dir_, {"register", module.filename().string()}, env, module.parent_path().string());
  EXPECT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(bare.err, std::string("registered ") + VZ_MODULE_PATH + " (" + registry + ")\n");
  EXPECT_EQ(Spawn(dir_, {"unregister", VZ_MODULE_PATH}, env).status, 0);

  const std::string nothing = dir_ / "nothing.so";
  Process missing = Spawn(dir_, {"register", nothing}, env);
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err.rfind("vavizar register: " + nothing + ": ", 0), 0u) << missing.err;
}

// The example site as it ships: every page generates without a log line.
TEST(ExampleSite, EveryPageGeneratesCleanly) {
  fso::SetCodePage("65001");
  TempDir dir;
  const std::string db = dir / "site.db";
  const std::string site = VZ_EXAMPLE_SITE;
  RunSql(db, testing::ReadBytes(site + "/site.sql"));
  struct Case {
    const char* set;
    const char* page;
  };
  for (const Case& c :
       {Case{"1", "1"}, Case{"1", "2"}, Case{"1", "3"}, Case{"1", "4"}, Case{"2", "1"}}) {
    for (const char* command : {"asp", "exec"}) {
      SCOPED_TRACE(std::string(command) + " " + c.set + " " + c.page);
      testing::Result r = testing::RunCli({command, "--db", db, "--templates", site + "/templates",
                                           "--codepage", "936", c.set, c.page});
      EXPECT_EQ(r.status, cli::kExitOk);
      EXPECT_EQ(r.err, "");
      EXPECT_NE(r.out, "");
      // Every custom tag was replaced.
      EXPECT_EQ(r.out.find("<!--"), std::string::npos) << r.out;
    }
  }
  // The Chinese page was read in GBK: "关于我们" stands in its heading.
  testing::Result about = testing::RunCli(
      {"asp", "--db", db, "--templates", site + "/templates", "--codepage", "936", "1", "4"});
  EXPECT_NE(about.out.find("<h1>\xE5\x85\xB3\xE4\xBA\x8E\xE6\x88\x91\xE4\xBB\xAC</h1>"),
            std::string::npos)
      << about.out;
  fso::SetCodePage("65001");
}

}  // namespace
}  // namespace vz
