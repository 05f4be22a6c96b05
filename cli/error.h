// The command's one error convention: a mistake that ends a sub-command is
// thrown as an `Error` where it is found and turned into a message and exit
// status in one place (cli/commands.cc), so no function passes a status or a
// message pointer back by hand.
//
//   if (out.empty()) throw UsageError("--out: the output folder is empty");
//   // vavizar build: --out: the output folder is empty
//   // Try 'vavizar build --help'.            (exit status 2)

#ifndef VAVIZAR_CLI_ERROR_H_
#define VAVIZAR_CLI_ERROR_H_

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"

namespace vz::cli {

class Error : public std::runtime_error {
 public:
  // `message` is one line without the "vavizar COMMAND: " before it. A usage
  // mistake is followed by a pointer to the sub-command's help.
  Error(const std::string& message, bool usage) : std::runtime_error(message), usage_(usage) {}

  bool usage() const { return usage_; }

 private:
  bool usage_;
};

// A mistake in how the command was called (exit status 2, with a pointer to
// --help).
inline Error UsageError(const std::string& message) { return Error(message, true); }
// A database, folder, module or setting that cannot be used (exit status 2).
inline Error FatalError(const std::string& message) { return Error(message, false); }

// A failure's description on one line: line breaks that a driver's message
// may hold become blanks.
std::string OneLine(const Text& description);

// The entries of a page's error log, one line each: without their CR LF,
// and with the line breaks a driver's message may hold made blanks
// (OneLine).
std::vector<std::string> LogLines(const Text& log);

// A template path as a Page joins it (the folder, "\", the file), shown the
// way the file system takes it: with "/" for every "\".
std::string ShownPath(const Text& path);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_ERROR_H_
