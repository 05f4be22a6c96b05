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

constexpr TextView kCommentEnd = u"-->";
constexpr TextView kData = u"[data]";
constexpr TextView kCodeOpen = u"<%";
constexpr TextView kCodeClose = u"%>";

// The code cut at its "[data]" markers, left to right without overlap.
std::vector<TextView> CodePieces(TextView code) {
  std::vector<TextView> pieces;
  size_t done = 0;
  for (size_t at = vz::Find(code, kData); at != npos; at = vz::Find(code, kData, done)) {
    pieces.push_back(code.substr(done, at - done));
    done = at + kData.size();
  }
  pieces.push_back(code.substr(done));
  return pieces;
}

// Where a form first occurs: from the sightings when given, else searched.
size_t FirstOf(const std::vector<size_t>* starts, TextView text, TextView form) {
  if (starts != nullptr) return starts->empty() ? npos : starts->front();
  return vz::Find(text, form);
}

Unknown UnknownOf(const Text& form, const std::vector<size_t>* starts, size_t first,
                  size_t text_size) {
  return starts != nullptr ? Unknown(form, *starts) : Unknown(form, first, text_size);
}

// The passes of one call over one page: the tag's three forms, the code cut
// at its markers, and, for each form, where it may still occur.
class Expansion {
 public:
  struct Forms {
    Text with_attributes;  // "<!--" N " "
    Text plain;            // "<!--" N "-->"
    Text closing;          // "<!--/" N "-->"
  };

  Expansion(GapText& page, TextView tag_name, TextView tag_code, int64_t max_length,
            const Forms& forms, const TagSightings* sightings, size_t first_with_attributes,
            size_t first_plain, size_t first_closing)
      : page_(page),
        tag_name_(tag_name),
        tag_code_(tag_code),
        max_length_(max_length),
        closing_size_(forms.closing.size()),
        pieces_(CodePieces(tag_code)),
        attribute_form_(UnknownOf(forms.with_attributes,
                                  sightings ? &sightings->with_attributes : nullptr,
                                  first_with_attributes, page.size())),
        plain_form_(UnknownOf(forms.plain, sightings ? &sightings->plain : nullptr, first_plain,
                              page.size())),
        closing_tags_(UnknownOf(forms.closing, sightings ? &sightings->closing : nullptr,
                                first_closing, page.size())) {}

  // Expands opening tags until none is left.
  void Run() {
    for (size_t e = FirstOpening(); e != npos; e = FirstOpening()) ExpandAt(e);
  }

 private:
  // As long as an opening tag with attributes is left it goes first.
  size_t FirstOpening() {
    size_t e = attribute_form_.First(page_, 0);
    return e != npos ? e : plain_form_.First(page_, 0);
  }

  // One pass: the opening tag at `e`, with the first closing tag after its
  // "-->" when the text holds any.
  void ExpandAt(size_t e) {
    const size_t f = CommentEnd(e);
    const size_t after_open = f + kCommentEnd.size();
    AttributeLines(e, f);
    size_t o = closing_tags_.First(page_, 0);
    if (o == npos) {
      CheckLength(static_cast<int64_t>(page_.size()) - static_cast<int64_t>(after_open - e) + 4 +
                  Int(attribute_lines_.size()) + Int(tag_code_.size()));
      ReplaceByBlock(e, after_open, tag_code_);
      return;
    }
    if (o < after_open) o = closing_tags_.First(page_, after_open);
    if (o == npos) Raise(kInvalidArgument);
    const size_t rest = o + closing_size_;
    const int64_t markers = Int(pieces_.size()) - 1;
    CheckLength(static_cast<int64_t>(page_.size()) - static_cast<int64_t>(rest - e) + 4 +
                Int(attribute_lines_.size()) + Int(tag_code_.size()) - 6 * markers +
                markers * (Int(o - after_open) + 4));
    if (markers == 0) {
      ReplaceByBlock(e, rest, tag_code_);
    } else {
      ReplaceClosingTag(o, rest, after_open);
      ReplaceByBlock(e, after_open, pieces_[0]);
    }
  }

