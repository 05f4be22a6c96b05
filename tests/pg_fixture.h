// A throwaway PostgreSQL server for tests (scripts/pg_scratch.sh), on
// 127.0.0.1 only, and the ODBC driver list the tests use with it.

#ifndef VAVIZAR_TESTS_PG_FIXTURE_H_
#define VAVIZAR_TESTS_PG_FIXTURE_H_

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/text.h"
#include "tests/store_fixture.h"

namespace vz::testing {

// The checkout these tests were built from.
inline std::string RepoPath() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().string();
}

// Output of a shell command, without the last line end; fails the test when
// the command fails.
inline std::string RunShell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "popen failed: " << command;
    return out;
  }
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  EXPECT_EQ(status, 0) << command;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// A port on 127.0.0.1 that nobody listens on right now.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// The drivers under a private configuration, so that the PostgreSQL driver
// keeps no communication log in /tmp. The driver manager reads its driver
// list once per process, so the folder is set once and stays until the
// process ends; child processes get it as ODBCSYSINI=<folder>.
inline const TempDir& PrivateDriverList() {
  static TempDir* const config = [] {
    static TempDir dir;
    WriteBytes(dir / "odbcinst.ini",
               "[PostgreSQL Unicode]\nDriver=psqlodbcw.so\nDebug=0\nCommLog=0\n\n"
               "[SQLite3]\nDriver=libsqlite3odbc.so\n");
    WriteBytes(dir / "odbc.ini", "");
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    return &dir;
  }();
  return *config;
}

// A PostgreSQL server of its own, with the site tables in database postgres.
class ScratchServer {
 public:
  ScratchServer() {
    port_ = FreePort();
    folder_ =
        RunShell("bash '" + RepoPath() + "/scripts/pg_scratch.sh' start " + std::to_string(port_));
  }
  ~ScratchServer() { Stop(); }

  void Stop() {
    if (folder_.empty()) return;
    RunShell("bash '" + RepoPath() + "/scripts/pg_scratch.sh' stop '" + folder_ + "'");
    folder_.clear();
  }

  bool running() const { return !folder_.empty(); }

  void Sql(const std::string& sql, const TempDir& dir) {
    WriteBytes(dir / "pg.sql", sql);
    RunShell("psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p " + std::to_string(port_) +
             " -U postgres -d postgres -f '" + (dir / "pg.sql") + "' </dev/null >/dev/null");
  }

  Text ConnectionString() const {
    return FromUtf8("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) +
                    ";Database=postgres;Uid=postgres;Pwd=;");
  }
  std::string ConnectionString8() const { return ToUtf8(ConnectionString()); }
  int port() const { return port_; }

 private:
  int port_ = 0;
  std::string folder_;
};

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_PG_FIXTURE_H_
