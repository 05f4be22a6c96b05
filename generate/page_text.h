// The text of a page while its tags are expanded.
//
// The characters lie in a list of blocks, each with room to spare and a gap
// at its last edit, so that an edit costs about the distance from the
// block's last edit however long the text is and wherever the edit lies: tag
// rows of a page change small stretches all over it, one row after another,
// and each row moves forward through it. Positions are 0-based character
// indexes into the whole text.
//
// On request the text also keeps, through its edits, every place where "<!--"
// starts with a key made of the word after it, and how many places have each
// key: an edit looks again only at the places near it. An opening or closing
// tag of a name has the key of the name, so most names can be seen to have
// no tag in the text with one look-up.
//
//   PageText page(u"<p><!--box--></p>");
//   page.Find(u"-->", 0, page.size());          // 10
//   page.Replace(3, 13, {u"<%Box%>"}, 0);      // <p><%Box%></p>
//   Text out = page.Take();

#ifndef VAVIZAR_GENERATE_PAGE_TEXT_H_
#define VAVIZAR_GENERATE_PAGE_TEXT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iterator>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace vz {

class PageText {
 public:
  static constexpr size_t npos = TextView::npos;
  static constexpr TextView kComment = u"<!--";
  // Characters a block of the text holds when it is made; it has room for
  // a quarter as many again, for edits. An edit that does not fit makes new
  // blocks instead. Blocks made for a long insertion are filled almost to
  // their room: such text is seldom edited where it lies.
  static constexpr size_t kBlockChars = 2048;
  // The most characters of the word after "<!--" that its key looks at.
  static constexpr size_t kWordChars = 16;

  // REQUIRES: block_chars >= 1. Tests use small blocks to reach every edge.
  explicit PageText(TextView text, size_t block_chars = kBlockChars)
      : block_chars_(block_chars),
        room_(block_chars + block_chars / 4 + 1),
        full_(room_ - room_ / 8),
        size_(text.size()) {
    // The blocks of the text, and room for an eighth more for what edits
    // add, in one piece written once.
    const size_t blocks = (text.size() + block_chars_ - 1) / block_chars_;
    char16_t* slot = slots_.AddFilled(text, block_chars_, blocks + blocks / 8 + 4);
    for (size_t at = 0; at < text.size(); at += block_chars_, slot += room_) {
      Block& block = blocks_.emplace_back();
      block.chars = slot;
      block.gap_begin = std::min(block_chars_, text.size() - at);
      block.gap_end = room_;
    }
    cursor_ = blocks_.begin();
  }

  PageText(const PageText&) = delete;
  PageText& operator=(const PageText&) = delete;

  size_t size() const { return size_; }

  // From now on keeps the places of "<!--" and the count of their keys.
  void KeepComments() {
    if (keeping_) return;
    keeping_ = true;
    AddComments(0, size_);
    key_counts_.Reserve(comments());
    for (const Block& block : blocks_) {
      for (uint64_t key : block.keys) key_counts_.Add(key, 1);
    }
  }

  // How many kept places have the key `key`.
  uint32_t CommentsWithKey(uint64_t key) const { return key_counts_.Get(key); }

  // How many places of "<!--" are kept.
  size_t comments() const {
    size_t count = 0;
    for (const Block& block : blocks_) count += block.places.size();
    return count;
  }

  // The key of a place of "<!--" followed by `after`, and of the places
  // where "<!--" + `after` could stand: a hash of the word that `after`
  // begins with, the characters before its first blank or "-" (at most
  // kWordChars of them). An opening or closing tag of a name has the key of
  // the name (with its "/"), whatever follows it.
  static uint64_t KeyOf(TextView after) {
    uint64_t hash = 0x9E3779B97F4A7C15u;
    const size_t n = std::min(after.size(), kWordChars);
    for (size_t i = 0; i < n && after[i] != u' ' && after[i] != u'-'; ++i)
      hash = (hash + after[i]) * 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 29;
    return hash == 0 ? 1 : hash;  // 0 marks a free slot of the counts
  }

