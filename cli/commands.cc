#include "cli/commands.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "cli/build_command.h"
#include "cli/check_command.h"
#include "cli/database.h"
#include "cli/options.h"
#include "cli/page_warnings.h"
#include "cli/replace_file.h"
#include "cli/serve_launch.h"
#include "cli/where_command.h"
#include "cli/write.h"
#include "component/page_ptr.h"
#include "component/registration.h"
#include "platform/ado/open.h"
#include "platform/com/error_info.h"
#include "platform/com/runtime.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "platform/memory.h"
#include "sourcemap/source_map.h"
#include "store/page_source.h"

namespace vz::cli {
namespace {

struct Command {
  const char* name;
  const char* summary;
  const char* usage;
  int (*run)(const Command& command, const ParsedArgs& args, Output& output);
  std::set<std::string> valued;
  std::set<std::string> flags;
  size_t positional;          // how many positional arguments it takes
  const char* encoding = "";  // what --encoding is the encoding of, in its help
};

constexpr const char* kPageOptions =
    "options:\n"
    "  --db FILE              SQLite database (opened read-only)\n"
    "  --odbc STRING          an ODBC connection string instead of --db\n"
    "  --templates DIR        the template folder (TempletRoot); not set when omitted\n"
    "  --codepage CP          code page of the template files: a number (936, 1252,\n"
    "                         65001, ...) or a name (GBK, UTF-8); default: the\n"
    "                         locale's character set, UTF-8 where it names none\n"
    "  --busy-timeout MS      how long to wait for a lock a writer holds on a SQLite\n"
    "                         database, in milliseconds (default 5000)\n";

constexpr const char* kEnvironment =
    "environment (an option given beats its variable):\n"
    "  VAVIZAR_DB             --db FILE\n"
    "  VAVIZAR_ODBC           --odbc STRING\n"
    "  VAVIZAR_TEMPLATES      --templates DIR\n"
    "  VAVIZAR_CODEPAGE       --codepage CP\n";

constexpr const char* kLimitOption =
    "  --max-chars N          the longest text generating a page may build, in\n"
    "                         characters (1 to 2147483647, default 268435456); a\n"
    "                         page that would grow past it fails with 14 \"Out of\n"
    "                         string space\"\n";

constexpr const char* kStrictOption =
    "  --strict               exit 1, with a line saying why, when the page came out\n"
    "                         other than written: bytes of its template not valid in\n"
    "                         the code page, or characters --encoding cannot hold\n";

constexpr const char* kMapOption =
    "  --map FILE             also write FILE, a source map of the page: where each\n"
    "                         of its characters came from ('vavizar where' reads it)\n";

constexpr const char* kPageExitStatus =
    "exit status: 0 nothing logged, 1 the page's error log gained lines (or, with\n"
    "             --strict, the page has a warning), 2 bad usage or a database\n"
    "             that cannot be opened\n";

std::string Describe(const Failure& f) { return OneLine(f.description()); }

// With --strict: the page's warnings (cli/page_warnings.h) on one line, or
// "" when it has none; its inputs read as the component read them.
std::string StrictWarnings(const ParsedArgs& args, ado::Connection& conn, const Text& set_id,
                           const Text& page_id, TextView code, const std::string& encoding) {
  PageInputs inputs;
  try {
    const std::optional<std::string> root = Option(args, "templates");
    inputs = ReadPageInputs(conn, root ? TempletRootOf(FromUtf8(*root)) : Text(), set_id, page_id);
  } catch (const Failure&) {
    // Generating the page read the same and logged what went wrong.
  }
  std::string line;
  for (const std::string& warning : PageWarnings(inputs, fso::CodePage(), code, encoding,
                                                 fso::IconvName(encoding) == "UTF-8", "<stdout>"))
    line += (line.empty() ? "" : "; ") + warning;
  return line;
}

// Encodes a page that comes in pieces and writes it to `output.out_fd` as it
// is made, after what `output.out` holds (without a descriptor, appends it
// to `output.out`): a large page is never held whole in bytes. The bytes are
// gathered in the thread's scratch room, written before (platform/memory.h),
// which is taken at the first byte: reading the template, before, uses it.
// A write that fails is recorded in `output.out_error`, and nothing more is
// written.
class PageWriter {
 public:
  PageWriter(const std::string& encoding, Output& output)
      : encoder_(encoding),
        output_(output),
        take_([this](std::string_view bytes) { Take(bytes); }) {
    if (output_.out_fd >= 0 && !output_.out.empty()) {
      Take(output_.out);
      output_.out.clear();
    }
  }
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  void Put(TextView text) {
    if (!scratch_ && output_.out_fd >= 0) {
      scratch_.emplace();
      encoder_.GatherIn(scratch_->data(), scratch_->size());
    }
    encoder_.Feed(text, take_);
  }
  // Writes what is left. REQUIRES: called once, after the last Put.
  void Finish() { encoder_.Finish(take_); }

