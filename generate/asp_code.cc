#include "generate/asp_code.h"

#include <algorithm>
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

uint64_t OpeningTagIndex::Pack(TextView chars) {
  uint64_t key = 0;
  for (size_t i = 0; i < 4; ++i) key = (key << 16) | (i < chars.size() ? chars[i] : 0u);
  return key;
}

void OpeningTagIndex::Rebuild(TextView text) {
  text_ = text;
  comments_.clear();
  keys_.clear();
  for (size_t at = Find(text, kComment); at != TextView::npos; at = Find(text, kComment, at + 1)) {
    comments_.push_back(static_cast<int32_t>(at));
    keys_.push_back(Pack(text.substr(at + kComment.size(), 4)));
  }
}

bool OpeningTagIndex::Occurs(TextView name) const {
  // Compare the name's first (up to) four characters with every comment's
  // key at once; only the comments that agree are looked at in the text.
  const size_t known = std::min<size_t>(name.size(), 4);
  const uint64_t mask = known == 0 ? 0 : ~uint64_t{0} << (16 * (4 - known));
  const uint64_t want = Pack(name.substr(0, known));
  const size_t count = keys_.size();
  for (size_t i = 0; i < count; ++i) {
    if ((keys_[i] & mask) != want) continue;
    const size_t at = static_cast<size_t>(comments_[i]) + kComment.size();
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