  // The first "-->" at or after the start of the opening tag at `e`.
  size_t CommentEnd(size_t e) {
    const size_t f = page_.Find(kCommentEnd, e, page_.size());
    if (f == npos) {
      Raise(kInvalidArgument,
            InvalidArgument({u"tag <!--", tag_name_, u" at ",
                             DecimalText(static_cast<int64_t>(e) + 1), u" has no -->"}));
    }
    return f;
  }

  // The assignment lines of the opening tag at `e` whose "-->" is at `f`:
  // none unless there is room for attribute text after the name's blank.
  void AttributeLines(size_t e, size_t f) {
    attribute_lines_.clear();
    const size_t name_end = e + 4 + tag_name_.size();
    if (f > name_end) {
      attributes_.clear();
      page_.CopyTo(name_end + 1, f, attributes_);
      CheckTextLength(AttributeLinesLength(attributes_));
      AppendAttributeLines(attributes_, attribute_lines_);
    }
  }

  void CheckLength(int64_t length) const {
    if (length > max_length_) Raise(kOutOfStringSpace);
  }

  // Replaces [from, to) by "<%" + attribute lines + `code` + "%>".
  void ReplaceByBlock(size_t from, size_t to, TextView code) {
    block_.clear();
    block_ += kCodeOpen;
    block_ += attribute_lines_;
    block_ += code;
    block_ += kCodeClose;
    page_.Replace(from, to, block_);
    Edited(from, to, block_.size());
  }

  // The content stays where it is; the closing tag at [o, rest) becomes the
  // code after the first marker, with further copies of the content (from
  // `after_open` to `o`) for further markers, taken straight from the text
  // before it.
  void ReplaceClosingTag(size_t o, size_t rest, size_t after_open) {
    parts_.clear();
    parts_.push_back(kCodeOpen);
    if (!pieces_[1].empty()) parts_.push_back(pieces_[1]);
    for (size_t i = 2; i < pieces_.size(); ++i) {
      parts_.push_back(kCodeClose);
      parts_.push_back(TextView());  // the content
      parts_.push_back(kCodeOpen);
      if (!pieces_[i].empty()) parts_.push_back(pieces_[i]);
    }
    parts_.push_back(kCodeClose);
    Edited(o, rest, page_.ReplaceWithCopies(o, rest, parts_, after_open));
  }

  void Edited(size_t from, size_t to, size_t inserted) {
    attribute_form_.Edit(from, to, inserted);
    plain_form_.Edit(from, to, inserted);
    closing_tags_.Edit(from, to, inserted);
  }

  static int64_t Int(size_t n) { return static_cast<int64_t>(n); }

  GapText& page_;
  TextView tag_name_;
  TextView tag_code_;
  int64_t max_length_;
  size_t closing_size_;
  std::vector<TextView> pieces_;
  Unknown attribute_form_;
  Unknown plain_form_;
  Unknown closing_tags_;
  Text attributes_;
  Text attribute_lines_;
  Text block_;
  std::vector<TextView> parts_;
};

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
  const Expansion::Forms forms{Concat({u"<!--", tag_name, u" "}),
                               Concat({u"<!--", tag_name, u"-->"}),
                               Concat({u"<!--/", tag_name, u"-->"})};
  if (change != nullptr) *change = {text.size(), text.size()};
  const size_t first_with_attributes =
      FirstOf(sightings ? &sightings->with_attributes : nullptr, text, forms.with_attributes);
  const size_t first_plain = FirstOf(sightings ? &sightings->plain : nullptr, text, forms.plain);
  if (first_with_attributes == npos && first_plain == npos) return text;
  if (vz::Find(tag_code, forms.with_attributes) != npos ||
      vz::Find(tag_code, forms.plain) != npos) {
    Raise(kInvalidArgument,
          InvalidArgument({u"the code of tag <!--", tag_name, u" holds its own opening tag"}));
  }
  const int64_t max_length = std::clamp<int64_t>(limits.max_length, 0, kMaxTextLength);
  const size_t first_closing =
      FirstOf(sightings ? &sightings->closing : nullptr, text, forms.closing);
  GapText page(std::move(text), static_cast<size_t>(max_length) + 1024);
  Expansion(page, tag_name, tag_code, max_length, forms, sightings, first_with_attributes,
            first_plain, first_closing)
      .Run();
  if (change != nullptr) *change = {page.unchanged_prefix(), page.unchanged_suffix()};
  return page.Take();
}

}  // namespace vz
