#include "store/sql_value.h"

#include "platform/failure.h"

namespace vz {
namespace {

bool IsPlainNumber(TextView s) {
  if (!s.empty() && s.front() == u'-') s.remove_prefix(1);
  if (s.empty()) return false;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

}  // namespace

Text SqlValue(Text value) {
  if (value.empty()) return u"null";
  if (!IsPlainNumber(value)) {
    Raise(kTypeMismatch, Concat({u"Type mismatch: identifier '", value, u"' is not a number"}));
  }
  return value;
}

}  // namespace vz
