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

// Appends `value` to `out`. REQUIRES: -kMaxVlq <= value <= kMaxVlq.
void AppendVlq(std::string& out, int64_t value);

// Reads one number from `text` at `at` and moves `at` past it. Throws
// SourceMapError (sourcemap/source_map.h) when `at` stands at no base64
// digit, when the number is cut off by the end of `text`, or when it is
// larger than kMaxVlq. A "negative zero" reads as 0.
int64_t ReadVlq(std::string_view text, size_t& at);

}  // namespace vz

#endif  // VAVIZAR_SOURCEMAP_VLQ_H_
