// The body of a program of the vavizar command (its main and the server
// program's): the process set up as the command expects, a command line run,
// its output written.

#ifndef VAVIZAR_CLI_PROGRAM_H_
#define VAVIZAR_CLI_PROGRAM_H_

#include <string>
#include <vector>

namespace vz::cli {

// Runs the command line `args` (args[0] is the sub-command) with standard
// output and standard error as the output, and returns the exit status.
int RunProgram(const std::vector<std::string>& args);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_PROGRAM_H_
