// Running the vavizar command through its library in tests.

#ifndef VAVIZAR_TESTS_CLI_FIXTURE_H_
#define VAVIZAR_TESTS_CLI_FIXTURE_H_

#include <string>
#include <vector>

#include "cli/commands.h"

namespace vz::testing {

// What one run of the command gave.
struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline Result RunCli(const std::vector<std::string>& args) {
  Result result;
  cli::Output output;
  result.status = cli::Run(args, output);
  result.out = output.out;
  result.err = output.err;
  return result;
}

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_CLI_FIXTURE_H_
