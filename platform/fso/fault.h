// Fault injection for tests: makes the Nth call this layer makes to the file
// system fail, the way the system reports an I/O error (EIO).
//
// The counted calls are open, read and close. A sweep sets N = 1, 2, ... and
// runs the same operation until FaultFired() stays false. The state is per
// thread.

#ifndef VAVIZAR_PLATFORM_FSO_FAULT_H_
#define VAVIZAR_PLATFORM_FSO_FAULT_H_

#include <cstdint>

#include "platform/fault_point.h"

namespace vz::fso {

// Restarts the count: call number `n` from now fails. 0 injects nothing.
inline void FailNthCall(int64_t n) { ThreadFaultPoint(FaultLayer::kFiles).FailNth(n); }
// True once the armed call has failed (since the last FailNthCall).
inline bool FaultFired() { return ThreadFaultPoint(FaultLayer::kFiles).Fired(); }
// Counts one file-system call; true when this one must fail.
inline bool InjectFault() { return ThreadFaultPoint(FaultLayer::kFiles).Inject(); }

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_FAULT_H_
