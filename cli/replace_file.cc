#include "cli/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/write.h"

namespace vz::cli {

bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& bytes,
                 std::string* problem) {
  const std::string path = dir + "/" + name;
  const std::string temp = dir + "/." + name + ".tmp-" + std::to_string(getpid());
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = open(temp.c_str(), kFlags, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Left by an earlier process that had this process's number: it is gone.
    unlink(temp.c_str());
    fd = open(temp.c_str(), kFlags, 0666);
  }
  if (fd < 0) {
    *problem = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  bool ok = WriteAll(fd, bytes);
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
