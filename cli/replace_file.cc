#include "cli/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/write.h"

namespace vz::cli {

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& bytes,
                 mode_t mode, std::string* problem) {
  const std::string path = dir + "/" + name;
  std::string temp = dir + "/." + name + ".tmp-XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *problem = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes);
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    *problem = "cannot write '" + path + "': " + std::strerror(saved);
  }
  return ok;
}

}  // namespace vz::cli
