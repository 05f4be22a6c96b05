#include "execute/execute_code.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define VZ_SSE2 1
#else
#define VZ_SSE2 0
#endif

#include "platform/failure.h"

// How the conversion keeps up with memory.
//
// The text is read once, left to right. Sixteen characters at a time are
// compared with the few that need work: in HTML the quote, CR and LF, and the
// pair "<%" that ends the segment; in code the pair "%>". The sixteen are
// copied out whatever they hold, so a stretch without any costs a few loads,
// compares and stores; those that need work are replaced from a table, with
// the characters between them copied again. The output goes through a small
// buffer that the text takes in large pieces, and the text is reserved once.

namespace vz {
namespace {

constexpr TextView kOpen = u"<%";
constexpr TextView kClose = u"%>";
constexpr TextView kCrLf = u"\r\n";
constexpr TextView kWrite = u"Response.Write \"";
constexpr TextView kLineEnd = u"\" & vbCrLf\r\nResponse.Write \"";
constexpr TextView kLoneCr = u"\" & vbCr & \"";
constexpr TextView kLoneLf = u"\" & vbLf & \"";
constexpr TextView kQuotes = u"\"\"";

// Execute code goes into the text through a small buffer, written with a
// bare pointer that is checked for room once a step.
class Output {
 public:
  // The room a step may use: 16 characters of HTML of which every one may
  // become up to 28, and a piece of 32 written at the end.
  static constexpr size_t kStep = 16 * 28 + 32 + 16;

  explicit Output(Text& text) : text_(text) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Where the next characters go.
  char16_t* Cursor() const { return at_; }
  // Takes the characters written up to `cursor`.
  void Commit(char16_t* cursor) { at_ = cursor; }
  // Takes the characters written up to `cursor`; returns where the next go,
  // with room for kStep of them.
  char16_t* Ensure(char16_t* cursor) {
    if (buffer_ + kSize - cursor < static_cast<ptrdiff_t>(kStep)) {
      at_ = cursor;
      Flush();
    } else {
      at_ = cursor;
    }
    return at_;
  }

  // Appends characters of any number.
  void Put(TextView chars) {
    Flush();
    Append(text_, chars);
  }

  // Moves the buffer into the text; raises 14 when the text would pass the
  // bound.
  void Flush() {
    const auto n = static_cast<size_t>(at_ - buffer_);
    CheckTextLength(static_cast<int64_t>(text_.size()) + static_cast<int64_t>(n));
    GrowText(text_, n);
    text_.append(buffer_, n);
    at_ = buffer_;
  }

 private:
  static constexpr size_t kSize = 8192;
  Text& text_;
  char16_t buffer_[kSize];
  char16_t* at_ = buffer_;
};

// A piece of execute code padded to 32 characters, so that one copy of a
// fixed size writes any of them.
struct Padded {
  char16_t chars[32];
  size_t size;
};

constexpr Padded Pad(TextView piece) {
  Padded padded{};
  for (size_t i = 0; i < piece.size(); ++i) padded.chars[i] = piece[i];
  padded.size = piece.size();
  return padded;
}

constexpr Padded kPaddedWrite = Pad(kWrite);
constexpr Padded kPaddedCrLf = Pad(kCrLf);
constexpr Padded kPaddedQuote = Pad(u"\"");
// What a character of HTML that needs more than itself becomes: a doubled
// quote, a lone LF written as a constant, a line break that ends one
// statement and opens the next, a lone CR written as a constant.
constexpr Padded kSpecials[] = {Pad(kQuotes), Pad(kLoneLf), Pad(kLineEnd), Pad(kLoneCr)};
static_assert(kLineEnd.size() <= 28);

// Writes `piece` at `out` and returns its end. REQUIRES: room for 32
// characters at `out`.
char16_t* Put(char16_t* out, const Padded& piece) {
  std::memcpy(out, piece.chars, sizeof piece.chars);
  return out + piece.size;
}

void Put(Output& output, const Padded& piece) {
  output.Commit(Put(output.Ensure(output.Cursor()), piece));
}

bool Special(char16_t c) { return c == u'"' || c == u'\r' || c == u'\n'; }

// Whether `pair` stands at `at`.
bool PairAt(TextView text, size_t at, TextView pair) {
  return at + 1 < text.size() && text[at] == pair[0] && text[at + 1] == pair[1];
}

#if VZ_SSE2
__m128i Load8(const char16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
__m128i Is(__m128i chars, char16_t c) { return _mm_cmpeq_epi16(chars, _mm_set1_epi16(c)); }

// Copies 16 characters.
void Copy16(char16_t* out, const char16_t* p) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Load8(p));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), Load8(p + 8));
}

