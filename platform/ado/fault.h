// Fault injection for tests: makes the Nth call this layer makes to the
// database library fail, the way the library reports an I/O error.
//
// The counted calls are those that can fail in the database: preparing a
// statement, stepping to the next row, finishing a statement, opening and
// closing a database. A sweep sets N = 1, 2, ... and runs the same operation
// until FaultFired() stays false. The state is per thread.

#ifndef VAVIZAR_PLATFORM_ADO_FAULT_H_
#define VAVIZAR_PLATFORM_ADO_FAULT_H_

#include <cstdint>

#include "platform/fault_point.h"

namespace vz::ado {

// Restarts the count: call number `n` from now fails. 0 injects nothing.
inline void FailNthCall(int64_t n) { ThreadFaultPoint(FaultLayer::kDatabase).FailNth(n); }
// True once the armed call has failed (since the last FailNthCall).
inline bool FaultFired() { return ThreadFaultPoint(FaultLayer::kDatabase).Fired(); }
// Counts one database call; true when this one must fail.
inline bool InjectFault() { return ThreadFaultPoint(FaultLayer::kDatabase).Inject(); }

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_FAULT_H_