  // Calls visit(at, key) for every kept place of "<!--" whose key is `key`
  // or `other`, ascending, until it returns false.
  template <typename Visit>
  void ForEachComment(uint64_t key, uint64_t other, Visit&& visit) const {
    size_t start = 0;
    for (const Block& block : blocks_) {
      const size_t count = block.keys.size();
      const uint64_t* keys = block.keys.data();
      for (size_t i = 0; i < count; ++i) {
        if ((keys[i] == key || keys[i] == other) && !visit(start + block.places[i], keys[i]))
          return;
      }
      start += Size(block);
    }
  }

  // Calls visit(at) for every kept place of "<!--", ascending.
  template <typename Visit>
  void ForEachComment(Visit&& visit) const {
    size_t start = 0;
    for (const Block& block : blocks_) {
      for (uint32_t place : block.places) visit(start + place);
      start += Size(block);
    }
  }

  // The first start of `needle` in [lo, hi), or npos. REQUIRES: needle is
  // not empty.
  size_t Find(TextView needle, size_t lo, size_t hi) const {
    const size_t m = needle.size();
    if (size_ < m) return npos;
    hi = std::min(hi, size_ - m + 1);
    if (lo >= hi) return npos;
    Span span = SpanAt(lo);
    do {
      const size_t end = span.start + span.chars.size();
      const size_t first = std::max(lo, span.start);
      // Starts whose occurrence ends inside this span.
      const size_t last = end >= m ? std::min(hi, end - m + 1) : 0;
      if (first < last) {
        const size_t q =
            vz::Find(span.chars.substr(0, last - span.start + m - 1), needle, first - span.start);
        if (q != npos) return Found(span, span.start + q);
      }
      // Starts in this span whose occurrence runs on into the next ones.
      for (size_t q = std::max(first, last); q < std::min(hi, end); ++q) {
        if (span.chars[q - span.start] == needle[0] && Matches(span, q, needle))
          return Found(span, q);
      }
    } while (span.start + span.chars.size() < hi && Next(span));
    return npos;
  }

  // Appends the characters [from, to) to `out`.
  void CopyTo(size_t from, size_t to, Text& out) const {
    if (from < to) CopyFrom(SpanAt(from), from, to, out);
  }

  // The characters [at, at + length) cut to the text: a view into a block
  // when they lie together, else of a copy in `scratch`.
  TextView Peek(size_t at, size_t length, Text& scratch) const {
    if (at >= size_) return TextView();
    length = std::min(length, size_ - at);
    const Span span = SpanAt(at);
    if (at + length <= span.start + span.chars.size())
      return span.chars.substr(at - span.start, length);
    scratch.clear();
    CopyFrom(span, at, at + length, scratch);
    return scratch;
  }

  // Whether `piece` stands at `at`.
  bool HasAt(size_t at, TextView piece) const {
    if (at > size_ || size_ - at < piece.size()) return false;
    return piece.empty() || Matches(SpanAt(at), at, piece);
  }

  // Replaces the characters [from, to) by the parts one after another, an
  // empty part standing for the characters [copy_from, from) of this text.
  // Returns how many characters were written. Copies come straight from the
  // text, so a long stretch copied many times is never held twice.
  // REQUIRES: from < to <= size(); copy_from <= from; no part points into
  // this text.
  size_t Replace(size_t from, size_t to, const std::vector<TextView>& parts, size_t copy_from) {
    size_t total = 0;
    for (TextView part : parts) total += part.empty() ? from - copy_from : part.size();
    if (keeping_) RemoveComments(from, to);
    if (!ReplaceInBlock(from, to, parts, copy_from, total))
      ReplaceBlocks(from, to, parts, copy_from);
    size_ = size_ - (to - from) + total;
    if (keeping_) AddComments(from >= kReach - 1 ? from - (kReach - 1) : 0, from + total);
    return total;
  }

  // The whole text written into `out` from its start; returns its length.
  // The page text is left empty.
  size_t TakeInto(CharBuffer& out) {
    const size_t length = size_;
    char16_t* at = out.Reserve(0, length);
    for (const Block& block : blocks_) {
      for (TextView side : {Left(block), Right(block)}) {
        std::memcpy(at, side.data(), side.size() * sizeof(char16_t));
        at += side.size();
      }
    }
    blocks_.clear();
    size_ = 0;
    SetCursor(blocks_.begin(), 0);
    return length;
  }

