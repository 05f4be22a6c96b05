// Watching folders for changed files, for the tools that generate pages again
// when their templates change (inotify).
//
//   fso::FolderWatch watch;
//   watch.Add("templates", /*recursive=*/true);
//   fso::FolderChanges changes = watch.Wait(200);   // up to 200 ms
//   for (const std::string& path : changes.paths) ...  // "templates/news/list.html"
//   if (changes.overflow) ...                         // anything may have changed
//
// A path is reported when a file in a watched folder is written and closed,
// modified, created, deleted, renamed into or out of the folder, or has its
// attributes changed. Paths are the watched folder as given, "/", and the
// name relative to it. A folder created or renamed inside a recursive watch
// is watched from then on, and is reported as an overflow, since files may
// have come with it before its watch was in place.
//
// Threads: one thread calls Add and Wait; Wake may be called from any thread
// and from a signal handler.

#ifndef VAVIZAR_PLATFORM_FSO_WATCH_H_
#define VAVIZAR_PLATFORM_FSO_WATCH_H_

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vz::fso {

struct FolderChanges {
  // Each changed path once, in the order first seen.
  std::vector<std::string> paths;
  // Events were lost, or a folder came, went or moved: any file of the
  // watched folders may have changed.
  bool overflow = false;
  // Wake was called.
  bool woken = false;

  bool empty() const { return paths.empty() && !overflow; }
};

class FolderWatch {
 public:
  // Raises 67 "Too many files" when the system's limit of watch instances
  // or open files is reached.
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches `folder`, and with `recursive` every folder under it (links to
  // folders followed, each folder once). Adding a folder already watched
  // does nothing, except that `recursive` extends it. A folder that cannot
  // be watched raises as opening a file would (53, 76, 70, 75; 67 when the
  // limit of watched folders, fs.inotify.max_user_watches, is reached);
  // folders under it that cannot be watched are left out.
  void Add(const std::string& folder, bool recursive);

  // Waits up to `timeout_ms` milliseconds for a change (0: does not wait)
  // and returns every change that has arrived by then. A watched folder
  // that is gone is looked for again on each call and watched again when it
  // is back (an overflow).
  FolderChanges Wait(int timeout_ms);

  // Makes the current or next Wait return at once, with `woken` set.
  // Async-signal-safe.
  void Wake();

 private:
  struct Root {
    bool recursive = false;
    bool watched = false;  // false while the folder is gone
  };
  struct Watched {
    std::string path;
    std::string root;
    unsigned long device = 0;  // of the folder watched
    unsigned long inode = 0;
  };

  void AddTree(const std::string& root, const std::string& folder, bool recursive,
               std::set<std::pair<unsigned long, unsigned long>>& seen, bool raise);
  // Reads every event the descriptor holds into `changes`.
  void Drain(FolderChanges& changes);
  void Forget(int wd);

  int fd_ = -1;
  int wake_fd_ = -1;
  std::map<std::string, Root> roots_;
  std::map<int, Watched> watches_;  // by watch descriptor
  std::map<std::string, int> by_path_;
};

}  // namespace vz::fso

#endif  // VAVIZAR_PLATFORM_FSO_WATCH_H_
