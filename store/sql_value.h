// Writing an identifier into a statement.

#ifndef VAVIZAR_STORE_SQL_VALUE_H_
#define VAVIZAR_STORE_SQL_VALUE_H_

#include "platform/text.h"

namespace vz {

// The text that stands for `value` in a statement: "null" for the empty text,
// a plain number (an optional "-" and one or more decimal digits) unchanged.
// Identifiers are written without quotes, so anything else could change the
// statement; it is refused with failure 13 naming it:
//   Type mismatch: identifier 'abc' is not a number
Text SqlValue(Text value);

}  // namespace vz

#endif  // VAVIZAR_STORE_SQL_VALUE_H_