  // The whole text; the page text is left empty. It is written into
  // `storage`, whose buffer is kept when it is large enough: memory written
  // before costs no page faults, fresh memory does.
  Text Take(Text storage = Text()) {
    storage.clear();
    ReserveText(storage, size_);
    for (const Block& block : blocks_) {
      storage += Left(block);
      storage += Right(block);
    }
    blocks_.clear();
    size_ = 0;
    SetCursor(blocks_.begin(), 0);
    return storage;
  }

 private:
  // Room for room_ characters with a gap: the characters are [0, gap_begin)
  // and [gap_end, room_) of `chars`. Also, when they are kept, the places of
  // "<!--" that start in the block (relative to it) with their keys,
  // ascending. No block in the list is empty.
  struct Block {
    char16_t* chars = nullptr;  // a slot of room_ characters
    size_t gap_begin = 0;
    size_t gap_end = 0;
    std::vector<uint32_t> places;
    std::vector<uint64_t> keys;
  };
  using Iter = std::list<Block>::iterator;
  using ConstIter = std::list<Block>::const_iterator;

  // Characters that lie together: one side of the gap of a block that
  // starts at `block_start`; the side starts at `start`.
  struct Span {
    ConstIter block;
    size_t block_start;
    bool right;
    size_t start;
    TextView chars;
  };

  size_t Size(const Block& block) const { return room_ - (block.gap_end - block.gap_begin); }
  TextView Left(const Block& block) const { return TextView(block.chars, block.gap_begin); }
  TextView Right(const Block& block) const {
    return TextView(block.chars + block.gap_end, room_ - block.gap_end);
  }

  Iter Mutable(ConstIter it) { return blocks_.erase(it, it); }

  void SetCursor(ConstIter it, size_t start) const {
    cursor_ = it;
    cursor_start_ = start;
  }

  // The block that holds position `at` and where it starts. Walks from the
  // nearest of the front, the last block used and the back: edits and
  // searches mostly move forward a little at a time.
  // REQUIRES: at < size().
  std::pair<ConstIter, size_t> Locate(size_t at) const {
    ConstIter it = cursor_;
    size_t start = cursor_start_;
    if (at < start && at < start - at) {
      it = blocks_.begin();
      start = 0;
    } else if (at >= start && size_ - at < at - start) {
      it = std::prev(blocks_.end());
      start = size_ - Size(*it);
    }
    while (at < start) start -= Size(*--it);
    while (at >= start + Size(*it)) start += Size(*it++);
    SetCursor(it, start);
    return {it, start};
  }

  // The span that holds `at`. REQUIRES: at < size().
  Span SpanAt(size_t at) const {
    const auto [it, start] = Locate(at);
    if (at - start < it->gap_begin) return {it, start, false, start, Left(*it)};
    return {it, start, true, start + it->gap_begin, Right(*it)};
  }

  // Moves to the next span that holds characters; false at the end.
  bool Next(Span& span) const {
    if (!span.right && span.block->gap_end < room_) {
      span = {span.block, span.block_start, true, span.start + span.chars.size(),
              Right(*span.block)};
      return true;
    }
    const ConstIter next = std::next(span.block);
    if (next == blocks_.end()) return false;
    const size_t start = span.block_start + Size(*span.block);
    span = next->gap_begin > 0 ? Span{next, start, false, start, Left(*next)}
                               : Span{next, start, true, start, Right(*next)};
    return true;
  }

  size_t Found(const Span& span, size_t at) const {
    SetCursor(span.block, span.block_start);
    return at;
  }

  // Whether `piece` stands at `at`, which `span` holds.
  bool Matches(Span span, size_t at, TextView piece) const {
    for (;;) {
      const TextView here = span.chars.substr(at - span.start, piece.size());
      if (piece.substr(0, here.size()) != here) return false;
      piece.remove_prefix(here.size());
      if (piece.empty()) return true;
      at = span.start + span.chars.size();
      if (!Next(span)) return false;
    }
  }

  // Appends [from, to) to `out`. REQUIRES: `span` holds `from`; to <= size().
  void CopyFrom(Span span, size_t from, size_t to, Text& out) const {
    for (;;) {
      const size_t stop = std::min(to, span.start + span.chars.size());
      out.append(span.chars.substr(from - span.start, stop - from));
      from = stop;
      if (from >= to || !Next(span)) return;
    }
  }

  // A new empty block, put before `before`.
  Iter NewBlock(std::list<Block>& list, ConstIter before) {
    const Iter it = list.emplace(before);
    it->chars = slots_.Take();
    it->gap_end = room_;
    return it;
  }

