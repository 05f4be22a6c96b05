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
#include <vector>

#include "generate/expand_tag.h"
#include "generate/origins.h"
#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz {

// Applies every row of `tags` to `templet`. With `origins`, also says where
// each character of the result came from (generate/origins.h); the result is
// the same either way. On a failure `origins` is left unspecified.
Text AssembleAspCode(Text templet, const ado::RowTable& tags, const ExpandLimits& limits = {},
                     PageOrigins* origins = nullptr);

// The same on the text held in the first `length` characters of `text`,
// the result written back there (into the same room when it fits); returns
// its length. For a caller that keeps the text in storage of its own.
size_t AssembleAspCode(CharBuffer& text, size_t length, const ado::RowTable& tags,
                       const ExpandLimits& limits, PageOrigins* origins = nullptr);

// The same on a page text made by the caller (tests make it of small blocks).
void AssembleAspCode(PageText& page, const ado::RowTable& tags, const ExpandLimits& limits,
                     PageOrigins* origins = nullptr);

// Where the tags of a name stand in a page text, and whether they stand
// there at all, answered from the places of "<!--" the page text keeps: an
// opening or closing tag of a name has the key of the name at its place, so
// a name no place has the key of has no tag (one look-up, and most names
// asked about have none), and otherwise only the places with its key are
// looked at in the text.
class OpeningTagIndex {
 public:
  // Makes `page` keep its places of "<!--" from now on.
  explicit OpeningTagIndex(PageText& page);

  // Adds every place of the three forms of the tag `name` in the text to
  // `sightings`. Returns whether an opening tag of the name occurs, that is
  // "<!--" + name + " " or "<!--" + name + "-->"; when none does the
  // sightings may be left incomplete.
  bool Sightings(TextView name, TagSightings& sightings) const;

 private:
  const PageText& page_;
  mutable Text slashed_;
};

}  // namespace vz

#endif  // VAVIZAR_GENERATE_ASP_CODE_H_
