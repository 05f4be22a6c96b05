#include "cli/change_monitor.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli/build_manifest.h"
#include "cli/database.h"
#include "platform/failure.h"
#include "store/page_source.h"

namespace vz::cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kSqliteInterval(100);
constexpr milliseconds kOdbcInterval(2000);
constexpr int kQuietMs = 40;
constexpr milliseconds kMostSettling(400);

std::pair<dev_t, ino_t> FileId(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {0, 0};
  return {st.st_dev, st.st_ino};
}

// A hash of every cell of `tables`, with its kind, so that NULL, 1 and "1"
// hash apart.
uint64_t HashRows(const std::vector<ado::RowTable>& tables) {
  InputHash hash;
  for (const ado::RowTable& table : tables) {
    hash.AddField(std::to_string(table.columns) + "x" + std::to_string(table.rows));
    for (const ado::Cell& cell : table.cells) {
      if (ado::IsNull(cell)) {
        hash.AddField("N");
      } else {
        hash.AddField(std::to_string(cell.index()) + ToUtf8(ado::CellText(cell)));
      }
    }
  }
  return hash.value();
}

}  // namespace

std::string CanonicalPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal().string() : canonical.string();
}

std::string FolderOfPath(const Text& path) {
  const std::filesystem::path file(ToUtf8(Replace(path, u"\\", u"/")));
  return file.has_parent_path() ? file.parent_path().string() : std::string(".");
}

ChangeMonitor::ChangeMonitor(const ParsedArgs& args) : args_(args) {
  conn_ = OpenDatabase(args_);
  sqlite_ = args_.options.count("db") != 0;
  if (sqlite_) {
    db_path_ = args_.options.at("db");
    file_id_ = FileId(db_path_);
    SqliteChanged();  // the first look only records where things stand
  } else {
    OdbcChanged();
  }
  next_look_ = Clock::now() + (sqlite_ ? kSqliteInterval : kOdbcInterval);
  if (std::optional<std::string> templates = Option(args_, "templates")) {
    const std::string folder = templates->empty() ? "." : *templates;
    try {
      watch_.Add(folder, /*recursive=*/true);
    } catch (const Failure& f) {
      throw FatalError("cannot watch the template folder '" + folder +
                       "': " + OneLine(f.description()));
    }
  }
}

void ChangeMonitor::AlsoWatch(const std::string& folder) {
  if (!also_.insert(folder).second) return;
  try {
    watch_.Add(folder, /*recursive=*/false);
  } catch (const Failure&) {
    // A folder that is not there holds no template to watch; it is looked
    // for again when the rows change.
    also_.erase(folder);
  }
}

bool ChangeMonitor::SqliteChanged() {
  const std::pair<dev_t, ino_t> id = FileId(db_path_);
  bool changed = false;
  if (id != file_id_) {
    // Another file now stands at the path (or none does): its rows are new.
    file_id_ = id;
    conn_ = nullptr;
    data_version_.reset();
    changed = true;
  }
  try {
    if (!conn_) conn_ = OpenDatabase(args_);
    com::Ref<ado::Recordset> rs = conn_->Execute(u"pragma data_version", ado::adOptionUnspecified);
    const int64_t version =
        rs->Eof() ? 0 : std::stoll(ToUtf8(ado::CellText(rs->FieldValue(u"data_version"))));
    rs->Close();
    if ((data_version_ && *data_version_ != version) || lost_) changed = true;
    data_version_ = version;
    lost_ = false;
  } catch (...) {
    // Locked past the busy timeout, or gone: looked at again next time, and
    // counted as a change once it can be read.
    conn_ = nullptr;
    data_version_.reset();
    lost_ = true;
  }
  return changed;
}

bool ChangeMonitor::OdbcChanged() {
  try {
    if (!conn_) conn_ = OpenDatabase(args_);
    const uint64_t hash = HashRows(ReadSiteRows(*conn_));
    const bool changed = hash != rows_hash_;
    rows_hash_ = hash;
    return changed;
  } catch (...) {
    // The link broke: a new connection is tried next time.
    conn_ = nullptr;
    return false;
  }
}

bool ChangeMonitor::RowsChanged() {
  const Clock::time_point now = Clock::now();
  if (now < next_look_) return false;
  next_look_ = now + (sqlite_ ? kSqliteInterval : kOdbcInterval);
  return sqlite_ ? SqliteChanged() : OdbcChanged();
}

void ChangeMonitor::Merge(const fso::FolderChanges& from, InputChanges& into) {
  for (const std::string& path : from.paths) {
    if (std::find(into.files.begin(), into.files.end(), path) == into.files.end())
      into.files.push_back(path);
  }
  into.all_files = into.all_files || from.overflow;
  into.woken = into.woken || from.woken;
}

InputChanges ChangeMonitor::Wait(milliseconds timeout) {
  InputChanges changes;
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    const auto until_look =
        std::chrono::duration_cast<milliseconds>(next_look_ - Clock::now()) + milliseconds(1);
    const int slice = static_cast<int>(
        std::clamp<int64_t>(std::min(left, until_look).count(), 0, kOdbcInterval.count()));
    Merge(watch_.Wait(slice), changes);
    if (changes.woken) return InputChanges{{}, false, false, true};
    changes.rows = changes.rows || RowsChanged();
    if (!changes.empty()) break;
    if (Clock::now() >= deadline) return changes;
  }
  // Settle: what else arrives while the files are still being written.
  const Clock::time_point settled = Clock::now() + kMostSettling;
  while (Clock::now() < settled) {
    const fso::FolderChanges more = watch_.Wait(kQuietMs);
    Merge(more, changes);
    if (changes.woken) return InputChanges{{}, false, false, true};
    if (more.empty()) break;
  }
  changes.rows = changes.rows || RowsChanged();
  return changes;
}

}  // namespace vz::cli
