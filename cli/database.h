// Opening the database that the --db FILE or --odbc STRING option names, for
// the vavizar command and for other hosts built on its options.

#ifndef VAVIZAR_CLI_DATABASE_H_
#define VAVIZAR_CLI_DATABASE_H_

#include <cstdint>

#include "cli/error.h"
#include "cli/options.h"
#include "platform/ado/open.h"
#include "platform/com/ref.h"

namespace vz::cli {

// How long a statement waits for a lock a writer holds on a SQLite database,
// unless --busy-timeout MS says otherwise.
inline constexpr int64_t kDefaultBusyTimeoutMs = 5000;

// The connection. Throws a usage Error "give one of --db FILE or --odbc
// STRING" when neither or both are given, else an Error "cannot open
// database 'FILE': <why>" or "cannot open the ODBC source: <why>".
com::Ref<ado::DatabaseConnection> OpenDatabase(const ParsedArgs& args);

// Throws an Error "the template folder 'DIR' cannot be read: <why>" when
// --templates names a folder that is missing or is no folder, so that a
// command over many pages says it once rather than for every page.
void CheckTemplateFolder(const ParsedArgs& args);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_DATABASE_H_
