#include "platform/fso/encoder.h"

#include <errno.h>
#include <iconv.h>

#include <bit>
#include <cstdint>
#include <memory>

#include "platform/ascii.h"
#include "platform/failure.h"
#include "platform/memory.h"

namespace vz::fso {
namespace {

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// How a converter reaches its bytes: UTF-8 by hand, ASCII runs narrowed and
// the rest through iconv, or everything through iconv.
enum class Route { kUtf8, kAsciiRuns, kIconv };

// Whether iconv encodes each unit below 0x80 as the same byte. Leaves the
// descriptor in its initial state.
bool EncodesAsciiAsItself(iconv_t cd) {
  char16_t units[128];
  for (int i = 0; i < 128; ++i) units[i] = static_cast<char16_t>(i);
  char bytes[136];
  char* in = reinterpret_cast<char*>(units);
  size_t in_left = sizeof units;
  char* out_at = bytes;
  size_t out_left = sizeof bytes;
  const size_t rc = iconv(cd, &in, &in_left, &out_at, &out_left);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (rc == static_cast<size_t>(-1) || out_left != sizeof bytes - 128) return false;
  for (int i = 0; i < 128; ++i) {
    if (bytes[i] != static_cast<char>(i)) return false;
  }
  return true;
}

class Converter {
 public:
  Converter(std::string_view number_or_name, Conversion conversion) {
    const std::string name = IconvName(number_or_name);
    const bool fast = conversion == Conversion::kFast;
    if (fast && IsUtf8(name)) {
      route_ = Route::kUtf8;
      return;
    }
    cd_ = iconv_open(name.c_str(), kUtf16);
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      if (errno == ENOMEM) Raise(kOutOfMemory);
      Raise(kInvalidArgument, Concat({u"Unknown encoding '", FromUtf8(number_or_name), u"'"}));
    }
    if (fast && AsciiRunsMayBypass(name) && EncodesAsciiAsItself(cd_)) route_ = Route::kAsciiRuns;
  }
  ~Converter() {
    if (route_ != Route::kUtf8) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  Route route() const { return route_; }
  iconv_t get() const { return cd_; }

 private:
  Route route_ = Route::kIconv;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

// Collects bytes in a buffer and hands them on in large pieces.
template <typename Output>
class ByteSink {
 public:
  // The bytes go to `buffer`, of `size` bytes (at least kMinSize), of which
  // the first `used` are written already.
  ByteSink(Output& output, char* buffer, size_t size, size_t used = 0)
      : output_(output), buffer_(buffer), size_(size), used_(used) {}
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  static constexpr size_t kMinSize = 8192;

  // A place with room for at least `n` bytes (n <= kMinSize); room() tells
  // how many. Commit(k) keeps the first k written there.
  char* Room(size_t n) {
    if (size_ - used_ < n) Flush();
    return buffer_ + used_;
  }
  size_t room() const { return size_ - used_; }
  void Commit(size_t n) { used_ += n; }
  size_t used() const { return used_; }

  // Narrows the run of ASCII at the start of units[0, n); returns its length.
  size_t NarrowRun(const char16_t* units, size_t n) {
    size_t done = 0;
    while (done < n) {
      const size_t step = std::min(n - done, kMinSize / 2);
      const size_t run = NarrowAscii(units + done, step, Room(step));
      used_ += run;
      done += run;
      if (run < step) break;
    }
    return done;
  }

  void Flush() {
    if (used_ > 0) output_(buffer_, used_);
    used_ = 0;
  }

 private:
  Output& output_;
  char* buffer_;
  size_t size_;
  size_t used_;
};

// Encodes `text` as UTF-8 by hand; a lone surrogate is reported to `missing`.
template <typename Sink, typename Missing>
void ConvertUtf8(TextView text, Sink& sink, Missing& missing) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    i += sink.NarrowRun(text.data() + i, n - i);
    for (; i < n && text[i] >= 0x80; ++i) {
      uint32_t cp = text[i];
      if (IsHighSurrogate(text[i]) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        ++i;
      } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
        missing(i);
        continue;
      }
      char* at = sink.Room(4);
      if (cp < 0x800) {
        at[0] = static_cast<char>(0xC0 | (cp >> 6));
        at[1] = static_cast<char>(0x80 | (cp & 0x3F));
        sink.Commit(2);
      } else if (cp < 0x10000) {
        at[0] = static_cast<char>(0xE0 | (cp >> 12));
        at[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        at[2] = static_cast<char>(0x80 | (cp & 0x3F));
        sink.Commit(3);
      } else {
        at[0] = static_cast<char>(0xF0 | (cp >> 18));
        at[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        at[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        at[3] = static_cast<char>(0x80 | (cp & 0x3F));
        sink.Commit(4);
      }
    }
  }
}

// Hands units [at, end) of `text` to iconv. A character the set cannot hold
// (EILSEQ), or a lone high surrogate at the end (EINVAL), is reported to
// `missing` and skipped.
template <typename Sink, typename Missing>
void ConvertWithIconv(iconv_t cd, TextView text, size_t at, size_t end, Sink& sink,
                      Missing& missing) {
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data() + at));
  size_t in_left = (end - at) * sizeof(char16_t);
  while (in_left > 0) {
    char* out_at = sink.Room(64);
    const size_t room = sink.room();
    size_t out_left = room;
    const size_t rc = iconv(cd, &in, &in_left, &out_at, &out_left);
    const int error = errno;
    sink.Commit(room - out_left);
    if (rc != static_cast<size_t>(-1)) break;
    if (error == E2BIG) continue;
    const size_t done = end - in_left / sizeof(char16_t);
    missing(done);
    const size_t skip = UnitsAt(text.substr(done, end - done), 0) * sizeof(char16_t);
    in += skip;
    in_left -= skip;
  }
}

// Narrows runs of ASCII and hands each stretch between them to iconv. A
// stretch ends at an ASCII unit, so it never cuts a surrogate pair.
template <typename Sink, typename Missing>
void ConvertAsciiRuns(iconv_t cd, TextView text, Sink& sink, Missing& missing) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    i += sink.NarrowRun(text.data() + i, n - i);
    size_t end = i;
    while (end < n && text[end] >= 0x80) ++end;
    if (end > i) ConvertWithIconv(cd, text, i, end, sink, missing);
    i = end;
  }
}

