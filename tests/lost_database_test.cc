// A database that goes away in the middle of `vavizar build`: a PostgreSQL
// server of the test's own, reached through ODBC, is stopped once the build
// has written its first pages. The pages from then on fail with their log
// lines, every file is whole (the new page or the one the last build wrote),
// and the process exits 1 instead of crashing or hanging.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "platform/fso/code_page.h"
#include "tests/cli_fixture.h"
#include "tests/pg_fixture.h"
#include "tests/process_fixture.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using testing::IsLogLine;
using testing::Lines;
using testing::Names;
using testing::ScratchServer;
using testing::Shape;
using testing::StartBinary;
using testing::SummaryOf;
using testing::TempDir;
using testing::WaitBinary;
using testing::WriteBytes;

constexpr int kPages = 6000;

// The page every row of web_templet names, with its tag's code in place.
std::string PageWith(const std::string& code) {
  std::string page;
  for (int i = 0; i < 20; ++i) page += "<p>line " + std::to_string(i) + " <%" + code + "%></p>\r\n";
  return page;
}

class LostDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fso::SetCodePage("65001");
    ASSERT_TRUE(server_.running());
    server_.Sql(
        "create table web_templet(page_id integer, tset_id integer, tmpl_file text);\n"
        "create table web_page2func(page_id integer, FunID integer);\n"
        "create table web_tag(tag_name text, FunID integer, tag_note text, tag_code text);\n"
        "insert into web_templet select g, 5, 'many.htm' from generate_series(1, " +
            std::to_string(kPages) +
            ") g;\n"
            "insert into web_tag values('v', null, '', 'Old');\n",
        config_);
    std::string body;
    for (int i = 0; i < 20; ++i) body += "<p>line " + std::to_string(i) + " <!--v--></p>\r\n";
    templates_ = dir_ / "tmpl";
    out_ = dir_ / "out";
    std::filesystem::create_directories(templates_);
    WriteBytes(templates_ + "/many.htm", body);
  }

  std::vector<std::string> BuildArgs() const {
    return {"build",       "--odbc",   server_.ConnectionString8(),
            "--templates", templates_, "--set",
            "5",           "--out",    out_,
            "--jobs",      "2"};
  }

  const TempDir& config_ = testing::PrivateDriverList();
  TempDir dir_;
  ScratchServer server_;
  std::string templates_;
  std::string out_;
};

TEST_F(LostDatabaseTest, LaterPagesFailWithALogLineAndWrittenFilesStayWhole) {
  const std::string old_page = PageWith("Old");
  const std::string new_page = PageWith("New");
  testing::Result first = testing::RunCli(BuildArgs());
  ASSERT_EQ(first.status, cli::kExitOk) << first.err;
  ASSERT_EQ(testing::ReadBytes(out_ + "/1.asp"), old_page);
  server_.Sql("update web_tag set tag_code = 'New';\n", config_);

  // The server goes away once the first new file is in place.
  const std::string err = dir_ / "stderr";
  pid_t pid =
      StartBinary(BuildArgs(), "/dev/null", err, {"LC_ALL=C", "ODBCSYSINI=" + config_.path()});
  ASSERT_GT(pid, 0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (testing::ReadBytes(out_ + "/1.asp") != new_page &&
         testing::ReadBytes(out_ + "/2.asp") != new_page &&
         std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server_.Stop();
  ASSERT_EQ(WaitBinary(pid), cli::kExitLogged) << testing::ReadBytes(err).substr(0, 2000);

  // Every file is the old page or the new one; no temporary file is left.
  std::set<std::string> written;
  std::set<std::string> kept;
  for (const std::string& name : Names(out_)) {
    if (name == "build.log" || name == "build.manifest") continue;
    ASSERT_NE(name[0], '.') << "a temporary file is left: " << name;
    ASSERT_EQ(name.substr(name.size() - 4), ".asp") << name;
    const std::string page = name.substr(0, name.size() - 4);
    const std::string bytes = testing::ReadBytes(out_ + "/" + name);
    if (bytes == new_page) {
      written.insert(page);
    } else {
      ASSERT_EQ(bytes, old_page) << name << " is neither the old page nor the new one";
      kept.insert(page);
    }
  }
  EXPECT_EQ(written.size() + kept.size(), static_cast<size_t>(kPages));
  EXPECT_GT(written.size(), 0u);
  EXPECT_GT(kept.size(), 0u);

  // The summary counts them; every page kept has its lines in build.log,
  // each led by the page, and no page written has any.
  const std::string text = testing::ReadBytes(err);
  EXPECT_EQ(SummaryOf(text), "vavizar build: " + std::to_string(written.size()) +
                                 " written, 0 unchanged, " + std::to_string(kept.size()) +
                                 " failed");
  std::map<std::string, int> lines_of;
  for (const std::string& line : Lines(testing::ReadBytes(out_ + "/build.log"))) {
    const size_t colon = line.find(": ");
    ASSERT_EQ(line.rfind("page ", 0), 0u) << line;
    ASSERT_NE(colon, std::string::npos) << line;
    const std::string page = line.substr(5, colon - 5);
    // The link failure as the driver reports it: "[-2147467259] [08...]"
    // once the server is gone, "[57P01]" for the sessions it ended.
    const size_t entry = line.find(" - [");
    ASSERT_NE(entry, std::string::npos) << line;
    const std::string number = line.substr(entry + 3, line.find(']', entry) - entry - 2);
    EXPECT_TRUE(number == "[-2147467259]" || number == "[3709]") << line;
    EXPECT_TRUE(IsLogLine(line, "page " + page + ": ", line.substr(entry + 3))) << line;
    ++lines_of[page];
  }
  std::set<std::string> logged;
  for (const auto& [page, count] : lines_of) logged.insert(page);
  EXPECT_EQ(logged, kept);

  // stderr names each failed page once, before the summary.
  size_t named = 0;
  for (const std::string& line : Lines(text)) {
    if (line.rfind("vavizar build: page ", 0) == 0) {
      ++named;
      EXPECT_EQ(Shape(line.substr(0, line.find(" not written: "))), "vavizar build: page N");
    }
  }
  EXPECT_EQ(named, kept.size());
}

}  // namespace
}  // namespace vz
