// The SQLite provider of the data-access layer (internal to platform/ado).

#ifndef VAVIZAR_PLATFORM_ADO_SQLITE_PROVIDER_H_
#define VAVIZAR_PLATFORM_ADO_SQLITE_PROVIDER_H_

#include "platform/ado/open.h"

namespace vz::ado {

// Opens the SQLite database file at `path` read-only. A missing file is not
// created: it fails with -2147467259 and SQLite's message. A statement that
// meets a writer's lock waits up to `busy_timeout_ms` for it. A database in
// WAL mode in a folder that cannot be written is read as it stands when no
// write-ahead log is there.
inline constexpr int kDefaultBusyTimeoutMs = 5000;
com::Ref<DatabaseConnection> OpenSqlite(const Text& path, int busy_timeout_ms);

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_SQLITE_PROVIDER_H_