 private:
  void Take(std::string_view bytes) {
    if (output_.out_fd < 0) {
      output_.out += bytes;
    } else if (output_.out_error == 0 && !WriteAll(output_.out_fd, bytes)) {
      output_.out_error = errno;
    }
  }

  fso::TextEncoder encoder_;
  Output& output_;
  const std::function<void(std::string_view)> take_;
  std::optional<ScratchBuffer> scratch_;
};

// Writes the source map of a page to `path`, whole or not at all. The page
// it describes is the file the map is named after: the map's name without
// ".map".
void WritePageMap(const std::string& path, const PageTrace& trace, TextView code) {
  const std::filesystem::path file(path);
  std::string page = file.filename().string();
  if (page.size() > 4 && page.compare(page.size() - 4, 4, ".map") == 0)
    page.resize(page.size() - 4);
  std::optional<SourceMapText> map;
  try {
    map.emplace(WriteSourceMapText(trace, code, page, ShownPath(trace.template_path)));
  } catch (const SourceMapError& e) {
    throw FatalError(std::string("--map: ") + e.what());
  }
  std::string problem;
  const std::string dir = file.has_parent_path() ? file.parent_path().string() : ".";
  if (!ReplaceFile(dir, file.filename().string(), map->pieces(), &problem))
    throw FatalError(problem);
}

int RunPage(const Command& command, const ParsedArgs& args, Output& output) {
  const bool execute = std::string(command.name) == "exec";
  const std::string encoding = Option(args, "encoding").value_or("UTF-8");
  ApplyMaxChars(args);
  try {
    fso::CheckEncoding(encoding);
    if (std::optional<std::string> cp = Option(args, "codepage")) fso::SetCodePage(*cp);
  } catch (const Failure& f) {
    throw UsageError(Describe(f));
  }
  com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);

