// Writing an identifier into a statement.

#ifndef VAVIZAR_STORE_SQL_VALUE_H_
#define VAVIZAR_STORE_SQL_VALUE_H_

#include "platform/text.h"

namespace vz {

// Whether `value` is a number as a database reads one: optional blanks
// (spaces or tabs) around it, an optional sign, decimal digits with an
// optional fraction (or a fraction alone), and an optional exponent:
// "12", " 12 ", "+12", "-12", "12.0", ".5", "1.2e1", "1E-3".
bool IsNumericIdentifier(TextView value);

// The text that stands for `value` in a statement: "null" for the empty text,
// a number (IsNumericIdentifier) unchanged. Identifiers are written without
// quotes, so anything else could change the statement; it is refused with
// failure 13 naming it:
//   Type mismatch: identifier 'abc' is not a number
Text SqlValue(Text value);

}  // namespace vz

#endif  // VAVIZAR_STORE_SQL_VALUE_H_
