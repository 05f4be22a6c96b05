// vavizar check: the template lint (cli/template_lint.h) run on the pages of
// a template set as the component would generate them.
//
//   vavizar check [--db FILE | --odbc STRING] [--templates DIR] [--codepage CP]
//                 [--encoding ENC] --set SET [--page PAGE] [--json] [--strict]
//
// The pages are every page registered for SET in web_templet, ascending, or
// only PAGE. For each, the template file is found and read as the component
// finds and reads it (store/page_source.h), in the code page --codepage, and
// checked with the tag rows that apply to the page, in the order applied.
// The layout of web_tag is checked once, before the pages.
//
// Findings go to stdout as they are found, one a line with a window of
// the source line and a caret under it, or with --json one JSON object a line
// (cli/finding_printer.h). Memory stays within a few times the largest
// template and the tag rows, whatever the number of findings.
//
// Exit status: 0 no error (warnings only count with --strict), 1 errors, 2
// bad usage or a database that cannot be opened or read.

#ifndef VAVIZAR_CLI_CHECK_COMMAND_H_
#define VAVIZAR_CLI_CHECK_COMMAND_H_

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// What `vavizar check --help` prints before the options it shares with asp
// and exec.
extern const char kCheckUsage[];

// Runs `vavizar check` with the parsed options and returns the exit status.
// Findings are added to `output.out`; when `output.out_fd` is a descriptor
// they are written to it as they come (every 64 KiB and at the end of each
// page) and `output.out` is emptied.
int RunCheck(const ParsedArgs& args, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_CHECK_COMMAND_H_
