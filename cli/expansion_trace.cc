#include "cli/expansion_trace.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "cli/attribute_text.h"
#include "cli/finding_printer.h"
#include "platform/failure.h"

// Why the stand-in is exact for plain tag names. Every pattern the expansion
// looks for ("<!--N ", "<!--N-->", "<!--/N-->", "-->") starts with "<" or is
// "-->", and a plain name holds none of "<", ">", "%", a blank, a quote, "&",
// "=". Everything an expansion puts in is framed by "<%" and "%>", the
// attribute lines end in a quote and a line end, and the content it copies
// is framed by "%>" and "<%": no pattern can match across those edges, so a
// match lies wholly inside one piece of template, code or attribute lines,
// and a region the expansion replaces holds whole tags only. A code can thus
// be kept as its markup alone, each other stretch becoming one placeholder
// "%" that remembers its length and its "&" and "=" (which the attribute
// lines of a tag around it would widen).

namespace vz::cli {
namespace {

constexpr size_t npos = TextView::npos;
constexpr TextView kCommentStart = u"<!--";
constexpr TextView kCommentEnd = u"-->";
constexpr TextView kData = u"[data]";
constexpr char16_t kPlaceholder = u'%';

// Characters with where each came from: an origin >= 0 is an offset in the
// template; origin -1 - i is the record inserted_[i].
struct Units {
  Text chars;
  std::vector<int32_t> origins;
  void Push(char16_t c, int32_t origin) {
    chars.push_back(c);
    origins.push_back(origin);
  }
  void Append(const Units& more) {
    chars += more.chars;
    origins.insert(origins.end(), more.origins.begin(), more.origins.end());
  }
  size_t size() const { return chars.size(); }
};

// The stand-in page: a gap buffer of characters and their origins, the gap
// kept where the last search or edit was. Until the first edit it is the
// template itself, unchanged and not copied.
class GapUnits {
 public:
  explicit GapUnits(TextView text) : view_(text) {}

  size_t size() const { return copied_ ? gap_begin_ + (chars_.size() - gap_end_) : view_.size(); }
  char16_t At(size_t i) const { return copied_ ? chars_[Physical(i)] : view_[i]; }
  int32_t OriginAt(size_t i) const {
    return copied_ ? origins_[Physical(i)] : static_cast<int32_t>(i);
  }

  // The first `needle` starting in [from, limit) and ending in the text.
  size_t Find(TextView needle, size_t from, size_t limit = npos) {
    const size_t n = size();
    if (from > n || n - from < needle.size()) return npos;
    const size_t stop = std::min(limit, n - needle.size() + 1);
    if (from >= stop) return npos;
    const char16_t* data = view_.data() + from;
    if (copied_) {
      MoveGap(from);
      data = chars_.data() + gap_end_;
    }
    const size_t q = vz::Find(TextView(data, stop - from + needle.size() - 1), needle);
    return q == npos ? npos : from + q;
  }

  // Replaces [from, to) by `with`.
  void Replace(size_t from, size_t to, const Units& with) {
    if (!copied_) Copy();
    MoveGap(from);
    gap_end_ += to - from;
    if (gap_end_ - gap_begin_ < with.size()) Grow(with.size());
    std::copy(with.chars.begin(), with.chars.end(), chars_.begin() + gap_begin_);
    std::copy(with.origins.begin(), with.origins.end(), origins_.begin() + gap_begin_);
    gap_begin_ += with.size();
  }

  void CopyTo(size_t from, size_t to, Units& out) const {
    for (size_t i = from; i < to; ++i) out.Push(At(i), OriginAt(i));
  }

 private:
  size_t Physical(size_t i) const { return i < gap_begin_ ? i : i + (gap_end_ - gap_begin_); }

  void Copy() {
    chars_ = Text(view_);
    origins_.resize(view_.size());
    for (size_t i = 0; i < view_.size(); ++i) origins_[i] = static_cast<int32_t>(i);
    gap_begin_ = gap_end_ = view_.size();
    copied_ = true;
  }