// One bit for each of the 16 characters at `p` that begins the pair (a, b).
// REQUIRES: 17 characters can be read at `p`.
uint32_t PairMarks(const char16_t* p, char16_t a, char16_t b) {
  auto half = [&](const char16_t* q) {
    return _mm_and_si128(Is(Load8(q), a), Is(Load8(q + 1), b));
  };
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(half(p), half(p + 8))));
}

// One bit for each of the 16 characters at `p` that needs work in HTML: a
// quote, CR, LF, and (when `to_open`) the "<" of "<%".
// REQUIRES: 17 characters can be read at `p`.
template <bool kToOpen>
uint32_t HtmlMarks(const char16_t* p) {
  auto half = [&](const char16_t* q) {
    const __m128i chars = Load8(q);
    __m128i marks = _mm_or_si128(Is(chars, u'"'), _mm_or_si128(Is(chars, u'\r'), Is(chars, u'\n')));
    if (kToOpen)
      marks = _mm_or_si128(marks, _mm_and_si128(Is(chars, u'<'), Is(Load8(q + 1), u'%')));
    return marks;
  };
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(half(p), half(p + 8))));
}
#endif

// What needs work in HTML, by the low six bits of the character (which tell
// the four apart): 0 a quote, 1 LF, 2 CR, 4 the "<" of "<%". It indexes
// kSpecials, but for a lone CR (3) and the end of the segment.
constexpr uint8_t kKindOf[64] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0,  // LF 0x0A, CR 0x0D
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // '"' 0x22
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0,  // '<' 0x3C
};

// Writes what the character at `at` of HTML becomes, and returns how many
// characters it used up (two for CR LF), or 0 when it is the "<" that ends
// the segment. REQUIRES: p[at] needs work; room for 32 characters at `out`.
size_t PutSpecial(const char16_t* p, size_t at, size_t n, char16_t*& out) {
  size_t kind = kKindOf[p[at] & 63];
  if (kind == 4) return 0;
  kind += kind == 2 && !(at + 1 < n && p[at + 1] == u'\n');
  out = Put(out, kSpecials[kind]);
  return kind == 2 ? 2 : 1;
}

#if VZ_SSE2
// The HTML from `at` in blocks of 16 while 16 more characters can be read
// from anywhere in them, as PutHtml writes it. Returns where it stopped; sets
// `ended` when that is the "<%" that ends the segment.
//
// The 16 characters are copied out whatever they hold; when some need work,
// the characters between them are copied again from the text as each of
// those is written.
template <bool kToOpen>
size_t PutHtmlBlocks(Output& output, const char16_t* p, size_t at, size_t n, char16_t*& out,
                     bool& ended) {
  while (n - at >= 32) {
    out = output.Ensure(out);
    uint32_t marks = HtmlMarks<kToOpen>(p + at);
    Copy16(out, p + at);
    if (marks == 0) {
      out += 16;
      at += 16;
      continue;
    }
    const size_t block = at;
    do {
      const size_t special = block + static_cast<size_t>(__builtin_ctz(marks));
      Copy16(out, p + at);
      out += special - at;
      const size_t used = PutSpecial(p, special, n, out);
      if (used == 0) {
        ended = true;
        return special;
      }
      at = special + used;
      marks &= static_cast<uint32_t>(~uint64_t{0} << (at - block));
    } while (marks != 0);
    if (at < block + 16) {
      Copy16(out, p + at);
      out += block + 16 - at;
      at = block + 16;
    }
  }
  return at;
}
#endif

