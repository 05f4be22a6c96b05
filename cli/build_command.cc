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
#include "cli/build_watch.h"
#include "cli/database.h"
#include "cli/output_folder.h"
#include "cli/page_warnings.h"
#include "cli/replace_file.h"
#include "cli/write.h"
#include "component/page_ptr.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "sourcemap/source_map.h"
#include "store/page_source.h"
#include "store/sql_value.h"

namespace vz::cli {

const char kBuildUsage[] =
    "usage: vavizar build [options] --set SET --out DIR [--exec] [--jobs N] [--changed]\n"
    "                     [--prune] [--no-wait] [--strict] [--map] [--watch]\n"
    "Generates every page of template set SET into DIR: DIR/PAGE.asp, or with\n"
    "--exec DIR/PAGE.vbs, encoded with --encoding. Each file is written under a\n"
    "temporary name and renamed into place. A page whose generation logs a\n"
    "failure is not written (its previous file stays) and is named on stderr;\n"
    "DIR/build.log holds every log line of the run, each led by its page (line\n"
    "breaks inside a message become blanks). DIR/build.manifest records every\n"
    "file the command wrote, what it was made from and what it holds.\n"
    "  --set SET              the template set (a number)\n"
    "  --out DIR              the output folder, made when missing\n"
    "  --exec                 write execute code instead of server-page code\n"
    "  --jobs N               parallel workers (default: the number of cores)\n"
    "  --changed              generate only the pages whose template, tag rows or\n"
    "                         output options changed since the last build into DIR,\n"
    "                         or whose file is gone or no longer what was written\n"
    "  --prune                delete the files this command wrote for pages that are\n"
    "                         no longer registered (without it they are only named)\n"
    "  --no-wait              fail at once when another build is writing into DIR\n"
    "                         (without it the build waits for the other to finish)\n"
    "  --strict               a page with a warning fails (is not written): bytes of\n"
    "                         its template not valid in the code page, or characters\n"
    "                         the encoding cannot hold; without it such a page is\n"
    "                         written and named in a warning line\n"
    "  --map                  also write DIR/PAGE.asp.map (or .vbs.map), the page's\n"
    "                         source map ('vavizar where' reads it), whole, like the\n"
    "                         page; without --map a map left by an earlier build is\n"
    "                         deleted when its page is written again\n"
    "  --watch                after the build, build again as with --changed each\n"
    "                         time a template of the set or a row changes, one\n"
    "                         summary line a build, until stopped (SIGINT, SIGTERM)\n"
    "Stopped (SIGINT, SIGTERM, SIGHUP), it takes no new page, finishes those under\n"
    "way and exits 1; a second signal ends it at once, its temporary files removed.\n"
    "The summary line on stderr counts the pages written, unchanged and failed.\n"
    "exit status: 0 every page written or unchanged, 1 some page failed or the\n"
    "             build was stopped, 2 bad usage, a database error or a set\n"
    "             without pages\n";

namespace {

constexpr char kBuildLogName[] = "build.log";
constexpr int kMaxJobs = 256;

// How many of SIGINT, SIGTERM and SIGHUP arrived while a build runs: after
// the first no new page is taken; the second ends the process at once.
std::atomic<int> g_stop_signals{0};
static_assert(std::atomic<int>::is_always_lock_free);

bool StopRequested() { return g_stop_signals.load(std::memory_order_relaxed) > 0; }

extern "C" void OnStopSignal(int signal_number) {
  if (g_stop_signals.fetch_add(1, std::memory_order_relaxed) == 0) return;
  // The second: remove the files being written and die of the signal, as a
  // process without a handler would.
  RemovePendingTemporaryFiles();
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);  // delivered once this handler returns
}

// For its lifetime: SIGINT, SIGTERM and SIGHUP (the terminal closed) stop
// the build, and SIGXFSZ is ignored, so that a write past the file size
// limit fails and is reported instead of killing the process. Then puts
// back what was there.
class StopSignals {
 public:
  StopSignals() {
    // Each build of a watch sets them for its run; a stop that came before
    // it stays.
    if (depth_++ == 0) g_stop_signals.store(0);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;  // reads and writes under way go on
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kStop; ++i) sigaction(kSignals[i], &action, &old_[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &old_[kStop]);
  }
  ~StopSignals() {
    for (size_t i = 0; i <= kStop; ++i) sigaction(kSignals[i], &old_[i], nullptr);
    --depth_;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
  static constexpr size_t kStop = 3;  // the first three stop the build
  static inline int depth_ = 0;
  struct sigaction old_[4] = {};
};

enum class Outcome { kNotBuilt, kWritten, kUnchanged, kFailed };

struct PageJob {
  std::string id;
  std::string file;  // its file in the folder: id and extension
  Outcome outcome = Outcome::kNotBuilt;
  std::optional<uint64_t> inputs;     // hash of the inputs, when they could be read
  uint64_t size = 0;                  // of the file written
  uint64_t bytes = 0;                 // HashBytes of the file written
  uint64_t map_size = 0;              // of its map, with --map
  uint64_t map_bytes = 0;             // HashBytes of its map
  std::vector<std::string> log;       // log lines of its generation, in order
  std::vector<std::string> warnings;  // PageWarnings of a page written anyway
};

// What the options ask for.
struct BuildOptions {
  PageInputSettings settings;
  std::string set;  // the set as the manifest records it
  std::string out_dir;
  std::string extension;
  bool changed_only = false;
  bool prune = false;
  bool no_wait = false;
  bool strict = false;  // a page with warnings fails
  bool map = false;     // each page's source map is written beside it
  bool utf8 = false;    // the encoding is UTF-8 itself
  bool sqlite = false;  // the database is a SQLite file (--db)
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

// The set without the blanks a number may have around it.
std::string SetKey(const std::string& set) {
  const size_t first = set.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return set.substr(first, set.find_last_not_of(" \t") - first + 1);
}

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
  options.set = SetKey(*set);
  options.out_dir = *out;
  options.extension = settings.execute ? ".vbs" : ".asp";
  options.changed_only = args.options.count("changed") != 0;
  options.prune = args.options.count("prune") != 0;
  options.no_wait = args.options.count("no-wait") != 0;
  options.strict = args.options.count("strict") != 0;
  options.map = args.options.count("map") != 0;
  options.utf8 = fso::IconvName(settings.encoding) == "UTF-8";
  options.sqlite = args.options.count("db") != 0;
  return options;
}

// The bytes of a page's file. UTF-8 takes the direct conversion unless a
// surrogate is there, whose lone halves Encode writes as "?".
std::string EncodeCode(const BuildOptions& options, TextView code) {
  if (options.utf8 && !HasSurrogate(code)) return ToUtf8(code);
  return fso::Encode(options.settings.encoding, code);
}

// Whether the file at `path` has exactly `size` bytes that hash to `bytes`.
bool FileHolds(const std::string& path, uint64_t size, uint64_t bytes) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != size)
    return false;
  std::string content;
  return ReadFileBytes(path, &content) && content.size() == size && HashBytes(content) == bytes;
}

