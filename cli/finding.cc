#include "cli/finding.h"

#include <cstdlib>

namespace vz::cli {
namespace {

struct KindSeverity {
  std::string_view kind;
  Severity severity;
};

constexpr KindSeverity kKinds[] = {
    {"unterminated-tag", Severity::kError},
    {"closing-tag-before", Severity::kError},
    {"attributes-run-on", Severity::kError},
    {"unclosed-tag", Severity::kError},
    {"bad-attributes", Severity::kError},
    {"tag-left", Severity::kError},
    {"page-too-long", Severity::kError},
    {"tag-not-applied", Severity::kError},
    {"unopened-closing-tag", Severity::kWarning},
    {"mispaired-tag", Severity::kWarning},
    {"misspelled-tag", Severity::kWarning},
    {"code-opens-itself", Severity::kError},
    {"null-name", Severity::kError},
    {"null-code", Severity::kError},
    {"too-many-rows", Severity::kError},
    {"odd-tag-name", Severity::kWarning},
    {"generation-fails", Severity::kError},
    {"markup-grows", Severity::kError},
    {"unencodable", Severity::kError},
    {"missing-template", Severity::kError},
    {"invalid-bytes", Severity::kError},
    {"not-registered", Severity::kError},
    {"outside-folder", Severity::kWarning},
    {"tag-columns", Severity::kError},
};

}  // namespace

const char* SeverityName(Severity severity) {
  return severity == Severity::kError ? "error" : "warning";
}

Severity SeverityOf(std::string_view kind) {
  for (const KindSeverity& k : kKinds) {
    if (k.kind == kind) return k.severity;
  }
  std::abort();  // a kind missing from the table is a bug of this file
}

Finding MakeFinding(std::string_view kind, size_t offset, const std::string& message) {
  Finding f;
  f.kind = std::string(kind);
  f.severity = SeverityOf(kind);
  f.offset = offset;
  f.message = FromUtf8(message);
  return f;
}

std::string Quoted(TextView text, size_t max_chars) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "`";
  Text plain;
  size_t shown = 0;
  size_t i = 0;
  for (; i < text.size() && shown < max_chars; ++shown) {
    const char16_t c = text[i];
    if (c < 0x20 || c == 0x7F) {
      out += ToUtf8(plain);
      plain.clear();
      if (c == u'\n') {
        out += "\\n";
      } else if (c == u'\r') {
        out += "\\r";
      } else if (c == u'\t') {
        out += "\\t";
      } else {
        out += "\\x";
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
      }
      ++i;
      continue;
    }
    const size_t units = UnitsAt(text, i);
    plain.append(text.substr(i, units));
    i += units;
  }
  out += ToUtf8(plain);
  if (i < text.size()) out += "...";
  return out + "`";
}

}  // namespace vz::cli
