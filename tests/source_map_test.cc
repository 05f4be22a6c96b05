// Source maps: the VLQ table, the round trip of random traces against a
// literal count, the where command's answers on one hand-made page, and the
// exact errors for bad maps and bad arguments.

#include "sourcemap/source_map.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "execute/execute_code.h"
#include "execute/execute_origins.h"
#include "generate/asp_code.h"
#include "platform/failure.h"
#include "sourcemap/vlq.h"
#include "tests/cli_fixture.h"
#include "tests/expand_tag_cases.h"
#include "tests/random_page_trace.h"
#include "tests/store_fixture.h"
#include "tests/tag_table.h"

namespace vz {
namespace {

using testing::RunCli;
using testing::TempDir;

// A link as one line, for readable failures.
std::string Show(const MapLink& l) {
  return std::to_string(static_cast<int>(l.kind)) + " " + l.source + ":" + std::to_string(l.line) +
         ":" + std::to_string(l.column) + " row " + std::to_string(l.row) + " `" + l.name + "` " +
         l.tag;
}

std::vector<std::string> Show(const std::vector<MapLink>& chain) {
  std::vector<std::string> out;
  for (const MapLink& l : chain) out.push_back(Show(l));
  return out;
}

TEST(Vlq, EncodesAndDecodesEdgeValues) {
  const struct {
    int64_t value;
    const char* text;
  } kCases[] = {
      {0, "A"},
      {1, "C"},
      {-1, "D"},
      {15, "e"},
      {16, "gB"},
      {-16, "hB"},
      {1000, "w+B"},
      {2147483647, "+/////D"},
      {-2147483648LL, "hgggggE"},
      {int64_t{1} << 40, "ggggggggC"},
      {kMaxVlq, "+//////////f"},
      {-kMaxVlq, "///////////f"},
  };
  for (const auto& c : kCases) {
    std::string text;
    AppendVlq(text, c.value);
    EXPECT_EQ(text, c.text) << c.value;
    size_t at = 0;
    EXPECT_EQ(ReadVlq(text + ",", at), c.value) << c.text;
    EXPECT_EQ(at, text.size()) << c.text;
  }
  // A negative zero reads as zero.
  size_t at = 0;
  EXPECT_EQ(ReadVlq("B", at), 0);
}

TEST(Vlq, RefusesWhatIsNoNumber) {
  const struct {
    const char* text;
    const char* error;
  } kCases[] = {
      {"", "a number is cut off at the end"},     {"g", "a number is cut off at the end"},
      {"ggggggggggggA", "a number is too large"}, {"!", "'!' is not a base64 digit"},
      {"g=", "'=' is not a base64 digit"},        {"\xC3", "byte 195 is not a base64 digit"},
  };
  for (const auto& c : kCases) {
    size_t at = 0;
    try {
      ReadVlq(c.text, at);
      ADD_FAILURE() << "no error for '" << c.text << "'";
    } catch (const SourceMapError& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << c.text;
    }
  }
}

// Every character of random pages resolves to what counting in the trace
// gives: copies one to one, written characters to their expansion's tag, the
// conversion's characters to the one they are written for, with the chain of
// expansions after them.
TEST(SourceMapRoundTrip, EveryCharacterResolvesAsCountedInTheTrace) {
  std::mt19937 rng(20261208);
  size_t characters = 0;
  for (int round = 0; round < 3000; ++round) {
    const size_t runs = rng() % 40;
    testing::RandomTrace t =
        testing::MakeRandomTrace(rng, runs, 1 + rng() % 60, rng() % 5, round % 2 == 1);
    const std::string json = WriteSourceMap(t.trace, t.generated, "out/p.asp", "tpl/p.htm");
    // Written in two halves on two threads, the map is the same.
    ASSERT_EQ(WriteSourceMap(t.trace, t.generated, "out/p.asp", "tpl/p.htm", 2), json)
        << "round " << round;
    const SourceMap map = SourceMap::Parse(json);
    int64_t lines = 0, last_column = 0;
    if (!t.generated.empty())
      testing::CountPlace(t.generated, t.generated.size() - 1, lines, last_column);
    ASSERT_EQ(map.line_count(), lines) << json;
    for (size_t at = 0; at < t.generated.size(); ++at) {
      int64_t line, column;
      testing::CountPlace(t.generated, at, line, column);
      ASSERT_EQ(Show(map.Resolve(line, column)),
                Show(testing::ExpectedChain(t.trace, at, "tpl/p.htm")))
          << "round " << round << ", character " << at << " (" << line << ":" << column << ")\n"
          << json;
      ++characters;
    }
  }
  EXPECT_GT(characters, 100000u);
}

// Every character of `page` resolves as counting in `trace` says.
void ExpectEveryCharacterResolves(const PageTrace& trace, const Text& page) {
  const std::string json = WriteSourceMap(trace, page, "a.asp", "tpl/a.htm");
  ASSERT_EQ(WriteSourceMap(trace, page, "a.asp", "tpl/a.htm", 2), json) << ToUtf8(page);
  const SourceMap map = SourceMap::Parse(json);
  for (size_t at = 0; at < page.size(); ++at) {
    int64_t line, column;
    testing::CountPlace(page, at, line, column);
    ASSERT_EQ(Show(map.Resolve(line, column)), Show(testing::ExpectedChain(trace, at, "tpl/a.htm")))
        << "character " << at << " of " << ToUtf8(page);
  }
}

// The same on pages the assembly makes, with the origins it records, and on
// their execute code: two rows whose tags stand in the template, the first
// row's code bringing in tags of the second, so that expansions nest.
TEST(SourceMapRoundTrip, AssembledPagesAndTheirExecuteCodeResolveAsTheirOriginsSay) {
  differential::CaseMaker maker(4242);
  int mapped = 0, nested = 0;
  for (int round = 0; round < 3000; ++round) {
    const differential::Case outer = maker.Next();
    const differential::Case inner = maker.Next();
    const Text templet = outer.text + inner.text;
    const ado::RowTable table =
        Table({{outer.name, outer.code + inner.text.substr(0, 24)}, {inner.name, inner.code}});
    ExpandLimits limits;
    limits.max_length = 1 << 14;
    PageTrace trace;
    trace.template_path = u"tpl\\a.htm";
    trace.template_text = templet;
    Text page;
    try {
      page = AssembleAspCode(templet, table, limits, &trace.origins);
    } catch (const Failure&) {
      continue;
    }
    SCOPED_TRACE("round " + std::to_string(round));
    ExpectEveryCharacterResolves(trace, page);
    PageTrace executed = trace;
    executed.origins.runs = ComposeOrigins(trace.origins.runs, ExecuteCodeRuns(page));
    ExpectEveryCharacterResolves(executed, ExecuteCodeOf(page));
    if (::testing::Test::HasFatalFailure()) return;
    ++mapped;
    for (const Occurrence& o : trace.origins.occurrences)
      nested += o.at.kind == Origin::Kind::kCode ? 1 : 0;
  }
  // Many pages fail (tags without "-->", codes that hold their own tag); the
  // check must not dwindle to nothing, nor to pages without nesting.
  EXPECT_GT(mapped, 1000);
  EXPECT_GT(nested, 500);
}

// A page of every kind of origin: template text, a code with an expansion in
// it, an expansion's writing, and the conversion's writing for each kind.
//   template   <p>\r\n<!--box w=1-->Hi<!--/box-->\r\n</p>
//   row 2 box  Start w\r\n<!--inner-->\r\n[data]\r\nEnd
//   row 4 inner  In
//   page       <p>\r\n<%w="1"\r\nStart w\r\n<%In%>\r\n%>Hi<%\r\nEnd%>\r\n</p>"&+
PageTrace SamplePage(Text& generated) {
  PageTrace trace;
  trace.template_path = u"tpl\\index.htm";
  trace.template_text = u"<p>\r\n<!--box w=1-->Hi<!--/box-->\r\n</p>";
  PageOrigins& o = trace.origins;
  o.rows = {{2, u"box", u"Start w\r\n<!--inner-->\r\n[data]\r\nEnd"}, {4, u"inner", u"In"}};
  Origin tag_in_template;
  tag_in_template.offset = 5;
  Origin tag_in_code{Origin::Kind::kCode, false, 2, 0, 9};
  o.occurrences = {{2, tag_in_template, u"<!--box w=1-->"}, {4, tag_in_code, u"<!--inner-->"}};
  const auto templ = [](size_t offset) {
    return Origin{Origin::Kind::kTemplate, false, -1, -1, offset};
  };
  const auto code = [](int32_t row, int32_t occurrence, size_t offset) {
    return Origin{Origin::Kind::kCode, false, row, occurrence, offset};
  };
  const auto written = [](int32_t occurrence) {
    return Origin{Origin::Kind::kGenerated, false, -1, occurrence, 0};
  };
  const auto converted = [](Origin origin) {
    origin.converted = true;
    return origin;
  };
  const std::pair<const char16_t*, Origin> kPieces[] = {
      {u"<p>\r\n", templ(0)},
      {u"<%", written(0)},
      {u"w=", templ(13)},
      {u"\"", written(0)},
      {u"1", templ(15)},
      {u"\"\r\n", written(0)},
      {u"Start w\r\n", code(2, 0, 0)},
      {u"<%", written(1)},
      {u"In", code(4, 1, 0)},
      {u"%>", written(1)},
      {u"\r\n", code(2, 0, 21)},
      {u"%>", written(0)},
      {u"Hi", templ(19)},
      {u"<%", written(0)},
      {u"\r\nEnd", code(2, 0, 29)},
      {u"%>", written(0)},
      {u"\r\n</p>", templ(32)},
      {u"\"", converted(templ(37))},
      {u"&", converted(written(1))},
      {u"+", converted(code(2, 0, 31))},
  };
  for (const auto& [text, origin] : kPieces) {
    o.runs.push_back({generated.size(), std::char_traits<char16_t>::length(text), origin});
    generated += text;
  }
  return trace;
}

class WhereCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    Text generated;
    const PageTrace trace = SamplePage(generated);
    testing::WriteBytes(dir_ / "1.asp", ToUtf8(generated));
    testing::WriteBytes(dir_ / "1.asp.map",
                        WriteSourceMap(trace, generated, "1.asp", "tpl/index.htm"));
  }

