#include "sourcemap/vlq.h"

#include <array>

#include "sourcemap/source_map.h"

namespace vz {
namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each byte as a base64 digit, -1 for the others.
constexpr std::array<int8_t, 256> kValues = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 64; ++i)
    values[static_cast<unsigned char>(kDigits[i])] = static_cast<int8_t>(i);
  return values;
}();

constexpr int kGroupBits = 5;
constexpr uint64_t kMore = 32;
constexpr uint64_t kGroupMask = 31;

}  // namespace

void AppendVlq(std::string& out, int64_t value) {
  char digits[kMaxVlqDigits];
  out.append(digits, WriteVlq(digits, value));
}

int64_t ReadVlq(std::string_view text, size_t& at) {
  uint64_t result = 0;
  int shift = 0;
  for (;;) {
    if (at >= text.size()) throw SourceMapError("a number is cut off at the end");
    const int8_t digit = kValues[static_cast<unsigned char>(text[at])];
    if (digit < 0) {
      const unsigned char c = static_cast<unsigned char>(text[at]);
      throw SourceMapError(c >= 0x21 && c < 0x7F
                               ? std::string("'") + text[at] + "' is not a base64 digit"
                               : "byte " + std::to_string(c) + " is not a base64 digit");
    }
    ++at;
    // Twelve groups hold 60 bits of which the first is the sign.
    if (shift >= 12 * kGroupBits) throw SourceMapError("a number is too large");
    result |= (static_cast<uint64_t>(digit) & kGroupMask) << shift;
    shift += kGroupBits;
    if ((static_cast<uint64_t>(digit) & kMore) == 0) break;
  }
  const int64_t magnitude = static_cast<int64_t>(result >> 1);
  return (result & 1) != 0 ? -magnitude : magnitude;
}

}  // namespace vz
