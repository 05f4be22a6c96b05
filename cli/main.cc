// The vavizar command: the library plus this thin main.

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/write.h"

int main(int argc, char** argv) {
  // The template files' default code page is the character set of the
  // user's locale, which the process takes on only when asked.
  std::setlocale(LC_CTYPE, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  vz::cli::Output output;
  int status = vz::cli::Run(args, output);
  bool written = vz::cli::WriteAll(STDOUT_FILENO, output.out);
  vz::cli::WriteAll(STDERR_FILENO, output.err);
  if (!written) {
    std::perror("vavizar: cannot write the output");
    return vz::cli::kExitUsage;
  }
  return status;
}
