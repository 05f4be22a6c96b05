// ODBC through the unixODBC driver manager, wide-character API. SQLWCHAR is a
// 16-bit unit there, so texts pass as UTF-16 without conversion. The driver
// manager is loaded when the first ODBC connection is opened: a process that
// only reads SQLite does not load it at start-up.

#include "platform/ado/odbc_provider.h"

#include <dlfcn.h>
#include <locale.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <atomic>
#include <utility>
#include <vector>

#include "platform/ado/errors.h"
#include "platform/ado/fault.h"
#include "platform/ado/fetch_rows.h"
#include "platform/ado/live_count.h"
#include "platform/com/object.h"
#include "platform/failure.h"

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16");

namespace vz::ado {
namespace {

// The entry points of the driver manager that this provider calls.
struct OdbcApi {
  decltype(&::SQLAllocHandle) SQLAllocHandle;
  decltype(&::SQLDescribeColW) SQLDescribeColW;
  decltype(&::SQLDisconnect) SQLDisconnect;
  decltype(&::SQLDriverConnectW) SQLDriverConnectW;
  decltype(&::SQLExecDirectW) SQLExecDirectW;
  decltype(&::SQLFetch) SQLFetch;
  decltype(&::SQLFreeHandle) SQLFreeHandle;
  decltype(&::SQLGetData) SQLGetData;
  decltype(&::SQLGetDiagRecW) SQLGetDiagRecW;
  decltype(&::SQLGetInfoW) SQLGetInfoW;
  decltype(&::SQLNumResultCols) SQLNumResultCols;
  decltype(&::SQLSetConnectAttrW) SQLSetConnectAttrW;
  decltype(&::SQLSetEnvAttr) SQLSetEnvAttr;
};

// Sets `entry` to the library's function `name`; false when it has none.
template <typename Fn>
bool Resolve(void* library, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(dlsym(library, name));
  return entry != nullptr;
}

// Loads the driver manager (once, for the life of the process). Raises
// -2147467259 when it cannot be loaded; the next call tries again.
OdbcApi LoadOdbc() {
  void* library = nullptr;
  for (const char* name : {"libodbc.so.2", "libodbc.so"}) {
    library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr) break;
  }
  if (library == nullptr) {
    const char* why = dlerror();
    Raise(kProviderFailure, Concat({u"the ODBC driver manager could not be loaded: ",
                                    FromUtf8(why != nullptr ? why : "libodbc.so.2")}));
  }
  OdbcApi api;
  const bool complete = Resolve(library, "SQLAllocHandle", api.SQLAllocHandle) &&
                        Resolve(library, "SQLDescribeColW", api.SQLDescribeColW) &&
                        Resolve(library, "SQLDisconnect", api.SQLDisconnect) &&
                        Resolve(library, "SQLDriverConnectW", api.SQLDriverConnectW) &&
                        Resolve(library, "SQLExecDirectW", api.SQLExecDirectW) &&
                        Resolve(library, "SQLFetch", api.SQLFetch) &&
                        Resolve(library, "SQLFreeHandle", api.SQLFreeHandle) &&
                        Resolve(library, "SQLGetData", api.SQLGetData) &&
                        Resolve(library, "SQLGetDiagRecW", api.SQLGetDiagRecW) &&
                        Resolve(library, "SQLGetInfoW", api.SQLGetInfoW) &&
                        Resolve(library, "SQLNumResultCols", api.SQLNumResultCols) &&
                        Resolve(library, "SQLSetConnectAttrW", api.SQLSetConnectAttrW) &&
                        Resolve(library, "SQLSetEnvAttr", api.SQLSetEnvAttr);
  if (!complete) {
    dlclose(library);
    Raise(kProviderFailure, u"the ODBC driver manager lacks an entry point this provider calls");
  }
  return api;
}

// The driver manager, loaded on first use. Every handle this provider holds
// came from it, so every call after the first finds it loaded.
const OdbcApi& Odbc() {
  static const OdbcApi api = LoadOdbc();
  return api;
}

// While alive, the calling thread's character type is UTF-8. The driver
// manager converts wide statement text for drivers without wide entry points
// (the SQLite3 driver) to the locale's character set, and the "C" locale
// would mangle everything outside ASCII.
class Utf8Ctype {
 public:
  Utf8Ctype() {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 != static_cast<locale_t>(0)) previous_ = uselocale(utf8);
  }
  ~Utf8Ctype() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
  }
  Utf8Ctype(const Utf8Ctype&) = delete;
  Utf8Ctype& operator=(const Utf8Ctype&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
};

struct Diagnostic {
  Text state;
  Text message;
};

