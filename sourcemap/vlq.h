// The base64 variable-length quantities of Source Map "mappings": a signed
// number as 5-bit groups, least significant first, each a base64 digit whose
// bit 5 says another group follows; the lowest bit of the number's first group
// is its sign.
//
//   std::string s;
//   AppendVlq(s, 16);                          // s == "gB"
//   size_t at = 0;
//   int64_t v = ReadVlq(s, at);                // v == 16, at == 2

#ifndef VAVIZAR_SOURCEMAP_VLQ_H_
#define VAVIZAR_SOURCEMAP_VLQ_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vz {

// The largest magnitude ReadVlq accepts, twelve groups: 2^59 - 1.
inline constexpr int64_t kMaxVlq = (int64_t{1} << 59) - 1;

// The most digits a number takes.
inline constexpr size_t kMaxVlqDigits = 12;

// Writes `value` at `out` and returns the end of what it wrote.
// REQUIRES: -kMaxVlq <= value <= kMaxVlq; room for kMaxVlqDigits at `out`.
inline char* WriteVlq(char* out, int64_t value) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  uint64_t rest =
      value < 0 ? (static_cast<uint64_t>(-value) << 1) | 1 : static_cast<uint64_t>(value) << 1;
  while (rest >= 32) {
    *out++ = kDigits[(rest & 31) | 32];
    rest >>= 5;
  }
  *out++ = kDigits[rest];
  return out;
}

// Appends `value` to `out`. REQUIRES: -kMaxVlq <= value <= kMaxVlq.
void AppendVlq(std::string& out, int64_t value);

// Reads one number from `text` at `at` and moves `at` past it. Throws
// SourceMapError (sourcemap/source_map.h) when `at` stands at no base64
// digit, when the number is cut off by the end of `text`, or when it is
// larger than kMaxVlq. A "negative zero" reads as 0.
int64_t ReadVlq(std::string_view text, size_t& at);

}  // namespace vz

#endif  // VAVIZAR_SOURCEMAP_VLQ_H_
