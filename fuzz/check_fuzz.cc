// libFuzzer target: `vavizar check` on any template and tag rows. It must
// not crash, every finding must print as short lines (the source line is a
// window, however long the line), and the promise of check must hold: a page
// whose generation fails, keeps a code's "[data]", keeps an opening tag of a
// row or a plain custom tag, or holds characters the encoding cannot write,
// has a finding that accounts for it (tests/page_symptoms.h).
//
// Input layout, as for the pipeline target: pieces separated by NUL bytes,
// the template, then name and code of each row, at most eight rows. Each
// byte is one character; bytes from 0x80 up become CJK characters. A piece
// that is the single byte 0x01 stands for a NULL cell. An input of odd
// length is checked for ISO-8859-1 output, else for UTF-8.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/finding_printer.h"
#include "cli/template_lint.h"
#include "fuzz/fuzz_text.h"
#include "tests/page_symptoms.h"

namespace {

// Longest output line a finding may give: a message of bounded quotes, or a
// source window of about 160 columns; the JSON form adds the tag name twice,
// whole, each character escaped in at most 6 bytes.
constexpr size_t kLongestLine = 2000;

void CheckLines(const std::string& out, size_t longest_name) {
  size_t start = 0;
  for (size_t end = out.find('\n'); end != std::string::npos; end = out.find('\n', start)) {
    if (end - start > kLongestLine + 12 * longest_name) {
      std::fprintf(stderr, "a finding line of %zu bytes\n", end - start);
      std::abort();
    }
    start = end + 1;
  }
  if (start != out.size()) {
    std::fprintf(stderr, "output does not end in a line end\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::vector<std::optional<vz::Text>> pieces = vz::fuzz::PiecesOfBytes(data, size);
  const vz::Text templet = pieces[0].value_or(vz::Text());
  std::vector<vz::cli::TagRow> rows;
  for (size_t r = 0; r < std::min<size_t>((pieces.size() - 1) / 2, 8); ++r)
    rows.push_back({pieces[1 + 2 * r], pieces[2 + 2 * r]});

  vz::cli::LintOptions options;
  options.encoding = size % 2 == 1 ? "ISO-8859-1" : "UTF-8";
  options.max_length = 8192;
  const std::vector<vz::cli::Finding> findings = vz::cli::LintPage(templet, rows, options);
  vz::cli::FindingPrinter human("a\nb.html", templet, false);
  vz::cli::FindingPrinter json("a.html", templet, true);
  std::string out;
  for (const vz::cli::Finding& f : findings) out += human.Format(f) + json.Format(f);
  size_t longest_name = 0;
  for (const vz::cli::TagRow& row : rows)
    longest_name = std::max(longest_name, row.name ? row.name->size() : 0);
  CheckLines(out, longest_name);

  const vz::symptoms::Generated page = vz::symptoms::Generate(templet, rows, options.max_length);
  const std::vector<std::string> shown =
      vz::symptoms::Of(page, templet, rows, options.encoding, false);
  const std::string missing = vz::symptoms::Unexplained(shown, findings);
  if (!missing.empty()) {
    std::fprintf(stderr, "no finding accounts for: %s\n", missing.c_str());
    std::abort();
  }
  return 0;
}
