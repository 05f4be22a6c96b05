#include "cli/program.h"

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>

#include "cli/commands.h"
#include "cli/write.h"
#include "platform/memory.h"

namespace vz::cli {

int RunProgram(const std::vector<std::string>& args) {
  // The template files' default code page is the character set of the
  // user's locale, which the process takes on only when asked.
  std::setlocale(LC_CTYPE, "");
  // A build frees and takes back page-sized buffers at a great rate on each
  // worker thread; handing the freed top of a thread's heap back to the
  // system every time made every page fault its memory in again.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // A page's texts of a few megabytes (the template, the generated code, its
  // BSTR) come from the heap rather than a mapping each: a freed one is
  // taken again by the next instead of fresh pages, faulted in anew. (32 MB
  // is the most the allocator takes; larger texts keep their own mappings.)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  // And that heap comes in huge pages: on these machines a page's first
  // touch costs far more in 4 KB pages than in 2 MB ones.
  UseHugePagesForHeap(size_t{128} << 20);
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
  bool written = output.out_error == 0 && WriteAll(STDOUT_FILENO, output.out);
  const int write_error = output.out_error != 0 ? output.out_error : errno;
  WriteAll(STDERR_FILENO, output.err);
  if (!written) {
    errno = write_error;
    std::perror("vavizar: cannot write the output");
    return kExitUsage;
  }
  return status;
}

}  // namespace vz::cli
