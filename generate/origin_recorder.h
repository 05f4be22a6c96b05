// Records, beside the edits of a page text, where each of its characters
// came from (generate/origins.h), for the expansion to call as it edits.
//
// The origins are kept as a list of runs split at the place of the last
// edit, the way the page text keeps its characters: expansions move forward
// through the page, so an edit costs about the runs between it and the one
// before, not the length of the list. The runs before the split become the
// page's runs in place, and memory is only touched as runs are made.
//
//   OriginRecorder recorder(template_text.size());
//   recorder.StartRow(0, u"box", code);
//   // ... ExpandTag(page, u"box", code, limits, nullptr, &recorder) ...
//   PageOrigins origins = recorder.Finish();

#ifndef VAVIZAR_GENERATE_ORIGIN_RECORDER_H_
#define VAVIZAR_GENERATE_ORIGIN_RECORDER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "generate/origins.h"
#include "platform/text.h"

namespace vz {

class OriginRecorder {
 public:
  // A page text that is the template as it was read: one template run.
  explicit OriginRecorder(size_t template_size);

  OriginRecorder(const OriginRecorder&) = delete;
  OriginRecorder& operator=(const OriginRecorder&) = delete;

  // The row whose expansions follow: its index in the order applied, its
  // name and its code (the code the expansion's views point into).
  void StartRow(int32_t row, TextView name, TextView code);

  // A new expansion of the current row: the opening tag `tag` that stands
  // at `at`, and the attribute text `attributes` at `attributes_at` (npos
  // when the tag has none). REQUIRES: StartRow was called; the page text is
  // as it stood before the expansion's edits.
  void Occur(size_t at, TextView tag, size_t attributes_at, TextView attributes);

  // The edit that replaced [from, to) by "<%" + the assignment lines of the
  // current expansion's attributes + `code` + "%>". `code` is a view into
  // the current row's code.
  void Block(size_t from, size_t to, TextView code);

  // The edit that replaced the closing tag at [from, to) by "<%" + pieces[1]
  // and, for each further piece, "%>" + the content [content_from, from) +
  // "<%" + that piece, then "%>". The pieces are views into the current
  // row's code, cut at its "[data]" markers.
  void ClosingTag(size_t from, size_t to, size_t content_from, const std::vector<TextView>& pieces);

  // The origins of the text as the edits left it; the recorder is left
  // empty.
  PageOrigins Finish();

 private:
  // A run of characters of one origin; `start` is only set by Finish.
  using Piece = OriginRun;

  static Piece Make(size_t length, const Origin& origin) { return Piece{0, length, origin}; }

  Origin Generated() const;
  Origin CodeAt(TextView piece) const;
  // The origin of the character at `at`. REQUIRES: at < the text's size.
  Origin OriginAt(size_t at);
  // Appends the pieces of [from, to) of the text to `out`.
  void Collect(size_t from, size_t to, std::vector<Piece>& out);
  // Puts the split at `pos`: before_ holds the pieces before it in order,
  // after_ those after it in reverse order (its back is the next piece).
  void MoveTo(size_t pos);
  void Remove(size_t length);

  // Whether characters of `next` follow on from those of a piece of
  // `length` characters of `origin`, so that both can be one run.
  static bool Continues(const Origin& origin, size_t length, const Origin& next) {
    if (origin.kind != next.kind || origin.row != next.row ||
        origin.occurrence != next.occurrence || origin.converted || next.converted)
      return false;
    return origin.kind == Origin::Kind::kGenerated || origin.offset + length == next.offset;
  }

  // Puts a piece before the split, joined to the piece there when it follows
  // on from it.
  void Insert(size_t length, const Origin& origin) {
    if (length == 0) return;
    split_pos_ += length;
    Append(before_, length, origin);
  }

  static void Append(std::vector<Piece>& out, size_t length, const Origin& origin) {
    if (length == 0) return;
    if (!out.empty() && Continues(out.back().origin, out.back().length, origin)) {
      out.back().length += length;
    } else {
      out.push_back(Make(length, origin));
    }
  }

  std::vector<Piece> before_;
  std::vector<Piece> after_;
  size_t split_pos_ = 0;

  int32_t row_ = -1;
  TextView name_;
  TextView code_;
  bool row_recorded_ = false;
  int32_t occurrence_ = -1;
  size_t attribute_lines_ = 0;  // their length, for the current expansion
  std::vector<Piece> content_;
  PageOrigins origins_;
};

}  // namespace vz

#endif  // VAVIZAR_GENERATE_ORIGIN_RECORDER_H_
