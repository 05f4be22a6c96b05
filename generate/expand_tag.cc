#include "generate/expand_tag.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "generate/origin_recorder.h"
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
// to cover, instead of the whole text. Every form begins with "<!--", so an
// edit near which none begins adds nothing to the lists.
//
// The text lives in a PageText, whose blocks make each edit cost about the
// distance from the last edit in its block, wherever it lies.

namespace vz {
namespace {

constexpr size_t npos = TextView::npos;

// The start positions of one pattern that are not yet known to be free of it:
// a sorted list of disjoint stretches [lo, hi); everything outside them is
// known to hold no occurrence.
//
// An edit moves every stretch after it. So the stretches before a split
// point are held as positions, which an edit after them leaves as they are,
// and those after it as distances from the end of the text, which an edit
// before them leaves as they are; and the list has a gap at the split point,
// so stretches come and go there in place. Each edit moves the split point
// to itself; edits mostly come in order through the text, so it moves
// little.
class Unknown {
 public:
  // [first, end of text), or nothing when `first` is npos.
  Unknown(const PageText& page, TextView pattern, size_t first) : page_(page), pattern_(pattern) {
    if (first != npos) Insert({first, page.size()});
  }

  // Every start position of the pattern, ascending.
  Unknown(const PageText& page, TextView pattern, const std::vector<size_t>& starts)
      : page_(page), pattern_(pattern) {
    list_.reserve(starts.size());
    for (size_t start : starts) list_.push_back({start, start + 1});
    split_ = gap_end_ = list_.size();
    if (Count() > kMaxStretches) Compact();
  }

  // The first occurrence at or after `from`, or npos.
  size_t First(size_t from) {
    const size_t n = page_.size();
    for (size_t i = 0; i < Count();) {
      const auto [lo, hi] = At(i, n);
      if (hi <= from) {
        ++i;
        continue;
      }
      const size_t start = std::max(lo, from);
      const size_t q = page_.Find(pattern_, start, hi);
      if (q == npos) {
        if (lo < start) {
          Set(i++, n, {lo, start});
        } else {
          MoveSplit(i, n);
          ++gap_end_;  // drops stretch i
        }
        continue;
      }
      if (lo < start && start < q) {
        Set(i, n, {lo, start});
        MoveSplit(i + 1, n);
        Insert({q, hi});
      } else if (lo >= start) {
        Set(i, n, {q, hi});
      }
      return q;
    }
    return npos;
  }

  // Maps the list through the replacement, already made, of [from, to) by
  // `inserted` characters. The start positions whose occurrence would
  // overlap the new characters, [from - m + 1, from + inserted), are unknown
  // when `may_hold` and known to be free otherwise (the caller has seen that
  // no occurrence can start there); the stretches the edit touches are cut
  // or joined to them accordingly.
  void Edit(size_t from, size_t to, size_t inserted, bool may_hold) {
    const size_t now = page_.size();
    const size_t was = now + (to - from) - inserted;
    const size_t m = pattern_.size();
    const size_t lo = from >= m - 1 ? from - (m - 1) : 0;
    const size_t hi = from + inserted;
    auto moved = [&](size_t at) { return at - to + from + inserted; };
    // [first, last) are the stretches that reach into [lo, to).
    const size_t first = IndexWhere(0, [&](size_t i) { return At(i, was).second > lo; });
    const size_t last = IndexWhere(first, [&](size_t i) { return At(i, was).first >= to; });
    Stretch pieces[2];
    size_t count = 0;
    if (may_hold) {
      pieces[count++] = {lo, hi};
      if (first < last) {
        pieces[0].first = std::min(lo, At(first, was).first);
        const size_t end = At(last - 1, was).second;
        if (end > to) pieces[0].second = std::max(hi, moved(end));
      }
    } else if (first < last) {
      const size_t start = At(first, was).first;
      if (start < lo) pieces[count++] = {start, lo};
      const auto [last_lo, last_hi] = At(last - 1, was);
      if (last_hi > to) pieces[count++] = {moved(std::max(last_lo, to)), moved(last_hi)};
    }
    // Positions up to the edit, distances after it (so unchanged by it);
    // the pieces go in as positions.
    MoveSplit(first, was);
    gap_end_ += last - first;
    for (size_t k = 0; k < count; ++k) Insert(pieces[k]);
    if (Count() > 2 * kMaxStretches) Compact();
  }

 private:
  using Stretch = std::pair<size_t, size_t>;

  size_t Count() const { return split_ + (list_.size() - gap_end_); }

  // Stretch i as positions in a text of `size` characters.
  Stretch At(size_t i, size_t size) const {
    return i < split_ ? list_[i] : Flipped(list_[i - split_ + gap_end_], size);
  }

