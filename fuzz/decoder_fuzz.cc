// libFuzzer target: decoding any bytes in each code page the file layer is
// used with. Decoding never fails for content, gives at most one character
// unit per byte, and gives the same text whether the bytes come at once or
// cut into pieces anywhere.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kCodePages[] = {"GBK", "CP950", "CP1252", "UTF-8"};
  if (size < 2 || size > 8192) return 0;
  const std::string code_page = kCodePages[data[0] % 4];
  uint32_t cut_seed = data[1];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);

  const vz::Text whole = vz::fso::Decode(code_page, bytes);
  if (whole.size() > bytes.size()) {
    std::fprintf(stderr, "%s: %zu characters from %zu bytes\n", code_page.c_str(), whole.size(),
                 bytes.size());
    std::abort();
  }
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
  if (pieces != whole) {
    std::fprintf(stderr, "%s: pieces decode differently\n", code_page.c_str());
    std::abort();
  }
  return 0;
}
