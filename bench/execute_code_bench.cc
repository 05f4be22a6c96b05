// Conversion of a large server page into execute code: one pass over the
// text, whatever the mix of HTML, quotes, line breaks and script blocks.

#include <benchmark/benchmark.h>

#include <random>

#include "execute/execute_code.h"

namespace vz {
namespace {

// About `n` characters of server-page text: HTML lines with quotes and
// attributes, and a script block every few lines.
Text ServerPage(size_t n) {
  static const char16_t* const kPieces[] = {
      u"<div class=\"box\">",       u"</div>\r\n",
      u"<p>text text text</p>\r\n", u"<%\r\nBoxStart w, h\r\n%>",
      u"<a href=\"/x\">link</a>",   u"<%=title%>",
      u"plain words here ",         u"<td>\"quoted\"</td>\r\n"};
  std::mt19937 rng(11);
  Text out;
  while (out.size() < n) out += kPieces[rng() % 8];
  out.resize(n);
  return out;
}

void BM_ExecuteCode(benchmark::State& state) {
  Text page = ServerPage(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ExecuteCodeOf(page));
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExecuteCode)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// HTML only: the whole page is one segment.
void BM_ExecuteCodeHtmlOnly(benchmark::State& state) {
  Text page(static_cast<size_t>(state.range(0)), u'x');
  for (size_t i = 40; i < page.size(); i += 41) page[i - 1] = u'\r', page[i] = u'\n';
  for (auto _ : state) benchmark::DoNotOptimize(ExecuteCodeOf(page));
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExecuteCodeHtmlOnly)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