  void Set(size_t i, size_t size, Stretch positions) {
    if (i < split_) {
      list_[i] = positions;
    } else {
      list_[i - split_ + gap_end_] = Flipped(positions, size);
    }
  }

  // Puts a stretch, as positions, at the split point and moves the point
  // past it.
  void Insert(Stretch positions) {
    if (split_ == gap_end_) {
      const size_t after = list_.size() - gap_end_;
      list_.resize(2 * list_.size() + 8);
      std::move_backward(list_.begin() + static_cast<ptrdiff_t>(gap_end_),
                         list_.begin() + static_cast<ptrdiff_t>(gap_end_ + after), list_.end());
      gap_end_ = list_.size() - after;
    }
    list_[split_++] = positions;
  }

  // Moves the split point, and the gap, before stretch `at`, in a text of
  // `size` characters.
  void MoveSplit(size_t at, size_t size) {
    for (; split_ < at; ++split_, ++gap_end_) list_[split_] = Flipped(list_[gap_end_], size);
    for (; split_ > at; --split_, --gap_end_)
      list_[gap_end_ - 1] = Flipped(list_[split_ - 1], size);
  }

  // Positions to distances from the end, or back.
  static Stretch Flipped(Stretch s, size_t size) { return {size - s.first, size - s.second}; }

  // The first index from `from` on for which `holds` is true, when it is
  // false before it and true after it.
  template <typename Holds>
  size_t IndexWhere(size_t from, Holds&& holds) const {
    size_t lo = from;
    size_t hi = Count();
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (holds(mid)) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  }

  // Keeps the list short by joining the stretches closest to each other;
  // that only forgets some knowledge. Linear in the length of the list, which
  // is long once, when it is made from every place of a tag in a large page:
  // the kMaxStretches - 1 widest gaps stay, the others are closed (of equal
  // gaps, the earlier ones close first).
  void Compact() {
    const size_t n = Count();
    if (n <= kMaxStretches) return;
    MoveSplit(n, page_.size());
    list_.resize(n);
    gap_end_ = n;
    gaps_.clear();
    for (size_t i = 0; i + 1 < n; ++i) gaps_.push_back({list_[i + 1].first - list_[i].second, i});
    auto wider = [](const std::pair<size_t, size_t>& a, const std::pair<size_t, size_t>& b) {
      return a.first != b.first ? a.first > b.first : a.second > b.second;
    };
    std::nth_element(gaps_.begin(), gaps_.begin() + (kMaxStretches - 2), gaps_.end(), wider);
    keep_.assign(n, false);
    for (size_t k = 0; k + 1 < kMaxStretches; ++k) keep_[gaps_[k].second] = true;
    size_t out = 0;
    for (size_t i = 1; i < n; ++i) {
      if (keep_[i - 1]) {
        list_[++out] = list_[i];
      } else {
        list_[out].second = list_[i].second;
      }
    }
    list_.resize(out + 1);
    split_ = gap_end_ = list_.size();
  }