  void MoveGap(size_t to) {
    if (to < gap_begin_) {
      const size_t k = gap_begin_ - to;
      std::copy_backward(chars_.begin() + to, chars_.begin() + gap_begin_,
                         chars_.begin() + gap_end_);
      std::copy_backward(origins_.begin() + to, origins_.begin() + gap_begin_,
                         origins_.begin() + gap_end_);
      gap_begin_ = to;
      gap_end_ -= k;
    } else if (to > gap_begin_) {
      const size_t k = to - gap_begin_;
      std::copy(chars_.begin() + gap_end_, chars_.begin() + gap_end_ + k,
                chars_.begin() + gap_begin_);
      std::copy(origins_.begin() + gap_end_, origins_.begin() + gap_end_ + k,
                origins_.begin() + gap_begin_);
      gap_begin_ = to;
      gap_end_ += k;
    }
  }

  void Grow(size_t need) {
    const size_t tail = chars_.size() - gap_end_;
    const size_t capacity = chars_.size() + std::max(need, chars_.size() / 4 + 1024);
    chars_.resize(capacity);
    origins_.resize(capacity);
    std::copy_backward(chars_.begin() + gap_end_, chars_.begin() + gap_end_ + tail, chars_.end());
    std::copy_backward(origins_.begin() + gap_end_, origins_.begin() + gap_end_ + tail,
                       origins_.end());
    gap_end_ = capacity - tail;
  }

