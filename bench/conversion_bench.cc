// Speed of the conversions at the edges: template bytes to UTF-16 and
// UTF-16 back to bytes, each by the fast paths (Arg 0) and by iconv alone
// (Arg 1), on HTML that is mostly ASCII with a line of Chinese text now and
// then; and the whole read of a template file.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/fso/code_page.h"
#include "platform/fso/decoder.h"
#include "platform/fso/encoder.h"
#include "platform/fso/file_system.h"
#include "platform/text.h"

namespace vz::fso {
namespace {

// About `n` characters of HTML with script blocks; every `chinese`th line
// is Chinese.
Text Page(size_t n, int chinese = 50) {
  Text out;
  for (int line = 0; out.size() < n; ++line) {
    out += u"<tr><td class=\"cell\"><% Response.Write rs(\"field\") %></td></tr>\r\n";
    if (line % chinese == 0)
      out += u"<p>模板不存在。页面代码生成器，模板不存在。页面代码生成器</p>\r\n";
  }
  out.resize(n);
  return out;
}

Conversion Route(const benchmark::State& state) {
  return state.range(0) == 0 ? Conversion::kFast : Conversion::kIconvOnly;
}

// The conversion alone: the decoder and the text it fills are reused, so
// that no iteration pays for fresh memory.
void Decoding(benchmark::State& state, const char* code_page, int chinese = 50) {
  const std::string bytes = Encode(code_page, Page(1 << 20, chinese));
  TextDecoder decoder(code_page, Route(state));
  Text out;
  for (auto _ : state) {
    out.clear();
    decoder.Feed(bytes, out);
    decoder.Finish(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// Encode as the command calls it, a fresh result each time.
void Encoding(benchmark::State& state, const char* code_page) {
  const Text text = Page(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(Encode(code_page, text, Route(state)));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}

void BM_DecodeUtf8(benchmark::State& state) { Decoding(state, "UTF-8"); }
void BM_DecodeGbk(benchmark::State& state) { Decoding(state, "GBK"); }
void BM_DecodeCp1252(benchmark::State& state) { Decoding(state, "CP1252"); }
// Every line Chinese: most bytes still go through iconv.
void BM_DecodeGbkChinese(benchmark::State& state) { Decoding(state, "GBK", 1); }
void BM_EncodeUtf8(benchmark::State& state) { Encoding(state, "UTF-8"); }
void BM_EncodeGbk(benchmark::State& state) { Encoding(state, "GBK"); }
BENCHMARK(BM_DecodeUtf8)->Arg(0)->Arg(1);
BENCHMARK(BM_DecodeGbk)->Arg(0)->Arg(1);
BENCHMARK(BM_DecodeCp1252)->Arg(0)->Arg(1);
BENCHMARK(BM_DecodeGbkChinese)->Arg(0)->Arg(1);
BENCHMARK(BM_EncodeUtf8)->Arg(0)->Arg(1);
BENCHMARK(BM_EncodeGbk)->Arg(0)->Arg(1);

// ReadAll of a UTF-8 template of Arg characters, as the component reads it.
void BM_ReadAll(benchmark::State& state) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "vz_conversion_bench.html").string();
  const std::string bytes = Encode("UTF-8", Page(static_cast<size_t>(state.range(0))));
  std::ofstream(path, std::ios::binary) << bytes;
  SetCodePage("65001");
  com::Ref<FileSystemObject> files = CreateFileSystemObject();
  const Text windows_path = Replace(FromUtf8(path), u"/", u"\\");
  for (auto _ : state) {
    com::Ref<TextStream> stream =
        files->OpenTextFile(windows_path, ForReading, false, TristateFalse);
    benchmark::DoNotOptimize(stream->ReadAll());
    stream->Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadAll)->Arg(9)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vz::fso

BENCHMARK_MAIN();
