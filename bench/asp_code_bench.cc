// Many tag rows over one page: the assembly, which asks an index of the
// page's comments whether each row's tag occurs, beside the row-by-row loop
// that hands every row to ExpandTag.

#include <benchmark/benchmark.h>

#include <random>

#include "generate/asp_code.h"
#include "tests/expand_tag_reference.h"

namespace vz {
namespace {

struct Site {
  Text page;
  ado::RowTable tags;
};

// 5,000 tag rows; a 100K-character page of ordinary HTML in which 200 of the
// names occur, some with attributes and content.
const Site& ManyRows() {
  static const Site site = [] {
    constexpr int kRows = 5000;
    constexpr int kUsed = 200;
    Site s;
    s.tags.columns = 4;
    s.tags.rows = kRows;
    s.tags.cells.resize(4 * kRows);
    for (int r = 0; r < kRows; ++r) {
      s.tags.cells[r] = Text(u"tag") + DecimalText(r);
      s.tags.cells[3 * kRows + r] = Text(u"Call Tag") + DecimalText(r) + u"(a)\r\n[data]\r\nEnd";
    }
    std::mt19937 rng(5);
    static const char16_t* const kHtml[] = {u"<div class=\"c\">", u"</div>", u"<p>words</p>",
                                            u"<!-- note -->", u"<a href=\"/x\">x</a>\r\n"};
    int used = 0;
    while (s.page.size() < 100000) {
      s.page += kHtml[rng() % 5];
      if (used < kUsed && rng() % 3 == 0) {
        Text name = Text(u"tag") + DecimalText(static_cast<int64_t>(used) * 25);
        s.page += u"<!--" + name + u" a=1-->in<!--/" + name + u"-->";
        ++used;
      }
    }
    return s;
  }();
  return site;
}

Text RowByRow(Text text, const ado::RowTable& tags) {
  for (int32_t i = 0; i < tags.rows; ++i)
    text = ExpandTag(std::move(text), ado::CellText(tags.At(0, i)), ado::CellText(tags.At(3, i)));
  return text;
}

// The rows as written: each one through the literal pass-by-pass expansion.
Text LiteralRowLoop(Text text, const ado::RowTable& tags) {
  for (int32_t i = 0; i < tags.rows; ++i) {
    reference::Outcome out = reference::ExpandTag(std::move(text), ado::CellText(tags.At(0, i)),
                                                  ado::CellText(tags.At(3, i)), kMaxTextLength,
                                                  int64_t{1} << 40);
    text = std::move(out.text);
  }
  return text;
}

void BM_AssembleManyRows(benchmark::State& state) {
  const Site& site = ManyRows();
  for (auto _ : state) benchmark::DoNotOptimize(AssembleAspCode(site.page, site.tags));
}
BENCHMARK(BM_AssembleManyRows)->Unit(benchmark::kMillisecond);

void BM_RowByRowManyRows(benchmark::State& state) {
  const Site& site = ManyRows();
  if (RowByRow(site.page, site.tags) != AssembleAspCode(site.page, site.tags)) {
    state.SkipWithError("outputs differ");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(RowByRow(site.page, site.tags));
}
BENCHMARK(BM_RowByRowManyRows)->Unit(benchmark::kMillisecond);

void BM_LiteralRowLoopManyRows(benchmark::State& state) {
  const Site& site = ManyRows();
  if (LiteralRowLoop(site.page, site.tags) != AssembleAspCode(site.page, site.tags)) {
    state.SkipWithError("outputs differ");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(LiteralRowLoop(site.page, site.tags));
}
BENCHMARK(BM_LiteralRowLoopManyRows)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