  TextView view_;
  bool copied_ = false;
  Text chars_;
  std::vector<int32_t> origins_;
  size_t gap_begin_ = 0;
  size_t gap_end_ = 0;
};

// A stretch of code held as one placeholder: its length and its "&" and "=".
struct Stretch {
  int64_t length = 0;
  int64_t amps = 0;
  int64_t eqs = 0;
};

// A piece of code reduced to its markup.
struct ReducedPiece {
  Text chars;
  std::vector<int32_t> runs;  // per character: -1 kept, else an index of run_list
  std::vector<Stretch> run_list;
};

// Keeps every "<!--" with what follows it up to its "-->" (or `reach`
// characters when there is none) and every "-->"; each other stretch becomes
// one placeholder.
ReducedPiece Reduce(TextView piece, size_t reach) {
  std::vector<bool> keep(piece.size(), false);
  for (size_t p = Find(piece, kCommentStart); p != npos; p = Find(piece, kCommentStart, p + 1)) {
    const size_t end = Find(piece, kCommentEnd, p + kCommentStart.size());
    const size_t last = end == npos ? std::min(piece.size(), p + reach) : end + kCommentEnd.size();
    std::fill(keep.begin() + static_cast<ptrdiff_t>(p), keep.begin() + static_cast<ptrdiff_t>(last),
              true);
  }
  for (size_t p = Find(piece, kCommentEnd); p != npos; p = Find(piece, kCommentEnd, p + 1))
    std::fill_n(keep.begin() + static_cast<ptrdiff_t>(p), kCommentEnd.size(), true);
  ReducedPiece out;
  for (size_t i = 0; i < piece.size();) {
    if (keep[i]) {
      out.chars.push_back(piece[i++]);
      out.runs.push_back(-1);
      continue;
    }
    Stretch run;
    for (; i < piece.size() && !keep[i]; ++i) {
      ++run.length;
      run.amps += piece[i] == u'&';
      run.eqs += piece[i] == u'=';
    }
    out.chars.push_back(kPlaceholder);
    out.runs.push_back(static_cast<int32_t>(out.run_list.size()));
    out.run_list.push_back(run);
  }
  return out;
}

// A row's code as the trace inserts it.
struct CodeShape {
  std::vector<ReducedPiece> pieces;  // cut at the "[data]" markers
  ReducedPiece whole;                // the code unchanged
  size_t markers = 0;
  int64_t length = 0;
};

// What the trace knows of one plain tag name.
struct NameState {
  Text name;
  Text attribute_form;  // "<!--N "
  Text plain_form;      // "<!--N-->"
  Text closing_form;    // "<!--/N-->"
  // Occurrences of each form in the stand-in as it now is.
  int64_t with_attributes = 0;
  int64_t plain = 0;
  int64_t closings = 0;
  // Near-miss closing tags of the template, ascending; filled when needed.
  std::optional<std::vector<size_t>> near_misses;
};

// A record behind inserted characters.
struct Inserted {
  int32_t row;     // the row whose code or attribute lines brought it
  int32_t anchor;  // the template offset of the tag it traces back to
  bool placeholder;
  Stretch run;  // what a placeholder stands for
};

bool IsAsciiWordChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'-' || c == u'.';
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool IsBlankChar(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

class Tracer {
 public:
  Tracer(TextView templet, const std::vector<TagRow>& rows, const TraceLimits& limits)
      : templet_(templet), rows_(rows), limits_(limits), text_(templet), index_(templet) {}

  TraceResult Run();

 private:
  // The token ids at a "<!--": the name of an opening tag with attributes,
  // of a plain one and of a closing tag; -1 where there is none.
  struct Tokens {
    int32_t with_attributes = -1;
    int32_t plain = -1;
    int32_t closing = -1;
  };
  // What a region of the stand-in holds.
  struct Span {
    int64_t length = 0;
    int64_t amps = 0;
    int64_t eqs = 0;
    bool other_source = false;  // a character from elsewhere than `source`
    bool placeholder = false;
  };

  void SetUpNames();
  const CodeShape& Shape(size_t row);
  int32_t LookUp(size_t from, size_t to);
  Tokens TokensAt(size_t p);
  void Tally(size_t from, size_t to, int64_t delta);
  Span Measure(size_t from, size_t to, int32_t source) const;
  int32_t NewInserted(int32_t row, int32_t anchor, bool placeholder, Stretch run);
  const Inserted* InsertedOf(int32_t origin) const {
    return origin < 0 ? &inserted_[static_cast<size_t>(-1 - origin)] : nullptr;
  }
  size_t AnchorOf(int32_t origin) const {
    return origin >= 0 ? static_cast<size_t>(origin)
                       : static_cast<size_t>(InsertedOf(origin)->anchor);
  }
  void AppendPiece(const ReducedPiece& piece, int32_t block, int32_t row, int32_t anchor,
                   Units& out);
  void AppendLines(size_t from, size_t to, int32_t block, Units& out);

  bool ExpandRow(size_t row);
  bool Pass(size_t row, size_t e, size_t f, size_t o);
  // The text a pass rebuilds, put in the stand-in; false (with a
  // markup-grows finding) past max_units.
  bool Rebuild(size_t row, size_t e, size_t f, size_t o, int32_t anchor);
  // Replaces [from, to) of the stand-in by `with`, keeping the tag counts.
  void Splice(size_t from, size_t to, const Units& with);

  // Reports.
  std::string TagAt(size_t e, TextView name) const;
  void Report(std::string_view kind, size_t offset, size_t row, const std::string& message);
  void ReportUnterminated(size_t row, size_t e);
  void ReportNoClosingAfter(size_t row, size_t e, size_t f);
  void ReportAttributes(size_t row, size_t e, size_t f);
  void ReportUnclosed(size_t row, size_t e);
  void ReportTooLong(size_t row, size_t e, int64_t length);
  void ReportGrows(size_t row, size_t e);
  void ReportLeftovers();
  const std::vector<size_t>& NearMisses(NameState& name);

  TextView templet_;
  const std::vector<TagRow>& rows_;
  TraceLimits limits_;
  GapUnits text_;
  LineIndex index_;
  std::vector<Inserted> inserted_;
  int64_t length_ = 0;  // of the real text the stand-in stands for

  std::unordered_map<Text, int32_t> ids_;
  std::vector<NameState> names_;
  std::vector<int32_t> row_name_;  // per row: its name id, -1 when not followed
  std::vector<std::optional<CodeShape>> shapes_;
  size_t longest_ = 0;
  Text scratch_;
  TraceResult result_;
};

TraceResult Tracer::Run() {
  result_.first_use.assign(rows_.size(), kNoOffset);
  length_ = static_cast<int64_t>(templet_.size());
  SetUpNames();
  int64_t codes = 0;
  for (const TagRow& row : rows_) codes += row.code ? static_cast<int64_t>(row.code->size()) : 0;
  if (limits_.max_units == 0)
    limits_.max_units = static_cast<size_t>(4 * (static_cast<int64_t>(templet_.size()) + codes)) +
                        (size_t{1} << 20);
  if (!names_.empty()) Tally(0, text_.size(), +1);
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (!rows_[r].name || !rows_[r].code) {
      result_.complete = false;  // generating fails here
      break;
    }
    if (row_name_[r] < 0) continue;
    if (!ExpandRow(r)) {
      result_.complete = false;
      break;
    }
  }
  if (result_.complete) ReportLeftovers();
  return std::move(result_);
}

void Tracer::SetUpNames() {
  row_name_.assign(rows_.size(), -1);
  shapes_.resize(rows_.size());
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (!rows_[r].name || !IsPlainTagName(*rows_[r].name)) continue;
    const Text& name = *rows_[r].name;
    auto [it, added] = ids_.emplace(name, static_cast<int32_t>(names_.size()));
    if (added) {
      NameState state;
      state.name = name;
      state.attribute_form = Concat({kCommentStart, name, u" "});
      state.plain_form = Concat({kCommentStart, name, kCommentEnd});
      state.closing_form = Concat({u"<!--/", name, kCommentEnd});
      names_.push_back(std::move(state));
      longest_ = std::max(longest_, name.size());
    }
    row_name_[r] = it->second;
  }
}

const CodeShape& Tracer::Shape(size_t row) {
  if (shapes_[row]) return *shapes_[row];
  const TextView code = *rows_[row].code;
  const size_t reach = kCommentStart.size() + 1 + longest_ + kCommentEnd.size();
  CodeShape shape;
  size_t done = 0;
  for (size_t at = Find(code, kData); at != npos; at = Find(code, kData, done)) {
    shape.pieces.push_back(Reduce(code.substr(done, at - done), reach));
    done = at + kData.size();
  }
  shape.pieces.push_back(Reduce(code.substr(done), reach));
  shape.markers = shape.pieces.size() - 1;
  shape.whole = Reduce(code, reach);
  shape.length = static_cast<int64_t>(code.size());
  shapes_[row] = std::move(shape);
  return *shapes_[row];
}

int32_t Tracer::LookUp(size_t from, size_t to) {
  if (to <= from || to - from > longest_) return -1;
  scratch_.clear();
  for (size_t i = from; i < to; ++i) scratch_.push_back(text_.At(i));
  auto it = ids_.find(scratch_);
  return it == ids_.end() ? -1 : it->second;
}

Tracer::Tokens Tracer::TokensAt(size_t p) {
  Tokens tokens;
  const size_t n = text_.size();
  const size_t start = p + kCommentStart.size();
  if (start >= n) return tokens;
  // A plain name holds no blank and no ">", so it ends at the first blank
  // (an opening tag with attributes) or the first "-->" (a plain one).
  const size_t reach = std::min(n, start + longest_ + 1);
  for (size_t k = start; k < reach; ++k) {
    const char16_t c = text_.At(k);
    if (c == u' ') {
      tokens.with_attributes = LookUp(start, k);
      break;
    }
    if (c == u'-' && k + 2 < n && text_.At(k + 1) == u'-' && text_.At(k + 2) == u'>') {
      tokens.plain = LookUp(start, k);
      break;
    }
  }
  if (text_.At(start) == u'/') {
    const size_t name = start + 1;
    const size_t closing_reach = std::min(n, name + longest_ + 1);
    for (size_t k = name; k < closing_reach; ++k) {
      if (k + 2 < n && text_.At(k) == u'-' && text_.At(k + 1) == u'-' && text_.At(k + 2) == u'>') {
        tokens.closing = LookUp(name, k);
        break;
      }
    }
  }
  return tokens;
}

void Tracer::Tally(size_t from, size_t to, int64_t delta) {
  for (size_t p = text_.Find(kCommentStart, from, to); p != npos;
       p = text_.Find(kCommentStart, p + 1, to)) {
    const Tokens t = TokensAt(p);
    if (t.with_attributes >= 0)
      names_[static_cast<size_t>(t.with_attributes)].with_attributes += delta;
    if (t.plain >= 0) names_[static_cast<size_t>(t.plain)].plain += delta;
    if (t.closing >= 0) names_[static_cast<size_t>(t.closing)].closings += delta;
  }
}

Tracer::Span Tracer::Measure(size_t from, size_t to, int32_t source) const {
  Span span;
  for (size_t i = from; i < to; ++i) {
    const int32_t origin = text_.OriginAt(i);
    const Inserted* record = InsertedOf(origin);
    if (record != nullptr && record->placeholder) {
      span.length += record->run.length;
      span.amps += record->run.amps;
      span.eqs += record->run.eqs;
      span.placeholder = true;
    } else {
      const char16_t c = text_.At(i);
      span.length += 1;
      span.amps += c == u'&';
      span.eqs += c == u'=';
    }
    // Characters of one source: the template, or one insertion.
    if (!((origin >= 0 && source >= 0) || origin == source)) span.other_source = true;
  }
  return span;
}

int32_t Tracer::NewInserted(int32_t row, int32_t anchor, bool placeholder, Stretch run) {
  inserted_.push_back({row, anchor, placeholder, run});
  return -static_cast<int32_t>(inserted_.size());
}

void Tracer::AppendPiece(const ReducedPiece& piece, int32_t block, int32_t row, int32_t anchor,
                         Units& out) {
  for (size_t i = 0; i < piece.chars.size(); ++i) {
    const int32_t run = piece.runs[i];
    out.Push(
        piece.chars[i],
        run < 0 ? block : NewInserted(row, anchor, true, piece.run_list[static_cast<size_t>(run)]));
  }
}

void Tracer::AppendLines(size_t from, size_t to, int32_t block, Units& out) {
  for (size_t i = from; i < to; ++i) {
    const char16_t c = text_.At(i);
    const int32_t origin = text_.OriginAt(i);
    const Inserted* record = InsertedOf(origin);
    if (record != nullptr && record->placeholder) {
      // Every "&" of the stretch becomes three characters, every "=" two.
      Stretch run = record->run;
      run.length += 2 * run.amps + run.eqs;
      run.amps = 0;
      out.Push(kPlaceholder, NewInserted(record->row, record->anchor, true, run));
    } else if (c == u'&') {
      out.Push(u'"', block);
      out.Push(u'\r', block);
      out.Push(u'\n', block);
    } else if (c == u'=') {
      out.Push(u'=', origin);
      out.Push(u'"', block);
    } else {
      out.Push(c, origin);
    }
  }
  out.Push(u'"', block);
  out.Push(u'\r', block);
  out.Push(u'\n', block);
}

bool Tracer::ExpandRow(size_t row) {
  NameState& name = names_[static_cast<size_t>(row_name_[row])];
  if (name.with_attributes + name.plain == 0) return true;
  // The code holding its own opening tag is refused before any pass.
  if (Find(*rows_[row].code, name.attribute_form) != npos ||
      Find(*rows_[row].code, name.plain_form) != npos)
    return false;  // LintRows reports it
  size_t from_attributes = 0;
  size_t from_plain = 0;
  while (name.with_attributes + name.plain > 0) {
    // The text before the opening tag of the last pass is as it was, so the
    // next one of the same form lies at or after it.
    size_t e;
    if (name.with_attributes > 0) {
      e = from_attributes = text_.Find(name.attribute_form, from_attributes);
    } else {
      e = from_plain = text_.Find(name.plain_form, from_plain);
    }
    if (e == npos) return false;  // the counts and the text disagree; cannot happen
    const size_t f = text_.Find(kCommentEnd, e);
    if (f == npos) {
      ReportUnterminated(row, e);
      return false;
    }
    size_t o = npos;
    if (name.closings > 0) {
      o = text_.Find(name.closing_form, f + kCommentEnd.size());
      if (o == npos) {
        ReportNoClosingAfter(row, e, f);
        return false;
      }
    }
    if (!Pass(row, e, f, o)) return false;
  }
  return true;
}

// One pass: the opening tag at `e` with its "-->" at `f`, paired with the
// closing tag at `o` (npos when the text holds none).
bool Tracer::Pass(size_t row, size_t e, size_t f, size_t o) {
  const NameState& name = names_[static_cast<size_t>(row_name_[row])];
  const CodeShape& code = Shape(row);
  const size_t L = name.name.size();
  const size_t after_open = f + kCommentEnd.size();
  const int32_t open_origin = text_.OriginAt(e);
  const int32_t anchor = static_cast<int32_t>(AnchorOf(open_origin));
  if (result_.first_use[row] == kNoOffset) result_.first_use[row] = static_cast<size_t>(anchor);

  const bool attributes = f > e + L + 4;
  const Span open = Measure(e, after_open, open_origin);
  int64_t lines_length = 0;
  if (attributes) {
    const Span a = Measure(e + L + 5, f, open_origin);
    lines_length = a.length + 2 * a.amps + a.eqs + 3;
    ReportAttributes(row, e, f);
  }
  const int64_t m = static_cast<int64_t>(code.markers);
  int64_t length;
  int64_t content_length = 0;
  if (o == npos) {
    length = length_ - open.length + 4 + lines_length + code.length;
  } else {
    // The content goes in once for each marker; with one it stays as it is.
    if (m != 1) content_length = Measure(after_open, o, open_origin).length;
    length = length_ - open.length - static_cast<int64_t>(L + 8) + 4 + lines_length + code.length -
             2 * m + (m - 1) * content_length;
  }
  if (length > limits_.max_length) {
    ReportTooLong(row, e, length);
    return false;
  }
  if (o == npos && m > 0) ReportUnclosed(row, e);
  if (!Rebuild(row, e, f, o, anchor)) return false;
  length_ = length;
  return true;
}

void Tracer::Splice(size_t from, size_t to, const Units& with) {
  Tally(from, to, -1);
  text_.Replace(from, to, with);
  Tally(from, from + with.size(), +1);
}

bool Tracer::Rebuild(size_t row, size_t e, size_t f, size_t o, int32_t anchor) {
  const CodeShape& code = Shape(row);
  const size_t L = names_[static_cast<size_t>(row_name_[row])].name.size();
  const size_t after_open = f + kCommentEnd.size();
  const int32_t r = static_cast<int32_t>(row);
  const int32_t block = NewInserted(r, anchor, false, {1, 0, 0});
  Units opening;
  opening.Push(u'<', block);
  opening.Push(u'%', block);
  if (f > e + L + 4) AppendLines(e + L + 5, f, block, opening);
  if (o == npos || code.markers == 0) {
    // The code goes in whole; with a closing tag the content goes too.
    AppendPiece(code.whole, block, r, anchor, opening);
    opening.Push(u'%', block);
    opening.Push(u'>', block);
    const size_t end = o == npos ? after_open : o + L + 8;
    if (text_.size() - (end - e) + opening.size() > limits_.max_units) {
      ReportGrows(row, e);
      return false;
    }
    Splice(e, end, opening);
    return true;
  }
  // The content stays where it is; the closing tag becomes the code after
  // the first marker, with a copy of the content before each further piece.
  Units content;
  if (code.markers > 1) {
    if (text_.size() + (o - after_open) * (code.markers - 1) > limits_.max_units) {
      ReportGrows(row, e);
      return false;
    }
    text_.CopyTo(after_open, o, content);
  }
  Units closing;
  for (size_t i = 1; i <= code.markers; ++i) {
    if (i > 1) closing.Append(content);
    closing.Push(u'<', block);
    closing.Push(u'%', block);
    AppendPiece(code.pieces[i], block, r, anchor, closing);
    closing.Push(u'%', block);
    closing.Push(u'>', block);
  }
  AppendPiece(code.pieces[0], block, r, anchor, opening);
  opening.Push(u'%', block);
  opening.Push(u'>', block);
  if (text_.size() + closing.size() + opening.size() > limits_.max_units) {
    ReportGrows(row, e);
    return false;
  }
  Splice(o, o + L + 8, closing);
  Splice(e, after_open, opening);
  return true;
}

std::string Tracer::TagAt(size_t e, TextView name) const {
  const Inserted* record = InsertedOf(text_.OriginAt(e));
  std::string tag = "opening tag of " + Quoted(name);
  if (record != nullptr) {
    const size_t r = static_cast<size_t>(record->row);
    tag += " that the code of row " + std::to_string(r + 1) + " (" + Quoted(*rows_[r].name) +
           ") brings in";
  }
  return tag;
}

void Tracer::Report(std::string_view kind, size_t offset, size_t row, const std::string& message) {
  Finding f = MakeFinding(kind, offset, message);
  f.tag = rows_[row].name;
  f.row = static_cast<int64_t>(row) + 1;
  f.row_name = rows_[row].name;
  result_.findings.push_back(std::move(f));
}

void Tracer::ReportUnterminated(size_t row, size_t e) {
  const NameState& name = names_[static_cast<size_t>(row_name_[row])];
  Report("unterminated-tag", AnchorOf(text_.OriginAt(e)), row,
         TagAt(e, name.name) + " has no `-->` left after it when row " + std::to_string(row + 1) +
             " expands it: generating the page fails");
}

void Tracer::ReportNoClosingAfter(size_t row, size_t e, size_t f) {
  const NameState& name = names_[static_cast<size_t>(row_name_[row])];
  const std::string fails =
      "generating the page fails (5 " + ToUtf8(StandardDescription(kInvalidArgument)) + ")";
  const size_t c = text_.Find(name.closing_form, 0);
  const size_t place = AnchorOf(text_.OriginAt(e));
  if (c != npos && c >= e && c < f) {
    const size_t L = name.name.size();
    Report("attributes-run-on", place, row,
           "the attribute text of " + Quoted(Concat({kCommentStart, name.name})) + " runs from " +
               index_.Where(AnchorOf(text_.OriginAt(e + L + 5))) + " to " +
               index_.Where(AnchorOf(text_.OriginAt(f - 1))) + ", past its closing tag " +
               Quoted(name.closing_form) + " at " + index_.Where(AnchorOf(text_.OriginAt(c))) +
               ", up to that tag's `-->`: the opening tag has no `-->` of its own, so no closing "
               "tag is left after it and " +
               fails);
    return;
  }
  Report("closing-tag-before", place, row,
         TagAt(e, name.name) + " has no closing tag after it, while " + Quoted(name.closing_form) +
             (c != npos ? " at " + index_.Where(AnchorOf(text_.OriginAt(c))) : std::string()) +
             " stands before it: an opening tag pairs only with a closing tag after its `-->`, "
             "so " +
             fails);
}

void Tracer::ReportAttributes(size_t row, size_t e, size_t f) {
  const NameState& name = names_[static_cast<size_t>(row_name_[row])];
  const size_t L = name.name.size();
  const size_t begin = e + L + 5;
  const int32_t origin = text_.OriginAt(e);
  const Span span = Measure(begin, f, origin);
  const size_t markup = text_.Find(kCommentStart, begin, f);
  if (markup != npos || span.other_source || span.placeholder) {
    Report("attributes-run-on", AnchorOf(origin), row,
           "the attribute text of " + Quoted(Concat({kCommentStart, name.name})) + " runs from " +
               index_.Where(AnchorOf(text_.OriginAt(begin))) + " to " +
               index_.Where(AnchorOf(text_.OriginAt(f - 1))) +
               " across other markup, up to the first `-->` after it: what lies between becomes "
               "attribute lines");
    return;
  }
  Text attributes;
  for (size_t i = begin; i < f; ++i) attributes.push_back(text_.At(i));
  std::optional<std::string> problem = AttributeTextProblem(name.name, attributes);
  if (!problem) return;
  if (origin >= 0) {
    Report("bad-attributes", static_cast<size_t>(text_.OriginAt(begin < f ? begin : e)), row,
           *problem);
  } else {
    Report("bad-attributes", AnchorOf(origin), row, TagAt(e, name.name) + ": " + *problem);
  }
}

const std::vector<size_t>& Tracer::NearMisses(NameState& name) {
  if (name.near_misses) return *name.near_misses;
  // "<!--", blanks, "/", blanks, the name in any letter case, then anything
  // but a word character; the closing tag itself excepted.
  std::vector<size_t> found;
  const TextView t = templet_;
  for (size_t p = Find(t, kCommentStart); p != npos; p = Find(t, kCommentStart, p + 1)) {
    size_t i = p + kCommentStart.size();
    while (i < t.size() && IsBlankChar(t[i])) ++i;
    if (i >= t.size() || t[i] != u'/') continue;
    ++i;
    while (i < t.size() && IsBlankChar(t[i])) ++i;
    if (t.size() - i < name.name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < name.name.size() && same; ++k)
      same = FoldAscii(t[i + k]) == FoldAscii(name.name[k]);
    const size_t after = i + name.name.size();
    if (!same || (after < t.size() && IsAsciiWordChar(t[after]) && t[after] != u'-')) continue;
    if (t.substr(p, name.closing_form.size()) == name.closing_form) continue;
    found.push_back(p);
  }
  name.near_misses = std::move(found);
  return *name.near_misses;
}

void Tracer::ReportUnclosed(size_t row, size_t e) {
  NameState& name = names_[static_cast<size_t>(row_name_[row])];
  const size_t place = AnchorOf(text_.OriginAt(e));
  std::string message = TagAt(e, name.name) + " has no closing tag " + Quoted(name.closing_form);
  if (Find(templet_, name.closing_form) != npos) message += " left after it";
  message += ", so the `[data]` of the code of row " + std::to_string(row + 1) +
             " goes into the page as it is";
  const std::vector<size_t>& misses = NearMisses(name);
  if (!misses.empty()) {
    auto it = std::lower_bound(misses.begin(), misses.end(), place);
    const size_t at = it != misses.end() ? *it : misses.front();
    size_t end = Find(templet_, kCommentEnd, at + kCommentStart.size());
    end = end == npos ? templet_.size() : end + kCommentEnd.size();
    size_t line_end = at;
    while (line_end < templet_.size() && templet_[line_end] != u'\n' && templet_[line_end] != u'\r')
      ++line_end;
    message += "; " + Quoted(templet_.substr(at, std::min(end, line_end) - at), 30) + " at " +
               index_.Where(at) + " looks like one, but a closing tag is exactly " +
               Quoted(name.closing_form);
  }
  Report("unclosed-tag", place, row, message);
}

void Tracer::ReportTooLong(size_t row, size_t e, int64_t length) {
  const NameState& name = names_[static_cast<size_t>(row_name_[row])];
  const CodeShape& code = Shape(row);
  std::string message = "expanding this " + TagAt(e, name.name) + " makes the page " +
                        std::to_string(length) + " characters long, past the limit of " +
                        std::to_string(limits_.max_length) + ": generating the page fails (14 " +
                        ToUtf8(StandardDescription(kOutOfStringSpace)) + ")";
  if (code.markers > 1) {
    message += "; the code of row " + std::to_string(row + 1) + " holds `[data]` " +
               std::to_string(code.markers) +
               " times, so the content between the tags is copied that often each pass";
  }
  Report("page-too-long", AnchorOf(text_.OriginAt(e)), row, message);
}

void Tracer::ReportGrows(size_t row, size_t e) {
  const NameState& name = names_[static_cast<size_t>(row_name_[row])];
  const CodeShape& code = Shape(row);
  std::string message = "expanding this " + TagAt(e, name.name) +
                        " makes the tag markup of the page grow past " +
                        std::to_string(limits_.max_units) + " characters";
  if (code.markers > 1) {
    message += " (the code of row " + std::to_string(row + 1) + " holds `[data]` " +
               std::to_string(code.markers) + " times, so the content is copied that often)";
  }
  message += ": the page comes out huge or fails, and check follows it no further";
  Report("markup-grows", AnchorOf(text_.OriginAt(e)), row, message);
}

void Tracer::ReportLeftovers() {
  bool any = false;
  for (const NameState& name : names_) any = any || name.with_attributes + name.plain > 0;
  if (!any) return;
  // The last row of each name: an opening tag left over came in after it.
  std::vector<size_t> last_row(names_.size(), 0);
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (row_name_[r] >= 0) last_row[static_cast<size_t>(row_name_[r])] = r;
  }
  std::set<std::tuple<size_t, int32_t, int32_t>> told;
  for (size_t p = text_.Find(kCommentStart, 0); p != npos; p = text_.Find(kCommentStart, p + 1)) {
    const Tokens t = TokensAt(p);
    const int32_t id = t.with_attributes >= 0 ? t.with_attributes : t.plain;
    if (id < 0) continue;
    const int32_t origin = text_.OriginAt(p);
    const Inserted* record = InsertedOf(origin);
    const int32_t by = record != nullptr ? record->row : -1;
    if (!told.insert({AnchorOf(origin), by, id}).second) continue;
    const size_t r = last_row[static_cast<size_t>(id)];
    Report("tag-left", AnchorOf(origin), r,
           TagAt(p, names_[static_cast<size_t>(id)].name) + " stays in the page as it is: row " +
               std::to_string(r + 1) +
               " expands that tag before it comes in, and rows are applied in order");
  }
}

}  // namespace

bool IsPlainTagName(TextView name) {
  if (name.empty() || name.front() == u'/') return false;
  for (char16_t c : name) {
    switch (c) {
      case u' ':
      case u'\t':
      case u'\r':
      case u'\n':
      case u'\f':
      case u'\v':
      case u'<':
      case u'>':
      case u'%':
      case u'"':
      case u'&':
      case u'=':
        return false;
      default:
        break;
    }
  }
  return true;
}

TraceResult TraceExpansion(TextView text, const std::vector<TagRow>& rows,
                           const TraceLimits& limits) {
  return Tracer(text, rows, limits).Run();
}

}  // namespace vz::cli
