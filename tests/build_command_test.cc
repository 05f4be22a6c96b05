// vavizar build: vz::cli::Run on a real SQLite database and template files
// (the files written, build.log, the manifest, the summary and exit status),
// and the built binary for what only a process shows: an interrupted run and
// the standard error of a run that is not on a terminal.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/build_manifest.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "platform/fso/code_page.h"
#include "platform/text.h"
#include "tests/cli_fixture.h"
#include "tests/process_fixture.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using testing::IsLogLine;
using testing::Lines;
using testing::Names;
using testing::RunSql;
using testing::Shape;
using testing::StartBinary;
using testing::SummaryOf;
using testing::TempDir;
using testing::WaitBinary;
using testing::WriteBytes;

ino_t Inode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_ino;
}

// A site of set 1:
//   page 1   home.html: tags t and box (FunID NULL: every page)
//   page 2   news.html: tag news (FunID 7, pages 2 and 10)
//   page 3   shop.html: tag shop (FunID 8, page 3 only); Chinese text
//   page 10  news.html again
// and set 2 with page 1 only, on plain.html.
class BuildCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fso::SetCodePage("65001");
    db_ = dir_ / "site.db";
    templates_ = dir_ / "tmpl";
    out_ = dir_ / "out";
    std::filesystem::create_directories(templates_);
    RunSql(db_, std::string(testing::kSiteSchema) +
                    "INSERT INTO web_templet VALUES (10, 1, 'news.html');\n"
                    "INSERT INTO web_templet VALUES (1, 1, 'home.html');\n"
                    "INSERT INTO web_templet VALUES (2, 1, 'news.html');\n"
                    "INSERT INTO web_templet VALUES (3, 1, 'shop.html');\n"
                    "INSERT INTO web_templet VALUES (1, 2, 'plain.html');\n"
                    "INSERT INTO web_page2func VALUES (2, 7);\n"
                    "INSERT INTO web_page2func VALUES (10, 7);\n"
                    "INSERT INTO web_page2func VALUES (3, 8);\n"
                    "INSERT INTO web_tag VALUES ('t', NULL, '', 'Response.Write 1');\n"
                    "INSERT INTO web_tag VALUES ('box', NULL, '', "
                    "'B w' || char(13,10) || '[data]' || char(13,10) || 'E');\n"
                    "INSERT INTO web_tag VALUES ('news', 7, '', 'News 1');\n"
                    "INSERT INTO web_tag VALUES ('shop', 8, '', 'Shop 1');\n");
    WriteBytes(templates_ + "/home.html", "<p><!--t--></p>\r\n<!--box w=5-->x<!--/box-->");
    WriteBytes(templates_ + "/news.html", "<h1><!--t--></h1><!--news-->");
    WriteBytes(templates_ + "/shop.html", "<p>\xE4\xB8\xAD\xE6\x96\x87<!--shop--></p>");
    WriteBytes(templates_ + "/plain.html", "<p>plain</p>");
  }
  void TearDown() override {
    fso::SetCodePage("65001");
    SetWorkingTextLimit(saved_limit_);
  }

  std::vector<std::string> BuildArgs(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"build", "--db", db_,     "--templates", templates_,
                                     "--set", "1",    "--out", out_};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }

  // What `vavizar asp` (or exec) writes for a page of set 1.
  std::string PageCode(const std::string& command, const std::string& page,
                       const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {command, "--db", db_, "--templates", templates_};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("1");
    args.push_back(page);
    testing::Result r = testing::RunCli(args);
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    return r.out;
  }

  // A site of set 1 in the database db_: pages 1 to `pages` all on
  // one.html, `lines` lines each using the tag v, whose code is `code`.
  void MakeOneTemplateSite(int pages, int lines, const std::string& code) {
    std::string sql = std::string(testing::kSiteSchema) + "BEGIN;\n";
    for (int page = 1; page <= pages; ++page)
      sql += "INSERT INTO web_templet VALUES (" + std::to_string(page) + ", 1, 'one.html');\n";
    sql += "INSERT INTO web_tag VALUES ('v', NULL, '', '" + code + "');\nCOMMIT;\n";
    RunSql(db_, sql);
    std::string body;
    for (int i = 0; i < lines; ++i) body += "<p>line " + std::to_string(i) + " <!--v--></p>\r\n";
    WriteBytes(templates_ + "/one.html", body);
  }

  // Waits (up to a minute) until the file at `path` holds `bytes`.
  void WaitForFile(const std::string& path, const std::string& bytes) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (testing::ReadBytes(path) != bytes && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // The pages whose file was replaced since `before` was taken.
  std::set<std::string> Replaced(const std::map<std::string, ino_t>& before) {
    std::set<std::string> replaced;
    for (const auto& [page, inode] : before) {
      if (Inode(out_ + "/" + page + ".asp") != inode) replaced.insert(page);
    }
    return replaced;
  }
  std::map<std::string, ino_t> Inodes() {
    std::map<std::string, ino_t> inodes;
    for (const char* page : {"1", "2", "3", "10"}) inodes[page] = Inode(out_ + "/" + page + ".asp");
    return inodes;
  }

  TempDir dir_;
  std::string db_;
  std::string templates_;
  std::string out_;
  int64_t saved_limit_ = WorkingTextLimit();
};

