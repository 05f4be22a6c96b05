#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/ascii.h"
#include "platform/failure.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VZ_X86 1
// The C library's record of the processor's features, filled in before the
// program starts; asking the processor again costs a trip to the hypervisor
// on virtual machines at every start. (Its header is C for clang, which does
// not take its _Bool in C++.)
#if __has_include(<sys/platform/x86.h>) && !defined(__clang__)
#include <sys/platform/x86.h>
#define VZ_AVX2() CPU_FEATURE_ACTIVE(AVX2)
#else
#define VZ_AVX2() (__builtin_cpu_init(), __builtin_cpu_supports("avx2"))
#endif
#endif

namespace vz {
namespace {

constexpr size_t npos = TextView::npos;

bool SameUnits(const char16_t* a, const char16_t* b, size_t n) {
  return std::memcmp(a, b, n * sizeof(char16_t)) == 0;
}

// Portable search: first/last character filter, one position at a time.
size_t FindScalar(const char16_t* h, size_t n, const char16_t* nd, size_t m, size_t from) {
  const char16_t first = nd[0];
  const char16_t last = nd[m - 1];
  for (size_t i = from; i + m <= n; ++i) {
    if (h[i] == first && h[i + m - 1] == last && (m <= 2 || SameUnits(h + i + 1, nd + 1, m - 2)))
      return i;
  }
  return npos;
}

#if VZ_X86
// Vectorised first/last character filter: compares the candidate's first and
// last characters for a whole block of positions at once and checks the rest
// of the needle only where both match. On HTML, where '<' is everywhere, the
// last character rejects nearly every candidate without a scalar step.
size_t FindSse2(const char16_t* h, size_t n, const char16_t* nd, size_t m, size_t from) {
  const __m128i first = _mm_set1_epi16(static_cast<int16_t>(nd[0]));
  const __m128i last = _mm_set1_epi16(static_cast<int16_t>(nd[m - 1]));
  size_t i = from;
  for (; i + m - 1 + 8 <= n; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, last))));
    while (mask != 0) {
      unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      size_t pos = i + bit / 2;
      if (m <= 2 || SameUnits(h + pos + 1, nd + 1, m - 2)) return pos;
      mask &= ~(3u << bit);
    }
  }
  return FindScalar(h, n, nd, m, i);
}

__attribute__((target("avx2"))) size_t FindAvx2(const char16_t* h, size_t n, const char16_t* nd,
                                                size_t m, size_t from) {
  const __m256i first = _mm256_set1_epi16(static_cast<int16_t>(nd[0]));
  const __m256i last = _mm256_set1_epi16(static_cast<int16_t>(nd[m - 1]));
  size_t i = from;
  for (; i + m - 1 + 16 <= n; i += 16) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + m - 1));
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi16(a, first), _mm256_cmpeq_epi16(b, last))));
    while (mask != 0) {
      unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      size_t pos = i + bit / 2;
      if (m <= 2 || SameUnits(h + pos + 1, nd + 1, m - 2)) return pos;
      mask &= ~(3u << bit);
    }
  }
  return FindSse2(h, n, nd, m, i);
}

using FindFn = size_t (*)(const char16_t*, size_t, const char16_t*, size_t, size_t);

// Chosen on first use, so that a search made while other files' statics are
// being initialised finds it ready.
FindFn BestFind() {
  static const FindFn best = [] { return VZ_AVX2() ? FindAvx2 : FindSse2; }();
  return best;
}
#endif

size_t FindImpl(const char16_t* h, size_t n, const char16_t* nd, size_t m, size_t from) {
#if VZ_X86
  return BestFind()(h, n, nd, m, from);
#else
  return FindScalar(h, n, nd, m, from);
#endif
}

void RequireNonNegative(int32_t n) {
  if (n < 0) Raise(kInvalidArgument);
}

void RequirePosition(int32_t start) {
  if (start < 1) Raise(kInvalidArgument);
}

}  // namespace

void CheckTextLength(int64_t length) {
  if (length < 0 || length > kMaxTextLength) Raise(kOutOfStringSpace);
}

size_t Find(TextView haystack, TextView needle, size_t from) {
  const size_t n = haystack.size();
  const size_t m = needle.size();
  if (from > n) return npos;
  if (m == 0) return from;
  if (n - from < m) return npos;
  return FindImpl(haystack.data(), n, needle.data(), m, from);
}

size_t Count(TextView haystack, TextView needle) {
  if (needle.empty()) return 0;
  size_t count = 0;
  for (size_t at = Find(haystack, needle, 0); at != npos;
       at = Find(haystack, needle, at + needle.size()))
    ++count;
  return count;
}

int32_t InStr(int32_t start, TextView s, TextView find) {
  RequirePosition(start);
  if (s.empty() || static_cast<size_t>(start) > s.size()) return 0;
  size_t at = Find(s, find, static_cast<size_t>(start) - 1);
  return at == npos ? 0 : static_cast<int32_t>(at + 1);
}

Text Left(TextView s, int32_t n) {
  RequireNonNegative(n);
  return Text(s.substr(0, static_cast<size_t>(n)));
}

Text Right(TextView s, int32_t n) {
  RequireNonNegative(n);
  size_t keep = std::min(s.size(), static_cast<size_t>(n));
  return Text(s.substr(s.size() - keep));
}

