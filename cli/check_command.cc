#include "cli/check_command.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "cli/database.h"
#include "cli/error.h"
#include "cli/finding_printer.h"
#include "cli/template_lint.h"
#include "cli/write.h"
#include "platform/ado/open.h"
#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/encoder.h"
#include "platform/fso/file_system.h"
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

// The tag rows of a page's tag table, as the lint takes them. A table
// without a fourth column gives none: the layout finding tells of it.
std::vector<TagRow> LintRowsOf(const ado::RowTable& tags) {
  if (tags.columns < 4) return {};
  std::vector<TagRow> rows(static_cast<size_t>(tags.rows));
  for (int32_t r = 0; r < tags.rows; ++r) {
    const ado::Cell& name = tags.At(0, r);
    const ado::Cell& code = tags.At(3, r);
    if (!ado::IsNull(name)) rows[static_cast<size_t>(r)].name = ado::CellText(name);
    if (!ado::IsNull(code)) rows[static_cast<size_t>(r)].code = ado::CellText(code);
  }
  return rows;
}

std::string ColumnList(const std::vector<Text>& columns) {
  std::string out;
  for (size_t i = 0; i < columns.size(); ++i) out += (i > 0 ? ", " : "") + Quoted(columns[i]);
  return out;
}

// A finding when web_tag is not laid out as the component reads it: the tag
// name first, the tag code fourth.
std::optional<Finding> TagLayoutFinding(const ado::RowTable& table,
                                        const std::vector<Text>& columns) {
  if (table.rows == 0) return std::nullopt;
  const bool named = columns.size() == static_cast<size_t>(table.columns);
  const std::string layout = named ? "; its columns are " + ColumnList(columns) : std::string();
  if (table.columns < 4) {
    return MakeFinding("tag-columns", kNoOffset,
                       "web_tag has " + std::to_string(table.columns) +
                           " columns, but the component reads the tag code from the fourth, so "
                           "generating any page with tag rows fails" +
                           layout + "; the pages are not checked until then");
  }
  bool numbers = false;
  for (int32_t r = 0; r < table.rows; ++r) {
    const ado::Cell& cell = table.At(0, r);
    if (ado::IsNull(cell)) continue;
    if (std::holds_alternative<Text>(cell)) return std::nullopt;
    numbers = true;
  }
  if (!numbers) return std::nullopt;
  return MakeFinding(
      "tag-columns", kNoOffset,
      "the first column of web_tag" + (named ? " (" + Quoted(columns[0]) + ")" : std::string()) +
          " holds numbers, but the component takes the first column as the tag name and the "
          "fourth as the tag code: no tag can match, so every page comes out unexpanded" +
          layout +
          "; put the tag name first and the tag code fourth; the pages are not checked "
          "until then");
}

// Tag name -> the functions whose rows have it.
std::unordered_map<Text, std::vector<Text>> FunctionTagMap(ado::Connection& conn) {
  std::unordered_map<Text, std::vector<Text>> map;
  for (FunctionTag& tag : ReadFunctionTags(conn)) {
    std::vector<Text>& functions = map[tag.name];
    if (std::find(functions.begin(), functions.end(), tag.function) == functions.end())
      functions.push_back(std::move(tag.function));
  }
  return map;
}

// Bytes of the template that the code page does not hold: where the first
// is, how many there are, and which of the common code pages would read the
// file cleanly.
Finding InvalidBytesFinding(const PageInputs& inputs) {
  static const std::vector<std::string> kCommon = {"65001", "936", "950", "932", "1252"};
  static const char* const kNames[] = {"UTF-8", "GBK", "Big5", "Shift-JIS", "Windows-1252"};
  const int64_t n = inputs.faults.count;
  std::string message = std::to_string(n) + (n == 1 ? " byte sequence is" : " byte sequences are") +
                        " not valid in code page " + fso::CodePage() +
                        " and read as U+FFFD (this is the first)";
  std::string clean;
  for (const std::string& page : fso::CodePagesThatDecode(inputs.path, kCommon)) {
    const size_t i =
        static_cast<size_t>(std::find(kCommon.begin(), kCommon.end(), page) - kCommon.begin());
    clean += (clean.empty() ? "" : ", ") + std::string(kNames[i]) + " (--codepage " + page + ")";
  }
  message += clean.empty() ? "; none of the common code pages reads it cleanly"
                           : "; it reads cleanly as " + clean;
  return MakeFinding("invalid-bytes", static_cast<size_t>(inputs.faults.first), message);
}