// Where a call failed: a failure while running a statement is the statement's
// unless the link to the server broke.
enum class Stage { kConnect, kStatement, kFetch, kClose };

SQLWCHAR* Wide(const Text& text) {
  return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str()));
}

std::vector<Diagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diagnostic> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT record = 1; record <= 20; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = Odbc().SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                         static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = Odbc().SQLGetDiagRecW(type, handle, record, state, &native, message.data(),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const auto* units = reinterpret_cast<const char16_t*>(message.data());
    size_t count = std::min(static_cast<size_t>(length), message.size() - 1);
    records.push_back({Text(reinterpret_cast<const char16_t*>(state), 5), Text(units, count)});
  }
  return records;
}

bool LinkBroken(const Text& state) {
  return state.starts_with(u"08") || state.starts_with(u"57") || state.starts_with(u"58") ||
         state == u"HYT00" || state == u"HYT01";
}

// The one place where ODBC diagnostics become failures. The description is
// every diagnostic record as "[SQLSTATE] message", joined by "; ". Memory
// exhaustion (HY001) is 7; a failure while running a statement is
// -2147217900 unless the connection broke; everything else -2147467259.
[[noreturn]] void RaiseDiagnostics(Stage stage, const std::vector<Diagnostic>& records) {
  Text description;
  for (const Diagnostic& d : records) {
    if (!description.empty()) description += u"; ";
    description += Concat({u"[", d.state, u"] ", d.message});
  }
  if (description.empty()) description = u"the ODBC driver reported a failure without diagnostics";
  Text state = records.empty() ? Text() : records.front().state;
  if (state == u"HY001") Raise(kOutOfMemory);
  if (stage == Stage::kStatement && !LinkBroken(state)) Raise(kErrorsInCommand, description);
  Raise(kProviderFailure, description);
}

[[noreturn]] void RaiseOdbc(Stage stage, SQLSMALLINT type, SQLHANDLE handle) {
  RaiseDiagnostics(stage, Diagnostics(type, handle));
}

// The fault the test seam injects: the link to the server breaking.
[[noreturn]] void RaiseInjected(Stage stage) {
  RaiseDiagnostics(stage, {{u"08S01", u"Communication link failure"}});
}

enum class Kind { kText, kInteger, kReal };

Kind KindOf(SQLSMALLINT type, SQLSMALLINT digits, SQLULEN size) {
  switch (type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return Kind::kInteger;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return digits == 0 && size <= 18 ? Kind::kInteger : Kind::kReal;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Kind::kReal;
    default:
      return Kind::kText;
  }
}

class OdbcConnection;

class OdbcRecordset final : public com::Object<Recordset, IID_Recordset> {
 public:
  OdbcRecordset(OdbcConnection* connection, SQLHSTMT stmt);

  // Reads the columns and moves to the first row. Raises on failure.
  void Start();

  bool Eof() override {
    CheckOpen();
    return !on_row_;
  }

  Cell FieldValue(const Text& name) override {
    CheckOpen();
    for (size_t i = 0; i < names_.size(); ++i) {
      if (EqualsIgnoringAsciiCase(name, names_[i])) {
        if (!on_row_) RaiseAdo(kNoCurrentRow);
        return row_[i];
      }
    }
    RaiseAdo(kItemNotFound);
  }

  RowTable GetRows(int32_t rows) override {
    CheckOpen();
    return FetchRows(
        rows, static_cast<int32_t>(names_.size()), on_row_,
        [&](int32_t column) { return std::move(row_[static_cast<size_t>(column)]); },
        [&] { Fetch(); });
  }

  void Close() override {
    CheckOpen();
    Finish();
    if (InjectFault()) RaiseInjected(Stage::kClose);
  }

 private:
  ~OdbcRecordset();

  void CheckOpen() {
    if (stmt_ == SQL_NULL_HSTMT) RaiseAdo(kObjectClosed);
  }

  void Finish();
  void Fetch();
  Cell Read(SQLUSMALLINT column, Kind kind);

  com::Ref<OdbcConnection> connection_;
  SQLHSTMT stmt_;
  std::vector<Text> names_;
  std::vector<Kind> kinds_;
  std::vector<Cell> row_;
  bool on_row_ = false;
};

class OdbcConnection final : public com::Object<DatabaseConnection, IID_Connection> {
 public:
  OdbcConnection(SQLHENV env, SQLHDBC dbc) : env_(env), dbc_(dbc) {}

