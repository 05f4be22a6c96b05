#include "cli/check_command.h"

#include <optional>
#include <string>
#include <vector>

#include "cli/database.h"
#include "cli/template_lint.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "store/page_source.h"
#include "store/sql_value.h"

namespace vz::cli {

const char kCheckUsage[] =
    "usage: vavizar check [options] --set SET [--page PAGE] [--json]\n"
    "Checks the templates and tag rows of every page registered for template set\n"
    "SET (or only of PAGE) for mistakes that make generating a page fail or come\n"
    "out other than meant, and writes one finding a line to stdout:\n"
    "FILE:LINE:COLUMN: KIND: MESSAGE, the source line and a caret under the column.\n"
    "Characters that the encoding of --encoding cannot hold are findings too.\n"
    "  --set SET              the template set (required)\n"
    "  --page PAGE            only this page of the set\n"
    "  --json                 one JSON object a finding instead (fields file, line,\n"
    "                         column, kind, tag, row, row_name, message)\n"
    "exit status: 0 no findings, 1 findings, 2 bad usage or a database that cannot\n"
    "             be opened or read\n";

namespace {

// The findings of one page, with what they are about.
struct PageReport {
  std::string file;  // the template file as opened; "" when there is none
  Text text;
  std::vector<Finding> findings;
};

Finding FileFinding(std::string kind, const std::string& message) {
  Finding f;
  f.kind = std::move(kind);
  f.message = FromUtf8(message);
  return f;
}

// The tag rows of a page's tag table, as the lint takes them.
std::vector<TagRow> LintRowsOf(const ado::RowTable& tags, const std::string& which) {
  if (tags.rows > 0 && tags.columns < 4) {
    Raise(kSubscriptOutOfRange,
          FromUtf8("the tag rows of " + which + " have " + std::to_string(tags.columns) +
                   " columns; the tag code is the fourth"));
  }
  std::vector<TagRow> rows(static_cast<size_t>(tags.rows));
  for (int32_t r = 0; r < tags.rows; ++r) {
    const ado::Cell& name = tags.At(0, r);
    const ado::Cell& code = tags.At(3, r);
    if (!ado::IsNull(name)) rows[static_cast<size_t>(r)].name = ado::CellText(name);
    if (!ado::IsNull(code)) rows[static_cast<size_t>(r)].code = ado::CellText(code);
  }
  return rows;
}

// Checks page `page_id` of set `set_id`, with its inputs read as the
// component reads them.
PageReport CheckPage(ado::Connection& conn, const Text& templet_root, const Text& set_id,
                     const Text& page_id, const std::string& encoding) {
  PageReport report;
  const std::string which = "page " + ToUtf8(page_id) + " of set " + ToUtf8(set_id);
  PageInputs inputs = ReadPageInputs(conn, templet_root, set_id, page_id);
  if (!inputs.registered) {
    report.findings.push_back(
        FileFinding("not-registered", "no template is registered for " + which));
    return report;
  }
  report.file = ToUtf8(Replace(inputs.path, u"\\", u"/"));
  if (inputs.read_failure) {
    report.findings.push_back(FileFinding("missing-template",
                                          "the template of " + which + " cannot be read: " +
                                              OneLine(inputs.read_failure->description())));
  }
  report.text = std::move(inputs.text);
  std::vector<Finding> page_findings = LintPage(report.text, LintRowsOf(inputs.tags, which), encoding);
  report.findings.insert(report.findings.end(), page_findings.begin(), page_findings.end());
  return report;
}

}  // namespace

int RunCheck(const ParsedArgs& args, Output& output) {
  const std::string encoding = Option(args, "encoding").value_or("UTF-8");
  const std::optional<std::string> set = Option(args, "set");
  const std::optional<std::string> page = Option(args, "page");
  const bool json = args.options.count("json") != 0;
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
  // Without --templates the folder is not set and the file name stands alone.
  const std::optional<std::string> templates = Option(args, "templates");
  const Text root = templates ? TempletRootOf(FromUtf8(*templates)) : Text();
  std::vector<PageReport> reports;
  try {
    ado::Connection& conn = *db;
    CheckSchema(conn);
    std::vector<Text> pages;
    if (page) {
      pages.push_back(FromUtf8(*page));
    } else {
      pages = ListSetPages(conn, set_id);
      if (pages.empty()) {
        PageReport none;
        none.findings.push_back(
            FileFinding("not-registered", "no page is registered for set " + *set));
        reports.push_back(std::move(none));
      }
    }
    for (const Text& page_id : pages) {
      reports.push_back(CheckPage(conn, root, set_id, page_id, encoding));
    }
  } catch (const Failure& f) {
    throw FatalError(OneLine(f.description()));
  }

  bool any = false;
  for (const PageReport& report : reports) {
    for (const Finding& finding : report.findings) {
      any = true;
      output.out += json ? FormatJson(report.file, report.text, finding)
                         : FormatHuman(report.file, report.text, finding);
    }
  }
  return any ? kExitLogged : kExitOk;
}

}  // namespace vz::cli