// The name of the source map of a page's file.
std::string MapFileOf(const std::string& file) { return file + ".map"; }

// With --changed: whether a file the manifest records for a page is current:
// its inputs hash as recorded, and the file holds what was written.
bool FileIsCurrent(const Build& build, const PageJob& job, const std::string& file) {
  auto before = build.previous.find(file);
  if (before == build.previous.end() || !job.inputs || *job.inputs == 0 ||
      before->second.inputs != *job.inputs || before->second.set != build.options.set)
    return false;
  return FileHolds(build.options.out_dir + "/" + file, before->second.size, before->second.bytes);
}

// With --changed: whether the page's file, and with --map its map, are
// current.
bool IsCurrent(const Build& build, const PageJob& job) {
  return FileIsCurrent(build, job, job.file) &&
         (!build.options.map || FileIsCurrent(build, job, MapFileOf(job.file)));
}

// Generates the page and writes its file; `logged` is how much of the
// page object's log earlier pages wrote.
void GeneratePage(const BuildOptions& options, PagePtr& page, size_t& logged, PageJob& job,
                  const PageInputs* inputs) {
  const Text page_id = FromUtf8(job.id);
  const Text& set_id = options.settings.set_id;
  PageTrace trace;
  const com::Bstr code_text =
      options.map ? (options.settings.execute ? page.ExecuteCodeOf(set_id, page_id, trace)
                                              : page.AspCodeOf(set_id, page_id, trace))
                  : (options.settings.execute ? page.ExecuteCodeOf(set_id, page_id)
                                              : page.AspCodeOf(set_id, page_id));
  const TextView code = code_text.view();
  Text log = page.GetErrors();
  if (log.size() > logged) {
    for (std::string& line : LogLines(log.substr(logged))) job.log.push_back(std::move(line));
    logged = log.size();
    job.outcome = Outcome::kFailed;
    // A file the component could not open or find: name it.
    if (inputs != nullptr && inputs->read_failure && !job.log.empty())
      job.log.front() += ": " + ShownPath(inputs->path);
    return;
  }
  const std::vector<std::string> warnings =
      PageWarnings(inputs != nullptr ? *inputs : PageInputs(), options.settings.code_page, code,
                   options.settings.encoding, options.utf8, options.out_dir + "/" + job.file);
  if (!warnings.empty() && options.strict) {
    for (const std::string& warning : warnings) job.log.push_back("warning: " + warning);
    job.outcome = Outcome::kFailed;
    return;
  }
  job.warnings = warnings;
  std::string problem;
  if (options.map) {
    // The map first: a page is only ever written with its map in place.
    std::string json;
    try {
      json = WriteSourceMap(trace, code, job.file, ShownPath(trace.template_path));
    } catch (const SourceMapError& e) {
      job.outcome = Outcome::kFailed;
      job.log.push_back(std::string("source map: ") + e.what());
      return;
    }
    if (!ReplaceFile(options.out_dir, MapFileOf(job.file), json, &problem)) {
      job.outcome = Outcome::kFailed;
      job.log.push_back(problem);
      return;
    }
    job.map_size = json.size();
    job.map_bytes = HashBytes(json);
  }
  const std::string bytes = EncodeCode(options, code);
  if (!ReplaceFile(options.out_dir, job.file, bytes, &problem)) {
    job.outcome = Outcome::kFailed;
    job.log.push_back(problem);
    return;
  }
  job.size = bytes.size();
  job.bytes = HashBytes(bytes);
  job.outcome = Outcome::kWritten;
}

