// libFuzzer target: the source map reader on any bytes, and the writer and
// reader together on random page traces.
//
// An input whose first byte is even is a map (the bytes after it): reading it
// either fails with SourceMapError or gives a map in which every place
// resolves or fails the same way, never crashing or looping; a map with the
// extension resolves column 1 of each of its lines, with a non-empty chain.
// An input whose first byte is odd seeds a random trace (the bytes after it):
// the map written for it must resolve every character of the page exactly as
// counting in the trace does (tests/random_page_trace.h).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sourcemap/source_map.h"
#include "tests/random_page_trace.h"

namespace {

// How much of a map is resolved: lines, and columns of each.
constexpr int64_t kLines = 64;
constexpr int64_t kColumns = 48;

std::string Show(const std::vector<vz::MapLink>& chain) {
  std::string out;
  for (const vz::MapLink& l : chain) {
    out += std::to_string(static_cast<int>(l.kind)) + " " + l.source + ":" +
           std::to_string(l.line) + ":" + std::to_string(l.column) + " " + std::to_string(l.row) +
           " " + l.name + " " + l.tag + "\n";
  }
  return out;
}

void ReadAnyMap(std::string_view bytes) {
  std::optional<vz::SourceMap> read;
  try {
    read = vz::SourceMap::Parse(bytes);
  } catch (const vz::SourceMapError&) {
    return;
  }
  const vz::SourceMap& map = *read;
  const int64_t lines = std::min(map.line_count(), kLines);
  for (int64_t line = 0; line <= lines + 1; ++line) {
    for (int64_t column = 0; column <= kColumns; ++column) {
      try {
        if (map.Resolve(line, column).empty()) {
          std::fprintf(stderr, "an empty chain at %lld:%lld\n", static_cast<long long>(line),
                       static_cast<long long>(column));
          std::abort();
        }
      } catch (const vz::SourceMapError&) {
        if (map.has_origins() && line >= 1 && line <= map.line_count() && column == 1) {
          std::fprintf(stderr, "line %lld of a map with origins does not resolve\n",
                       static_cast<long long>(line));
          std::abort();
        }
      }
    }
  }
}

void RoundTrip(std::string_view bytes) {
  std::seed_seq seed(bytes.begin(), bytes.end());
  std::mt19937 rng(seed);
  const size_t runs = rng() % 64;
  const vz::testing::RandomTrace t =
      vz::testing::MakeRandomTrace(rng, runs, 1 + rng() % 80, rng() % 6, rng() % 2 == 1);
  const vz::SourceMap map =
      vz::SourceMap::Parse(vz::WriteSourceMap(t.trace, t.generated, "p.asp", "p.htm"));
  for (size_t at = 0; at < t.generated.size(); ++at) {
    int64_t line, column;
    vz::testing::CountPlace(t.generated, at, line, column);
    const std::string got = Show(map.Resolve(line, column));
    const std::string expected = Show(vz::testing::ExpectedChain(t.trace, at, "p.htm"));
    if (got != expected) {
      std::fprintf(stderr, "character %zu resolves to\n%sinstead of\n%s", at, got.c_str(),
                   expected.c_str());
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    ReadAnyMap(rest);
  } else {
    RoundTrip(rest);
  }
  return 0;
}
