// WriteSourceMap: one pass over the runs of the page's origins, writing the
// segments of "mappings" and of the extension's "kinds" side by side.

#include <algorithm>
#include <charconv>
#include <memory>

#include "sourcemap/json.h"
#include "sourcemap/map_format.h"
#include "sourcemap/source_map.h"
#include "sourcemap/vlq.h"

namespace vz {
namespace {

using map_format::EndsLine;

// The line starts of a text, for the 0-based line and column of any offset.
class LineTable {
 public:
  explicit LineTable(TextView text) {
    starts_.push_back(0);
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] <= u'\r' && EndsLine(text, i)) starts_.push_back(i + 1);
    }
  }

  void At(size_t offset, int64_t& line, int64_t& column) const {
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    line = it - starts_.begin() - 1;
    column = static_cast<int64_t>(offset - starts_[static_cast<size_t>(line)]);
  }

 private:
  std::vector<size_t> starts_;
};

// A place a segment maps to: a source (0 the template, 1 + i the code of the
// i-th row applied), 0-based line and column, and a name (-1 for none).
struct Place {
  int32_t source = 0;
  int64_t line = 0;
  int64_t column = 0;
  int32_t name = -1;
};

[[noreturn]] void Inconsistent(const std::string& what) {
  throw SourceMapError("page origins: " + what);
}

std::string Str(int64_t n) { return std::to_string(n); }

void AppendNumber(std::string& out, int64_t n) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, result.ptr);
}

class Writer {
 public:
  Writer(const PageTrace& trace, TextView generated)
      : trace_(trace),
        origins_(trace.origins),
        generated_(generated),
        template_lines_(trace.template_text),
        code_lines_(origins_.rows.size()) {}

  std::string Write(std::string_view file, std::string_view template_source) {
    CheckRows();
    CheckOccurrences();
    CheckRuns();
    mappings_.reserve(origins_.runs.size() * 12 + generated_.size() / 8);
    kinds_.reserve(origins_.runs.size() * 3 + generated_.size() / 32);
    for (const OriginRun& run : origins_.runs) AddRun(run);
    if (line_start_ < generated_.size()) line_lengths_.push_back(generated_.size() - line_start_);
    return Assemble(file, template_source);
  }

 private:
  // The index of `row` among the rows applied, or -1.
  int32_t RowIndex(int32_t row) const {
    const auto it =
        std::lower_bound(origins_.rows.begin(), origins_.rows.end(), row,
                         [](const RowApplied& applied, int32_t r) { return applied.row < r; });
    if (it == origins_.rows.end() || it->row != row) return -1;
    return static_cast<int32_t>(it - origins_.rows.begin());
  }

  TextView CodeOf(int32_t index) const { return origins_.rows[static_cast<size_t>(index)].code; }

  void CheckRows() const {
    for (size_t i = 1; i < origins_.rows.size(); ++i) {
      if (origins_.rows[i].row <= origins_.rows[i - 1].row)
        Inconsistent("the rows applied are not in ascending order at row " +
                     Str(origins_.rows[i].row));
    }
  }

  // That a template or code origin names a place that is there: `length`
  // characters from its offset (0 for a place that may stand at the end).
  void CheckPlace(const Origin& o, size_t length, const std::string& who) const {
    size_t size;
    if (o.kind == Origin::Kind::kTemplate) {
      size = trace_.template_text.size();
    } else {
      const int32_t index = RowIndex(o.row);
      if (index < 0) Inconsistent(who + " names row " + Str(o.row) + ", which was not applied");
      if (o.occurrence < 0 || static_cast<size_t>(o.occurrence) >= origins_.occurrences.size())
        Inconsistent(who + " names occurrence " + Str(o.occurrence) + ", which is not there");
      size = CodeOf(index).size();
    }
    if (o.offset > size || size - o.offset < length)
      Inconsistent(who + " reaches past the end of its text (" + Str(o.offset) + " + " +
                   Str(length) + " > " + Str(size) + ")");
  }

