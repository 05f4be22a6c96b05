// WriteSourceMap: one pass over the runs of the page's origins, writing the
// segments of "mappings" straight into the map and those of the extension's
// "kinds" beside them.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "platform/memory.h"
#include "sourcemap/json.h"
#include "sourcemap/map_format.h"
#include "sourcemap/source_map.h"
#include "sourcemap/vlq.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace vz {
namespace {

using map_format::EndsLine;

// Text written by pointer: Room(n) gives a place for n more bytes, Done(end)
// keeps what was written up to `end`. Grows geometrically; room that is
// never written is never touched.
class Sink {
 public:
  Sink() = default;
  Sink(Sink&& other) noexcept { *this = std::move(other); }
  Sink& operator=(Sink&& other) noexcept {
    data_ = std::move(other.data_);
    at_ = std::exchange(other.at_, nullptr);
    end_ = std::exchange(other.end_, nullptr);
    return *this;
  }

  char* Room(size_t extra) {
    if (static_cast<size_t>(end_ - at_) < extra) Grow(extra);
    return at_;
  }
  void Done(char* end) { at_ = end; }
  void Put(char c) { *Room(1) = c, ++at_; }
  void Append(std::string_view s) {
    char* at = Room(s.size());
    std::memcpy(at, s.data(), s.size());
    at_ = at + s.size();
  }
  void Number(int64_t n) {
    char* at = Room(24);
    at_ = std::to_chars(at, at + 24, n).ptr;
  }
  size_t size() const { return static_cast<size_t>(at_ - data_.get()); }
  std::string_view View() const { return std::string_view(data_.get(), size()); }
  // Forgets the last `n` bytes.
  void Drop(size_t n) { at_ -= n; }

 private:
  void Grow(size_t extra) {
    const size_t used = size();
    const size_t capacity = std::max(2 * static_cast<size_t>(end_ - data_.get()), used + extra);
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (used > 0) std::memcpy(bigger.get(), data_.get(), used);
    data_ = std::move(bigger);
    at_ = data_.get() + used;
    end_ = data_.get() + capacity;
  }

  std::unique_ptr<char[]> data_;
  char* at_ = nullptr;
  char* end_ = nullptr;
};

// The buffers a finished map's pieces lie in.
struct Parts {
  Sink out, second_out;
  Sink lines, second_lines;
  Sink kinds, second_kinds;
  Sink rows, occurrences;
  std::string version;
};

// Where a line ends, given the first CR or LF at or after `at`: there, or at
// the LF of a CR LF; `end` when that LF lies past it.
inline size_t LineEndAt(TextView text, size_t at, size_t end) {
  if (text[at] == u'\n' || at + 1 == text.size() || text[at + 1] != u'\n') return at;
  return at + 1 < end ? at + 1 : end;
}

#if defined(__x86_64__)
// Sixteen characters a step.
__attribute__((target("avx2"))) size_t NextLineEndAvx2(TextView text, size_t from, size_t end) {
  const __m256i lf = _mm256_set1_epi16(u'\n');
  const __m256i cr = _mm256_set1_epi16(u'\r');
  size_t i = from;
  for (; i + 16 <= end; i += 16) {
    const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text.data() + i));
    const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_or_si256(_mm256_cmpeq_epi16(units, lf), _mm256_cmpeq_epi16(units, cr))));
    if (mask != 0) return LineEndAt(text, i + static_cast<size_t>(__builtin_ctz(mask)) / 2, end);
  }
  for (; i < end; ++i) {
    if (text[i] <= u'\r' && EndsLine(text, i)) return i;
  }
  return end;
}

const bool kHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

