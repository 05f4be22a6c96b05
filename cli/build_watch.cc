#include "cli/build_watch.h"

#include <set>
#include <string>

#include "cli/change_monitor.h"
#include "cli/database.h"
#include "cli/write.h"
#include "platform/failure.h"
#include "store/page_source.h"

namespace vz::cli {
namespace {

// The template files of the set's pages (CanonicalPath), and the folders
// that hold those outside --templates, watched too.
std::set<std::string> SetTemplates(const ParsedArgs& args, ChangeMonitor& monitor) {
  std::set<std::string> files;
  try {
    com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);
    const std::optional<std::string> templates = Option(args, "templates");
    const Text root = templates ? TempletRootOf(FromUtf8(*templates)) : Text();
    const Text set_id = FromUtf8(Option(args, "set").value_or(""));
    for (const Text& page : ListSetPages(*db, set_id)) {
      const std::optional<Text> path = TemplatePathOf(*db, root, set_id, page);
      if (!path) continue;
      files.insert(CanonicalPath(ToUtf8(Replace(*path, u"\\", u"/"))));
      if (!templates || LeavesTempletRoot(root, *path)) monitor.AlsoWatch(FolderOfPath(*path));
    }
  } catch (...) {
    // The next build tells what is wrong with the database.
  }
  return files;
}

void Flush(Output& output) {
  if (output.err_fd < 0 || output.err.empty()) return;
  WriteAll(output.err_fd, output.err);
  output.err.clear();
}

// Whether `changes` can touch a page: rows, or a file of the set's templates.
bool Affects(const InputChanges& changes, const std::set<std::string>& templates) {
  if (changes.rows || changes.all_files) return true;
  for (const std::string& file : changes.files) {
    if (templates.count(CanonicalPath(file)) != 0) return true;
  }
  return false;
}

}  // namespace

int WatchBuilds(const ParsedArgs& args, Output& output,
                const std::function<int(const ParsedArgs&, Output&)>& build,
                const std::function<bool()>& stopped) {
  // Watching starts before the first build, so that a save during it is seen.
  ChangeMonitor monitor(args);
  int status = build(args, output);
  Flush(output);
  std::set<std::string> templates = SetTemplates(args, monitor);
  ParsedArgs again = args;
  again.options["changed"] = "";
  while (!stopped()) {
    const InputChanges changes = monitor.Wait(std::chrono::milliseconds(200));
    if (stopped()) break;
    if (changes.rows) templates = SetTemplates(args, monitor);
    if (!Affects(changes, templates)) continue;
    try {
      status = build(again, output);
    } catch (const Error& e) {
      output.err += "vavizar build: " + std::string(e.what()) + "\n";
      status = kExitLogged;
    }
    Flush(output);
  }
  return status;
}

}  // namespace vz::cli
