// SourceMap: reading a map (strictly: anything that is not as the format
// says is an error with a one-line message) and resolving places with it.

#include <algorithm>
#include <cmath>
#include <limits>

#include "sourcemap/json.h"
#include "sourcemap/map_format.h"
#include "sourcemap/source_map.h"
#include "sourcemap/vlq.h"

namespace vz {
namespace {

constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();

[[noreturn]] void Bad(const std::string& what) { throw SourceMapError(what); }

std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  quoted += name;
  quoted += '"';
  return quoted;
}

const JsonValue& Expect(const JsonValue& value, JsonValue::Type type, const std::string& what) {
  if (value.type != type)
    Bad(what + " is " + JsonValue::TypeName(value.type) + ", not " + JsonValue::TypeName(type));
  return value;
}

int64_t Integer(const JsonValue& value, int64_t min, int64_t max, const std::string& what) {
  Expect(value, JsonValue::Type::kNumber, what);
  const double n = value.number;
  if (!(n >= static_cast<double>(min) && n <= static_cast<double>(max)) || std::floor(n) != n)
    Bad(what + " is not a whole number from " + std::to_string(min) + " to " + std::to_string(max));
  return static_cast<int64_t>(n);
}

std::string Plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

// Fills a SourceMap from the JSON of a map, field by field.
class SourceMap::Reader {
 public:
  explicit Reader(SourceMap& map) : map_(map) {}

  void Read(const JsonValue& root) {
    if (root.type != JsonValue::Type::kObject)
      Bad(std::string("not a source map: the JSON is ") + JsonValue::TypeName(root.type) +
          ", not an object");
    if (root.Find("sections") != nullptr)
      Bad("an index map (one with \"sections\") is not supported");
    const JsonValue* version = root.Find("version");
    if (version == nullptr) Bad("not a source map: \"version\" is missing");
    if (version->type != JsonValue::Type::kNumber || version->number != 3)
      Bad("\"version\" is not 3: only revision 3 source maps are read");
    if (const JsonValue* file = root.Find("file"); file != nullptr && !IsNull(*file))
      map_.file_ = Expect(*file, JsonValue::Type::kString, Quoted("file")).string;
    ReadSources(root);
    ReadNames(root);
    const JsonValue* mappings = root.Find("mappings");
    if (mappings == nullptr) Bad("not a source map: \"mappings\" is missing");
    ReadMappings(Expect(*mappings, JsonValue::Type::kString, Quoted("mappings")).string);
    if (const JsonValue* extension = root.Find(map_format::kExtension)) ReadExtension(*extension);
    SortLines();
  }

 private:
  static bool IsNull(const JsonValue& value) { return value.type == JsonValue::Type::kNull; }

  void ReadSources(const JsonValue& root) {
    const JsonValue* sources = root.Find("sources");
    if (sources == nullptr) Bad("not a source map: \"sources\" is missing");
    Expect(*sources, JsonValue::Type::kArray, Quoted("sources"));
    std::string prefix;
    if (const JsonValue* root_value = root.Find("sourceRoot");
        root_value != nullptr && !IsNull(*root_value)) {
      prefix = Expect(*root_value, JsonValue::Type::kString, Quoted("sourceRoot")).string;
      if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    }
    for (size_t i = 0; i < sources->items.size(); ++i) {
      const JsonValue& source = sources->items[i];
      if (IsNull(source)) {
        map_.sources_.emplace_back();
        continue;
      }
      const std::string what = "\"sources\"[" + std::to_string(i) + "]";
      map_.sources_.push_back(prefix + Expect(source, JsonValue::Type::kString, what).string);
    }
  }

  void ReadNames(const JsonValue& root) {
    const JsonValue* names = root.Find("names");
    if (names == nullptr) return;
    Expect(*names, JsonValue::Type::kArray, Quoted("names"));
    for (size_t i = 0; i < names->items.size(); ++i) {
      const std::string what = "\"names\"[" + std::to_string(i) + "]";
      map_.names_.push_back(Expect(names->items[i], JsonValue::Type::kString, what).string);
    }
  }

  // One field of a segment added to its running value, which must stay in
  // [0, limit).
  static int32_t Field(int64_t& running, int64_t delta, int64_t limit, const char* what) {
    running += delta;
    if (running < 0 || running >= limit)
      Bad(std::string("the ") + what + " " + std::to_string(running) + " is out of range");
    return static_cast<int32_t>(running);
  }

