// Writes a random page and its source map for the consumer test
// (tests/source_map_consumer_test.sh): PAGE gets the page in UTF-8 and
// PAGE.map its map, whose template is named tpl/sample.htm. The page is the
// same on every run: template text, codes, expansions' writing and the
// conversion's, with CR LF, LF, lone CR and surrogate pairs.
//
//   source_map_sample PAGE

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "sourcemap/source_map.h"
#include "tests/random_page_trace.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: source_map_sample PAGE\n", stderr);
    return 2;
  }
  const std::string page = argv[1];
  std::mt19937 rng(12);
  const vz::testing::RandomTrace t = vz::testing::MakeRandomTrace(rng, 300, 400, 4, true);
  std::ofstream(page, std::ios::binary) << vz::ToUtf8(t.generated);
  std::ofstream(page + ".map", std::ios::binary)
      << vz::WriteSourceMap(t.trace, t.generated, page, "tpl/sample.htm");
  return 0;
}
