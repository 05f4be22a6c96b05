// libFuzzer target: the one-pass execute-code conversion, whole and handed on
// in pieces, against the literal conversion written with the run-time's
// string functions.
//
// Each input byte is one character; bytes from 0x80 up become CJK
// characters (never the private-use character the literal form uses as a
// stand-in for CR LF). Any difference aborts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "execute/execute_code.h"
#include "tests/execute_code_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  vz::Text page;
  page.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    page.push_back(b < 0x80 ? static_cast<char16_t>(b) : static_cast<char16_t>(0x4E00 + b - 0x80));
  }
  const vz::Text fast = vz::ExecuteCodeOf(page);
  const vz::Text literal = vz::reference::ExecuteCode(page);
  if (fast != literal) {
    std::fprintf(stderr, "execute code differs for: %s\n", vz::ToUtf8(page).c_str());
    std::abort();
  }
  // Handed on in pieces as it is made.
  vz::Text handed;
  vz::ExecuteCodeTo(page, [&](vz::TextView piece) { handed += piece; });
  if (handed != literal) {
    std::fprintf(stderr, "execute code in pieces differs for: %s\n", vz::ToUtf8(page).c_str());
    std::abort();
  }
  return 0;
}
