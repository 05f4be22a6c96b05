// Decoding bytes in a code page into UTF-16 text, fed piece by piece.
//
// Pieces may end anywhere, inside a multi-byte character too: the bytes of an
// unfinished character wait for the next piece. A byte sequence that is not
// valid in the code page becomes one U+FFFD for each byte that cannot start a
// character; an unfinished character at the very end becomes one U+FFFD.
// Decoding never fails because of the content.
//
// The rules are iconv's, byte for byte. UTF-8 is decoded by hand (a sequence
// iconv refuses is refused at its first byte: a surrogate, an overlong form,
// a value past U+10FFFF, a five- or six-byte form; a sequence cut by the end
// of the input is unfinished as long as its bytes so far are continuation
// bytes); in the sets of AsciiRunsMayBypass, runs of ASCII skip iconv.

#ifndef VAVIZAR_PLATFORM_FSO_DECODER_H_
#define VAVIZAR_PLATFORM_FSO_DECODER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fso/code_page.h"
#include "platform/text.h"

namespace vz::fso {

// The byte sequences a decoding found not valid in its code page, each of
// which became U+FFFD.
struct DecodeFaults {
  int64_t count = 0;
  int64_t first = -1;  // the offset in the decoded text of the first, or -1
};

// A CharBuffer that decoding writes into: `length` characters written and
// room known for `capacity`, at `chars`.
struct CharsInBuffer {
  explicit CharsInBuffer(CharBuffer& into) : buffer(into) {}
  // Room for `room` characters, the `length` written kept.
  // REQUIRES: room >= length.
  void Reserve(size_t room);

  CharBuffer& buffer;
  char16_t* chars = nullptr;
  size_t length = 0;
  size_t capacity = 0;
};

namespace internal {
class UnitSink;
}

class TextDecoder {
 public:
  // Decodes from `iconv_name`. Raises 5 when iconv does not know it.
  explicit TextDecoder(const std::string& iconv_name, Conversion conversion = Conversion::kFast);
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // Decodes `bytes` and appends the characters to `out`. Raises 14 when `out`
  // would grow past the longest text.
  void Feed(std::string_view bytes, Text& out);
  // The same written straight into the room of a buffer, grown as needed.
  void Feed(std::string_view bytes, CharsInBuffer& out);
  // Ends the input: an unfinished character becomes U+FFFD.
  void Finish(Text& out);
  void Finish(CharsInBuffer& out);

  // The invalid sequences of the input since the last Finish (of this one,
  // once it is finished), with offsets from where the first Feed began to
  // append to its `out`.
  const DecodeFaults& faults() const { return faults_; }

 private:
  enum class Route { kUtf8, kAsciiRuns, kIconv };

  Route route_ = Route::kIconv;
  void* cd_ = nullptr;      // iconv_t; none for kUtf8
  bool past_a2e8_ = false;  // cd_ reports A2 E8 with its input past the pair
  std::string pending_;     // the start of a character cut at the end of a piece
  DecodeFaults faults_;
  int64_t base_ = -1;  // the size of `out` at the first Feed of this input

  // Starts the count of a new input, `written` characters being in its
  // output already, at the first Feed after a Finish.
  void Begin(size_t written);
  void Feed(std::string_view bytes, internal::UnitSink& sink);
  void Finish(internal::UnitSink& sink);
};

// Decodes all of `bytes` at once.
Text Decode(const std::string& iconv_name, std::string_view bytes,
            Conversion conversion = Conversion::kFast);

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_DECODER_H_
