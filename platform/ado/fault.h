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

namespace vz::ado {

// Restarts the count: call number `n` from now fails. 0 injects nothing.
void FailNthCall(int64_t n);
// True once the armed call has failed (since the last FailNthCall).
bool FaultFired();
// Counts one database call; true when this one must fail.
bool InjectFault();

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_FAULT_H_