// Converts `text` with `converter` into `sink`, the position of each
// character the set cannot hold (skipped) going to `report`.
template <typename Sink, typename Missing>
void ConvertPiece(Converter& converter, TextView text, Sink& sink, Missing& report) {
  switch (converter.route()) {
    case Route::kUtf8:
      ConvertUtf8(text, sink, report);
      break;
    case Route::kAsciiRuns:
      ConvertAsciiRuns(converter.get(), text, sink, report);
      break;
    case Route::kIconv:
      ConvertWithIconv(converter.get(), text, 0, text.size(), sink, report);
      break;
  }
}

// Closes any shift state the set keeps.
template <typename Sink>
void CloseShift(Converter& converter, Sink& sink) {
  if (converter.route() == Route::kUtf8) return;
  char* out_at = sink.Room(64);
  const size_t room = sink.room();
  size_t out_left = room;
  iconv(converter.get(), nullptr, nullptr, &out_at, &out_left);
  sink.Commit(room - out_left);
}

// Converts `text` with `converter`, handing runs of converted bytes to
// `output` and the position of each character the set cannot hold (skipped)
// to `missing`. An unfinished character at the end (a lone high surrogate)
// counts as one the set cannot hold.
template <typename Output, typename Missing>
void Convert(Converter& converter, TextView text, Output&& output, Missing&& missing) {
  char buffer[ByteSink<Output>::kMinSize];
  ByteSink<Output> sink(output, buffer, sizeof buffer);
  // What is missing is reported in its place among the bytes.
  auto report = [&](size_t at) {
    sink.Flush();
    missing(at);
  };
  ConvertPiece(converter, text, sink, report);
  CloseShift(converter, sink);
  sink.Flush();
}

}  // namespace