  void ReadMappings(std::string_view text) {
    int64_t generated_column = 0, source = 0, line = 0, column = 0, name = 0;
    map_.line_starts_.push_back(0);
    size_t at = 0;
    try {
      while (at < text.size()) {
        if (text[at] == ';') {
          map_.line_starts_.push_back(map_.segments_.size());
          generated_column = 0;
          ++at;
          continue;
        }
        if (text[at] == ',') {
          ++at;
          continue;
        }
        int64_t fields[5];
        int count = 0;
        while (at < text.size() && text[at] != ',' && text[at] != ';') {
          if (count == 5) Bad("a segment has more than 5 fields");
          fields[count++] = ReadVlq(text, at);
        }
        if (count != 1 && count != 4 && count != 5)
          Bad("a segment has " + std::to_string(count) + " fields, not 1, 4 or 5");
        Segment segment;
        segment.column = Field(generated_column, fields[0], kMaxInt32 + 1, "generated column");
        if (count >= 4) {
          segment.source =
              Field(source, fields[1], static_cast<int64_t>(map_.sources_.size()), "source index");
          segment.line = Field(line, fields[2], kMaxInt32 + 1, "source line");
          segment.source_column = Field(column, fields[3], kMaxInt32 + 1, "source column");
        }
        if (count == 5)
          segment.name =
              Field(name, fields[4], static_cast<int64_t>(map_.names_.size()), "name index");
        map_.segments_.push_back(segment);
      }
    } catch (const SourceMapError& e) {
      Bad("\"mappings\", generated line " + std::to_string(map_.line_starts_.size()) + ": " +
          e.what());
    }
    map_.line_starts_.push_back(map_.segments_.size());
  }

  void ReadExtension(const JsonValue& value) {
    const std::string key = map_format::kExtension;
    Expect(value, JsonValue::Type::kObject, key);
    const auto member = [&](const char* name, JsonValue::Type type) -> const JsonValue& {
      const JsonValue* found = value.Find(name);
      if (found == nullptr) Bad(key + "." + name + " is missing");
      return Expect(*found, type, key + "." + name);
    };
    const int64_t version =
        Integer(member("version", JsonValue::Type::kNumber), 0, kMaxInt32, key + ".version");
    if (version != map_format::kExtensionVersion)
      Bad(key + " version " + std::to_string(version) + " is not known (this reads version " +
          std::to_string(map_format::kExtensionVersion) + ")");
    map_.has_origins_ = true;

    const JsonValue& rows = member("rows", JsonValue::Type::kArray);
    if (map_.sources_.empty() || rows.items.size() != map_.sources_.size() - 1 ||
        rows.items.size() > map_.names_.size())
      Bad(key + ".rows has " + std::to_string(rows.items.size()) +
          " rows for the sources and names of the map");
    for (size_t i = 0; i < rows.items.size(); ++i)
      map_.rows_.push_back(
          Integer(rows.items[i], 1, kMaxInt32, key + ".rows[" + std::to_string(i) + "]"));

    const JsonValue& lines = member("lines", JsonValue::Type::kArray);
    for (size_t i = 0; i < lines.items.size(); ++i)
      map_.line_lengths_.push_back(
          Integer(lines.items[i], 1, kMaxInt32, key + ".lines[" + std::to_string(i) + "]"));
    ReadOccurrences(member("occurrences", JsonValue::Type::kArray));
    ReadKinds(member("kinds", JsonValue::Type::kString).string);
    CheckLines();
  }

  void ReadOccurrences(const JsonValue& list) {
    const size_t count = list.items.size();
    for (size_t k = 0; k < count; ++k) {
      const std::string what =
          std::string(map_format::kExtension) + ".occurrences[" + std::to_string(k) + "]";
      const JsonValue& entry = Expect(list.items[k], JsonValue::Type::kArray, what);
      if (entry.items.size() != 6)
        Bad(what + " has " + std::to_string(entry.items.size()) + " items, not 6");
      const auto item = [&](size_t i) -> const JsonValue& { return entry.items[i]; };
      const auto where = [&](size_t i) { return what + "[" + std::to_string(i) + "]"; };
      Occurrence o;
      o.source = static_cast<int32_t>(
          Integer(item(0), 0, static_cast<int64_t>(map_.sources_.size()) - 1, where(0)));
      o.line = static_cast<int32_t>(Integer(item(1), 0, kMaxInt32, where(1)));
      o.column = static_cast<int32_t>(Integer(item(2), 0, kMaxInt32, where(2)));
      o.tag = Expect(item(3), JsonValue::Type::kString, where(3)).string;
      o.name = static_cast<int32_t>(
          Integer(item(4), 0, static_cast<int64_t>(map_.rows_.size()) - 1, where(4)));
      o.parent =
          static_cast<int32_t>(Integer(item(5), -1, static_cast<int64_t>(count) - 1, where(5)));
      if (o.parent < 0 && o.source != 0) Bad(what + " stands in a code but has no parent");
      map_.occurrences_.push_back(std::move(o));
    }
    CheckNoLoops();
  }