Text Mid(TextView s, int32_t start) {
  RequirePosition(start);
  if (static_cast<size_t>(start) > s.size()) return Text();
  return Text(s.substr(static_cast<size_t>(start) - 1));
}

Text Mid(TextView s, int32_t start, int32_t n) {
  RequirePosition(start);
  RequireNonNegative(n);
  if (static_cast<size_t>(start) > s.size()) return Text();
  return Text(s.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(n)));
}

Text Replace(TextView s, TextView find, TextView repl) {
  if (find.empty()) return Text(s);
  size_t at = Find(s, find, 0);
  if (at == npos) return Text(s);
  // Count first so that the result's length is known (and checked) before
  // anything is allocated; then build it in one pass.
  size_t count = 0;
  for (size_t p = at; p != npos; p = Find(s, find, p + find.size())) ++count;
  int64_t length = static_cast<int64_t>(s.size()) +
                   static_cast<int64_t>(count) *
                       (static_cast<int64_t>(repl.size()) - static_cast<int64_t>(find.size()));
  CheckTextLength(length);
  Text out;
  ReserveText(out, static_cast<size_t>(length));
  size_t done = 0;
  for (size_t p = at; p != npos; p = Find(s, find, done)) {
    out.append(s.substr(done, p - done));
    out.append(repl);
    done = p + find.size();
  }
  out.append(s.substr(done));
  return out;
}

Text Concat(std::initializer_list<TextView> pieces) {
  int64_t length = 0;
  for (TextView piece : pieces) length += static_cast<int64_t>(piece.size());
  CheckTextLength(length);
  Text out;
  ReserveText(out, static_cast<size_t>(length));
  for (TextView piece : pieces) out.append(piece);
  return out;
}

void Append(Text& s, TextView tail) {
  CheckTextLength(static_cast<int64_t>(s.size()) + static_cast<int64_t>(tail.size()));
  s.append(tail);  // strong guarantee: on failure s keeps its value
}

Text FromUtf8(std::string_view in) {
  Text out;
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    // Decode one sequence; on an ill-formed one emit U+FFFD for its maximal
    // well-formed prefix and resume at the first byte that broke it.
    int need;
    uint32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < need; ++k, ++j) {
      unsigned char lower = k == 0 ? lo : 0x80;
      unsigned char upper = k == 0 ? hi : 0xBF;
      if (j >= n || p[j] < lower || p[j] > upper) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[j] & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      i = j;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i = j;
  }
  return out;
}

bool HasSurrogate(TextView text) {
  const char16_t* p = text.data();
  const size_t n = text.size();
  size_t i = 0;
#if VZ_X86
  // A unit is a surrogate half when its top five bits are 11011.
  const __m128i top = _mm_set1_epi16(static_cast<int16_t>(0xF800));
  const __m128i half = _mm_set1_epi16(static_cast<int16_t>(0xD800));
  for (; n - i >= 64; i += 64) {
    __m128i any = _mm_setzero_si128();
    for (size_t k = 0; k < 64; k += 8) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k));
      any = _mm_or_si128(any, _mm_cmpeq_epi16(_mm_and_si128(units, top), half));
    }
    if (_mm_movemask_epi8(any) != 0) return true;
  }
#endif
  for (; i < n; ++i) {
    if ((p[i] & 0xF800) == 0xD800) return true;
  }
  return false;
}

std::string ToUtf8(TextView in) {
  std::string out;
  out.reserve(in.size() + in.size() / 2);
  // The bytes go through a small buffer: runs of ASCII are narrowed there at
  // memory speed, other characters written byte by byte.
  char buffer[4096];
  size_t used = 0;
  const size_t n = in.size();
  for (size_t i = 0; i < n;) {
    if (sizeof buffer - used < 4) {
      out.append(buffer, used);
      used = 0;
    }
    const size_t run =
        NarrowAscii(in.data() + i, std::min(n - i, sizeof buffer - used), buffer + used);
    used += run;
    i += run;
    if (i == n || sizeof buffer - used < 4) continue;
    uint32_t cp = in[i++];
    if (cp >= 0xD800 && cp <= 0xDBFF && i < n && in[i] >= 0xDC00 && in[i] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    char* b = buffer + used;
    if (cp < 0x800) {
      b[0] = static_cast<char>(0xC0 | (cp >> 6));
      b[1] = static_cast<char>(0x80 | (cp & 0x3F));
      used += 2;
    } else if (cp < 0x10000) {
      b[0] = static_cast<char>(0xE0 | (cp >> 12));
      b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      b[2] = static_cast<char>(0x80 | (cp & 0x3F));
      used += 3;
    } else {
      b[0] = static_cast<char>(0xF0 | (cp >> 18));
      b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      b[3] = static_cast<char>(0x80 | (cp & 0x3F));
      used += 4;
    }
  }
  out.append(buffer, used);
  return out;
}

Text DecimalText(int64_t n) {
  std::string digits = std::to_string(n);
  return Text(digits.begin(), digits.end());
}

Text DoubleText(double value) {
  if (std::isnan(value)) return std::signbit(value) ? u"-NAN" : u"NAN";
  if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
  if (value == 0) return u"0";  // -0 too
  // to_chars with a precision writes what printf's %.15g writes in the "C"
  // locale; only the exponent's letter differs from %G.
  char buffer[32];
  auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  Text text(buffer, end);
  for (char16_t& c : text) {
    if (c == u'e') c = u'E';
  }
  return text;
}

bool EqualsIgnoringAsciiCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace vz
