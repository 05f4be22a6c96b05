#include "platform/fso/encoder.h"

#include <errno.h>
#include <iconv.h>

#include <bit>

#include "platform/failure.h"
#include "platform/fso/code_page.h"

namespace vz::fso {
namespace {

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

class Converter {
 public:
  explicit Converter(std::string_view number_or_name) {
    const std::string name = IconvName(number_or_name);
    cd_ = iconv_open(name.c_str(), kUtf16);
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      if (errno == ENOMEM) Raise(kOutOfMemory);
      Raise(kInvalidArgument, Concat({u"Unknown encoding '", FromUtf8(number_or_name), u"'"}));
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length in code units of the character that starts `text`: 2 for a
// surrogate pair, else 1.
size_t CharacterUnits(TextView text) {
  return text.size() >= 2 && text[0] >= 0xD800 && text[0] <= 0xDBFF && text[1] >= 0xDC00 &&
                 text[1] <= 0xDFFF
             ? 2
             : 1;
}

// Converts `text` with `converter`, handing each run of converted bytes to
// `output` and the position of each character the set cannot hold (skipped)
// to `missing`. An unfinished character at the end (a lone high surrogate)
// counts as one the set cannot hold.
template <typename Output, typename Missing>
void Convert(Converter& converter, TextView text, Output&& output, Missing&& missing) {
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  size_t in_left = text.size() * sizeof(char16_t);
  char buffer[8192];
  while (in_left > 0) {
    char* out_at = buffer;
    size_t out_left = sizeof buffer;
    size_t rc = iconv(converter.get(), &in, &in_left, &out_at, &out_left);
    int error = errno;
    output(buffer, sizeof buffer - out_left);
    if (rc != static_cast<size_t>(-1)) break;
    if (error == E2BIG) continue;
    // EILSEQ: a character the set cannot hold; EINVAL: a lone high surrogate
    // at the end. Either way it is reported and skipped.
    const size_t done = text.size() - in_left / sizeof(char16_t);
    missing(done);
    const size_t skip = CharacterUnits(text.substr(done)) * sizeof(char16_t);
    in += skip;
    in_left -= skip;
  }
  // Close any shift state the set keeps.
  char* out_at = buffer;
  size_t out_left = sizeof buffer;
  iconv(converter.get(), nullptr, nullptr, &out_at, &out_left);
  output(buffer, sizeof buffer - out_left);
}

}  // namespace

std::string Encode(std::string_view number_or_name, TextView text) {
  Converter converter(number_or_name);
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  Convert(
      converter, text, [&](const char* bytes, size_t n) { out.append(bytes, n); },
      [&](size_t) { out.push_back('?'); });
  return out;
}

void CheckEncoding(std::string_view number_or_name) { Converter check(number_or_name); }

std::vector<size_t> Unencodable(std::string_view number_or_name, TextView text) {
  Converter converter(number_or_name);
  std::vector<size_t> positions;
  Convert(
      converter, text, [](const char*, size_t) {}, [&](size_t at) { positions.push_back(at); });
  return positions;
}

}  // namespace vz::fso
