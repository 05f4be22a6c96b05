#include "cli/options.h"

#include "platform/text.h"
#include "store/sql_value.h"

namespace vz::cli {

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flags) {
  ParsedArgs parsed;
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A negative number is an argument (an identifier such as -1 or -1.5),
    // not an option.
    const bool negative_number =
        arg.size() >= 2 && arg[0] == '-' && IsNumericIdentifier(FromUtf8(arg));
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
      throw UsageError("unknown option '" + arg + "'");
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
          throw UsageError("option '--" + name + "' needs a value");
        }
        value = args[++i];
      }
      if (parsed.options.count(name) != 0) {
        throw UsageError("option '--" + name + "' is given twice");
      }
      parsed.options[name] = *value;
    } else if (flags.count(name) != 0) {
      if (value) {
        throw UsageError("option '--" + name + "' takes no value");
      }
      parsed.options[name] = "";
    } else {
      throw UsageError("unknown option '--" + name + "'");
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

std::optional<std::string> Option(const ParsedArgs& args, const std::string& name) {
  auto it = args.options.find(name);
  if (it == args.options.end()) return std::nullopt;
  return it->second;
}

int64_t CountOption(const ParsedArgs& args, const std::string& name, int64_t min, int64_t max,
                    int64_t fallback) {
  std::optional<std::string> text = Option(args, name);
  if (!text) return fallback;
  std::optional<int64_t> value = ParseCount(*text, min, max);
  if (!value) {
    throw UsageError("--" + name + ": '" + *text + "' is not a number from " + std::to_string(min) +
                     " to " + std::to_string(max));
  }
  return *value;
}

void ApplyMaxChars(const ParsedArgs& args) {
  SetWorkingTextLimit(CountOption(args, "max-chars", 1, kMaxTextLength, kDefaultMaxChars));
}

}  // namespace vz::cli
