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
#include "store/page_source.h"
#include "store/sql_value.h"

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

enum class Outcome { kNotBuilt, kWritten, kUnchanged, kFailed };

struct PageJob {
  std::string id;
  Outcome outcome = Outcome::kNotBuilt;
  std::optional<uint64_t> inputs;  // hash of the inputs: with --changed, when readable
  std::vector<std::string> log;    // log lines of its generation, in order
};

// What the options ask for.
struct BuildOptions {
  PageInputSettings settings;
  std::string out_dir;
  std::string extension;
  bool changed_only = false;
  bool utf8 = false;  // the encoding is UTF-8 itself
  int jobs = 1;
};

// What the workers share. Each PageJob is written by the one worker that took
// it and read by the main thread after every worker has ended.
struct Build {
  const ParsedArgs* args = nullptr;
  BuildOptions options;
  Manifest previous;
  std::vector<PageJob> pages;

  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  std::atomic<bool> abort{false};  // a worker could not go on

  std::mutex mu;
  std::condition_variable progress;
  int workers_running = 0;       // guarded by mu
  std::string database_problem;  // guarded by mu; the first worker's
};

BuildOptions ParseBuildOptions(const ParsedArgs& args) {
  const std::optional<std::string> set = Option(args, "set");
  const std::optional<std::string> out = Option(args, "out");
  if (!set) throw UsageError("give the template set with --set SET");
  if (!out) throw UsageError("give the output folder with --out DIR");
  if (!set->empty() && !IsNumericIdentifier(FromUtf8(*set)))
    throw UsageError("--set: identifier '" + *set + "' is not a number");
  if (out->empty()) throw UsageError("--out: the output folder is empty");
  BuildOptions options;
  const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  options.jobs = static_cast<int>(CountOption(args, "jobs", 1, kMaxJobs, cores));
  ApplyMaxChars(args);

  PageInputSettings& settings = options.settings;
  settings.set_id = FromUtf8(*set);
  settings.execute = args.options.count("exec") != 0;
  settings.encoding = Option(args, "encoding").value_or("UTF-8");
  try {
    fso::CheckEncoding(settings.encoding);
    if (std::optional<std::string> cp = Option(args, "codepage")) fso::SetCodePage(*cp);
    settings.code_page = fso::CodePage();
  } catch (const Failure& f) {
    throw UsageError(OneLine(f.description()));
  }
  if (std::optional<std::string> root = Option(args, "templates"))
    settings.templet_root = TempletRootOf(FromUtf8(*root));
  options.out_dir = *out;
  options.extension = settings.execute ? ".vbs" : ".asp";
  options.changed_only = args.options.count("changed") != 0;
  options.utf8 = fso::IconvName(settings.encoding) == "UTF-8";
  return options;
}

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
std::string EncodeCode(const BuildOptions& options, const Text& code) {
  if (options.utf8 &&
      std::none_of(code.begin(), code.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }))
    return ToUtf8(code);
  return fso::Encode(options.settings.encoding, code);
}

