#include "generate/expand_tag.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/failure.h"

// How the passes are made fast without changing what they produce.
//
// A pass replaces one stretch of the text (the opening tag, and the closing tag
// with what lies between when there is one) and the next pass searches the
// whole new text from the start. The text before the edited stretch is the
// same as before, so an occurrence of a pattern of length m can only be new
// where it starts in [s - m + 1, s + inserted). For each pattern we keep the
// list of stretches of start positions not yet known to be free of it, map the
// list through every edit, and search only those stretches. Each answer to
// "where is the first X?" then costs about the distance the search really has
// to cover, instead of the whole text.
//
// The text lives in a gap buffer with the gap at the last edit: edits mostly
// move forward through the text, so moving the gap costs little.

namespace vz {
namespace {

constexpr size_t npos = TextView::npos;

// A text with a movable hole: [0, gap_begin_) and [gap_end_, capacity) of
// the storage hold the characters, in that order. The storage is the text the
// caller handed over, so that the result can go back in it without a copy.
class GapText {
 public:
  GapText(Text storage, size_t max_capacity)
      : storage_(std::move(storage)), max_capacity_(max_capacity) {
    gap_begin_ = storage_.size();
    unchanged_prefix_ = unchanged_suffix_ = gap_begin_;
    // A text that comes back from an earlier expansion has room to spare
    // already; it is reallocated only when it has almost none.
    size_t capacity = storage_.capacity();
    if (capacity < gap_begin_ + gap_begin_ / 16 + 256) {
      capacity = gap_begin_ + gap_begin_ / 4 + 256;
      ReserveText(storage_, capacity);  // large pages for a large text
    }
    storage_.resize(capacity);
    gap_end_ = storage_.size();
  }

  // How many characters at the start and at the end no Replace has touched.
  size_t unchanged_prefix() const { return unchanged_prefix_; }
  size_t unchanged_suffix() const { return unchanged_suffix_; }

  size_t size() const { return gap_begin_ + (storage_.size() - gap_end_); }

  // Appends the characters [from, to) to `out`.
  void CopyTo(size_t from, size_t to, Text& out) const {
    if (from < gap_begin_) {
      size_t end = std::min(to, gap_begin_);
      out.append(storage_.data() + from, end - from);
      from = end;
    }
    if (from < to) out.append(Right() + (from - gap_begin_), to - from);
  }

  // The first start q in [lo, hi) where `needle` occurs, or npos.
  // REQUIRES: needle is not empty.
  size_t Find(TextView needle, size_t lo, size_t hi) {
    const size_t m = needle.size();
    const size_t n = size();
    if (n < m) return npos;
    hi = std::min(hi, n - m + 1);
    if (lo >= hi) return npos;
    // Occurrences wholly before the gap.
    if (gap_begin_ >= m && lo <= gap_begin_ - m) {
      size_t end = std::min(gap_begin_, hi + m - 1);
      size_t q = vz::Find(TextView(storage_.data(), end), needle, lo);
      if (q != npos) return q;
    }
    // Occurrences that straddle the gap.
    size_t first = std::max(lo, gap_begin_ >= m - 1 ? gap_begin_ - (m - 1) : 0);
    size_t last = std::min(hi, gap_begin_);
    if (first < last && gap_begin_ < n) {
      window_.clear();
      CopyTo(first, std::min(n, last + m - 1), window_);
      size_t q = vz::Find(window_, needle, 0);
      if (q != npos) return first + q;
    }
    // Occurrences wholly after the gap.
    size_t from = std::max(lo, gap_begin_);
    if (from < hi) {
      size_t end = std::min(n, hi + m - 1) - gap_begin_;
      size_t q = vz::Find(TextView(Right(), end), needle, from - gap_begin_);
      if (q != npos) return gap_begin_ + q;
    }
    return npos;
  }