void BuildPage(Build& build, PagePtr& page, ado::Connection& conn, size_t& logged, PageJob& job) {
  const BuildOptions& options = build.options;
  try {
    const ReadSnapshot snapshot(conn, options.sqlite);
    if (!IsNumericIdentifier(FromUtf8(job.id)) ||
        job.id.find_first_of(" \t") != std::string::npos) {
      job.outcome = Outcome::kFailed;
      job.log.push_back("page identifier '" + job.id + "' is not a number a file can be named by");
      return;
    }
    std::optional<PageInputs> inputs;
    try {
      inputs = ReadPageInputs(conn, options.settings.templet_root, options.settings.set_id,
                              FromUtf8(job.id));
      job.inputs = HashPageInputs(options.settings, *inputs);
    } catch (const Failure&) {
      // The generation reads the same rows and logs what went wrong.
      inputs.reset();
    }
    if (options.changed_only && IsCurrent(build, job)) {
      job.outcome = Outcome::kUnchanged;
      return;
    }
    // Inputs read whole in this snapshot are what the component would read:
    // it takes them rather than reading them again.
    std::optional<GivenPageInputs> given;
    if (inputs && snapshot.active() && inputs->registered && !inputs->read_failure) {
      // The warnings point into the text only when some bytes were not valid.
      Text text = inputs->faults.count > 0 ? inputs->text : std::move(inputs->text);
      given.emplace(conn, options.settings.templet_root, options.settings.set_id, FromUtf8(job.id),
                    inputs->path, std::move(text), std::move(inputs->tags));
    }
    GeneratePage(options, page, logged, job, inputs ? &*inputs : nullptr);
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
      while (!StopRequested() && !build.abort.load()) {
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

// The pages of the set, ascending, through a connection of the run's own,
// after a look at the tables the pages are read from.
std::vector<PageJob> ListPages(const ParsedArgs& args, const BuildOptions& options) {
  com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);
  CheckTemplateFolder(args);
  std::vector<Text> ids;
  try {
    CheckSchema(*db);
  } catch (const Failure& f) {
    throw FatalError(OneLine(f.description()));
  }
  try {
    ids = ListSetPages(*db, options.settings.set_id);
  } catch (const Failure& f) {
    throw FatalError("cannot read the pages of set " + ToUtf8(options.settings.set_id) + ": " +
                     OneLine(f.description()));
  }
  if (ids.empty()) throw FatalError("no page is registered for set " + options.set);
  std::vector<PageJob> pages;
  for (const Text& id : ids) {
    PageJob job;
    job.id = ToUtf8(id);
    job.file = job.id + options.extension;
    pages.push_back(std::move(job));
  }
  return pages;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the workers to the end, with a progress display on a terminal.
void RunWorkers(Build& build, std::chrono::steady_clock::time_point start) {
  const bool show_progress = isatty(STDERR_FILENO) == 1;
  const size_t total = build.pages.size();
  const int workers =
      static_cast<int>(std::min<size_t>(static_cast<size_t>(build.options.jobs), total));
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

// The page a file of the folder was built for: its name without the
// extension (and without ".map" first, for a map).
std::string PageOfFile(std::string file) {
  if (file.size() > 4 && file.compare(file.size() - 4, 4, ".map") == 0)
    file.resize(file.size() - 4);
  const size_t dot = file.rfind('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

// The manifest after the run: the previous one with this run's pages put
// in, and the files of pages no longer registered named in `stale` (and
// left out, deleted, with --prune).
Manifest NextManifest(const Build& build, Tally& tally, std::vector<std::string>& stale,
                      Output& output) {
  Manifest manifest = build.previous;
  std::set<std::string> registered;
  for (const PageJob& job : build.pages) {
    registered.insert(job.id);
    for (const std::string& warning : job.warnings)
      output.err += "vavizar build: page " + job.id + ": warning: " + warning + "\n";
    switch (job.outcome) {
      case Outcome::kWritten:
        ++tally.written;
        manifest[job.file] = {build.options.set, job.inputs.value_or(0), job.size, job.bytes};
        if (build.options.map) {
          manifest[MapFileOf(job.file)] = {build.options.set, job.inputs.value_or(0), job.map_size,
                                           job.map_bytes};
        } else if (manifest.erase(MapFileOf(job.file)) != 0) {
          // An earlier build's map, which would describe the page as it was.
          std::filesystem::remove(build.options.out_dir + "/" + MapFileOf(job.file));
        }
        break;
      case Outcome::kUnchanged:
        ++tally.unchanged;
        break;
      case Outcome::kFailed:
        // Its old file stays, still this command's, but no longer current.
        ++tally.failed;
        for (const std::string& file : {job.file, MapFileOf(job.file)}) {
          if (auto kept = manifest.find(file); kept != manifest.end()) kept->second.inputs = 0;
        }
        output.err += "vavizar build: page " + job.id +
                      " not written: " + (job.log.empty() ? std::string() : job.log.front()) + "\n";
        break;
      case Outcome::kNotBuilt:
        ++tally.not_built;
        break;
    }
  }
  for (auto it = manifest.begin(); it != manifest.end();) {
    if (it->second.set != build.options.set || registered.count(PageOfFile(it->first)) != 0) {
      ++it;
      continue;
    }
    stale.push_back(it->first);
    if (build.options.prune) {
      std::filesystem::remove(build.options.out_dir + "/" + it->first);
      it = manifest.erase(it);
    } else {
      ++it;
    }
  }
  return manifest;
}

// Names the stale files on stderr.
void ReportStale(const std::vector<std::string>& stale, bool pruned, Output& output) {
  if (stale.empty()) return;
  std::string names;
  for (const std::string& file : stale) names += (names.empty() ? "" : ", ") + file;
  const std::string count = std::to_string(stale.size()) + (stale.size() == 1 ? " file" : " files");
  output.err +=
      pruned ? "vavizar build: deleted " + count + " of pages no longer registered: " + names + "\n"
             : "vavizar build: " + count + " of pages no longer registered: " + names +
                   " (--prune deletes them)\n";
}

// Writes the run's log and the manifest, both replaced whole. False when
// one cannot be written (said on stderr); no log of an earlier run is left
// then, since it was removed when the run began.
bool WriteRunFiles(const Build& build, const Manifest& manifest, Output& output) {
  std::string log_text;
  for (const PageJob& job : build.pages) {
    for (const std::string& line : job.log) log_text += "page " + job.id + ": " + line + "\n";
    for (const std::string& warning : job.warnings)
      log_text += "page " + job.id + ": warning: " + warning + "\n";
  }
  const std::string& dir = build.options.out_dir;
  std::string problem;
  bool ok = ReplaceFile(dir, kBuildLogName, log_text, &problem) &&
            ReplaceFile(dir, kManifestName, ManifestText(manifest), &problem);
  if (!ok) output.err += "vavizar build: " + problem + "\n";
  return ok;
}

int BuildOnce(const ParsedArgs& args, Output& output) {
  auto build = std::make_unique<Build>();
  build->args = &args;
  build->options = ParseBuildOptions(args);
  const BuildOptions& options = build->options;
  build->pages = ListPages(args, options);

  StopSignals stop_signals;
  OutputFolder folder(
      options.out_dir, options.no_wait,
      "vavizar build: waiting for another build into '" + options.out_dir + "' to finish\n");
  folder.RemoveDeadTemporaryFiles();
  // From here on the folder holds no log that could be taken for this run's.
  std::filesystem::remove(options.out_dir + "/" + kBuildLogName);
  build->previous = ReadManifest(options.out_dir + "/" + kManifestName);

  const auto start = std::chrono::steady_clock::now();
  RunWorkers(*build, start);
  const bool interrupted = StopRequested();

  Tally tally;
  std::vector<std::string> stale;
  const Manifest manifest = NextManifest(*build, tally, stale, output);
  ReportStale(stale, options.prune, output);
  const bool files_ok = WriteRunFiles(*build, manifest, output);
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

}  // namespace

int RunBuild(const ParsedArgs& args, Output& output) {
  if (args.options.count("watch") == 0) return BuildOnce(args, output);
  // Signals stop the watch as they stop a build.
  StopSignals stop_signals;
  return WatchBuilds(args, output, BuildOnce, StopRequested);
}

}  // namespace vz::cli
