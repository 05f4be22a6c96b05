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
#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz {

// Applies every row of `tags` to `templet`.
Text AssembleAspCode(Text templet, const ado::RowTable& tags, const ExpandLimits& limits = {});

// The same on a page text made by the caller (tests make it of small blocks).
void AssembleAspCode(PageText& page, const ado::RowTable& tags, const ExpandLimits& limits);

// Where the tags of a name stand in a page text, and whether they stand
// there at all. The page text keeps every place of "<!--" with the key of
// the word after it; the index counts, for every name of up to kShortName
// characters that an opening tag at such a place could have (the
// characters before each blank or "-->" within reach), a hash of that name,
// and for a longer name a hash of its start. Most names asked about have no
// opening tag, and for them the answer is one look-up; for the others only
// the places with the name's key are looked at in the text. The counts
// follow the page text's edits; the page text must outlive the index.
class OpeningTagIndex final : public PageText::Observer {
 public:
  explicit OpeningTagIndex(PageText& page);
  ~OpeningTagIndex();
  OpeningTagIndex(const OpeningTagIndex&) = delete;
  OpeningTagIndex& operator=(const OpeningTagIndex&) = delete;

  // Adds every place of the three forms of the tag `name` in the text to
  // `sightings`. Returns whether an opening tag of the name occurs, that is
  // "<!--" + name + " " or "<!--" + name + "-->"; when none does the
  // sightings may be left incomplete.
  bool Sightings(TextView name, TagSightings& sightings) const;

  void Removing(const PageText& text, size_t at) override { Count(text, at, -1); }
  void Added(const PageText& text, size_t at) override { Count(text, at, +1); }

  static constexpr size_t kShortName = 16;
  // How far past a place of "<!--" its names can reach: the name and a "-->".
  static constexpr size_t kReach = 4 + kShortName + 3;

 private:
  void Count(const PageText& text, size_t at, int32_t delta);

  // An open-addressing table from name hashes to counts; a count that falls
  // to zero keeps its slot until the table grows.
  class Counts {
   public:
    Counts() : keys_(kInitial, 0), counts_(kInitial, 0) {}
    int32_t Get(uint64_t key) const { return counts_[Slot(key)]; }
    void Add(uint64_t key, int32_t delta);
    // Makes room for `keys` keys without growing.
    void Reserve(size_t keys);

   private:
    static constexpr size_t kInitial = 1024;
    size_t Slot(uint64_t key) const;
    // Moves the keys still counted into a table of `slots` slots.
    void Rehash(size_t slots);
    std::vector<uint64_t> keys_;  // 0: free
    std::vector<int32_t> counts_;
    size_t used_ = 0;
  };

  PageText& page_;
  Counts counts_;
  Text scratch_;
  mutable Text slashed_;
};

}  // namespace vz

#endif  // VAVIZAR_GENERATE_ASP_CODE_H_