  // Replaces the characters [from, to) by the parts one after another, an
  // empty part standing for the characters [copy_from, from) of this text.
  // Returns how many characters were written. The copies come straight from
  // the text, so a long stretch copied many times is never held twice.
  // REQUIRES: copy_from <= from; no part points into this buffer.
  size_t ReplaceWithCopies(size_t from, size_t to, const std::vector<TextView>& parts,
                           size_t copy_from) {
    const size_t copy_length = from - copy_from;
    size_t total = 0;
    for (TextView part : parts) total += part.empty() ? copy_length : part.size();
    RemoveForInsert(from, to, total);
    // [copy_from, from) lies before the gap, which only ever fills after it.
    char16_t* d = storage_.data();
    for (TextView part : parts) {
      if (part.empty()) {
        if (copy_length != 0) std::memcpy(d + gap_begin_, d + copy_from, copy_length * 2);
        gap_begin_ += copy_length;
      } else {
        std::memcpy(d + gap_begin_, part.data(), part.size() * 2);
        gap_begin_ += part.size();
      }
    }
    return total;
  }

  // Replaces the characters [from, to) by `insert`.
  // REQUIRES: insert does not point into this buffer.
  void Replace(size_t from, size_t to, TextView insert) {
    RemoveForInsert(from, to, insert.size());
    if (!insert.empty())
      std::memcpy(storage_.data() + gap_begin_, insert.data(), insert.size() * 2);
    gap_begin_ += insert.size();
  }

  Text Take() {
    const size_t n = size();
    MoveGap(n);
    storage_.resize(n);
    return std::move(storage_);
  }

 private:
  const char16_t* Right() const { return storage_.data() + gap_end_; }

  // Drops the characters [from, to) and leaves the gap at `from` with room
  // for `inserted` characters.
  void RemoveForInsert(size_t from, size_t to, size_t inserted) {
    unchanged_prefix_ = std::min(unchanged_prefix_, from);
    unchanged_suffix_ = std::min(unchanged_suffix_, size() - to);
    MoveGap(from);
    gap_end_ += to - from;
    if (gap_end_ - gap_begin_ < inserted) Grow(inserted);
  }

  void MoveGap(size_t to) {
    char16_t* d = storage_.data();
    if (to < gap_begin_) {
      size_t k = gap_begin_ - to;
      std::memmove(d + gap_end_ - k, d + to, k * 2);
      gap_begin_ = to;
      gap_end_ -= k;
    } else if (to > gap_begin_) {
      size_t k = to - gap_begin_;
      std::memmove(d + gap_begin_, d + gap_end_, k * 2);
      gap_begin_ = to;
      gap_end_ += k;
    }
  }

  void Grow(size_t need) {
    const size_t tail = storage_.size() - gap_end_;
    const size_t capacity = std::max(size() + need, std::min(storage_.size() * 2, max_capacity_));
    ReserveText(storage_, capacity);
    storage_.resize(capacity);
    char16_t* d = storage_.data();
    std::memmove(d + capacity - tail, d + gap_end_, tail * 2);
    gap_end_ = capacity - tail;
  }

  Text storage_;
  size_t max_capacity_;
  size_t unchanged_prefix_ = 0;
  size_t unchanged_suffix_ = 0;
  size_t gap_begin_ = 0;
  size_t gap_end_ = 0;
  Text window_;
};

// The start positions of one pattern that are not yet known to be free of it:
// a short sorted list of disjoint stretches [lo, hi). Everything outside the
// list is known to hold no occurrence.
class Unknown {
 public:
  // `first` is the first occurrence in a text of `text_size` characters, or
  // npos when there is none.
  Unknown(TextView pattern, size_t first, size_t text_size) : pattern_(pattern) {
    if (first != npos) stretches_.push_back({first, text_size});
  }

  // From every start position of the pattern, ascending.
  Unknown(TextView pattern, const std::vector<size_t>& starts) : pattern_(pattern) {
    for (size_t start : starts) stretches_.push_back({start, start + 1});
    Compact();
  }

