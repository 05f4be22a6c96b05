// Tag expansion beside the literal pass-by-pass form it must match.
//
//   W1       a page of `scale` MB (1M characters) with 10,000 tags per MB, each
//            with attributes, content and a closing tag, ordinary HTML between
//   W2       20,000 opening tags per MB, with and without attributes
//            interleaved, no closing tags
//   FarClose many opening tags, then a long stretch of HTML, then one closing
//   Nested   many opening tags, HTML, as many closing tags (each pass pairs an
//            opening tag with a far closing one)
//   Runaway  nested tags and a code with three "[data]": the text triples
//            pass after pass until the working limit stops it
//   W1_Assemble/scale/rows  W1 as a page's assembly runs it, with the row
//            `box` and rows-1 more whose tags the page does not hold (from
//            five rows on the assembly keeps an index of the page's comments)
//
// The *_Literal benchmarks run the literal form once; compare the figures of
// one run, the machine is shared.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <utility>

#include "generate/asp_code.h"
#include "generate/expand_tag.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "tests/expand_tag_reference.h"

namespace vz {
namespace {

const Text kName = u"box";
const Text kBoxCode = u"BoxStart w, h\r\n[data]\r\nBoxEnd";

// Ordinary HTML, about `length` characters of it.
Text Html(size_t length, uint32_t seed) {
  static const char16_t* const kPieces[] = {
      u"<div class=\"row\">",     u"</div>",        u"<p>",  u"</p>",   u"Some words of text. ",
      u"<a href=\"/x\">link</a>", u"<!-- note -->", u"\r\n", u"<span>", u"</span>",
      u"<img src=\"a.png\">",     u"<!--boxes-->",
  };
  Text out;
  uint32_t x = seed * 2654435761u + 1;
  while (out.size() < length) {
    x = x * 1664525u + 1013904223u;
    out += kPieces[(x >> 16) % std::size(kPieces)];
  }
  out.resize(length);
  return out;
}

Text W1(int scale) {
  const Text tag = u"<!--box w=1&h=2--><b>x</b><!--/box-->";
  const int tags = 10000 * scale;
  const size_t filler = 1000000 / 10000 - tag.size();
  Text page;
  page.reserve(static_cast<size_t>(scale) * 1000000);
  for (int i = 0; i < tags; ++i) {
    page += Html(filler, static_cast<uint32_t>(i % 97));
    page += tag;
  }
  return page;
}

Text W2(int scale) {
  const int tags = 20000 * scale;
  Text page;
  page.reserve(static_cast<size_t>(scale) * 1000000);
  for (int i = 0; i < tags; ++i) {
    const Text tag = i % 2 == 0 ? u"<!--box-->" : u"<!--box w=1&h=2-->";
    page += Html(1000000 / 20000 - tag.size(), static_cast<uint32_t>(i % 89));
    page += tag;
  }
  return page;
}

Text FarClose() {
  Text page;
  for (int i = 0; i < 5000; ++i) page += i % 3 == 0 ? u"<!--box a=1-->" : u"<!--box-->";
  page += Html(500000, 7);
  page += u"<!--/box-->";
  return page;
}

Text Nested() {
  Text page;
  for (int i = 0; i < 2000; ++i) page += u"<!--box-->";
  page += Html(200000, 3);
  for (int i = 0; i < 2000; ++i) page += u"<!--/box-->";
  return page;
}

Text RunawayPage() {
  Text page;
  for (int i = 0; i < 12; ++i) page += u"<!--box-->";
  page += Html(1000, 5);
  for (int i = 0; i < 12; ++i) page += u"<!--/box-->";
  return page;
}

constexpr int64_t kRunawayLimit = int64_t{1} << 24;

const Text& Input(const char* which, int scale) {
  static std::map<std::pair<std::string, int>, Text> cache;
  auto key = std::make_pair(std::string(which), scale);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Text page;
  std::string w = which;
  if (w == "W1") page = W1(scale);
  if (w == "W2") page = W2(scale);
  if (w == "FarClose") page = FarClose();
  if (w == "Nested") page = Nested();
  if (w == "Runaway") page = RunawayPage();
  return cache.emplace(key, std::move(page)).first->second;
}

const Text& CodeFor(const std::string& which) {
  static const Text kTriple = u"A[data]B[data]C[data]D";
  return which == "Runaway" ? kTriple : kBoxCode;
}

void RunFast(benchmark::State& state, const char* which) {
  const int scale = static_cast<int>(state.range(0));
  const Text& page = Input(which, scale);
  const Text& code = CodeFor(which);
  ExpandLimits limits;
  if (std::string(which) == "Runaway") limits.max_length = kRunawayLimit;
  size_t out_size = 0;
  for (auto _ : state) {
    // The page is handed over, as the assembly of a page does with its
    // working text; making the copy is not part of the expansion.
    state.PauseTiming();
    Text in = page;
    state.ResumeTiming();
    try {
      Text out = ExpandTag(std::move(in), kName, code, limits);
      out_size = out.size();
      benchmark::DoNotOptimize(out.data());
    } catch (const Failure& failure) {
      out_size = 0;
      benchmark::DoNotOptimize(failure.number());
    }
  }
  state.counters["in_chars"] = static_cast<double>(page.size());
  state.counters["out_chars"] = static_cast<double>(out_size);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}

void RunLiteral(benchmark::State& state, const char* which) {
  const int scale = static_cast<int>(state.range(0));
  const Text& page = Input(which, scale);
  const Text& code = CodeFor(which);
  const int64_t limit = std::string(which) == "Runaway" ? kRunawayLimit : kMaxTextLength;
  for (auto _ : state) {
    reference::Outcome out = reference::ExpandTag(page, kName, code, limit, INT64_MAX);
    benchmark::DoNotOptimize(out.text.data());
  }
  state.counters["in_chars"] = static_cast<double>(page.size());
}

void BM_W1_Assemble(benchmark::State& state) {
  const Text& page = Input("W1", static_cast<int>(state.range(0)));
  const auto count = static_cast<int32_t>(state.range(1));
  ado::RowTable rows;
  rows.columns = 4;
  rows.rows = count;
  rows.cells.resize(4 * static_cast<size_t>(count));
  for (int32_t r = 0; r < count; ++r) {
    rows.cells[static_cast<size_t>(r)] = r == 0 ? kName : Text(u"other") + DecimalText(r);
    rows.cells[3 * static_cast<size_t>(count) + static_cast<size_t>(r)] = kBoxCode;
  }
  // With origins: what a source map of the page costs on top.
  const bool record = state.range(2) != 0;
  size_t out_size = 0;
  PageOrigins origins;
  for (auto _ : state) {
    state.PauseTiming();
    Text in = page;
    state.ResumeTiming();
    Text out = AssembleAspCode(std::move(in), rows, {}, record ? &origins : nullptr);
    out_size = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  if (record) state.counters["runs"] = static_cast<double>(origins.runs.size());
  state.counters["in_chars"] = static_cast<double>(page.size());
  state.counters["out_chars"] = static_cast<double>(out_size);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_W1_Assemble)
    ->ArgNames({"scale", "rows", "origins"})
    ->Args({1, 1, 0})
    ->Args({2, 1, 0})
    ->Args({1, 8, 0})
    ->Args({2, 8, 0})
    ->Args({1, 1, 1})
    ->Args({2, 1, 1})
    ->Unit(benchmark::kMillisecond);

#define VZ_PAIR(which, fast_args, literal_args)                                     \
  void BM_##which##_Fast(benchmark::State& state) { RunFast(state, #which); }       \
  void BM_##which##_Literal(benchmark::State& state) { RunLiteral(state, #which); } \
  BENCHMARK(BM_##which##_Fast)->Unit(benchmark::kMillisecond) fast_args;            \
  BENCHMARK(BM_##which##_Literal)->Unit(benchmark::kMillisecond)->Iterations(1) literal_args;

VZ_PAIR(W1, ->Arg(1)->Arg(2)->Arg(4), ->Arg(1))
VZ_PAIR(W2, ->Arg(1)->Arg(2)->Arg(4), ->Arg(1))
VZ_PAIR(FarClose, ->Arg(1), ->Arg(1))
VZ_PAIR(Nested, ->Arg(1), ->Arg(1))
VZ_PAIR(Runaway, ->Arg(1), ->Arg(1))

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
