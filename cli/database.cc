#include "cli/database.h"

#include "platform/failure.h"

namespace vz::cli {

com::Ref<ado::DatabaseConnection> OpenDatabase(const ParsedArgs& args) {
  auto db = args.options.find("db");
  auto odbc = args.options.find("odbc");
  if ((db == args.options.end()) == (odbc == args.options.end()))
    throw UsageError("give one of --db FILE or --odbc STRING");
  Text connection_string;
  if (db != args.options.end()) {
    // A plain path is taken for a SQLite file; spelling it out keeps a path
    // with '=' or ';' in it from being read as a connection string.
    connection_string = Concat({u"Provider=SQLite;Data Source={", FromUtf8(db->second), u"}"});
    if (db->second.find('}') != std::string::npos) connection_string = FromUtf8(db->second);
  } else {
    connection_string = FromUtf8(odbc->second);
  }
  try {
    com::Ref<ado::DatabaseConnection> conn = ado::OpenConnection(connection_string);
    // SQLite opens any file lazily; reading its schema here tells a file that
    // is no database apart before the page's queries would log it.
    if (db != args.options.end())
      conn->Execute(u"select count(*) from sqlite_master", ado::adOptionUnspecified)->Close();
    return conn;
  } catch (const Failure& f) {
    const std::string what =
        db != args.options.end() ? "database '" + db->second + "'" : std::string("the ODBC source");
    throw FatalError("cannot open " + what + ": " + OneLine(f.description()));
  }
}

}  // namespace vz::cli