  // Takes blocks [first, last) out of the text, their room kept for others.
  Iter EraseBlocks(ConstIter first, ConstIter last) {
    for (ConstIter it = first; it != last; ++it) slots_.Give(it->chars);
    return blocks_.erase(first, last);
  }

  // Puts the gap of `block` at `at`, a position within it.
  void MoveGap(Block& block, size_t at) const {
    char16_t* d = block.chars;
    if (at < block.gap_begin) {
      const size_t k = block.gap_begin - at;
      std::memmove(d + block.gap_end - k, d + at, k * sizeof(char16_t));
      block.gap_begin -= k;
      block.gap_end -= k;
    } else if (at > block.gap_begin) {
      const size_t k = at - block.gap_begin;
      std::memmove(d + block.gap_begin, d + block.gap_end, k * sizeof(char16_t));
      block.gap_begin += k;
      block.gap_end += k;
    }
  }

  // Writes `chars` at the gap. REQUIRES: they fit in it.
  static void Insert(Block& block, TextView chars) {
    std::memcpy(block.chars + block.gap_begin, chars.data(), chars.size() * sizeof(char16_t));
    block.gap_begin += chars.size();
  }

  void Append(Block& block, TextView chars) const {
    MoveGap(block, Size(block));
    Insert(block, chars);
  }

  // The common edit: a short insertion over a stretch that lies in one
  // block, or in it and the next ones, which are joined to it first, when
  // the result fits in the block's room. Returns false, having changed
  // nothing, when that does not apply.
  bool ReplaceInBlock(size_t from, size_t to, const std::vector<TextView>& parts, size_t copy_from,
                      size_t total) {
    if (total > block_chars_) return false;
    const auto [found, start] = Locate(from);
    size_t held = Size(*found);
    for (ConstIter next = std::next(found); to > start + held; ++next) {
      if (next == blocks_.end()) return false;
      held += Size(*next);
    }
    if (held > room_ || held - (to - from) + total > room_) return false;
    insert_.clear();
    for (TextView part : parts) {
      if (part.empty()) {
        CopyTo(copy_from, from, insert_);
      } else {
        insert_ += part;
      }
    }
    const Iter it = Mutable(found);
    while (to > start + Size(*it)) JoinNext(it);
    const size_t at = from - start;
    MoveGap(*it, at);
    it->gap_end += to - from;
    Insert(*it, insert_);
    // The places in [at, to) went before the edit; those after it move.
    const auto delta = static_cast<uint32_t>(insert_.size() - (to - from));
    for (auto place =
             std::lower_bound(it->places.begin(), it->places.end(), static_cast<uint32_t>(at));
         place != it->places.end(); ++place)
      *place += delta;
    if (Size(*it) == 0) {
      SetCursor(EraseBlocks(it, std::next(it)), start);
      if (cursor_ == blocks_.end()) SetCursor(blocks_.begin(), 0);
    } else {
      SetCursor(it, start);
    }
    return true;
  }

  // Any edit: the blocks of [from, to) are cut out and blocks made from the
  // parts put in their place.
  void ReplaceBlocks(size_t from, size_t to, const std::vector<TextView>& parts, size_t copy_from) {
    std::list<Block> made;
    for (TextView part : parts) {
      if (!part.empty()) {
        AppendTo(made, part);
      } else if (copy_from < from) {
        Span span = SpanAt(copy_from);
        for (size_t at = copy_from; at < from && (at == copy_from || Next(span));) {
          const size_t stop = std::min(from, span.start + span.chars.size());
          AppendTo(made, span.chars.substr(at - span.start, stop - at));
          at = stop;
        }
      }
    }
    const Iter after = CutAt(to);
    const Iter first = CutAt(from);
    const bool at_front = first == blocks_.begin();
    const Iter before = at_front ? blocks_.end() : std::prev(first);
    EraseBlocks(first, after);
    const Iter last_made = made.empty() ? blocks_.end() : std::prev(made.end());
    blocks_.splice(after, made);
    // Small pieces left at the cuts join their neighbours.
    if (last_made != blocks_.end()) JoinIfSmall(last_made);
    if (at_front) {
      SetCursor(blocks_.begin(), 0);
    } else {
      SetCursor(before, from - Size(*before));
      JoinIfSmall(before);
    }
  }

