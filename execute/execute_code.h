// Execute code: server-page text rewritten wholly as script statements.
//
// The text is scanned once from left to right and cut into segments at the
// script delimiters "<%" and "%>". Each HTML segment becomes Response.Write
// statements that write it line by line; each code segment is copied
// unchanged between line breaks (CR LF). For example
//
//   <p>"Hi"</p> CR LF <%x=1%>
//
// becomes the lines
//
//   Response.Write "<p>""Hi""</p>" & vbCrLf
//   Response.Write ""
//   x=1
//
// A line break in HTML is CR LF. A lone CR or LF cannot stand inside a
// quoted string of the script language, so it is written as "& vbCr &" or
// "& vbLf &" inside the same statement: `a` LF `b` gives
// Response.Write "a" & vbLf & "b".

#ifndef VAVIZAR_EXECUTE_EXECUTE_CODE_H_
#define VAVIZAR_EXECUTE_EXECUTE_CODE_H_

#include <cstddef>
#include <functional>

#include "platform/text.h"

namespace vz {

// The delimiter that ends the current segment: "%>" in code, "<%" in HTML.
Text GetDelimiter(bool IsCode);

// One segment as execute code: CR LF + Segment + CR LF for code; for HTML,
// Response.Write statements, quotes doubled, one statement per line.
// Raises 14 when the result would pass the text bound.
Text ConvertSegment(TextView Segment, bool IsCode);

// The whole server-page text as execute code. An empty text gives
// Response.Write "". Raises 14 when the result would pass the text bound.
Text ExecuteCodeOf(TextView server_page);

// Where ExecuteCodeInto writes: one run of characters that it grows.
using CodeBuffer = CharBuffer;

// ExecuteCodeOf written straight into `buffer`, for a caller that keeps the
// result in storage of its own; returns how many characters it wrote. Raises
// as ExecuteCodeOf does, and what `buffer` raises.
size_t ExecuteCodeInto(TextView server_page, CodeBuffer& buffer);

// ExecuteCodeOf handed to `write` in pieces, in order, as they are made, for
// a caller that sends them on rather than keeping the whole; returns how
// many characters in all. Raises as ExecuteCodeOf does, and what `write`
// raises; pieces handed on before a failure stay handed on.
size_t ExecuteCodeTo(TextView server_page, const std::function<void(TextView)>& write);

}  // namespace vz

#endif  // VAVIZAR_EXECUTE_EXECUTE_CODE_H_
