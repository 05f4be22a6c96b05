#include "execute/execute_code.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define VZ_SSE2 1
#else
#define VZ_SSE2 0
#endif

#include "platform/failure.h"

// How the conversion keeps up with memory.
//
// The text is read once, left to right, as a run of events: in HTML a quote,
// CR LF, a lone CR or LF, or the "<%" that opens code; in code the "%>" that
// closes it. What is written at an event is a fixed piece (the closing of a
// segment and the opening of the next included), so an event is a table
// entry: the piece, and how many characters it uses up. Windows of 64
// characters are compared at once with the characters of the events, each
// kind giving a 64-bit mask; the events of a window are then taken in order
// off the masks, the characters between them copied 32 at a time. Within a
// run of HTML every event is known from the masks alone, so the work on one
// does not wait for the one before; only "<%" and "%>" change what the next
// event can be. The output goes through a small buffer that the text takes in
// large pieces, and the text is reserved once. The last characters, where the
// end of the text changes what a delimiter means, are taken one at a time.

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
constexpr TextView kQuote = u"\"";
// HTML closed and code opened; code closed and HTML opened; code closed and
// the next block opened at once.
constexpr TextView kHtmlToCode = u"\"\r\n";
constexpr TextView kCodeToHtml = u"\r\nResponse.Write \"";
constexpr TextView kCodeToCode = u"\r\n\r\n";

// The room a step (a window) may use: 64 characters of HTML of which every
// one may become up to 28, and 64 more that a copy or a piece may write past
// its end.
constexpr size_t kStep = 64 * 28 + 64;

// Execute code staged in a small buffer of its own, written with a bare
// pointer that is checked for room once a step, and handed to `Sink` when the
// buffer fills.
template <class Sink>
class StagedOutput {
 public:
  explicit StagedOutput(Sink sink) : sink_(std::move(sink)) {}
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  // Where the next characters go.
  char16_t* Cursor() const { return at_; }
  // Takes the characters written up to `cursor`.
  void Commit(char16_t* cursor) { at_ = cursor; }
  // Takes the characters written up to `cursor`; returns where the next go,
  // with room for kStep of them.
  char16_t* Ensure(char16_t* cursor) {
    at_ = cursor;
    if (buffer_ + kSize - cursor < static_cast<ptrdiff_t>(kStep)) Flush();
    return at_;
  }
  // Appends characters of any number.
  void Put(TextView chars) {
    Flush();
    sink_(chars);
  }
  // Hands on what the buffer holds.
  void Flush() {
    sink_(TextView(buffer_, static_cast<size_t>(at_ - buffer_)));
    at_ = buffer_;
  }
  const Sink& sink() const { return sink_; }

 private:
  // Room for several steps, small enough to stay in the cache.
  static constexpr size_t kSize = 8 * kStep;
  Sink sink_;
  char16_t buffer_[kSize];
  char16_t* at_ = buffer_;
};

// Appends to a text; raises 14 when the text would pass the bound.
struct AppendTo {
  Text& text;
  void operator()(TextView chars) {
    CheckTextLength(static_cast<int64_t>(text.size()) + static_cast<int64_t>(chars.size()));
    GrowText(text, chars.size());
    text.append(chars);
  }
};

// Hands pieces on to `write`; raises 14 when the whole would pass the bound.
struct HandOn {
  const std::function<void(TextView)>& write;
  size_t total = 0;
  void operator()(TextView chars) {
    if (chars.empty()) return;
    CheckTextLength(static_cast<int64_t>(total + chars.size()));
    total += chars.size();
    write(chars);
  }
};

using TextOutput = StagedOutput<AppendTo>;
using PieceOutput = StagedOutput<HandOn>;

// Execute code written straight into a CodeBuffer, checked for room once a
// step.
class BufferOutput {
 public:
  BufferOutput(CodeBuffer& buffer, size_t capacity)
      : buffer_(buffer), begin_(buffer.Reserve(0, capacity)), end_(begin_ + capacity) {}
  BufferOutput(const BufferOutput&) = delete;
  BufferOutput& operator=(const BufferOutput&) = delete;

