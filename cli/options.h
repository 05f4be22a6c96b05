// Command-line options of the vavizar command: "--name value" or
// "--name=value", positional arguments, "--" to end the options.

#ifndef VAVIZAR_CLI_OPTIONS_H_
#define VAVIZAR_CLI_OPTIONS_H_

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vz::cli {

struct ParsedArgs {
  std::map<std::string, std::string> options;  // by name, without the dashes
  std::vector<std::string> positional;
  bool help = false;  // --help or -h was given
};

// Parses `args` (the words after the sub-command). `valued` names the options
// that take a value, `flags` those that do not. On a mistake returns nothing
// and sets `error` to a one-line message ("unknown option '--x'").
std::optional<ParsedArgs> ParseArgs(const std::vector<std::string>& args,
                                    const std::set<std::string>& valued,
                                    const std::set<std::string>& flags, std::string* error);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_OPTIONS_H_
