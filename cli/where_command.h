// vavizar where: where a character of a generated page came from, read from
// the page's source map.
//
//   vavizar where [--json] FILE:LINE[:COLUMN]
//
// Reads FILE.map (sourcemap/source_map.h) and prints the chain of the
// character at LINE, COLUMN of FILE (column 1 when none is given), innermost
// first, one line a link, each led by a place an editor can jump to:
//
//   out/12.asp:45:1: tag row 3 `box`, code line 2, column 1
//   templates/home/index.htm:12:5: expanding <!--box w=1&h=2-->
//
// A link in a tag row's code is led by the place in FILE, the code being no
// file of its own. With --json the same is one JSON object: file, line,
// column and chain, an array of objects with a kind and the link's fields.
// Lines end at CR LF, LF or a lone CR; columns count UTF-16 code units.
//
// Exit status: 0 done; 2 bad usage, a map that cannot be read or is
// malformed, or a place past the end of FILE or of its line.

#ifndef VAVIZAR_CLI_WHERE_COMMAND_H_
#define VAVIZAR_CLI_WHERE_COMMAND_H_

#include <string>

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// What `vavizar where --help` prints.
extern const char kWhereUsage[];

// Runs `vavizar where` with the parsed arguments (one positional,
// FILE:LINE[:COLUMN]) and returns the exit status.
int RunWhere(const ParsedArgs& args, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_WHERE_COMMAND_H_
