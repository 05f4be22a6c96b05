#include "cli/database.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/failure.h"

namespace vz::cli {

com::Ref<ado::DatabaseConnection> OpenDatabase(const ParsedArgs& args) {
  auto db = args.options.find("db");
  auto odbc = args.options.find("odbc");
  if (db != args.options.end() && odbc != args.options.end())
    throw UsageError("--db and --odbc cannot be combined");
  if (db == args.options.end() && odbc == args.options.end())
    throw UsageError("give one of --db FILE or --odbc STRING");
  if (db != args.options.end()) {
    if (db->second.empty()) throw UsageError("--db: a file name is needed");
    struct stat st;
    if (stat(db->second.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      throw FatalError("cannot open database '" + db->second + "': it is a folder");
  }
  const int64_t busy_ms = CountOption(args, "busy-timeout", 0, INT32_MAX, kDefaultBusyTimeoutMs);
  Text connection_string;
  if (db != args.options.end()) {
    // Spelling the path out keeps one with '=' or ';' in it from being read
    // as a connection string; it is wrapped in a bracket it does not hold.
    const std::string& path = db->second;
    const char* wraps[] = {"{}", "\"\"", "''"};
    connection_string = FromUtf8(path);
    for (const char* wrap : wraps) {
      if (path.find(wrap[1]) != std::string::npos) continue;
      connection_string = FromUtf8("Provider=SQLite;Data Source=" + std::string(1, wrap[0]) + path +
                                   wrap[1] + ";Busy Timeout=" + std::to_string(busy_ms));
      break;
    }
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

void CheckTemplateFolder(const ParsedArgs& args) {
  auto dir = args.options.find("templates");
  if (dir == args.options.end() || dir->second.empty()) return;
  struct stat st;
  std::string why;
  if (stat(dir->second.c_str(), &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISDIR(st.st_mode)) {
    why = "it is not a folder";
  } else {
    return;
  }
  throw FatalError("the template folder '" + dir->second + "' cannot be read: " + why);
}

}  // namespace vz::cli
