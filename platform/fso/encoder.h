// Encoding UTF-16 text into bytes of a character set, for what the tools
// write out.

#ifndef VAVIZAR_PLATFORM_FSO_ENCODER_H_
#define VAVIZAR_PLATFORM_FSO_ENCODER_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fso/code_page.h"
#include "platform/text.h"

namespace vz::fso {

// `text` in the character set `number_or_name` (a code-page number or an
// iconv name, as for SetCodePage). A character the set cannot hold becomes
// "?", as the system's own conversion writes it; a lone surrogate too.
// Raises 5 "Unknown encoding 'X'" when iconv does not know the set. UTF-8 is
// encoded by hand and runs of ASCII skip iconv where the set allows (see
// Conversion), with iconv's result byte for byte.
std::string Encode(std::string_view number_or_name, TextView text,
                   Conversion conversion = Conversion::kFast);

// Encode with the bytes handed to `write` in order, a few kilobytes at a
// time, as they are made; for a caller that sends them on rather than
// keeping them. Raises as Encode does, and what `write` raises.
void EncodeTo(std::string_view number_or_name, TextView text,
              const std::function<void(std::string_view bytes)>& write,
              Conversion conversion = Conversion::kFast);

// EncodeTo on a text that comes in pieces: the bytes of the pieces one
// after another are those of the whole, a surrogate pair cut between two
// pieces and the shift state of a set included.
class TextEncoder {
 public:
  // Raises as Encode does.
  explicit TextEncoder(std::string_view number_or_name, Conversion conversion = Conversion::kFast);
  ~TextEncoder();
  TextEncoder(const TextEncoder&) = delete;
  TextEncoder& operator=(const TextEncoder&) = delete;

  // Has the bytes gathered in the caller's [buffer, buffer + size) instead of
  // a small buffer of its own, and handed on when it is full. REQUIRES:
  // size >= 8192; nothing fed yet.
  void GatherIn(char* buffer, size_t size);
  // Encodes the next piece. Its bytes are gathered and handed to `write` in
  // order when the buffer is full (this call's `write`).
  void Feed(TextView text, const std::function<void(std::string_view bytes)>& write);
  // Ends the text: what a piece left unfinished, the closing of a shift
  // state, and the bytes still gathered.
  void Finish(const std::function<void(std::string_view bytes)>& write);

 private:
  struct State;
  std::unique_ptr<State> state_;
  char16_t pending_ = 0;  // a high surrogate that ended the last piece
};

// Raises 5 "Unknown encoding 'X'" unless text can be encoded in the set.
void CheckEncoding(std::string_view number_or_name);

// The 0-based positions in `text` of the characters that the set cannot
// hold, ascending: those Encode writes as "?" (a surrogate pair counts once,
// at its first unit). Raises 5 as Encode does.
std::vector<size_t> Unencodable(std::string_view number_or_name, TextView text,
                                Conversion conversion = Conversion::kFast);

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_ENCODER_H_
