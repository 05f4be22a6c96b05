#include "generate/asp_code.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "platform/failure.h"

namespace vz {
namespace {

constexpr TextView kComment = u"<!--";

bool HasAt(TextView text, size_t at, TextView piece) {
  return at <= text.size() && text.size() - at >= piece.size() &&
         text.compare(at, piece.size(), piece) == 0;
}

// The row index as the 16-bit signed number it is held in.
int16_t RowIndex(int64_t index) {
  if (index < INT16_MIN || index > INT16_MAX) Raise(kOverflow);
  return static_cast<int16_t>(index);
}

}  // namespace

uint64_t OpeningTagIndex::Pack(TextView chars) {
  uint64_t key = 0;
  for (size_t i = 0; i < 4; ++i) key = (key << 16) | (i < chars.size() ? chars[i] : 0u);
  return key;
}

void OpeningTagIndex::Scan(size_t from, size_t to, Entries& into) const {
  const std::hash<TextView> hash;
  for (size_t at = Find(text_, kComment, from); at < to; at = Find(text_, kComment, at + 1)) {
    into.comments.push_back(static_cast<int32_t>(at));
    into.keys.push_back(Pack(text_.substr(at + kComment.size(), 4)));
    // The names an opening tag here could have: the characters before each
    // blank or "-->" within reach.
    const TextView rest =
        text_.substr(std::min(at + kComment.size(), text_.size()), kShortName + 3);
    for (size_t length = 0; length <= kShortName && length < rest.size(); ++length) {
      if (rest[length] == u' ' || rest.substr(length, 3) == u"-->")
        into.names.push_back(hash(rest.substr(0, length)));
    }
    into.names_end.push_back(static_cast<int32_t>(into.names.size()));
  }
}

void OpeningTagIndex::Tally(const Entries& entries, size_t from, size_t to, int32_t delta) {
  const int32_t begin = from == 0 ? 0 : entries.names_end[from - 1];
  const int32_t end = to == 0 ? 0 : entries.names_end[to - 1];
  for (int32_t n = begin; n < end; ++n) {
    int32_t& count = short_names_[entries.names[static_cast<size_t>(n)]];
    count += delta;
    if (count == 0) short_names_.erase(entries.names[static_cast<size_t>(n)]);
  }
}

void OpeningTagIndex::Rebuild(TextView text) {
  text_ = text;
  entries_ = Entries();
  short_names_.clear();
  Scan(0, text.size(), entries_);
  Tally(entries_, 0, entries_.comments.size(), +1);
}

void OpeningTagIndex::Update(TextView text, const TextChange& change) {
  const size_t old_size = text_.size();
  text_ = text;
  if (change.prefix >= old_size && change.suffix >= old_size) return;  // nothing changed
  // A comment whose "<!--" and the characters it is keyed by lie wholly in
  // the unchanged start stays; so does one in the unchanged end, moved by the
  // change in length. Everything between is searched again.
  const size_t reach = kComment.size() + kShortName + 3;
  const size_t kept_before = change.prefix > reach ? change.prefix - reach : 0;
  const size_t tail_old = old_size - change.suffix;
  const size_t tail_new = text.size() - change.suffix;
  const size_t count = entries_.comments.size();
  size_t first_dropped = 0;
  while (first_dropped < count &&
         static_cast<size_t>(entries_.comments[first_dropped]) < kept_before)
    ++first_dropped;
  size_t first_kept = first_dropped;
  while (first_kept < count && static_cast<size_t>(entries_.comments[first_kept]) < tail_old)
    ++first_kept;

  // The new comments of the changed stretch, then put in place of the old.
  Entries fresh;
  Scan(kept_before, tail_new, fresh);
  Tally(entries_, first_dropped, first_kept, -1);
  Tally(fresh, 0, fresh.comments.size(), +1);

  const auto at = [](auto& v, size_t i) { return v.begin() + static_cast<ptrdiff_t>(i); };
  const int32_t names_begin = first_dropped == 0 ? 0 : entries_.names_end[first_dropped - 1];
  const int32_t names_end = first_kept == 0 ? 0 : entries_.names_end[first_kept - 1];
  const auto shift =
      static_cast<int32_t>(static_cast<int64_t>(tail_new) - static_cast<int64_t>(tail_old));
  const auto names_shift = static_cast<int32_t>(fresh.names.size()) - (names_end - names_begin);
  for (size_t i = first_kept; i < count; ++i) {
    entries_.comments[i] += shift;
    entries_.names_end[i] += names_shift;
  }
  for (int32_t& end : fresh.names_end) end += names_begin;
  entries_.names.erase(at(entries_.names, static_cast<size_t>(names_begin)),
                       at(entries_.names, static_cast<size_t>(names_end)));
  entries_.names.insert(at(entries_.names, static_cast<size_t>(names_begin)), fresh.names.begin(),
                        fresh.names.end());
  for (auto* list : {&entries_.comments, &entries_.names_end}) {
    list->erase(at(*list, first_dropped), at(*list, first_kept));
  }
  entries_.comments.insert(at(entries_.comments, first_dropped), fresh.comments.begin(),
                           fresh.comments.end());
  entries_.names_end.insert(at(entries_.names_end, first_dropped), fresh.names_end.begin(),
                            fresh.names_end.end());
  entries_.keys.erase(at(entries_.keys, first_dropped), at(entries_.keys, first_kept));
  entries_.keys.insert(at(entries_.keys, first_dropped), fresh.keys.begin(), fresh.keys.end());
}

template <typename Visit>
void OpeningTagIndex::ForEachCandidate(TextView name, Visit&& visit) const {
  // Compare the name's first (up to) four characters with every comment's
  // key; only the comments that agree are looked at in the text.
  const size_t known = std::min<size_t>(name.size(), 4);
  const uint64_t mask = known == 0 ? 0 : ~uint64_t{0} << (16 * (4 - known));
  const uint64_t want = Pack(name.substr(0, known));
  const size_t count = entries_.keys.size();
  for (size_t i = 0; i < count; ++i) {
    if ((entries_.keys[i] & mask) == want && !visit(static_cast<size_t>(entries_.comments[i])))
      return;
  }
}

bool OpeningTagIndex::Occurs(TextView name) const {
  if (name.size() <= kShortName && short_names_.count(std::hash<TextView>()(name)) == 0)
    return false;
  bool found = false;
  ForEachCandidate(name, [&](size_t comment) {
    const size_t at = comment + kComment.size();
    if (!HasAt(text_, at, name)) return true;
    const size_t after = at + name.size();
    found = HasAt(text_, after, u" ") || HasAt(text_, after, u"-->");
    return !found;
  });
  return found;
}

TagSightings OpeningTagIndex::Sightings(TextView name) const {
  TagSightings sightings;
  ForEachCandidate(name, [&](size_t comment) {
    const size_t at = comment + kComment.size();
    if (HasAt(text_, at, name)) {
      const size_t after = at + name.size();
      if (HasAt(text_, after, u" ")) sightings.with_attributes.push_back(comment);
      if (HasAt(text_, after, u"-->")) sightings.plain.push_back(comment);
    }
    return true;
  });
  // Closing tags: "<!--" then "/" and the name.
  const Text slashed = Concat({u"/", name});
  ForEachCandidate(slashed, [&](size_t comment) {
    const size_t at = comment + kComment.size();
    if (HasAt(text_, at, slashed) && HasAt(text_, at + slashed.size(), u"-->"))
      sightings.closing.push_back(comment);
    return true;
  });
  return sightings;
}

Text AssembleAspCode(Text text, const ado::RowTable& tags, const ExpandLimits& limits) {
  if (tags.rows == 0) return text;
  // The bounds become 16-bit row indexes before anything else about the
  // table is looked at, so a table too long for them fails with 6 whatever
  // its shape.
  const int16_t last = RowIndex(int64_t{tags.rows} - 1);
  const int16_t first = RowIndex(0);
  if (tags.columns < 4) Raise(kSubscriptOutOfRange);
  // A row whose name has no opening tag in the text leaves it unchanged, so
  // it is only checked, not expanded; the index answers that without a scan
  // of the whole text, and is renewed only when a row changed the text.
  OpeningTagIndex index(text);
  for (int32_t i = first; i <= last; i = RowIndex(int64_t{i} + 1)) {
    Text code = ado::CellText(tags.At(3, i));
    Text name = ado::CellText(tags.At(0, i));
    if (index.Occurs(name)) {
      const TagSightings sightings = index.Sightings(name);
      TextChange change;
      text =
          ExpandTag(std::move(text), std::move(name), std::move(code), limits, &sightings, &change);
      index.Update(text, change);
    }
  }
  return text;
}

}  // namespace vz
