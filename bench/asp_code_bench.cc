// Many tag rows over one page: the assembly, which asks an index of the
// page's comments whether each row's tag occurs, beside the row-by-row loop
// that hands every row to ExpandTag.
//
//   W3/rows/chars/names/tags  `rows` tag rows; a page of `chars` characters of
//            ordinary HTML holding `tags` tags of `names` of the rows' names,
//            half of them with k=v attributes and content. The first case is
//            the base (5,000 rows, 100K characters, 200 names, 1,000 tags);
//            each of the others doubles one of its inputs.
//   W1/scale one row, `box`, over `scale` MB of HTML holding 10,000 tags per
//            MB, each with attributes, content and a closing tag.
//   ManyRows 5,000 rows, a 100K-character page with 200 tags of different
//            names, each with attributes and content.
//
// Compare the figures of one run; the machine is shared.

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <tuple>

#include "generate/asp_code.h"
#include "tests/expand_tag_reference.h"

namespace vz {
namespace {

struct Site {
  Text page;
  ado::RowTable tags;
};

// `count` rows named tag0, tag1, ..., each with a code that places the
// content once.
ado::RowTable TagRows(int count) {
  ado::RowTable tags;
  tags.columns = 4;
  tags.rows = count;
  tags.cells.resize(4 * static_cast<size_t>(count));
  for (int r = 0; r < count; ++r) {
    tags.cells[static_cast<size_t>(r)] = Text(u"tag") + DecimalText(r);
    tags.cells[3 * static_cast<size_t>(count) + static_cast<size_t>(r)] =
        Text(u"Call Tag") + DecimalText(r) + u"(a)\r\n[data]\r\nEnd";
  }
  return tags;
}

// 5,000 tag rows; a 100K-character page of ordinary HTML in which 200 of the
// names occur, some with attributes and content.
const Site& ManyRows() {
  static const Site site = [] {
    constexpr int kRows = 5000;
    constexpr int kUsed = 200;
    Site s;
    s.tags = TagRows(kRows);
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

// `tags` tags spread evenly over `chars` characters of HTML; tag j names
// one of `names` rows chosen evenly among the `rows`, every name in turn,
// and every other tag has attributes, content and a closing tag.
Site W3Site(int rows, int chars, int names, int tags) {
  static const char16_t* const kHtml[] = {u"<div class=\"c\">", u"</div>", u"<p>words</p>",
                                          u"<!-- note -->", u"<a href=\"/x\">x</a>\r\n"};
  Site s;
  s.tags = TagRows(rows);
  std::mt19937 rng(3);
  for (int j = 0; j < tags; ++j) {
    const size_t spot =
        static_cast<size_t>(chars) / static_cast<size_t>(tags + 1) * static_cast<size_t>(j + 1);
    while (s.page.size() < spot) s.page += kHtml[rng() % 5];
    // Tag j and tag j + names take different names, so each name gets
    // tags of both kinds.
    const int used = static_cast<int>((int64_t{j} * 7919 + j / names) % names);
    const Text name = Text(u"tag") + DecimalText(int64_t{used} * rows / names);
    if (j % 2 == 0) {
      s.page += u"<!--" + name + u" k=" + DecimalText(j % 10) + u"&id=" + DecimalText(j) +
                u"--><b>content " + DecimalText(j) + u"</b><!--/" + name + u"-->";
    } else {
      s.page += u"<!--" + name + u"-->";
    }
  }
  while (s.page.size() < static_cast<size_t>(chars)) s.page += kHtml[rng() % 5];
  s.page.resize(static_cast<size_t>(chars));
  return s;
}

const Site& W3(int rows, int chars, int names, int tags) {
  static std::map<std::tuple<int, int, int, int>, Site> cache;
  const auto key = std::make_tuple(rows, chars, names, tags);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, W3Site(rows, chars, names, tags)).first;
  return it->second;
}

Text RowByRow(Text text, const ado::RowTable& tags) {
  for (int32_t i = 0; i < tags.rows; ++i)
    text = ExpandTag(std::move(text), ado::CellText(tags.At(0, i)), ado::CellText(tags.At(3, i)));
  return text;
}

// The rows as written: each one through the literal pass-by-pass expansion.
Text LiteralRowLoop(Text text, const ado::RowTable& tags) {
  for (int32_t i = 0; i < tags.rows; ++i) {
    reference::Outcome out =
        reference::ExpandTag(std::move(text), ado::CellText(tags.At(0, i)),
                             ado::CellText(tags.At(3, i)), kMaxTextLength, int64_t{1} << 40);
    text = std::move(out.text);
  }
  return text;
}

void BM_AssembleManyRows(benchmark::State& state) {
  const Site& site = ManyRows();
  for (auto _ : state) benchmark::DoNotOptimize(AssembleAspCode(site.page, site.tags));
}
BENCHMARK(BM_AssembleManyRows)->Unit(benchmark::kMillisecond);

void BM_AssembleW3(benchmark::State& state) {
  const Site& site = W3(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                        static_cast<int>(state.range(2)), static_cast<int>(state.range(3)));
  if (RowByRow(site.page, site.tags) != AssembleAspCode(site.page, site.tags)) {
    state.SkipWithError("outputs differ");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(AssembleAspCode(site.page, site.tags));
  state.counters["page_chars"] = static_cast<double>(site.page.size());
}
BENCHMARK(BM_AssembleW3)
    ->ArgNames({"rows", "chars", "names", "tags"})
    ->Args({5000, 100000, 200, 1000})
    ->Args({10000, 100000, 200, 1000})
    ->Args({5000, 200000, 200, 1000})
    ->Args({5000, 100000, 400, 1000})
    ->Args({5000, 100000, 200, 2000})
    ->Args({5000, 200000, 200, 2000})
    ->Unit(benchmark::kMillisecond);

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
