#include "cli/serve/http_guard.h"

#include <cctype>

namespace vz::cli {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsWildcard(const std::string& address) {
  return address == "0.0.0.0" || address == "::" || address == "[::]" || address.empty();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `target` with its %XX escapes decoded; nothing when one is malformed.
std::optional<std::string> Decoded(const std::string& target) {
  std::string out;
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] != '%') {
      out += target[i];
      continue;
    }
    const int high = i + 1 < target.size() ? HexValue(target[i + 1]) : -1;
    const int low = i + 2 < target.size() ? HexValue(target[i + 2]) : -1;
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

bool UrlIsSafe(const std::string& target) {
  const std::string lower = Lower(target);
  if (lower.find("%2f") != std::string::npos || lower.find("%5c") != std::string::npos)
    return false;
  const std::optional<std::string> decoded = Decoded(target);
  if (!decoded) return false;
  for (const std::string* text : {&target, &*decoded}) {
    if (text->find("..") != std::string::npos || text->find('\\') != std::string::npos ||
        text->find('\0') != std::string::npos)
      return false;
  }
  return true;
}

bool HostIsOurs(const std::optional<std::string>& header, const ServerAddress& server,
                const std::string& local_address) {
  if (!header) return false;
  const std::string host = Lower(*header);
  const std::string port = std::to_string(server.port);
  if (host == "localhost" || host == "localhost:" + port) return true;
  if (host == Lower(HostWithPort(server.bind, server.port))) return true;
  return IsWildcard(server.bind) && !local_address.empty() &&
         host == Lower(HostWithPort(local_address, server.port));
}

}  // namespace

std::string HostWithPort(const std::string& address, int port) {
  const bool ipv6 = address.find(':') != std::string::npos && address[0] != '[';
  return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

int RefusalStatus(const RequestFacts& request, const ServerAddress& server,
                  const std::string& local_address) {
  if (request.method != "GET" && request.method != "HEAD") return 405;
  if (!HostIsOurs(request.host, server, local_address)) return 403;
  if (!UrlIsSafe(request.target)) return 400;
  return 0;
}

}  // namespace vz::cli
