// The pages of one template set as `vavizar serve` shows them: the state of
// each page (generated cleanly, with findings, or failing), kept up to date
// as its inputs change, and the view of a page, made when asked for.
//
//   SiteModel model(args, settings);
//   model.Refresh(InputChanges{.rows = true}, stop);  // every page, the first time
//   std::string list = model.ListJson();
//   std::optional<std::string> view = model.PageJson("3");
//
// A page is generated again only when its inputs, read as the component
// reads them, hash differently from those its state was made from
// (HashPageInputs, as build --changed decides). Every change of a state or
// of the list counts one up a sequence number, which the server's event
// stream follows (WaitForChange).
//
// Threads: Refresh runs on one thread; the others on any. The database
// connection is used by one of them at a time.

#ifndef VAVIZAR_CLI_SERVE_SITE_MODEL_H_
#define VAVIZAR_CLI_SERVE_SITE_MODEL_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/build_manifest.h"
#include "cli/change_monitor.h"
#include "cli/options.h"
#include "cli/page_check.h"
#include "cli/serve/page_json.h"
#include "platform/ado/open.h"
#include "platform/com/ref.h"

namespace vz::cli {

struct SiteSettings {
  std::string set;                       // as given to --set
  std::optional<std::string> templates;  // --templates, as given
  std::string encoding = "UTF-8";        // the output encoding the findings look at
};

class SiteModel {
 public:
  // `args` name the database (opened again when its link breaks). REQUIRES:
  // the code page is set; the database opens.
  SiteModel(const ParsedArgs& args, SiteSettings settings);

  // Brings the states up to date with `changes`: when the rows changed (and
  // on the first call) the list of pages and every page, else the pages
  // whose template file is among `changes.files` (every page for
  // `all_files`). Returns early when `stop` turns true between pages.
  void Refresh(const InputChanges& changes, const std::function<bool()>& stop);

  // The folders of the templates that lie outside --templates (every
  // template's, without it), for the change monitor to watch as well.
  std::vector<std::string> OutsideFolders() const;

  std::string ListJson() const;
  // Whether `id` is a page of the set.
  bool HasPage(const std::string& id) const;
  // The view of page `id` of the set (page_json.h); nothing when the set
  // has no such page.
  std::optional<std::string> PageJson(const std::string& id);

  // Waits up to `timeout` for the sequence to pass `seen`; then returns the
  // event that tells of the changes since (ChangeEvent) and moves `seen` on.
  // "" when the time ran out or the model was stopped.
  std::string WaitForChange(uint64_t& seen, std::chrono::milliseconds timeout);
  uint64_t Sequence() const;

  // Ends every wait, now and later.
  void Stop();
  bool Stopped() const;

 private:
  // What a page's state was made from.
  struct Source {
    std::optional<uint64_t> inputs;  // HashPageInputs
    std::string key;                 // CanonicalPath of its template
    std::string folder;              // of its template, when outside --templates
  };
  struct CachedView {
    std::string id;
    uint64_t version;
    std::string json;
  };

  ado::Connection& Connection();  // REQUIRES: db_mu_ held
  void ListPages();
  void UpdatePage(const std::string& id);
  // Records a change of page `id` ("" for the list alone). REQUIRES: mu_ held.
  void Changed(const std::string& id);

  const ParsedArgs args_;
  const SiteSettings settings_;
  const bool sqlite_;
  PageInputSettings input_settings_;
  Text templet_root_;

  std::mutex db_mu_;  // guards the connection and check_
  com::Ref<ado::DatabaseConnection> conn_;
  std::shared_ptr<const SetCheck> check_;

  mutable std::mutex mu_;  // guards what follows
  std::condition_variable changed_;
  std::vector<PageState> pages_;
  std::map<std::string, size_t> index_;  // id -> place in pages_
  std::map<std::string, Source> sources_;
  std::optional<Finding> layout_;
  std::string problem_;  // why the list could not be read, if it could not
  uint64_t sequence_ = 0;
  std::deque<std::pair<uint64_t, std::string>> events_;
  std::list<CachedView> cache_;
  bool listed_ = false;
  bool stopped_ = false;
};

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_SERVE_SITE_MODEL_H_