  com::Ref<Recordset> Execute(const Text& command_text, int32_t options) override {
    if (closed_) RaiseAdo(kConnectionClosed);
    if (command_text.find(u'\0') != Text::npos) {
      Raise(kErrorsInCommand, u"the command text holds a NUL character");
    }
    if (command_text.size() > static_cast<size_t>(INT32_MAX)) {
      Raise(kErrorsInCommand, u"the command text is too long");
    }
    Utf8Ctype utf8;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(Odbc().SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      RaiseOdbc(Stage::kStatement, SQL_HANDLE_DBC, dbc_);
    }
    // From here the record set owns the statement and frees it on every path;
    // until it exists, the statement is freed here if making it fails.
    com::Ref<OdbcRecordset> recordset;
    try {
      recordset = com::Ref<OdbcRecordset>(new OdbcRecordset(this, stmt));
    } catch (...) {
      Odbc().SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      throw;
    }
    if (InjectFault()) RaiseInjected(Stage::kStatement);
    SQLRETURN rc = Odbc().SQLExecDirectW(stmt, Wide(command_text),
                                         static_cast<SQLINTEGER>(command_text.size()));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      RaiseOdbc(Stage::kStatement, SQL_HANDLE_STMT, stmt);
    }
    recordset->Start();
    return com::Ref<Recordset>(recordset.get());
  }

  void Close() override {
    if (closed_) RaiseAdo(kConnectionClosed);
    closed_ = true;
    DisconnectWhenIdle();
  }

  bool IsOpen() override { return !closed_; }

  // Record sets count themselves here, so that the link stays until the last
  // statement on it is freed.
  void StatementOpened() { ++open_statements_; }
  void StatementFreed() {
    --open_statements_;
    DisconnectWhenIdle();
  }

 private:
  ~OdbcConnection() {
    closed_ = true;
    DisconnectWhenIdle();
  }

  void DisconnectWhenIdle() {
    if (!closed_ || open_statements_ > 0 || dbc_ == SQL_NULL_HDBC) return;
    Odbc().SQLDisconnect(dbc_);
    Odbc().SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    Odbc().SQLFreeHandle(SQL_HANDLE_ENV, env_);
    dbc_ = SQL_NULL_HDBC;
    env_ = SQL_NULL_HENV;
  }

  SQLHENV env_;
  SQLHDBC dbc_;
  bool closed_ = false;
  int open_statements_ = 0;
};

OdbcRecordset::OdbcRecordset(OdbcConnection* connection, SQLHSTMT stmt)
    : connection_(connection), stmt_(stmt) {
  connection_->StatementOpened();
  ++live_recordsets;
}

OdbcRecordset::~OdbcRecordset() {
  if (stmt_ != SQL_NULL_HSTMT) Finish();
  --live_recordsets;
}

void OdbcRecordset::Finish() {
  Odbc().SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
  on_row_ = false;
  connection_->StatementFreed();
}

void OdbcRecordset::Start() {
  Utf8Ctype utf8;
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(Odbc().SQLNumResultCols(stmt_, &columns))) {
    RaiseOdbc(Stage::kStatement, SQL_HANDLE_STMT, stmt_);
  }
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(columns); ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(Odbc().SQLDescribeColW(stmt_, i, name, 256, &name_length, &type, &size,
                                              &digits, &nullable))) {
      RaiseOdbc(Stage::kStatement, SQL_HANDLE_STMT, stmt_);
    }
    size_t length = std::min<size_t>(static_cast<size_t>(name_length), 255);
    names_.emplace_back(reinterpret_cast<const char16_t*>(name), length);
    kinds_.push_back(KindOf(type, digits, size));
  }
  row_.resize(names_.size());
  if (columns > 0) Fetch();
}

void OdbcRecordset::Fetch() {
  Utf8Ctype utf8;
  SQLRETURN rc;
  if (InjectFault()) RaiseInjected(Stage::kFetch);
  rc = Odbc().SQLFetch(stmt_);
  if (rc == SQL_NO_DATA) {
    on_row_ = false;
    return;
  }
  if (!SQL_SUCCEEDED(rc)) {
    on_row_ = false;
    RaiseOdbc(Stage::kFetch, SQL_HANDLE_STMT, stmt_);
  }
  // Columns are read once each, in order, as every driver allows.
  for (size_t i = 0; i < names_.size(); ++i) {
    row_[i] = Read(static_cast<SQLUSMALLINT>(i + 1), kinds_[i]);
  }
  on_row_ = true;
}

