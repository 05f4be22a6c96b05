#include "generate/origin_recorder.h"

#include <algorithm>
#include <utility>

#include "platform/memory.h"

namespace vz {
namespace {

// Room for `count` elements, a large one in huge pages as it is written.
template <typename T>
void Reserve(std::vector<T>& v, size_t count) {
  v.reserve(count);
  PrepareLargeBuffer(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(T));
}

constexpr size_t kDelimiter = 2;     // "<%" or "%>"
constexpr size_t kLineQuoteEnd = 3;  // the quote and CR LF that end an assignment line
constexpr size_t kValueQuote = 1;    // the quote after "="

// The origin of the character `n` places after one of `origin`.
Origin Advanced(Origin origin, size_t n) {
  if (origin.kind != Origin::Kind::kGenerated) origin.offset += n;
  return origin;
}

}  // namespace

OriginRecorder::OriginRecorder(size_t template_size) {
  // Room for the runs a page of many tags comes to, so that it is seldom
  // grown: about one for every eight characters of the template.
  Reserve(pieces_, 256 + std::min<size_t>(template_size / 8, size_t{1} << 20));
  pieces_.resize(pieces_.capacity());
  split_ = 0;
  gap_end_ = pieces_.size();
  if (template_size > 0) {
    pieces_[--gap_end_] = Piece{template_size, Origin{}};
  }
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
  Insert(Piece{kDelimiter + attribute_lines_, generated});
  Insert(Piece{code.size(), CodeAt(code)});
  Insert(Piece{kDelimiter, generated});
}

void OriginRecorder::ClosingTag(size_t from, size_t to, size_t content_from,
                                const std::vector<TextView>& pieces) {
  content_.clear();
  if (pieces.size() > 2) Collect(content_from, from, content_);
  MoveTo(from);
  Remove(to - from);
  const Origin generated = Generated();
  Insert(Piece{kDelimiter, generated});
  Insert(Piece{pieces[1].size(), CodeAt(pieces[1])});
  for (size_t i = 2; i < pieces.size(); ++i) {
    Insert(Piece{kDelimiter, generated});
    for (const Piece& piece : content_) Insert(piece);
    Insert(Piece{kDelimiter, generated});
    Insert(Piece{pieces[i].size(), CodeAt(pieces[i])});
  }
  Insert(Piece{kDelimiter, generated});
}

PageOrigins OriginRecorder::Finish() {
  PageOrigins origins = std::move(origins_);
  origins_ = PageOrigins();
  size_t start = 0;
  Reserve(origins.runs, split_ + (pieces_.size() - gap_end_));
  auto add = [&](const Piece& piece) {
    if (!origins.runs.empty()) {
      OriginRun& last = origins.runs.back();
      if (Continues(last.origin, last.length, piece.origin)) {
        last.length += piece.length;
        start += piece.length;
        return;
      }
    }
    origins.runs.push_back(OriginRun{start, piece.length, piece.origin});
    start += piece.length;
  };
  for (size_t i = 0; i < split_; ++i) add(pieces_[i]);
  for (size_t i = gap_end_; i < pieces_.size(); ++i) add(pieces_[i]);
  pieces_.clear();
  split_ = gap_end_ = split_pos_ = 0;
  return origins;
}

Origin OriginRecorder::OriginAt(size_t at) {
  MoveTo(at);
  return pieces_[gap_end_].origin;
}

void OriginRecorder::Collect(size_t from, size_t to, std::vector<Piece>& out) {
  if (from >= to) return;
  MoveTo(from);
  for (size_t i = gap_end_, at = from; at < to; ++i) {
    const size_t n = std::min(pieces_[i].length, to - at);
    Append(out, n, pieces_[i].origin);
    at += n;
  }
}

void OriginRecorder::MoveTo(size_t pos) {
  while (split_pos_ > pos) {
    const Piece piece = pieces_[--split_];
    split_pos_ -= piece.length;
    pieces_[--gap_end_] = piece;
  }
  while (split_pos_ < pos) {
    const size_t take = pos - split_pos_;
    if (pieces_[gap_end_].length <= take) {
      split_pos_ += pieces_[gap_end_].length;
      pieces_[split_++] = pieces_[gap_end_++];
      continue;
    }
    // `pos` falls inside the next piece: it is cut there.
    MakeRoom();
    Piece& next = pieces_[gap_end_];
    pieces_[split_++] = Piece{take, next.origin};
    next.length -= take;
    next.origin = Advanced(next.origin, take);
    split_pos_ += take;
  }
}

void OriginRecorder::Remove(size_t length) {
  while (length > 0) {
    Piece& next = pieces_[gap_end_];
    if (next.length <= length) {
      length -= next.length;
      ++gap_end_;
    } else {
      next.length -= length;
      next.origin = Advanced(next.origin, length);
      length = 0;
    }
  }
}

void OriginRecorder::Grow() {
  const size_t after = pieces_.size() - gap_end_;
  pieces_.resize(2 * pieces_.size() + 16);
  std::move_backward(pieces_.begin() + static_cast<ptrdiff_t>(gap_end_),
                     pieces_.begin() + static_cast<ptrdiff_t>(gap_end_ + after), pieces_.end());
  gap_end_ = pieces_.size() - after;
}

}  // namespace vz
