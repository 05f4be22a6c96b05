#include "generate/asp_code.h"

#include <cstdint>

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

void OpeningTagIndex::Rebuild(TextView text) {
  text_ = text;
  comments_.clear();
  for (size_t at = Find(text, kComment); at != TextView::npos; at = Find(text, kComment, at + 1))
    comments_.push_back(static_cast<int32_t>(at));
}

bool OpeningTagIndex::Occurs(TextView name) const {
  for (int32_t comment : comments_) {
    const size_t at = static_cast<size_t>(comment) + kComment.size();
    if (!HasAt(text_, at, name)) continue;
    const size_t after = at + name.size();
    if (HasAt(text_, after, u" ") || HasAt(text_, after, u"-->")) return true;
  }
  return false;
}

Text AssembleAspCode(Text text, const ado::RowTable& tags, const ExpandLimits& limits) {
  if (tags.rows == 0) return text;
  if (tags.columns < 4) Raise(kSubscriptOutOfRange);
  const int16_t last = RowIndex(int64_t{tags.rows} - 1);
  const int16_t first = RowIndex(0);
  // A row whose name has no opening tag in the text leaves it unchanged, so
  // it is only checked, not expanded; the index answers that without a scan
  // of the whole text, and is renewed only when a row changed the text.
  OpeningTagIndex index(text);
  for (int32_t i = first; i <= last; i = RowIndex(int64_t{i} + 1)) {
    Text code = ado::CellText(tags.At(3, i));
    Text name = ado::CellText(tags.At(0, i));
    if (index.Occurs(name)) {
      text = ExpandTag(std::move(text), std::move(name), std::move(code), limits);
      index.Rebuild(text);
    }
  }
  return text;
}

}  // namespace vz
