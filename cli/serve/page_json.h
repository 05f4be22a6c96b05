// The data the pages of `vavizar serve` fetch: the list of a set's pages and
// the view of one page, as JSON. Plain functions of what the site model
// gathered; every text goes out as a JSON string, for the page to show as
// text.
//
// Offsets and lengths count UTF-16 code units, as the texts' own indexes do
// in JavaScript. The view of a page:
//
//   {"set": "1", "page": "3", "version": 7, "file": "templates/product.html",
//    "state": {...as in the list...},
//    "template": "<html>...", "read_failure": null,
//    "findings": [{"offset": 120, "end": 132, "line": 6, "column": 11,
//                  "severity": "warning", "kind": "misspelled-tag", "message": "...",
//                  "tag": "footer", "row": 0, "row_name": null}, ...],
//    "marks": [[start, end, "box", "open"], [start, end, "box", "close"], ...],
//    "rows": [{"row": 1, "name": "box", "code": "BoxStart w, h\r\n[data]..."}],
//    "occurrences": [{"row": 1, "tag": "<!--box w=400&h=300-->", "at": ORIGIN}],
//    "codes": {"asp":  {"text": "...", "log": [], "runs": [6, 0, -1, -1, 0, 0, ...]},
//              "exec": {"text": "...", "log": [], "runs": null}}}
//
// "runs" is one flat array of six numbers a run, the runs in the order of
// the text (each starts where the one before ends): length, kind (0 the
// template, 1 a row's code, 2 written by an expansion), row, occurrence,
// offset, converted (0 or 1); an ORIGIN is the last five of them. The fields
// are those of generate/origins.h: rows 0-based in the order applied,
// occurrences indexes into "occurrences".
// "runs" is null when the origins of that code are not known. A finding
// without a place has offset, end, line and column null.

#ifndef VAVIZAR_CLI_SERVE_PAGE_JSON_H_
#define VAVIZAR_CLI_SERVE_PAGE_JSON_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/finding.h"
#include "cli/template_lint.h"
#include "generate/origins.h"
#include "platform/text.h"

namespace vz::cli {

// Where a page stands, as the list shows it.
struct PageState {
  enum class Status { kPending, kClean, kFindings, kFails };
  std::string id;    // the page identifier (UTF-8)
  std::string file;  // its template file, "" until known
  Status status = Status::kPending;
  int64_t errors = 0;     // findings of severity error
  int64_t warnings = 0;   // and warning
  std::string first_log;  // the first log line of a page that fails
  uint64_t version = 0;   // changes whenever anything above does
};

// "pending", "clean", "findings" or "fails".
const char* StatusName(PageState::Status status);

// One generated code with what it was made of.
struct GeneratedCode {
  Text text;
  std::vector<std::string> log;          // the lines its generation logged
  const PageOrigins* origins = nullptr;  // null when not known
};

// Everything a page view shows.
struct PageView {
  std::string set;
  PageState state;
  Text template_text;
  std::optional<std::string> read_failure;  // why the template cannot be read
  std::vector<Finding> findings;            // offsets into template_text
  std::vector<TagMark> marks;
  // The rows and expansions the origins refer to: those of the server-page
  // code's trace (the execute code is made from that code).
  const PageOrigins* expansions = nullptr;
  GeneratedCode asp;
  GeneratedCode exec;
};

// The list of `pages` of `set`: {"set": "1", "sequence": 12, "notice": null,
// "pages": [STATE, ...]}, a STATE with the fields of PageState. `notice` is
// what concerns every page (web_tag's layout, a database that cannot be
// read), `sequence` the model's change count.
std::string ListJson(const std::string& set, const std::vector<PageState>& pages,
                     const std::optional<std::string>& notice, uint64_t sequence);

std::string PageViewJson(const PageView& view);

// One server-sent event: "event: change", the data of `json`, a blank line.
std::string ChangeEvent(uint64_t sequence, const std::vector<std::string>& pages, bool list);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_SERVE_PAGE_JSON_H_
