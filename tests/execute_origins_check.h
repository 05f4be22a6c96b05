// The invariant of execute-code runs, for the tests and the fuzz target:
// the runs rebuild ExecuteCodeOf exactly, copies from the server page and
// written runs each one piece of the conversion.

#ifndef VAVIZAR_TESTS_EXECUTE_ORIGINS_CHECK_H_
#define VAVIZAR_TESTS_EXECUTE_ORIGINS_CHECK_H_

#include <algorithm>
#include <string>
#include <vector>

#include "execute/execute_origins.h"
#include "platform/text.h"
#include "tests/execute_code_reference.h"

namespace vz::reference {

// What is wrong with `runs` as the runs of `code`, the execute code of
// `page`; empty when nothing is. The runs must be ascending and not empty,
// together exactly `code`; a copy must be the server-page characters it
// names, and a written run one of the pieces, for a character of the page
// (position 0 for the empty page).
inline std::string RebuildError(const Text& page, const Text& code,
                                const std::vector<ExecRun>& runs) {
  const TextView pieces[] = {kWrite, kQuote, kLineEnd, kLoneCr, kLoneLf, kCrLf};
  Text rebuilt;
  for (size_t k = 0; k < runs.size(); ++k) {
    const ExecRun& run = runs[k];
    const std::string at = "run " + std::to_string(k) + ": ";
    if (run.start != rebuilt.size()) return at + "does not start where the one before ends";
    if (run.length == 0) return at + "empty";
    if (run.length > code.size() - run.start) return at + "past the end of the execute code";
    const TextView here = TextView(code).substr(run.start, run.length);
    if (run.copied) {
      if (run.source > page.size() || run.length > page.size() - run.source)
        return at + "copies from past the end of the page";
      if (TextView(page).substr(run.source, run.length) != here) return at + "not a copy";
    } else {
      if (std::find(std::begin(pieces), std::end(pieces), here) == std::end(pieces))
        return at + "not a written piece: " + ToUtf8(here);
      if (run.source >= std::max<size_t>(page.size(), 1))
        return at + "written for a character past the end of the page";
    }
    rebuilt += here;
  }
  if (rebuilt != code)
    return "the runs cover " + std::to_string(rebuilt.size()) + " of " +
           std::to_string(code.size()) + " characters";
  return {};
}

}  // namespace vz::reference

#endif  // VAVIZAR_TESTS_EXECUTE_ORIGINS_CHECK_H_
