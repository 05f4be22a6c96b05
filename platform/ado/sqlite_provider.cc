// SQLite through its C API, UTF-16 on both sides: statements go in with
// sqlite3_prepare16_v2, texts come out with sqlite3_column_text16.

#include "platform/ado/sqlite_provider.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/ado/errors.h"
#include "platform/ado/fault.h"
#include "platform/ado/fetch_rows.h"
#include "platform/ado/live_count.h"
#include "platform/com/object.h"
#include "platform/failure.h"

namespace vz::ado {
namespace {

// Command text that holds no statement at all.
constexpr int32_t kNoCommandText = -2147217908;  // 0x80040E0C

// The one place where SQLite's result codes become failures. A statement the
// database refuses (syntax, unknown table or column, a write on this
// read-only connection, a constraint) is 0x80040E14; memory exhaustion is the
// run-time's 7; everything else (I/O, a corrupt or locked file, a file that is
// no database, a file that cannot be opened) is 0x80004005. The description
// is SQLite's message, followed by ": " and `path` when one is given.
[[noreturn]] void RaiseSqlite(sqlite3* db, int rc, const Text& path = Text()) {
  if (rc == SQLITE_NOMEM) Raise(kOutOfMemory);
  Text message;
  if (db != nullptr && sqlite3_errcode(db) == rc) {
    message = static_cast<const char16_t*>(sqlite3_errmsg16(db));
  } else {
    message = FromUtf8(sqlite3_errstr(rc));
  }
  if (!path.empty()) message = Concat({message, u": ", path});
  switch (rc & 0xff) {
    case SQLITE_ERROR:
    case SQLITE_READONLY:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
    case SQLITE_TOOBIG:
    case SQLITE_AUTH:
      Raise(kErrorsInCommand, std::move(message));
    default:
      Raise(kProviderFailure, std::move(message));
  }
}

class SqliteConnection;

class SqliteRecordset final : public com::Object<Recordset, IID_Recordset> {
 public:
  SqliteRecordset(SqliteConnection* connection, sqlite3* db, sqlite3_stmt* stmt);

  // Moves to the first row. Raises the database's failure.
  void Start() { Step(); }

  bool Eof() override {
    CheckOpen();
    return !on_row_;
  }

  Cell FieldValue(const Text& name) override {
    CheckOpen();
    int count = sqlite3_column_count(stmt_);
    for (int i = 0; i < count; ++i) {
      const void* column = sqlite3_column_name16(stmt_, i);
      if (column == nullptr) Raise(kOutOfMemory);
      if (EqualsIgnoringAsciiCase(name, static_cast<const char16_t*>(column))) {
        if (!on_row_) RaiseAdo(kNoCurrentRow);
        return Value(i);
      }
    }
    RaiseAdo(kItemNotFound);
  }

  RowTable GetRows(int32_t rows) override {
    CheckOpen();
    return FetchRows(
        rows, sqlite3_column_count(stmt_), on_row_, [&](int32_t column) { return Value(column); },
        [&] { Step(); });
  }

  void Close() override {
    CheckOpen();
    Finish();
    // The statement is gone whatever happens; a failure is still reported.
    if (InjectFault()) RaiseSqlite(nullptr, SQLITE_IOERR);
  }

 private:
  ~SqliteRecordset();

  void CheckOpen() {
    if (stmt_ == nullptr) RaiseAdo(kObjectClosed);
  }

  void Finish() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    on_row_ = false;
  }

  void Step() {
    int rc = InjectFault() ? SQLITE_IOERR : sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
      on_row_ = true;
      return;
    }
    on_row_ = false;
    if (rc != SQLITE_DONE) {
      // Fetch the message before anything else touches the handle.
      RaiseSqlite(db_, rc);
    }
  }

  Cell Value(int column) {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_NULL:
        return Cell{};
      case SQLITE_INTEGER:
        return Cell{static_cast<int64_t>(sqlite3_column_int64(stmt_, column))};
      case SQLITE_FLOAT:
        return Cell{sqlite3_column_double(stmt_, column)};
      default: {
        // Text, and a blob read as text in the database's encoding.
        const void* text = sqlite3_column_text16(stmt_, column);
        if (text == nullptr) Raise(kOutOfMemory);
        int bytes = sqlite3_column_bytes16(stmt_, column);
        const auto* units = static_cast<const char16_t*>(text);
        return Cell{Text(units, units + bytes / 2)};
      }
    }
  }

  com::Ref<SqliteConnection> connection_;
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  bool on_row_ = false;
};