  void CheckOccurrences() const {
    for (size_t k = 0; k < origins_.occurrences.size(); ++k) {
      const Occurrence& occurrence = origins_.occurrences[k];
      const std::string who = "occurrence " + Str(k);
      if (RowIndex(occurrence.row) < 0)
        Inconsistent(who + " expands row " + Str(occurrence.row) + ", which was not applied");
      if (occurrence.at.kind == Origin::Kind::kGenerated)
        Inconsistent(who + ": its tag comes from neither the template nor a code");
      CheckPlace(occurrence.at, 0, who);
    }
  }

  void CheckRuns() const {
    size_t expected = 0;
    for (size_t i = 0; i < origins_.runs.size(); ++i) {
      const OriginRun& run = origins_.runs[i];
      const std::string who = "run " + Str(i);
      if (run.length == 0) Inconsistent(who + " is empty");
      if (run.start != expected)
        Inconsistent(who + " starts at " + Str(run.start) + ", not at " + Str(expected));
      if (run.length > generated_.size() - run.start)
        Inconsistent(who + " ends past the end of the page (" + Str(generated_.size()) +
                     " characters)");
      expected = run.start + run.length;
      if (run.origin.kind == Origin::Kind::kGenerated) {
        if (run.origin.occurrence < 0 ||
            static_cast<size_t>(run.origin.occurrence) >= origins_.occurrences.size())
          Inconsistent(who + " names occurrence " + Str(run.origin.occurrence) +
                       ", which is not there");
      } else {
        CheckPlace(run.origin, run.origin.converted ? 0 : run.length, who);
      }
    }
    if (expected != generated_.size())
      Inconsistent("the runs cover " + Str(expected) + " characters of a page of " +
                   Str(generated_.size()));
  }

  const LineTable& CodeLines(int32_t index) {
    std::unique_ptr<LineTable>& table = code_lines_[static_cast<size_t>(index)];
    if (!table) table = std::make_unique<LineTable>(CodeOf(index));
    return *table;
  }

  // The place of character `plus` after a template or code origin.
  Place PlaceOf(const Origin& o, size_t plus) {
    Place place;
    if (o.kind == Origin::Kind::kTemplate) {
      template_lines_.At(o.offset + plus, place.line, place.column);
      return place;
    }
    const int32_t index = RowIndex(o.row);
    place.source = index + 1;
    place.name = index;
    CodeLines(index).At(o.offset + plus, place.line, place.column);
    return place;
  }

  // The first character of an occurrence's opening tag, named after the row
  // it expands.
  Place TagPlace(int32_t occurrence) {
    const Occurrence& o = origins_.occurrences[static_cast<size_t>(occurrence)];
    Place place = PlaceOf(o.at, 0);
    place.name = RowIndex(o.row);
    return place;
  }

  void AddRun(const OriginRun& run) {
    const Origin& o = run.origin;
    const bool copy = !o.converted && o.kind != Origin::Kind::kGenerated;
    uint8_t kind = o.kind == Origin::Kind::kTemplate ? map_format::kTemplateText
                   : o.kind == Origin::Kind::kCode   ? map_format::kCodeText
                                                     : map_format::kGeneratedText;
    if (o.converted) kind += map_format::kConverted;
    Place fixed;
    if (!copy) fixed = o.kind == Origin::Kind::kGenerated ? TagPlace(o.occurrence) : PlaceOf(o, 0);
    const size_t end = run.start + run.length;
    size_t at = run.start;
    for (;;) {
      AddSegment(at, copy ? PlaceOf(o, at - run.start) : fixed, kind, o.occurrence);
      // The next line that starts inside the run.
      while (at < end && !(generated_[at] <= u'\r' && EndsLine(generated_, at))) ++at;
      if (at == end) return;
      ++at;
      if (at == generated_.size()) return;  // no line after the last line end
      NewLine(at);
      if (at == end) return;
    }
  }

  void NewLine(size_t start) {
    line_lengths_.push_back(start - line_start_);
    line_start_ = start;
    mappings_.push_back(';');
    kinds_.push_back(';');
    previous_column_ = 0;
    first_in_line_ = true;
  }

