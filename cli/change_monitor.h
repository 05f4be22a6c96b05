// Telling when the inputs of a set's pages change, for the commands that
// generate pages again as their author saves: serve and build --watch.
//
//   ChangeMonitor monitor(args);           // the database and --templates of the command
//   monitor.AlsoWatch("/srv/shared");      // a folder of templates outside --templates
//   InputChanges changes = monitor.Wait(std::chrono::milliseconds(500));
//   if (changes.rows) ...                  // any page may have changed
//   for (const std::string& file : changes.files) ...
//
// Templates: the --templates folder and every folder under it are watched
// (platform/fso/watch.h), and the folders given to AlsoWatch. Rows: a SQLite
// database (--db) is looked at every 100 ms, through a connection of its
// own: its data_version, which a commit by any other connection changes,
// and the identity of the file, so that a database replaced by another file
// counts as changed too. An ODBC source is looked at every 2 s: a hash of
// every row of web_templet, web_page2func and web_tag.
//
// A change is returned once the files have been quiet for 40 ms (at most
// 400 ms after the first), so that an editor's save in several steps is one
// change.

#ifndef VAVIZAR_CLI_CHANGE_MONITOR_H_
#define VAVIZAR_CLI_CHANGE_MONITOR_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/ado/open.h"
#include "platform/com/ref.h"
#include "platform/fso/watch.h"
#include "platform/text.h"

namespace vz::cli {

struct InputChanges {
  std::vector<std::string> files;  // template files that changed, as the watch names them
  bool all_files = false;          // any template file may have changed
  bool rows = false;               // rows of the three tables may have changed
  bool woken = false;              // Wake was called

  bool empty() const { return files.empty() && !all_files && !rows; }
};

// `path` made absolute, with "." and ".." and links resolved as far as they
// exist, for telling whether a changed file is a page's template.
std::string CanonicalPath(const std::string& path);

// The folder of a template path as the component writes it ("\" and "/"
// both separate folders): "." for a bare name.
std::string FolderOfPath(const Text& path);

class ChangeMonitor {
 public:
  // Watches what `args` names: --db FILE or --odbc STRING, and --templates.
  // Throws an Error when the database cannot be opened or the folder cannot
  // be watched.
  explicit ChangeMonitor(const ParsedArgs& args);
  ChangeMonitor(const ChangeMonitor&) = delete;
  ChangeMonitor& operator=(const ChangeMonitor&) = delete;

  // Watches the files of `folder` too (not the folders under it); a folder
  // that does not exist is left out.
  void AlsoWatch(const std::string& folder);

  // Waits up to `timeout` for a change and returns it; an empty result when
  // the time ran out or Wake was called.
  InputChanges Wait(std::chrono::milliseconds timeout);

  // Ends the current or next Wait at once. Async-signal-safe.
  void Wake() { watch_.Wake(); }

 private:
  // Whether the rows changed since the last look; looks only when the
  // database's interval has passed.
  bool RowsChanged();
  bool SqliteChanged();
  bool OdbcChanged();
  void Merge(const fso::FolderChanges& from, InputChanges& into);

  const ParsedArgs args_;
  fso::FolderWatch watch_;
  std::set<std::string> also_;
  bool sqlite_ = false;
  std::string db_path_;
  com::Ref<ado::DatabaseConnection> conn_;
  std::optional<int64_t> data_version_;
  bool lost_ = false;  // the last look could not read the database
  std::pair<dev_t, ino_t> file_id_{0, 0};
  uint64_t rows_hash_ = 0;
  std::chrono::steady_clock::time_point next_look_;
};

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_CHANGE_MONITOR_H_
