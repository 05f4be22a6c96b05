// Large buffers (internal to platform/). On these machines filling fresh
// memory one small page at a time costs far more than the work that fills
// it: every first touch of a 4 KB page is a fault. A buffer of several
// megabytes that is about to be written is better supplied at once, in
// huge pages where the system offers them.

#ifndef VAVIZAR_PLATFORM_MEMORY_H_
#define VAVIZAR_PLATFORM_MEMORY_H_

#include <cstddef>

namespace vz {

// The size from which PrepareLargeBuffer does anything.
inline constexpr size_t kLargeBufferBytes = size_t{4} << 20;

// Asks for huge pages for the whole 2 MB pages inside [data, data + bytes)
// and has the kernel supply all its pages now. Content and meaning are
// unchanged; where the system offers neither, nothing happens. Does nothing
// below kLargeBufferBytes.
void PrepareLargeBuffer(void* data, size_t bytes);

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_MEMORY_H_
