// `vavizar where` on maps the command writes for a real page: a tag inside
// another tag's content inside a tag row's code, as server-page code and as
// execute code.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/fso/code_page.h"
#include "tests/cli_fixture.h"
#include "tests/store_fixture.h"

namespace vz {
namespace {

using testing::ReadBytes;
using testing::RunCli;
using testing::RunSql;
using testing::TempDir;
using testing::WriteBytes;

class WhereCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fso::SetCodePage("65001");
    db_ = dir_ / "site.db";
    std::filesystem::create_directories(dir_ / "tmpl");
    RunSql(db_, std::string(testing::kSiteSchema) +
                    "INSERT INTO web_templet VALUES (1, 1, 'page.html');\n"
                    "INSERT INTO web_tag VALUES ('outer', NULL, '', 'Dim a' || char(13,10) || "
                    "'<!--box w=1-->' || char(13,10) || '<!--inner-->' || char(13,10) || "
                    "'<!--/box-->' || char(13,10) || 'End');\n"
                    "INSERT INTO web_tag VALUES ('box', NULL, '', "
                    "'B w' || char(13,10) || '[data]' || char(13,10) || 'E');\n"
                    "INSERT INTO web_tag VALUES ('inner', NULL, '', 'Response.Write x');\n");
    WriteBytes(dir_ / "tmpl/page.html", "<p>\r\n<!--outer-->\r\n</p>");
  }

  // Generates the page with `command` into FILE and its map, and returns
  // FILE.
  std::string Generate(const std::string& command, const std::string& file) {
    const std::string path = dir_ / file;
    testing::Result r = RunCli(
        {command, "--db", db_, "--templates", dir_ / "tmpl", "--map", path + ".map", "1", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    WriteBytes(path, r.out);
    return path;
  }

  TempDir dir_;
  std::string db_;
};

TEST_F(WhereCommandTest, NamesTheChainOfExpansionsInnermostFirst) {
  const std::string asp = Generate("asp", "page.asp");
  ASSERT_EQ(ReadBytes(asp),
            "<p>\r\n<%Dim a\r\n<%w=\"1\"\r\nB w\r\n%>\r\n<%Response.Write x%>\r\n<%\r\nE%>\r\n"
            "End%>\r\n</p>");
  const std::string exec = Generate("exec", "page.vbs");
  const std::string tmpl = dir_ / "tmpl/page.html";
  struct Case {
    std::string place;
    std::string expected;
  } cases[] = {
      // Template text.
      {asp + ":1:2", tmpl + ":1:2: template text\n"},
      // The innermost tag's code, in the content of box, in the code of outer.
      {asp + ":6:3",
       asp + ":6:3: tag row 3 `inner`, code line 1, column 1\n" + asp +
           ":6:3: tag row 1 `outer`, code line 3, column 1: expanding <!--inner-->\n" + tmpl +
           ":2:1: expanding <!--outer-->\n"},
      // The assignment line that box wrote from its attributes.
      {asp + ":3:4",
       asp + ":3:4: written by expanding tag row 2 `box`\n" + asp +
           ":3:4: tag row 1 `outer`, code line 2, column 1: expanding <!--box w=1-->\n" + tmpl +
           ":2:1: expanding <!--outer-->\n"},
      // Execute code: the conversion's writing for template text, and code.
      {exec + ":1:1",
       exec + ":1:1: written by the conversion to execute code\n" + tmpl + ":1:1: template text\n"},
      {exec + ":3:1", exec + ":3:1: tag row 1 `outer`, code line 1, column 1\n" + tmpl +
                          ":2:1: expanding <!--outer-->\n"},
  };
  for (const Case& c : cases) {
    testing::Result r = RunCli({"where", c.place});
    EXPECT_EQ(r.status, 0) << c.place << ": " << r.err;
    EXPECT_EQ(r.out, c.expected) << c.place;
  }
  // The same as one object.
  testing::Result r = RunCli({"where", "--json", asp + ":6:3"});
  EXPECT_EQ(r.out,
            "{\"file\":\"" + asp +
                "\",\"line\":6,\"column\":3,\"chain\":["
                "{\"kind\":\"code\",\"source\":\"web_tag row 3: inner\",\"line\":1,\"column\":1,"
                "\"row\":3,\"name\":\"inner\"},"
                "{\"kind\":\"expanding\",\"tag\":\"<!--inner-->\",\"source\":\"web_tag row 1: "
                "outer\",\"line\":3,\"column\":1,\"row\":1,\"name\":\"outer\"},"
                "{\"kind\":\"expanding\",\"tag\":\"<!--outer-->\",\"source\":\"" +
                tmpl + "\",\"line\":2,\"column\":1}]}\n");
}

}  // namespace
}  // namespace vz
