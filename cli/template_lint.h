// Template lint: the mistakes in a page's template text and tag rows that make
// the page's generation fail or come out other than its author meant, found
// without generating it. Plain functions of texts and rows; `vavizar check`
// (cli/check_command.h) feeds them from a database and prints what they find.
//
//   std::vector<TagRow> rows = {{u"box", u"S[data]E"}};
//   std::vector<Finding> found = LintPage(u"<!--bxo-->x", rows, "UTF-8");
//   // found[0].kind == "misspelled-tag", found[0].offset == 0,
//   // found[0].message == u"`<!--bxo-->`: did you mean `box`?"
//   std::string line = FormatHuman("a.html", u"<!--bxo-->x", found[0]);
//   // "a.html:1:1: misspelled-tag: `<!--bxo-->`: did you mean `box`?\n"
//   // "<!--bxo-->x\n"
//   // "^\n"
//
// The tag rules are those of the expansion (generate/expand_tag.h): for a tag
// named N, "<!--N " and "<!--N-->" open it, "<!--/N-->" closes it, and an
// opening tag pairs with the first closing tag after its "-->".
//
// Lines and columns are 1-based. A line ends at LF, at CR LF or at a CR not
// followed by LF (so templates saved on any system count alike); a column
// counts characters (a surrogate pair is one), a tab as one.

#ifndef VAVIZAR_CLI_TEMPLATE_LINT_H_
#define VAVIZAR_CLI_TEMPLATE_LINT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace vz::cli {

// One row of a page's tag table: column 0 (the name) and column 3 (the code);
// nothing for a NULL cell.
struct TagRow {
  std::optional<Text> name;
  std::optional<Text> code;
};

// Most rows the component applies: its row index is a 16-bit signed number.
inline constexpr size_t kMaxTagRows = 32767;

// Offset of a finding that is about the file or its rows, not a place in the
// text.
inline constexpr size_t kNoOffset = static_cast<size_t>(-1);

struct Finding {
  // One of:
  //   unterminated-tag     an opening tag "<!--N " with no "-->" after it
  //   unopened-closing-tag a closing tag with no opening tag of N before it
  //   mispaired-tag        an opening tag whose first closing tag after its
  //                        "-->" lies past another opening tag of N
  //   code-opens-itself    a row's code holds "<!--N " or "<!--N-->"
  //   null-name, null-code a row with a NULL name or code
  //   too-many-rows        rows past kMaxTagRows
  //   misspelled-tag       a comment whose first word is one or two edits
  //                        from a tag name of the rows
  //   unencodable          characters the output encoding cannot hold
  //   missing-template     a registered template that cannot be read
  //   not-registered       no template registered for the page (or set)
  std::string kind;
  size_t offset = kNoOffset;  // 0-based code unit of the text where it is
  std::optional<Text> tag;    // the tag name involved, if any
  int64_t row = 0;            // the row involved, 1-based in delivery order; 0 none
  std::optional<Text> row_name;
  Text message;
};

// Every finding for one page: its template text, its tag rows in delivery
// order and the output encoding (a code-page number or iconv name). Findings
// about rows (offset kNoOffset unless the text uses the tag) come first in row
// order, then those in the text by offset. Raises 5 for an unknown encoding.
std::vector<Finding> LintPage(TextView text, const std::vector<TagRow>& rows,
                              std::string_view encoding);

// The findings about the rows alone: NULL cells, codes that open themselves,
// rows past kMaxTagRows. A code that opens itself is placed at the first
// opening tag of its name in `text`, if any.
std::vector<Finding> LintRows(TextView text, const std::vector<TagRow>& rows);

// The findings about the tag markup of `names` in `text`: unterminated,
// unopened closing and mispaired tags, and misspelled tag names in comments.
std::vector<Finding> LintMarkup(TextView text, const std::vector<Text>& names);

// The findings for characters of `text` that `encoding` cannot hold, one for
// each run of adjacent ones on a line.
std::vector<Finding> LintEncoding(TextView text, std::string_view encoding);

// The edit distance of `a` and `b` with insertion, deletion, substitution
// and transposition of adjacent characters (optimal string alignment), by
// code unit.
size_t EditDistance(TextView a, TextView b);

// The 1-based line and column of `offset` in `text`.
struct LineColumn {
  int64_t line = 0;
  int64_t column = 0;
};
LineColumn Locate(TextView text, size_t offset);

// A finding for a compiler-like report: "FILE:LINE:COLUMN: KIND: MESSAGE",
// the source line and a caret under the column, each ending in LF. A finding
// without an offset is the one line "FILE: KIND: MESSAGE" ("FILE" left out
// with the ": " after it when `file` is empty).
std::string FormatHuman(const std::string& file, TextView text, const Finding& finding);

// A finding as one JSON object on one line ending in LF, with the fields
// file, line, column (0 without an offset), kind, tag, row, row_name (null
// when absent) and message.
std::string FormatJson(const std::string& file, TextView text, const Finding& finding);

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view utf8);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_TEMPLATE_LINT_H_
