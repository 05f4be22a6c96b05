#include "cli/serve/page_json.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "cli/finding_printer.h"
#include "sourcemap/json.h"

namespace vz::cli {
namespace {

using nlohmann::json;

// A text as a JSON value: UTF-8, every character kept (a lone surrogate
// becomes U+FFFD, one code unit for one, so offsets stay right).
json TextValue(TextView text) { return json(ToUtf8(text)); }

json OptionalText(const std::optional<Text>& text) {
  return text ? TextValue(*text) : json(nullptr);
}

// The kind of an origin as the data writes it.
char KindNumber(Origin::Kind kind) {
  switch (kind) {
    case Origin::Kind::kTemplate:
      return '0';
    case Origin::Kind::kCode:
      return '1';
    case Origin::Kind::kGenerated:
      return '2';
  }
  return '0';
}

// The large parts of a view (runs, marks, expansions: a hundred thousand
// items for a page of ten thousand tags) are written straight into the text;
// a JSON value for each item took most of the time of a view.
void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// `text` as a JSON string.
std::string Str(TextView text) {
  std::string out;
  AppendJsonString(out, ToUtf8(text));
  return out;
}

// kind, row, occurrence, offset, converted: the items of an ORIGIN.
void AppendOrigin(std::string& out, const Origin& origin) {
  out += KindNumber(origin.kind);
  out += ',';
  AppendNumber(out, origin.row);
  out += ',';
  AppendNumber(out, origin.occurrence);
  out += ',';
  AppendNumber(out, static_cast<int64_t>(origin.offset));
  out += origin.converted ? ",1" : ",0";
}

std::string RunsJson(const PageOrigins* origins) {
  if (origins == nullptr) return "null";
  std::string out = "[";
  out.reserve(origins->runs.size() * 20 + 2);
  for (const OriginRun& run : origins->runs) {
    if (out.size() > 1) out += ',';
    AppendNumber(out, static_cast<int64_t>(run.length));
    out += ',';
    AppendOrigin(out, run.origin);
  }
  return out + "]";
}

std::string MarksJson(const std::vector<TagMark>& marks) {
  std::string out = "[";
  std::unordered_map<Text, std::string> names;
  for (const TagMark& m : marks) {
    auto name = names.find(m.name);
    if (name == names.end()) name = names.emplace(m.name, Str(m.name)).first;
    if (out.size() > 1) out += ',';
    out += '[';
    AppendNumber(out, static_cast<int64_t>(m.start));
    out += ',';
    AppendNumber(out, static_cast<int64_t>(m.end));
    out += ',' + name->second + (m.closing ? ",\"close\"]" : ",\"open\"]");
  }
  return out + "]";
}

std::string OccurrencesJson(const PageOrigins* origins) {
  std::string out = "[";
  if (origins == nullptr) return out + "]";
  for (const Occurrence& o : origins->occurrences) {
    if (out.size() > 1) out += ',';
    out += "{\"row\":";
    AppendNumber(out, o.row);
    out += ",\"tag\":" + Str(o.tag) + ",\"at\":[";
    AppendOrigin(out, o.at);
    out += "]}";
  }
  return out + "]";
}

json StateJson(const PageState& state) {
  return json{
      {"id", state.id},          {"file", state.file},         {"status", StatusName(state.status)},
      {"errors", state.errors},  {"warnings", state.warnings}, {"first_log", state.first_log},
      {"version", state.version}};
}

std::string CodeJson(const GeneratedCode& code) {
  return "{\"text\":" + Str(code.text) + ",\"log\":" + json(code.log).dump() +
         ",\"runs\":" + RunsJson(code.origins) + "}";
}

// Where a finding's mark ends: the end of the tag or comment it stands at,
// else the character after it.
size_t FindingEnd(TextView text, const std::vector<TagMark>& marks, size_t offset) {
  auto mark = std::lower_bound(marks.begin(), marks.end(), offset,
                               [](const TagMark& m, size_t at) { return m.start < at; });
  if (mark != marks.end() && mark->start == offset) return mark->end;
  if (text.substr(offset, 4) == u"<!--") {
    const size_t close = Find(text, u"-->", offset + 4);
    if (close != TextView::npos) return close + 3;
  }
  return std::min(text.size(), offset + 1);
}

json FindingsJson(const PageView& view) {
  json out = json::array();
  const LineIndex lines(view.template_text);
  for (const Finding& f : view.findings) {
    const bool placed = f.offset != kNoOffset && f.offset <= view.template_text.size();
    json item{{"offset", nullptr},
              {"end", nullptr},
              {"line", nullptr},
              {"column", nullptr},
              {"severity", SeverityName(f.severity)},
              {"kind", f.kind},
              {"message", TextValue(f.message)},
              {"tag", OptionalText(f.tag)},
              {"row", f.row},
              {"row_name", OptionalText(f.row_name)}};
    if (placed) {
      const LineColumn at = lines.At(f.offset);
      item["offset"] = f.offset;
      item["end"] = FindingEnd(view.template_text, view.marks, f.offset);
      item["line"] = at.line;
      item["column"] = at.column;
    }
    out.push_back(std::move(item));
  }
  return out;
}

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

const char* StatusName(PageState::Status status) {
  switch (status) {
    case PageState::Status::kPending:
      return "pending";
    case PageState::Status::kClean:
      return "clean";
    case PageState::Status::kFindings:
      return "findings";
    case PageState::Status::kFails:
      return "fails";
  }
  return "pending";
}

std::string ListJson(const std::string& set, const std::vector<PageState>& pages,
                     const std::optional<std::string>& notice, uint64_t sequence) {
  json list = json::array();
  for (const PageState& page : pages) list.push_back(StateJson(page));
  return Dump(json{{"set", set},
                   {"sequence", sequence},
                   {"notice", notice ? json(*notice) : json(nullptr)},
                   {"pages", std::move(list)}});
}

std::string PageViewJson(const PageView& view) {
  json rows = json::array();
  if (view.expansions != nullptr) {
    for (const RowApplied& row : view.expansions->rows)
      rows.push_back(
          json{{"row", row.row}, {"name", TextValue(row.name)}, {"code", TextValue(row.code)}});
  }
  const json small{{"set", view.set},
                   {"page", view.state.id},
                   {"version", view.state.version},
                   {"file", view.state.file},
                   {"state", StateJson(view.state)},
                   {"read_failure", view.read_failure ? json(*view.read_failure) : json(nullptr)},
                   {"findings", FindingsJson(view)},
                   {"rows", std::move(rows)}};
  std::string out = Dump(small);
  out.pop_back();  // the "}", for the large members to follow
  out += ",\"template\":" + Str(view.template_text);
  out += ",\"marks\":" + MarksJson(view.marks);
  out += ",\"occurrences\":" + OccurrencesJson(view.expansions);
  out += ",\"codes\":{\"asp\":" + CodeJson(view.asp) + ",\"exec\":" + CodeJson(view.exec) + "}}";
  return out;
}

std::string ChangeEvent(uint64_t sequence, const std::vector<std::string>& pages, bool list) {
  const json data{{"sequence", sequence}, {"pages", pages}, {"list", list}};
  return "event: change\ndata: " + Dump(data) + "\n\n";
}

}  // namespace vz::cli
