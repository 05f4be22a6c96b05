// Failures: the component's one exception type and the run-time's error table.
//
// Inside the component a failure is raised, not returned: a `Failure` carries a
// signed 32-bit number and a description, the pair that the host run-time's
// error object holds and that a failure line of the error log shows. Failures
// travel up to the few routines that handle them; none crosses the published
// interface (there a status code is returned instead).
//
// `CurrentError()` is the stand-in for the run-time's error object: called
// inside a `catch` block it describes the exception being handled, whatever its
// type (`std::bad_alloc` is 7 "Out of memory").

#ifndef VAVIZAR_PLATFORM_FAILURE_H_
#define VAVIZAR_PLATFORM_FAILURE_H_

#include <cstdint>
#include <exception>
#include <string>

#include "platform/text.h"

namespace vz {

// Numbers of the run-time failures this system raises.
enum RuntimeError : int32_t {
  kInvalidArgument = 5,        // "Invalid procedure call or argument"
  kOverflow = 6,               // "Overflow"
  kOutOfMemory = 7,            // "Out of memory"
  kSubscriptOutOfRange = 9,    // "Subscript out of range"
  kTypeMismatch = 13,          // "Type mismatch"
  kOutOfStringSpace = 14,      // "Out of string space"
  kOutOfStackSpace = 28,       // "Out of stack space"
  kFileNotFound = 53,          // "File not found"
  kInputPastEndOfFile = 62,    // "Input past end of file"
  kPermissionDenied = 70,      // "Permission denied"
  kPathFileAccessError = 75,   // "Path/File access error"
  kPathNotFound = 76,          // "Path not found"
  kObjectVariableNotSet = 91,  // "Object variable or With block variable not set"
  kInvalidUseOfNull = 94,      // "Invalid use of Null"
};

// The run-time's description of `number`; "Application-defined or
// object-defined error" for a number outside the table.
const Text& StandardDescription(int32_t number);

class Failure : public std::exception {
 public:
  // A failure with the run-time's own description of `number`.
  explicit Failure(int32_t number);
  Failure(int32_t number, Text description);

  int32_t number() const noexcept { return number_; }
  const Text& description() const noexcept { return description_; }
  // "<number>: <description>" in UTF-8, for diagnostics.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int32_t number_;
  Text description_;
  std::string what_;
};

[[noreturn]] void Raise(int32_t number);
[[noreturn]] void Raise(int32_t number, Text description);

// What the error object holds: number 0 and an empty description when no
// failure is being handled.
struct ErrorState {
  int32_t number = 0;
  Text description;
};

// The failure being handled by the innermost active `catch` block, as the
// error object shows it. `Failure` gives its own pair; `std::bad_alloc` 7;
// `std::length_error` 14; any other exception 5 with its message.
ErrorState CurrentError();

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_FAILURE_H_
