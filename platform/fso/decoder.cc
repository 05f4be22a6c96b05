#include "platform/fso/decoder.h"

#include <errno.h>
#include <iconv.h>

#include <bit>

#include "platform/failure.h"

namespace vz::fso {
namespace {

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kReplacement = 0xFFFD;

iconv_t Handle(void* cd) { return static_cast<iconv_t>(cd); }

void AppendUnits(Text& out, const char16_t* units, size_t count) {
  if (count == 0) return;
  CheckTextLength(static_cast<int64_t>(out.size() + count));
  out.append(units, count);
}

}  // namespace

TextDecoder::TextDecoder(const std::string& iconv_name) {
  iconv_t cd = iconv_open(kUtf16, iconv_name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (errno == ENOMEM) Raise(kOutOfMemory);
    Raise(kInvalidArgument, Concat({u"Unknown code page '", FromUtf8(iconv_name), u"'"}));
  }
  cd_ = cd;
}

TextDecoder::~TextDecoder() { iconv_close(Handle(cd_)); }

void TextDecoder::Feed(std::string_view bytes, Text& out) {
  std::string joined;
  if (!pending_.empty()) {
    joined = pending_;
    joined.append(bytes);
    pending_.clear();
    bytes = joined;
  }
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char16_t buffer[2048];
  while (in_left > 0) {
    char* out_at = reinterpret_cast<char*>(buffer);
    size_t out_left = sizeof buffer;
    size_t rc = iconv(Handle(cd_), &in, &in_left, &out_at, &out_left);
    int error = errno;
    AppendUnits(out, buffer, (sizeof buffer - out_left) / sizeof(char16_t));
    if (rc != static_cast<size_t>(-1)) break;
    if (error == E2BIG) continue;
    if (error == EINVAL) {
      // A character cut at the end of this piece: keep its start for the next.
      pending_.assign(in, in_left);
      break;
    }
    // EILSEQ: a byte that cannot start a character here.
    AppendUnits(out, &kReplacement, 1);
    ++in;
    --in_left;
  }
}

void TextDecoder::Finish(Text& out) {
  if (!pending_.empty()) {
    pending_.clear();
    AppendUnits(out, &kReplacement, 1);
  }
  // Return a stateful encoding to its initial shift state.
  char16_t buffer[16];
  char* out_at = reinterpret_cast<char*>(buffer);
  size_t out_left = sizeof buffer;
  iconv(Handle(cd_), nullptr, nullptr, &out_at, &out_left);
  AppendUnits(out, buffer, (sizeof buffer - out_left) / sizeof(char16_t));
}

Text Decode(const std::string& iconv_name, std::string_view bytes) {
  TextDecoder decoder(iconv_name);
  Text out;
  decoder.Feed(bytes, out);
  decoder.Finish(out);
  return out;
}

}  // namespace vz::fso