  void AddSegment(size_t at, const Place& place, uint8_t kind, int32_t occurrence) {
    if (!first_in_line_) {
      mappings_.push_back(',');
      kinds_.push_back(',');
    }
    first_in_line_ = false;
    const int64_t column = static_cast<int64_t>(at - line_start_);
    AppendVlq(mappings_, column - previous_column_);
    AppendVlq(mappings_, place.source - previous_.source);
    AppendVlq(mappings_, place.line - previous_.line);
    AppendVlq(mappings_, place.column - previous_.column);
    if (place.name >= 0) {
      AppendVlq(mappings_, place.name - previous_.name);
      previous_.name = place.name;
    }
    previous_column_ = column;
    previous_.source = place.source;
    previous_.line = place.line;
    previous_.column = place.column;
    AppendVlq(kinds_, (int64_t{occurrence} - previous_occurrence_) * 8 + kind);
    previous_occurrence_ = occurrence;
  }

  std::string Assemble(std::string_view file, std::string_view template_source) {
    std::string out;
    out.reserve(mappings_.size() + kinds_.size() + line_lengths_.size() * 4 +
                origins_.occurrences.size() * 40 + 4096);
    out += "{\"version\":3,\"file\":";
    AppendJsonString(out, file);
    out += ",\"sources\":[";
    AppendJsonString(out, template_source);
    for (const RowApplied& row : origins_.rows) {
      out += ',';
      AppendJsonString(out, "web_tag row " + Str(int64_t{row.row} + 1) + ": " + ToUtf8(row.name));
    }
    out += "],\"sourcesContent\":[null";
    for (const RowApplied& row : origins_.rows) {
      out += ',';
      AppendJsonString(out, ToUtf8(row.code));
    }
    out += "],\"names\":[";
    for (size_t i = 0; i < origins_.rows.size(); ++i) {
      if (i > 0) out += ',';
      AppendJsonString(out, ToUtf8(origins_.rows[i].name));
    }
    out += "],\"mappings\":\"";
    out += mappings_;
    out += "\",\"";
    out += map_format::kExtension;
    out += "\":{\"version\":";
    AppendNumber(out, map_format::kExtensionVersion);
    out += ",\"rows\":[";
    for (size_t i = 0; i < origins_.rows.size(); ++i) {
      if (i > 0) out += ',';
      AppendNumber(out, int64_t{origins_.rows[i].row} + 1);
    }
    out += "],\"lines\":[";
    for (size_t i = 0; i < line_lengths_.size(); ++i) {
      if (i > 0) out += ',';
      AppendNumber(out, static_cast<int64_t>(line_lengths_[i]));
    }
    out += "],\"kinds\":\"";
    out += kinds_;
    out += "\",\"occurrences\":[";
    AppendOccurrences(out);
    out += "]}}\n";
    return out;
  }

  void AppendOccurrences(std::string& out) {
    for (size_t k = 0; k < origins_.occurrences.size(); ++k) {
      const Occurrence& o = origins_.occurrences[k];
      const Place place = PlaceOf(o.at, 0);
      if (k > 0) out += ',';
      out += '[';
      AppendNumber(out, place.source);
      out += ',';
      AppendNumber(out, place.line);
      out += ',';
      AppendNumber(out, place.column);
      out += ',';
      AppendJsonString(out, ToUtf8(o.tag));
      out += ',';
      AppendNumber(out, RowIndex(o.row));
      out += ',';
      AppendNumber(out, o.at.kind == Origin::Kind::kCode ? o.at.occurrence : -1);
      out += ']';
    }
  }

  const PageTrace& trace_;
  const PageOrigins& origins_;
  TextView generated_;
  LineTable template_lines_;
  std::vector<std::unique_ptr<LineTable>> code_lines_;  // built when first needed

  std::string mappings_;
  std::string kinds_;
  std::vector<size_t> line_lengths_;
  size_t line_start_ = 0;
  bool first_in_line_ = true;
  int64_t previous_column_ = 0;
  Place previous_{0, 0, 0, 0};
  int32_t previous_occurrence_ = -1;
};

}  // namespace

std::string WriteSourceMap(const PageTrace& trace, TextView generated, std::string_view file,
                           std::string_view template_source) {
  return Writer(trace, generated).Write(file, template_source);
}

}  // namespace vz
