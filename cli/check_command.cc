#include "cli/check_command.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/database.h"
#include "cli/error.h"
#include "cli/finding_printer.h"
#include "cli/page_check.h"
#include "cli/write.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "store/page_source.h"
#include "store/sql_value.h"

namespace vz::cli {

const char kCheckUsage[] =
    "usage: vavizar check [options] --set SET [--page PAGE] [--json] [--strict]\n"
    "Checks the templates and tag rows of every page registered for template set\n"
    "SET (or only of PAGE) for mistakes that make generating a page fail or come\n"
    "out other than meant, and writes one finding a line to stdout as it finds\n"
    "them: FILE:LINE:COLUMN: SEVERITY: KIND: MESSAGE, then the source line (a\n"
    "window of it when long) and a caret under the column. Characters that the\n"
    "encoding of --encoding cannot hold, in templates and in the codes a page\n"
    "uses, are findings too.\n"
    "  --set SET              the template set (required)\n"
    "  --page PAGE            only this page of the set\n"
    "  --json                 one JSON object a finding instead (fields file, line,\n"
    "                         column, severity, kind, tag, row, row_name, message)\n"
    "  --strict               warnings count as errors for the exit status\n"
    "exit status: 0 no errors (warnings alone pass unless --strict), 1 errors,\n"
    "             2 bad usage or a database that cannot be opened or read\n";

namespace {

// Output flushed at this size even in the middle of a page.
constexpr size_t kFlushBytes = size_t{1} << 16;

// Findings written as they come, and the exit status they add up to.
class Report {
 public:
  Report(Output& output, bool json, bool strict) : output_(output), json_(json), strict_(strict) {}

  // The findings that follow are about `file`, whose text is `text`.
  void Start(const std::string& file, TextView text) { printer_.emplace(file, text, json_); }

  void Add(const Finding& f) {
    failed_ = failed_ || f.severity == Severity::kError || strict_;
    output_.out += printer_->Format(f);
    if (output_.out.size() >= kFlushBytes) Flush();
  }

  // A finding that is about no file.
  void AddAlone(const Finding& f) {
    Start("", TextView());
    Add(f);
    Flush();
  }

  void Flush() {
    if (output_.out_fd < 0 || output_.out.empty()) return;
    if (!WriteAll(output_.out_fd, output_.out))
      throw FatalError(std::string("cannot write the output: ") + std::strerror(errno));
    output_.out.clear();
  }

  int Status() const { return failed_ ? kExitLogged : kExitOk; }

 private:
  Output& output_;
  bool json_;
  bool strict_;
  bool failed_ = false;
  std::optional<FindingPrinter> printer_;
};

// Checks page `page_id` of set `set_id`, with its inputs read as the
// component reads them, and reports what it finds.
void CheckPage(ado::Connection& conn, const SetCheck& check, const Text& set_id,
               const Text& page_id, Report& report) {
  const std::string which = "page " + ToUtf8(page_id) + " of set " + ToUtf8(set_id);
  PageInputs inputs = ReadPageInputs(conn, check.templet_root(), set_id, page_id);
  if (!inputs.registered) {
    report.AddAlone(
        MakeFinding("not-registered", kNoOffset, "no template is registered for " + which));
    return;
  }
  report.Start(ShownPath(inputs.path), inputs.text);
  check.CheckPage(inputs, which, [&report](Finding&& f) { report.Add(f); });
  report.Flush();
}

}  // namespace

int RunCheck(const ParsedArgs& args, Output& output) {
  const std::string encoding = Option(args, "encoding").value_or("UTF-8");
  const std::optional<std::string> set = Option(args, "set");
  const std::optional<std::string> page = Option(args, "page");
  if (!set) throw UsageError("give the template set with --set SET");
  const Text set_id = FromUtf8(*set);
  try {
    fso::CheckEncoding(encoding);
    if (std::optional<std::string> cp = Option(args, "codepage")) fso::SetCodePage(*cp);
    SqlValue(set_id);
    if (page) SqlValue(FromUtf8(*page));
  } catch (const Failure& f) {
    throw UsageError(OneLine(f.description()));
  }

  com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);
  CheckTemplateFolder(args);
  Report report(output, args.options.count("json") != 0, args.options.count("strict") != 0);
  try {
    ado::Connection& conn = *db;
    CheckSchema(conn);
    const SetCheck check(conn, Option(args, "templates"), encoding);
    // With the tag rows laid out otherwise, every page would only repeat it.
    if (check.layout()) {
      report.AddAlone(*check.layout());
      return report.Status();
    }
    std::vector<Text> pages;
    if (page) {
      pages.push_back(FromUtf8(*page));
    } else {
      pages = ListSetPages(conn, set_id);
      if (pages.empty()) {
        report.AddAlone(
            MakeFinding("not-registered", kNoOffset, "no page is registered for set " + *set));
      }
    }
    for (const Text& page_id : pages) CheckPage(conn, check, set_id, page_id, report);
  } catch (const Failure& f) {
    throw FatalError(OneLine(f.description()));
  }
  return report.Status();
}

}  // namespace vz::cli
