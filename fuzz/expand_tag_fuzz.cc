// libFuzzer target: the fast tag expansion against the literal passes.
//
// Input layout: the first byte picks the tag name (low four bits, from a table
// of awkward names) and the working limit (high four bits); the rest is
// "code \0 text" or "code \0 text \0 name", each byte one character, bytes
// from 0x80 up mapped to CJK characters. The expansion runs as a string and
// as a page text of small blocks. Any difference aborts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_text.h"
#include "platform/text.h"
#include "tests/expand_tag_differential.h"

namespace {

// A pass cap and limits that keep every run of the reference short.
constexpr int64_t kPassCap = 2000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char16_t* const kNames[] = {
      u"box",  u"box", u"",   u"a b", u"<",      u"%", u">",    u"-",
      u"x-->", u"%>",  u"<%", u"-->", u"\u6846", u" ", u"/box", u"box",
  };
  if (size == 0 || size > 4096) return 0;
  const uint8_t selector = data[0];
  vz::Text name = kNames[selector & 15];
  const uint8_t* p = data + 1;
  const uint8_t* end = data + size;
  const uint8_t* cut1 = p;
  while (cut1 < end && *cut1 != 0) ++cut1;
  vz::Text code = vz::fuzz::TextOfBytes(p, static_cast<size_t>(cut1 - p));
  vz::Text text;
  if (cut1 < end) {
    const uint8_t* q = cut1 + 1;
    const uint8_t* cut2 = q;
    while (cut2 < end && *cut2 != 0) ++cut2;
    text = vz::fuzz::TextOfBytes(q, static_cast<size_t>(cut2 - q));
    if (cut2 < end) name = vz::fuzz::TextOfBytes(cut2 + 1, static_cast<size_t>(end - cut2 - 1));
  }
  const int limit_choice = selector >> 4;
  const int64_t max_length =
      limit_choice == 0 ? 4096 : static_cast<int64_t>(text.size()) + 16 * limit_choice;

  // The expansion on a page text of small blocks too, their size taken from
  // the input's length so that every size comes up.
  vz::differential::Verdict verdict =
      vz::differential::Compare(text, name, code, max_length, kPassCap, 1 + size % 9);
  if (!verdict.same) {
    std::fprintf(stderr, "MISMATCH: %s\n", verdict.detail.c_str());
    std::abort();
  }
  return 0;
}
