// Error information that travels beside a failure status.
//
// A member that returns a failure status may leave a description for the
// thread's caller, as component platforms do with their per-thread error
// object. The caller reads it right after the call.

#ifndef VAVIZAR_PLATFORM_COM_ERROR_INFO_H_
#define VAVIZAR_PLATFORM_COM_ERROR_INFO_H_

#include "platform/com/types.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace vz::com {

// Records `description` as this thread's error information (replacing any).
void SetErrorInfo(Text description) noexcept;
// Takes this thread's error information, leaving none.
Text TakeErrorInfo();
// Drops this thread's error information.
void ClearErrorInfo() noexcept;

// The failure that status `hr` stands for: the number from
// FailureNumberFromHResult and the description left with it, else the
// run-time's own description for a run-time number, else "Error 0x8xxxxxxx".
Failure FailureFromHResult(HRESULT hr);

// Records the failure being handled (CurrentError()) as error information and
// returns its status code. For use in catch blocks at the interface.
HRESULT StatusFromCurrentFailure() noexcept;

}  // namespace vz::com

#endif  // VAVIZAR_PLATFORM_COM_ERROR_INFO_H_