  std::string Page() const { return dir_ / "1.asp"; }

  TempDir dir_;
};

TEST_F(WhereCommand, PrintsTheChainInnermostFirst) {
  const struct {
    std::string place;
    std::vector<std::string> lines;  // "@" stands for the page's place
  } kCases[] = {
      {"7:2", {"tpl/index.htm:3:2: template text"}},
      {"2:3", {"tpl/index.htm:2:9: template text"}},
      {"1", {"tpl/index.htm:1:1: template text"}},
      {"4:3",
       {"@: tag row 5 `inner`, code line 1, column 1",
        "@: tag row 3 `box`, code line 2, column 1: expanding <!--inner-->",
        "tpl/index.htm:2:1: expanding <!--box w=1-->"}},
      {"4:5",
       {"@: written by expanding tag row 5 `inner`",
        "@: tag row 3 `box`, code line 2, column 1: expanding <!--inner-->",
        "tpl/index.htm:2:1: expanding <!--box w=1-->"}},
      {"6:2",
       {"@: tag row 3 `box`, code line 4, column 2",
        "tpl/index.htm:2:1: expanding <!--box w=1-->"}},
      {"2:5",
       {"@: written by expanding tag row 3 `box`", "tpl/index.htm:2:1: expanding <!--box w=1-->"}},
      {"7:5", {"@: written by the conversion to execute code", "tpl/index.htm:3:4: template text"}},
      {"7:6",
       {"@: written by the conversion to execute code", "@: written by expanding tag row 5 `inner`",
        "@: tag row 3 `box`, code line 2, column 1: expanding <!--inner-->",
        "tpl/index.htm:2:1: expanding <!--box w=1-->"}},
      {"7:7",
       {"@: written by the conversion to execute code", "@: tag row 3 `box`, code line 4, column 1",
        "tpl/index.htm:2:1: expanding <!--box w=1-->"}},
  };
  for (const auto& c : kCases) {
    const std::string at =
        Page() + ":" + c.place + (c.place.find(':') == std::string::npos ? ":1" : "");
    std::string expected;
    for (std::string line : c.lines) {
      if (line[0] == '@') line = at + line.substr(1);
      expected += line + "\n";
    }
    const testing::Result r = RunCli({"where", Page() + ":" + c.place});
    EXPECT_EQ(r.status, 0) << c.place << r.err;
    EXPECT_EQ(r.out, expected) << c.place;
  }
}

