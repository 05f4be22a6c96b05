// Template lint: the mistakes in a page's template text and tag rows that make
// the page's generation fail or come out other than its author meant. Plain
// functions of texts and rows; `vavizar check` (cli/check_command.h) feeds
// them from a database and prints what they find (cli/finding_printer.h).
//
//   std::vector<TagRow> rows = {{u"box", u"S[data]E"}};
//   std::vector<Finding> found = LintPage(u"<!--bxo-->x", rows, LintOptions());
//   // found[0].kind == "misspelled-tag", found[0].offset == 0,
//   // found[0].message == u"`<!--bxo-->`: did you mean `box`?"
//
// The tag rules are those of the expansion (generate/expand_tag.h): for a tag
// named N, "<!--N " and "<!--N-->" open it, "<!--/N-->" closes it, and an
// opening tag pairs with the first closing tag after its "-->". What
// generating the page does with them is followed step by step
// (cli/expansion_trace.h), so a page that fails, or that keeps a "[data]",
// an opening tag or a custom tag, or gets assignment lines that do not
// compile, has a finding at the place that causes it.

#ifndef VAVIZAR_CLI_TEMPLATE_LINT_H_
#define VAVIZAR_CLI_TEMPLATE_LINT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli/finding.h"
#include "platform/text.h"

namespace vz::cli {

// Most rows the component applies: its row index is a 16-bit signed number.
inline constexpr size_t kMaxTagRows = 32767;

struct LintOptions {
  // The output encoding (a code-page number or iconv name).
  std::string encoding = "UTF-8";
  // The longest text generating the page may build.
  int64_t max_length = 268435456;
  // Every web_tag row that belongs to a function, as name -> the functions
  // (FunID in text form); null when not known. Tells which function a tag
  // the page uses but has no row for belongs to.
  const std::unordered_map<Text, std::vector<Text>>* function_tags = nullptr;
  // The bound of the expansion trace (TraceLimits::max_units); 0 default.
  size_t max_units = 0;
};

// Every finding for one page: its template text and its tag rows in
// delivery order. Findings about rows (offset kNoOffset unless the text uses
// the tag) come first in row order, then those in the text by offset.
// Raises 5 for an unknown encoding.
std::vector<Finding> LintPage(TextView text, const std::vector<TagRow>& rows,
                              const LintOptions& options);

// The same findings, in the same order, handed to `sink` one by one as they
// are found: the memory they take is that of the tags' places and of the few
// findings the following of the generation and the codes give, not that of
// every finding of the page.
void LintPage(TextView text, const std::vector<TagRow>& rows, const LintOptions& options,
              const std::function<void(Finding&&)>& sink);

// The findings about the rows alone: NULL cells, codes that open themselves,
// names the trace cannot follow, rows past kMaxTagRows. A code that opens
// itself is placed at the first opening tag of its name in `text`, if any.
std::vector<Finding> LintRows(TextView text, const std::vector<TagRow>& rows);

// The findings about the tag markup of the rows' names in `text`:
// unterminated, unopened closing and mispaired tags, comments that are
// plainly custom tags without a row, and misspelled tag names.
std::vector<Finding> LintMarkup(TextView text, const std::vector<TagRow>& rows,
                                const LintOptions& options);

// The findings for characters of `text` that `encoding` cannot hold, one for
// each run of adjacent ones on a line.
std::vector<Finding> LintEncoding(TextView text, std::string_view encoding);

// A tag of one of the rows' names in a text: an opening tag "<!--N-->" or
// "<!--N attributes-->" (up to its "-->", or to the end of the text when it
// has none) or a closing tag "<!--/N-->".
struct TagMark {
  size_t start = 0;
  size_t end = 0;
  Text name;
  bool closing = false;
};

// Every tag of the rows' names in `text`, by place, as the lint finds them;
// a comment that is a tag of two names is marked for each.
std::vector<TagMark> FindTagMarks(TextView text, const std::vector<TagRow>& rows);

// The edit distance of `a` and `b` with insertion, deletion, substitution
// and transposition of adjacent characters (optimal string alignment), by
// code unit.
size_t EditDistance(TextView a, TextView b);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_TEMPLATE_LINT_H_
