// Opening a connection: the host side of the data-access layer.
//
//   com::Ref<ado::DatabaseConnection> db = ado::OpenConnection(u"/srv/site.db");
//   page->putref_Connection(db.get());   // the Page holds its own reference
//
// Connection strings:
//   "/path/to/file.db"                         SQLite, read-only
//   "Provider=SQLite;Data Source=/path/x.db"   the same, spelled out
//   "Provider=SQLite;Data Source=x.db;Busy Timeout=500"
//                                              waits up to 500 ms for a lock a
//                                              writer holds (default 5000)
//   "Driver={PostgreSQL Unicode};Server=..."    ODBC: any string with a Driver,
//                                               DSN or FileDSN key and no
//                                               Provider, passed on unchanged
// Keys are case-insensitive; a value may be wrapped in braces or quotes when
// it holds a ';'. A string that names an unknown provider fails with 3706, one
// without a data source with 3001; a database that cannot be opened fails
// with -2147467259 and the database's message.
//
// SQLite databases are opened read-only: a statement that would write fails
// in the database and changes nothing. ODBC connections ask the driver for
// read-only access; drivers may ignore that request.

#ifndef VAVIZAR_PLATFORM_ADO_OPEN_H_
#define VAVIZAR_PLATFORM_ADO_OPEN_H_

#include <cstdint>

#include "platform/ado/connection.h"
#include "platform/com/ref.h"
#include "platform/text.h"

namespace vz::ado {

// A connection this layer opened. Closing it makes every later Execute fail
// with 3709; record sets already returned stay readable until they are
// closed or released. Releasing the last reference closes it.
class DatabaseConnection : public Connection {
 public:
  virtual void Close() = 0;
  virtual bool IsOpen() = 0;

 protected:
  ~DatabaseConnection() = default;
};

// Opens the database that `connection_string` names. Raises on failure.
com::Ref<DatabaseConnection> OpenConnection(const Text& connection_string);

// Number of record sets of this layer not yet released, on all threads; a
// leak check for tests.
int64_t LiveRecordsets();

}  // namespace vz::ado

#endif  // VAVIZAR_PLATFORM_ADO_OPEN_H_