  PagePtr page = PagePtr::Create();
  page.PutRefConnection(db.get());
  if (std::optional<std::string> root = Option(args, "templates"))
    page.PutTempletRoot(FromUtf8(*root));
  const Text set_id = FromUtf8(args.positional[0]);
  const Text page_id = FromUtf8(args.positional[1]);
  const std::optional<std::string> map = Option(args, "map");
  if (map && map->empty()) throw UsageError("--map: the map's file name is empty");
  const bool strict = args.options.count("strict") != 0;
  if (execute && !map && !strict) {
    // Nothing needs the whole page: its pieces are written as they are made.
    PageWriter writer(encoding, output);
    page.ExecuteCodeTo(set_id, page_id, [&](TextView piece) { writer.Put(piece); });
    writer.Finish();
    const Text log = page.GetErrors();
    output.err += ToUtf8(log);
    return log.empty() ? kExitOk : kExitLogged;
  }
  PageTrace trace;
  const com::Bstr code =
      map ? (execute ? page.ExecuteCodeOf(set_id, page_id, trace)
                     : page.AspCodeOf(set_id, page_id, trace))
          : (execute ? page.ExecuteCodeOf(set_id, page_id) : page.AspCodeOf(set_id, page_id));
  if (map) WritePageMap(*map, trace, code.view());
  Text log = page.GetErrors();
  {
    PageWriter writer(encoding, output);
    writer.Put(code.view());
    writer.Finish();
  }
  output.err += ToUtf8(log);
  int status = log.empty() ? kExitOk : kExitLogged;
  if (strict) {
    const std::string warnings = StrictWarnings(args, *db, set_id, page_id, code.view(), encoding);
    if (!warnings.empty()) {
      output.err += "vavizar " + std::string(command.name) + ": warning: " + warnings + "\n";
      status = kExitLogged;
    }
  }
  return status;
}

int RunRegistration(const Command& command, const ParsedArgs& args, Output& output) {
  const bool registering = std::string(command.name) == "register";
  if (args.positional[0].empty()) throw UsageError("MODULE: a file name is needed");
  // A bare name is a file in the current folder, not one for the loader to
  // search for; the registry keeps the absolute path.
  const std::string module = std::filesystem::absolute(args.positional[0]).string();
  com::ClearErrorInfo();
  com::HRESULT hr =
      com::CallModuleExport(module, registering ? "DllRegisterServer" : "DllUnregisterServer");
  if (com::FAILED(hr)) throw FatalError(module + ": " + Describe(com::FailureFromHResult(hr)));
  output.err += std::string(registering ? "registered " : "unregistered ") + module + " (" +
                com::RegistryPath() + ")\n";
  return kExitOk;
}

const Command kCommands[] = {
    {"asp",
     "the server-page code of one page",
     "usage: vavizar asp [options] SET PAGE\n"
     "Writes the server-page code of page PAGE of template set SET to stdout and\n"
     "the lines the call added to the error log to stderr.\n",
     RunPage,
     {"db", "odbc", "templates", "codepage", "encoding", "max-chars", "busy-timeout", "map"},
     {"strict"},
     2,
     "what is written to stdout"},
    {"exec",
     "the same page as execute code",
     "usage: vavizar exec [options] SET PAGE\n"
     "Writes page PAGE of template set SET as execute code (script statements) to\n"
     "stdout and the lines the call added to the error log to stderr.\n",
     RunPage,
     {"db", "odbc", "templates", "codepage", "encoding", "max-chars", "busy-timeout", "map"},
     {"strict"},
     2,
     "what is written to stdout"},
    {"check",
     "find template and tag-row mistakes in the pages of a set",
     kCheckUsage,
     [](const Command&, const ParsedArgs& args, Output& output) { return RunCheck(args, output); },
     {"db", "odbc", "templates", "codepage", "encoding", "set", "page", "busy-timeout"},
     {"json", "strict"},
     0,
     "the pages, for the characters it must hold"},
    {"register",
     "register a component module",
     "usage: vavizar register MODULE\n"
     "Loads MODULE and calls its DllRegisterServer. The registry file is\n"
     "$VAVIZAR_COM_REGISTRY, else $XDG_DATA_HOME/vavizar/registry.txt, else\n"
     "~/.local/share/vavizar/registry.txt.\n"
     "exit status: 0 registered, 2 the module cannot be loaded or refused\n",
     RunRegistration,
     {},
     {},
     1},
    {"unregister",
     "remove what registering a module wrote",
     "usage: vavizar unregister MODULE\n"
     "Loads MODULE and calls its DllUnregisterServer.\n"
     "exit status: 0 unregistered, 2 the module cannot be loaded or refused\n",
     RunRegistration,
     {},
     {},
     1},
    {"build",
     "every page of a template set into a folder",
     kBuildUsage,
     [](const Command&, const ParsedArgs& args, Output& output) { return RunBuild(args, output); },
     {"db", "odbc", "templates", "codepage", "encoding", "max-chars", "set", "out", "jobs",
      "busy-timeout"},
     {"exec", "changed", "prune", "no-wait", "strict", "map", "watch"},
     0,
     "the files written"},
    {"serve",
     "the pages of a set in a browser, generated again as they are saved",
     kServeUsage,
     [](const Command&, const ParsedArgs& args, Output& output) {
       return RunServeCommand(args, output);
     },
     {"db", "odbc", "templates", "codepage", "encoding", "set", "bind", "port", "busy-timeout"},
     {},
     0,
     "the pages, for the findings"},
    {"where",
     "where a character of a generated page came from (its .map)",
     kWhereUsage,
     [](const Command&, const ParsedArgs& args, Output& output) { return RunWhere(args, output); },
     {},
     {"json"},
     1},
};

std::string MainUsage() {
  std::string text =
      "usage: vavizar COMMAND [options] [arguments]\n"
      "Generates the server-page code of template pages.\n\ncommands:\n";
  for (const Command& c : kCommands) {
    std::string name = c.name;
    name.resize(12, ' ');
    text += "  " + name + c.summary + "\n";
  }
  text += "  version     the command's version and the component's\n";
  text += "\n'vavizar COMMAND --help' tells more of each.\n";
  return text;
}

// The help of `command`: its usage, then the options it shares.
std::string Help(const Command& command) {
  std::string text = command.usage;
  if (command.valued.count("db") != 0) {
    text += kPageOptions;
    text += std::string("  --encoding ENC         encoding of ") + command.encoding +
            " (default UTF-8)\n";
  }
  if (command.valued.count("max-chars") != 0) text += kLimitOption;
  if (command.run == RunPage) text += kStrictOption;
  if (command.valued.count("map") != 0) text += kMapOption;
  if (command.valued.count("db") != 0) text += kEnvironment;
  if (command.run == RunPage) text += kPageExitStatus;
  return text;
}

// The options that the environment gives a default: --templates from
// VAVIZAR_TEMPLATES, and the database from VAVIZAR_DB or VAVIZAR_ODBC when
// neither --db nor --odbc is given. An empty variable counts as unset.
void ApplyEnvironment(ParsedArgs& args) {
  auto variable = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
  };
  if (args.options.count("templates") == 0) {
    if (auto dir = variable("VAVIZAR_TEMPLATES")) args.options["templates"] = *dir;
  }
  if (args.options.count("db") != 0 || args.options.count("odbc") != 0) return;
  const std::optional<std::string> db = variable("VAVIZAR_DB");
  const std::optional<std::string> odbc = variable("VAVIZAR_ODBC");
  if (db && odbc)
    throw UsageError("VAVIZAR_DB and VAVIZAR_ODBC are both set: give --db FILE or --odbc STRING");
  if (db) args.options["db"] = *db;
  if (odbc) args.options["odbc"] = *odbc;
}

