#include "platform/fso/decoder.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include "platform/ascii.h"
#include "platform/failure.h"

namespace vz::fso {
namespace {

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kReplacement = 0xFFFD;

iconv_t Handle(void* cd) { return static_cast<iconv_t>(cd); }

}  // namespace

namespace internal {

// Where decoded units go: collected in a small buffer and appended to a
// text in large pieces, so that the text grows without being zero-filled
// first; or written straight into the room of a CharBuffer, grown as needed.
class UnitSink {
 public:
  UnitSink(Text& out, DecodeFaults& faults, int64_t base)
      : text_(&out),
        faults_(faults),
        base_(base),
        begin_(buffer_),
        at_(buffer_),
        end_(buffer_ + kSize) {}
  UnitSink(CharsInBuffer& out, DecodeFaults& faults, int64_t base)
      : chars_(&out),
        faults_(faults),
        base_(base),
        begin_(out.chars),
        at_(out.chars + out.length),
        end_(out.chars + out.capacity) {}
  UnitSink(const UnitSink&) = delete;
  UnitSink& operator=(const UnitSink&) = delete;

  // A place with room for at least `n` units (n <= kSize); room() tells how
  // many. Commit(k) keeps the first k written there.
  char16_t* Room(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) MakeRoom(n);
    return at_;
  }
  size_t room() const { return static_cast<size_t>(end_ - at_); }
  void Commit(size_t n) { at_ += n; }

  void Put(char16_t unit) {
    *Room(1) = unit;
    ++at_;
  }

  // The U+FFFD that stands for a sequence not valid in the code page.
  void PutInvalid() {
    if (faults_.count++ == 0) faults_.first = static_cast<int64_t>(Written()) - base_;
    Put(kReplacement);
  }

  // Widens the run of ASCII at the start of bytes[0, n); returns its length.
  size_t WidenRun(const char* bytes, size_t n) {
    size_t done = 0;
    while (done < n) {
      const size_t step = std::min(n - done, kSize / 2);
      const size_t run = WidenAscii(bytes + done, step, Room(step));
      at_ += run;
      done += run;
      if (run < step) break;
    }
    return done;
  }

  // Hands on what is written: appends what the buffer holds to the text, or
  // tells the CharBuffer's count. Raises 14 when the text would grow past
  // the longest text.
  void Flush() {
    CheckTextLength(static_cast<int64_t>(Written()));
    if (chars_ != nullptr) {
      chars_->length = static_cast<size_t>(at_ - begin_);
      return;
    }
    text_->append(buffer_, static_cast<size_t>(at_ - buffer_));
    at_ = buffer_;
  }

 private:
  static constexpr size_t kSize = 4096;

  // The units written so far, what the text held before included.
  size_t Written() const {
    const auto here = static_cast<size_t>(at_ - begin_);
    return chars_ != nullptr ? here : text_->size() + here;
  }

  void MakeRoom(size_t n) {
    if (chars_ == nullptr) {
      Flush();
      return;
    }
    const auto used = static_cast<size_t>(at_ - begin_);
    chars_->length = used;
    chars_->Reserve(std::max({2 * chars_->capacity, used + n, kSize}));
    begin_ = chars_->chars;
    at_ = begin_ + used;
    end_ = begin_ + chars_->capacity;
  }

  Text* text_ = nullptr;
  CharsInBuffer* chars_ = nullptr;
  DecodeFaults& faults_;
  int64_t base_;
  char16_t* begin_;
  char16_t* at_;
  char16_t* end_;
  char16_t buffer_[kSize];
};

}  // namespace internal

namespace {

using internal::UnitSink;

// UTF-8 as iconv reads it.

// The length of the sequence that `lead` (>= 0x80) starts, five- and six-byte
// forms included; 0 for a byte that starts none.
size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xF8 && lead <= 0xFB) return 5;
  if (lead >= 0xFC && lead <= 0xFD) return 6;
  return 0;
}

