// Failure numbers and descriptions of the data-access layer, the values the
// database components of the host platform report for the same situations.

#ifndef VAVIZAR_PLATFORM_ADO_ERRORS_H_
#define VAVIZAR_PLATFORM_ADO_ERRORS_H_

#include <cstdint>

namespace vz::ado {

// The layer's own failures; their descriptions are given by ErrorDescription.
enum AdoError : int32_t {
  // "Either BOF or EOF is True, ...": the operation needs a current row.
  kNoCurrentRow = 3021,
  // "Arguments are of the wrong type, ...": a bad argument or connection string.
  kBadArguments = 3001,
  // "Operation is not allowed when the object is closed.": a closed record set.
  kObjectClosed = 3704,
  // "Provider cannot be found. ...": a connection string naming no known provider.
  kProviderNotFound = 3706,
  // "The connection cannot be used ...": a closed connection.
  kConnectionClosed = 3709,
  // "Item cannot be found in the collection ...": an unknown field name.
  kItemNotFound = 3265,
};

// Status codes that carry the database's own message as their description.
// A statement the database rejects.
inline constexpr int32_t kErrorsInCommand = -2147217900;  // 0x80040E14
// Any other failure of the database or of the link to it.
inline constexpr int32_t kProviderFailure = -2147467259;  // 0x80004005

// The standard description of one of the AdoError numbers.
const char16_t* ErrorDescription(AdoError number);

// Raises `number` with its standard description.
[[noreturn]] void RaiseAdo(AdoError number);

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_ERRORS_H_
