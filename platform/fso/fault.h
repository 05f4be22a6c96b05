// Fault injection for tests: makes the Nth call this layer makes to the file
// system fail, the way the system reports an I/O error (EIO).
//
// The counted calls are open, read and close. A sweep sets N = 1, 2, ... and
// runs the same operation until FaultFired() stays false. The state is per
// thread.

#ifndef VAVIZAR_PLATFORM_FSO_FAULT_H_
#define VAVIZAR_PLATFORM_FSO_FAULT_H_

#include <cstdint>

namespace vz::fso {

// Restarts the count: call number `n` from now fails. 0 injects nothing.
void FailNthCall(int64_t n);
// True once the armed call has failed (since the last FailNthCall).
bool FaultFired();
// Counts one file-system call; true when this one must fail.
bool InjectFault();

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_FAULT_H_
