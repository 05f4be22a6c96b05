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
#include "platform/fso/file_system.h"
#include "store/sql_value.h"
#include "store/templet_store.h"

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

constexpr const char kName[] = "vavizar check: ";

int Problem(const std::string& message, bool usage, Output& output) {
  output.err += kName + message + "\n";
  if (usage) output.err += "Try 'vavizar check --help'.\n";
  return kExitUsage;
}

std::optional<std::string> Option(const ParsedArgs& args, const char* name) {
  auto it = args.options.find(name);
  if (it == args.options.end()) return std::nullopt;
  return it->second;
}

// Runs a query and returns all its rows; an empty table when it has none.
ado::RowTable Query(ado::Connection& conn, const Text& sql) {
  com::Ref<ado::Recordset> rs = conn.Execute(sql, ado::adOptionUnspecified);
  ado::RowTable rows;
  if (!rs->Eof()) rows = rs->GetRows(ado::adGetRowsRest);
  rs->Close();
  return rows;
}

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

// Checks page `page_id` of set `set_id`.
PageReport CheckPage(ado::Connection& conn, const std::optional<Text>& root, const Text& set_id,
                     const Text& page_id, const std::string& encoding) {
  PageReport report;
  const std::string which = "page " + ToUtf8(page_id) + " of set " + ToUtf8(set_id);
  // The first row delivered, as the component takes it.
  ado::RowTable templet =
      Query(conn, Concat({u"select tmpl_file from web_templet where page_id=", SqlValue(page_id),
                          u" and tset_id=", SqlValue(set_id)}));
  if (templet.rows == 0) {
    report.findings.push_back(
        FileFinding("not-registered", "no template is registered for " + which));
    return report;
  }
  // The component stores the folder with a "\" after it unless it ends in
  // one; without --templates the folder is not set and the name stands alone.
  Text path;
  if (root) path = (!root->empty() && root->back() == u'\\') ? *root : Concat({*root, u"\\"});
  if (!ado::IsNull(templet.At(0, 0))) path = Concat({path, ado::CellText(templet.At(0, 0))});
  path = Replace(path, u"/", u"\\");
  report.file = ToUtf8(Replace(path, u"\\", u"/"));

  try {
    com::Ref<fso::FileSystemObject> files = fso::CreateFileSystemObject();
    com::Ref<fso::TextStream> stream =
        files->OpenTextFile(path, fso::ForReading, false, fso::TristateFalse);
    report.text = stream->ReadAll();
    stream->Close();
  } catch (const Failure& f) {
    report.findings.push_back(
        FileFinding("missing-template",
                    "the template of " + which + " cannot be read: " + OneLine(f.description())));
    report.text.clear();
  }

  const ado::RowTable tags = GetPageTags(&conn, page_id);
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
  std::vector<Finding> page_findings = LintPage(report.text, rows, encoding);
  report.findings.insert(report.findings.end(), page_findings.begin(), page_findings.end());
  return report;
}

}  // namespace

int RunCheck(const ParsedArgs& args, Output& output) {
  const std::string encoding = Option(args, "encoding").value_or("UTF-8");
  const std::optional<std::string> set = Option(args, "set");
  const std::optional<std::string> page = Option(args, "page");
  const std::optional<std::string> templates = Option(args, "templates");
  const bool json = args.options.count("json") != 0;
  if (!set) return Problem("give the template set with --set SET", true, output);
  const Text set_id = FromUtf8(*set);
  try {
    fso::CheckEncoding(encoding);
    if (std::optional<std::string> cp = Option(args, "codepage")) fso::SetCodePage(*cp);
    SqlValue(set_id);
    if (page) SqlValue(FromUtf8(*page));
  } catch (const Failure& f) {
    return Problem(OneLine(f.description()), true, output);
  }

  std::string problem;
  bool usage_mistake = false;
  std::optional<com::Ref<ado::DatabaseConnection>> db =
      OpenDatabase(args, &problem, &usage_mistake);
  if (!db) return Problem(problem, usage_mistake, output);

  std::optional<Text> root;
  if (templates) root = FromUtf8(*templates);
  std::vector<PageReport> reports;
  try {
    ado::Connection& conn = *db->get();
    std::vector<Text> pages;
    if (page) {
      pages.push_back(FromUtf8(*page));
    } else {
      const ado::RowTable ids =
          Query(conn, Concat({u"select distinct page_id from web_templet where tset_id=",
                              SqlValue(set_id), u" order by page_id"}));
      for (int32_t r = 0; r < ids.rows; ++r) {
        if (!ado::IsNull(ids.At(0, r))) pages.push_back(ado::CellText(ids.At(0, r)));
      }
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
    return Problem(OneLine(f.description()), false, output);
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