int RunCommand(const Command& command, const std::vector<std::string>& words, Output& output) {
  ParsedArgs parsed = ParseArgs(words, command.valued, command.flags);
  if (parsed.help) {
    output.out += Help(command);
    return kExitOk;
  }
  if (parsed.positional.size() != command.positional) {
    throw UsageError("expected " + std::to_string(command.positional) + " argument" +
                     (command.positional == 1 ? "" : "s") + ", got " +
                     std::to_string(parsed.positional.size()));
  }
  if (command.valued.count("db") != 0) ApplyEnvironment(parsed);
  return command.run(command, parsed, output);
}

std::string VersionText() {
  const com::ServerRegistration& page = PageRegistration();
  return std::string("vavizar ") + VZ_VERSION + " (component " + page.progid + " " +
         std::to_string(page.library_major) + "." + std::to_string(page.library_minor) + ")\n";
}

}  // namespace

int ReportError(const std::string& command, const Error& error, Output& output) {
  const std::string who = command.empty() ? "vavizar" : "vavizar " + command;
  output.err += who + ": " + error.what() + "\n";
  if (error.usage()) output.err += "Try '" + who + " --help'.\n";
  return kExitUsage;
}

int Run(const std::vector<std::string>& args, Output& output) {
  if (args.empty()) {
    output.err += MainUsage();
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    output.out += MainUsage();
    return kExitOk;
  }
  if (args[0] == "--version" || args[0] == "version") {
    output.out += VersionText();
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (args[0] != command.name) continue;
    try {
      return RunCommand(command, std::vector<std::string>(args.begin() + 1, args.end()), output);
    } catch (const Error& e) {
      return ReportError(command.name, e, output);
    } catch (...) {
      // A failure nobody expected (memory, a platform failure): the command
      // ends with its description rather than with std::terminate.
      return ReportError(command.name, FatalError(OneLine(CurrentError().description)), output);
    }
  }
  output.err += "vavizar: unknown command '" + args[0] + "'\n" + MainUsage();
  return kExitUsage;
}

}  // namespace vz::cli
