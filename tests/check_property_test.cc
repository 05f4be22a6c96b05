// vavizar check keeps its promise on generated pages: every page whose
// generation fails, or whose result shows a symptom of tests/page_symptoms.h,
// has a finding that accounts for it. Pages and rows are made from pieces
// that hit the expansion's rules: both opening forms, closing tags before,
// between and after, near-miss closing tags, attribute texts written as in
// HTML, codes with no, one or two "[data]", codes that bring in markup of
// other rows and custom tags, characters Latin-1 cannot hold, and a few
// names the trace does not follow.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/template_lint.h"
#include "tests/page_symptoms.h"

namespace vz {
namespace {

using cli::TagRow;

class PageMaker {
 public:
  explicit PageMaker(uint64_t seed) : rng_(seed) {}

  struct Page {
    Text templet;
    std::vector<TagRow> rows;
  };

  Page Next() {
    Page page;
    for (uint32_t r = 1 + Below(4); r > 0; --r) {
      TagRow row;
      if (Below(100) != 0) row.name = RowName();
      if (Below(100) != 0) row.code = Code();
      page.rows.push_back(std::move(row));
    }
    for (uint32_t i = Below(Below(4) == 0 ? 40 : 14); i > 0; --i) page.templet += Fragment();
    return page;
  }

 private:
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

  template <size_t N>
  Text Pick(const char16_t* const (&choices)[N]) {
    return choices[Below(N)];
  }

  Text RowName() {
    static const char16_t* const kOdd[] = {u"", u"a b", u"p<", u"/box"};
    return Below(40) == 0 ? Pick(kOdd) : Name();
  }

  Text Name() {
    static const char16_t* const kNames[] = {u"box", u"box", u"nav", u"a-b", u"x",
                                             u"x-",  u"bo",  u"a--", u"n.v"};
    return Pick(kNames);
  }

  // Names that no row has, and one only a letter case away.
  Text Ghost() {
    static const char16_t* const kGhosts[] = {u"ghost", u"late", u"Box"};
    return Pick(kGhosts);
  }

  Text Attributes() {
    static const char16_t* const kAttributes[] = {
        u"w=1&h=2",       u"w=1 h=2",  u"w=\"a b\"", u"",        u"flag",     u"w=1\nh=2",
        u"w=1&\nh=2",     u"a=x=y",    u"t=50%>",    u"w=<!--x", u"n=\u20AC", u"w=1&",
        u"w=<!--box a=1", u"<!--/box", u" w=1",      u"w =1",    u"_a=1",
    };
    return Pick(kAttributes);
  }

  Text Fragment() {
    const Text name = Below(6) == 0 ? Ghost() : Name();
    switch (Below(22)) {
      case 0:
      case 1:
      case 2:
        return u"<!--" + name + u"-->";
      case 3:
      case 4:
        return u"<!--" + name + u" " + Attributes() + u"-->";
      case 5:
      case 6:
      case 7:
        return u"<!--/" + name + u"-->";
      case 8:
        return u"<!--/" + name;
      case 9:
        return Below(2) ? u"<!--/" + name + u" -->" : u"<!-- /" + name + u"-->";
      case 10:
        return u"<!--" + name + u" " + Attributes();
      case 11:
        return u"<p>x</p>";
      case 12:
        return u"\n";
      case 13:
        return u"-->";
      case 14:
        return u"<!--";
      case 15:
        return u"<!-- note -->";
      case 16:
        return Below(2) ? u"\u20AC" : u"\u4E2D\u00E9";
      case 17:
        return u"&=";
      case 18:
        return u"<!--" + name + u" a=1-->y<!--/" + name + u"-->";
      default:
        return u"t";
    }
  }

  Text Code() {
    Text code(1, symptoms::kCodeMark);
    for (uint32_t i = Below(5); i > 0; --i) {
      switch (Below(16)) {
        case 0:
        case 1:
        case 2:
          code += u"[data]";
          break;
        case 3:
          code += u"<!--/" + Name() + u"-->";
          break;
        case 4:
          code += u"<!--" + Name() + u"-->";
          break;
        case 5:
          code += u"-->";
          break;
        case 6:
          code += u"\u20AC";
          break;
        case 7:
          code += Below(2) ? u"<!--ghost-->x<!--/ghost-->" : u"<!--late a=1-->";
          break;
        case 8:
          code += u"<!--" + Name() + u" w=1-->";
          break;
        case 9:
          code += u"\r\n";
          break;
        case 10:
          code += u"<!--" + Name() + u" " + Attributes() + u"-->";
          break;
        case 11:
          code += u"<!--" + Name() + u" " + Attributes();
          break;
        default:
          code += u"S";
      }
    }
    return code;
  }

  std::mt19937_64 rng_;
};

TEST(CheckPromise, EveryPageThatBreaksHasAFindingAtItsCause) {
  constexpr int kPages = 20000;
  PageMaker maker(20260101);
  std::map<std::string, int> seen;
  int explained = 0;
  for (int i = 0; i < kPages; ++i) {
    const PageMaker::Page page = maker.Next();
    const std::string encoding = i % 3 == 0 ? "ISO-8859-1" : "UTF-8";
    // Every fifth page gets a limit close above its template's length.
    const int64_t max_length =
        i % 5 == 0 ? static_cast<int64_t>(page.templet.size()) + i % 40 : 4096;
    const symptoms::Generated generated = symptoms::Generate(page.templet, page.rows, max_length);
    if (generated.failed) ++seen["fails " + std::to_string(generated.number)];
    const std::vector<std::string> shown =
        symptoms::Of(generated, page.templet, page.rows, encoding, true);
    for (const std::string& s : shown) ++seen[s];
    if (shown.empty()) continue;
    cli::LintOptions options;
    options.encoding = encoding;
    options.max_length = max_length;
    const std::vector<cli::Finding> findings = cli::LintPage(page.templet, page.rows, options);
    const std::string missing = symptoms::Unexplained(shown, findings);
    std::string rows;
    for (const TagRow& row : page.rows) {
      rows += "\n  row " + (row.name ? ToUtf8(*row.name) : "NULL") + " | " +
              (row.code ? ToUtf8(*row.code) : "NULL");
    }
    ASSERT_EQ(missing, "") << "page " << i << " (" << encoding << ", limit " << max_length
                           << ")\n  template " << ToUtf8(page.templet) << rows << "\n  result "
                           << ToUtf8(generated.text);
    ++explained;
  }
  // Each symptom turns up often enough for the promise to be tried on it.
  for (const char* symptom : {"fails", "data", "tag-left", "custom", "attributes", "unencodable",
                              "fails 5", "fails 14", "fails 94"})
    EXPECT_GE(seen[symptom], 100) << symptom;
  EXPECT_GE(explained, 2000);
}

}  // namespace
}  // namespace vz
