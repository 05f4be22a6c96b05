#include "cli/program.h"

#include <malloc.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>

#include "cli/commands.h"
#include "cli/write.h"

namespace vz::cli {

int RunProgram(const std::vector<std::string>& args) {
  // The template files' default code page is the character set of the
  // user's locale, which the process takes on only when asked.
  std::setlocale(LC_CTYPE, "");
  // A build frees and takes back page-sized buffers at a great rate on each
  // worker thread; handing the freed top of a thread's heap back to the
  // system every time made every page fault its memory in again.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  Output output;
  output.out_fd = STDOUT_FILENO;
  output.err_fd = STDERR_FILENO;
  int status;
  try {
    status = Run(args, output);
  } catch (...) {
    // Run reports every failure itself; only memory running out around it
    // gets here, and then nothing more is built.
    std::fputs("vavizar: out of memory\n", stderr);
    return kExitUsage;
  }
  bool written = WriteAll(STDOUT_FILENO, output.out);
  WriteAll(STDERR_FILENO, output.err);
  if (!written) {
    std::perror("vavizar: cannot write the output");
    return kExitUsage;
  }
  return status;
}

}  // namespace vz::cli