// With --changed: whether the page's file is current, that is, it is there
// and the page's inputs hash as the manifest records. Records the hash.
bool IsCurrent(Build& build, ado::Connection& conn, PageJob& job, const std::string& file_name) {
  try {
    job.inputs = HashPageInputs(conn, build.options.settings, FromUtf8(job.id));
  } catch (const Failure&) {
    return false;  // the generation reads the same rows and logs what went wrong
  }
  auto before = build.previous.find(job.id);
  struct stat st;
  return before != build.previous.end() && before->second == *job.inputs &&
         stat((build.options.out_dir + "/" + file_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Generates the page and writes its file; `logged` is how much of the
// page object's log earlier pages wrote.
void GeneratePage(const BuildOptions& options, PagePtr& page, size_t& logged, PageJob& job,
                  const std::string& file_name) {
  const Text page_id = FromUtf8(job.id);
  Text code = options.settings.execute ? page.CreateExecuteCode(options.settings.set_id, page_id)
                                       : page.CreateAspCode(options.settings.set_id, page_id);
  Text log = page.GetErrors();
  if (log.size() > logged) {
    SplitLines(log.substr(logged), job.log);
    logged = log.size();
    job.outcome = Outcome::kFailed;
    return;
  }
  std::string problem;
  if (!ReplaceFile(options.out_dir, file_name, EncodeCode(options, code), &problem)) {
    job.outcome = Outcome::kFailed;
    job.log.push_back(problem);
    return;
  }
  job.outcome = Outcome::kWritten;
}

void BuildPage(Build& build, PagePtr& page, ado::Connection& conn, size_t& logged, PageJob& job) {
  const std::string file_name = job.id + build.options.extension;
  try {
    if (!IsNumericIdentifier(FromUtf8(job.id))) {
      job.outcome = Outcome::kFailed;
      job.log.push_back("page identifier '" + job.id + "' is not a number");
      return;
    }
    if (build.options.changed_only && IsCurrent(build, conn, job, file_name)) {
      job.outcome = Outcome::kUnchanged;
      return;
    }
    GeneratePage(build.options, page, logged, job, file_name);
  } catch (...) {
    // Whatever went wrong (a failure status, memory) fails this page only.
    job.outcome = Outcome::kFailed;
    job.log.push_back(OneLine(CurrentError().description));
    // Whatever the call logged belongs to this page, not the next one.
    try {
      logged = page.GetErrors().size();
    } catch (...) {
    }
  }
}

// Opens the worker's own connection and Page; nothing with `problem` set
// when it cannot.
std::optional<PagePtr> OpenPage(const ParsedArgs& args, com::Ref<ado::DatabaseConnection>& db,
                                std::string& problem) {
  try {
    db = OpenDatabase(args);
    PagePtr page = PagePtr::Create();
    page.PutRefConnection(db.get());
    if (std::optional<std::string> root = Option(args, "templates"))
      page.PutTempletRoot(FromUtf8(*root));
    return page;
  } catch (const Error& e) {
    problem = e.what();
  } catch (...) {
    problem = OneLine(CurrentError().description);
  }
  return std::nullopt;
}

void Worker(Build& build) {
  std::string problem;
  {
    com::Ref<ado::DatabaseConnection> db;
    std::optional<PagePtr> page = OpenPage(*build.args, db, problem);
    if (page) {
      size_t logged = 0;
      while (!g_stop_requested.load(std::memory_order_relaxed) && !build.abort.load()) {
        size_t index = build.next.fetch_add(1);
        if (index >= build.pages.size()) break;
        BuildPage(build, *page, *db, logged, build.pages[index]);
        build.done.fetch_add(1);
      }
    } else {
      build.abort.store(true);
    }
  }
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

// The distinct page identifiers of the set, ascending, through a connection
// of the run's own.
std::vector<PageJob> ListPages(const ParsedArgs& args, const Text& set_id) {
  com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);
  std::vector<PageJob> pages;
  try {
    for (const Text& id : ListSetPages(*db, set_id)) {
      PageJob job;
      job.id = ToUtf8(id);
      pages.push_back(std::move(job));
    }
  } catch (const Failure& f) {
    throw FatalError("cannot read the pages of set " + ToUtf8(set_id) + ": " +
                     OneLine(f.description()));
  }
  return pages;
}

void MakeFolder(const std::string& dir) {
  std::error_code made_error;
  std::filesystem::create_directories(dir, made_error);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw FatalError("cannot make the folder '" + dir + "'" +
                     (made_error ? ": " + made_error.message() : std::string()));
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the workers to the end, with a progress display on a terminal.
void RunWorkers(Build& build, std::chrono::steady_clock::time_point start) {
  const bool show_progress = isatty(STDERR_FILENO) == 1;
  const size_t total = build.pages.size();
  const int workers = static_cast<int>(std::min<size_t>(static_cast<size_t>(build.options.jobs), total));
  StopSignals stop_signals;
  std::vector<std::thread> threads;
  build.workers_running = workers;
  for (int i = 0; i < workers; ++i) threads.emplace_back(Worker, std::ref(build));
  {
    std::unique_lock<std::mutex> lock(build.mu);
    while (build.workers_running > 0) {
      build.progress.wait_for(lock, std::chrono::milliseconds(250));
      if (show_progress) ShowProgress(build.done.load(), total, SecondsSince(start));
    }
  }
  for (std::thread& t : threads) t.join();
  if (show_progress) WriteAll(STDERR_FILENO, "\r\033[K");
}

struct Tally {
  size_t written = 0, unchanged = 0, failed = 0, not_built = 0;
};

// Counts the outcomes, names each failed page on stderr, and writes the
// run's log and the manifest, both replaced whole. False when one of the two
// files cannot be written (said on stderr).
bool FinishRun(const Build& build, const Manifest& previous, Tally& tally, Output& output) {
  std::string log_text;
  Manifest manifest;
  for (const PageJob& job : build.pages) {
    for (const std::string& line : job.log) log_text += "page " + job.id + ": " + line + "\n";
    switch (job.outcome) {
      case Outcome::kWritten:
        ++tally.written;
        if (job.inputs) manifest[job.id] = *job.inputs;
        break;
      case Outcome::kUnchanged:
        ++tally.unchanged;
        manifest[job.id] = *job.inputs;
        break;
      case Outcome::kFailed:
        ++tally.failed;
        output.err += "vavizar build: page " + job.id +
                      " not written: " + (job.log.empty() ? std::string() : job.log.front()) + "\n";
        break;
      case Outcome::kNotBuilt:
        ++tally.not_built;
        if (auto kept = previous.find(job.id); kept != previous.end()) manifest.insert(*kept);
        break;
    }
  }
  const std::string& dir = build.options.out_dir;
  std::string problem;
  bool ok = ReplaceFile(dir, kBuildLogName, log_text, &problem) &&
            ReplaceFile(dir, kManifestName, ManifestText(manifest), &problem);
  if (!ok) output.err += "vavizar build: " + problem + "\n";
  return ok;
}

}  // namespace

int RunBuild(const ParsedArgs& args, Output& output) {
  auto build = std::make_unique<Build>();
  build->args = &args;
  build->options = ParseBuildOptions(args);
  build->pages = ListPages(args, build->options.settings.set_id);
  MakeFolder(build->options.out_dir);
  const Manifest previous = ReadManifest(build->options.out_dir + "/" + kManifestName);
  if (build->options.changed_only) build->previous = previous;

  const auto start = std::chrono::steady_clock::now();
  RunWorkers(*build, start);
  const bool interrupted = g_stop_requested.load();

  Tally tally;
  const bool files_ok = FinishRun(*build, previous, tally, output);
  std::string summary = "vavizar build: " + std::to_string(tally.written) + " written, " +
                        std::to_string(tally.unchanged) + " unchanged, " +
                        std::to_string(tally.failed) + " failed, " + Seconds(SecondsSince(start));
  if (tally.not_built > 0) summary += "; " + std::to_string(tally.not_built) + " not built";
  if (interrupted) summary += " (interrupted)";
  output.err += summary + "\n";

  {
    std::lock_guard<std::mutex> lock(build->mu);
    if (!build->database_problem.empty() && build->abort.load())
      throw FatalError(build->database_problem);
  }
  return (tally.failed > 0 || tally.not_built > 0 || !files_ok) ? kExitLogged : kExitOk;
}

}  // namespace vz::cli
