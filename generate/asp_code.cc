#include "generate/asp_code.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <variant>

#include "platform/failure.h"

namespace vz {
namespace {

constexpr TextView kComment = PageText::kComment;

// The most rows for which the text itself is searched: an index of the
// page's comments costs about as much to build as a few searches of the
// whole text, and one or two rows never pay for it.
constexpr int32_t kRowsWithoutIndex = 4;

// The row index as the 16-bit signed number it is held in.
int16_t RowIndex(int64_t index) {
  if (index < INT16_MIN || index > INT16_MAX) Raise(kOverflow);
  return static_cast<int16_t>(index);
}

// The text of a cell: the cell's own when it holds text, else its
// conversion, kept in `scratch`. Fails as CellText does.
TextView CellView(const ado::Cell& cell, Text& scratch) {
  if (const Text* text = std::get_if<Text>(&cell)) return *text;
  scratch = ado::CellText(cell);
  return scratch;
}

// Name hashes: a multiplicative hash over the characters, finished by a
// mix. The hash of the first kShortName characters of a longer name is
// marked apart from that of a name of exactly that length.
constexpr uint64_t kSeed = 0x9E3779B97F4A7C15u;
constexpr uint64_t kLongName = 0x5851F42D4C957F2Du;

uint64_t Step(uint64_t hash, char16_t c) { return (hash + c) * 0xFF51AFD7ED558CCDu; }

uint64_t Finish(uint64_t hash) {
  hash ^= hash >> 32;
  hash *= 0xD6E8FEB86659FD93u;
  hash ^= hash >> 32;
  return hash == 0 ? 1 : hash;  // 0 marks a free slot
}

uint64_t NameKey(TextView name) {
  uint64_t hash = kSeed;
  const size_t n = std::min(name.size(), OpeningTagIndex::kShortName);
  for (size_t i = 0; i < n; ++i) hash = Step(hash, name[i]);
  return name.size() <= OpeningTagIndex::kShortName ? Finish(hash) : Finish(hash ^ kLongName);
}

}  // namespace

size_t OpeningTagIndex::Counts::Slot(uint64_t key) const {
  const size_t mask = keys_.size() - 1;
  size_t i = static_cast<size_t>(key) & mask;
  while (keys_[i] != 0 && keys_[i] != key) i = (i + 1) & mask;
  return i;
}

void OpeningTagIndex::Counts::Add(uint64_t key, int32_t delta) {
  size_t i = Slot(key);
  if (keys_[i] == 0) {
    if (2 * (used_ + 1) > keys_.size()) {
      Rehash(2 * keys_.size());
      i = Slot(key);
    }
    keys_[i] = key;
    ++used_;
  }
  counts_[i] += delta;
}

void OpeningTagIndex::Counts::Reserve(size_t keys) {
  size_t slots = keys_.size();
  while (slots < 2 * keys) slots *= 2;
  if (slots > keys_.size()) Rehash(slots);
}

void OpeningTagIndex::Counts::Rehash(size_t slots) {
  std::vector<uint64_t> keys(slots, 0);
  std::vector<int32_t> counts(slots, 0);
  keys.swap(keys_);
  counts.swap(counts_);
  used_ = 0;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (counts[k] == 0) continue;  // a name no comment has any more
    const size_t j = Slot(keys[k]);
    keys_[j] = keys[k];
    counts_[j] = counts[k];
    ++used_;
  }
}

OpeningTagIndex::OpeningTagIndex(PageText& page) : page_(page) {
  page_.KeepComments(kReach);
  // Room for the names of every comment there is now (most have two or
  // three), so that counting them does not grow the table step by step.
  counts_.Reserve(3 * page_.comments());
  page_.ForEachComment([&](size_t comment) { Count(page_, comment, +1); });
  page_.Tell(this);
}

OpeningTagIndex::~OpeningTagIndex() { page_.Tell(nullptr); }

void OpeningTagIndex::Count(const PageText& text, size_t at, int32_t delta) {
  // The names an opening tag here could have: the characters before each
  // blank or "-->" within reach.
  const TextView rest = text.Peek(at + kComment.size(), kShortName + 3, scratch_);
  uint64_t hash = kSeed;
  for (size_t length = 0; length < rest.size(); ++length) {
    const char16_t c = rest[length];
    if (c == u' ' || (c == u'-' && rest.substr(length, 3) == u"-->"))
      counts_.Add(Finish(hash), delta);
    if (length == kShortName) {
      counts_.Add(Finish(hash ^ kLongName), delta);
      break;
    }
    hash = Step(hash, c);
  }
}

bool OpeningTagIndex::Sightings(TextView name, TagSightings& sightings) const {
  if (counts_.Get(NameKey(name)) == 0) return false;
  // Opening tags have the key of the name; closing tags, "<!--" then "/"
  // and the name, that of the name with its slash.
  slashed_.resize(name.size() + 1);
  slashed_[0] = u'/';
  name.copy(slashed_.data() + 1, name.size());
  const uint64_t key = PageText::KeyOf(name);
  const uint64_t closing_key = PageText::KeyOf(slashed_);
  page_.ForEachComment(key, closing_key, [&](size_t comment, uint64_t found) {
    const size_t at = comment + kComment.size();
    if (found == key && page_.HasAt(at, name)) {
      const size_t after = at + name.size();
      if (page_.HasAt(after, u" ")) sightings.with_attributes.push_back(comment);
      if (page_.HasAt(after, u"-->")) sightings.plain.push_back(comment);
    }
    if (found == closing_key && page_.HasAt(at, slashed_) &&
        page_.HasAt(at + slashed_.size(), u"-->"))
      sightings.closing.push_back(comment);
    return true;
  });
  return !sightings.with_attributes.empty() || !sightings.plain.empty();
}

Text AssembleAspCode(Text text, const ado::RowTable& tags, const ExpandLimits& limits) {
  if (tags.rows == 0) return text;
  PageText page(text);
  text = Text();
  AssembleAspCode(page, tags, limits);
  return page.Take();
}

void AssembleAspCode(PageText& page, const ado::RowTable& tags, const ExpandLimits& limits) {
  if (tags.rows == 0) return;
  // The bounds become 16-bit row indexes before anything else about the
  // table is looked at, so a table too long for them fails with 6 whatever
  // its shape.
  const int16_t last = RowIndex(int64_t{tags.rows} - 1);
  const int16_t first = RowIndex(0);
  if (tags.columns < 4) Raise(kSubscriptOutOfRange);
  // A row whose name has no opening tag in the text leaves it unchanged, so
  // it is only checked, not expanded. With more than a few rows an index of
  // the page's comments answers that without a search of the text, and
  // tells the expansion where the tag stands.
  std::optional<OpeningTagIndex> index;
  if (tags.rows > kRowsWithoutIndex) index.emplace(page);
  Text code_scratch;
  Text name_scratch;
  TagSightings sightings;
  for (int32_t i = first; i <= last; i = RowIndex(int64_t{i} + 1)) {
    const TextView code = CellView(tags.At(3, i), code_scratch);
    const TextView name = CellView(tags.At(0, i), name_scratch);
    if (!index) {
      ExpandTag(page, name, code, limits, nullptr);
      continue;
    }
    sightings.with_attributes.clear();
    sightings.plain.clear();
    sightings.closing.clear();
    if (index->Sightings(name, sightings)) ExpandTag(page, name, code, limits, &sightings);
  }
}

}  // namespace vz
