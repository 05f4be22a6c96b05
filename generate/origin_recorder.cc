#include "generate/origin_recorder.h"

#include <algorithm>
#include <utility>

#include "platform/memory.h"

namespace vz {
namespace {

constexpr size_t kDelimiter = 2;     // "<%" or "%>"
constexpr size_t kLineQuoteEnd = 3;  // the quote and CR LF that end an assignment line
constexpr size_t kValueQuote = 1;    // the quote after "="

// The origin of the character `n` places after one of `origin`.
Origin Advanced(Origin origin, size_t n) {
  if (origin.kind != Origin::Kind::kGenerated) origin.offset += n;
  return origin;
}

// Room for `count` elements, a large one in huge pages as it is written.
template <typename T>
void Reserve(std::vector<T>& v, size_t count) {
  v.reserve(count);
  PrepareLargeBuffer(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(T));
}

}  // namespace

OriginRecorder::OriginRecorder(size_t template_size) {
  // Room for the runs a page of many tags comes to, so that the list is
  // seldom grown: about one for every eight characters of the template.
  // Room never written costs nothing. The runs after the split are few
  // while expansions go forward; a row's expansions that start again at
  // the top move them there, and the list grows then.
  const size_t room = 256 + std::min<size_t>(template_size / 8, size_t{1} << 20);
  Reserve(before_, room);
  origins_.occurrences.reserve(room / 8);
  if (template_size > 0) after_.push_back(Make(template_size, Origin{}));
}

void OriginRecorder::StartRow(int32_t row, TextView name, TextView code) {
  row_ = row;
  name_ = name;
  code_ = code;
  row_recorded_ = false;
}

Origin OriginRecorder::Generated() const {
  Origin origin;
  origin.kind = Origin::Kind::kGenerated;
  origin.occurrence = occurrence_;
  return origin;
}

Origin OriginRecorder::CodeAt(TextView piece) const {
  Origin origin;
  origin.kind = Origin::Kind::kCode;
  origin.row = row_;
  origin.occurrence = occurrence_;
  origin.offset = static_cast<size_t>(piece.data() - code_.data());
  return origin;
}

void OriginRecorder::Occur(size_t at, TextView tag, size_t attributes_at, TextView attributes) {
  if (!row_recorded_) {
    origins_.rows.push_back(RowApplied{row_, Text(name_), Text(code_)});
    row_recorded_ = true;
  }
  Occurrence occurrence;
  occurrence.row = row_;
  occurrence.at = OriginAt(at);
  occurrence.tag = Text(tag);
  origins_.occurrences.push_back(std::move(occurrence));
  occurrence_ = static_cast<int32_t>(origins_.occurrences.size() - 1);

  // The assignment lines are the expansion's own writing: "&" becomes a
  // quote and CR LF, "=" gains a quote, and a quote and CR LF end them.
  attribute_lines_ = 0;
  if (attributes_at == TextView::npos) return;
  attribute_lines_ = attributes.size() + kLineQuoteEnd;
  for (char16_t c : attributes) {
    if (c == u'&') attribute_lines_ += kLineQuoteEnd - 1;
    if (c == u'=') attribute_lines_ += kValueQuote;
  }
}

void OriginRecorder::Block(size_t from, size_t to, TextView code) {
  MoveTo(from);
  Remove(to - from);
  const Origin generated = Generated();
  Insert(kDelimiter + attribute_lines_, generated);
  Insert(code.size(), CodeAt(code));
  Insert(kDelimiter, generated);
}

void OriginRecorder::ClosingTag(size_t from, size_t to, size_t content_from,
                                const std::vector<TextView>& pieces) {
  content_.clear();
  if (pieces.size() > 2) Collect(content_from, from, content_);
  MoveTo(from);
  Remove(to - from);
  const Origin generated = Generated();
  Insert(kDelimiter, generated);
  Insert(pieces[1].size(), CodeAt(pieces[1]));
  for (size_t i = 2; i < pieces.size(); ++i) {
    Insert(kDelimiter, generated);
    for (const Piece& piece : content_) Insert(piece.length, piece.origin);
    Insert(kDelimiter, generated);
    Insert(pieces[i].size(), CodeAt(pieces[i]));
  }
  Insert(kDelimiter, generated);
}

PageOrigins OriginRecorder::Finish() {
  PageOrigins origins = std::move(origins_);
  origins_ = PageOrigins();
  // The pieces after the split join those before it, and the list becomes
  // the runs where it lies: neighbours that follow on from each other are
  // merged and each run learns its start.
  std::vector<Piece> runs = std::move(before_);
  runs.reserve(runs.size() + after_.size());
  runs.insert(runs.end(), after_.rbegin(), after_.rend());
  size_t kept = 0;
  size_t start = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    const Piece piece = runs[i];
    start += piece.length;
    if (kept > 0) {
      Piece& last = runs[kept - 1];
      if (Continues(last.origin, last.length, piece.origin)) {
        last.length += piece.length;
        continue;
      }
    }
    runs[kept++] = OriginRun{start - piece.length, piece.length, piece.origin};
  }
  runs.resize(kept);
  origins.runs = std::move(runs);
  before_ = std::vector<Piece>();
  after_ = std::vector<Piece>();
  split_pos_ = 0;
  return origins;
}

Origin OriginRecorder::OriginAt(size_t at) {
  MoveTo(at);
  return after_.back().origin;
}

void OriginRecorder::Collect(size_t from, size_t to, std::vector<Piece>& out) {
  if (from >= to) return;
  MoveTo(from);
  for (size_t i = after_.size(), at = from; at < to;) {
    const Piece& piece = after_[--i];
    const size_t n = std::min(piece.length, to - at);
    Append(out, n, piece.origin);
    at += n;
  }
}

void OriginRecorder::MoveTo(size_t pos) {
  while (split_pos_ > pos) {
    const Piece piece = before_.back();
    before_.pop_back();
    split_pos_ -= piece.length;
    after_.push_back(piece);
  }
  while (split_pos_ < pos) {
    const size_t take = pos - split_pos_;
    Piece& next = after_.back();
    if (next.length <= take) {
      split_pos_ += next.length;
      before_.push_back(next);
      after_.pop_back();
      continue;
    }
    // `pos` falls inside the next piece: it is cut there.
    const Piece head = Make(take, next.origin);
    next.length -= take;
    next.origin = Advanced(next.origin, take);
    before_.push_back(head);
    split_pos_ += take;
  }
}

void OriginRecorder::Remove(size_t length) {
  while (length > 0) {
    Piece& next = after_.back();
    if (next.length <= length) {
      length -= next.length;
      after_.pop_back();
    } else {
      next.length -= length;
      next.origin = Advanced(next.origin, length);
      length = 0;
    }
  }
}

}  // namespace vz