  // The first occurrence at or after `from`, or npos.
  size_t First(GapText& text, size_t from) {
    for (size_t i = 0; i < stretches_.size();) {
      auto [lo, hi] = stretches_[i];
      if (hi <= from) {
        ++i;
        continue;
      }
      size_t start = std::max(lo, from);
      size_t q = text.Find(pattern_, start, hi);
      if (q == npos) {
        if (lo < start) {
          stretches_[i].second = start;
          ++i;
        } else {
          stretches_.erase(stretches_.begin() + static_cast<ptrdiff_t>(i));
        }
        continue;
      }
      if (lo < start && start < q) {
        stretches_[i].second = start;
        stretches_.insert(stretches_.begin() + static_cast<ptrdiff_t>(i) + 1, {q, hi});
        Compact();
      } else {
        stretches_[i].first = lo < start ? lo : q;
      }
      return q;
    }
    return npos;
  }

  // Maps the list through the replacement of [from, to) by `inserted`
  // characters.
  void Edit(size_t from, size_t to, size_t inserted) {
    const size_t m = pattern_.size();
    size_t new_lo = from >= m - 1 ? from - (m - 1) : 0;
    size_t new_hi = from + inserted;
    std::vector<std::pair<size_t, size_t>>& out = scratch_;
    out.clear();
    bool placed = false;
    auto place = [&] {
      if (!out.empty() && out.back().second >= new_lo) {
        out.back().second = std::max(out.back().second, new_hi);
      } else {
        out.push_back({new_lo, new_hi});
      }
      placed = true;
    };
    for (auto [lo, hi] : stretches_) {
      if (hi <= new_lo) {
        out.push_back({lo, hi});
      } else if (lo >= to) {
        if (!placed) place();
        size_t shifted_lo = lo - to + from + inserted;
        size_t shifted_hi = hi - to + from + inserted;
        if (out.back().second >= shifted_lo) {
          out.back().second = std::max(out.back().second, shifted_hi);
        } else {
          out.push_back({shifted_lo, shifted_hi});
        }
      } else {
        new_lo = std::min(new_lo, lo);
        if (hi > to) new_hi = std::max(new_hi, hi - to + from + inserted);
      }
    }
    if (!placed) place();
    std::swap(stretches_, out);
    Compact();
  }

 private:
  // Keeps the list short by joining the stretches closest to each other;
  // that only forgets some knowledge. Linear in the length of the list, which
  // is long once, when it is made from every place of a tag in a large page:
  // the kMaxStretches - 1 widest gaps stay, the others are closed (of equal
  // gaps, the earlier ones close first).
  void Compact() {
    const size_t n = stretches_.size();
    if (n <= kMaxStretches) return;
    gaps_.clear();
    for (size_t i = 0; i + 1 < n; ++i)
      gaps_.push_back({stretches_[i + 1].first - stretches_[i].second, i});
    auto wider = [](const std::pair<size_t, size_t>& a, const std::pair<size_t, size_t>& b) {
      return a.first != b.first ? a.first > b.first : a.second > b.second;
    };
    std::nth_element(gaps_.begin(), gaps_.begin() + (kMaxStretches - 2), gaps_.end(), wider);
    keep_.assign(n, false);
    for (size_t k = 0; k + 1 < kMaxStretches; ++k) keep_[gaps_[k].second] = true;
    size_t out = 0;
    for (size_t i = 1; i < n; ++i) {
      if (keep_[i - 1]) {
        stretches_[++out] = stretches_[i];
      } else {
        stretches_[out].second = stretches_[i].second;
      }
    }
    stretches_.resize(out + 1);
  }

