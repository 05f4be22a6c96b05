#include "cli/output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/error.h"
#include "cli/replace_file.h"
#include "cli/write.h"

namespace vz::cli {

OutputFolder::OutputFolder(const std::string& dir, bool no_wait, const std::string& waiting_line)
    : dir_(dir) {
  std::error_code made_error;
  std::filesystem::create_directories(dir, made_error);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw FatalError("cannot make the folder '" + dir + "'" +
                     (made_error ? ": " + made_error.message() : std::string()));
  }
  fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) throw FatalError("cannot open the folder '" + dir + "': " + std::strerror(errno));
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
  if (errno == EWOULDBLOCK) {
    if (no_wait) {
      close(fd_);
      throw FatalError("another build is writing into '" + dir + "' (--no-wait)");
    }
    WriteAll(STDERR_FILENO, waiting_line);
    int result;
    do {
      result = flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return;
  }
  const int saved = errno;
  close(fd_);
  throw FatalError("cannot lock the folder '" + dir + "': " + std::strerror(saved));
}

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) close(fd_);  // lets go of the lock
}

std::vector<std::string> OutputFolder::RemoveDeadTemporaryFiles() const {
  std::vector<std::string> removed;
  DIR* listing = opendir(dir_.c_str());
  if (listing == nullptr) return removed;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (!IsTemporaryName(name)) continue;
    // While the lock is held no live build writes here: the file is a
    // dead one's.
    if (unlink((dir_ + "/" + name).c_str()) == 0) removed.push_back(name);
  }
  closedir(listing);
  return removed;
}

}  // namespace vz::cli