  // Appends `chars` to a list of new blocks, filling each almost to its
  // room.
  void AppendTo(std::list<Block>& made, TextView chars) {
    while (!chars.empty()) {
      if (made.empty() || Size(made.back()) >= full_) NewBlock(made, made.end());
      Block& last = made.back();
      const size_t take = std::min(full_ - Size(last), chars.size());
      Append(last, chars.substr(0, take));
      chars.remove_prefix(take);
    }
  }

  // Makes a block start at `at` and returns it (the end when `at` is the
  // end of the text).
  Iter CutAt(size_t at) {
    if (at >= size_) return blocks_.end();
    const auto [it, start] = Locate(at);
    if (start == at) return Mutable(it);
    return Split(Mutable(it), at - start);
  }

  // Moves the characters of `it` from `at` on, with their places, into a new
  // block after it, and returns that block. REQUIRES: 0 < at < its size.
  Iter Split(Iter it, size_t at) {
    const Iter next = NewBlock(blocks_, std::next(it));
    MoveGap(*it, at);
    Append(*next, Right(*it));
    it->gap_end = room_;
    const auto cut = static_cast<uint32_t>(at);
    const auto keep = std::lower_bound(it->places.begin(), it->places.end(), cut);
    const auto kept = keep - it->places.begin();
    for (auto p = keep; p != it->places.end(); ++p) next->places.push_back(*p - cut);
    next->keys.assign(it->keys.begin() + kept, it->keys.end());
    it->places.erase(keep, it->places.end());
    it->keys.erase(it->keys.begin() + kept, it->keys.end());
    return next;
  }

  // Appends the block after `it` to it. REQUIRES: both fit in one.
  void JoinNext(Iter it) {
    const Iter next = std::next(it);
    const size_t shift = Size(*it);
    Append(*it, Left(*next));
    Append(*it, Right(*next));
    for (uint32_t place : next->places) it->places.push_back(place + static_cast<uint32_t>(shift));
    it->keys.insert(it->keys.end(), next->keys.begin(), next->keys.end());
    if (cursor_ == next) SetCursor(it, cursor_start_ - shift);
    EraseBlocks(next, std::next(next));
  }

  // Joins `it` and the block after it when one of them is small and both
  // fit in the room of one.
  void JoinIfSmall(Iter it) {
    const Iter next = std::next(it);
    if (next == blocks_.end()) return;
    const size_t a = Size(*it);
    const size_t b = Size(*next);
    if (a + b <= room_ && std::min(a, b) < block_chars_ / 2) JoinNext(it);
  }

  // How far after its start a place's key looks: "<!--" and the word.
  static constexpr size_t kReach = 4 + kWordChars;

  // Forgets the places whose key an edit of [from, to) may change: those
  // that start in (from - kReach, to).
  void RemoveComments(size_t from, size_t to) {
    const size_t lo = from >= kReach - 1 ? from - (kReach - 1) : 0;
    const auto [found, found_start] = Locate(lo);
    size_t start = found_start;
    for (Iter it = Mutable(found); it != blocks_.end() && start < to; start += Size(*it++)) {
      std::vector<uint32_t>& places = it->places;
      const auto begin = std::lower_bound(places.begin(), places.end(),
                                          static_cast<uint32_t>(lo > start ? lo - start : 0));
      const auto end = std::lower_bound(begin, places.end(),
                                        static_cast<uint32_t>(std::min(to - start, Size(*it))));
      if (begin == end) continue;
      const auto first = it->keys.begin() + (begin - places.begin());
      const auto last = it->keys.begin() + (end - places.begin());
      for (auto key = first; key != last; ++key) key_counts_.Add(*key, -1);
      it->keys.erase(first, last);
      places.erase(begin, end);
    }
  }

  // Records the places of "<!--" that start in [lo, hi), and counts their
  // keys once the counts are kept.
  void AddComments(size_t lo, size_t hi) {
    for (size_t at = Find(kComment, lo, hi); at != npos; at = Find(kComment, at + 1, hi)) {
      const uint64_t key = KeyOf(Peek(at + kComment.size(), kWordChars, scratch_));
      const auto [found, start] = Locate(at);
      const Iter it = Mutable(found);
      const auto place = static_cast<uint32_t>(at - start);
      const auto i =
          std::lower_bound(it->places.begin(), it->places.end(), place) - it->places.begin();
      it->places.insert(it->places.begin() + i, place);
      it->keys.insert(it->keys.begin() + i, key);
      if (key_counts_.Ready()) key_counts_.Add(key, 1);
    }
  }

