// The SQLite provider of the data-access layer (internal to platform/ado).

#ifndef VAVIZAR_PLATFORM_ADO_SQLITE_PROVIDER_H_
#define VAVIZAR_PLATFORM_ADO_SQLITE_PROVIDER_H_

#include "platform/ado/open.h"

namespace vz::ado {

// Opens the SQLite database file at `path` read-only. A missing file is not
// created: it fails with -2147467259 and SQLite's message.
com::Ref<DatabaseConnection> OpenSqlite(const Text& path);

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_SQLITE_PROVIDER_H_
