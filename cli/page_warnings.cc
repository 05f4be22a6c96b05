#include "cli/page_warnings.h"

#include <algorithm>

#include "cli/error.h"
#include "cli/finding_printer.h"
#include "platform/fso/encoder.h"

namespace vz::cli {
namespace {

std::string Place(const std::string& file, TextView text, size_t offset) {
  const LineColumn at = Locate(text, offset);
  return file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
}

std::string Count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<std::string> PageWarnings(const PageInputs& inputs, const std::string& code_page,
                                      TextView code, const std::string& encoding, bool utf8,
                                      const std::string& output_name) {
  std::vector<std::string> warnings;
  if (inputs.faults.count > 0) {
    warnings.push_back(
        Place(ShownPath(inputs.path), inputs.text, static_cast<size_t>(inputs.faults.first)) +
        ": " + Count(inputs.faults.count, "byte sequence", "byte sequences") +
        " not valid in code page " + code_page + ", read as U+FFFD");
  }
  // UTF-8 holds every character; only a lone surrogate half is lost.
  if (!utf8 || HasSurrogate(code)) {
    const std::vector<size_t> lost = fso::Unencodable(encoding, code);
    if (!lost.empty()) {
      warnings.push_back(Place(output_name, code, lost.front()) + ": " +
                         Count(static_cast<int64_t>(lost.size()), "character", "characters") +
                         " that " + encoding + " cannot hold, written as \"?\"");
    }
  }
  return warnings;
}

}  // namespace vz::cli
