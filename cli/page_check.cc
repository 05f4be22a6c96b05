#include "cli/page_check.h"

#include <algorithm>
#include <variant>

#include "cli/error.h"
#include "cli/options.h"
#include "platform/fso/code_page.h"
#include "platform/fso/file_system.h"

namespace vz::cli {
namespace {

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

}  // namespace

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

SetCheck::SetCheck(ado::Connection& conn, const std::optional<std::string>& templates,
                   const std::string& encoding)
    : templates_(templates) {
  // Without --templates the folder is not set and the file name stands alone.
  if (templates) templet_root_ = TempletRootOf(FromUtf8(*templates));
  lint_.encoding = encoding;
  lint_.max_length = kDefaultMaxChars;
  layout_ = TagLayoutFinding(ReadTagTable(conn), TagColumnNames(conn));
  if (!layout_) function_tags_ = FunctionTagMap(conn);
}

void SetCheck::CheckPage(const PageInputs& inputs, const std::string& which,
                         const std::function<void(Finding&&)>& sink) const {
  if (inputs.read_failure) {
    sink(MakeFinding("missing-template", kNoOffset,
                     "the template of " + which +
                         " cannot be read: " + OneLine(inputs.read_failure->description())));
  }
  if (inputs.faults.count > 0) sink(InvalidBytesFinding(inputs));
  if (LeavesTempletRoot(templet_root_, inputs.path)) {
    const Text tmpl_file = ado::IsNull(inputs.tmpl_file) ? Text() : ado::CellText(inputs.tmpl_file);
    sink(MakeFinding("outside-folder", kNoOffset,
                     "tmpl_file " + Quoted(tmpl_file, 400) + " leads outside the template folder " +
                         (!templates_ || templates_->empty()
                              ? std::string("(the working folder: no --templates)")
                              : Quoted(FromUtf8(*templates_), 400)) +
                         ", through `..`, an absolute name or a link: allowed, but rarely meant"));
  }
  LintOptions lint = lint_;
  lint.function_tags = &function_tags_;
  LintPage(inputs.text, LintRowsOf(inputs.tags), lint, sink);
}

}  // namespace vz::cli