  // Where blocks get their room: slots of a fixed size cut from a few large
  // texts, reserved with ReserveText so that large ones lie on large pages,
  // and given back for reuse when a block goes. A long text then costs few
  // allocations and few page faults.
  class Slots {
   public:
    explicit Slots(size_t chars) : chars_(chars) {}

    char16_t* Take() {
      if (free_.empty()) Add(std::max<size_t>(4, total_ / 2));
      char16_t* slot = free_.back();
      free_.pop_back();
      return slot;
    }

    void Give(char16_t* slot) { free_.push_back(slot); }

    // Makes `count` slots more, in one piece.
    void Add(size_t count) { AddFilled(TextView(), 0, count); }

    // Makes `count` slots in one piece, the first of them holding `text`,
    // `fill` characters each, and returns the first; the others are free.
    // REQUIRES: count * fill >= text.size(); fill <= the slot size.
    char16_t* AddFilled(TextView text, size_t fill, size_t count) {
      Text& piece = pieces_.emplace_back();
      ReserveText(piece, count * chars_);
      size_t used = 0;
      for (size_t at = 0; at < text.size(); at += fill, ++used) {
        const TextView chars = text.substr(at, fill);
        piece += chars;
        piece.append(chars_ - chars.size(), u'\0');
      }
      piece.resize(count * chars_);
      for (size_t i = count; i-- > used;) free_.push_back(piece.data() + i * chars_);
      total_ += count;
      return piece.data();
    }

   private:
    size_t chars_;
    size_t total_ = 0;
    std::deque<Text> pieces_;  // a deque, so that the pieces never move
    std::vector<char16_t*> free_;
  };

  // How many places have each key: an open-addressing table; a count that
  // falls to zero keeps its slot until the table grows.
  class KeyCounts {
   public:
    bool Ready() const { return !keys_.empty(); }
    uint32_t Get(uint64_t key) const { return keys_.empty() ? 0 : counts_[Slot(key)]; }

    void Add(uint64_t key, int32_t delta) {
      size_t i = Slot(key);
      if (keys_[i] == 0) {
        if (2 * (used_ + 1) > keys_.size()) {
          Rehash(2 * keys_.size());
          i = Slot(key);
        }
        keys_[i] = key;
        ++used_;
      }
      counts_[i] += static_cast<uint32_t>(delta);
    }

    // Room for `keys` keys without growing.
    void Reserve(size_t keys) {
      size_t slots = 64;
      while (slots < 2 * keys) slots *= 2;
      Rehash(slots);
    }

   private:
    size_t Slot(uint64_t key) const {
      const size_t mask = keys_.size() - 1;
      size_t i = static_cast<size_t>(key) & mask;
      while (keys_[i] != 0 && keys_[i] != key) i = (i + 1) & mask;
      return i;
    }

    // Moves the keys still counted into a table of `slots` slots.
    void Rehash(size_t slots) {
      std::vector<uint64_t> keys(slots, 0);
      std::vector<uint32_t> counts(slots, 0);
      keys.swap(keys_);
      counts.swap(counts_);
      used_ = 0;
      for (size_t k = 0; k < keys.size(); ++k) {
        if (counts[k] == 0) continue;
        const size_t j = Slot(keys[k]);
        keys_[j] = keys[k];
        counts_[j] = counts[k];
        ++used_;
      }
    }

    std::vector<uint64_t> keys_;  // 0: free
    std::vector<uint32_t> counts_;
    size_t used_ = 0;
  };

  size_t block_chars_;
  size_t room_;
  size_t full_;  // what a block made for an insertion holds
  Slots slots_{room_};
  std::list<Block> blocks_;
  size_t size_ = 0;
  bool keeping_ = false;
  KeyCounts key_counts_;
  mutable ConstIter cursor_;
  mutable size_t cursor_start_ = 0;
  mutable Text scratch_;
  Text insert_;
};

}  // namespace vz

#endif  // VAVIZAR_GENERATE_PAGE_TEXT_H_