// The first index in [from, end) of `text` where a line ends, or `end`.
size_t NextLineEnd(TextView text, size_t from, size_t end) {
#if defined(__x86_64__)
  if (kHasAvx2) return NextLineEndAvx2(text, from, end);
#endif
  size_t i = from;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi16(u'\n');
  const __m128i cr = _mm_set1_epi16(u'\r');
  for (; i + 8 <= end; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(units, lf), _mm_cmpeq_epi16(units, cr))));
    if (mask != 0) return LineEndAt(text, i + static_cast<size_t>(__builtin_ctz(mask)) / 2, end);
  }
#endif
  for (; i < end; ++i) {
    if (text[i] <= u'\r' && EndsLine(text, i)) return i;
  }
  return end;
}

// The start of the first line that begins after `from` (a line end at or
// after `from`, plus one), or kNoLine when no line begins there.
constexpr size_t kNoLine = static_cast<size_t>(-1);
size_t NextLineStart(TextView text, size_t from) {
  const size_t end = NextLineEnd(text, from, text.size());
  return end + 1 < text.size() ? end + 1 : kNoLine;
}

// The line starts of a text, for the 0-based line and column of offsets;
// offsets near the last one asked for are found without a search.
class LineTable {
 public:
  explicit LineTable(TextView text) {
    auto starts = std::make_shared<std::vector<size_t>>();
    starts->push_back(0);
    for (size_t i = NextLineEnd(text, 0, text.size()); i < text.size();
         i = NextLineEnd(text, i + 1, text.size()))
      starts->push_back(i + 1);
    starts_ = std::move(starts);
  }
  // The same lines, with a hint of its own: tables can be shared across
  // threads this way.
  LineTable(const LineTable& other) : starts_(other.starts_) {}
  LineTable& operator=(const LineTable&) = delete;

  // Offsets asked for mostly go down the text a little at a time: the
  // search starts at the line of the last one and widens from there.
  void At(size_t offset, int64_t& line, int64_t& column) {
    const std::vector<size_t>& starts = *starts_;
    size_t l = hint_;
    if (!Holds(l, offset)) {
      auto from = starts.begin();
      auto to = starts.end();
      if (l < starts.size() && offset >= starts[l]) {
        // Forward: steps of 1, 2, 4, ... lines until one starts past it.
        size_t step = 1;
        size_t low = l;
        while (low + step < starts.size() && starts[low + step] <= offset) {
          low += step;
          step *= 2;
        }
        from = starts.begin() + static_cast<ptrdiff_t>(low);
        to = starts.begin() + static_cast<ptrdiff_t>(std::min(low + step, starts.size()));
      }
      l = static_cast<size_t>(std::upper_bound(from, to, offset) - starts.begin() - 1);
    }
    hint_ = l;
    line = static_cast<int64_t>(l);
    column = static_cast<int64_t>(offset - starts[l]);
  }

 private:
  bool Holds(size_t l, size_t offset) const {
    const std::vector<size_t>& starts = *starts_;
    return l < starts.size() && offset >= starts[l] &&
           (l + 1 == starts.size() || offset < starts[l + 1]);
  }

  std::shared_ptr<const std::vector<size_t>> starts_;
  size_t hint_ = 0;
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

// "run 3", "occurrence 7": built only for a message.
std::string Named(const char* what, size_t number) {
  std::string name = what;
  name += ' ';
  name += Str(static_cast<int64_t>(number));
  return name;
}

// Whether `text` stands in a JSON string as it is, one byte a character:
// printable ASCII without quotes or backslashes.
bool PlainAscii(TextView text) {
  for (char16_t c : text) {
    if (c < 0x20 || c >= 0x7F || c == u'"' || c == u'\\') return false;
  }
  return true;
}

// Appends `text` as a JSON string; ASCII, the usual case, without a
// conversion.
void AppendJsonText(std::string& out, TextView text) {
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
    std::string ascii(text.begin(), text.end());
    AppendJsonString(out, ascii);
  } else {
    AppendJsonString(out, ToUtf8(text));
  }
}

class Writer {
 public:
  Writer(const PageTrace& trace, TextView generated)
      : trace_(trace),
        origins_(trace.origins),
        generated_(generated),
        template_lines_(trace.template_text),
        code_lines_(origins_.rows.size()) {}

