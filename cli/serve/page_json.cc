#include "cli/serve/page_json.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/finding_printer.h"

namespace vz::cli {
namespace {

using nlohmann::json;

// A text as a JSON value: UTF-8, every character kept (a lone surrogate
// becomes U+FFFD, one code unit for one, so offsets stay right).
json TextValue(TextView text) { return json(ToUtf8(text)); }

json OptionalText(const std::optional<Text>& text) {
  return text ? TextValue(*text) : json(nullptr);
}

const char* KindName(Origin::Kind kind) {
  switch (kind) {
    case Origin::Kind::kTemplate:
      return "t";
    case Origin::Kind::kCode:
      return "c";
    case Origin::Kind::kGenerated:
      return "g";
  }
  return "t";
}

void AppendOrigin(json& array, const Origin& origin) {
  array.push_back(KindName(origin.kind));
  array.push_back(origin.row);
  array.push_back(origin.occurrence);
  array.push_back(origin.offset);
  array.push_back(origin.converted ? 1 : 0);
}

json StateJson(const PageState& state) {
  return json{{"id", state.id},
              {"file", state.file},
              {"status", StatusName(state.status)},
              {"errors", state.errors},
              {"warnings", state.warnings},
              {"first_log", state.first_log},
              {"version", state.version}};
}

json CodeJson(const GeneratedCode& code) {
  json out{{"text", TextValue(code.text)}, {"log", code.log}, {"runs", nullptr}};
  if (code.origins != nullptr) {
    json runs = json::array();
    for (const OriginRun& run : code.origins->runs) {
      json item = json::array({run.start, run.length});
      AppendOrigin(item, run.origin);
      runs.push_back(std::move(item));
    }
    out["runs"] = std::move(runs);
  }
  return out;
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
  json marks = json::array();
  for (const TagMark& m : view.marks)
    marks.push_back(json::array({m.start, m.end, ToUtf8(m.name), m.closing ? "close" : "open"}));
  json rows = json::array();
  json occurrences = json::array();
  if (view.expansions != nullptr) {
    for (const RowApplied& row : view.expansions->rows)
      rows.push_back(json{{"row", row.row}, {"name", TextValue(row.name)}, {"code", TextValue(row.code)}});
    for (const Occurrence& o : view.expansions->occurrences) {
      json at = json::array();
      AppendOrigin(at, o.at);
      occurrences.push_back(json{{"row", o.row}, {"tag", TextValue(o.tag)}, {"at", std::move(at)}});
    }
  }
  json out{{"set", view.set},
           {"page", view.state.id},
           {"version", view.state.version},
           {"file", view.state.file},
           {"state", StateJson(view.state)},
           {"template", TextValue(view.template_text)},
           {"read_failure", view.read_failure ? json(*view.read_failure) : json(nullptr)},
           {"findings", FindingsJson(view)},
           {"marks", std::move(marks)},
           {"rows", std::move(rows)},
           {"occurrences", std::move(occurrences)},
           {"codes", json{{"asp", CodeJson(view.asp)}, {"exec", CodeJson(view.exec)}}}};
  return Dump(out);
}

std::string ChangeEvent(uint64_t sequence, const std::vector<std::string>& pages, bool list) {
  const json data{{"sequence", sequence}, {"pages", pages}, {"list", list}};
  return "event: change\ndata: " + Dump(data) + "\n\n";
}

}  // namespace vz::cli