  // The list is let grow to twice this before it is cut back to it.
  static constexpr size_t kMaxStretches = 64;
  const PageText& page_;
  TextView pattern_;
  // Stretches [0, split_) are positions, [gap_end_, size) distances; what
  // lies between is the gap.
  std::vector<Stretch> list_;
  size_t split_ = 0;
  size_t gap_end_ = 0;
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
size_t FirstOf(const std::vector<size_t>* starts, const PageText& page, TextView form) {
  if (starts != nullptr) return starts->empty() ? npos : starts->front();
  return page.Find(form, 0, page.size());
}

Unknown UnknownOf(const PageText& page, const Text& form, const std::vector<size_t>* starts,
                  size_t first) {
  return starts != nullptr ? Unknown(page, form, *starts) : Unknown(page, form, first);
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

  Expansion(PageText& page, TextView tag_name, TextView tag_code, int64_t max_length,
            const Forms& forms, const TagSightings* sightings, size_t first_with_attributes,
            size_t first_plain, size_t first_closing, OriginRecorder* recorder)
      : page_(page),
        tag_name_(tag_name),
        tag_code_(tag_code),
        max_length_(max_length),
        closing_size_(forms.closing.size()),
        pieces_(CodePieces(tag_code)),
        attribute_form_(UnknownOf(page, forms.with_attributes,
                                  sightings ? &sightings->with_attributes : nullptr,
                                  first_with_attributes)),
        plain_form_(
            UnknownOf(page, forms.plain, sightings ? &sightings->plain : nullptr, first_plain)),
        closing_tags_(UnknownOf(page, forms.closing, sightings ? &sightings->closing : nullptr,
                                first_closing)),
        recorder_(recorder) {}

  // Expands opening tags until none is left.
  void Run() {
    for (size_t e = FirstOpening(); e != npos; e = FirstOpening()) ExpandAt(e);
  }

 private:
  // As long as an opening tag with attributes is left it goes first.
  size_t FirstOpening() {
    size_t e = attribute_form_.First(0);
    return e != npos ? e : plain_form_.First(0);
  }

  // One pass: the opening tag at `e`, with the first closing tag after its
  // "-->" when the text holds any.
  void ExpandAt(size_t e) {
    const size_t f = CommentEnd(e);
    const size_t after_open = f + kCommentEnd.size();
    const size_t attributes_at = AttributeLines(e, f);
    if (recorder_ != nullptr) {
      tag_.clear();
      page_.CopyTo(e, after_open, tag_);
      recorder_->Occur(e, tag_, attributes_at, attributes_);
    }
    size_t o = closing_tags_.First(0);
    if (o == npos) {
      CheckLength(static_cast<int64_t>(page_.size()) - static_cast<int64_t>(after_open - e) + 4 +
                  Int(attribute_lines_.size()) + Int(tag_code_.size()));
      ReplaceByBlock(e, after_open, tag_code_);
      return;
    }
    if (o < after_open) o = closing_tags_.First(after_open);
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
  // Returns where the attribute text starts, or npos when there are none.
  size_t AttributeLines(size_t e, size_t f) {
    attribute_lines_.clear();
    attributes_.clear();
    const size_t name_end = e + 4 + tag_name_.size();
    if (f <= name_end) return npos;
    page_.CopyTo(name_end + 1, f, attributes_);
    CheckTextLength(AttributeLinesLength(attributes_));
    AppendAttributeLines(attributes_, attribute_lines_);
    return name_end + 1;
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
    parts_.assign(1, block_);
    Edited(from, to, page_.Replace(from, to, parts_, from));
    if (recorder_ != nullptr) recorder_->Block(from, to, code);
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
    Edited(o, rest, page_.Replace(o, rest, parts_, after_open));
    if (recorder_ != nullptr) recorder_->ClosingTag(o, rest, after_open, pieces_);
  }

  // Every form begins with "<!--", so where none begins no occurrence of
  // any can be new; the closing form is the longest.
  void Edited(size_t from, size_t to, size_t inserted) {
    const size_t lo = from >= closing_size_ - 1 ? from - (closing_size_ - 1) : 0;
    const bool may_hold = page_.Find(PageText::kComment, lo, from + inserted) != npos;
    attribute_form_.Edit(from, to, inserted, may_hold);
    plain_form_.Edit(from, to, inserted, may_hold);
    closing_tags_.Edit(from, to, inserted, may_hold);
  }

  static int64_t Int(size_t n) { return static_cast<int64_t>(n); }

  PageText& page_;
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
  OriginRecorder* recorder_;
  Text tag_;
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
  // A text without an opening tag comes back as it is, without being copied.
  if (vz::Find(text, Concat({u"<!--", tag_name, u" "})) == npos &&
      vz::Find(text, Concat({u"<!--", tag_name, u"-->"})) == npos)
    return text;
  PageText page(text);
  ExpandTag(page, tag_name, tag_code, limits, nullptr);
  return page.Take(std::move(text));
}

void ExpandTag(PageText& page, TextView tag_name, TextView tag_code, const ExpandLimits& limits,
               const TagSightings* sightings, OriginRecorder* recorder) {
  const Expansion::Forms forms{Concat({u"<!--", tag_name, u" "}),
                               Concat({u"<!--", tag_name, u"-->"}),
                               Concat({u"<!--/", tag_name, u"-->"})};
  const size_t first_with_attributes =
      FirstOf(sightings ? &sightings->with_attributes : nullptr, page, forms.with_attributes);
  const size_t first_plain = FirstOf(sightings ? &sightings->plain : nullptr, page, forms.plain);
  if (first_with_attributes == npos && first_plain == npos) return;
  if (vz::Find(tag_code, forms.with_attributes) != npos ||
      vz::Find(tag_code, forms.plain) != npos) {
    Raise(kInvalidArgument,
          InvalidArgument({u"the code of tag <!--", tag_name, u" holds its own opening tag"}));
  }
  const int64_t max_length = std::clamp<int64_t>(limits.max_length, 0, kMaxTextLength);
  const size_t first_closing =
      FirstOf(sightings ? &sightings->closing : nullptr, page, forms.closing);
  Expansion(page, tag_name, tag_code, max_length, forms, sightings, first_with_attributes,
            first_plain, first_closing, recorder)
      .Run();
}

}  // namespace vz
