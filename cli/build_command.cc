#include "cli/build_command.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/build_manifest.h"
#include "cli/database.h"
#include "cli/replace_file.h"
#include "cli/write.h"
#include "component/page_ptr.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"

namespace vz::cli {

const char kBuildUsage[] =
    "usage: vavizar build [options] --set SET --out DIR [--exec] [--jobs N] [--changed]\n"
    "Generates every page of template set SET into DIR: DIR/PAGE.asp, or with\n"
    "--exec DIR/PAGE.vbs, encoded with --encoding. Each file is written under a\n"
    "temporary name and renamed into place. A page whose generation logs a\n"
    "failure is not written (its previous file stays) and is named on stderr;\n"
    "DIR/build.log holds every log line of the run, each led by its page (line\n"
    "breaks inside a message become blanks).\n"
    "  --set SET              the template set (a number)\n"
    "  --out DIR              the output folder, made when missing\n"
    "  --exec                 write execute code instead of server-page code\n"
    "  --jobs N               parallel workers (default: the number of cores)\n"
    "  --changed              generate only the pages whose template, tag rows or\n"
    "                         output options changed since the last build into DIR\n"
    "                         (recorded in DIR/build.manifest), or whose file is gone\n"
    "Interrupted (SIGINT, SIGTERM), it takes no new page, finishes those under way\n"
    "and exits 1. The summary line on stderr counts the pages written, unchanged\n"
    "and failed. The options below apply to it as to asp; --encoding is that of\n"
    "the files.\n"
    "exit status: 0 every page written or unchanged, 1 some page failed or the\n"
    "             build was interrupted, 2 bad usage or a database error\n";

namespace {

constexpr char kBuildLogName[] = "build.log";
constexpr int kMaxJobs = 256;

// Set by SIGINT and SIGTERM while a build runs: take no new page.
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) { g_stop_requested.store(true, std::memory_order_relaxed); }

// Catches SIGINT and SIGTERM for its lifetime, then puts back what was there.
class StopSignals {
 public:
  StopSignals() {
    g_stop_requested.store(false);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;  // reads and writes under way go on
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction old_int_ = {};
  struct sigaction old_term_ = {};
};

int Usage(const std::string& problem, Output& output) {
  output.err += "vavizar build: " + problem + "\n";
  output.err += "Try 'vavizar build --help'.\n";
  return kExitUsage;
}

bool IsPlainNumber(std::string_view s) {
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

enum class Outcome { kNotBuilt, kWritten, kUnchanged, kFailed };

struct PageJob {
  std::string id;
  Outcome outcome = Outcome::kNotBuilt;
  std::optional<uint64_t> inputs;  // hash of the inputs: with --changed, when readable
  std::vector<std::string> log;    // log lines of its generation, in order
};

// What the workers share. Each PageJob is written by the one worker that took
// it and read by the main thread after every worker has ended.
struct Build {
  const ParsedArgs* args = nullptr;
  PageInputSettings settings;
  std::string out_dir;
  std::string extension;
  bool changed_only = false;
  bool utf8 = false;  // the encoding is UTF-8 itself
  Manifest previous;
  std::vector<PageJob> pages;

  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  std::atomic<bool> abort{false};  // a worker could not open the database

  std::mutex mu;
  std::condition_variable progress;
  int workers_running = 0;       // guarded by mu
  std::string database_problem;  // guarded by mu; the first worker's
};

// The entries of a log text, one line each: without their CR LF, and with
// the line breaks a driver's message may hold made blanks, so that every
// line of build.log starts with its page.
void SplitLines(const Text& log, std::vector<std::string>& lines) {
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find(u"\r\n", at);
    if (end == Text::npos) end = log.size();
    if (end > at) lines.push_back(OneLine(log.substr(at, end - at)));
    at = end + 2;
  }
}

// The bytes of a page's file. UTF-8 takes the direct conversion unless a
// surrogate is there, whose lone halves Encode writes as "?".
std::string EncodeCode(const Build& build, const Text& code) {
  if (build.utf8 &&
      std::none_of(code.begin(), code.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }))
    return ToUtf8(code);
  return fso::Encode(build.settings.encoding, code);
}

void BuildPage(Build& build, PagePtr& page, ado::Connection& conn, size_t& logged, PageJob& job) {
  if (!IsPlainNumber(job.id)) {
    job.outcome = Outcome::kFailed;
    job.log.push_back("page identifier '" + job.id + "' is not a number");
    return;
  }
  const Text page_id = FromUtf8(job.id);
  const std::string file_name = job.id + build.extension;
  if (build.changed_only) {
    try {
      job.inputs = HashPageInputs(conn, build.settings, page_id);
    } catch (const Failure&) {
      // The generation reads the same rows and logs what went wrong.
    }
  }
  if (job.inputs) {
    auto before = build.previous.find(job.id);
    struct stat st;
    if (before != build.previous.end() && before->second == *job.inputs &&
        stat((build.out_dir + "/" + file_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      job.outcome = Outcome::kUnchanged;
      return;
    }
  }
  try {
    Text code = build.settings.execute ? page.CreateExecuteCode(build.settings.set_id, page_id)
                                       : page.CreateAspCode(build.settings.set_id, page_id);
    Text log = page.GetErrors();
    if (log.size() > logged) {
      SplitLines(log.substr(logged), job.log);
      logged = log.size();
      job.outcome = Outcome::kFailed;
      return;
    }
    std::string problem;
    if (!ReplaceFile(build.out_dir, file_name, EncodeCode(build, code), &problem)) {
      job.outcome = Outcome::kFailed;
      job.log.push_back(problem);
      return;
    }
    job.outcome = Outcome::kWritten;
  } catch (const Failure& f) {
    job.outcome = Outcome::kFailed;
    job.log.push_back(OneLine(f.description()));
    // Whatever the call logged belongs to this page, not the next one.
    try {
      logged = page.GetErrors().size();
    } catch (const Failure&) {
    }
  }
}

void Worker(Build& build) {
  std::string problem;
  bool usage_mistake = false;
  std::optional<com::Ref<ado::DatabaseConnection>> db =
      OpenDatabase(*build.args, &problem, &usage_mistake);
  std::optional<PagePtr> page;
  if (db) {
    try {
      page = PagePtr::Create();
      page->PutRefConnection(db->get());
      if (auto root = build.args->options.find("templates"); root != build.args->options.end())
        page->PutTempletRoot(FromUtf8(root->second));
    } catch (const Failure& f) {
      problem = OneLine(f.description());
      page.reset();
    }
  }
  if (page) {
    size_t logged = page->GetErrors().size();
    while (!g_stop_requested.load(std::memory_order_relaxed) && !build.abort.load()) {
      size_t index = build.next.fetch_add(1);
      if (index >= build.pages.size()) break;
      BuildPage(build, *page, **db, logged, build.pages[index]);
      build.done.fetch_add(1);
    }
  } else {
    build.abort.store(true);
  }
  page.reset();
  db.reset();
  std::lock_guard<std::mutex> lock(build.mu);
  if (!problem.empty() && build.database_problem.empty()) build.database_problem = problem;
  --build.workers_running;
  build.progress.notify_all();
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

// "  340/1000 pages  1520 pages/s  0 s left", over the previous one.
void ShowProgress(size_t done, size_t total, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char line[128];
  if (rate > 0) {
    std::snprintf(line, sizeof line, "\r%zu/%zu pages  %.0f pages/s  %.0f s left\033[K", done,
                  total, rate, static_cast<double>(total - done) / rate);
  } else {
    std::snprintf(line, sizeof line, "\r%zu/%zu pages\033[K", done, total);
  }
  WriteAll(STDERR_FILENO, line);
}

// The distinct page identifiers of the set, ascending, through the host's
// own connection.
std::vector<PageJob> ListPages(const ParsedArgs& args, const Text& set_id, Output& output,
                               int* status) {
  std::string problem;
  bool usage_mistake = false;
  std::optional<com::Ref<ado::DatabaseConnection>> db =
      OpenDatabase(args, &problem, &usage_mistake);
  if (!db) {
    *status = usage_mistake ? Usage(problem, output) : kExitUsage;
    if (!usage_mistake) output.err += "vavizar build: " + problem + "\n";
    return {};
  }
  std::vector<PageJob> pages;
  try {
    com::Ref<ado::Recordset> rs =
        (*db)->Execute(Concat({u"select distinct page_id from web_templet where tset_id=",
                               set_id.empty() ? Text(u"null") : set_id, u" order by page_id"}),
                       ado::adOptionUnspecified);
    std::set<std::string> seen;
    if (!rs->Eof()) {
      ado::RowTable rows = rs->GetRows(ado::adGetRowsRest);
      for (int32_t row = 0; row < rows.rows; ++row) {
        const ado::Cell& cell = rows.At(0, row);
        if (ado::IsNull(cell)) continue;
        std::string id = ToUtf8(ado::CellText(cell));
        if (!seen.insert(id).second) continue;
        PageJob job;
        job.id = std::move(id);
        pages.push_back(std::move(job));
      }
    }
    rs->Close();
  } catch (const Failure& f) {
    output.err += "vavizar build: cannot read the pages of set " + ToUtf8(set_id) + ": " +
                  OneLine(f.description()) + "\n";
    *status = kExitUsage;
    return {};
  }
  *status = kExitOk;
  return pages;
}

}  // namespace

int RunBuild(const ParsedArgs& args, Output& output) {
  const auto& options = args.options;
  auto set = options.find("set");
  auto out = options.find("out");
  if (set == options.end()) return Usage("give the template set with --set SET", output);
  if (out == options.end()) return Usage("give the output folder with --out DIR", output);
  if (!set->second.empty() && !IsPlainNumber(set->second))
    return Usage("--set: identifier '" + set->second + "' is not a number", output);
  if (out->second.empty()) return Usage("--out: the output folder is empty", output);
  int jobs = static_cast<int>(std::thread::hardware_concurrency());
  if (auto j = options.find("jobs"); j != options.end()) {
    std::optional<int64_t> n = ParseCount(j->second, 1, kMaxJobs);
    if (!n)
      return Usage(
          "--jobs: '" + j->second + "' is not a number from 1 to " + std::to_string(kMaxJobs),
          output);
    jobs = static_cast<int>(*n);
  }
  if (std::string problem; !ApplyMaxChars(args, &problem)) return Usage(problem, output);
  if (jobs < 1) jobs = 1;

  auto build = std::make_unique<Build>();
  build->args = &args;
  PageInputSettings& settings = build->settings;
  settings.set_id = FromUtf8(set->second);
  settings.execute = options.count("exec") != 0;
  settings.encoding = options.count("encoding") != 0 ? options.at("encoding") : "UTF-8";
  try {
    fso::CheckEncoding(settings.encoding);
    if (auto cp = options.find("codepage"); cp != options.end()) fso::SetCodePage(cp->second);
    settings.code_page = fso::CodePage();
  } catch (const Failure& f) {
    return Usage(OneLine(f.description()), output);
  }
  if (auto root = options.find("templates"); root != options.end()) {
    settings.has_root = true;
    Text text = FromUtf8(root->second);
    settings.templet_root = (!text.empty() && text.back() == u'\\') ? text : Concat({text, u"\\"});
  }
  build->out_dir = out->second;
  build->extension = settings.execute ? ".vbs" : ".asp";
  build->changed_only = options.count("changed") != 0;
  build->utf8 = fso::IconvName(settings.encoding) == "UTF-8";

  int status = kExitOk;
  build->pages = ListPages(args, settings.set_id, output, &status);
  if (status != kExitOk) return status;

  std::error_code made_error;
  std::filesystem::create_directories(build->out_dir, made_error);
  struct stat st;
  if (stat(build->out_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    output.err += "vavizar build: cannot make the folder '" + build->out_dir + "'" +
                  (made_error ? ": " + made_error.message() : std::string()) + "\n";
    return kExitUsage;
  }
  const std::string manifest_path = build->out_dir + "/" + kManifestName;
  Manifest previous = ReadManifest(manifest_path);
  if (build->changed_only) build->previous = previous;

  const bool show_progress = isatty(STDERR_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const size_t total = build->pages.size();
  const int workers = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), total));
  {
    StopSignals stop_signals;
    std::vector<std::thread> threads;
    build->workers_running = workers;
    for (int i = 0; i < workers; ++i) threads.emplace_back(Worker, std::ref(*build));
    {
      std::unique_lock<std::mutex> lock(build->mu);
      while (build->workers_running > 0) {
        build->progress.wait_for(lock, std::chrono::milliseconds(250));
        if (show_progress) ShowProgress(build->done.load(), total, elapsed());
      }
    }
    for (std::thread& t : threads) t.join();
    if (show_progress) WriteAll(STDERR_FILENO, "\r\033[K");
  }
  const bool interrupted = g_stop_requested.load();

  // The run's log and the manifest, both replaced whole.
  std::string log_text;
  Manifest manifest;
  size_t written = 0, unchanged = 0, failed = 0, not_built = 0;
  for (const PageJob& job : build->pages) {
    for (const std::string& line : job.log) log_text += "page " + job.id + ": " + line + "\n";
    switch (job.outcome) {
      case Outcome::kWritten:
        ++written;
        if (job.inputs) manifest[job.id] = *job.inputs;
        break;
      case Outcome::kUnchanged:
        ++unchanged;
        manifest[job.id] = *job.inputs;
        break;
      case Outcome::kFailed:
        ++failed;
        output.err += "vavizar build: page " + job.id +
                      " not written: " + (job.log.empty() ? std::string() : job.log.front()) + "\n";
        break;
      case Outcome::kNotBuilt:
        ++not_built;
        if (auto kept = previous.find(job.id); kept != previous.end()) manifest.insert(*kept);
        break;
    }
  }
  std::string problem;
  bool files_ok = ReplaceFile(build->out_dir, kBuildLogName, log_text, &problem);
  if (files_ok) {
    files_ok = ReplaceFile(build->out_dir, kManifestName, ManifestText(manifest), &problem);
  }
  if (!files_ok) output.err += "vavizar build: " + problem + "\n";

  std::string summary = "vavizar build: " + std::to_string(written) + " written, " +
                        std::to_string(unchanged) + " unchanged, " + std::to_string(failed) +
                        " failed, " + Seconds(elapsed());
  if (not_built > 0) summary += "; " + std::to_string(not_built) + " not built";
  if (interrupted) summary += " (interrupted)";
  output.err += summary + "\n";

  {
    std::lock_guard<std::mutex> lock(build->mu);
    if (!build->database_problem.empty() && build->abort.load()) {
      output.err += "vavizar build: " + build->database_problem + "\n";
      return kExitUsage;
    }
  }
  return (failed > 0 || not_built > 0 || !files_ok) ? kExitLogged : kExitOk;
}

}  // namespace vz::cli