enum class Utf8Step { kCharacter, kInvalid, kUnfinished };

// Decodes the character at p[0] >= 0x80, `avail` bytes being there. For a
// character, its units go to `sink` and `length` is its byte count. A
// sequence is unfinished when it is cut short and its bytes so far are all
// continuation bytes; it is invalid (at its first byte) when a byte is not a
// continuation byte, or when it is overlong, a surrogate, past U+10FFFF or a
// five- or six-byte form.
Utf8Step DecodeUtf8Character(const unsigned char* p, size_t avail, UnitSink& sink, size_t& length) {
  const size_t need = Utf8Length(p[0]);
  if (need == 0) return Utf8Step::kInvalid;
  const size_t have = std::min(need, avail);
  for (size_t k = 1; k < have; ++k) {
    if ((p[k] & 0xC0) != 0x80) return Utf8Step::kInvalid;
  }
  if (have < need) return Utf8Step::kUnfinished;
  if (need > 4) return Utf8Step::kInvalid;
  uint32_t cp = p[0] & (0x7Fu >> need);
  for (size_t k = 1; k < need; ++k) cp = (cp << 6) | (p[k] & 0x3Fu);
  if (need == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return Utf8Step::kInvalid;
  if (need == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return Utf8Step::kInvalid;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    char16_t* at = sink.Room(2);
    at[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    at[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    sink.Commit(2);
  } else {
    sink.Put(static_cast<char16_t>(cp));
  }
  length = need;
  return Utf8Step::kCharacter;
}

// Decodes `bytes` as UTF-8; returns the length of the unfinished character
// at their end (0 when there is none).
size_t DecodeUtf8(std::string_view bytes, UnitSink& sink) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    i += sink.WidenRun(bytes.data() + i, n - i);
    while (i < n && p[i] >= 0x80) {
      size_t length = 0;
      switch (DecodeUtf8Character(p + i, n - i, sink, length)) {
        case Utf8Step::kCharacter:
          i += length;
          break;
        case Utf8Step::kInvalid:
          sink.PutInvalid();
          ++i;
          break;
        case Utf8Step::kUnfinished:
          return n - i;
      }
    }
  }
  return 0;
}

// Decodes the UTF-8 character cut at the end of the last piece (`pending`,
// a lead byte and continuation bytes) with the first bytes of `bytes`, and
// drops those from `bytes`. False when `bytes` ended before the character
// did: then all of it joined `pending`.
bool FinishCutUtf8(std::string& pending, std::string_view& bytes, UnitSink& sink) {
  // A character has at most six bytes: six more always decide it.
  const std::string joined = pending + std::string(bytes.substr(0, 6));
  const auto* p = reinterpret_cast<const unsigned char*>(joined.data());
  size_t at = 0;
  while (at < pending.size()) {
    size_t length = 0;
    switch (DecodeUtf8Character(p + at, joined.size() - at, sink, length)) {
      case Utf8Step::kCharacter:
        at += length;
        break;
      case Utf8Step::kInvalid:
        sink.PutInvalid();
        ++at;
        break;
      case Utf8Step::kUnfinished:
        pending = joined.substr(at);
        return false;
    }
  }
  bytes.remove_prefix(at - pending.size());
  pending.clear();
  return true;
}

// Other sets through iconv.

// An iconv descriptor, and whether it reports the invalid pair A2 E8 with its
// input already past the pair: glibc's UHC (CP949) does, where every other
// invalid sequence is reported with the input left at it.
struct Converter {
  iconv_t cd;
  bool past_a2e8;
};

// Hands bytes [at, end) to iconv; `at` moves past what it took. A byte that
// cannot start a character becomes U+FFFD. False when the bytes end inside
// a character, which then starts at `at`.
bool DecodeWithIconv(Converter converter, const char* bytes, size_t& at, size_t end,
                     UnitSink& sink) {
  char* in = const_cast<char*>(bytes + at);
  size_t in_left = end - at;
  while (in_left > 0) {
    const char* const start = in;
    char* out_at = reinterpret_cast<char*>(sink.Room(64));
    const size_t room = sink.room() * sizeof(char16_t);
    size_t out_left = room;
    const size_t rc = iconv(converter.cd, &in, &in_left, &out_at, &out_left);
    const int error = errno;
    sink.Commit((room - out_left) / sizeof(char16_t));
    if (rc != static_cast<size_t>(-1)) break;
    if (error == E2BIG) continue;
    if (error == EINVAL) {
      at = static_cast<size_t>(in - bytes);
      return false;
    }
    // EILSEQ: a byte that cannot start a character here, or the pair just
    // stepped past.
    sink.PutInvalid();
    const bool stepped_past =
        converter.past_a2e8 && in - start >= 2 && in[-2] == '\xA2' && in[-1] == '\xE8';
    if (!stepped_past && in_left > 0) {
      ++in;
      --in_left;
    }
  }
  at = end;
  return true;
}

// The first place k >= from (from >= 1) where bytes k - 1 and k are both
// below 0x80, or n. In the sets of AsciiRunsMayBypass a character starts
// there: no character holds two such bytes side by side.
size_t NextAsciiPair(const char* bytes, size_t from, size_t n) {
  for (size_t k = from; k < n; ++k) {
    if (static_cast<unsigned char>(bytes[k]) < 0x80 &&
        static_cast<unsigned char>(bytes[k - 1]) < 0x80)
      return k;
  }
  return n;
}

// Decodes `bytes` widening runs of ASCII and handing the rest to iconv, up to
// the next place where a character surely starts; returns the length of the
// unfinished character at their end.
size_t DecodeAsciiRuns(Converter cd, std::string_view bytes, UnitSink& sink) {
  const char* p = bytes.data();
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    i += sink.WidenRun(p + i, n - i);
    if (i == n) break;
    size_t end = NextAsciiPair(p, i + 1, n);
    // iconv stops short of `end` only inside a character that goes on past
    // it; it then gets more.
    while (!DecodeWithIconv(cd, p, i, end, sink)) {
      if (end == n) return n - i;
      end = NextAsciiPair(p, end + 1, n);
    }
  }
  return 0;
}