  // Every chain of parents ends: walking from each occurrence, marking the
  // ones whose chain is known to end.
  void CheckNoLoops() const {
    const size_t count = map_.occurrences_.size();
    std::vector<uint8_t> state(count, 0);  // 0 unknown, 1 on the walk, 2 ends
    std::vector<size_t> walk;
    for (size_t k = 0; k < count; ++k) {
      size_t at = k;
      walk.clear();
      while (state[at] == 0) {
        state[at] = 1;
        walk.push_back(at);
        const int32_t parent = map_.occurrences_[at].parent;
        if (parent < 0) break;
        at = static_cast<size_t>(parent);
        if (state[at] == 1)
          Bad(std::string(map_format::kExtension) + ".occurrences: occurrence " +
              std::to_string(at) + " is its own ancestor");
      }
      for (size_t w : walk) state[w] = 2;
    }
  }

  void ReadKinds(std::string_view text) {
    const std::string what = std::string(map_format::kExtension) + ".kinds";
    const size_t lines = map_.line_starts_.size() - 1;
    const int64_t occurrences = static_cast<int64_t>(map_.occurrences_.size());
    int64_t occurrence = -1;
    size_t at = 0;
    for (size_t line = 0; line < lines; ++line) {
      const size_t first = map_.line_starts_[line], end = map_.line_starts_[line + 1];
      const std::string where = what + ", generated line " + std::to_string(line + 1);
      for (size_t i = first; i < end; ++i) {
        if (i > first) {
          if (at >= text.size() || text[at] != ',')
            Bad(where + " has fewer kinds than \"mappings\" has segments");
          ++at;
        }
        int64_t value;
        try {
          value = ReadVlq(text, at);
        } catch (const SourceMapError& e) {
          Bad(where + ": " + e.what());
        }
        const int64_t kind = value & 7;
        occurrence += value >> 3;
        Segment& segment = map_.segments_[i];
        if (kind >= map_format::kKindCount)
          Bad(where + ": kind " + std::to_string(kind) + " is not known");
        const int64_t base = kind % map_format::kConverted;
        if (base == map_format::kTemplateText ? occurrence != -1
                                              : occurrence < 0 || occurrence >= occurrences)
          Bad(where + ": occurrence " + std::to_string(occurrence) + " is out of range");
        if (segment.source < 0) Bad(where + ": a segment with a kind maps to no source");
        if ((base == map_format::kTemplateText && segment.source != 0) ||
            (base == map_format::kCodeText && segment.source == 0))
          Bad(where + ": a segment's kind does not match its source");
        segment.kind = static_cast<uint8_t>(kind);
        segment.occurrence = static_cast<int32_t>(occurrence);
      }
      if (line + 1 < lines) {
        if (at >= text.size() || text[at] != ';')
          Bad(where + " has more kinds than \"mappings\" has segments");
        ++at;
      }
    }
    if (at != text.size()) Bad(what + " is longer than \"mappings\"");
  }

  // The lines of "lines" and of "mappings" agree: each line of the file
  // starts with a segment, and no segment lies past the end of its line.
  void CheckLines() const {
    const size_t mapped = map_.line_starts_.size() - 1;
    for (size_t line = 0; line < std::max(mapped, map_.line_lengths_.size()); ++line) {
      const size_t first = line < mapped ? map_.line_starts_[line] : 0;
      const size_t end = line < mapped ? map_.line_starts_[line + 1] : 0;
      const std::string where = "generated line " + std::to_string(line + 1);
      if (line >= map_.line_lengths_.size()) {
        if (first != end) Bad(where + " has segments but is past the end of x_vavizar.lines");
        continue;
      }
      if (first == end) Bad(where + " has no segment");
      for (size_t i = first; i < end; ++i) {
        if (map_.segments_[i].column == 0) continue;
        if (i == first) Bad(where + " has no segment at its start");
        if (map_.segments_[i].column >= map_.line_lengths_[line])
          Bad(where + " has a segment past its end");
      }
    }
  }