  char16_t* Cursor() const { return at_; }
  void Commit(char16_t* cursor) { at_ = cursor; }
  char16_t* Ensure(char16_t* cursor) {
    at_ = cursor;
    if (end_ - cursor < static_cast<ptrdiff_t>(kStep)) Grow(kStep);
    return at_;
  }
  void Put(TextView chars) {
    if (static_cast<size_t>(end_ - at_) < chars.size()) Grow(chars.size());
    std::memcpy(at_, chars.data(), chars.size() * sizeof(char16_t));
    at_ += chars.size();
  }
  // Raises 14 when the text would pass the bound.
  void Flush() { CheckTextLength(at_ - begin_); }
  // The characters written.
  size_t size() const { return static_cast<size_t>(at_ - begin_); }

 private:
  // Makes room for `extra` more characters, at least doubling the buffer.
  void Grow(size_t extra) {
    Flush();
    const size_t used = size();
    const size_t capacity = std::max(2 * static_cast<size_t>(end_ - begin_), used + extra);
    begin_ = buffer_.Reserve(used, capacity);
    end_ = begin_ + capacity;
    at_ = begin_ + used;
  }

  CodeBuffer& buffer_;
  char16_t* begin_;
  char16_t* end_;
  char16_t* at_ = begin_;
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

// The events, by number. The numbers of the first four are read off the
// masks of a window (see Window::Event), so the order matters.
enum Event : uint32_t {
  kQuoteEvent,   // '"' in HTML: doubled
  kLoneLfEvent,  // LF in HTML without a CR before it: a constant
  kCrLfEvent,    // CR LF in HTML: the statement ends and the next begins
  kLoneCrEvent,  // CR in HTML without an LF after it: a constant
  kOpenEvent,    // "<%" in HTML: code follows
  kReopenEvent,  // "%><%" in code: the next block follows at once
  kCloseEvent,   // "%>" in code, no "<%" after it: HTML follows
};

// What each event writes, and how many characters it uses up.
constexpr Padded kPieces[] = {Pad(kQuotes),     Pad(kLoneLf),     Pad(kLineEnd),   Pad(kLoneCr),
                              Pad(kHtmlToCode), Pad(kCodeToCode), Pad(kCodeToHtml)};
constexpr uint8_t kWidths[] = {1, 1, 2, 1, 2, 4, 2};
static_assert(kLineEnd.size() <= 28);

// Writes `piece` at `out` and returns its end. REQUIRES: room for 32
// characters at `out`.
char16_t* Put(char16_t* out, const Padded& piece) {
  std::memcpy(out, piece.chars, sizeof piece.chars);
  return out + piece.size;
}

constexpr Padded kPaddedWrite = Pad(kWrite);
constexpr Padded kPaddedCrLf = Pad(kCrLf);
constexpr Padded kPaddedQuote = Pad(kQuote);

template <class Output>
void Put(Output& output, const Padded& piece) {
  output.Commit(Put(output.Ensure(output.Cursor()), piece));
}

// Whether `pair` stands at `at`.
bool PairAt(TextView text, size_t at, TextView pair) {
  return at + 1 < text.size() && text[at] == pair[0] && text[at + 1] == pair[1];
}

// Copies 32 characters.
void Copy32(char16_t* out, const char16_t* p) { std::memcpy(out, p, 32 * sizeof(char16_t)); }

// Copies [from, to) to `out` and returns the end of the copy. REQUIRES: 31
// characters past `to` can be read, and as many past the copy written.
char16_t* CopyUpTo(char16_t* out, const char16_t* from, const char16_t* to) {
  // Events seldom lie more than 32 characters apart: the first copy stands
  // alone, so that the loop's counters do not take registers from the scan
  // (short of registers, the compiler kept them in memory, on the path from
  // one event to the next).
  const ptrdiff_t n = to - from;
  Copy32(out, from);
  if (__builtin_expect(n > 32, 0)) {
    for (ptrdiff_t done = 32; done < n; done += 32) Copy32(out + done, from + done);
  }
  return out + n;
}

#if VZ_SSE2
__m128i Load8(const char16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The characters of a window, one bit each (bit i for character i): those
// that may be events, and the pairs that open and close code.
struct Window {
  static constexpr ptrdiff_t kSize = 64;
  uint64_t html;   // quotes, CRs, and LFs not right after a CR
  uint64_t odd;    // LFs and CRs without an LF right after: bit 0 of the event
  uint64_t cr;     // CRs: bit 1 of the event
  uint64_t open;   // the "<" of each "<%"
  uint64_t close;  // the "%" of each "%>"

  // The number of the HTML event at `i`: a quote, an LF, CR LF or a lone CR.
  uint32_t Event(uint32_t i) const {
    return static_cast<uint32_t>((odd >> i & 1) | (cr >> i & 1) << 1);
  }
};

// One bit for each of the 16 characters of `bytes` that equals `c`.
uint64_t Bits(__m128i bytes, char c) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
}

// The window of 64 characters at `p`. REQUIRES: 65 characters can be read at
// `p`.
template <bool kToOpen>
[[gnu::always_inline]] inline Window MarkWindow(const char16_t* p) {
  // As bytes, saturated: characters from 256 up become 0 or 255, neither of
  // them one that is looked for.
  __m128i bytes[4];
  for (int k = 0; k < 4; ++k) bytes[k] = _mm_packus_epi16(Load8(p + 16 * k), Load8(p + 16 * k + 8));
  auto all = [&](char c) {
    uint64_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= Bits(bytes[k], c) << (16 * k);
    return bits;
  };
  // Whether the character after each one is `c`: bit i tells of character
  // i + 1, the last of the one after the window.
  auto next = [&](uint64_t bits, char c) {
    return bits >> 1 | uint64_t{p[64] == static_cast<char16_t>(c)} << 63;
  };
  Window w;
  const uint64_t quote = all('"');
  w.cr = all('\r');
  const uint64_t lf = all('\n');
  w.odd = lf | (w.cr & ~next(lf, '\n'));
  w.html = quote | w.cr | (lf & ~(w.cr << 1));
  w.open = 0;
  w.close = 0;
  // "<%" and "%>" need a "%", which HTML seldom holds.
  const uint64_t percent = kToOpen ? all('%') : 0;
  if (percent != 0 || (kToOpen && p[64] == u'%')) {
    w.open = all('<') & next(percent, '%');
    w.close = percent & next(all('>'), '>');
  }
  return w;
}

// The text from `at` in windows of 64 characters while 96 more can be read
// (a copy up to the window's end reads 31 past it), written as
// execute code; `is_code` tells which kind of segment `at` lies in, before
// and after. Returns where it stopped.
template <bool kToOpen, class Output>
size_t PutWindows(Output& output, const char16_t* p, size_t at, size_t n, bool& is_code,
                  char16_t*& out) {
  const char16_t* from = p + at;
  const char16_t* const end = p + n;
  bool code = is_code;
  while (end - from >= 96) {
    out = output.Ensure(out);
    const char16_t* const window = from;
    const Window w = MarkWindow<kToOpen>(window);
    const char16_t* const window_end = window + Window::kSize;
    while (from < window_end) {
      const uint64_t past = ~uint64_t{0} << (from - window);
      if (!code) {
        // The events up to the first "<%" (or the end of the window), then
        // the "<%".
        const uint64_t opens = w.open & past;
        const uint32_t stop = opens != 0 ? static_cast<uint32_t>(__builtin_ctzll(opens)) : 64;
        uint64_t left = w.html & past & (stop < 64 ? ~(~uint64_t{0} << stop) : ~uint64_t{0});
        while (left != 0) {
          const auto i = static_cast<uint32_t>(__builtin_ctzll(left));
          left &= left - 1;
          out = CopyUpTo(out, from, window + i);
          const uint32_t event = w.Event(i);
          out = Put(out, kPieces[event]);
          from = window + i + kWidths[event];
        }
        if (opens == 0) break;
        out = Put(CopyUpTo(out, from, window + stop), kPieces[kOpenEvent]);
        from = window + stop + 2;
        code = true;
      } else {
        const uint64_t closes = w.close & past;
        if (closes == 0) break;
        const char16_t* const special = window + __builtin_ctzll(closes);
        out = CopyUpTo(out, from, special);
        const bool reopen = special[2] == u'<' && special[3] == u'%';
        out = Put(out, kPieces[reopen ? kReopenEvent : kCloseEvent]);
        from = special + (reopen ? 4 : 2);
        code = reopen;
      }
    }
    if (from < window_end) {
      out = CopyUpTo(out, from, window_end);
      from = window_end;
    }
  }
  is_code = code;
  return static_cast<size_t>(from - p);
}
#endif

// Writes the text from `at` to the end as execute code, one character at a
// time, `is_code` telling which kind of segment `at` lies in. "<%" opens
// code only when `kToOpen`. A "<%" that ends the text opens nothing, and a
// "%>" there is followed by nothing.
template <bool kToOpen, class Output>
void PutRest(Output& output, TextView text, size_t at, bool is_code, char16_t* out) {
  const char16_t* p = text.data();
  const size_t n = text.size();
  while (at < n) {
    out = output.Ensure(out);
    const char16_t c = p[at];
    if (!is_code) {
      if (c == u'"') {
        out = Put(out, kPieces[kQuoteEvent]);
        ++at;
      } else if (c == u'\r') {
        const bool pair = at + 1 < n && p[at + 1] == u'\n';
        out = Put(out, kPieces[pair ? kCrLfEvent : kLoneCrEvent]);
        at += pair ? 2 : 1;
      } else if (c == u'\n') {
        out = Put(out, kPieces[kLoneLfEvent]);
        ++at;
      } else if (kToOpen && PairAt(text, at, kOpen)) {
        if (at + 2 == n) break;
        out = Put(out, kPieces[kOpenEvent]);
        at += 2;
        is_code = true;
      } else {
        *out++ = c;
        ++at;
      }
    } else if (PairAt(text, at, kClose)) {
      at += 2;
      if (at == n || (at + 2 == n && PairAt(text, at, kOpen))) {
        output.Commit(Put(out, kPaddedCrLf));
        return;
      }
      const bool reopen = PairAt(text, at, kOpen);
      out = Put(out, kPieces[reopen ? kReopenEvent : kCloseEvent]);
      at += reopen ? 2 : 0;
      is_code = reopen;
    } else {
      *out++ = c;
      ++at;
    }
  }
  output.Commit(Put(output.Ensure(out), is_code ? kPaddedCrLf : kPaddedQuote));
}

// Writes the text from `at`, which begins a segment of the kind `is_code`
// tells, as execute code.
template <bool kToOpen, class Output>
void PutText(Output& output, TextView text, size_t at, bool is_code) {
  char16_t* out = Put(output.Ensure(output.Cursor()), is_code ? kPaddedCrLf : kPaddedWrite);
#if VZ_SSE2
  at = PutWindows<kToOpen>(output, text.data(), at, text.size(), is_code, out);
#endif
  PutRest<kToOpen>(output, text, at, is_code, out);
}

// Room for the execute code of a text of `length` characters: it seldom
// grows to twice the text, and pages of the room never written to cost
// nothing.
size_t RoomFor(size_t length) {
  return std::min<size_t>(2 * length + 64, static_cast<size_t>(kMaxTextLength)) + kStep;
}

void ReserveFor(Text& out, size_t length) { ReserveText(out, RoomFor(length) - kStep); }

}  // namespace

