#include "generate/page_text.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace vz {
namespace {

std::string Show(TextView text) { return ToUtf8(text); }

class Maker {
 public:
  explicit Maker(uint32_t seed) : rng_(seed) {}

  size_t Below(size_t n) { return static_cast<size_t>(rng_() % n); }

  Text Piece() {
    static const char16_t* const kPieces[] = {u"<!--", u"-->", u"<", u"!",     u"-",         u" ",
                                              u"a",    u"ab",  u"/", u"<!--a", u"abcdefghij"};
    return kPieces[Below(std::size(kPieces))];
  }

  Text Pieces(size_t count) {
    Text out;
    for (size_t i = 0; i < count; ++i) out += Piece();
    return out;
  }

 private:
  std::mt19937 rng_;
};

// Every start of `needle` in `text`, overlapping ones included.
std::vector<size_t> Starts(TextView text, TextView needle) {
  std::vector<size_t> starts;
  for (size_t at = text.find(needle); at != TextView::npos; at = text.find(needle, at + 1))
    starts.push_back(at);
  return starts;
}

// Searches, copies and looks at random places of the page and the model.
void ExpectReadsAlike(const PageText& page, const Text& model, Maker& maker) {
  ASSERT_EQ(page.size(), model.size());
  for (int k = 0; k < 4; ++k) {
    const Text needle = maker.Pieces(1 + maker.Below(2));
    const size_t lo = maker.Below(model.size() + 2);
    const size_t hi = lo + maker.Below(model.size() + 2);
    size_t expected = model.find(needle, lo);
    if (expected != Text::npos && expected >= hi) expected = Text::npos;
    EXPECT_EQ(page.Find(needle, lo, hi), expected)
        << Show(model) << " / " << Show(needle) << " in [" << lo << ", " << hi << ")";
    const size_t from = maker.Below(model.size() + 1);
    const size_t length = maker.Below(model.size() + 1 - from + 3);
    Text copy;
    page.CopyTo(from, std::min(model.size(), from + length), copy);
    EXPECT_EQ(Show(copy), Show(TextView(model).substr(from, length)));
    Text scratch;
    EXPECT_EQ(Show(page.Peek(from, length, scratch)), Show(TextView(model).substr(from, length)));
    EXPECT_EQ(page.HasAt(from, needle), TextView(model).substr(from).starts_with(needle));
  }
}

// The places the page text keeps are every "<!--" of the text, each with
// the key of what follows it, and it counts how many have each key.
void ExpectPlaces(const PageText& page, const Text& model) {
  std::vector<size_t> places;
  page.ForEachComment([&](size_t at) { places.push_back(at); });
  EXPECT_EQ(places, Starts(model, u"<!--")) << Show(model);
  EXPECT_EQ(page.comments(), places.size());
  std::map<uint64_t, uint32_t> counts;
  for (size_t at : places) {
    const uint64_t key = PageText::KeyOf(TextView(model).substr(at + 4));
    ++counts[key];
    bool seen = false;
    page.ForEachComment(key, key, [&](size_t place, uint64_t) {
      seen = seen || place == at;
      return true;
    });
    EXPECT_TRUE(seen) << "the place " << at << " has another key";
  }
  for (const auto& [key, count] : counts) EXPECT_EQ(page.CommentsWithKey(key), count);
  EXPECT_EQ(page.CommentsWithKey(PageText::KeyOf(u"zz")), counts[PageText::KeyOf(u"zz")]);
}

// Random edits, with copies of the text before them, on page texts of small
// blocks, against the same edits on a string: every search and copy gives
// what the string gives, and the kept places and counts of keys are the
// string's.
TEST(PageText, BehavesAsAStringThroughEdits) {
  Maker maker(31);
  for (int round = 0; round < 3000; ++round) {
    Text model = maker.Pieces(maker.Below(16));
    const size_t block_chars = round % 5 == 0 ? PageText::kBlockChars : 1 + maker.Below(9);
    PageText page(model, block_chars);
    page.KeepComments();
    for (int edit = 0; edit < 24 && !model.empty(); ++edit) {
      const size_t from = maker.Below(model.size());
      const size_t to = from + 1 + maker.Below(std::min<size_t>(model.size() - from, 12));
      const size_t copy_from = maker.Below(from + 1);
      std::vector<Text> pieces;  // an empty one stands for the copy
      Text inserted;
      for (size_t k = maker.Below(4); k > 0; --k) {
        if (maker.Below(3) == 0) {
          pieces.emplace_back();
          inserted += TextView(model).substr(copy_from, from - copy_from);
        } else {
          pieces.push_back(maker.Pieces(1 + maker.Below(3)));
          inserted += pieces.back();
        }
      }
      const std::vector<TextView> parts(pieces.begin(), pieces.end());
      SCOPED_TRACE(Show(model) + " [" + std::to_string(from) + ", " + std::to_string(to) + ") <- " +
                   Show(inserted));
      EXPECT_EQ(page.Replace(from, to, parts, copy_from), inserted.size());
      model.replace(from, to - from, inserted);
      ExpectReadsAlike(page, model, maker);
      ExpectPlaces(page, model);
      if (HasFailure()) return;
    }
    EXPECT_EQ(Show(page.Take()), Show(model));
  }
}

}  // namespace
}  // namespace vz