struct CheckSettings {
  Text templet_root;
  std::string templates;  // the folder as given
  LintOptions lint;
};

// Checks page `page_id` of set `set_id`, with its inputs read as the
// component reads them, and reports what it finds.
void CheckPage(ado::Connection& conn, const CheckSettings& settings, const Text& set_id,
               const Text& page_id, Report& report) {
  const std::string which = "page " + ToUtf8(page_id) + " of set " + ToUtf8(set_id);
  PageInputs inputs = ReadPageInputs(conn, settings.templet_root, set_id, page_id);
  if (!inputs.registered) {
    report.AddAlone(
        MakeFinding("not-registered", kNoOffset, "no template is registered for " + which));
    return;
  }
  report.Start(ShownPath(inputs.path), inputs.text);
  if (inputs.read_failure) {
    report.Add(MakeFinding("missing-template", kNoOffset,
                           "the template of " + which +
                               " cannot be read: " + OneLine(inputs.read_failure->description())));
  }
  if (inputs.faults.count > 0) report.Add(InvalidBytesFinding(inputs));
  if (LeavesTempletRoot(settings.templet_root, inputs.path)) {
    const Text tmpl_file = ado::IsNull(inputs.tmpl_file) ? Text() : ado::CellText(inputs.tmpl_file);
    report.Add(MakeFinding(
        "outside-folder", kNoOffset,
        "tmpl_file " + Quoted(tmpl_file, 400) + " leads outside the template folder " +
            (settings.templates.empty() ? std::string("(the working folder: no --templates)")
                                        : Quoted(FromUtf8(settings.templates), 400)) +
            ", through `..`, an absolute name or a link: allowed, but rarely meant"));
  }
  LintPage(inputs.text, LintRowsOf(inputs.tags), settings.lint,
           [&report](Finding&& f) { report.Add(f); });
  report.Flush();
}

}  // namespace

int RunCheck(const ParsedArgs& args, Output& output) {
  CheckSettings settings;
  settings.lint.encoding = Option(args, "encoding").value_or("UTF-8");
  settings.lint.max_length = kDefaultMaxChars;
  const std::optional<std::string> set = Option(args, "set");
  const std::optional<std::string> page = Option(args, "page");
  if (!set) throw UsageError("give the template set with --set SET");
  const Text set_id = FromUtf8(*set);
  try {
    fso::CheckEncoding(settings.lint.encoding);
    if (std::optional<std::string> cp = Option(args, "codepage")) fso::SetCodePage(*cp);
    SqlValue(set_id);
    if (page) SqlValue(FromUtf8(*page));
  } catch (const Failure& f) {
    throw UsageError(OneLine(f.description()));
  }

  com::Ref<ado::DatabaseConnection> db = OpenDatabase(args);
  CheckTemplateFolder(args);
  // Without --templates the folder is not set and the file name stands alone.
  if (std::optional<std::string> templates = Option(args, "templates")) {
    settings.templates = *templates;
    settings.templet_root = TempletRootOf(FromUtf8(*templates));
  }
  Report report(output, args.options.count("json") != 0, args.options.count("strict") != 0);
  try {
    ado::Connection& conn = *db;
    CheckSchema(conn);
    // With the tag rows laid out otherwise, every page would only repeat it.
    if (std::optional<Finding> layout =
            TagLayoutFinding(ReadTagTable(conn), TagColumnNames(conn))) {
      report.AddAlone(*layout);
      return report.Status();
    }
    const std::unordered_map<Text, std::vector<Text>> function_tags = FunctionTagMap(conn);
    settings.lint.function_tags = &function_tags;
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
    for (const Text& page_id : pages) CheckPage(conn, settings, set_id, page_id, report);
  } catch (const Failure& f) {
    throw FatalError(OneLine(f.description()));
  }
  return report.Status();
}

}  // namespace vz::cli