  static constexpr size_t kMaxStretches = 8;
  TextView pattern_;
  std::vector<std::pair<size_t, size_t>> stretches_;
  std::vector<std::pair<size_t, size_t>> scratch_;
  std::vector<std::pair<size_t, size_t>> gaps_;  // (width, index) for Compact
  std::vector<bool> keep_;
};

Text InvalidArgument(std::initializer_list<TextView> detail) {
  Text description = StandardDescription(kInvalidArgument);
  description += u": ";
  for (TextView piece : detail) description += piece;
  return description;
}

void AppendAttributeLines(TextView attributes, Text& out) {
  for (char16_t c : attributes) {
    if (c == u'&') {
      out += u"\"\r\n";
    } else if (c == u'=') {
      out += u"=\"";
    } else {
      out += c;
    }
  }
  out += u"\"\r\n";
}

int64_t AttributeLinesLength(TextView attributes) {
  int64_t length = static_cast<int64_t>(attributes.size()) + 3;
  for (char16_t c : attributes) length += c == u'&' ? 2 : c == u'=' ? 1 : 0;
  return length;
}

}  // namespace

Text AttributesToCode(Text attributes) {
  CheckTextLength(AttributeLinesLength(attributes));
  Text lines;
  lines.reserve(static_cast<size_t>(AttributeLinesLength(attributes)));
  AppendAttributeLines(attributes, lines);
  return lines;
}

Text ExpandTag(Text text, Text tag_name, Text tag_code, const ExpandLimits& limits) {
  return ExpandTag(std::move(text), std::move(tag_name), std::move(tag_code), limits, nullptr,
                   nullptr);
}

Text ExpandTag(Text text, Text tag_name, Text tag_code, const ExpandLimits& limits,
               const TagSightings* sightings, TextChange* change) {
  const Text with_attributes = Concat({u"<!--", tag_name, u" "});
  const Text plain = Concat({u"<!--", tag_name, u"-->"});
  const Text closing = Concat({u"<!--/", tag_name, u"-->"});
  constexpr TextView kCommentEnd = u"-->";
  constexpr TextView kData = u"[data]";
  constexpr TextView kCodeOpen = u"<%";
  constexpr TextView kCodeClose = u"%>";

  if (change != nullptr) *change = {text.size(), text.size()};
  auto first_of = [](const std::vector<size_t>& starts) {
    return starts.empty() ? npos : starts.front();
  };
  const size_t first_with_attributes =
      sightings != nullptr ? first_of(sightings->with_attributes) : vz::Find(text, with_attributes);
  const size_t first_plain =
      sightings != nullptr ? first_of(sightings->plain) : vz::Find(text, plain);
  if (first_with_attributes == npos && first_plain == npos) return text;
  if (vz::Find(tag_code, with_attributes) != npos || vz::Find(tag_code, plain) != npos) {
    Raise(kInvalidArgument,
          InvalidArgument({u"the code of tag <!--", tag_name, u" holds its own opening tag"}));
  }

  // The code cut at its "[data]" markers, left to right without overlap.
  std::vector<TextView> pieces;
  {
    TextView code = tag_code;
    size_t done = 0;
    for (size_t at = vz::Find(code, kData); at != npos; at = vz::Find(code, kData, done)) {
      pieces.push_back(code.substr(done, at - done));
      done = at + kData.size();
    }
    pieces.push_back(code.substr(done));
  }
  const size_t markers = pieces.size() - 1;
  const int64_t max_length = std::clamp<int64_t>(limits.max_length, 0, kMaxTextLength);

  const size_t name_length = tag_name.size();
  const size_t first_closing =
      sightings != nullptr ? first_of(sightings->closing) : vz::Find(text, closing);
  GapText page(std::move(text), static_cast<size_t>(max_length) + 1024);
  Unknown attribute_form = sightings != nullptr
                               ? Unknown(with_attributes, sightings->with_attributes)
                               : Unknown(with_attributes, first_with_attributes, page.size());
  Unknown plain_form = sightings != nullptr ? Unknown(plain, sightings->plain)
                                            : Unknown(plain, first_plain, page.size());
  Unknown closing_tags = sightings != nullptr ? Unknown(closing, sightings->closing)
                                              : Unknown(closing, first_closing, page.size());

  Text attribute_lines;
  Text block;
  std::vector<TextView> closing_parts;
  for (;;) {
    size_t e = attribute_form.First(page, 0);
    if (e == npos) e = plain_form.First(page, 0);
    if (e == npos) break;
    const size_t n = page.size();

    const size_t f = page.Find(kCommentEnd, e, n);
    if (f == npos) {
      Raise(kInvalidArgument,
            InvalidArgument({u"tag <!--", tag_name, u" at ",
                             DecimalText(static_cast<int64_t>(e) + 1), u" has no -->"}));
    }
    const size_t after_open = f + kCommentEnd.size();

    attribute_lines.clear();
    if (f > e + name_length + 4) {
      Text attributes;
      page.CopyTo(e + name_length + 5, f, attributes);
      CheckTextLength(AttributeLinesLength(attributes));
      AppendAttributeLines(attributes, attribute_lines);
    }
    const int64_t lines_length = static_cast<int64_t>(attribute_lines.size());
    const int64_t code_length = static_cast<int64_t>(tag_code.size());

    size_t o = closing_tags.First(page, 0);
    if (o == npos) {
      int64_t length = static_cast<int64_t>(n) - static_cast<int64_t>(after_open - e) + 4 +
                       lines_length + code_length;
      if (length > max_length) Raise(kOutOfStringSpace);
      block.clear();
      block += u"<%";
      block += attribute_lines;
      block += tag_code;
      block += u"%>";
      page.Replace(e, after_open, block);
      attribute_form.Edit(e, after_open, block.size());
      plain_form.Edit(e, after_open, block.size());
      closing_tags.Edit(e, after_open, block.size());
      continue;
    }
    if (o < after_open) o = closing_tags.First(page, after_open);
    if (o == npos) Raise(kInvalidArgument);

    const size_t rest = o + closing.size();
    const int64_t content_length = static_cast<int64_t>(o - after_open);
    const int64_t length = static_cast<int64_t>(n) - static_cast<int64_t>(rest - e) + 4 +
                           lines_length + code_length - 6 * static_cast<int64_t>(markers) +
                           static_cast<int64_t>(markers) * (content_length + 4);
    if (length > max_length) Raise(kOutOfStringSpace);

    if (markers == 0) {
      block.clear();
      block += u"<%";
      block += attribute_lines;
      block += tag_code;
      block += u"%>";
      page.Replace(e, rest, block);
      attribute_form.Edit(e, rest, block.size());
      plain_form.Edit(e, rest, block.size());
      closing_tags.Edit(e, rest, block.size());
      continue;
    }

    // The content stays where it is; the closing tag becomes the code after
    // the first marker, with further copies of the content for further
    // markers taken straight from the text before it. Then the opening tag
    // becomes the code before the first marker.
    closing_parts.clear();
    closing_parts.push_back(kCodeOpen);
    if (!pieces[1].empty()) closing_parts.push_back(pieces[1]);
    for (size_t i = 2; i <= markers; ++i) {
      closing_parts.push_back(kCodeClose);
      closing_parts.push_back(TextView());  // the content
      closing_parts.push_back(kCodeOpen);
      if (!pieces[i].empty()) closing_parts.push_back(pieces[i]);
    }
    closing_parts.push_back(kCodeClose);
    const size_t written = page.ReplaceWithCopies(o, rest, closing_parts, after_open);
    attribute_form.Edit(o, rest, written);
    plain_form.Edit(o, rest, written);
    closing_tags.Edit(o, rest, written);

    block.clear();
    block += u"<%";
    block += attribute_lines;
    block += pieces[0];
    block += u"%>";
    page.Replace(e, after_open, block);
    attribute_form.Edit(e, after_open, block.size());
    plain_form.Edit(e, after_open, block.size());
    closing_tags.Edit(e, after_open, block.size());
  }
  if (change != nullptr) *change = {page.unchanged_prefix(), page.unchanged_suffix()};
  return page.Take();
}

}  // namespace vz