// Whether iconv decodes each byte below 0x80 to the same unit. Leaves the
// descriptor in its initial state.
// What one conversion of `bytes` on `cd` did; the descriptor is back in its
// initial state afterwards.
struct Probe {
  bool failed;
  int error;
  size_t in_left;
  size_t units;
};

template <size_t kBytes, size_t kUnits>
Probe Convert(const char (&bytes)[kBytes], char16_t (&units)[kUnits], iconv_t cd) {
  char copy[kBytes];
  std::copy(bytes, bytes + kBytes, copy);
  char* in = copy;
  size_t in_left = kBytes;
  char* out_at = reinterpret_cast<char*>(units);
  size_t out_left = sizeof units;
  const size_t rc = iconv(cd, &in, &in_left, &out_at, &out_left);
  const int error = errno;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return {rc == static_cast<size_t>(-1), error, in_left,
          (sizeof units - out_left) / sizeof(char16_t)};
}

bool DecodesAsciiAsItself(iconv_t cd) {
  char bytes[128];
  for (int i = 0; i < 128; ++i) bytes[i] = static_cast<char>(i);
  char16_t units[130];
  const Probe probe = Convert(bytes, units, cd);
  if (probe.failed || probe.units != 128) return false;
  for (int i = 0; i < 128; ++i) {
    if (units[i] != i) return false;
  }
  return true;
}

// Whether `cd` reports A2 E8 as invalid with its input past the pair.
bool ReportsA2E8PastIt(iconv_t cd) {
  const char bytes[] = {'\xA2', '\xE8'};
  char16_t units[4];
  const Probe probe = Convert(bytes, units, cd);
  return probe.failed && probe.error == EILSEQ && probe.in_left == 0;
}

}  // namespace