TEST_F(BuildCommandTest, WritesWhatAspAndExecWriteForEveryPage) {
  struct Case {
    std::vector<std::string> options;       // of the build
    std::string command;                    // the sub-command it must match
    std::vector<std::string> page_options;  // of that sub-command
    std::string extension;
  };
  const Case cases[] = {
      {{}, "asp", {}, ".asp"},
      {{"--exec"}, "exec", {}, ".vbs"},
      {{"--encoding", "GBK"}, "asp", {"--encoding", "GBK"}, ".asp"},
      {{"--exec", "--encoding", "UTF-16LE", "--jobs", "1"},
       "exec",
       {"--encoding", "UTF-16LE"},
       ".vbs"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& o : c.options) trace += o + " ";
    SCOPED_TRACE(trace);
    std::filesystem::remove_all(out_);
    testing::Result r = testing::RunCli(BuildArgs(c.options));
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(SummaryOf(r.err), "vavizar build: 4 written, 0 unchanged, 0 failed");
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    const std::string x = c.extension;
    EXPECT_EQ(Names(out_), (std::set<std::string>{"1" + x, "2" + x, "3" + x, "10" + x, "build.log",
                                                  "build.manifest"}));
    for (const char* page : {"1", "2", "3", "10"}) {
      SCOPED_TRACE(page);
      const std::string expected = PageCode(c.command, page, c.page_options);
      EXPECT_FALSE(expected.empty());
      EXPECT_EQ(testing::ReadBytes(out_ + "/" + page + x), expected);
    }
    EXPECT_EQ(testing::ReadBytes(out_ + "/build.log"), "");
  }
}

TEST_F(BuildCommandTest, TheManifestRecordsEveryFileAndPruneDeletesOnlyStaleOnes) {
  ASSERT_EQ(testing::RunCli(BuildArgs()).status, cli::kExitOk);
  const std::vector<std::string> lines = Lines(testing::ReadBytes(out_ + "/build.manifest"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0],
            "# vavizar build manifest 3: file, set, hash of its inputs, size, hash of its bytes");
  std::set<std::string> input_hashes;
  const char* files[] = {"1.asp", "10.asp", "2.asp", "3.asp"};
  for (size_t i = 0; i < 4; ++i) {
    std::istringstream fields(lines[i + 1]);
    std::string file, set, inputs, size, bytes;
    fields >> file >> set >> inputs >> size >> bytes;
    EXPECT_EQ(file, files[i]);
    EXPECT_EQ(set, "1");
    for (const std::string& hash : {inputs, bytes}) {
      EXPECT_EQ(hash.size(), 16u) << lines[i + 1];
      EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), std::string::npos) << lines[i + 1];
    }
    EXPECT_EQ(size, std::to_string(testing::ReadBytes(out_ + "/" + file).size()));
    input_hashes.insert(inputs);
  }
  // Pages 2 and 10 have the same inputs (template and tag rows): one hash.
  EXPECT_EQ(input_hashes.size(), 3u);

  // A page no longer registered: its file is named, and kept until --prune;
  // files the command did not write are never touched.
  RunSql(db_, "DELETE FROM web_templet WHERE page_id = 3;");
  WriteBytes(out_ + "/notes.txt", "mine");
  WriteBytes(out_ + "/4.asp", "not written by vavizar");
  testing::Result r = testing::RunCli(BuildArgs());
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(Lines(r.err).front(),
            "vavizar build: 1 file of pages no longer registered: 3.asp (--prune deletes them)");
  EXPECT_TRUE(std::filesystem::exists(out_ + "/3.asp"));
  r = testing::RunCli(BuildArgs({"--prune"}));
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(Lines(r.err).front(),
            "vavizar build: deleted 1 file of pages no longer registered: 3.asp");
  EXPECT_EQ(Names(out_), (std::set<std::string>{"1.asp", "10.asp", "2.asp", "4.asp", "notes.txt",
                                                "build.log", "build.manifest"}));
  EXPECT_EQ(testing::ReadBytes(out_ + "/build.manifest").find("3.asp"), std::string::npos);
  r = testing::RunCli(BuildArgs({"--prune"}));
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
}

