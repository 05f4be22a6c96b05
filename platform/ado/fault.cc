#include "platform/ado/fault.h"

#include "platform/fault_point.h"

namespace vz::ado {
namespace {

thread_local FaultPoint point;

}  // namespace

void FailNthCall(int64_t n) { point.FailNth(n); }
bool FaultFired() { return point.Fired(); }
bool InjectFault() { return point.Inject(); }

}  // namespace vz::ado