TEST_F(WhereCommand, JsonHoldsTheSameChain) {
  const testing::Result r = RunCli({"where", "--json", Page() + ":4:3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "{\"file\":\"" + Page() +
          "\",\"line\":4,\"column\":3,\"chain\":["
          "{\"kind\":\"code\",\"source\":\"web_tag row 5: inner\",\"line\":1,\"column\":1,"
          "\"row\":5,\"name\":\"inner\"},"
          "{\"kind\":\"expanding\",\"tag\":\"<!--inner-->\",\"source\":\"web_tag row 3: box\","
          "\"line\":2,\"column\":1,\"row\":3,\"name\":\"box\"},"
          "{\"kind\":\"expanding\",\"tag\":\"<!--box w=1-->\",\"source\":\"tpl/index.htm\","
          "\"line\":2,\"column\":1}]}\n");
}

// Each mistake gives its one line and exit status 2; "@" stands for the
// page's path.
TEST_F(WhereCommand, RefusesBadPlacesAndMapsWithOneLine) {
  testing::WriteBytes(dir_ / "cut.asp.map", R"({"version":3,"sources":["a"],"mappings":"AAAA)");
  testing::WriteBytes(dir_ / "v2.asp.map", R"({"version":2,"sources":[],"mappings":""})");
  std::filesystem::create_directory(dir_ / "folder.asp.map");
  const std::string usage_tail = "Try 'vavizar where --help'.\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } kCases[] = {
      {{"where"}, "vavizar where: expected 1 argument, got 0\n" + usage_tail},
      {{"where", "1.asp"}, "vavizar where: '1.asp' is not FILE:LINE[:COLUMN]\n" + usage_tail},
      {{"where", ":4"}, "vavizar where: ':4' is not FILE:LINE[:COLUMN]\n" + usage_tail},
      {{"where", "@:4:x"}, "vavizar where: '@:4:x' is not FILE:LINE[:COLUMN]\n" + usage_tail},
      {{"where", "@:0"},
       "vavizar where: line '0' is not a number from 1 to 2147483647\n" + usage_tail},
      {{"where", "@:1:99999999999"},
       "vavizar where: column '99999999999' is not a number from 1 to 2147483647\n" + usage_tail},
      {{"where", "--jsn", "@:1"}, "vavizar where: unknown option '--jsn'\n" + usage_tail},
      {{"where", "@:8"}, "vavizar where: @:8: past the end of the file, which has 7 lines\n"},
      {{"where", "@:4:9"}, "vavizar where: @:4:9: past the end of line 4, which has 8 columns\n"},
      {{"where", "@x:1"}, "vavizar where: cannot read '@x.map': No such file or directory\n"},
      {{"where", "@@folder.asp:1"},
       "vavizar where: cannot read '@@folder.asp.map': Is a directory\n"},
      {{"where", "@@cut.asp:1"},
       "vavizar where: @@cut.asp.map: not JSON: a string has no closing quote at byte 45\n"},
      {{"where", "@@v2.asp:1"},
       "vavizar where: @@v2.asp.map: \"version\" is not 3: only revision 3 source maps are "
       "read\n"},
  };
  const auto fill = [&](std::string s) {
    for (size_t at; (at = s.find("@@")) != std::string::npos;) s.replace(at, 2, dir_.path() + "/");
    for (size_t at; (at = s.find('@')) != std::string::npos;) s.replace(at, 1, Page());
    return s;
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(fill(a));
    const testing::Result r = RunCli(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.err, fill(c.err)) << args.back();
    EXPECT_EQ(r.out, "") << args.back();
  }
}

// Maps other tools write, and broken ones: the reader's exact words.
TEST(SourceMapReader, ReadsForeignMapsAndNamesWhatIsWrong) {
  // A map without the extension: a segment's place, as other consumers give it.
  const SourceMap foreign =
      SourceMap::Parse(R"()]}')"
                       "\n"
                       R"({"version":3,"sourceRoot":"src","sources":["a.js",null],"names":["f"],)"
                       R"("mappings":"AAAA,EAAEA;;ACAA,C"})");
  EXPECT_FALSE(foreign.has_origins());
  EXPECT_EQ(foreign.line_count(), 3);
  EXPECT_EQ(Show(foreign.Resolve(1, 3)),
            Show(std::vector<MapLink>{{MapLink::Kind::kMapped, "src/a.js", 1, 3, 0, "f", ""}}));
  EXPECT_EQ(Show(foreign.Resolve(1, 9)),
            Show(std::vector<MapLink>{{MapLink::Kind::kMapped, "src/a.js", 1, 3, 0, "f", ""}}));
  EXPECT_EQ(Show(foreign.Resolve(3, 1)),
            Show(std::vector<MapLink>{{MapLink::Kind::kMapped, "", 1, 3, 0, "", ""}}));
  EXPECT_THROW(foreign.Resolve(2, 1), SourceMapError);
  try {
    foreign.Resolve(3, 2);
    ADD_FAILURE() << "an unmapped segment resolved";
  } catch (const SourceMapError& e) {
    EXPECT_EQ(std::string(e.what()), "the map says nothing of this place");
  }
  try {
    foreign.Resolve(4, 1);
    ADD_FAILURE() << "a line past the end resolved";
  } catch (const SourceMapError& e) {
    EXPECT_EQ(std::string(e.what()), "past the end of the file, which has 3 lines");
  }

  const std::string ours = [] {
    Text generated;
    const PageTrace trace = SamplePage(generated);
    return WriteSourceMap(trace, generated, "1.asp", "t.htm");
  }();
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string s = ours;
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return s.replace(at, from.size(), to);
  };
  const struct {
    std::string json;
    std::string error;
  } kCases[] = {
      {"", "not JSON: the text ends where a value should be at byte 0"},
      {"[1]", "not a source map: the JSON is an array, not an object"},
      {"{\"version\":3,}", "not JSON: expected a member name, not '}' at byte 13"},
      {"{\"version\":3} x", "not JSON: more text after the value at byte 14"},
      {"{\"a\":\"\x01\"}", "not JSON: a control character in a string at byte 6"},
      {"{\"a\":\"\xC3\x28\"}", "not JSON: bytes that are not UTF-8 at byte 6"},
      {"{\"a\":01}", "not JSON: expected ',' or '}', not '1' at byte 6"},
      {std::string(65, '[') + std::string(65, ']'),
       "not JSON: values nested more than 64 deep at byte 64"},
      {R"({"sources":[],"mappings":""})", "not a source map: \"version\" is missing"},
      {R"({"version":3,"sources":[],"mappings":"","sections":[]})",
       "an index map (one with \"sections\") is not supported"},
      {R"({"version":3,"mappings":""})", "not a source map: \"sources\" is missing"},
      {R"({"version":3,"sources":[1],"mappings":""})", "\"sources\"[0] is a number, not a string"},
      {R"({"version":3,"sources":[]})", "not a source map: \"mappings\" is missing"},
      {R"({"version":3,"sources":[],"mappings":"AAAA"})",
       "\"mappings\", generated line 1: the source index 0 is out of range"},
      {R"({"version":3,"sources":["a"],"mappings":"AAAA;AA"})",
       "\"mappings\", generated line 2: a segment has 2 fields, not 1, 4 or 5"},
      {R"({"version":3,"sources":["a"],"mappings":"AADA"})",
       "\"mappings\", generated line 1: the source line -1 is out of range"},
      {R"({"version":3,"sources":["a"],"mappings":"AAAAAA"})",
       "\"mappings\", generated line 1: a segment has more than 5 fields"},
      {with("\"version\":1", "\"version\":2"),
       "x_vavizar version 2 is not known (this reads version 1)"},
      {with("\"kinds\":\"A", "\"kinds\":\"M"),
       "x_vavizar.kinds, generated line 1: kind 6 is not known"},
      {with("[1,1,0,\"<!--inner-->\",1,0]", "[1,1,0,\"<!--inner-->\",1,1]"),
       "x_vavizar.occurrences: occurrence 1 is its own ancestor"},
      {with("[1,1,0,\"<!--inner-->\",1,0]", "[1,1,0,\"<!--inner-->\",1]"),
       "x_vavizar.occurrences[1] has 5 items, not 6"},
      {with("\"lines\":[5,", "\"lines\":[0,"),
       "x_vavizar.lines[0] is not a whole number from 1 to 2147483647"},
      {with("\"lines\":[5,9,", "\"lines\":[5,2,"), "generated line 2 has a segment past its end"},
  };
  for (const auto& c : kCases) {
    try {
      SourceMap::Parse(c.json);
      ADD_FAILURE() << "no error for " << c.json;
    } catch (const SourceMapError& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << c.json;
    }
  }
  // Every cut-off map is refused with a message, however short.
  for (size_t length = 0; length + 2 < ours.size(); ++length) {
    EXPECT_THROW(SourceMap::Parse(ours.substr(0, length)), SourceMapError) << length;
  }
}

