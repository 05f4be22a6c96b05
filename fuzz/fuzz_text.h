// The text a fuzz target makes of its input bytes: bytes below 0x80 stand
// for themselves, the others for CJK characters, so that any byte string is
// a text with both ASCII markup and characters outside ASCII.

#ifndef VAVIZAR_FUZZ_FUZZ_TEXT_H_
#define VAVIZAR_FUZZ_FUZZ_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/text.h"

namespace vz::fuzz {

inline Text TextOfBytes(const uint8_t* data, size_t size) {
  Text out;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    out.push_back(b < 0x80 ? static_cast<char16_t>(b) : static_cast<char16_t>(0x4E00 + b - 0x80));
  }
  return out;
}

// The input cut at its NUL bytes, each piece a text; a piece that is the
// single byte 0x01 stands for NULL (no text). There is always one piece.
inline std::vector<std::optional<Text>> PiecesOfBytes(const uint8_t* data, size_t size) {
  std::vector<std::optional<Text>> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      if (i - start == 1 && data[start] == 1) {
        pieces.emplace_back();
      } else {
        pieces.emplace_back(TextOfBytes(data + start, i - start));
      }
      start = i + 1;
    }
  }
  return pieces;
}

}  // namespace vz::fuzz

#endif  // VAVIZAR_FUZZ_FUZZ_TEXT_H_
