#include "platform/ado/fault.h"

namespace vz::ado {
namespace {

thread_local int64_t fail_at = 0;
thread_local int64_t calls = 0;
thread_local bool fired = false;

}  // namespace

void FailNthCall(int64_t n) {
  fail_at = n;
  calls = 0;
  fired = false;
}

bool FaultFired() { return fired; }

bool InjectFault() {
  if (fail_at <= 0) return false;
  if (++calls != fail_at) return false;
  fired = true;
  return true;
}

}  // namespace vz::ado