  // A writer of the runs after those of `first`, on the same page, sharing
  // its table of the template's lines.
  struct After {};
  Writer(After, const Writer& first)
      : trace_(first.trace_),
        origins_(first.origins_),
        generated_(first.generated_),
        template_lines_(first.template_lines_),
        code_lines_(origins_.rows.size()),
        tag_places_(first.tag_places_) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  SourceMapText Write(std::string_view file, std::string_view template_source,
                      size_t parallel_runs) {
    CheckRows();
    CheckOccurrences();
    FindTagPlaces();
    WriteHead(file, template_source);
    const size_t runs = origins_.runs.size();
    const size_t split = runs >= parallel_runs ? SplitPoint() : runs;
    if (split < runs) {
      // The runs from the split on are written by a second writer on a thread
      // of its own, starting where this one ends: at the start of a line,
      // with the last place and occurrence of the runs before it.
      std::optional<Writer> second_writer;
      Writer& second = second_writer.emplace(After{}, *this);
      // Its room is taken here: memory a thread takes comes from a heap of
      // that thread's own, which is slower to fill.
      const size_t chars = generated_.size() - origins_.runs[split].start;
      second.out_.Room((runs - split) * 14 + chars / 4);
      second.kinds_.Room((runs - split) * 3);
      second.lines_.Room(chars / 8);
      std::exception_ptr failure;
      std::thread thread([&] {
        try {
          second.AddRuns(split, runs);
        } catch (...) {
          failure = std::current_exception();
        }
      });
      try {
        AddRuns(0, split);
      } catch (...) {
        thread.join();
        throw;
      }
      thread.join();
      if (failure) std::rethrow_exception(failure);
      return Finish(&second);
    }
    AddRuns(0, runs);
    return Finish(nullptr);
  }

 private:
  // The map: the head and segments of this writer and of the `second` that
  // wrote the runs after its own (if any), then the extension.
  SourceMapText Finish(Writer* second) {
    Writer& last = second != nullptr ? *second : *this;
    if (last.line_start_ < generated_.size()) {
      last.lines_.Number(static_cast<int64_t>(generated_.size() - last.line_start_));
    } else if (last.lines_.size() > 0) {
      last.lines_.Drop(1);  // the comma after the last
    }
    auto parts = std::make_shared<Parts>();
    WriteRows(parts->rows);
    WriteOccurrences(parts->occurrences);
    parts->version = std::to_string(map_format::kExtensionVersion);
    parts->out = std::move(out_);
    parts->lines = std::move(lines_);
    parts->kinds = std::move(kinds_);
    if (second != nullptr) {
      parts->second_out = std::move(second->out_);
      parts->second_lines = std::move(second->lines_);
      parts->second_kinds = std::move(second->kinds_);
    }
    std::vector<std::string_view> pieces = {
        parts->out.View(),
        parts->second_out.View(),
        "\",\"",
        map_format::kExtension,
        "\":{\"version\":",
        parts->version,
        ",\"rows\":[",
        parts->rows.View(),
        "],\"lines\":[",
        parts->lines.View(),
        parts->second_lines.View(),
        "],\"kinds\":\"",
        parts->kinds.View(),
        parts->second_kinds.View(),
        "\",\"occurrences\":[",
        parts->occurrences.View(),
        "]}}\n",
    };
    return SourceMapText(std::move(pieces), std::move(parts));
  }

