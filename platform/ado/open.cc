#include "platform/ado/open.h"

#include <optional>
#include <utility>
#include <vector>

#include "platform/ado/errors.h"
#include "platform/ado/live_count.h"
#include "platform/ado/odbc_provider.h"
#include "platform/ado/sqlite_provider.h"
#include "platform/failure.h"

namespace vz::ado {

std::atomic<int64_t> live_recordsets{0};

int64_t LiveRecordsets() { return live_recordsets.load(); }

namespace {

using Attributes = std::vector<std::pair<Text, Text>>;

TextView Trim(TextView s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

// The keys that make a text a connection string rather than a file path.
bool IsKnownKey(TextView key) {
  for (TextView known : {u"provider", u"data source", u"driver", u"dsn", u"filedsn"}) {
    if (EqualsIgnoringAsciiCase(key, known)) return true;
  }
  return false;
}

// Splits "key=value;key={value;with;semicolons};..." into its pairs; nothing
// when the text does not start with a known key (it is then a path).
std::optional<Attributes> ParseAttributes(TextView s) {
  size_t eq = s.find(u'=');
  if (eq == TextView::npos || !IsKnownKey(Trim(s.substr(0, eq)))) return std::nullopt;
  Attributes attributes;
  size_t i = 0;
  while (i < s.size()) {
    size_t key_end = s.find(u'=', i);
    size_t semi = s.find(u';', i);
    if (key_end == TextView::npos || (semi != TextView::npos && semi < key_end)) {
      // A piece without '=': only blanks may stand there.
      size_t end = semi == TextView::npos ? s.size() : semi;
      if (!Trim(s.substr(i, end - i)).empty()) RaiseAdo(kBadArguments);
      i = end + 1;
      continue;
    }
    Text key(Trim(s.substr(i, key_end - i)));
    size_t v = key_end + 1;
    while (v < s.size() && s[v] == u' ') ++v;
    Text value;
    if (v < s.size() && (s[v] == u'{' || s[v] == u'"' || s[v] == u'\'')) {
      char16_t close = s[v] == u'{' ? u'}' : s[v];
      size_t end = s.find(close, v + 1);
      if (end == TextView::npos) RaiseAdo(kBadArguments);
      value = Text(s.substr(v + 1, end - v - 1));
      size_t next = s.find(u';', end);
      if (!Trim(s.substr(end + 1, (next == TextView::npos ? s.size() : next) - end - 1)).empty()) {
        RaiseAdo(kBadArguments);
      }
      i = next == TextView::npos ? s.size() : next + 1;
    } else {
      size_t end = semi == TextView::npos ? s.size() : semi;
      value = Text(Trim(s.substr(v, end - v)));
      i = end + 1;
    }
    attributes.emplace_back(std::move(key), std::move(value));
  }
  return attributes;
}

const Text* Find(const Attributes& attributes, TextView key) {
  for (const auto& [k, v] : attributes) {
    if (EqualsIgnoringAsciiCase(k, key)) return &v;
  }
  return nullptr;
}

// The "Busy Timeout" of a SQLite connection string, in milliseconds: a whole
// number from 0 to 2147483647. kDefaultBusyTimeoutMs when absent; anything
// else is refused with 3001.
int BusyTimeout(const Attributes& attributes) {
  const Text* value = Find(attributes, u"busy timeout");
  if (value == nullptr) return kDefaultBusyTimeoutMs;
  if (value->empty() || value->size() > 10) RaiseAdo(kBadArguments);
  int64_t ms = 0;
  for (char16_t c : *value) {
    if (c < u'0' || c > u'9') RaiseAdo(kBadArguments);
    ms = ms * 10 + (c - u'0');
  }
  if (ms > INT32_MAX) RaiseAdo(kBadArguments);
  return static_cast<int>(ms);
}

}  // namespace

com::Ref<DatabaseConnection> OpenConnection(const Text& connection_string) {
  std::optional<Attributes> attributes = ParseAttributes(connection_string);
  if (!attributes) {
    if (Trim(connection_string).empty()) RaiseAdo(kBadArguments);
    return OpenSqlite(connection_string, kDefaultBusyTimeoutMs);
  }
  const Text* provider = Find(*attributes, u"provider");
  if (provider != nullptr && EqualsIgnoringAsciiCase(*provider, u"sqlite")) {
    const Text* source = Find(*attributes, u"data source");
    if (source == nullptr || source->empty()) RaiseAdo(kBadArguments);
    return OpenSqlite(*source, BusyTimeout(*attributes));
  }
  if (provider == nullptr &&
      (Find(*attributes, u"driver") != nullptr || Find(*attributes, u"dsn") != nullptr ||
       Find(*attributes, u"filedsn") != nullptr)) {
    return OpenOdbc(connection_string);
  }
  RaiseAdo(kProviderNotFound);
}

}  // namespace vz::ado
