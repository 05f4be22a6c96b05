#include "store/sql_value.h"

#include "platform/failure.h"

namespace vz {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Skips the digits at `at`; returns how many there were.
size_t SkipDigits(TextView s, size_t& at) {
  const size_t start = at;
  while (at < s.size() && IsDigit(s[at])) ++at;
  return at - start;
}

}  // namespace

bool IsNumericIdentifier(TextView s) {
  size_t at = 0;
  while (at < s.size() && IsBlank(s[at])) ++at;
  if (at < s.size() && (s[at] == u'+' || s[at] == u'-')) ++at;
  size_t digits = SkipDigits(s, at);
  if (at < s.size() && s[at] == u'.') {
    ++at;
    digits += SkipDigits(s, at);
  }
  if (digits == 0) return false;
  if (at < s.size() && (s[at] == u'e' || s[at] == u'E')) {
    ++at;
    if (at < s.size() && (s[at] == u'+' || s[at] == u'-')) ++at;
    if (SkipDigits(s, at) == 0) return false;
  }
  while (at < s.size() && IsBlank(s[at])) ++at;
  return at == s.size();
}

Text SqlValue(Text value) {
  if (value.empty()) return u"null";
  if (!IsNumericIdentifier(value)) {
    Raise(kTypeMismatch, Concat({u"Type mismatch: identifier '", value, u"' is not a number"}));
  }
  return value;
}

}  // namespace vz
