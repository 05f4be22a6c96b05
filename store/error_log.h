// The error log of a Page: one CR LF-terminated, dated line per entry.
//
// Two forms of entry:
//   <date-time> - [<number>] <description>CR LF     the failure being handled
//   <date-time> - [Vantrel_ZozEza] <message>CR LF   a message
// The date-time text is that of `Now` (platform/clock.h).

#ifndef VAVIZAR_STORE_ERROR_LOG_H_
#define VAVIZAR_STORE_ERROR_LOG_H_

#include "platform/text.h"

namespace vz {

// Appends one entry to `Log`: a message entry for a non-empty `Msg`, else a
// failure entry with the number and description of the failure being handled
// (call it inside the catch block). On failure (memory, or a log past the
// text bound) `Log` keeps its value and the failure propagates.
void AppendError(Text& Log, Text Msg);

}  // namespace vz

#endif  // VAVIZAR_STORE_ERROR_LOG_H_
