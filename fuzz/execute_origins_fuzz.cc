// libFuzzer target: the runs of execute code rebuild it exactly, and origins
// composed through them tell each copied character's source.
//
// The page's origins are runs of seven characters, each a template origin
// at its own position, so that a copy's composed offsets must be its
// sources. Any difference aborts.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "execute/execute_code.h"
#include "execute/execute_origins.h"
#include "fuzz/fuzz_text.h"
#include "tests/execute_origins_check.h"

namespace {

[[noreturn]] void Fail(const vz::Text& page, const std::string& what) {
  std::fprintf(stderr, "%s, for: %s\n", what.c_str(), vz::ToUtf8(page).c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const vz::Text page = vz::fuzz::TextOfBytes(data, size);
  const vz::Text code = vz::ExecuteCodeOf(page);
  const std::vector<vz::ExecRun> runs = vz::ExecuteCodeRuns(page);
  const std::string error = vz::reference::RebuildError(page, code, runs);
  if (!error.empty()) Fail(page, error);

  std::vector<vz::OriginRun> page_runs;
  for (size_t at = 0; at < page.size(); at += 7) {
    vz::OriginRun run{at, std::min<size_t>(7, page.size() - at), {}};
    run.origin.offset = at;
    page_runs.push_back(run);
  }
  const std::vector<vz::OriginRun> origins = vz::ComposeOrigins(page_runs, runs);
  if (vz::ExecuteCodeOrigins(page, page_runs) != origins)
    Fail(page, "one scan and the composed runs differ");
  // Both lists are ascending: walk them together.
  size_t k = 0;
  for (const vz::ExecRun& run : runs) {
    for (size_t i = 0; i < run.length; ++i) {
      const size_t at = run.start + i;
      while (k < origins.size() && origins[k].start + origins[k].length <= at) ++k;
      if (k == origins.size() || origins[k].start > at) Fail(page, "no origin for a character");
      const vz::Origin& origin = origins[k].origin;
      const size_t offset =
          origin.converted ? origin.offset : origin.offset + at - origins[k].start;
      const size_t source = run.copied ? run.source + i : run.source;
      if (origin.converted == run.copied || offset != source) Fail(page, "wrong origin");
    }
  }
  if (origins.empty() ? !code.empty() : origins.back().start + origins.back().length != code.size())
    Fail(page, "origins do not cover the execute code");
  return 0;
}
