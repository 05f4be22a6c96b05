// Speed of source maps on a large page: about 1M characters generated from a
// template with 10,000 expansions (attribute lines, code before and after the
// content, a tenth of the tags inside codes), some 110,000 runs. Writing the
// map is what `--map` adds to generating a page; reading it and resolving a
// place is what `vavizar where` does.

#include <benchmark/benchmark.h>

#include "generate/origins.h"
#include "platform/text.h"
#include "sourcemap/source_map.h"

namespace vz {
namespace {

struct LargePage {
  PageTrace trace;
  Text generated;
};

// Appends `length` characters of `source` from `offset` as one run.
void Copy(LargePage& page, TextView source, Origin origin, size_t length) {
  page.trace.origins.runs.push_back({page.generated.size(), length, origin});
  page.generated += source.substr(origin.offset, length);
}

void Write(LargePage& page, int32_t occurrence, TextView text) {
  Origin origin;
  origin.kind = Origin::Kind::kGenerated;
  origin.occurrence = occurrence;
  page.trace.origins.runs.push_back({page.generated.size(), text.size(), origin});
  page.generated += text;
}

LargePage MakeLargePage(int expansions) {
  LargePage page;
  PageOrigins& origins = page.trace.origins;
  for (int32_t r = 0; r < 20; ++r) {
    origins.rows.push_back(
        {r, u"box" + DecimalText(r), u"Start w, h\r\nResponse.Write Now()\r\n[data]\r\nEnd w, h"});
  }
  const Text line = u"<div class=\"a\"><p>text text text</p>\r\n";  // 39 units
  Text& templ = page.trace.template_text;
  std::vector<size_t> tags;
  for (int i = 0; i < expansions; ++i) {
    templ += line;
    tags.push_back(templ.size());
    templ += u"<!--box w=1-->xxxxxxxxx<!--/box-->";
  }
  page.trace.template_path = u"templates/index.htm";
  for (int i = 0; i < expansions; ++i) {
    const int32_t k = static_cast<int32_t>(origins.occurrences.size());
    const int32_t row = k % 20;
    const TextView code = origins.rows[static_cast<size_t>(row)].code;
    Occurrence occurrence;
    occurrence.row = row;
    occurrence.tag = u"<!--box w=1-->";
    if (i % 10 == 9) {
      occurrence.at = {Origin::Kind::kCode, false, (k - 1) % 20, k - 1, 12};
    } else {
      occurrence.at.offset = tags[static_cast<size_t>(i)];
    }
    origins.occurrences.push_back(occurrence);
    const size_t tag = tags[static_cast<size_t>(i)];
    Origin text{Origin::Kind::kTemplate, false, -1, -1, tag - line.size()};
    Copy(page, templ, text, line.size());
    Write(page, k, u"<%");
    text.offset = tag + 8;
    Copy(page, templ, text, 2);
    Write(page, k, u"\"");
    text.offset = tag + 10;
    Copy(page, templ, text, 1);
    Write(page, k, u"\"\r\n");
    Copy(page, code, {Origin::Kind::kCode, false, row, k, 0}, 34);
    Write(page, k, u"%>");
    text.offset = tag + 14;
    Copy(page, templ, text, 9);
    Write(page, k, u"<%");
    Copy(page, code, {Origin::Kind::kCode, false, row, k, 40}, 10);
    Write(page, k, u"%>");
  }
  return page;
}

const LargePage& Page() {
  static const LargePage page = MakeLargePage(10000);
  return page;
}

void BM_WriteSourceMap(benchmark::State& state) {
  const LargePage& page = Page();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string map =
        WriteSourceMap(page.trace, page.generated, "out/1.asp", "templates/index.htm");
    bytes = map.size();
    benchmark::DoNotOptimize(map);
  }
  state.counters["page_chars"] = static_cast<double>(page.generated.size());
  state.counters["runs"] = static_cast<double>(page.trace.origins.runs.size());
  state.counters["map_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WriteSourceMap)->Unit(benchmark::kMillisecond);

void BM_ReadSourceMapAndResolve(benchmark::State& state) {
  const LargePage& page = Page();
  const std::string map =
      WriteSourceMap(page.trace, page.generated, "out/1.asp", "templates/index.htm");
  for (auto _ : state) {
    const SourceMap read = SourceMap::Parse(map);
    benchmark::DoNotOptimize(read.Resolve(read.line_count() / 2, 3));
  }
}
BENCHMARK(BM_ReadSourceMapAndResolve)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
