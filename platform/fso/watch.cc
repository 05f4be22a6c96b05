#include "platform/fso/watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/failure.h"
#include "platform/fso/file_system.h"

namespace vz::fso {
namespace {

constexpr int32_t kTooManyFiles = 67;

constexpr uint32_t kMask = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                           IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// `folder` without the slashes after it ("/" stays "/").
std::string Trimmed(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The failure for an errno value of inotify_add_watch on `folder`.
[[noreturn]] void RaiseWatchError(int error, const std::string& folder) {
  if (error == ENOSPC) {
    Raise(kTooManyFiles,
          u"Too many files: the limit of watched folders (fs.inotify.max_user_watches) is "
          u"reached");
  }
  if (error == EMFILE) Raise(kTooManyFiles, u"Too many files");
  RaiseFileError(error, folder);
}

bool IsFolder(const std::string& path, struct stat* st) {
  return stat(path.c_str(), st) == 0 && S_ISDIR(st->st_mode);
}

}  // namespace

FolderWatch::FolderWatch() {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) Raise(kTooManyFiles, u"Too many files: no file watch can be made");
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ < 0) {
    close(fd_);
    Raise(kTooManyFiles);
  }
}

FolderWatch::~FolderWatch() {
  close(fd_);
  close(wake_fd_);
}

void FolderWatch::Add(const std::string& folder, bool recursive) {
  const std::string root = Trimmed(folder);
  Root& entry = roots_[root];
  entry.recursive = entry.recursive || recursive;
  std::set<std::pair<unsigned long, unsigned long>> seen;
  try {
    AddTree(root, root, entry.recursive, seen, /*raise=*/true);
  } catch (...) {
    if (!entry.watched) roots_.erase(root);
    throw;
  }
  entry.watched = true;
}

void FolderWatch::AddTree(const std::string& root, const std::string& folder, bool recursive,
                          std::set<std::pair<unsigned long, unsigned long>>& seen, bool raise) {
  struct stat st;
  if (!IsFolder(folder, &st)) {
    if (!raise) return;
    if (stat(folder.c_str(), &st) != 0) RaiseFileError(errno, folder);
    Raise(kPathNotFound);  // a file where the folder should be
  }
  if (!seen.insert({static_cast<unsigned long>(st.st_dev), static_cast<unsigned long>(st.st_ino)})
           .second)
    return;
  const int wd = inotify_add_watch(fd_, folder.c_str(), kMask);
  if (wd < 0) {
    if (raise) RaiseWatchError(errno, folder);
    return;
  }
  auto [it, added] =
      watches_.emplace(wd, Watched{folder, root, static_cast<unsigned long>(st.st_dev),
                                   static_cast<unsigned long>(st.st_ino)});
  if (!added) {
    // Watched before: under another name when it was renamed since, and
    // alone when it is now part of a recursive watch.
    by_path_.erase(it->second.path);
    it->second.path = folder;
    if (recursive) it->second.root = root;
  }
  by_path_[folder] = wd;
  if (!recursive) return;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> folders;
  while (const dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (e->d_type != DT_DIR && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) continue;
    folders.push_back(folder + "/" + e->d_name);
  }
  closedir(dir);
  for (const std::string& sub : folders) AddTree(root, sub, true, seen, false);
}

void FolderWatch::Forget(int wd) {
  auto it = watches_.find(wd);
  if (it == watches_.end()) return;
  auto root = roots_.find(it->second.path);
  if (root != roots_.end()) root->second.watched = false;
  by_path_.erase(it->second.path);
  watches_.erase(it);
}

void FolderWatch::Drain(FolderChanges& changes) {
  alignas(inotify_event) char buffer[16384];
  std::set<std::string> seen(changes.paths.begin(), changes.paths.end());
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      p += sizeof(inotify_event) + event->len;
      if (event->mask & IN_Q_OVERFLOW) {
        changes.overflow = true;
        continue;
      }
      auto it = watches_.find(event->wd);
      if (it == watches_.end()) continue;
      if (event->mask & IN_IGNORED) {
        Forget(event->wd);
        changes.overflow = true;
        continue;
      }
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        // A folder moved within a recursive watch is already watched under
        // its new name; one moved away keeps its watch under a path that is
        // no longer its own: drop it (it is watched again if it comes back).
        struct stat st;
        const bool still_there = stat(it->second.path.c_str(), &st) == 0 &&
                                 static_cast<unsigned long>(st.st_dev) == it->second.device &&
                                 static_cast<unsigned long>(st.st_ino) == it->second.inode;
        if (!still_there) {
          inotify_rm_watch(fd_, event->wd);
          Forget(event->wd);
        }
        changes.overflow = true;
        continue;
      }
      if (event->len == 0) continue;
      const std::string path = it->second.path + "/" + event->name;
      if (event->mask & IN_ISDIR) {
        if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
          const std::string root = it->second.root;
          auto r = roots_.find(root);
          if (r != roots_.end() && r->second.recursive) {
            std::set<std::pair<unsigned long, unsigned long>> none;
            AddTree(root, path, true, none, false);
          }
        }
        changes.overflow = true;
        continue;
      }
      if (seen.insert(path).second) changes.paths.push_back(path);
    }
  }
}

FolderChanges FolderWatch::Wait(int timeout_ms) {
  FolderChanges changes;
  for (auto& [root, entry] : roots_) {
    if (entry.watched) continue;
    struct stat st;
    if (!IsFolder(root, &st)) continue;
    std::set<std::pair<unsigned long, unsigned long>> seen;
    AddTree(root, root, entry.recursive, seen, false);
    entry.watched = by_path_.count(root) != 0;
    changes.overflow = changes.overflow || entry.watched;
  }
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  const int ready = changes.overflow ? 0 : poll(fds, 2, timeout_ms);
  if (ready < 0 && errno != EINTR) Raise(kDeviceIoError, u"Device I/O error");
  uint64_t count = 0;
  if (read(wake_fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count))
    changes.woken = true;
  Drain(changes);
  return changes;
}

void FolderWatch::Wake() {
  const uint64_t one = 1;
  // Nothing to do when it fails: the counter is already full of wakes.
  [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
}

}  // namespace vz::fso
