// Speed of the text operations everything else is built on: the search on
// HTML-like text (where '<' is everywhere) against the standard library's,
// and Replace over a large text.

#include <benchmark/benchmark.h>

#include <random>

#include "platform/text.h"

namespace vz {
namespace {

// About `n` characters of markup: tags, attributes and text, no custom tag.
Text Html(size_t n) {
  static const char16_t* const kPieces[] = {
      u"<div class=\"a\">", u"</div>",        u"<p>",       u"</p>",
      u"text text ",        u"<!-- note -->", u"<br/>\r\n", u"<a href=\"/x\">link</a>"};
  std::mt19937 rng(7);
  Text out;
  while (out.size() < n) out += kPieces[rng() % 8];
  out.resize(n);
  return out;
}

void BM_FindHtml(benchmark::State& state) {
  Text page = Html(static_cast<size_t>(state.range(0)));
  const Text needle = u"<!--box ";
  for (auto _ : state) benchmark::DoNotOptimize(Find(page, needle));
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FindHtml)->Arg(1 << 20);

void BM_StdFindHtml(benchmark::State& state) {
  Text page = Html(static_cast<size_t>(state.range(0)));
  const Text needle = u"<!--box ";
  for (auto _ : state) benchmark::DoNotOptimize(page.find(needle));
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StdFindHtml)->Arg(1 << 20);

void BM_InStrShortNeedle(benchmark::State& state) {
  Text page = Html(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(InStr(1, page, u"%>"));
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InStrShortNeedle)->Arg(1 << 20);

// Replace of a frequent pattern over a 10M-character text (CR LF to a
// statement separator, as execute code does).
void BM_ReplaceLineEnds(benchmark::State& state) {
  Text page = Html(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Replace(page, u"\r\n", u"\" & vbCrLf & \""));
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReplaceLineEnds)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

void BM_Utf8RoundTrip(benchmark::State& state) {
  Text page = Html(static_cast<size_t>(state.range(0)));
  page += u"\u6a21\u677f\u4e0d\u5b58\u5728\u3002";
  for (auto _ : state) benchmark::DoNotOptimize(FromUtf8(ToUtf8(page)));
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Utf8RoundTrip)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vz

BENCHMARK_MAIN();
