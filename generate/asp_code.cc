#include "generate/asp_code.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <variant>

#include "generate/origin_recorder.h"
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

}  // namespace

OpeningTagIndex::OpeningTagIndex(PageText& page) : page_(page) { page.KeepComments(); }

bool OpeningTagIndex::Sightings(TextView name, TagSightings& sightings) const {
  const uint64_t key = PageText::KeyOf(name);
  if (page_.CommentsWithKey(key) == 0) return false;
  // Closing tags, "<!--" then "/" and the name, have the key of the name
  // with its slash.
  slashed_.resize(name.size() + 1);
  slashed_[0] = u'/';
  name.copy(slashed_.data() + 1, name.size());
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

Text AssembleAspCode(Text text, const ado::RowTable& tags, const ExpandLimits& limits,
                     PageOrigins* origins) {
  if (tags.rows == 0) {
    if (origins != nullptr) *origins = OriginRecorder(text.size()).Finish();
    return text;
  }
  PageText page(text);
  AssembleAspCode(page, tags, limits, origins);
  return page.Take(std::move(text));
}

size_t AssembleAspCode(CharBuffer& text, size_t length, const ado::RowTable& tags,
                       const ExpandLimits& limits, PageOrigins* origins) {
  if (tags.rows == 0) {
    if (origins != nullptr) *origins = OriginRecorder(length).Finish();
    return length;
  }
  PageText page(TextView(text.Reserve(length, length), length));
  AssembleAspCode(page, tags, limits, origins);
  return page.TakeInto(text);
}

void AssembleAspCode(PageText& page, const ado::RowTable& tags, const ExpandLimits& limits,
                     PageOrigins* origins) {
  std::optional<OriginRecorder> recorder;
  if (origins != nullptr) recorder.emplace(page.size());
  OriginRecorder* const record = recorder ? &*recorder : nullptr;
  if (tags.rows == 0) {
    if (record != nullptr) *origins = record->Finish();
    return;
  }
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
    if (record != nullptr) record->StartRow(i, name, code);
    if (!index) {
      ExpandTag(page, name, code, limits, nullptr, record);
      continue;
    }
    sightings.with_attributes.clear();
    sightings.plain.clear();
    sightings.closing.clear();
    if (index->Sightings(name, sightings)) ExpandTag(page, name, code, limits, &sightings, record);
  }
  if (record != nullptr) *origins = record->Finish();
}

}  // namespace vz
