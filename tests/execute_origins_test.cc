#include "execute/execute_origins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "execute/execute_code.h"
#include "platform/failure.h"
#include "tests/execute_code_reference.h"
#include "tests/execute_origins_check.h"

namespace vz {
namespace {

// The runs of `page` built from the rules over the reference's segments:
// one run per written piece, copies joined while they follow on.
std::vector<ExecRun> ModelRuns(const Text& page) {
  using reference::kCrLf, reference::kLineEnd, reference::kLoneCr, reference::kLoneLf,
      reference::kQuote, reference::kWrite;
  std::vector<ExecRun> out;
  size_t end = 0;
  auto write = [&](TextView piece, size_t source) {
    out.push_back({end, piece.size(), false, source});
    end += piece.size();
  };
  auto copy = [&](size_t at) {
    if (out.back().copied && out.back().source + out.back().length == at) {
      ++out.back().length;
    } else {
      out.push_back({end, 1, true, at});
    }
    ++end;
  };
  const size_t n = page.size();
  auto existing = [&](size_t at) { return at < n ? at : (n > 0 ? n - 1 : 0); };
  for (const reference::Cut& cut : reference::Segments(page)) {
    if (cut.is_code) {
      write(kCrLf, cut.start - 2);
      for (size_t i = cut.start; i < cut.end; ++i) copy(i);
      write(kCrLf, existing(cut.end));
      continue;
    }
    // The scan opens HTML only at a character that does not begin "<%", so
    // a segment is empty only when the text is.
    EXPECT_TRUE(cut.start < cut.end || n == 0);
    write(kWrite, cut.start);
    for (size_t i = cut.start; i < cut.end; ++i) {
      const char16_t c = page[i];
      if (c == u'"') {
        copy(i);
        write(kQuote, i);
      } else if (c == u'\r' && i + 1 < cut.end && page[i + 1] == u'\n') {
        write(kLineEnd, i++);
      } else if (c == u'\r' || c == u'\n') {
        write(c == u'\r' ? kLoneCr : kLoneLf, i);
      } else {
        copy(i);
      }
    }
    write(kQuote, existing(cut.end));
  }
  return out;
}

// Checks the runs of `page`: they rebuild ExecuteCodeOf and are those the
// rules give.
void CheckRuns(const Text& page) {
  SCOPED_TRACE(ToUtf8(page));
  const std::vector<ExecRun> runs = ExecuteCodeRuns(page);
  ASSERT_EQ(reference::RebuildError(page, ExecuteCodeOf(page), runs), "");
  const std::vector<ExecRun> model = ModelRuns(page);
  ASSERT_EQ(runs.size(), model.size());
  for (size_t k = 0; k < runs.size(); ++k) ASSERT_EQ(runs[k], model[k]) << "run " << k;
}

// Texts of many delimiters, quotes and line breaks, weighted so that
// delimiters are often cut off or stand next to each other; every eighth is
// long enough for several segments, with stretches of plain text that move
// the rest across the blocks the scan reads at once.
Text RandomPage(std::mt19937& rng) {
  static const char16_t kAlphabet[] = u"<<<%%%>>\"\"\r\r\n\naab= \u6a21";
  const size_t length = rng() % 8 == 0 ? rng() % 300 : rng() % 24;
  Text page;
  while (page.size() < length) {
    if (rng() % 16 == 0) page.append(rng() % 40, u'x');
    page += kAlphabet[rng() % (std::size(kAlphabet) - 1)];
  }
  return page;
}

TEST(ExecuteCodeRuns, RebuildExecuteCodeAndFollowTheRulesOnEveryShortText) {
  // Every text of up to five characters over the characters that matter.
  static const char16_t kChars[] = {u'<', u'%', u'>', u'"', u'\r', u'\n', u'a'};
  std::vector<Text> pages = {u""};
  for (size_t from = 0; pages[from].size() < 5; ++from)
    for (char16_t c : kChars) pages.push_back(pages[from] + c);
  for (const Text& page : pages) {
    CheckRuns(page);
    if (HasFatalFailure()) return;
  }
}

TEST(ExecuteCodeRuns, RebuildExecuteCodeAndFollowTheRulesOnRandomTexts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    CheckRuns(RandomPage(rng));
    if (HasFatalFailure()) return;
  }
}

// A compact form of runs: "w16@0" is a written run of 16 for character 0,
// "c2+3" a copy of 3 characters from character 2.
std::string Compact(const std::vector<ExecRun>& runs) {
  std::string out;
  for (const ExecRun& run : runs) {
    if (!out.empty()) out += ' ';
    out += run.copied ? 'c' : 'w';
    out += std::to_string(run.copied ? run.source : run.length);
    out += run.copied ? '+' : '@';
    out += std::to_string(run.copied ? run.length : run.source);
  }
  return out;
}

TEST(ExecuteCodeRuns, WrittenPiecesAreTiedToTheirCharacters) {
  struct Case {
    const char16_t* page;
    const char* runs;
  };
  const Case cases[] = {
      {u"", "w16@0 w1@0"},  // no character: position 0
      {u"a\"b", "w16@0 c0+2 w1@1 c2+1 w1@2"},
      {u"\"\"", "w16@0 c0+1 w1@0 c1+1 w1@1 w1@1"},
      {u"a\r\nb", "w16@0 c0+1 w28@1 c3+1 w1@3"},
      {u"\r\n", "w16@0 w28@0 w1@1"},
      {u"a\rb", "w16@0 c0+1 w12@1 c2+1 w1@2"},
      {u"a\nb", "w16@0 c0+1 w12@1 c2+1 w1@2"},
      {u"\r\r\n", "w16@0 w12@0 w28@1 w1@2"},
      {u"ab<%x%>cd", "w16@0 c0+2 w1@2 w2@2 c4+1 w2@5 w16@7 c7+2 w1@8"},
      {u"<%x%>\r\n", "w2@0 c2+1 w2@3 w16@5 w28@5 w1@6"},
      {u"<%%>", "w2@0 w2@2"},  // an empty code segment
      {u"<%a%><%b%>", "w2@0 c2+1 w2@3 w2@5 c7+1 w2@8"},
      {u"ab<%xy", "w16@0 c0+2 w1@2 w2@2 c4+2 w2@5"},  // never closed
      {u"<%x", "w16@0 c0+3 w1@2"},                    // no "%>": all HTML
      {u"a<%", "w16@0 c0+1 w1@1"},                    // a "<%" that ends the text
      {u"<%a%>b<%", "w2@0 c2+1 w2@3 w16@5 c5+1 w1@6"},
  };
  for (const Case& c : cases) EXPECT_EQ(Compact(ExecuteCodeRuns(c.page)), c.runs) << ToUtf8(c.page);
}

// The origin of character `at` of the runs, as they describe it.
Origin OriginOf(const std::vector<OriginRun>& runs, size_t at) {
  for (const OriginRun& run : runs) {
    if (at - run.start >= run.length) continue;
    Origin origin = run.origin;
    if (!origin.converted && origin.kind != Origin::Kind::kGenerated)
      origin.offset += at - run.start;
    return origin;
  }
  ADD_FAILURE() << "no run holds " << at;
  return {};
}

// Runs covering `length` characters, cut at random, of random origins; one
// in three goes on from the one before, so that copies can be joined across
// the cut.
std::vector<OriginRun> RandomOrigins(std::mt19937& rng, size_t length) {
  std::vector<OriginRun> runs;
  for (size_t at = 0; at < length;) {
    OriginRun run;
    run.start = at;
    run.length = std::min<size_t>(length - at, 1 + rng() % 6);
    if (!runs.empty() && rng() % 3 == 0) {
      const OriginRun& last = runs.back();
      run.origin = last.origin;
      if (run.origin.kind != Origin::Kind::kGenerated) run.origin.offset += last.length;
    } else {
      run.origin.kind = static_cast<Origin::Kind>(rng() % 3);
      run.origin.row =
          run.origin.kind == Origin::Kind::kCode ? static_cast<int32_t>(rng() % 3) : -1;
      run.origin.occurrence =
          run.origin.kind == Origin::Kind::kTemplate ? -1 : static_cast<int32_t>(rng() % 3);
      run.origin.offset = run.origin.kind == Origin::Kind::kGenerated ? 0 : rng() % 40;
    }
    runs.push_back(run);
    at += run.length;
  }
  return runs;
}

TEST(ComposeOrigins, CopiesTakeTheirSourcesOriginsAndWrittenRunsTheirCharacters) {
  std::mt19937 rng(99);
  for (int round = 0; round < 5000; ++round) {
    const Text page = RandomPage(rng);
    SCOPED_TRACE(ToUtf8(page));
    const std::vector<OriginRun> page_runs = RandomOrigins(rng, page.size());
    const std::vector<ExecRun> exec_runs = ExecuteCodeRuns(page);
    const std::vector<OriginRun> runs = ComposeOrigins(page_runs, exec_runs);
    // The one-scan form the component uses gives the same.
    ASSERT_EQ(ExecuteCodeOrigins(page, page_runs), runs);

    size_t end = 0;
    for (size_t k = 0; k < runs.size(); ++k) {
      ASSERT_EQ(runs[k].start, end);
      ASSERT_GT(runs[k].length, 0u);
      end += runs[k].length;
      if (k == 0) continue;
      // Joined wherever they go on from each other.
      const Origin& a = runs[k - 1].origin;
      const Origin& b = runs[k].origin;
      const bool same = a.kind == b.kind && a.row == b.row && a.occurrence == b.occurrence;
      const size_t next =
          a.kind == Origin::Kind::kGenerated ? a.offset : a.offset + runs[k - 1].length;
      EXPECT_FALSE(!a.converted && !b.converted && same && b.offset == next) << "run " << k;
    }
    ASSERT_EQ(end, ExecuteCodeOf(page).size());

    for (const ExecRun& exec : exec_runs) {
      if (exec.copied) {
        for (size_t i = 0; i < exec.length; ++i)
          ASSERT_EQ(OriginOf(runs, exec.start + i), OriginOf(page_runs, exec.source + i));
        continue;
      }
      // Written: one run of its own, the origin of its character, converted.
      Origin origin = page.empty() ? Origin{} : OriginOf(page_runs, exec.source);
      origin.converted = true;
      const OriginRun written{exec.start, exec.length, origin};
      ASSERT_EQ(std::count(runs.begin(), runs.end(), written), 1);
    }
  }
}

TEST(ComposeOrigins, EmptyTextAndSourceOutsideTheOrigins) {
  Origin start;
  start.converted = true;
  const std::vector<OriginRun> empty = {{0, 16, start}, {16, 1, start}};
  EXPECT_EQ(ComposeOrigins({}, ExecuteCodeRuns(u"")), empty);
  EXPECT_EQ(ExecuteCodeOrigins(u"", {}), empty);

  const std::vector<OriginRun> one = {{0, 1, Origin{}}};
  try {
    ComposeOrigins(one, {{0, 2, true, 0}});
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), kInvalidArgument);
    EXPECT_EQ(failure.description(), u"No origin for character 1 of the server-page text");
  }
}

}  // namespace
}  // namespace vz
