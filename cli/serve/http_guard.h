// What `vavizar serve` checks of a request before anything else looks at it,
// as plain functions of the request's words, so that they can be tested as a
// table. A browser page of another site may make requests to a server on the
// loopback address (by a name that resolves there, or a link); these keep
// such requests from reading anything:
//
//   405  a method other than GET and HEAD (nothing is ever changed);
//   403  a Host header other than the address the server is bound to with
//        its port, "localhost" or "localhost:PORT" (when bound to a wildcard
//        address, the address the request came to, with the port, too); a
//        request without one;
//   400  a URL holding "..", a backslash, an encoded slash or backslash
//        (%2F, %5C), an encoded NUL or a malformed escape.
//
//   ServerAddress server{"127.0.0.1", 8080};
//   RefusalStatus({"GET", "evil.example:8080", "/"}, server, "127.0.0.1")  // 403

#ifndef VAVIZAR_CLI_SERVE_HTTP_GUARD_H_
#define VAVIZAR_CLI_SERVE_HTTP_GUARD_H_

#include <optional>
#include <string>

namespace vz::cli {

struct ServerAddress {
  std::string bind;  // as given to --bind: "127.0.0.1", "::1", "localhost", "0.0.0.0"
  int port = 0;
};

struct RequestFacts {
  std::string method;
  std::optional<std::string> host;  // the Host header; nothing when absent
  std::string target;               // the URL as the request line has it
};

// The status the request is refused with, or 0. `local_address` is the
// address the request came to (for wildcard binds).
int RefusalStatus(const RequestFacts& request, const ServerAddress& server,
                  const std::string& local_address);

// "ADDR:PORT" as a URL writes it ("[::1]:8080" for an IPv6 address).
std::string HostWithPort(const std::string& address, int port);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_SERVE_HTTP_GUARD_H_
