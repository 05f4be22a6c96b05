#include "cli/options.h"

#include "platform/text.h"

namespace vz::cli {

std::optional<ParsedArgs> ParseArgs(const std::vector<std::string>& args,
                                    const std::set<std::string>& valued,
                                    const std::set<std::string>& flags, std::string* error) {
  ParsedArgs parsed;
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A negative number is an argument (an identifier such as -1), not an
    // option.
    const bool negative_number = arg.size() >= 2 && arg[0] == '-' &&
                                 arg.find_first_not_of("0123456789", 1) == std::string::npos;
    if (options_end || arg.size() < 2 || arg[0] != '-' || negative_number) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      *error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (valued.count(name) != 0) {
      if (!value) {
        if (i + 1 >= args.size()) {
          *error = "option '--" + name + "' needs a value";
          return std::nullopt;
        }
        value = args[++i];
      }
      if (parsed.options.count(name) != 0) {
        *error = "option '--" + name + "' is given twice";
        return std::nullopt;
      }
      parsed.options[name] = *value;
    } else if (flags.count(name) != 0) {
      if (value) {
        *error = "option '--" + name + "' takes no value";
        return std::nullopt;
      }
      parsed.options[name] = "";
    } else {
      *error = "unknown option '--" + name + "'";
      return std::nullopt;
    }
  }
  return parsed;
}

std::optional<int64_t> ParseCount(const std::string& text, int64_t min, int64_t max) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int64_t value = std::stoll(text);
  if (value < min || value > max) return std::nullopt;
  return value;
}

bool ApplyMaxChars(const ParsedArgs& args, std::string* error) {
  int64_t limit = kDefaultMaxChars;
  if (auto option = args.options.find("max-chars"); option != args.options.end()) {
    std::optional<int64_t> value = ParseCount(option->second, 1, kMaxTextLength);
    if (!value) {
      *error = "--max-chars: '" + option->second + "' is not a number from 1 to " +
               std::to_string(kMaxTextLength);
      return false;
    }
    limit = *value;
  }
  SetWorkingTextLimit(limit);
  return true;
}

}  // namespace vz::cli
