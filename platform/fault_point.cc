#include "platform/fault_point.h"

namespace vz {
namespace {

thread_local FaultPoint points[2];

}  // namespace

FaultPoint& ThreadFaultPoint(FaultLayer layer) { return points[static_cast<int>(layer)]; }

}  // namespace vz
