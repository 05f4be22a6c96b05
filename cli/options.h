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

// `text` as a whole number from `min` to `max`: decimal digits only, no sign
// and no blanks. Nothing when it is anything else.
std::optional<int64_t> ParseCount(const std::string& text, int64_t min, int64_t max);

// The working limit of the page commands (asp, exec, build): the option
// --max-chars N, else kDefaultMaxChars. Sets it process-wide and returns
// true; on a value that is not a number from 1 to 2147483647 returns false
// with `error` set ("--max-chars: 'x' is not a number from 1 to ...") and
// changes nothing.
inline constexpr int64_t kDefaultMaxChars = 268435456;
bool ApplyMaxChars(const ParsedArgs& args, std::string* error);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_OPTIONS_H_
