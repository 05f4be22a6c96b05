// Opening the database that the --db FILE or --odbc STRING option names, for
// the vavizar command and for other hosts built on its options.

#ifndef VAVIZAR_CLI_DATABASE_H_
#define VAVIZAR_CLI_DATABASE_H_

#include <optional>
#include <string>

#include "cli/options.h"
#include "platform/ado/open.h"
#include "platform/com/ref.h"

namespace vz::cli {

// The connection, or nothing with `problem` set to a one-line message:
// "give one of --db FILE or --odbc STRING" when neither or both are given
// (`usage_mistake` true), else "cannot open database 'FILE': <why>" or
// "cannot open the ODBC source: <why>".
std::optional<com::Ref<ado::DatabaseConnection>> OpenDatabase(const ParsedArgs& args,
                                                              std::string* problem,
                                                              bool* usage_mistake);

// A failure's description on one line: line breaks that a driver's message
// may hold become blanks.
std::string OneLine(const Text& description);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_DATABASE_H_