struct TextEncoder::State {
  State(std::string_view number_or_name, Conversion conversion)
      : converter(number_or_name, conversion) {}
  Converter converter;
  char* buffer = own;
  size_t size = sizeof own;
  size_t used = 0;
  char own[8192];
};

TextEncoder::TextEncoder(std::string_view number_or_name, Conversion conversion)
    : state_(std::make_unique<State>(number_or_name, conversion)) {}

TextEncoder::~TextEncoder() = default;

void TextEncoder::GatherIn(char* buffer, size_t size) {
  state_->buffer = buffer;
  state_->size = size;
}

void TextEncoder::Feed(TextView text, const std::function<void(std::string_view bytes)>& write) {
  auto output = [&](const char* bytes, size_t n) { write(std::string_view(bytes, n)); };
  ByteSink<decltype(output)> sink(output, state_->buffer, state_->size, state_->used);
  // A character the set cannot hold is a "?" among the bytes.
  auto report = [&](size_t) {
    *sink.Room(1) = '?';
    sink.Commit(1);
  };
  if (pending_ != 0 && !text.empty()) {
    // A pair cut between two pieces goes whole; a lone high surrogate alone.
    const char16_t pair[2] = {pending_, text[0]};
    const bool whole = IsLowSurrogate(text[0]);
    ConvertPiece(state_->converter, TextView(pair, whole ? 2 : 1), sink, report);
    pending_ = 0;
    if (whole) text.remove_prefix(1);
  }
  if (!text.empty() && IsHighSurrogate(text.back())) {
    pending_ = text.back();
    text.remove_suffix(1);
  }
  ConvertPiece(state_->converter, text, sink, report);
  state_->used = sink.used();
}

void TextEncoder::Finish(const std::function<void(std::string_view bytes)>& write) {
  auto output = [&](const char* bytes, size_t n) { write(std::string_view(bytes, n)); };
  ByteSink<decltype(output)> sink(output, state_->buffer, state_->size, state_->used);
  auto report = [&](size_t) {
    *sink.Room(1) = '?';
    sink.Commit(1);
  };
  if (pending_ != 0) ConvertPiece(state_->converter, TextView(&pending_, 1), sink, report);
  pending_ = 0;
  CloseShift(state_->converter, sink);
  sink.Flush();
  state_->used = 0;
}

std::string Encode(std::string_view number_or_name, TextView text, Conversion conversion) {
  Converter converter(number_or_name, conversion);
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  PrepareLargeBuffer(out.data(), out.capacity());
  Convert(
      converter, text, [&](const char* bytes, size_t n) { out.append(bytes, n); },
      [&](size_t) { out.push_back('?'); });
  return out;
}

void EncodeTo(std::string_view number_or_name, TextView text,
              const std::function<void(std::string_view bytes)>& write, Conversion conversion) {
  Converter converter(number_or_name, conversion);
  // The same bytes as Encode's, in the same order: each "?" goes out in its
  // place among them.
  Convert(
      converter, text, [&](const char* bytes, size_t n) { write(std::string_view(bytes, n)); },
      [&](size_t) { write("?"); });
}

void CheckEncoding(std::string_view number_or_name) {
  Converter check(number_or_name, Conversion::kFast);
}

std::vector<size_t> Unencodable(std::string_view number_or_name, TextView text,
                                Conversion conversion) {
  Converter converter(number_or_name, conversion);
  std::vector<size_t> positions;
  Convert(
      converter, text, [](const char*, size_t) {}, [&](size_t at) { positions.push_back(at); });
  return positions;
}

}  // namespace vz::fso
