// The vavizar command: sub-commands over the component library.
//
//   vavizar asp  [options] SET PAGE     the server-page code of one page
//   vavizar exec [options] SET PAGE     the same page as execute code
//   vavizar register MODULE             register a component module
//   vavizar unregister MODULE           remove what registering wrote
//   vavizar where FILE:LINE[:COLUMN]    where a character of a generated page came from
//
// Exit status: 0 when the work was done and nothing was logged, 1 when the
// page's error log gained lines, 2 for bad usage or a database, module or
// setting that cannot be used.

#ifndef VAVIZAR_CLI_COMMANDS_H_
#define VAVIZAR_CLI_COMMANDS_H_

#include <string>
#include <vector>

#include "cli/error.h"

namespace vz::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitLogged = 1;
inline constexpr int kExitUsage = 2;

// What a run writes: bytes for standard output, text (UTF-8) for standard
// error.
struct Output {
  std::string out;
  std::string err;
  // When set, a command with much to say (check, and asp and exec for their
  // page) writes `out` to this descriptor as it goes and empties it; the rest
  // is written at the end.
  int out_fd = -1;
  // The same for `err`, for the commands that run until stopped (build
  // --watch, serve).
  int err_fd = -1;
  // The errno of a write to `out_fd` that failed, after which nothing more
  // went there; 0 when none failed. Set by asp and exec.
  int out_error = 0;
};

// Runs the command line `args` (args[0] is the sub-command) and returns the
// exit status. Never throws: every mistake and failure becomes a message on
// `output.err` and a status.
int Run(const std::vector<std::string>& args, Output& output);

// Writes `error` as the command's message ("vavizar COMMAND: MESSAGE", then
// "Try 'vavizar COMMAND --help'." for a usage mistake; "vavizar: MESSAGE"
// when `command` is empty) and returns kExitUsage.
int ReportError(const std::string& command, const Error& error, Output& output);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_COMMANDS_H_
