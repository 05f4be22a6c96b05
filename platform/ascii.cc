#include "platform/ascii.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vz {

size_t WidenAscii(const char* in, size_t n, char16_t* out) {
  size_t i = 0;
#if defined(__SSE2__)
  // 16 bytes a step while all of them are ASCII: their top bits are clear,
  // so interleaving them with zero bytes gives the units.
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(bytes) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
  }
#endif
  for (; i < n; ++i) {
    const auto byte = static_cast<unsigned char>(in[i]);
    if (byte >= 0x80) break;
    out[i] = byte;
  }
  return i;
}

size_t NarrowAscii(const char16_t* in, size_t n, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  // 16 units a step while none has a bit above the low seven.
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
    const __m128i over = _mm_and_si128(_mm_or_si128(a, b), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, zero)) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
#endif
  for (; i < n; ++i) {
    if (in[i] >= 0x80) break;
    out[i] = static_cast<char>(in[i]);
  }
  return i;
}

}  // namespace vz
