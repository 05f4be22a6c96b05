// Conversion of a large server page into execute code: one pass over the
// text, whatever the mix of HTML, quotes, line breaks and script blocks.
//
//   ExecuteCode/n         n characters of HTML with a script block every few
//                         lines (about 150,000 blocks in 10M characters)
//   ExecuteCodeHtmlOnly/n n characters of text and line breaks, one segment
//   ExecuteCodeHtmlPage/n n characters of HTML with quotes and line breaks,
//                         no script block
//   ExecuteCodeTo/n       the first page handed on in pieces as they are made
//                         (to nothing): the conversion without its storage
//   ExecuteCodeRuns/n     the runs that say where each character of the
//                         execute code of the first page came from
//   ComposeOrigins/n      those runs composed with origins of the page that
//                         change every 64 characters
// Each comes at 10M and 20M characters, so that growth with size can be read
// off one run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "execute/execute_code.h"
#include "execute/execute_origins.h"

namespace vz {
namespace {

// About `n` characters of server-page text: HTML lines with quotes and
// attributes, and a script block every few lines.
Text ServerPage(size_t n, bool with_blocks = true) {
  static const char16_t* const kPieces[] = {
      u"<div class=\"box\">",       u"</div>\r\n",
      u"<p>text text text</p>\r\n", u"<%\r\nBoxStart w, h\r\n%>",
      u"<a href=\"/x\">link</a>",   u"<%=title%>",
      u"plain words here ",         u"<td>\"quoted\"</td>\r\n"};
  std::mt19937 rng(11);
  Text out;
  while (out.size() < n) {
    const uint32_t k = rng() % 8;
    if (with_blocks || (k != 3 && k != 5)) out += kPieces[k];
  }
  out.resize(n);
  return out;
}

void Run(benchmark::State& state, const Text& page) {
  size_t blocks = 0;
  for (size_t at = Find(page, u"<%"); at != TextView::npos; at = Find(page, u"<%", at + 2))
    ++blocks;
  for (auto _ : state) benchmark::DoNotOptimize(ExecuteCodeOf(page));
  state.counters["blocks"] = static_cast<double>(blocks);
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * page.size()), benchmark::Counter::kIsRate);
}

void BM_ExecuteCode(benchmark::State& state) {
  Run(state, ServerPage(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_ExecuteCode)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Arg(20 << 20)
    ->Unit(benchmark::kMillisecond);

// The conversion alone: the pieces go nowhere, so no memory is written but
// a small buffer in the cache.
void BM_ExecuteCodeTo(benchmark::State& state) {
  const Text page = ServerPage(static_cast<size_t>(state.range(0)));
  const std::function<void(TextView)> ignore = [](TextView piece) {
    benchmark::DoNotOptimize(piece.data());
  };
  for (auto _ : state) benchmark::DoNotOptimize(ExecuteCodeTo(page, ignore));
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * page.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExecuteCodeTo)->Arg(10 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

// HTML only: the whole page is one segment.
void BM_ExecuteCodeHtmlOnly(benchmark::State& state) {
  Text page(static_cast<size_t>(state.range(0)), u'x');
  for (size_t i = 40; i < page.size(); i += 41) page[i - 1] = u'\r', page[i] = u'\n';
  Run(state, page);
}
BENCHMARK(BM_ExecuteCodeHtmlOnly)->Arg(10 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

void BM_ExecuteCodeHtmlPage(benchmark::State& state) {
  Run(state, ServerPage(static_cast<size_t>(state.range(0)), false));
}
BENCHMARK(BM_ExecuteCodeHtmlPage)->Arg(10 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

// The runs cost a step per character of HTML and one entry per piece.
void BM_ExecuteCodeRuns(benchmark::State& state) {
  const Text page = ServerPage(static_cast<size_t>(state.range(0)));
  size_t runs = 0;
  for (auto _ : state) {
    const std::vector<ExecRun> result = ExecuteCodeRuns(page);
    runs = result.size();
    benchmark::DoNotOptimize(result.data());
  }
  state.counters["runs"] = static_cast<double>(runs);
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * page.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExecuteCodeRuns)->Arg(10 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

void BM_ComposeOrigins(benchmark::State& state) {
  const Text page = ServerPage(static_cast<size_t>(state.range(0)));
  const std::vector<ExecRun> exec_runs = ExecuteCodeRuns(page);
  std::vector<OriginRun> page_runs;
  for (size_t at = 0; at < page.size(); at += 64) {
    OriginRun run{at, std::min<size_t>(64, page.size() - at), {}};
    run.origin.offset = 3 * at;
    page_runs.push_back(run);
  }
  for (auto _ : state) benchmark::DoNotOptimize(ComposeOrigins(page_runs, exec_runs).data());
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * page.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ComposeOrigins)->Arg(10 << 20)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
