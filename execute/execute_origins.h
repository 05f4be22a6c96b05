// Where each character of execute code came from.
//
// ExecuteCodeOf (execute/execute_code.h) copies most of the server-page text
// and writes a few pieces of its own. ExecuteCodeRuns describes its result as
// runs, each either a copy of a stretch of the server page or one piece the
// conversion wrote for one server-page character. For example a"b becomes
// Response.Write "a""b" in five runs:
//   Response.Write "   written for a (character 0)
//   a"                 a copy of characters 0 and 1
//   "                  written for the quote (1)
//   b                  a copy of character 2
//   "                  written for b (2), the last character
//
// The written pieces, and the character each is written for:
//   Response.Write "         opening an HTML segment: its first character
//                            (a segment is empty only when the text is)
//   "                        closing an HTML segment: the "<%" after it, or
//                            the last character of the text
//   "                        the second quote of a doubled quote: the quote
//                            (the first is a copy of it)
//   " & vbCrLf CR LF Response.Write "
//                            a CR LF of HTML: its CR
//   " & vbCr & "  " & vbLf & "
//                            a lone CR or LF of HTML: itself
//   CR LF                    before a code segment: the "<" of the "<%"
//                            before it; after it: the "%" of the "%>" after
//                            it, or the last character of the text when the
//                            block is never closed
// The empty text has no character: its Response.Write "" is written for
// position 0, the place where its first character would stand.
//
// ComposeOrigins carries the origins of the server-page text (generate/
// origins.h) through these runs to the execute code.

#ifndef VAVIZAR_EXECUTE_EXECUTE_ORIGINS_H_
#define VAVIZAR_EXECUTE_EXECUTE_ORIGINS_H_

#include <cstddef>
#include <vector>

#include "generate/origins.h"
#include "platform/text.h"

namespace vz {

// A stretch [start, start + length) of execute code.
struct ExecRun {
  size_t start = 0;
  size_t length = 0;
  // True: character i of the run is server_page[source + i].
  bool copied = false;
  // Copied: the first source character. Written: the server-page character
  // the piece was written for.
  size_t source = 0;

  friend bool operator==(const ExecRun&, const ExecRun&) = default;
};

// The runs of ExecuteCodeOf(server_page): ascending, none empty, together
// exactly that text. Each written piece is a run of its own; copies are as
// long as they can be. Raises 14 when ExecuteCodeOf would.
std::vector<ExecRun> ExecuteCodeRuns(TextView server_page);

// The origins of execute code, given the origins of the server-page text it
// was made from and its runs. A copy takes the origins of the characters it
// copies (split where they change, offsets advancing); a written run takes
// the origin of the character it was written for, with `converted` set, and
// is never split. Runs that continue each other (neither converted; the same
// origin with offsets that follow on, or the same kGenerated origin, which
// has no offset to advance) are joined.
//
// A written run for position 0 of an empty text (no server-page runs) gets
// the template origin at offset 0. REQUIRES: `server_page_runs` ascending
// and covering the text `exec_runs` were made from; a run whose source lies
// outside them raises 5.
std::vector<OriginRun> ComposeOrigins(const std::vector<OriginRun>& server_page_runs,
                                      const std::vector<ExecRun>& exec_runs);

// ComposeOrigins(server_page_runs, ExecuteCodeRuns(server_page)) in one
// scan, without the list of execute-code runs between. REQUIRES: the
// execute code of `server_page` was made (it is not checked for length).
std::vector<OriginRun> ExecuteCodeOrigins(TextView server_page,
                                          const std::vector<OriginRun>& server_page_runs);

}  // namespace vz

#endif  // VAVIZAR_EXECUTE_EXECUTE_ORIGINS_H_
