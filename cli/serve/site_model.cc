#include "cli/serve/site_model.h"

#include <algorithm>
#include <set>
#include <utility>

#include "cli/database.h"
#include "cli/error.h"
#include "component/page_ptr.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "store/page_source.h"

namespace vz::cli {
namespace {

// Events kept for streams that fall behind; one further behind is told that
// every page changed.
constexpr size_t kKeptEvents = 4096;
// Page views kept made, for a page asked for again before it changes.
constexpr size_t kCachedViews = 4;
// Stands for every page in an event's list.
constexpr char kEveryPage[] = "*";

std::string Which(const SiteSettings& settings, const std::string& id) {
  return "page " + id + " of set " + settings.set;
}

// A Page on `conn` with the template folder of `settings`.
PagePtr MakePage(ado::Connection& conn, const SiteSettings& settings) {
  PagePtr page = PagePtr::Create();
  page.PutRefConnection(&conn);
  if (settings.templates) page.PutTempletRoot(FromUtf8(*settings.templates));
  return page;
}

}  // namespace

SiteModel::SiteModel(const ParsedArgs& args, SiteSettings settings)
    : args_(args), settings_(std::move(settings)), sqlite_(args.options.count("db") != 0) {
  if (settings_.templates) templet_root_ = TempletRootOf(FromUtf8(*settings_.templates));
  input_settings_.set_id = FromUtf8(settings_.set);
  input_settings_.templet_root = templet_root_;
  input_settings_.encoding = settings_.encoding;
  input_settings_.code_page = fso::CodePage();
  conn_ = OpenDatabase(args_);
}

ado::Connection& SiteModel::Connection() {
  if (!conn_) conn_ = OpenDatabase(args_);
  return *conn_;
}

void SiteModel::Changed(const std::string& id) {
  ++sequence_;
  events_.emplace_back(sequence_, id);
  if (events_.size() > kKeptEvents) events_.pop_front();
  changed_.notify_all();
}

void SiteModel::ListPages() {
  std::vector<Text> ids;
  std::optional<Finding> layout;
  std::string problem;
  {
    std::lock_guard<std::mutex> db(db_mu_);
    try {
      ado::Connection& conn = Connection();
      CheckSchema(conn);
      ids = ListSetPages(conn, input_settings_.set_id);
      check_ = std::make_shared<const SetCheck>(conn, settings_.templates, settings_.encoding);
      layout = check_->layout();
      if (ids.empty()) problem = "no page is registered for set " + settings_.set;
    } catch (...) {
      problem = "the pages cannot be read: " + OneLine(CurrentError().description);
      conn_ = nullptr;  // opened again next time, in case the link broke
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (!problem.empty() && ids.empty() && listed_) {
    // Keep the pages shown; the notice says what is wrong.
  } else {
    std::vector<PageState> pages;
    std::map<std::string, size_t> index;
    for (const Text& id : ids) {
      const std::string key = ToUtf8(id);
      auto old = index_.find(key);
      PageState state = old != index_.end() ? pages_[old->second] : PageState{};
      state.id = key;
      index[key] = pages.size();
      pages.push_back(std::move(state));
    }
    for (auto it = sources_.begin(); it != sources_.end();)
      it = index.count(it->first) != 0 ? std::next(it) : sources_.erase(it);
    pages_ = std::move(pages);
    index_ = std::move(index);
  }
  listed_ = true;
  layout_ = layout;
  problem_ = problem;
  Changed("");
}

void SiteModel::UpdatePage(const std::string& id) {
  const Text page_id = FromUtf8(id);
  PageState state;
  Source source;
  {
    std::lock_guard<std::mutex> db(db_mu_);
    try {
      ado::Connection& conn = Connection();
      const ReadSnapshot snapshot(conn, sqlite_);
      const PageInputs inputs =
          ReadPageInputs(conn, templet_root_, input_settings_.set_id, page_id);
      source.inputs = HashPageInputs(input_settings_, inputs);
      source.key = CanonicalPath(ShownPath(inputs.path));
      if (!settings_.templates || LeavesTempletRoot(templet_root_, inputs.path))
        source.folder = FolderOfPath(inputs.path);
      {
        std::lock_guard<std::mutex> lock(mu_);
        auto known = sources_.find(id);
        if (known != sources_.end() && known->second.inputs == source.inputs) return;
      }
      state.file = ShownPath(inputs.path);
      PagePtr page = MakePage(conn, settings_);
      page.AspCodeOf(input_settings_.set_id, page_id);
      const std::vector<std::string> log = LogLines(page.GetErrors());
      if (!inputs.registered) {
        state.status = PageState::Status::kFails;
        state.first_log = log.empty() ? "no template is registered" : log.front();
      } else {
        if (check_) {
          check_->CheckPage(inputs, Which(settings_, id), [&state](Finding&& f) {
            ++(f.severity == Severity::kError ? state.errors : state.warnings);
          });
        }
        if (!log.empty()) {
          state.status = PageState::Status::kFails;
          state.first_log = log.front();
        } else {
          state.status = state.errors + state.warnings > 0 ? PageState::Status::kFindings
                                                           : PageState::Status::kClean;
        }
      }
    } catch (...) {
      state.status = PageState::Status::kFails;
      state.first_log = OneLine(CurrentError().description);
      source.inputs.reset();  // tried again on the next change
      conn_ = nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  auto at = index_.find(id);
  if (at == index_.end()) return;  // no longer a page of the set
  state.id = id;
  if (state.file.empty()) state.file = pages_[at->second].file;
  Changed(id);
  state.version = sequence_;
  pages_[at->second] = std::move(state);
  sources_[id] = std::move(source);
}

void SiteModel::Refresh(const InputChanges& changes, const std::function<bool()>& stop) {
  bool every = changes.rows || changes.all_files;
  {
    std::lock_guard<std::mutex> lock(mu_);
    every = every || !listed_;
  }
  if (changes.rows || !listed_) ListPages();
  std::vector<std::string> ids;
  {
    std::lock_guard<std::mutex> lock(mu_);
    std::set<std::string> keys;
    for (const std::string& file : changes.files) keys.insert(CanonicalPath(file));
    for (const PageState& page : pages_) {
      auto source = sources_.find(page.id);
      if (every || source == sources_.end() || keys.count(source->second.key) != 0)
        ids.push_back(page.id);
    }
  }
  for (const std::string& id : ids) {
    if (stop()) return;
    UpdatePage(id);
  }
}

std::vector<std::string> SiteModel::OutsideFolders() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::set<std::string> folders;
  for (const auto& [id, source] : sources_) {
    if (!source.folder.empty()) folders.insert(source.folder);
  }
  return std::vector<std::string>(folders.begin(), folders.end());
}

std::string SiteModel::ListJson() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::optional<std::string> notice;
  if (!problem_.empty()) notice = problem_;
  if (layout_) notice = (notice ? *notice + "; " : std::string()) + ToUtf8(layout_->message);
  return cli::ListJson(settings_.set, pages_, notice, sequence_);
}

bool SiteModel::HasPage(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mu_);
  return index_.count(id) != 0;
}

std::optional<std::string> SiteModel::PageJson(const std::string& id) {
  PageView view;
  view.set = settings_.set;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto at = index_.find(id);
    if (at == index_.end()) return std::nullopt;
    view.state = pages_[at->second];
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      if (it->id != id || it->version != view.state.version) continue;
      cache_.splice(cache_.begin(), cache_, it);
      return cache_.front().json;
    }
  }
  PageTrace trace;
  PageTrace exec_trace;
  {
    std::lock_guard<std::mutex> db(db_mu_);
    try {
      ado::Connection& conn = Connection();
      const ReadSnapshot snapshot(conn, sqlite_);
      const Text page_id = FromUtf8(id);
      PageInputs inputs = ReadPageInputs(conn, templet_root_, input_settings_.set_id, page_id);
      if (inputs.read_failure) view.read_failure = OneLine(inputs.read_failure->description());
      PagePtr page = MakePage(conn, settings_);
      view.asp.text = Text(page.AspCodeOf(input_settings_.set_id, page_id, trace).view());
      const Text asp_log = page.GetErrors();
      view.exec.text = Text(page.ExecuteCodeOf(input_settings_.set_id, page_id, exec_trace).view());
      const Text log = page.GetErrors();
      view.asp.log = LogLines(asp_log);
      view.exec.log = LogLines(log.substr(std::min(asp_log.size(), log.size())));
      if (inputs.registered && check_) {
        check_->CheckPage(inputs, Which(settings_, id),
                          [&view](Finding&& f) { view.findings.push_back(std::move(f)); });
      }
      view.marks = FindTagMarks(inputs.text, LintRowsOf(inputs.tags));
      if (view.state.file.empty()) view.state.file = ShownPath(inputs.path);
      view.template_text = std::move(inputs.text);
    } catch (...) {
      view.asp.log.push_back(OneLine(CurrentError().description));
      conn_ = nullptr;
    }
  }
  // The origins point into the template the generation read, and the runs
  // of both codes into the one list of expansions: a file saved between the
  // reads gives a new version, and the page asks again.
  if (trace.template_text == view.template_text) {
    view.expansions = &trace.origins;
    view.asp.origins = &trace.origins;
    if (exec_trace.template_text == view.template_text &&
        exec_trace.origins.occurrences == trace.origins.occurrences &&
        exec_trace.origins.rows == trace.origins.rows)
      view.exec.origins = &exec_trace.origins;
  }
  std::string json = PageViewJson(view);
  std::lock_guard<std::mutex> lock(mu_);
  cache_.push_front(CachedView{id, view.state.version, json});
  if (cache_.size() > kCachedViews) cache_.pop_back();
  return json;
}

std::string SiteModel::WaitForChange(uint64_t& seen, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait_for(lock, timeout, [&] { return stopped_ || sequence_ > seen; });
  if (stopped_ || sequence_ <= seen) return std::string();
  std::vector<std::string> pages;
  if (events_.empty() || events_.front().first > seen + 1) {
    pages.push_back(kEveryPage);
  } else {
    std::set<std::string> told;
    for (const auto& [sequence, id] : events_) {
      if (sequence > seen && !id.empty() && told.insert(id).second) pages.push_back(id);
    }
  }
  seen = sequence_;
  return ChangeEvent(seen, pages, true);
}

uint64_t SiteModel::Sequence() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sequence_;
}

void SiteModel::Stop() {
  std::lock_guard<std::mutex> lock(mu_);
  stopped_ = true;
  changed_.notify_all();
}

bool SiteModel::Stopped() const {
  std::lock_guard<std::mutex> lock(mu_);
  return stopped_;
}

}  // namespace vz::cli