TextDecoder::TextDecoder(const std::string& iconv_name, Conversion conversion) {
  const bool fast = conversion == Conversion::kFast;
  if (fast && IsUtf8(iconv_name)) {
    route_ = Route::kUtf8;
    return;
  }
  iconv_t cd = iconv_open(kUtf16, iconv_name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (errno == ENOMEM) Raise(kOutOfMemory);
    Raise(kInvalidArgument, Concat({u"Unknown code page '", FromUtf8(iconv_name), u"'"}));
  }
  cd_ = cd;
  past_a2e8_ = ReportsA2E8PastIt(cd);
  if (fast && AsciiRunsMayBypass(iconv_name) && DecodesAsciiAsItself(cd))
    route_ = Route::kAsciiRuns;
}

TextDecoder::~TextDecoder() {
  if (cd_ != nullptr) iconv_close(Handle(cd_));
}

void CharsInBuffer::Reserve(size_t room) {
  chars = buffer.Reserve(length, room);
  capacity = room;
}

void TextDecoder::Begin(size_t written) {
  if (base_ >= 0) return;
  base_ = static_cast<int64_t>(written);
  faults_ = DecodeFaults();
}

void TextDecoder::Feed(std::string_view bytes, Text& out) {
  Begin(out.size());
  UnitSink sink(out, faults_, base_);
  Feed(bytes, sink);
}

void TextDecoder::Feed(std::string_view bytes, CharsInBuffer& out) {
  Begin(out.length);
  UnitSink sink(out, faults_, base_);
  Feed(bytes, sink);
}

void TextDecoder::Feed(std::string_view bytes, UnitSink& sink) {
  std::string joined;
  if (!pending_.empty()) {
    if (route_ == Route::kUtf8) {
      const bool finished = FinishCutUtf8(pending_, bytes, sink);
      sink.Flush();
      if (!finished) return;
    } else {
      joined = pending_;
      joined.append(bytes);
      pending_.clear();
      bytes = joined;
    }
  }
  size_t unfinished = 0;
  switch (route_) {
    case Route::kUtf8:
      unfinished = DecodeUtf8(bytes, sink);
      break;
    case Route::kAsciiRuns:
      unfinished = DecodeAsciiRuns({Handle(cd_), past_a2e8_}, bytes, sink);
      break;
    case Route::kIconv: {
      size_t at = 0;
      if (!DecodeWithIconv({Handle(cd_), past_a2e8_}, bytes.data(), at, bytes.size(), sink))
        unfinished = bytes.size() - at;
      break;
    }
  }
  sink.Flush();
  pending_.assign(bytes.substr(bytes.size() - unfinished));
}

void TextDecoder::Finish(Text& out) {
  Begin(out.size());
  UnitSink sink(out, faults_, base_);
  Finish(sink);
}

void TextDecoder::Finish(CharsInBuffer& out) {
  Begin(out.length);
  UnitSink sink(out, faults_, base_);
  Finish(sink);
}

void TextDecoder::Finish(UnitSink& sink) {
  if (!pending_.empty()) {
    pending_.clear();
    sink.PutInvalid();
  }
  if (cd_ != nullptr) {
    // Return a stateful encoding to its initial shift state.
    char* out_at = reinterpret_cast<char*>(sink.Room(16));
    const size_t room = sink.room() * sizeof(char16_t);
    size_t out_left = room;
    iconv(Handle(cd_), nullptr, nullptr, &out_at, &out_left);
    sink.Commit((room - out_left) / sizeof(char16_t));
  }
  sink.Flush();
  base_ = -1;  // the next Feed starts a new input
}

Text Decode(const std::string& iconv_name, std::string_view bytes, Conversion conversion) {
  TextDecoder decoder(iconv_name, conversion);
  Text out;
  ReserveText(out, bytes.size());  // a hint: most sets give at most a unit a byte
  decoder.Feed(bytes, out);
  decoder.Finish(out);
  return out;
}

}  // namespace vz::fso
