// Findings written out: as a compiler writes them, or as JSON lines.
//
//   FindingPrinter printer("a.html", text, /*json=*/false);
//   for (const Finding& f : findings) out += printer.Format(f);
//
//   a.html:1:4: warning: misspelled-tag: `<!--nmae-->`: did you mean `name`?
//   <p><!--nmae--></p>
//      ^
//
// Lines and columns are 1-based. A line ends at LF, at CR LF or at a CR not
// followed by LF (so templates saved on any system count alike); a column
// counts characters (a surrogate pair is one, a tab one).
//
// The source line is shown whole when it fits in about 160 terminal columns;
// a longer one is cut to a window around the column, with "..." where it is
// cut. The caret stands under the character on a terminal: East Asian wide
// and full-width characters take two columns, a tab stays a tab. Control
// characters of the line are shown as "?". Each finding costs work and
// output in proportion to that window, whatever the length of its line.
//
// A file name or message holding line ends or other control characters is
// written with C escapes (\n, \r, \t, \xHH), so that a finding is always its
// own line.

#ifndef VAVIZAR_CLI_FINDING_PRINTER_H_
#define VAVIZAR_CLI_FINDING_PRINTER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/finding.h"
#include "platform/text.h"

namespace vz::cli {

// The 1-based line and column of a place in a text.
struct LineColumn {
  int64_t line = 0;
  int64_t column = 0;
};

// The line and column of `offset` in `text`, found by a scan from the start.
LineColumn Locate(TextView text, size_t offset);

// The lines of a text, for finding the line and column of many places in any
// order: a start offset per line and a count of surrogate pairs every 1024
// code units.
class LineIndex {
 public:
  explicit LineIndex(TextView text);
  LineColumn At(size_t offset) const;
  // "LINE:COLUMN".
  std::string Where(size_t offset) const;

 private:
  // Surrogate pairs that end before `offset`.
  size_t PairsBefore(size_t offset) const;

  TextView text_;
  std::vector<uint32_t> line_starts_;
  std::vector<uint32_t> pairs_;  // pairs ending before 1024 * i
};

// How many terminal columns the character `c` takes: 2 for East Asian wide
// and full-width characters, 1 for the others.
int DisplayWidth(char32_t c);

// Writes the findings of one file. Findings at ascending offsets cost only
// the window around each; going back restarts the line count from the top.
class FindingPrinter {
 public:
  // `file` as it is shown ("" for none), `text` the file's text.
  FindingPrinter(std::string file, TextView text, bool json);

  // The finding as text ending in LF: for a person, "FILE:LINE:COLUMN:
  // SEVERITY: KIND: MESSAGE", the source line and a caret line; a finding
  // without an offset is the one line "FILE: SEVERITY: KIND: MESSAGE" (FILE
  // and its ": " left out when `file` is empty). With json, one JSON object
  // with the fields file, line, column (0 without an offset), severity, kind,
  // tag, row, row_name (null when absent) and message.
  std::string Format(const Finding& finding);

 private:
  LineColumn Advance(size_t offset);

  std::string file_;
  std::string shown_file_;  // escaped for the human form
  TextView text_;
  bool json_;
  // Where the line count stands: an offset with its line and column and the
  // start of its line.
  size_t at_ = 0;
  size_t line_start_ = 0;
  LineColumn where_{1, 1};
};

// The human and JSON forms of one finding, each through its own printer.
std::string FormatHuman(const std::string& file, TextView text, const Finding& finding);
std::string FormatJson(const std::string& file, TextView text, const Finding& finding);

// `utf8` as a JSON string literal, quotes included; bytes that are no UTF-8
// become U+FFFD.
std::string JsonString(std::string_view utf8);

// `utf8` with its control characters written as C escapes (\n, \r, \t, \xHH).
std::string Escaped(std::string_view utf8);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_FINDING_PRINTER_H_