// Writes the HTML from `at` up to the first "<%" (or, when not `kToOpen`, to
// the end whatever it holds) as Response.Write statements: quotes doubled,
// every CR LF closing a statement and opening the next, lone CR and LF
// written as constants. Returns where it stopped.
template <bool kToOpen>
size_t PutHtml(Output& output, TextView text, size_t at) {
  const char16_t* p = text.data();
  const size_t n = text.size();
  char16_t* out = Put(output.Ensure(output.Cursor()), kPaddedWrite);
  bool ended = false;
#if VZ_SSE2
  at = PutHtmlBlocks<kToOpen>(output, p, at, n, out, ended);
#endif
  // The last characters, one at a time.
  while (!ended && at < n) {
    out = output.Ensure(out);
    if (Special(p[at]) || (kToOpen && PairAt(text, at, kOpen))) {
      const size_t used = PutSpecial(p, at, n, out);
      ended = used == 0;
      at += used;
    } else {
      *out++ = p[at++];
    }
  }
  output.Commit(Put(output.Ensure(out), kPaddedQuote));
  return at;
}

// Copies the code from `at` up to the first "%>" (or the end) between line
// breaks. Returns where it stopped.
size_t PutCode(Output& output, TextView text, size_t at) {
  const char16_t* p = text.data();
  const size_t n = text.size();
  char16_t* out = Put(output.Ensure(output.Cursor()), kPaddedCrLf);
#if VZ_SSE2
  while (n - at >= 17) {
    out = output.Ensure(out);
    const uint32_t marks = PairMarks(p + at, u'%', u'>');
    Copy16(out, p + at);
    if (marks != 0) {
      const auto plain = static_cast<size_t>(__builtin_ctz(marks));
      output.Commit(Put(output.Ensure(out + plain), kPaddedCrLf));
      return at + plain;
    }
    out += 16;
    at += 16;
  }
#endif
  while (at < n && !PairAt(text, at, kClose)) {
    out = output.Ensure(out);
    *out++ = p[at++];
  }
  output.Commit(Put(output.Ensure(out), kPaddedCrLf));
  return at;
}

// Room for the execute code of a text of `length` characters: it seldom
// grows to twice the text, and pages of the room never written to cost
// nothing.
void ReserveFor(Text& out, size_t length) {
  ReserveText(out, std::min<size_t>(2 * length + 64, static_cast<size_t>(kMaxTextLength)));
}

}  // namespace

Text GetDelimiter(bool IsCode) { return Text(IsCode ? kClose : kOpen); }

Text ConvertSegment(TextView Segment, bool IsCode) {
  Text out;
  ReserveFor(out, Segment.size());
  Output output(out);
  if (IsCode) {
    Put(output, kPaddedCrLf);
    output.Put(Segment);
    Put(output, kPaddedCrLf);
  } else {
    PutHtml<false>(output, Segment, 0);
  }
  output.Flush();
  return out;
}

// Each segment is written as it is read, and the delimiter that ends it is
// found on the way.
Text ExecuteCodeOf(TextView text) {
  const size_t n = text.size();
  bool is_code = PairAt(text, 0, kOpen);
  size_t at = is_code ? 2 : 0;
  Text out;
  ReserveFor(out, n);
  Output output(out);
  if (n == 0 || (is_code && Find(text, kClose, at) == TextView::npos)) {
    // With no delimiter at the first search the whole text is one HTML
    // segment, a leading "<%" included. (A text without "<%" is one too, and
    // the scan below writes it so.)
    PutHtml<false>(output, text, 0);
  } else {
    while (at < n) {
      if (!is_code) {
        // Up to a "<%", which opens a block unless it ends the text.
        at = PutHtml<true>(output, text, at) + 2;
        is_code = true;
        continue;
      }
      at = PutCode(output, text, at);
      if (at >= n) break;  // a block never closed is code to the end
      // Past the "%>"; a "<%" right after it opens the next block at once.
      at += 2;
      is_code = PairAt(text, at, kOpen);
      if (is_code) at += 2;
    }
  }
  output.Flush();
  return out;
}

}  // namespace vz
