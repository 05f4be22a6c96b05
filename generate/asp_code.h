// Server-page assembly: a page's template text with every tag row applied.
//
// The rows come from the tag query as a table indexed [column][row]; column
// 0 holds a tag's name and column 3 its code. Rows are applied in order, each
// to the whole text the previous one returned, so markup that one row's code
// brings in is expanded by any later row of that name, never by an earlier
// one.
//
// The row index is a 16-bit signed number: a table of up to 32,767 rows is
// applied whole. With 32,768 rows every row is applied and stepping past the
// last one fails with 6 "Overflow"; with more the failure comes before any
// row is applied. A NULL name or code fails with 94 "Invalid use of Null".
// A failure ends the assembly; no partly expanded text comes back.

#ifndef VAVIZAR_GENERATE_ASP_CODE_H_
#define VAVIZAR_GENERATE_ASP_CODE_H_

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "generate/expand_tag.h"
#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz {

// Applies every row of `tags` to `templet`.
Text AssembleAspCode(Text templet, const ado::RowTable& tags, const ExpandLimits& limits = {});

// Which tag names have an opening tag in a text: a record of where "<!--"
// stands and of the four characters after each, so that asking about one name
// compares a few numbers per comment instead of scanning the text.
class OpeningTagIndex {
 public:
  explicit OpeningTagIndex(TextView text) { Rebuild(text); }

  // Takes a new text; every later question is about it.
  void Rebuild(TextView text);

  // Takes the text that an expansion made of the previous one, given what
  // it changed; only the changed stretch is searched again.
  void Update(TextView text, const TextChange& change);

  // Whether "<!--" + name + " " or "<!--" + name + "-->" occurs in the text.
  bool Occurs(TextView name) const;

  // Every place of the three forms of the tag `name` in the text.
  TagSightings Sightings(TextView name) const;

 private:
  // Up to four characters packed 16 bits each, the first in the high bits;
  // missing characters are 0.
  static uint64_t Pack(TextView chars);

  // The comments, in text order: where each "<!--" stands, the Pack of the
  // four characters after it, and the hashes of the names of up to
  // kShortName characters that an opening tag there could have (those
  // before a blank or a "-->"); the hashes of comment i end at names_end[i].
  struct Entries {
    std::vector<int32_t> comments;
    std::vector<uint64_t> keys;
    std::vector<size_t> names;
    std::vector<int32_t> names_end;
  };
  static constexpr size_t kShortName = 32;

  // Appends the comments that start in [from, to) of the text.
  void Scan(size_t from, size_t to, Entries& into) const;
  // Adds `delta` to the counts of the names of comments [from, to) of
  // `entries`.
  void Tally(const Entries& entries, size_t from, size_t to, int32_t delta);
  // The comments whose first characters agree with those of `name`.
  template <typename Visit>
  void ForEachCandidate(TextView name, Visit&& visit) const;

  TextView text_;
  Entries entries_;
  // How many comments could open each short name, by hash. A short name
  // missing here has no opening tag, and most names asked about have none.
  std::unordered_map<size_t, int32_t> short_names_;
};

}  // namespace vz

#endif  // VAVIZAR_GENERATE_ASP_CODE_H_
