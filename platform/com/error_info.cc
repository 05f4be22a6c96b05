#include "platform/com/error_info.h"

#include <cstdio>
#include <utility>

namespace vz::com {
namespace {

struct ThreadErrorInfo {
  bool set = false;
  Text description;
};

thread_local ThreadErrorInfo t_info;

}  // namespace

void SetErrorInfo(Text description) noexcept {
  t_info.description = std::move(description);
  t_info.set = true;
}

Text TakeErrorInfo() {
  Text description = std::move(t_info.description);
  t_info.description.clear();
  t_info.set = false;
  return description;
}

void ClearErrorInfo() noexcept {
  t_info.description.clear();
  t_info.set = false;
}

Failure FailureFromHResult(HRESULT hr) {
  bool had_info = t_info.set;
  Text description = TakeErrorInfo();
  int32_t number = FailureNumberFromHResult(hr);
  if (!had_info || description.empty()) {
    if (number > 0) {
      description = StandardDescription(number);
    } else {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "Error 0x%08X", static_cast<uint32_t>(hr));
      description = FromUtf8(buffer);
    }
  }
  return Failure(number, std::move(description));
}

HRESULT StatusFromCurrentFailure() noexcept {
  try {
    ErrorState error = CurrentError();
    HRESULT hr = HResultFromFailureNumber(error.number);
    SetErrorInfo(std::move(error.description));
    return hr;
  } catch (...) {
    ClearErrorInfo();
    return E_OUTOFMEMORY;
  }
}

}  // namespace vz::com
