// vavizar serve: the checks every request passes first, as a table of
// requests and the status each is refused with (0: let through).

#include "cli/serve/http_guard.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vz {
namespace {

using cli::RefusalStatus;
using cli::RequestFacts;
using cli::ServerAddress;

TEST(HttpGuard, RefusesForeignHostsTraversalAndOtherMethods) {
  const ServerAddress loopback{"127.0.0.1", 8080};
  const ServerAddress ipv6{"::1", 9000};
  const ServerAddress any{"0.0.0.0", 8080};
  const struct {
    ServerAddress server;
    std::string method;
    std::optional<std::string> host;
    std::string target;
    std::string local;  // the address the request came to
    int status;
  } kCases[] = {
      {loopback, "GET", "127.0.0.1:8080", "/", "127.0.0.1", 0},
      {loopback, "HEAD", "localhost:8080", "/page/3", "127.0.0.1", 0},
      {loopback, "GET", "localhost", "/api/page/12", "127.0.0.1", 0},
      {loopback, "GET", "LocalHost:8080", "/", "127.0.0.1", 0},
      {loopback, "GET", "127.0.0.1:8080", "/page/%E4%B8%AD", "127.0.0.1", 0},
      // Another name, port or address: a page of another site that reached
      // the loopback address by a name of its own.
      {loopback, "GET", "evil.example", "/", "127.0.0.1", 403},
      {loopback, "GET", "evil.example:8080", "/", "127.0.0.1", 403},
      {loopback, "GET", "127.0.0.1:8081", "/", "127.0.0.1", 403},
      {loopback, "GET", "127.0.0.1", "/", "127.0.0.1", 403},
      {loopback, "GET", "localhost.evil.example:8080", "/", "127.0.0.1", 403},
      {loopback, "GET", "", "/", "127.0.0.1", 403},
      {loopback, "GET", std::nullopt, "/", "127.0.0.1", 403},
      {ipv6, "GET", "[::1]:9000", "/", "::1", 0},
      {ipv6, "GET", "::1:9000", "/", "::1", 403},
      // A wildcard bind answers by the address the request came to.
      {any, "GET", "192.0.2.7:8080", "/", "192.0.2.7", 0},
      {any, "GET", "192.0.2.8:8080", "/", "192.0.2.7", 403},
      {any, "GET", "0.0.0.0:8080", "/", "192.0.2.7", 0},  // the address it printed
      // URLs that could reach past a page: refused whatever the route.
      {loopback, "GET", "127.0.0.1:8080", "/page/../api/pages", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/%2e%2e/x", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/.%2E", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a%2Fb", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a%2fb", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a%5Cb", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a\\b", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a%00", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a%zz", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/page/a%2", "127.0.0.1", 400},
      {loopback, "GET", "127.0.0.1:8080", "/api/pages?x=..", "127.0.0.1", 400},
      // Nothing is ever changed; the method is looked at first.
      {loopback, "POST", "127.0.0.1:8080", "/api/pages", "127.0.0.1", 405},
      {loopback, "PUT", "evil.example", "/../x", "127.0.0.1", 405},
      {loopback, "OPTIONS", "127.0.0.1:8080", "/", "127.0.0.1", 405},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(RefusalStatus(RequestFacts{c.method, c.host, c.target}, c.server, c.local), c.status)
        << c.method << " " << c.target << " Host: " << c.host.value_or("(none)") << " bound to "
        << c.server.bind;
  }
}

TEST(HttpGuard, HostWithPortBracketsIpv6) {
  EXPECT_EQ(cli::HostWithPort("127.0.0.1", 80), "127.0.0.1:80");
  EXPECT_EQ(cli::HostWithPort("::1", 8080), "[::1]:8080");
  EXPECT_EQ(cli::HostWithPort("[::1]", 8080), "[::1]:8080");
  EXPECT_EQ(cli::HostWithPort("localhost", 0), "localhost:0");
}

}  // namespace
}  // namespace vz