  // Segments in the order of their columns, line by line (a map may list
  // them in any order).
  void SortLines() {
    for (size_t line = 0; line + 1 < map_.line_starts_.size(); ++line) {
      const auto first = map_.segments_.begin() + static_cast<ptrdiff_t>(map_.line_starts_[line]);
      const auto end = map_.segments_.begin() + static_cast<ptrdiff_t>(map_.line_starts_[line + 1]);
      const auto by_column = [](const Segment& a, const Segment& b) { return a.column < b.column; };
      if (!std::is_sorted(first, end, by_column)) std::stable_sort(first, end, by_column);
    }
  }

  SourceMap& map_;
};

SourceMap SourceMap::Parse(std::string_view json) {
  // A map may start with a line ")]}'" that keeps browsers from running it,
  // and a byte order mark.
  if (json.substr(0, 4) == ")]}'") {
    const size_t end = json.find('\n');
    json = end == std::string_view::npos ? std::string_view() : json.substr(end + 1);
  }
  if (json.substr(0, 3) == "\xEF\xBB\xBF") json.remove_prefix(3);
  SourceMap map;
  Reader(map).Read(ParseJson(json));
  return map;
}

int64_t SourceMap::line_count() const {
  if (has_origins_) return static_cast<int64_t>(line_lengths_.size());
  return line_starts_.empty() ? 0 : static_cast<int64_t>(line_starts_.size()) - 1;
}

MapLink SourceMap::SourceLink(int32_t source, int64_t line, int64_t column) const {
  MapLink link;
  link.kind = source == 0 ? MapLink::Kind::kTemplate : MapLink::Kind::kCode;
  link.source = sources_[static_cast<size_t>(source)];
  link.line = line + 1;
  link.column = column + 1;
  if (source > 0) {
    link.row = rows_[static_cast<size_t>(source) - 1];
    link.name = names_[static_cast<size_t>(source) - 1];
  }
  return link;
}

void SourceMap::AddChain(int32_t occurrence, std::vector<MapLink>& chain) const {
  while (occurrence >= 0) {
    const Occurrence& o = occurrences_[static_cast<size_t>(occurrence)];
    MapLink link = SourceLink(o.source, o.line, o.column);
    link.kind = MapLink::Kind::kExpanding;
    link.tag = o.tag;
    chain.push_back(std::move(link));
    occurrence = o.parent;
  }
}

std::vector<MapLink> SourceMap::Resolve(int64_t line, int64_t column) const {
  const int64_t lines = line_count();
  if (line < 1 || line > lines)
    throw SourceMapError("past the end of the file, which has " + Plural(lines, "line", "lines"));
  if (column < 1) throw SourceMapError("columns start at 1");
  if (has_origins_) {
    const int64_t length = line_lengths_[static_cast<size_t>(line) - 1];
    if (column > length)
      throw SourceMapError("past the end of line " + std::to_string(line) + ", which has " +
                           Plural(length, "column", "columns"));
  }
  const auto first = segments_.begin() + static_cast<ptrdiff_t>(line_starts_[line - 1]);
  const auto end = segments_.begin() + static_cast<ptrdiff_t>(line_starts_[line]);
  auto it = std::upper_bound(first, end, column - 1,
                             [](int64_t c, const Segment& s) { return c < s.column; });
  if (it == first || (it - 1)->source < 0)
    throw SourceMapError("the map says nothing of this place");
  const Segment& s = *(it - 1);
  std::vector<MapLink> chain;
  if (!has_origins_) {
    MapLink link;
    link.kind = MapLink::Kind::kMapped;
    link.source = sources_[static_cast<size_t>(s.source)];
    link.line = int64_t{s.line} + 1;
    link.column = int64_t{s.source_column} + 1;
    if (s.name >= 0) link.name = names_[static_cast<size_t>(s.name)];
    chain.push_back(std::move(link));
    return chain;
  }
  const int64_t delta = column - 1 - s.column;
  if (s.kind >= map_format::kConverted) {
    MapLink converted;
    converted.kind = MapLink::Kind::kConverted;
    chain.push_back(std::move(converted));
  }
  switch (s.kind % map_format::kConverted) {
    case map_format::kTemplateText:
    case map_format::kCodeText:
      // The conversion writes for one character; copied text runs on.
      chain.push_back(SourceLink(s.source, s.line,
                                 s.source_column + (s.kind < map_format::kConverted ? delta : 0)));
      break;
    default: {
      const Occurrence& o = occurrences_[static_cast<size_t>(s.occurrence)];
      MapLink link;
      link.kind = MapLink::Kind::kGenerated;
      link.row = rows_[static_cast<size_t>(o.name)];
      link.name = names_[static_cast<size_t>(o.name)];
      chain.push_back(std::move(link));
    }
  }
  AddChain(s.occurrence, chain);
  return chain;
}

}  // namespace vz
