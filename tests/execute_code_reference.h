// The execute-code conversion written step by step with the run-time's
// string functions: the yardstick for the single-pass code, used by the
// differential test and the fuzz target.

#ifndef VAVIZAR_TESTS_EXECUTE_CODE_REFERENCE_H_
#define VAVIZAR_TESTS_EXECUTE_CODE_REFERENCE_H_

#include "platform/text.h"

namespace vz::reference {

// The conversion written step by step with the run-time's string functions,
// as the reference for the single-pass code. Lone CR and LF are written as
// constants; a private-use character stands for CR LF while they are.
inline Text Segment(const Text& segment, bool is_code) {
  if (is_code) return u"\r\n" + segment + u"\r\n";
  Text s = Replace(segment, u"\"", u"\"\"");
  s = Replace(s, u"\r\n", u"\ue000");
  s = Replace(s, u"\r", u"\" & vbCr & \"");
  s = Replace(s, u"\n", u"\" & vbLf & \"");
  s = Replace(s, u"\ue000", u"\" & vbCrLf\r\nResponse.Write \"");
  return u"Response.Write \"" + s + u"\"";
}

inline Text ExecuteCode(const Text& t) {
  Text out;
  const int32_t length = Len(t);
  bool is_code = Left(t, 2) == u"<%";
  int32_t start = is_code ? 3 : 1;
  int32_t p = InStr(start, t, is_code ? u"%>" : u"<%");
  if (p == 0) return Segment(t, false);
  int32_t end = p - 1;
  while (start <= length) {
    out += Segment(Mid(t, start, end - start + 1), is_code);
    if (is_code) end += 2;
    is_code = end + 2 <= length && Mid(t, end + 1, 2) == u"<%";
    start = end + 1 + (is_code ? 2 : 0);
    p = start <= length ? InStr(start, t, is_code ? u"%>" : u"<%") : 0;
    end = p != 0 ? p - 1 : length;
  }
  return out;
}

}  // namespace vz::reference

#endif  // VAVIZAR_TESTS_EXECUTE_CODE_REFERENCE_H_
