// The execute-code conversion written step by step with the run-time's
// string functions: the yardstick for the single-pass code, used by the
// differential test and the fuzz target.

#ifndef VAVIZAR_TESTS_EXECUTE_CODE_REFERENCE_H_
#define VAVIZAR_TESTS_EXECUTE_CODE_REFERENCE_H_

#include <cstddef>
#include <vector>

#include "platform/text.h"

namespace vz::reference {

// The pieces the conversion writes around and between the characters it
// copies.
inline constexpr TextView kWrite = u"Response.Write \"";  // opens a statement
inline constexpr TextView kQuote = u"\"";                 // closes one; doubles a quote
inline constexpr TextView kLineEnd = u"\" & vbCrLf\r\nResponse.Write \"";  // CR LF of HTML
inline constexpr TextView kLoneCr = u"\" & vbCr & \"";
inline constexpr TextView kLoneLf = u"\" & vbLf & \"";
inline constexpr TextView kCrLf = u"\r\n";  // around code

// The conversion written step by step with the run-time's string functions,
// as the reference for the single-pass code. Lone CR and LF are written as
// constants; a private-use character stands for CR LF while they are.
inline Text Segment(const Text& segment, bool is_code) {
  if (is_code) return Concat({kCrLf, segment, kCrLf});
  Text s = Replace(segment, kQuote, u"\"\"");
  s = Replace(s, u"\r\n", u"\ue000");
  s = Replace(s, u"\r", kLoneCr);
  s = Replace(s, u"\n", kLoneLf);
  s = Replace(s, u"\ue000", kLineEnd);
  return Concat({kWrite, s, kQuote});
}

// A segment of the text, characters [start, end), as the conversion cuts it.
struct Cut {
  size_t start;
  size_t end;
  bool is_code;
};

// The segments of `t` in order, found with the run-time's string functions.
inline std::vector<Cut> Segments(const Text& t) {
  std::vector<Cut> out;
  const int32_t length = Len(t);
  bool is_code = Left(t, 2) == u"<%";
  int32_t start = is_code ? 3 : 1;
  int32_t p = InStr(start, t, is_code ? u"%>" : u"<%");
  if (p == 0) return {{0, t.size(), false}};
  int32_t end = p - 1;
  while (start <= length) {
    out.push_back({static_cast<size_t>(start - 1), static_cast<size_t>(end), is_code});
    if (is_code) end += 2;
    is_code = end + 2 <= length && Mid(t, end + 1, 2) == u"<%";
    start = end + 1 + (is_code ? 2 : 0);
    p = start <= length ? InStr(start, t, is_code ? u"%>" : u"<%") : 0;
    end = p != 0 ? p - 1 : length;
  }
  return out;
}

inline Text ExecuteCode(const Text& t) {
  Text out;
  for (const Cut& cut : Segments(t))
    out += Segment(t.substr(cut.start, cut.end - cut.start), cut.is_code);
  return out;
}

}  // namespace vz::reference

#endif  // VAVIZAR_TESTS_EXECUTE_CODE_REFERENCE_H_
