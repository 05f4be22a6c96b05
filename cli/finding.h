// What `vavizar check` finds and what it looks at: the tag rows of a page and
// one finding about a page, with the kinds of finding and their severities.

#ifndef VAVIZAR_CLI_FINDING_H_
#define VAVIZAR_CLI_FINDING_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace vz::cli {

// One row of a page's tag table: column 0 (the name) and column 3 (the code);
// nothing for a NULL cell.
struct TagRow {
  std::optional<Text> name;
  std::optional<Text> code;
};

// An error is a page that fails or comes out other than its author meant; a
// warning is something allowed that is rarely meant, or a guess.
enum class Severity { kError, kWarning };

// "error" or "warning".
const char* SeverityName(Severity severity);

// The severity of a kind of finding (the kinds are listed at Finding::kind).
// REQUIRES: `kind` is one of them.
Severity SeverityOf(std::string_view kind);

// Offset of a finding that is about the file or its rows, not a place in the
// text.
inline constexpr size_t kNoOffset = static_cast<size_t>(-1);

struct Finding {
  // One of (E error, W warning):
  //   unterminated-tag     E an opening tag "<!--N " with no "-->" after it
  //   closing-tag-before   E an opening tag with no closing tag left after
  //                          it while the page has one before it (fails)
  //   attributes-run-on    E attribute text that runs past other markup to
  //                          a later "-->"
  //   unclosed-tag         E an opening tag without a closing tag whose code
  //                          holds "[data]" (the marker lands in the page)
  //   bad-attributes       E attribute text whose assignment lines do not
  //                          compile
  //   tag-left             E an opening tag of a row that is applied before
  //                          a later row's code brings the tag in
  //   page-too-long        E a page that grows past the working limit
  //   tag-not-applied      E a comment that is plainly a custom tag, whose
  //                          name no row applying to the page has
  //   unopened-closing-tag W a closing tag with no opening tag of N before it
  //   mispaired-tag        W an opening tag whose first closing tag after its
  //                          "-->" lies past another opening tag of N
  //   misspelled-tag       W a comment whose first word is one or two edits
  //                          from a tag name of the rows
  //   code-opens-itself    E a row's code holds "<!--N " or "<!--N-->"
  //   null-name, null-code E a row with a NULL name or code
  //   too-many-rows        E rows past the last row index
  //   odd-tag-name         W a row name the expansion can match across other
  //                          markup (blanks, "<", ">", "%", quotes, ...)
  //   generation-fails     E a page with such a row whose generation fails
  //   markup-grows         E markup that grows past what check follows
  //   unencodable          E characters of the template or of a used code
  //                          that the output encoding cannot hold
  //   missing-template     E a registered template that cannot be read
  //   invalid-bytes        E bytes of the template not valid in the code page
  //                          (read as U+FFFD), with the common code pages
  //                          that decode the file cleanly
  //   not-registered       E no template registered for the page (or set)
  //   outside-folder       W a template path that leaves the template folder
  //   tag-columns          E a web_tag whose columns are not laid out as the
  //                          component reads them
  std::string kind;
  Severity severity = Severity::kError;
  size_t offset = kNoOffset;  // 0-based code unit of the text where it is
  std::optional<Text> tag;    // the tag name involved, if any
  int64_t row = 0;            // the row involved, 1-based in delivery order; 0 none
  std::optional<Text> row_name;
  Text message;
};

// A finding of `kind` with its severity, at `offset`, with `message` (UTF-8).
Finding MakeFinding(std::string_view kind, size_t offset, const std::string& message);

// `text` for a message: at most `max_chars` characters (then "..."), line
// breaks, tabs and other control characters written as \r, \n, \t, \xHH, in
// backquotes.
std::string Quoted(TextView text, size_t max_chars = 60);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_FINDING_H_