class SqliteConnection final : public com::Object<DatabaseConnection, IID_Connection> {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}

  com::Ref<Recordset> Execute(const Text& command_text, int32_t options) override {
    if (db_ == nullptr) RaiseAdo(kConnectionClosed);
    if (command_text.find(u'\0') != Text::npos) {
      Raise(kErrorsInCommand, u"the command text holds a NUL character");
    }
    int bytes = CommandBytes(command_text);
    sqlite3_stmt* stmt = nullptr;
    const void* tail = nullptr;
    int rc = InjectFault() ? SQLITE_IOERR
                           : sqlite3_prepare16_v2(db_, command_text.data(), bytes, &stmt, &tail);
    if (rc != SQLITE_OK) RaiseSqlite(db_, rc);
    if (stmt == nullptr) Raise(kNoCommandText, u"Command text was not set for the command object.");
    // Finalized here on every way out until the record set owns it: an open
    // statement would keep the whole database from ever closing.
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(stmt, sqlite3_finalize);
    RefuseSecondStatement(command_text, tail);
    com::Ref<SqliteRecordset> recordset(new SqliteRecordset(this, db_, stmt));
    owned.release();
    recordset->Start();
    return com::Ref<Recordset>(recordset.get());
  }

  void Close() override {
    if (db_ == nullptr) RaiseAdo(kConnectionClosed);
    CloseDatabase();
  }

  bool IsOpen() override { return db_ != nullptr; }

 private:
  ~SqliteConnection() { CloseDatabase(); }

  static int CommandBytes(const Text& command_text) {
    if (command_text.size() > static_cast<size_t>(INT32_MAX / 2)) {
      Raise(kErrorsInCommand, u"the command text is too long");
    }
    return static_cast<int>(command_text.size() * 2);
  }

  // One call runs one statement: text after the first statement that is more
  // than blanks and comments is refused before anything runs.
  void RefuseSecondStatement(const Text& command_text, const void* tail) {
    const auto* rest = static_cast<const char16_t*>(tail);
    const char16_t* end = command_text.data() + command_text.size();
    if (rest == nullptr || rest >= end) return;
    sqlite3_stmt* second = nullptr;
    int rc = sqlite3_prepare16_v2(db_, rest, static_cast<int>((end - rest) * 2), &second, nullptr);
    sqlite3_finalize(second);
    if (rc == SQLITE_OK && second == nullptr) return;
    Raise(kErrorsInCommand, u"only one statement can be run at a time");
  }

  void CloseDatabase() {
    // Statements still open keep the database alive until they are finalized.
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  sqlite3* db_;
};

SqliteRecordset::SqliteRecordset(SqliteConnection* connection, sqlite3* db, sqlite3_stmt* stmt)
    : connection_(connection), db_(db), stmt_(stmt) {
  ++live_recordsets;
}

SqliteRecordset::~SqliteRecordset() {
  if (stmt_ != nullptr) Finish();
  --live_recordsets;
}

}  // namespace

namespace {

// `path` as a "file:" URI that opens it as a file nobody changes: no locks
// and no shared-memory file are needed, so it reads in a folder this process
// cannot write. Characters a URI gives a meaning to are escaped.
std::string ImmutableUri(const std::string& path) {
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    } else {
      uri += static_cast<char>(c);
    }
  }
  return uri + "?immutable=1";
}

// Whether a database in WAL mode cannot be read only because its folder
// cannot be written (SQLite needs to make the shared-memory file there) and
// no write-ahead log waits to be read: opened as immutable, it then reads
// exactly what it holds.
bool NeedsImmutableOpen(sqlite3* db, const std::string& file) {
  const int rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_CANTOPEN && (rc & 0xFF) != SQLITE_READONLY) return false;
  struct stat st;
  return stat((file + "-wal").c_str(), &st) != 0 && errno == ENOENT;
}

sqlite3* OpenHandle(const std::string& file, int flags, const Text& path) {
  sqlite3* db = nullptr;
  // A connection and its record sets belong to one thread at a time, so the
  // handle needs no lock of its own: without one, each call on it (several
  // for every cell of every row) no longer takes and gives back a mutex.
  flags |= SQLITE_OPEN_NOMUTEX;
  int rc = InjectFault() ? SQLITE_CANTOPEN : sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    // The handle is freed whatever happens; the message is taken first.
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(db, sqlite3_close_v2);
    RaiseSqlite(db, rc, path);
  }
  return db;
}

}  // namespace

com::Ref<DatabaseConnection> OpenSqlite(const Text& path, int busy_timeout_ms) {
  const std::string file = ToUtf8(path);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(OpenHandle(file, SQLITE_OPEN_READONLY, path),
                                                     sqlite3_close_v2);
  if (NeedsImmutableOpen(handle.get(), file)) {
    handle.reset(OpenHandle(ImmutableUri(file), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, path));
  }
  // A statement that meets a lock held by a writer waits for it this long.
  sqlite3_busy_timeout(handle.get(), busy_timeout_ms);
  com::Ref<DatabaseConnection> connection(new SqliteConnection(handle.get()));
  handle.release();  // the connection closes it now
  return connection;
}

}  // namespace vz::ado
