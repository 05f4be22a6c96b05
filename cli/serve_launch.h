// vavizar serve: template pages in a browser, generated again as they are
// saved (cli/serve/serve_command.h).
//
// The sub-command's help and options belong to the command like every other;
// the server itself is a program of its own, vavizar-serve, that the command
// runs in its place with the same options: beside the command in a build
// tree, in ../libexec/vavizar/ when installed. So the HTTP library and what
// it loads (TLS, compression) are loaded by the server alone, not by every
// run of `vavizar asp`, whose start-up they would double.

#ifndef VAVIZAR_CLI_SERVE_LAUNCH_H_
#define VAVIZAR_CLI_SERVE_LAUNCH_H_

#include "cli/commands.h"
#include "cli/options.h"

namespace vz::cli {

// What `vavizar serve --help` prints before the options it shares.
extern const char kServeUsage[];

// The server: set by the server program to its own; unset in the command.
using ServeRunner = int (*)(const ParsedArgs& args, Output& output);
void SetServeRunner(ServeRunner runner);

// Runs the server set with SetServeRunner, else replaces the process with
// the server program, given `args` as options. Throws an Error when that
// program cannot be found or run.
int RunServeCommand(const ParsedArgs& args, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_SERVE_LAUNCH_H_
