// libFuzzer target: decoding any bytes in each code page the file layer is
// used with. Decoding never fails for content, gives at most one character
// unit per byte, gives the same text whether the bytes come at once or cut
// into pieces anywhere, and gives exactly what iconv alone gives: the fast
// paths (UTF-8 by hand, ASCII runs past iconv) are refereed here. The text
// then encodes back the same way by both routes.
//
// Input layout: the first byte picks the code page; the second seeds where
// the pieces are cut; the rest are the file's bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/fso/decoder.h"
#include "platform/fso/encoder.h"

namespace {

[[noreturn]] void Fail(const std::string& code_page, const char* what) {
  std::fprintf(stderr, "%s: %s\n", code_page.c_str(), what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kCodePages[] = {"GBK",   "CP950",   "CP1252", "UTF-8",
                                           "CP932", "GB18030", "EUC-KR", "SJIS"};
  constexpr size_t kCount = sizeof kCodePages / sizeof kCodePages[0];
  if (size < 2 || size > 8192) return 0;
  const std::string code_page = kCodePages[data[0] % kCount];
  uint32_t cut_seed = data[1];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  using vz::fso::Conversion;

  const vz::Text whole = vz::fso::Decode(code_page, bytes);
  if (whole.size() > bytes.size()) Fail(code_page, "more characters than bytes");
  if (whole != vz::fso::Decode(code_page, bytes, Conversion::kIconvOnly))
    Fail(code_page, "the fast path decodes differently from iconv");
  vz::fso::TextDecoder decoder(code_page);
  vz::Text pieces;
  size_t at = 0;
  while (at < bytes.size()) {
    cut_seed = cut_seed * 1103515245u + 12345u;
    const size_t length = 1 + (cut_seed >> 16) % 7;
    decoder.Feed(bytes.substr(at, length), pieces);
    at += length;
  }
  decoder.Finish(pieces);
  if (pieces != whole) Fail(code_page, "pieces decode differently");
  if (vz::fso::Encode(code_page, whole) !=
      vz::fso::Encode(code_page, whole, Conversion::kIconvOnly))
    Fail(code_page, "the fast path encodes differently from iconv");
  return 0;
}