// A page that comes out other than its author wrote it (template bytes not
// valid in the code page, characters the encoding cannot hold) is written and
// named in a warning; with --strict it fails. asp and exec say so only with
// --strict.
TEST_F(BuildCommandTest, WarningsNameAPageThatCameOutOtherThanWritten) {
  const std::string gbk = "<h1>\xD6\xD0\xCE\xC4<!--news--></h1>";
  const std::string news = "warning: " + templates_ + "/news.html:1:5: 4 byte sequences not " +
                           "valid in code page UTF-8, read as U+FFFD";
  const std::string shop = "warning: " + out_ + "/3.asp:1:4: 2 characters that ISO-8859-1 " +
                           "cannot hold, written as \"?\"";
  struct Case {
    std::string news_html;
    std::vector<std::string> options;
    int status;
    std::vector<std::string> err;  // before the summary
    std::string summary;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {gbk,
       {},
       cli::kExitOk,
       {"vavizar build: page 2: " + news, "vavizar build: page 10: " + news},
       "4 written, 0 unchanged, 0 failed",
       {"page 2: " + news, "page 10: " + news}},
      {"<h1><!--news--></h1>",
       {"--encoding", "ISO-8859-1"},
       cli::kExitOk,
       {"vavizar build: page 3: " + shop},
       "4 written, 0 unchanged, 0 failed",
       {"page 3: " + shop}},
      {gbk,
       {"--strict"},
       cli::kExitLogged,
       {"vavizar build: page 2 not written: " + news,
        "vavizar build: page 10 not written: " + news},
       "2 written, 0 unchanged, 2 failed",
       {"page 2: " + news, "page 10: " + news}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    std::filesystem::remove_all(out_);
    WriteBytes(templates_ + "/news.html", c.news_html);
    testing::Result r = testing::RunCli(BuildArgs(c.options));
    EXPECT_EQ(r.status, c.status) << r.err;
    std::vector<std::string> err = Lines(r.err);
    EXPECT_EQ(SummaryOf(r.err), "vavizar build: " + c.summary);
    err.pop_back();
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(Lines(testing::ReadBytes(out_ + "/build.log")), c.log);
  }
  EXPECT_FALSE(std::filesystem::exists(out_ + "/2.asp"));

  // asp: stderr is the page's log alone, unless --strict asks.
  testing::Result r = testing::RunCli(
      {"asp", "--db", db_, "--templates", templates_, "--encoding", "ISO-8859-1", "1", "3"});
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.err, "");
  r = testing::RunCli({"asp", "--db", db_, "--templates", templates_, "--encoding", "ISO-8859-1",
                       "--strict", "1", "3"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.out,
            "<p>?"
            "?<%Shop 1%></p>");
  EXPECT_EQ(r.err,
            "vavizar asp: warning: <stdout>:1:4: 2 characters that ISO-8859-1 cannot hold, "
            "written as \"?\"\n");
  r = testing::RunCli({"exec", "--db", db_, "--templates", templates_, "--strict", "1", "2"});
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(r.err, "vavizar exec: " + news + "\n");
}

TEST_F(BuildCommandTest, TheSetDecidesThePages) {
  testing::Result r = testing::RunCli(
      {"build", "--db", db_, "--templates", templates_, "--set", "2", "--out", out_});
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 1 written, 0 unchanged, 0 failed");
  EXPECT_EQ(testing::ReadBytes(out_ + "/1.asp"), "<p>plain</p>");
  // A set without pages, and the empty identifier, are named and build
  // nothing.
  for (const char* set : {"99", ""}) {
    SCOPED_TRACE(set);
    std::filesystem::remove_all(out_);
    r = testing::RunCli({"build", "--db", db_, "--set", set, "--out", out_});
    EXPECT_EQ(r.status, cli::kExitUsage) << r.err;
    EXPECT_EQ(r.err, std::string("vavizar build: no page is registered for set ") + set + "\n");
    EXPECT_FALSE(std::filesystem::exists(out_));
  }
}

TEST_F(BuildCommandTest, AFailingPageKeepsItsOldFileAndIsReported) {
  ASSERT_EQ(testing::RunCli(BuildArgs({"--changed"})).status, cli::kExitOk);
  const std::string old_shop = testing::ReadBytes(out_ + "/3.asp");
  std::filesystem::remove(templates_ + "/shop.html");
  WriteBytes(templates_ + "/home.html", "<p>new <!--t--></p>");
  RunSql(db_, "INSERT INTO web_templet VALUES (4, 1, 'gone.html');\n");

  testing::Result r = testing::RunCli(BuildArgs({"--changed"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 1 written, 2 unchanged, 2 failed");
  EXPECT_EQ(testing::ReadBytes(out_ + "/3.asp"), old_shop);
  EXPECT_FALSE(std::filesystem::exists(out_ + "/4.asp"));
  EXPECT_EQ(testing::ReadBytes(out_ + "/1.asp"), "<p>new <%Response.Write 1%></p>");

  // One line per failed page on stderr, every log line in build.log led by
  // its page.
  const std::vector<std::string> err = Lines(r.err);
  ASSERT_EQ(err.size(), 3u) << r.err;
  // The file that is not found is named.
  const std::string shop = "[53] File not found: " + templates_ + "/shop.html";
  const std::string gone = "[53] File not found: " + templates_ + "/gone.html";
  EXPECT_TRUE(IsLogLine(err[0], "vavizar build: page 3 not written: ", shop)) << err[0];
  EXPECT_TRUE(IsLogLine(err[1], "vavizar build: page 4 not written: ", gone)) << err[1];
  const std::vector<std::string> log = Lines(testing::ReadBytes(out_ + "/build.log"));
  ASSERT_EQ(log.size(), 2u) << testing::ReadBytes(out_ + "/build.log");
  EXPECT_TRUE(IsLogLine(log[0], "page 3: ", shop)) << log[0];
  EXPECT_TRUE(IsLogLine(log[1], "page 4: ", gone)) << log[1];

  // The failed pages are tried again, and only they, once their templates
  // are back; build.log then holds this run's lines only: none.
  WriteBytes(templates_ + "/shop.html", "<p><!--shop--></p>");
  WriteBytes(templates_ + "/gone.html", "<p>back</p>");
  r = testing::RunCli(BuildArgs({"--changed"}));
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 2 written, 3 unchanged, 0 failed");
  EXPECT_EQ(testing::ReadBytes(out_ + "/3.asp"), "<p><%Shop 1%></p>");
  EXPECT_EQ(testing::ReadBytes(out_ + "/4.asp"), "<p>back</p>");
  EXPECT_EQ(testing::ReadBytes(out_ + "/build.log"), "");
}

TEST_F(BuildCommandTest, ChangedRebuildsExactlyThePagesWhoseInputsChanged) {
  testing::Result r = testing::RunCli(BuildArgs({"--changed"}));
  ASSERT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 4 written, 0 unchanged, 0 failed");

  struct Step {
    const char* what;
    std::string sql;                           // run on the database first
    std::pair<std::string, std::string> file;  // then a template written, if named
    std::vector<std::string> options;          // the build's options besides --changed
    std::set<std::string> rebuilt;
  };
  const Step steps[] = {
      {"nothing changed", "", {}, {}, {}},
      {"a template edited", "", {"news.html", "<h2><!--news--></h2>"}, {}, {"2", "10"}},
      {"the same bytes written again", "", {"news.html", "<h2><!--news--></h2>"}, {}, {}},
      {"a row with a FunID",
       "UPDATE web_tag SET tag_code='Shop 2' WHERE tag_name='shop';",
       {},
       {},
       {"3"}},
      {"a row with a FunID of two pages",
       "UPDATE web_tag SET tag_note='n' WHERE FunID=7;",
       {},
       {},
       {"2", "10"}},
      {"a row added to a FunID", "INSERT INTO web_tag VALUES ('more', 8, '', 'M');", {}, {}, {"3"}},
      {"a row with a NULL FunID",
       "UPDATE web_tag SET tag_code='Response.Write 2' WHERE "
       "tag_name='t';",
       {},
       {},
       {"1", "2", "3", "10"}},
      {"a page attached to a function", "INSERT INTO web_page2func VALUES (1, 8);", {}, {}, {"1"}},
      {"the template row of a page",
       "UPDATE web_templet SET tmpl_file='shop.html' WHERE "
       "page_id=10;",
       {},
       {},
       {"10"}},
      {"an option", "", {}, {"--encoding", "GBK"}, {"1", "2", "3", "10"}},
      {"the same option again", "", {}, {"--encoding", "GBK"}, {}},
      {"the code page", "", {}, {"--encoding", "GBK", "--codepage", "1252"}, {"1", "2", "3", "10"}},
      {"back to the defaults", "", {}, {}, {"1", "2", "3", "10"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (!step.sql.empty()) RunSql(db_, step.sql);
    if (!step.file.first.empty()) WriteBytes(templates_ + "/" + step.file.first, step.file.second);
    std::map<std::string, ino_t> before = Inodes();
    std::vector<std::string> options = step.options;
    options.push_back("--changed");
    r = testing::RunCli(BuildArgs(options));
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(Replaced(before), step.rebuilt);
    EXPECT_EQ(SummaryOf(r.err), "vavizar build: " + std::to_string(step.rebuilt.size()) +
                                    " written, " + std::to_string(4 - step.rebuilt.size()) +
                                    " unchanged, 0 failed");
    std::vector<std::string> page_options = step.options;
    for (const char* page : {"1", "2", "3", "10"})
      EXPECT_EQ(testing::ReadBytes(out_ + "/" + page + ".asp"), PageCode("asp", page, page_options))
          << page;
  }

  // A file that is gone is written again, alone.
  std::filesystem::remove(out_ + "/2.asp");
  r = testing::RunCli(BuildArgs({"--changed"}));
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 1 written, 3 unchanged, 0 failed");
  EXPECT_EQ(testing::ReadBytes(out_ + "/2.asp"), PageCode("asp", "2"));

  // Without --changed every page is written and recorded; the next
  // --changed run writes none.
  r = testing::RunCli(BuildArgs());
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 4 written, 0 unchanged, 0 failed");
  r = testing::RunCli(BuildArgs({"--changed"}));
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 0 written, 4 unchanged, 0 failed");

  // Building the other kind of file into the folder leaves these current.
  r = testing::RunCli(BuildArgs({"--changed", "--exec"}));
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 4 written, 0 unchanged, 0 failed");
  r = testing::RunCli(BuildArgs({"--changed"}));
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 0 written, 4 unchanged, 0 failed");
  r = testing::RunCli(BuildArgs({"--changed", "--exec"}));
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 0 written, 4 unchanged, 0 failed");
}

// With --map every page gets its map, which the same page through `asp
// --map` also gets; a map is part of what --changed checks and --prune
// deletes, and a build without --map takes away the map of a page it writes.
TEST_F(BuildCommandTest, MapsAreWrittenCheckedAndPrunedWithTheirPages) {
  testing::Result r = testing::RunCli(BuildArgs({"--map"}));
  ASSERT_EQ(r.status, cli::kExitOk) << r.err;
  for (const char* page : {"1", "2", "3", "10"}) {
    const std::string map = out_ + "/" + page + ".asp.map";
    PageCode("asp", page, {"--map", dir_ / "alone.asp.map"});
    // The same map but for the file it names.
    std::string alone = testing::ReadBytes(dir_ / "alone.asp.map");
    const std::string named = std::string("\"file\":\"") + page + ".asp\"";
    const size_t at = alone.find("\"file\":\"alone.asp\"");
    ASSERT_NE(at, std::string::npos);
    alone.replace(at, std::string("\"file\":\"alone.asp\"").size(), named);
    EXPECT_EQ(testing::ReadBytes(map), alone) << page;
  }
  r = testing::RunCli({"where", out_ + "/1.asp:2:1"});
  EXPECT_EQ(r.out, out_ + "/1.asp:2:1: written by expanding tag row 2 `box`\n" + templates_ +
                       "/home.html:2:1: expanding <!--box w=5-->\n");

  struct Step {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> options;
    std::string summary;
  };
  const Step steps[] = {
      {"nothing changed", [] {}, {"--map", "--changed"}, "0 written, 4 unchanged"},
      {"a map gone",
       [&] { std::filesystem::remove(out_ + "/2.asp.map"); },
       {"--map", "--changed"},
       "1 written, 3 unchanged"},
      {"a map damaged",
       [&] { WriteBytes(out_ + "/3.asp.map", "{}"); },
       {"--map", "--changed"},
       "1 written, 3 unchanged"},
      {"maps asked for after a build without",
       [&] {
         std::filesystem::remove(out_ + "/build.manifest");
         testing::RunCli(BuildArgs());
       },
       {"--map", "--changed"},
       "4 written, 0 unchanged"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    r = testing::RunCli(BuildArgs(step.options));
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(SummaryOf(r.err), "vavizar build: " + step.summary + ", 0 failed");
    for (const char* page : {"1", "2", "3", "10"}) {
      std::string map = testing::ReadBytes(out_ + "/" + page + ".asp.map");
      EXPECT_NE(map.find("\"x_vavizar\""), std::string::npos) << page;
    }
  }

  // A page written without --map loses its map; one left unchanged keeps it.
  WriteBytes(templates_ + "/shop.html", "<p><!--shop--></p>");
  r = testing::RunCli(BuildArgs({"--changed"}));
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 1 written, 3 unchanged, 0 failed");
  EXPECT_FALSE(std::filesystem::exists(out_ + "/3.asp.map"));
  EXPECT_TRUE(std::filesystem::exists(out_ + "/2.asp.map"));
  EXPECT_EQ(testing::ReadBytes(out_ + "/build.manifest").find("3.asp.map"), std::string::npos);

  // The maps of a page no longer registered go with it.
  RunSql(db_, "DELETE FROM web_templet WHERE page_id=10;");
  r = testing::RunCli(BuildArgs({"--map", "--prune"}));
  EXPECT_NE(r.err.find("deleted 2 files of pages no longer registered: 10.asp, 10.asp.map"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(out_ + "/10.asp.map"));
}

// The working limit applies to each page on its own: a page that outgrows
// it fails with 14 and keeps its old file, the others are written.
TEST_F(BuildCommandTest, MaxCharsFailsOnlyThePagesThatOutgrowIt) {
  ASSERT_EQ(testing::RunCli(BuildArgs()).status, cli::kExitOk);
  const std::string old_home = testing::ReadBytes(out_ + "/1.asp");
  std::string long_text(5000, 'y');
  WriteBytes(templates_ + "/home.html", "<p>" + long_text + "<!--t--></p>");
  WriteBytes(templates_ + "/news.html", "<h1>short</h1>");

  testing::Result r = testing::RunCli(BuildArgs({"--max-chars", "1000", "--jobs", "2"}));
  EXPECT_EQ(r.status, cli::kExitLogged);
  EXPECT_EQ(SummaryOf(r.err), "vavizar build: 3 written, 0 unchanged, 1 failed");
  EXPECT_EQ(testing::ReadBytes(out_ + "/1.asp"), old_home);
  EXPECT_EQ(testing::ReadBytes(out_ + "/2.asp"), "<h1>short</h1>");
  const std::vector<std::string> log = Lines(testing::ReadBytes(out_ + "/build.log"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(IsLogLine(log[0], "page 1: ", "[14] Out of string space")) << log[0];
  EXPECT_EQ(WorkingTextLimit(), 1000);

  // Without the option the command's default applies.
  r = testing::RunCli(BuildArgs());
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(testing::ReadBytes(out_ + "/1.asp"), "<p>" + long_text + "<%Response.Write 1%></p>");
  EXPECT_EQ(WorkingTextLimit(), cli::kDefaultMaxChars);
}

TEST_F(BuildCommandTest, BadUsageIsStatusTwoAndWritesNothing) {
  const std::string missing = dir_ / "no-such.db";
  const std::string tail = "Try 'vavizar build --help'.\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"build", "--db", db_, "--out", out_},
       "vavizar build: give the template set with --set SET\n" + tail},
      {{"build", "--db", db_, "--set", "1"},
       "vavizar build: give the output folder with --out DIR\n" + tail},
      {{"build", "--set", "1", "--out", out_},
       "vavizar build: give one of --db FILE or --odbc STRING\n" + tail},
      {{"build", "--db", db_, "--set", "1x", "--out", out_},
       "vavizar build: --set: identifier '1x' is not a number\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", ""},
       "vavizar build: --out: the output folder is empty\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--jobs", "0"},
       "vavizar build: --jobs: '0' is not a number from 1 to 256\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--jobs", "x"},
       "vavizar build: --jobs: 'x' is not a number from 1 to 256\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--jobs", "257"},
       "vavizar build: --jobs: '257' is not a number from 1 to 256\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--max-chars", "0"},
       "vavizar build: --max-chars: '0' is not a number from 1 to 2147483647\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "2"},
       "vavizar build: expected 0 arguments, got 1\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--exec=1"},
       "vavizar build: option '--exec' takes no value\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--page", "1"},
       "vavizar build: unknown option '--page'\n" + tail},
      {{"build", "--db", db_, "--set", "1", "--out", out_, "--encoding", "NO-SUCH-SET"},
       "vavizar build: Unknown encoding 'NO-SUCH-SET'\n" + tail},
      {{"build", "--db", missing, "--set", "1", "--out", out_},
       "vavizar build: cannot open database '" + missing +
           "': unable to open database file: " + missing + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    testing::Result r = testing::RunCli(c.args);
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(out_));
  }
  // An output folder that cannot be made.
  WriteBytes(dir_ / "file", "x");
  testing::Result r =
      testing::RunCli({"build", "--db", db_, "--set", "1", "--out", dir_ / "file/sub"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err.rfind("vavizar build: cannot make the folder '" + (dir_ / "file/sub") + "': ", 0),
            0u)
      << r.err;
}

// build and check look at the tables before anything else: one line names
// what is missing, and nothing is written.
TEST_F(BuildCommandTest, AMissingTableOrColumnIsNamedUpFront) {
  const struct {
    const char* sql;
    const char* line;
  } cases[] = {
      {"DROP TABLE web_tag;", "the database has no table 'web_tag': no such table: web_tag"},
      {"DROP TABLE web_templet;",
       "the database has no table 'web_templet': no such table: web_templet"},
      {"DROP TABLE web_page2func;",
       "the database has no table 'web_page2func': no such table: web_page2func"},
      {"ALTER TABLE web_templet RENAME COLUMN tmpl_file TO file;",
       "table 'web_templet' has no column 'tmpl_file': no such column: tmpl_file"},
      {"ALTER TABLE web_tag RENAME COLUMN FunID TO fun;",
       "table 'web_tag' has no column 'FunID': no such column: FunID"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const std::string db = dir_ / "partial.db";
    std::filesystem::copy_file(db_, db, std::filesystem::copy_options::overwrite_existing);
    RunSql(db, c.sql);
    testing::Result r = testing::RunCli({"build", "--db", db, "--set", "1", "--out", out_});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_EQ(r.err, std::string("vavizar build: ") + c.line + "\n");
    EXPECT_FALSE(std::filesystem::exists(out_));
    r = testing::RunCli({"check", "--db", db, "--set", "1"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("vavizar check: ") + c.line + "\n");
  }
}

TEST_F(BuildCommandTest, HelpNamesTheOptions) {
  testing::Result r = testing::RunCli({"build", "--help"});
  EXPECT_EQ(r.status, cli::kExitOk);
  EXPECT_EQ(r.out.rfind("usage: vavizar build [options] --set SET --out DIR", 0), 0u) << r.out;
  for (const char* option :
       {"--exec", "--jobs N", "--changed", "--db FILE", "--encoding ENC", "--max-chars N"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  EXPECT_NE(testing::RunCli({"--help"}).out.find("  build       "), std::string::npos);
}

TEST_F(BuildCommandTest, TheBinaryWritesOnlyTheSummaryWhenNotOnATerminal) {
  const std::string err = dir_ / "stderr";
  EXPECT_EQ(WaitBinary(StartBinary(BuildArgs({"--jobs", "2"}), "/dev/null", err)), 0);
  const std::string text = testing::ReadBytes(err);
  EXPECT_EQ(SummaryOf(text), "vavizar build: 4 written, 0 unchanged, 0 failed");
  EXPECT_EQ(Shape(text), "vavizar build: N written, N unchanged, N failed, N.N s\n");
}

// A site of many pages for the interrupted run: every page on one template
// whose tag's code changes between two runs.
class InterruptedBuildTest : public BuildCommandTest {
 protected:
  static constexpr int kPages = 3000;

  void SetUp() override {
    BuildCommandTest::SetUp();
    db_ = dir_ / "many.db";
    MakeOneTemplateSite(kPages, 50, "Old");
    old_code_ = PageCode("asp", "1");
    RunSql(db_, "UPDATE web_tag SET tag_code='New' WHERE tag_name='v';");
    new_code_ = PageCode("asp", "1");
    RunSql(db_, "UPDATE web_tag SET tag_code='Old' WHERE tag_name='v';");
  }

  std::string old_code_;
  std::string new_code_;
};

// Every page file of the folder is the old page or the new one, and no
// temporary file is left; returns how many are old and new.
std::pair<size_t, size_t> OldAndNew(const std::string& out, const std::string& old_code,
                                    const std::string& new_code) {
  size_t old_files = 0;
  size_t new_files = 0;
  for (const std::string& name : Names(out)) {
    if (name == "build.log" || name == "build.manifest") continue;
    EXPECT_NE(name[0], '.') << "a temporary file is left: " << name;
    const std::string bytes = testing::ReadBytes(out + "/" + name);
    if (bytes == old_code) {
      ++old_files;
    } else {
      EXPECT_EQ(bytes, new_code) << name << " is neither the old file nor the new one";
      ++new_files;
    }
  }
  return {old_files, new_files};
}

TEST_F(InterruptedBuildTest, LeavesEveryFileOldOrNewAndNoTemporaryFile) {
  ASSERT_NE(old_code_, new_code_);
  // SIGHUP (the terminal closed) stops a build as SIGINT and SIGTERM do.
  const char* codes[] = {"New", "Old", "New"};
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(signals[i]);
    testing::Result first = testing::RunCli(BuildArgs({"--changed"}));
    ASSERT_EQ(first.status, cli::kExitOk) << first.err;
    const std::string& before = i % 2 == 0 ? old_code_ : new_code_;
    const std::string& after = i % 2 == 0 ? new_code_ : old_code_;
    RunSql(db_, std::string("UPDATE web_tag SET tag_code='") + codes[i] + "' WHERE tag_name='v';");

    // Stopped once the first new file is in place.
    const std::string err = dir_ / "stderr";
    pid_t pid = StartBinary(BuildArgs({"--jobs", "2", "--changed"}), "/dev/null", err);
    ASSERT_GT(pid, 0);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (testing::ReadBytes(out_ + "/1.asp") != after &&
           testing::ReadBytes(out_ + "/2.asp") != after &&
           std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, signals[i]);
    EXPECT_EQ(WaitBinary(pid), 1);
    const std::string summary = testing::ReadBytes(err);
    EXPECT_EQ(
        Shape(summary),
        "vavizar build: N written, N unchanged, N failed, N.N s; N not built (interrupted)\n");
    EXPECT_NE(summary.find(" written, 0 unchanged, 0 failed, "), std::string::npos) << summary;
    const auto [old_files, new_files] = OldAndNew(out_, before, after);
    EXPECT_EQ(old_files + new_files, static_cast<size_t>(kPages));
    EXPECT_GT(new_files, 0u);
    EXPECT_GT(old_files, 0u);

    // The manifest tells a later --changed run which pages are still old.
    testing::Result rest = testing::RunCli(BuildArgs({"--changed"}));
    EXPECT_EQ(rest.status, cli::kExitOk) << rest.err;
    EXPECT_EQ(SummaryOf(rest.err), "vavizar build: " + std::to_string(old_files) + " written, " +
                                       std::to_string(new_files) + " unchanged, 0 failed");
    for (int page = 1; page <= kPages; ++page)
      ASSERT_EQ(testing::ReadBytes(out_ + "/" + std::to_string(page) + ".asp"), after) << page;
  }
}

// A writer that holds the database locked: a sqlite3 shell in an exclusive
// transaction, for `seconds`. Ready once the lock is taken.
class LockedDatabase {
 public:
  LockedDatabase(const std::string& db, const std::string& dir, double seconds)
      : out_(dir + "/locker.out") {
    std::filesystem::remove(out_);  // an earlier writer's
    const std::string script = dir + "/locker.sql";
    WriteBytes(script,
               ".timeout 20000\nBEGIN EXCLUSIVE;\nUPDATE web_tag SET tag_note = 'x';\n"
               ".print locked\n.system sleep " +
                   std::to_string(seconds) + "\nCOMMIT;\n");
    const std::string command =
        "sqlite3 -bail '" + db + "' < '" + script + "' > '" + out_ + "' 2>&1 &";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (testing::ReadBytes(out_).find("locked") == std::string::npos &&
           std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_NE(testing::ReadBytes(out_).find("locked"), std::string::npos)
        << testing::ReadBytes(out_);
  }

 private:
  std::string out_;
};

// A database a writer holds is waited for (--busy-timeout, default 5 s)
// rather than failed at once.
TEST_F(BuildCommandTest, ALockedDatabaseIsWaitedFor) {
  {
    LockedDatabase locked(db_, dir_.path(), 0.5);
    testing::Result r = testing::RunCli(BuildArgs());
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(SummaryOf(r.err), "vavizar build: 4 written, 0 unchanged, 0 failed");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  LockedDatabase locked(db_, dir_.path(), 1);
  testing::Result r = testing::RunCli({"asp", "--db", db_, "--busy-timeout", "0", "1", "1"});
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err, "vavizar asp: cannot open database '" + db_ + "': database is locked\n");
  r = testing::RunCli(
      {"asp", "--db", db_, "--templates", templates_, "--busy-timeout", "5000", "1", "1"});
  EXPECT_EQ(r.status, cli::kExitOk) << r.err;
  EXPECT_EQ(r.out, PageCode("asp", "1"));
}

// While a writer holds the database the workers wait: the first signal
// cannot end the run, the second ends it at once.
TEST_F(InterruptedBuildTest, ASecondSignalEndsTheRunAtOnce) {
  ASSERT_EQ(testing::RunCli(BuildArgs()).status, cli::kExitOk);
  RunSql(db_, "UPDATE web_tag SET tag_code='New' WHERE tag_name='v';");
  pid_t pid = StartBinary(BuildArgs({"--jobs", "2"}), "/dev/null", "/dev/null");
  ASSERT_GT(pid, 0);
  WaitForFile(out_ + "/1.asp", new_code_);
  LockedDatabase locked(db_, dir_.path(), 3);
  kill(pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int wait_status = 0;
  EXPECT_EQ(waitpid(pid, &wait_status, WNOHANG), 0) << "the first signal ended the run";
  kill(pid, SIGINT);
  ASSERT_EQ(waitpid(pid, &wait_status, 0), pid);
  // Ended by the signal itself, as a shell expects of an interrupted tool.
  ASSERT_TRUE(WIFSIGNALED(wait_status)) << wait_status;
  EXPECT_EQ(WTERMSIG(wait_status), SIGINT);
  const auto [old_files, new_files] = OldAndNew(out_, old_code_, new_code_);
  EXPECT_EQ(old_files + new_files, static_cast<size_t>(kPages));
}

// Builds killed at random moments, and page files cut short or altered
// afterwards as a power loss may leave them: the next --changed run always
// leaves every page exactly as generated.
TEST_F(BuildCommandTest, AfterAKillOrADamagedFileTheNextChangedRunRepairsEveryPage) {
  constexpr int kSitePages = 100;
  db_ = dir_ / "kill.db";
  MakeOneTemplateSite(kSitePages, 40, "Code 0");
  ASSERT_EQ(testing::RunCli(BuildArgs({"--changed"})).status, cli::kExitOk);

  std::mt19937 random(20261208);
  int version = 0;
  for (int trial = 0; trial < 100; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    if (random() % 2 == 0) {
      version = trial + 1;
      RunSql(db_, "UPDATE web_tag SET tag_code='Code " + std::to_string(version) + "';");
    }
    pid_t pid = StartBinary(BuildArgs({"--changed", "--jobs", "2"}), "/dev/null", "/dev/null");
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    kill(pid, SIGKILL);
    WaitBinary(pid);
    const std::string victim = out_ + "/" + std::to_string(1 + random() % kSitePages) + ".asp";
    switch (random() % 4) {
      case 0:  // cut short
        truncate(victim.c_str(), static_cast<off_t>(random() % 40));
        break;
      case 1: {  // the same size, other bytes
        std::string bytes = testing::ReadBytes(victim);
        if (!bytes.empty()) bytes[random() % bytes.size()] ^= 0x20;
        WriteBytes(victim, bytes);
        break;
      }
      default:
        break;
    }
    testing::Result r = testing::RunCli(BuildArgs({"--changed"}));
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    const std::string expected = PageCode("asp", "1");
    ASSERT_NE(expected.find("Code " + std::to_string(version)), std::string::npos);
    const auto [wrong, right] = OldAndNew(out_, "", expected);
    ASSERT_EQ(right, static_cast<size_t>(kSitePages));
  }
}

// Two builds into one folder: the second waits for the first, or with
// --no-wait fails at once.
TEST_F(BuildCommandTest, ABuildWaitsForTheOneThatHoldsTheFolder) {
  std::filesystem::create_directories(out_);
  const int held = open(out_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  testing::Result r = testing::RunCli(BuildArgs({"--no-wait"}));
  EXPECT_EQ(r.status, cli::kExitUsage);
  EXPECT_EQ(r.err, "vavizar build: another build is writing into '" + out_ + "' (--no-wait)\n");

  const std::string err = dir_ / "stderr";
  pid_t pid = StartBinary(BuildArgs(), "/dev/null", err);
  const std::string waiting =
      "vavizar build: waiting for another build into '" + out_ + "' to finish\n";
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (testing::ReadBytes(err) != waiting && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(testing::ReadBytes(err), waiting);
  EXPECT_FALSE(std::filesystem::exists(out_ + "/1.asp"));
  close(held);
  EXPECT_EQ(WaitBinary(pid), 0);
  EXPECT_EQ(SummaryOf(testing::ReadBytes(err).substr(waiting.size())),
            "vavizar build: 4 written, 0 unchanged, 0 failed");
}

// build --watch: after the first build, a template edit and a row edit each
// rebuild exactly the pages they concern, one summary line each; a file no
// page uses rebuilds nothing; SIGINT ends the watch.
TEST_F(BuildCommandTest, WatchRebuildsExactlyWhatEachChangeConcerns) {
  const std::string err = dir_ / "stderr";
  pid_t pid = StartBinary(BuildArgs({"--watch"}), "/dev/null", err);
  ASSERT_GT(pid, 0);
  // The lines on stderr once there are `count` of them (up to a minute).
  auto lines = [&err](size_t count) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<std::string> got = Lines(testing::ReadBytes(err));
    while (got.size() < count && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      got = Lines(testing::ReadBytes(err));
    }
    return got;
  };
  ASSERT_EQ(lines(1).size(), 1u);
  EXPECT_EQ(SummaryOf(lines(1)[0] + "\n"), "vavizar build: 4 written, 0 unchanged, 0 failed");

  const struct {
    const char* what;
    std::function<void()> change;
    std::set<std::string> rebuilt;
  } kSteps[] = {
      {"a template edited",
       [&] { WriteBytes(templates_ + "/shop.html", "<p>edited<!--shop--></p>"); },
       {"3"}},
      {"a file no page uses, then a row of a function of two pages",
       [&] {
         WriteBytes(templates_ + "/notes.txt", "n");
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         RunSql(db_, "UPDATE web_tag SET tag_code='News 2' WHERE tag_name='news';");
       },
       {"2", "10"}},
      {"a row of every page",
       [&] { RunSql(db_, "UPDATE web_tag SET tag_code='T' WHERE tag_name='t';"); },
       {"1", "2", "3", "10"}},
  };
  size_t seen = 1;
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.what);
    std::map<std::string, ino_t> before = Inodes();
    step.change();
    const std::vector<std::string> got = lines(++seen);
    ASSERT_EQ(got.size(), seen) << testing::ReadBytes(err);
    EXPECT_EQ(SummaryOf(got.back() + "\n"),
              "vavizar build: " + std::to_string(step.rebuilt.size()) + " written, " +
                  std::to_string(4 - step.rebuilt.size()) + " unchanged, 0 failed");
    EXPECT_EQ(Replaced(before), step.rebuilt);
    for (const char* page : {"1", "2", "3", "10"})
      EXPECT_EQ(testing::ReadBytes(out_ + "/" + page + ".asp"), PageCode("asp", page)) << page;
  }
  kill(pid, SIGINT);
  EXPECT_EQ(WaitBinary(pid), 0);
  EXPECT_EQ(Lines(testing::ReadBytes(err)).size(), seen) << testing::ReadBytes(err);
}

// The manifest's hash must see every bit of every field and where fields
// end, across the lengths where long fields switch to lanes and leave a tail:
// each field of random bytes, every one-bit change of it, every cut-off form
// and every split of it into two fields hash apart.
TEST(InputHashTest, EveryBitAndEveryFieldEndCounts) {
  std::mt19937_64 rng(7);
  for (size_t size : {0, 1, 7, 8, 9, 47, 48, 49, 55, 56, 95, 96, 97, 150}) {
    std::string field(size, '\0');
    for (char& c : field) c = static_cast<char>(rng());
    std::set<uint64_t> seen;
    const auto hash = [](std::initializer_list<std::string_view> fields) {
      cli::InputHash sum;
      for (std::string_view f : fields) sum.AddField(f);
      return sum.value();
    };
    seen.insert(hash({field}));
    for (size_t bit = 0; bit < 8 * size; ++bit) {
      std::string changed = field;
      changed[bit / 8] = static_cast<char>(changed[bit / 8] ^ (1 << (bit % 8)));
      seen.insert(hash({changed}));
    }
    for (size_t cut = 0; cut < size; ++cut) seen.insert(hash({field.substr(0, cut)}));
    for (size_t split = 0; split <= size; ++split)
      seen.insert(
          hash({std::string_view(field).substr(0, split), std::string_view(field).substr(split)}));
    EXPECT_EQ(seen.size(), 1 + 8 * size + size + (size + 1)) << "field of " << size << " bytes";
  }
}

}  // namespace
}  // namespace vz
