// Command-line options of the vavizar command: "--name value" or
// "--name=value", positional arguments, "--" to end the options.

#ifndef VAVIZAR_CLI_OPTIONS_H_
#define VAVIZAR_CLI_OPTIONS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/error.h"

namespace vz::cli {

struct ParsedArgs {
  std::map<std::string, std::string> options;  // by name, without the dashes
  std::vector<std::string> positional;
  bool help = false;  // --help or -h was given
};

// Parses `args` (the words after the sub-command). `valued` names the options
// that take a value, `flags` those that do not. Throws a usage Error with a
// one-line message on a mistake ("unknown option '--x'").
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flags);

// `text` as a whole number from `min` to `max`: decimal digits only, no sign
// and no blanks. Nothing when it is anything else.
std::optional<int64_t> ParseCount(const std::string& text, int64_t min, int64_t max);

// The value of option `name` (without dashes), or nothing when not given.
std::optional<std::string> Option(const ParsedArgs& args, const std::string& name);

// The count that option `name` gives, from `min` to `max`, else `fallback`.
// Throws a usage Error ("--jobs: 'x' is not a number from 1 to 256") on
// anything else.
int64_t CountOption(const ParsedArgs& args, const std::string& name, int64_t min, int64_t max,
                    int64_t fallback);

// The working limit of the page commands (asp, exec, build): the option
// --max-chars N, else kDefaultMaxChars, set process-wide. A value that is
// not a number from 1 to 2147483647 throws a usage Error and changes nothing.
inline constexpr int64_t kDefaultMaxChars = 268435456;
void ApplyMaxChars(const ParsedArgs& args);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_OPTIONS_H_
