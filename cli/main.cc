// The vavizar command: the library plus this thin main.

#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The template files' default code page is the character set of the
  // user's locale, which the process takes on only when asked.
  std::setlocale(LC_CTYPE, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  vz::cli::Output output;
  int status = vz::cli::Run(args, output);
  bool written = WriteAll(STDOUT_FILENO, output.out);
  WriteAll(STDERR_FILENO, output.err);
  if (!written) {
    std::perror("vavizar: cannot write the output");
    return vz::cli::kExitUsage;
  }
  return status;
}
