// Text: the string type of the component and the string operations it relies on.
//
// A text is a sequence of UTF-16 code units; one code unit is one character.
// Positions are 1-based and, with lengths, 32-bit signed integers. Every search
// and comparison is by code unit: exact and case-sensitive. An empty text and an
// absent one are the same thing.
//
// The operations keep the semantics of the host run-time's string functions:
//   InStr(start, s, find)   position of the first `find` at or after `start`, or 0
//   Left(s, n) Right(s, n)  the first / last n characters
//   Mid(s, start[, n])      n characters from `start` (to the end without n)
//   Replace(s, find, repl)  every occurrence, scanning from position 1, no overlap
// An argument out of range raises failure 5; a result longer than
// kMaxTextLength raises failure 14 before anything is allocated.

#ifndef VAVIZAR_PLATFORM_TEXT_H_
#define VAVIZAR_PLATFORM_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vz {

using Text = std::u16string;
using TextView = std::u16string_view;

// The longest text there can be: 2^31 - 1 code units.
inline constexpr int64_t kMaxTextLength = 2147483647;

// Raises failure 14 "Out of string space" when `length` exceeds kMaxTextLength.
void CheckTextLength(int64_t length);

// The working limit of a page's texts: the longest text that generating one
// page may build, kMaxTextLength unless a host lowers it. It starts as
// $VAVIZAR_MAX_CHARS when that is a number from 1 to kMaxTextLength, so a
// host reaches component modules that carry their own copy of this layer.
// The setting is process-wide; values are clamped to 1..kMaxTextLength.
int64_t WorkingTextLimit();
void SetWorkingTextLimit(int64_t limit);

// The length of `s` as a 32-bit position. REQUIRES: s.size() <= kMaxTextLength.
inline int32_t Len(TextView s) { return static_cast<int32_t>(s.size()); }

// Position (1-based) of the first occurrence of `find` in `s` at or after
// position `start`; 0 when there is none, when `s` is empty or when `start`
// lies past the end. An empty `find` is found at `start`. `start` < 1 raises 5.
int32_t InStr(int32_t start, TextView s, TextView find);
inline int32_t InStr(TextView s, TextView find) { return InStr(1, s, find); }

// The first `n` characters (all of them when n >= Len(s)). n < 0 raises 5.
Text Left(TextView s, int32_t n);
// The last `n` characters (all of them when n >= Len(s)). n < 0 raises 5.
Text Right(TextView s, int32_t n);
// From `start` to the end; empty when `start` lies past the end. start < 1 raises 5.
Text Mid(TextView s, int32_t start);
// At most `n` characters from `start`. start < 1 or n < 0 raises 5.
Text Mid(TextView s, int32_t start, int32_t n);

// `s` with every occurrence of `find` replaced by `repl`, found left to right
// without overlap. An empty `find` leaves `s` as it is.
Text Replace(TextView s, TextView find, TextView repl);

// The pieces joined in order; raises 14 when the result would be too long.
Text Concat(std::initializer_list<TextView> pieces);

// Appends `tail` to `s` with the same length check. On failure `s` is unchanged.
void Append(Text& s, TextView tail);

// Reserves room for `capacity` characters in `s`. A large buffer is readied
// for writing (platform/memory.h): in huge pages where the system offers
// them, else supplied at once. On these machines filling fresh memory one
// small page at a time costs more than the work that fills it.
void ReserveText(Text& s, size_t capacity);

// Makes room for `extra` more characters, growing the buffer geometrically
// through ReserveText. For texts built piece by piece.
void GrowText(Text& s, size_t extra);

// Storage of a caller's that a writer fills with one run of characters,
// growing it as it goes: a long text is then written where it is kept (a
// BSTR being built, say) rather than built apart and copied there.
class CharBuffer {
 public:
  // Where the characters go, with room for at least `capacity` of them; the
  // first `keep` written before stay. A capacity no larger than the room
  // already there may leave the room as it is. May raise.
  // REQUIRES: keep <= the capacity before, keep <= capacity.
  virtual char16_t* Reserve(size_t keep, size_t capacity) = 0;

 protected:
  ~CharBuffer() = default;
};

// Fast search: the 0-based index of the first `needle` in `haystack` at or
// after index `from`, or TextView::npos. An empty needle is found at `from`
// (npos when `from` > haystack.size()). Vectorised; the workhorse behind InStr
// and Replace, and exported for the expansion and conversion code.
size_t Find(TextView haystack, TextView needle, size_t from = 0);

// Number of non-overlapping occurrences of a non-empty `needle`.
size_t Count(TextView haystack, TextView needle);

// Conversions at the edges of the system. Neither fails: an invalid UTF-8
// sequence becomes U+FFFD (one per maximal ill-formed subpart), and a lone
// surrogate becomes U+FFFD in UTF-8.
Text FromUtf8(std::string_view utf8);
std::string ToUtf8(TextView text);

// UTF-16 surrogate halves, and the characters a high and a low one make.
constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Code units of the character at `at`: 2 for a surrogate pair, else 1.
// REQUIRES: at < text.size().
inline size_t UnitsAt(TextView text, size_t at) {
  return at + 1 < text.size() && IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]) ? 2 : 1;
}

// The character at `at` as a code point; a lone half stands for itself.
// REQUIRES: at < text.size().
inline char32_t CodePointAt(TextView text, size_t at) {
  if (UnitsAt(text, at) == 2) {
    return 0x10000 + ((static_cast<char32_t>(text[at]) - 0xD800) << 10) +
           (static_cast<char32_t>(text[at + 1]) - 0xDC00);
  }
  return text[at];
}

// Whether `text` holds a surrogate half (U+D800..U+DFFF), paired or not:
// the one kind of unit ToUtf8 does not carry over one to one. Looks at 64
// units a step.
bool HasSurrogate(TextView text);

// Decimal text of a signed number, with a minus sign and no grouping.
Text DecimalText(int64_t n);

// The text of a real number as automation converts it: at most 15
// significant digits, E notation where printf's %G would use it ("1E+20",
// "1.5E-07"), never a negative zero ("0"). Infinities and NaN read as %G writes them
// ("INF", "-INF", "NAN"). The same in every locale.
Text DoubleText(double value);

// ASCII case folding: 'A'..'Z' become 'a'..'z', every other unit stays.
constexpr char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

// Equality after AsciiLower of every unit: how names of keys, fields and
// members are compared.
bool EqualsIgnoringAsciiCase(TextView a, TextView b);

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_TEXT_H_
