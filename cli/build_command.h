// vavizar build: every page of a template set, generated in parallel into
// the files of an output folder.
//
//   vavizar build [--db FILE | --odbc STRING] [--templates DIR] [--codepage CP]
//                 [--encoding ENC] --set SET --out DIR [--exec] [--jobs N]
//                 [--changed]
//
// Each worker thread opens its own connection and creates its own Page, and
// uses them alone. Every file is written under a temporary name and renamed
// into place, so an interrupted run (SIGINT, SIGTERM) leaves each file old or
// new. A page whose generation logs a failure keeps its previous file.

#ifndef VAVIZAR_CLI_BUILD_COMMAND_H_
#define VAVIZAR_CLI_BUILD_COMMAND_H_

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// The sub-command's --help text, without the options it shares with asp.
extern const char kBuildUsage[];

// Runs the sub-command on parsed arguments. Returns 0 when every page was
// written or unchanged, 1 when a page failed or the run was interrupted, 2
// for bad usage or a database that cannot be opened or read. Standard error
// (`output.err`) receives one line per failed page and a summary line;
// progress goes straight to standard error when it is a terminal.
int RunBuild(const ParsedArgs& args, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_BUILD_COMMAND_H_