Text GetDelimiter(bool IsCode) { return Text(IsCode ? kClose : kOpen); }

Text ConvertSegment(TextView Segment, bool IsCode) {
  Text out;
  ReserveFor(out, Segment.size());
  TextOutput output(AppendTo{out});
  if (IsCode) {
    Put(output, kPaddedCrLf);
    output.Put(Segment);
    Put(output, kPaddedCrLf);
  } else {
    PutText<false>(output, Segment, 0, false);
  }
  output.Flush();
  return out;
}

namespace {

template <class Output>
void PutExecuteCode(Output& output, TextView text) {
  const size_t n = text.size();
  const bool is_code = PairAt(text, 0, kOpen);
  if (n == 0 || (is_code && Find(text, kClose, 2) == TextView::npos)) {
    // With no delimiter at the first search the whole text is one HTML
    // segment, a leading "<%" included. (A text without "<%" is one too, and
    // the scan below writes it so.)
    PutText<false>(output, text, 0, false);
  } else {
    PutText<true>(output, text, is_code ? 2 : 0, is_code);
  }
  output.Flush();
}

}  // namespace

Text ExecuteCodeOf(TextView text) {
  Text out;
  ReserveFor(out, text.size());
  TextOutput output(AppendTo{out});
  PutExecuteCode(output, text);
  return out;
}

size_t ExecuteCodeTo(TextView text, const std::function<void(TextView)>& write) {
  PieceOutput output(HandOn{write});
  PutExecuteCode(output, text);
  return output.sink().total;
}

size_t ExecuteCodeInto(TextView text, CodeBuffer& buffer) {
  BufferOutput output(buffer, RoomFor(text.size()));
  PutExecuteCode(output, text);
  return output.size();
}

}  // namespace vz
