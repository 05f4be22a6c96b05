#include "cli/attribute_text.h"

#include "cli/finding.h"
#include "generate/expand_tag.h"

namespace vz::cli {
namespace {

constexpr TextView kLineEnd = u"\"\r\n";

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsNameChar(char16_t c) { return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'_'; }

// Why one line (without its closing `"` and line end) does not compile.
enum class LineFault { kNone, kNoName, kNoEquals, kQuote, kLineBreak };

LineFault CheckLine(TextView line) {
  size_t i = 0;
  while (i < line.size() &&
         (line[i] == u' ' || line[i] == u'\t' || line[i] == u'\r' || line[i] == u'\n'))
    ++i;
  if (i == line.size() || !IsAsciiLetter(line[i])) return LineFault::kNoName;
  while (i < line.size() && IsNameChar(line[i])) ++i;
  while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
  if (line.substr(i, 2) != u"=\"") return LineFault::kNoEquals;
  for (i += 2; i < line.size(); ++i) {
    if (line[i] == u'"') return LineFault::kQuote;
    if (line[i] == u'\r' || line[i] == u'\n') return LineFault::kLineBreak;
  }
  return LineFault::kNone;
}

// The first line of `lines` that does not compile, with why; kNone when all do.
LineFault FirstBadLine(TextView lines, TextView* bad) {
  size_t at = 0;
  while (at < lines.size()) {
    size_t end = Find(lines, kLineEnd, at);
    if (end == TextView::npos) end = lines.size();
    const TextView line = lines.substr(at, end - at);
    const LineFault fault = CheckLine(line);
    if (fault != LineFault::kNone) {
      *bad = line;
      return fault;
    }
    at = end + kLineEnd.size();
  }
  return LineFault::kNone;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// The attributes written the way HTML writes them (blanks between pairs,
// quoted values) as name=value pairs joined by "&"; nothing when the text
// is no such list.
std::optional<Text> AmpersandForm(TextView text) {
  Text out;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && (IsBlank(text[i]) || text[i] == u'&')) ++i;
    if (i == text.size()) break;
    const size_t name = i;
    if (!IsAsciiLetter(text[i])) return std::nullopt;
    while (i < text.size() && IsNameChar(text[i])) ++i;
    const size_t name_end = i;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size() || text[i] != u'=') return std::nullopt;
    ++i;
    while (i < text.size() && IsBlank(text[i])) ++i;
    size_t value = i;
    size_t value_end;
    if (i < text.size() && (text[i] == u'"' || text[i] == u'\'')) {
      const char16_t quote = text[i];
      value = ++i;
      while (i < text.size() && text[i] != quote) ++i;
      if (i == text.size()) return std::nullopt;
      value_end = i++;
    } else {
      while (i < text.size() && !IsBlank(text[i]) && text[i] != u'&') ++i;
      value_end = i;
    }
    if (!out.empty()) out += u'&';
    out.append(text.substr(name, name_end - name));
    out += u'=';
    out.append(text.substr(value, value_end - value));
  }
  if (out.empty() || !AttributeLinesCompile(AttributesToCode(out))) return std::nullopt;
  return out;
}

std::string Reason(LineFault fault) {
  switch (fault) {
    case LineFault::kNoName:
      return "an attribute name is a letter, then letters, digits or `_`";
    case LineFault::kNoEquals:
      return "every attribute is name=value, with no blank inside the name";
    case LineFault::kQuote:
      return "a value cannot hold `\"` or `=` (values carry no quotes)";
    case LineFault::kLineBreak:
      return "a value cannot hold a line break";
    case LineFault::kNone:
      break;
  }
  return "";
}

}  // namespace

bool AttributeLinesCompile(TextView lines) {
  TextView bad;
  return Find(lines, u"%>") == TextView::npos && FirstBadLine(lines, &bad) == LineFault::kNone;
}

std::optional<std::string> AttributeTextProblem(TextView tag_name, TextView attributes) {
  const Text lines = AttributesToCode(Text(attributes));
  TextView bad;
  const LineFault fault = FirstBadLine(lines, &bad);
  const bool script_end = Find(lines, u"%>") != TextView::npos;
  if (fault == LineFault::kNone && !script_end) return std::nullopt;
  if (attributes.empty()) {
    return "the blank after the name starts an empty attribute text, which gives a line "
           "holding only `\"`: write " +
           Quoted(Concat({u"<!--", tag_name, u"-->"})) + " without the blank";
  }
  std::string message = "attribute text " + Quoted(attributes) + " gives ";
  if (fault != LineFault::kNone) {
    message += "the line " + Quoted(Concat({bad, u"\""})) +
               ", which a script host cannot compile: " + Reason(fault);
  } else {
    message += "lines holding `%>`, which ends the script block";
  }
  if (std::optional<Text> fixed = AmpersandForm(attributes); fixed && *fixed != attributes) {
    message += "; write " + Quoted(*fixed);
  } else if (fault == LineFault::kNoEquals || fault == LineFault::kNoName) {
    message += "; write name=value pairs joined by `&`, as `w=1&h=2`";
  }
  return message;
}

}  // namespace vz::cli
