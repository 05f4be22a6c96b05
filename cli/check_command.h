// vavizar check: the template lint (cli/template_lint.h) run on the pages of
// a template set as the component would generate them.
//
//   vavizar check [--db FILE | --odbc STRING] [--templates DIR] [--codepage CP]
//                 [--encoding ENC] --set SET [--page PAGE] [--json]
//
// The pages are every page registered for SET in web_templet, ascending, or
// only PAGE. For each, the template file (the template folder, a "\" after it
// unless it ends in one, then tmpl_file; every "/" taken for "\" and every "\"
// a folder separator) is read in the code page --codepage and checked with
// the tag rows that apply to the page, fetched with the component's own query.
// Findings go to stdout, one a line with the source line and a caret under
// it, or with --json one JSON object a line.
//
// Exit status: 0 no findings, 1 findings, 2 bad usage or a database that
// cannot be opened or read.

#ifndef VAVIZAR_CLI_CHECK_COMMAND_H_
#define VAVIZAR_CLI_CHECK_COMMAND_H_

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// What `vavizar check --help` prints before the options it shares with asp
// and exec.
extern const char kCheckUsage[];

// Runs `vavizar check` with the parsed options and returns the exit status.
int RunCheck(const ParsedArgs& args, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_CHECK_COMMAND_H_
