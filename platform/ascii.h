// Runs of ASCII at memory speed (internal to platform/): the fast paths of
// the conversions between bytes and UTF-16. ASCII is the same in UTF-8, in
// UTF-16 and in the common code pages, so a run of it needs no conversion
// table: each byte widens to one unit and each unit below 0x80 narrows back.

#ifndef VAVIZAR_PLATFORM_ASCII_H_
#define VAVIZAR_PLATFORM_ASCII_H_

#include <cstddef>

namespace vz {

// Widens the leading run of bytes below 0x80 of in[0, n) into out[0, run)
// and returns the run's length. Writes nothing past the run.
size_t WidenAscii(const char* in, size_t n, char16_t* out);

// Narrows the leading run of units below 0x80 of in[0, n) into out[0, run)
// and returns the run's length. Writes nothing past the run.
size_t NarrowAscii(const char16_t* in, size_t n, char* out);

}  // namespace vz

#endif  // VAVIZAR_PLATFORM_ASCII_H_
