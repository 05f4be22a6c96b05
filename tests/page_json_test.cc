// The data of vavizar serve's page view: every text goes out whole as a JSON
// string whose UTF-16 offsets are the source's (the browser indexes it with
// the origins and findings), and the origins go out run for run.

#include "cli/serve/page_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace vz {
namespace {

using nlohmann::json;

// A random text of characters that JSON, HTML or UTF-16 treat specially.
Text RandomText(std::mt19937& random, size_t length) {
  static const std::vector<Text> kPieces = {u"a",
                                            u"<",
                                            u">",
                                            u"\"",
                                            u"\\",
                                            u"'",
                                            u"&",
                                            u"/",
                                            u"\r",
                                            u"\n",
                                            u"\r\n",
                                            u"\t",
                                            Text(1, u'\0'),
                                            u"\x7f",
                                            u"\u4e2d",
                                            u"\U0001F600",
                                            Text(1, char16_t(0xD800)),
                                            Text(1, char16_t(0xDC00)),
                                            u"<!--box-->",
                                            u"</script>",
                                            u"\u2028"};
  Text text;
  while (text.size() < length) text += kPieces[random() % kPieces.size()];
  return text;
}

// `text` as JSON gives it back: each lone surrogate is U+FFFD.
Text Expected(const Text& text) {
  Text out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    const bool high = out[i] >= 0xD800 && out[i] <= 0xDBFF;
    const bool low = out[i] >= 0xDC00 && out[i] <= 0xDFFF;
    if (high && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      out[i] = u'\uFFFD';
    }
  }
  return out;
}

Text Back(const json& value) { return FromUtf8(value.get<std::string>()); }

TEST(PageJson, TextsKeepTheirOffsetsAndRunsGoOutWhole) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    cli::PageView view;
    view.set = "1";
    view.state.id = "3";
    view.template_text = RandomText(random, random() % 300);
    view.asp.text = RandomText(random, random() % 300);
    PageOrigins origins;
    origins.rows.push_back({0, u"box", RandomText(random, 40)});
    origins.occurrences.push_back(
        {0, Origin{Origin::Kind::kTemplate, false, -1, -1, 5}, u"<!--box-->"});
    size_t at = 0;
    while (at < view.asp.text.size()) {
      const size_t length = std::min<size_t>(1 + random() % 20, view.asp.text.size() - at);
      Origin origin;
      origin.kind = static_cast<Origin::Kind>(random() % 3);
      origin.converted = random() % 5 == 0;
      origin.row = origin.kind == Origin::Kind::kCode ? 0 : -1;
      origin.occurrence = origin.kind == Origin::Kind::kTemplate ? -1 : 0;
      origin.offset = random() % 1000;
      origins.runs.push_back({at, length, origin});
      at += length;
    }
    view.asp.origins = &origins;
    view.expansions = &origins;
    view.findings.push_back(cli::MakeFinding("misspelled-tag", 0, "`<!--x-->`: \"did\" you"));

    const json page = json::parse(cli::PageViewJson(view));
    EXPECT_EQ(Back(page["template"]), Expected(view.template_text)) << round;
    EXPECT_EQ(Back(page["codes"]["asp"]["text"]), Expected(view.asp.text)) << round;
    EXPECT_EQ(Back(page["rows"][0]["code"]), Expected(origins.rows[0].code)) << round;
    EXPECT_EQ(Back(page["findings"][0]["message"]), u"`<!--x-->`: \"did\" you");
    EXPECT_TRUE(page["codes"]["exec"]["runs"].is_null());
    // Six numbers a run, each run starting where the one before ends.
    const json& runs = page["codes"]["asp"]["runs"];
    ASSERT_EQ(runs.size(), 6 * origins.runs.size()) << round;
    size_t start = 0;
    for (size_t i = 0; i < origins.runs.size(); ++i) {
      const OriginRun& run = origins.runs[i];
      EXPECT_EQ(run.start, start);
      start += run.length;
      const json item(runs.begin() + 6 * i, runs.begin() + 6 * i + 6);
      EXPECT_EQ(item, json::array({run.length, static_cast<int>(run.origin.kind), run.origin.row,
                                   run.origin.occurrence, run.origin.offset,
                                   run.origin.converted ? 1 : 0}))
          << round << " run " << i;
    }
  }
}

// A finding is marked from its place to the end of the tag or comment there.
TEST(PageJson, FindingsAreMarkedToTheEndOfTheirTag) {
  cli::PageView view;
  view.template_text = u"ab\r\n<!--foter-->x<!--box w=1-->y\n";
  view.marks = cli::FindTagMarks(view.template_text, {{u"box", u"B"}});
  for (size_t offset : {size_t{4}, size_t{17}, size_t{30}, cli::kNoOffset})
    view.findings.push_back(cli::MakeFinding("misspelled-tag", offset, "m"));
  const json findings = json::parse(cli::PageViewJson(view))["findings"];
  const std::string shape[] = {"4-16 2:1", "17-31 2:14", "30-31 2:27", "null-null null:null"};
  for (size_t i = 0; i < 4; ++i) {
    const json& f = findings[i];
    EXPECT_EQ(f["offset"].dump() + "-" + f["end"].dump() + " " + f["line"].dump() + ":" +
                  f["column"].dump(),
              shape[i]);
  }
}

}  // namespace
}  // namespace vz