TEST(SourceMapWriter, RefusesOriginsThatDoNotDescribeThePage) {
  Text generated;
  const PageTrace good = SamplePage(generated);
  const struct {
    void (*spoil)(PageTrace&);
    const char* error;
  } kCases[] = {
      {[](PageTrace& t) { t.origins.runs[1].start += 1; },
       "page origins: run 1 starts at 6, not at 5"},
      {[](PageTrace& t) { t.origins.runs.pop_back(); },
       "page origins: the runs cover 52 characters of a page of 53"},
      {[](PageTrace& t) { t.origins.runs[0].origin.offset = 34; },
       "page origins: run 0 reaches past the end of its text (34 + 5 > 38)"},
      {[](PageTrace& t) { t.origins.runs[8].origin.row = 3; },
       "page origins: run 8 names row 3, which was not applied"},
      {[](PageTrace& t) { t.origins.runs[1].origin.occurrence = 2; },
       "page origins: run 1 names occurrence 2, which is not there"},
      {[](PageTrace& t) {
         t.origins.occurrences[1].at = Origin{Origin::Kind::kGenerated, false, -1, 1, 0};
       },
       "page origins: occurrence 1: its tag was written by occurrence 1, which is not an earlier "
       "one"},
      {[](PageTrace& t) { std::swap(t.origins.rows[0], t.origins.rows[1]); },
       "page origins: the rows applied are not in ascending order at row 2"},
      // Two faults, one in each half when the page is written in two: the
      // first is told.
      {[](PageTrace& t) {
         t.origins.runs[1].start += 1;
         t.origins.runs.back().start = size_t{1} << 60;
       },
       "page origins: run 1 starts at 6, not at 5"},
      {[](PageTrace& t) { t.origins.runs.back().length = size_t{1} << 60; },
       "page origins: run 19 ends past the end of the page (53 characters)"},
  };
  for (const auto& c : kCases) {
    PageTrace bad = good;
    c.spoil(bad);
    // Whole, and in two halves on two threads.
    for (size_t parallel_runs : {kParallelMapRuns, size_t{2}}) {
      try {
        WriteSourceMap(bad, generated, "1.asp", "t.htm", parallel_runs);
        ADD_FAILURE() << "no error for " << c.error;
      } catch (const SourceMapError& e) {
        EXPECT_EQ(std::string(e.what()), c.error) << parallel_runs;
      }
    }
  }
}

}  // namespace
}  // namespace vz
