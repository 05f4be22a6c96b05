#include "generate/page_text.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace vz {
namespace {

std::string Show(TextView text) { return ToUtf8(text); }

// The places of "<!--" an observer has been told of, moved along with each
// edit the way the page text's own are: the test says which edit comes, and
// the places after it move once the removals are told and before the
// additions are.
class Recorder final : public PageText::Observer {
 public:
  void Expect(size_t from, size_t to, size_t inserted, size_t reach) {
    from_ = from;
    to_ = to;
    inserted_ = inserted;
    reach_ = reach;
    moved_ = false;
  }

  void Removing(const PageText& text, size_t at) override {
    EXPECT_FALSE(moved_) << "a place removed after one was added";
    EXPECT_TRUE(text.HasAt(at, u"<!--")) << at;
    EXPECT_TRUE(at + reach_ > from_ && at < to_)
        << "removed " << at << " for [" << from_ << ", " << to_ << ")";
    EXPECT_EQ(places_.erase(at), 1u) << "removed twice or never added: " << at;
  }

  void Added(const PageText& text, size_t at) override {
    Move();
    EXPECT_TRUE(text.HasAt(at, u"<!--")) << at;
    EXPECT_TRUE(places_.insert(at).second) << "added twice: " << at;
  }

  // Moves the places after the edit, unless an addition did.
  void Move() {
    if (moved_) return;
    moved_ = true;
    std::set<size_t> moved;
    for (size_t at : places_) {
      EXPECT_FALSE(at + reach_ > from_ && at < to_) << "a place the edit touched was kept: " << at;
      moved.insert(at >= to_ ? at - to_ + from_ + inserted_ : at);
    }
    places_.swap(moved);
  }

  std::set<size_t> places_;

 private:
  size_t from_ = 0;
  size_t to_ = 0;
  size_t inserted_ = 0;
  size_t reach_ = 0;
  bool moved_ = true;
};

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

// The places the page text keeps are every "<!--" of the text, with the
// key of what follows each.
void ExpectPlaces(const PageText& page, const Text& model) {
  std::vector<size_t> places;
  page.ForEachComment([&](size_t at) { places.push_back(at); });
  EXPECT_EQ(places, Starts(model, u"<!--")) << Show(model);
  for (size_t at : places) {
    const uint64_t key = PageText::KeyOf(TextView(model).substr(at + 4));
    bool seen = false;
    page.ForEachComment(key, key, [&](size_t place, uint64_t) {
      seen = seen || place == at;
      return true;
    });
    EXPECT_TRUE(seen) << "the place " << at << " has another key";
  }
  EXPECT_EQ(page.comments(), places.size());
}

// Random edits, with copies of the text before them, on page texts of small
// blocks, against the same edits on a string: every search and copy gives
// what the string gives, the kept places are the string's, and the observer
// hears of exactly the places the edits touch.
TEST(PageText, BehavesAsAStringThroughEdits) {
  Maker maker(31);
  for (int round = 0; round < 3000; ++round) {
    Text model = maker.Pieces(maker.Below(16));
    const size_t block_chars = round % 5 == 0 ? PageText::kBlockChars : 1 + maker.Below(9);
    PageText page(model, block_chars);
    const size_t reach = 4 + PageText::kWordChars + maker.Below(20);
    Recorder recorder;
    page.KeepComments(reach);
    page.ForEachComment([&](size_t at) { recorder.places_.insert(at); });
    page.Tell(&recorder);
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
      recorder.Expect(from, to, inserted.size(), reach);
      EXPECT_EQ(page.Replace(from, to, parts, copy_from), inserted.size());
      recorder.Move();
      model.replace(from, to - from, inserted);
      ExpectReadsAlike(page, model, maker);
      ExpectPlaces(page, model);
      EXPECT_EQ(std::vector<size_t>(recorder.places_.begin(), recorder.places_.end()),
                Starts(model, u"<!--"));
      if (HasFailure()) return;
    }
    page.Tell(nullptr);
    EXPECT_EQ(Show(page.Take()), Show(model));
  }
}

}  // namespace
}  // namespace vz
