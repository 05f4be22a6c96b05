// Reading a template file whole.

#ifndef VAVIZAR_STORE_TEXT_FILE_H_
#define VAVIZAR_STORE_TEXT_FILE_H_

#include "platform/fso/decoder.h"
#include "platform/text.h"

namespace vz {

// The whole text of the file at `path` ("/" and "\" both separate folders),
// read as ANSI text in the platform's code page. Never raises a failure of its
// own: when the file cannot be opened or read, the failure is appended to
// `log` and the result is ""; when only closing fails, it is logged and the
// text read is returned. Nothing is logged on success.
Text ReadTextFile(Text path, Text& log);

// ReadTextFile written straight into `out` from its start, for a caller that
// keeps the text in storage of its own; returns how many characters (0 when
// the file cannot be opened or read). Logs as ReadTextFile does.
size_t ReadTextFileInto(Text path, CharBuffer& out, Text& log);

// The steps of ReadTextFile without its handler, for callers that report a
// failure their own way: sets `text` to the file's text and raises the file
// layer's failure. `text` stays "" when opening or reading fails, and holds
// what was read when only closing fails. `faults`, when given, receives the
// byte sequences that were not valid in the code page.
void ReadTextFileOrRaise(Text path, Text& text, fso::DecodeFaults* faults = nullptr);

}  // namespace vz

#endif  // VAVIZAR_STORE_TEXT_FILE_H_