Cell OdbcRecordset::Read(SQLUSMALLINT column, Kind kind) {
  SQLLEN indicator = 0;
  if (kind == Kind::kInteger) {
    SQLBIGINT value = 0;
    if (!SQL_SUCCEEDED(Odbc().SQLGetData(stmt_, column, SQL_C_SBIGINT, &value, 0, &indicator))) {
      RaiseOdbc(Stage::kFetch, SQL_HANDLE_STMT, stmt_);
    }
    return indicator == SQL_NULL_DATA ? Cell{} : Cell{static_cast<int64_t>(value)};
  }
  if (kind == Kind::kReal) {
    double value = 0;
    if (!SQL_SUCCEEDED(Odbc().SQLGetData(stmt_, column, SQL_C_DOUBLE, &value, 0, &indicator))) {
      RaiseOdbc(Stage::kFetch, SQL_HANDLE_STMT, stmt_);
    }
    return indicator == SQL_NULL_DATA ? Cell{} : Cell{value};
  }
  // Text comes in pieces: a piece that did not fit ends with 01004 and the
  // next call goes on where it stopped. Sizes here are in bytes.
  Text text;
  SQLWCHAR buffer[2048];
  constexpr size_t kUnits = sizeof buffer / sizeof buffer[0];
  for (;;) {
    SQLRETURN rc = Odbc().SQLGetData(stmt_, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) RaiseOdbc(Stage::kFetch, SQL_HANDLE_STMT, stmt_);
    if (indicator == SQL_NULL_DATA) return Cell{};
    const auto* units = reinterpret_cast<const char16_t*>(buffer);
    bool whole =
        indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / sizeof(SQLWCHAR) < kUnits;
    size_t count = whole ? static_cast<size_t>(indicator) / sizeof(SQLWCHAR) : kUnits - 1;
    CheckTextLength(static_cast<int64_t>(text.size() + count));
    text.append(units, count);
    if (whole) break;
  }
  return Cell{std::move(text)};
}

// The access-mode request above is only a hint, and psqlODBC ignores it. A
// PostgreSQL server enforces read-only sessions itself: there every later
// write fails with 25006.
void EnforceReadOnly(SQLHDBC dbc) {
  SQLWCHAR name[64] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(Odbc().SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &length))) return;
  if (Text(reinterpret_cast<const char16_t*>(name)) != u"PostgreSQL") return;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(Odbc().SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    RaiseOdbc(Stage::kConnect, SQL_HANDLE_DBC, dbc);
  }
  Text statement = u"set session characteristics as transaction read only";
  SQLRETURN rc =
      Odbc().SQLExecDirectW(stmt, Wide(statement), static_cast<SQLINTEGER>(statement.size()));
  std::vector<Diagnostic> records;
  if (!SQL_SUCCEEDED(rc)) records = Diagnostics(SQL_HANDLE_STMT, stmt);
  Odbc().SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  if (!SQL_SUCCEEDED(rc)) RaiseDiagnostics(Stage::kConnect, records);
}

}  // namespace

com::Ref<DatabaseConnection> OpenOdbc(const Text& connection_string) {
  Utf8Ctype utf8;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(Odbc().SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    Raise(kProviderFailure, u"the ODBC driver manager could not be initialised");
  }
  SQLHDBC dbc = SQL_NULL_HDBC;
  Odbc().SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(Odbc().SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    std::vector<Diagnostic> records = Diagnostics(SQL_HANDLE_ENV, env);
    Odbc().SQLFreeHandle(SQL_HANDLE_ENV, env);
    RaiseDiagnostics(Stage::kConnect, records);
  }
  // A request only: a driver may ignore it.
  Odbc().SQLSetConnectAttrW(dbc, SQL_ATTR_ACCESS_MODE,
                            reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
  std::vector<Diagnostic> records;
  bool injected = InjectFault();
  SQLRETURN rc = SQL_ERROR;
  if (injected) {
    records = {{u"08001", u"Unable to connect to the data source"}};
  } else if (connection_string.size() > 32767) {
    records = {{u"HY090", u"the connection string is too long"}};
  } else {
    SQLSMALLINT out_length = 0;
    rc = Odbc().SQLDriverConnectW(dbc, nullptr, Wide(connection_string),
                                  static_cast<SQLSMALLINT>(connection_string.size()), nullptr, 0,
                                  &out_length, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) records = Diagnostics(SQL_HANDLE_DBC, dbc);
  }
  if (!SQL_SUCCEEDED(rc)) {
    Odbc().SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    Odbc().SQLFreeHandle(SQL_HANDLE_ENV, env);
    RaiseDiagnostics(Stage::kConnect, records);
  }
  com::Ref<DatabaseConnection> connection;
  try {
    connection = com::Ref<DatabaseConnection>(new OdbcConnection(env, dbc));
  } catch (...) {
    Odbc().SQLDisconnect(dbc);
    Odbc().SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    Odbc().SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw;
  }
  EnforceReadOnly(dbc);
  return connection;
}

}  // namespace vz::ado