  // The index of `row` among the rows applied, or -1.
  int32_t RowIndex(int32_t row) const {
    if (row == cached_row_) return cached_index_;
    const auto it =
        std::lower_bound(origins_.rows.begin(), origins_.rows.end(), row,
                         [](const RowApplied& applied, int32_t r) { return applied.row < r; });
    if (it == origins_.rows.end() || it->row != row) return -1;
    cached_row_ = row;
    cached_index_ = static_cast<int32_t>(it - origins_.rows.begin());
    return cached_index_;
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
  // `what` and `number` name the run or occurrence for messages.
  void CheckPlace(const Origin& o, size_t length, const char* what, size_t number) const {
    size_t size;
    if (o.kind == Origin::Kind::kTemplate) {
      size = trace_.template_text.size();
    } else {
      const int32_t index = RowIndex(o.row);
      if (index < 0)
        Inconsistent(Named(what, number) + " names row " + Str(o.row) + ", which was not applied");
      if (o.occurrence < 0 || static_cast<size_t>(o.occurrence) >= origins_.occurrences.size())
        Inconsistent(Named(what, number) + " names occurrence " + Str(o.occurrence) +
                     ", which is not there");
      size = CodeOf(index).size();
    }
    if (o.offset > size || size - o.offset < length)
      Inconsistent(Named(what, number) + " reaches past the end of its text (" + Str(o.offset) +
                   " + " + Str(length) + " > " + Str(size) + ")");
  }

  void CheckOccurrences() const {
    for (size_t k = 0; k < origins_.occurrences.size(); ++k) {
      const Occurrence& occurrence = origins_.occurrences[k];
      if (RowIndex(occurrence.row) < 0)
        Inconsistent(Named("occurrence", k) + " expands row " + Str(occurrence.row) +
                     ", which was not applied");
      // A tag written by an earlier expansion (inside its assignment lines)
      // stands where that expansion's own tag stood.
      if (occurrence.at.kind == Origin::Kind::kGenerated) {
        if (occurrence.at.occurrence < 0 || static_cast<size_t>(occurrence.at.occurrence) >= k)
          Inconsistent(Named("occurrence", k) + ": its tag was written by occurrence " +
                       Str(occurrence.at.occurrence) + ", which is not an earlier one");
        continue;
      }
      CheckPlace(occurrence.at, 0, "occurrence", k);
    }
  }

  // Checks run `i`, which should start at `expected`; returns where it ends.
  size_t CheckRun(size_t i, size_t expected) const {
    const OriginRun& run = origins_.runs[i];
    if (run.length == 0) Inconsistent(Named("run", i) + " is empty");
    if (run.start != expected)
      Inconsistent(Named("run", i) + " starts at " + Str(run.start) + ", not at " + Str(expected));
    if (run.length > generated_.size() - run.start)
      Inconsistent(Named("run", i) + " ends past the end of the page (" + Str(generated_.size()) +
                   " characters)");
    if (run.origin.kind == Origin::Kind::kGenerated) {
      if (run.origin.occurrence < 0 ||
          static_cast<size_t>(run.origin.occurrence) >= origins_.occurrences.size())
        Inconsistent(Named("run", i) + " names occurrence " + Str(run.origin.occurrence) +
                     ", which is not there");
    } else {
      CheckPlace(run.origin, run.origin.converted ? 0 : run.length, "run", i);
    }
    return run.start + run.length;
  }

  // Whether run `i` would pass CheckRun where it starts.
  bool Sound(size_t i) const {
    const OriginRun& run = origins_.runs[i];
    if (run.start > generated_.size()) return false;
    try {
      CheckRun(i, run.start);
      return true;
    } catch (const SourceMapError&) {
      return false;
    }
  }

  void CheckCover(size_t end) const {
    if (end != generated_.size())
      Inconsistent("the runs cover " + Str(end) + " characters of a page of " +
                   Str(generated_.size()));
  }

  LineTable& CodeLines(int32_t index) {
    std::unique_ptr<LineTable>& table = code_lines_[static_cast<size_t>(index)];
    if (!table) table = std::make_unique<LineTable>(CodeOf(index));
    return *table;
  }

  // The place of character `plus` after a template or code origin.
  [[gnu::always_inline]] Place PlaceOf(const Origin& o, size_t plus) {
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

  // Where the opening tag of an occurrence has a place: its first
  // character, or, for a tag an earlier expansion wrote, that expansion's
  // tag.
  const Origin& TagOrigin(const Occurrence& o) const {
    const Occurrence* at = &o;
    while (at->at.kind == Origin::Kind::kGenerated)
      at = &origins_.occurrences[static_cast<size_t>(at->at.occurrence)];
    return at->at;
  }

  // The first character of an occurrence's opening tag, named after the row
  // it expands.
  const Place& TagPlace(int32_t occurrence) const {
    return (*tag_places_)[static_cast<size_t>(occurrence)];
  }

  // The places of all occurrences' tags, found once in the order they were
  // made: mostly down the template, as the lines are searched best.
  void FindTagPlaces() {
    own_tag_places_.reserve(origins_.occurrences.size());
    for (const Occurrence& o : origins_.occurrences) {
      Place place = PlaceOf(TagOrigin(o), 0);
      place.name = RowIndex(o.row);
      own_tag_places_.push_back(place);
    }
    tag_places_ = &own_tag_places_;
  }

  // Everything before the segments: the standard fields.
  void WriteHead(std::string_view file, std::string_view template_source) {
    std::string head = "{\"version\":3,\"file\":";
    AppendJsonString(head, file);
    head += ",\"sources\":[";
    AppendJsonString(head, template_source);
    for (const RowApplied& row : origins_.rows) {
      head += ',';
      AppendJsonString(head, "web_tag row " + Str(int64_t{row.row} + 1) + ": " + ToUtf8(row.name));
    }
    head += "],\"sourcesContent\":[null";
    for (const RowApplied& row : origins_.rows) {
      head += ',';
      AppendJsonString(head, ToUtf8(row.code));
    }
    head += "],\"names\":[";
    for (size_t i = 0; i < origins_.rows.size(); ++i) {
      if (i > 0) head += ',';
      AppendJsonString(head, ToUtf8(origins_.rows[i].name));
    }
    head += "],\"mappings\":\"";
    out_.Room(head.size() + origins_.runs.size() * 14 + generated_.size() / 4);
    out_.Append(head);
    kinds_.Room(origins_.runs.size() * 3);
    lines_.Room(generated_.size() / 8);
  }

  // A run near the middle that starts a line (after a line end), or the
  // number of runs when there is none.
  size_t SplitPoint() const {
    const size_t runs = origins_.runs.size();
    for (size_t m = runs / 2; m < runs; ++m) {
      const size_t start = origins_.runs[m].start;  // not checked yet
      if (start > 0 && start <= generated_.size() && map_format::EndsLine(generated_, start - 1))
        return m;
    }
    return runs;
  }

  // The segments of runs [first, last). When `first` is not the first run,
  // it starts a line, and the deltas go on from the last segment of the runs
  // before it as a writer of those would have left them.
  // Each run is checked before it is written; a run the checks fail raises
  // SourceMapError, and the runs before it are the same as the ones a check
  // of every run first would have passed.
  void AddRuns(size_t first, size_t last) {
    const std::vector<OriginRun>& runs = origins_.runs;
    size_t end = 0;
    if (first > 0) {
      ContinueAfter(first);
      end = runs[first - 1].start + runs[first - 1].length;
    }
    next_line_ = NextLineStart(generated_, line_start_);
    for (size_t r = first; r < last; ++r) {
      end = CheckRun(r, end);
      AddRun(runs[r]);
    }
    if (last == runs.size()) CheckCover(end);
  }

  // Puts this writer where one that wrote runs [0, first) would stand.
  // The runs before `first` are another writer's to check: one that fails
  // leaves this writer where it stands, as that writer's failure wins.
  void ContinueAfter(size_t first) {
    const std::vector<OriginRun>& runs = origins_.runs;
    line_start_ = runs[first].start;
    if (!Sound(first - 1)) return;
    // The last segment before: at the last line start inside the run before
    // (not counting the line that run ends), or at its start.
    const OriginRun& run = runs[first - 1];
    const size_t end = run.start + run.length;
    size_t last_segment = run.start;
    for (size_t at = NextLineEnd(generated_, run.start, end - 1); at < end - 1;
         at = NextLineEnd(generated_, at + 1, end - 1))
      last_segment = at + 1;
    const Place place = PlaceOfRun(run, last_segment - run.start);
    previous_.source = place.source;
    previous_.line = place.line;
    previous_.column = place.column;
    previous_occurrence_ = run.origin.occurrence;
    // The name goes on from the last segment that had one.
    previous_.name = 0;
    for (size_t r = first; r-- > 0;) {
      if (!Sound(r)) return;
      const int32_t name = PlaceOfRun(runs[r], 0).name;
      if (name >= 0) {
        previous_.name = name;
        break;
      }
    }
  }

  // The place the segment `offset` characters into `run` maps to.
  Place PlaceOfRun(const OriginRun& run, size_t offset) {
    const Origin& o = run.origin;
    if (!o.converted && o.kind != Origin::Kind::kGenerated) return PlaceOf(o, offset);
    return o.kind == Origin::Kind::kGenerated ? TagPlace(o.occurrence) : PlaceOf(o, 0);
  }

  // A segment where the run starts and one where each line starts inside it;
  // a line that starts where the run ends begins before the next run's.
  void AddRun(const OriginRun& run) {
    const Origin& o = run.origin;
    const size_t end = run.start + run.length;
    if (!o.converted && o.kind != Origin::Kind::kGenerated) {
      const uint8_t kind =
          o.kind == Origin::Kind::kTemplate ? map_format::kTemplateText : map_format::kCodeText;
      // The characters are the source's, so each line that starts in the run
      // starts the next line of the source too.
      Place place = PlaceOf(o, 0);
      AddSegment(run.start, place, kind, o.occurrence);
      while (next_line_ < end) {
        NewLine(next_line_);
        ++place.line;
        place.column = 0;
        AddSegment(next_line_, place, kind, o.occurrence);
        next_line_ = NextLineStart(generated_, next_line_);
      }
    } else {
      uint8_t kind = o.kind == Origin::Kind::kTemplate ? map_format::kTemplateText
                     : o.kind == Origin::Kind::kCode   ? map_format::kCodeText
                                                       : map_format::kGeneratedText;
      if (o.converted) kind += map_format::kConverted;
      const Place fixed =
          o.kind == Origin::Kind::kGenerated ? TagPlace(o.occurrence) : PlaceOf(o, 0);
      AddSegment(run.start, fixed, kind, o.occurrence);
      while (next_line_ < end) {
        NewLine(next_line_);
        AddSegment(next_line_, fixed, kind, o.occurrence);
        next_line_ = NextLineStart(generated_, next_line_);
      }
    }
    if (next_line_ == end) {
      NewLine(end);
      next_line_ = NextLineStart(generated_, end);
    }
  }

  void NewLine(size_t start) {
    lines_.Number(static_cast<int64_t>(start - line_start_));
    lines_.Put(',');
    line_start_ = start;
    out_.Put(';');
    kinds_.Put(';');
    previous_column_ = 0;
    first_in_line_ = true;
  }

  void AddSegment(size_t position, const Place& place, uint8_t kind, int32_t occurrence) {
    char* at = out_.Room(1 + 5 * kMaxVlqDigits);
    char* kinds = kinds_.Room(1 + kMaxVlqDigits);
    if (!first_in_line_) {
      *at++ = ',';
      *kinds++ = ',';
    }
    first_in_line_ = false;
    const int64_t column = static_cast<int64_t>(position - line_start_);
    at = WriteVlq(at, column - previous_column_);
    at = WriteVlq(at, place.source - previous_.source);
    at = WriteVlq(at, place.line - previous_.line);
    at = WriteVlq(at, place.column - previous_.column);
    if (place.name >= 0) {
      at = WriteVlq(at, place.name - previous_.name);
      previous_.name = place.name;
    }
    out_.Done(at);
    previous_column_ = column;
    previous_.source = place.source;
    previous_.line = place.line;
    previous_.column = place.column;
    kinds_.Done(WriteVlq(kinds, (int64_t{occurrence} - previous_occurrence_) * 8 + kind));
    previous_occurrence_ = occurrence;
  }

  void WriteRows(Sink& out) const {
    for (size_t i = 0; i < origins_.rows.size(); ++i) {
      if (i > 0) out.Put(',');
      out.Number(int64_t{origins_.rows[i].row} + 1);
    }
  }

  void WriteOccurrences(Sink& out) {
    std::string escaped;
    out.Room(origins_.occurrences.size() * 48);
    for (size_t k = 0; k < origins_.occurrences.size(); ++k) {
      const Occurrence& o = origins_.occurrences[k];
      const Place& place = TagPlace(static_cast<int32_t>(k));
      // Three numbers and their commas, the tag's quotes, two more numbers,
      // the brackets: at most 6 * 21 bytes besides the tag.
      char* at = out.Room(128 + o.tag.size());
      if (k > 0) *at++ = ',';
      *at++ = '[';
      for (int64_t n : {int64_t{place.source}, place.line, place.column}) {
        at = std::to_chars(at, at + 21, n).ptr;
        *at++ = ',';
      }
      if (PlainAscii(o.tag)) {
        *at++ = '"';
        for (char16_t c : o.tag) *at++ = static_cast<char>(c);
        *at++ = '"';
      } else {
        out.Done(at);
        escaped.clear();
        AppendJsonText(escaped, o.tag);
        out.Append(escaped);
        at = out.Room(128);
      }
      *at++ = ',';
      at = std::to_chars(at, at + 21, int64_t{RowIndex(o.row)}).ptr;
      *at++ = ',';
      at = std::to_chars(at, at + 21,
                         int64_t{o.at.kind == Origin::Kind::kTemplate ? -1 : o.at.occurrence})
               .ptr;
      *at++ = ']';
      out.Done(at);
    }
  }

  const PageTrace& trace_;
  const PageOrigins& origins_;
  TextView generated_;
  LineTable template_lines_;
  std::vector<std::unique_ptr<LineTable>> code_lines_;  // built when first needed
  std::vector<Place> own_tag_places_;
  const std::vector<Place>* tag_places_ = nullptr;  // by occurrence: these or the first writer's
  mutable int32_t cached_row_ = -1;                 // the last row RowIndex found
  mutable int32_t cached_index_ = -1;

  Sink out_;
  Sink kinds_;
  Sink lines_;  // the lengths of the lines so far, each followed by a comma
  size_t line_start_ = 0;
  size_t next_line_ = kNoLine;  // the start of the next line after the last segment
  bool first_in_line_ = true;
  int64_t previous_column_ = 0;
  Place previous_{0, 0, 0, 0};
  int32_t previous_occurrence_ = -1;
};

}  // namespace

size_t SourceMapText::size() const {
  size_t size = 0;
  for (std::string_view piece : pieces_) size += piece.size();
  return size;
}

std::string SourceMapText::Joined() const {
  std::string map;
  map.reserve(size());
  for (std::string_view piece : pieces_) map += piece;
  return map;
}

SourceMapText WriteSourceMapText(const PageTrace& trace, TextView generated, std::string_view file,
                                 std::string_view template_source, size_t parallel_runs) {
  return Writer(trace, generated).Write(file, template_source, parallel_runs);
}

std::string WriteSourceMap(const PageTrace& trace, TextView generated, std::string_view file,
                           std::string_view template_source, size_t parallel_runs) {
  return WriteSourceMapText(trace, generated, file, template_source, parallel_runs).Joined();
}

}  // namespace vz
