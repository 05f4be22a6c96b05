#include "platform/text.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/memory.h"

namespace vz {
namespace {

// Runs `fn` and returns the failure number it raised, or 0.
template <typename Fn>
int32_t FailureOf(Fn&& fn) {
  try {
    fn();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

struct InStrCase {
  int32_t start;
  const char16_t* s;
  const char16_t* find;
  int32_t expected;
};

TEST(InStr, Table) {
  const InStrCase cases[] = {
      {1, u"abcabc", u"abc", 1},
      {2, u"abcabc", u"abc", 4},
      {5, u"abcabc", u"abc", 0},
      {6, u"abcabc", u"c", 6},
      {7, u"abcabc", u"c", 0},
      {100, u"abc", u"a", 0},
      {1, u"", u"a", 0},
      {1, u"", u"", 0},
      {1, u"abc", u"", 1},
      {3, u"abc", u"", 3},
      {4, u"abc", u"", 0},
      {1, u"abc", u"abcd", 0},
      {1, u"aaa", u"aa", 1},
      {2, u"aaa", u"aa", 2},
      {1, u"ABC", u"abc", 0},
      {1, u"x<!--box-->", u"<!--box-->", 2},
      {1, u"\u6a21\u677f", u"\u677f", 2},
      {1, u"<<<<<<<<<<<<<<<<<<<<!--a-->", u"<!--a", 20},
  };
  for (const InStrCase& c : cases) {
    EXPECT_EQ(InStr(c.start, c.s, c.find), c.expected)
        << "InStr(" << c.start << ", " << ToUtf8(c.s) << ", " << ToUtf8(c.find) << ")";
  }
}

TEST(InStr, StartBelowOneIsInvalidArgument) {
  EXPECT_EQ(FailureOf([] { InStr(0, u"abc", u"a"); }), kInvalidArgument);
  EXPECT_EQ(FailureOf([] { InStr(-5, u"abc", u"a"); }), kInvalidArgument);
}

TEST(LeftRightMid, Table) {
  EXPECT_EQ(Left(u"abcdef", 0), u"");
  EXPECT_EQ(Left(u"abcdef", 2), u"ab");
  EXPECT_EQ(Left(u"abcdef", 6), u"abcdef");
  EXPECT_EQ(Left(u"abcdef", 99), u"abcdef");
  EXPECT_EQ(Left(u"", 3), u"");
  EXPECT_EQ(Right(u"abcdef", 0), u"");
  EXPECT_EQ(Right(u"abcdef", 2), u"ef");
  EXPECT_EQ(Right(u"abcdef", 99), u"abcdef");
  EXPECT_EQ(Mid(u"abcdef", 1), u"abcdef");
  EXPECT_EQ(Mid(u"abcdef", 3), u"cdef");
  EXPECT_EQ(Mid(u"abcdef", 6), u"f");
  EXPECT_EQ(Mid(u"abcdef", 7), u"");
  EXPECT_EQ(Mid(u"abcdef", 2147483647), u"");
  EXPECT_EQ(Mid(u"abcdef", 2, 3), u"bcd");
  EXPECT_EQ(Mid(u"abcdef", 2, 0), u"");
  EXPECT_EQ(Mid(u"abcdef", 5, 10), u"ef");
  EXPECT_EQ(Mid(u"abcdef", 7, 1), u"");
  EXPECT_EQ(Mid(u"abcdef", 4, 2147483647), u"def");
}

TEST(LeftRightMid, OutOfRangeArgumentsAreInvalidArgument) {
  EXPECT_EQ(FailureOf([] { Left(u"abc", -1); }), kInvalidArgument);
  EXPECT_EQ(FailureOf([] { Right(u"abc", -1); }), kInvalidArgument);
  EXPECT_EQ(FailureOf([] { Mid(u"abc", 0); }), kInvalidArgument);
  EXPECT_EQ(FailureOf([] { Mid(u"abc", 0, 1); }), kInvalidArgument);
  EXPECT_EQ(FailureOf([] { Mid(u"abc", 1, -1); }), kInvalidArgument);
  // The negative length fails even where the start lies past the end.
  EXPECT_EQ(FailureOf([] { Mid(u"abc", 9, -1); }), kInvalidArgument);
  EXPECT_EQ(FailureOf([] { Mid(u"", -1, 0); }), kInvalidArgument);
}

TEST(Replace, Table) {
  struct Case {
    const char16_t *s, *find, *repl, *expected;
  } cases[] = {
      {u"", u"a", u"b", u""},
      {u"abc", u"", u"x", u"abc"},
      {u"abc", u"d", u"x", u"abc"},
      {u"aaaa", u"aa", u"b", u"bb"},
      {u"aaa", u"aa", u"b", u"ba"},
      {u"a/b/c", u"/", u"\\", u"a\\b\\c"},
      {u"[data][data]", u"[data]", u"%>x<%", u"%>x<%%>x<%"},
      {u"xyx", u"x", u"", u"y"},
      {u"aba", u"a", u"aa", u"aabaa"},  // the replacement is not rescanned
      {u"\u6a21/\u677f/", u"/", u"\\", u"\u6a21\\\u677f\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Replace(c.s, c.find, c.repl), c.expected)
        << "Replace(" << ToUtf8(c.s) << ", " << ToUtf8(c.find) << ", " << ToUtf8(c.repl) << ")";
  }
}

// The vectorised search against the standard library's, on texts full of
// near misses: small alphabets, needles cut from the text, every alignment.
TEST(Find, MatchesStandardSearchOnGeneratedTexts) {
  std::mt19937 rng(20261208);
  const char16_t alphabet[] = u"<!-ab>\u6a21";
  for (int round = 0; round < 20000; ++round) {
    size_t n = rng() % 80;
    Text h;
    for (size_t i = 0; i < n; ++i) h.push_back(alphabet[rng() % 7]);
    Text needle;
    if (n > 0 && rng() % 2 == 0) {
      size_t at = rng() % n;
      needle = h.substr(at, 1 + rng() % 12);
    } else {
      size_t m = rng() % 6;
      for (size_t i = 0; i < m; ++i) needle.push_back(alphabet[rng() % 7]);
    }
    size_t from = rng() % (n + 3);
    ASSERT_EQ(Find(h, needle, from), TextView(h).find(needle, from))
        << "text=" << ToUtf8(h) << " needle=" << ToUtf8(needle) << " from=" << from;
  }
}

TEST(Find, LongTextsAndNeedleAtTheVeryEnd) {
  Text page(100000, u'<');
  page += u"<!--box-->";
  EXPECT_EQ(Find(page, u"<!--box-->"), 100000u);
  EXPECT_EQ(Find(page, u"<!--box-->", 100001), TextView::npos);
  EXPECT_EQ(Find(page, u"<", 99999), 99999u);
  EXPECT_EQ(Count(page, u"<<"), 50000u);
  EXPECT_EQ(Count(page, u""), 0u);
}

TEST(TextLength, GrowthPastTheBoundIsOutOfStringSpace) {
  EXPECT_EQ(FailureOf([] { CheckTextLength(kMaxTextLength + 1); }), kOutOfStringSpace);
  EXPECT_EQ(FailureOf([] { CheckTextLength(-1); }), kOutOfStringSpace);
  EXPECT_EQ(FailureOf([] { CheckTextLength(kMaxTextLength); }), 0);
  // Replace knows its result's length before building it: 2^16 occurrences
  // each grown by 2^15 characters is 2^31, one past the bound. Nothing of
  // that size is allocated.
  Text s(65536, u'x');
  Text big(32769, u'y');
  EXPECT_EQ(FailureOf([&] { Replace(s, u"x", big); }), kOutOfStringSpace);
}

TEST(Concat, JoinsAndAppendKeepsTextOnFailure) {
  EXPECT_EQ(Concat({u"a", u"", u"bc", u"\r\n"}), u"abc\r\n");
  EXPECT_EQ(Concat({}), u"");
  Text s = u"keep";
  Append(s, u"!");
  EXPECT_EQ(s, u"keep!");
}

TEST(Utf8, RoundTripsAndRepairs) {
  struct Case {
    std::string utf8;
    Text utf16;
  } cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {"\xe6\xa8\xa1\xe6\x9d\xbf\xe4\xb8\x8d\xe5\xad\x98\xe5\x9c\xa8\xe3\x80\x82",
       u"\u6a21\u677f\u4e0d\u5b58\u5728\u3002"},
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\xc3\xa9", u"\u00e9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
  }
}

TEST(Utf8, InvalidSequencesBecomeReplacementCharacters) {
  struct Case {
    std::string utf8;
    Text utf16;
  } cases[] = {
      {"\xff", u"\ufffd"},
      {"a\x80z", u"a\ufffdz"},
      {"\xc0\xaf", u"\ufffd\ufffd"},                      // overlong
      {"\xe6\xa8", u"\ufffd"},                            // cut inside a character
      {"\xe6\xa8x", u"\ufffdx"},                          // cut, then ASCII
      {"\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},            // an encoded surrogate
      {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // past U+10FFFF
      {"\xf0\x9f\x98", u"\ufffd"},
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.utf8), c.utf16) << c.utf8.size();
}

TEST(Utf8, EveryPrefixOfValidTextDecodesWithoutFailure) {
  const std::string full = "a\xe6\xa8\xa1\xf0\x9f\x98\x80z\xc3\xa9";
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    Text decoded = FromUtf8(full.substr(0, cut));
    EXPECT_LE(decoded.size(), cut);
    EXPECT_EQ(FromUtf8(ToUtf8(decoded)), decoded);
  }
}

TEST(Utf8, LoneSurrogatesBecomeReplacementCharacters) {
  Text lone_high = u"a";
  lone_high.push_back(char16_t{0xD800});
  lone_high.push_back(u'b');
  EXPECT_EQ(ToUtf8(lone_high),
            "a\xef\xbf\xbd"
            "b");
  Text lone_low(1, char16_t{0xDC00});
  EXPECT_EQ(ToUtf8(lone_low), "\xef\xbf\xbd");
  Text high_at_end(1, char16_t{0xDBFF});
  EXPECT_EQ(ToUtf8(high_at_end), "\xef\xbf\xbd");
}

// HasSurrogate against a test of every unit, with one unit of either side of
// the surrogate range's edges at every place of texts around its step.
TEST(HasSurrogate, MatchesATestOfEveryUnit) {
  const char16_t edges[] = {0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0x5800, 0xF800};
  for (size_t size : {0, 1, 63, 64, 65, 130}) {
    for (size_t at = 0; at < std::max<size_t>(size, 1); ++at) {
      for (char16_t unit : edges) {
        Text text(size, u'x');
        if (size > 0) text[at] = unit;
        const bool expected = std::any_of(text.begin(), text.end(),
                                          [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; });
        EXPECT_EQ(HasSurrogate(text), expected) << size << " " << at << " " << int{unit};
      }
    }
  }
}

// ToUtf8 against the encoding written one code point at a time, on texts of
// ASCII runs of every length around the size of its buffer, other BMP
// characters, pairs and lone surrogate halves.
TEST(Utf8, EncodingMatchesOneCodePointAtATime) {
  auto literal = [](TextView in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
      uint32_t cp = in[i];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
          in[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
      } else if (cp >= 0xD800 && cp <= 0xDFFF) {
        cp = 0xFFFD;
      }
      if (cp < 0x80) {
        out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        out += {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
      } else if (cp < 0x10000) {
        out += {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                static_cast<char>(0x80 | (cp & 0x3F))};
      } else {
        out +=
            {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
             static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
      }
    }
    return out;
  };
  static const char16_t kOthers[] = {0x7F,   0x80,   0xE9,   0x7FF,  0x800,  0x6A21, 0xFFFF,
                                     0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00};
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    Text text;
    const size_t pieces = random() % 12;
    for (size_t i = 0; i < pieces; ++i) {
      if (random() % 2 == 0) {
        const size_t run = random() % 3 == 0 ? 4090 + random() % 12 : random() % 40;
        text.append(run, static_cast<char16_t>(u'a' + random() % 26));
      } else {
        text.push_back(kOthers[random() % std::size(kOthers)]);
      }
    }
    ASSERT_EQ(ToUtf8(text), literal(text)) << round;
  }
}

TEST(DecimalText, SignsAndExtremes) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(-2147217900), u"-2147217900");
  EXPECT_EQ(DecimalText(1234567), u"1234567");
}

TEST(DoubleText, Table) {
  struct Case {
    double value;
    const char16_t* text;
  } cases[] = {
      {0.1 + 0.2, u"0.3"},
      {2.5, u"2.5"},
      {-2.5, u"-2.5"},
      {0.0, u"0"},
      {-0.0, u"0"},
      {100, u"100"},
      {1.0 / 3, u"0.333333333333333"},
      {2.0 / 3, u"0.666666666666667"},
      {999999999999999.0, u"999999999999999"},
      {1e15, u"1E+15"},
      {123456789012345678.0, u"1.23456789012346E+17"},
      {1e20, u"1E+20"},
      {-1e20, u"-1E+20"},
      {0.0001, u"0.0001"},
      {0.00001, u"1E-05"},
      {1.5e-7, u"1.5E-07"},
      {1e100, u"1E+100"},
      {1.7976931348623157e308, u"1.79769313486232E+308"},
      {5e-324, u"4.94065645841247E-324"},
      {std::numeric_limits<double>::infinity(), u"INF"},
      {-std::numeric_limits<double>::infinity(), u"-INF"},
      {std::numeric_limits<double>::quiet_NaN(), u"NAN"},
  };
  for (const Case& c : cases) EXPECT_EQ(DoubleText(c.value), c.text) << c.value;
}

// The conversion is printf's "%.15G" in the "C" locale, minus the negative
// zero: checked on random bit patterns, which cover every exponent.
TEST(DoubleText, MatchesPrintfOnRandomValues) {
  std::mt19937_64 random(20260315);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (i % 2) value = std::ldexp(static_cast<double>(bits >> 11), -53 + (i % 80) - 40);
    if (std::isnan(value)) continue;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::string expected = buffer;
    if (expected == "-0") expected = "0";
    ASSERT_EQ(ToUtf8(DoubleText(value)), expected) << bits;
  }
}

TEST(EqualsIgnoringAsciiCase, FoldsOnlyAsciiLetters) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool equal;
  } cases[] = {
      {u"Provider", u"provider", true},
      {u"DATA SOURCE", u"data source", true},
      {u"", u"", true},
      {u"a", u"", false},
      {u"ab", u"abc", false},
      {u"\u00C9", u"\u00E9", false},  // É, é: not ASCII
      {u"@[`{", u"@[`{", true},
      {u"[", u"{", false},  // neighbours of the letters
      {u"I", u"i", true},
      {u"\u0130", u"i", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal) << ToUtf8(c.a) << " " << ToUtf8(c.b);
  }
}

}  // namespace
}  // namespace vz

namespace vz {
namespace {

TEST(ReserveText, GrowingKeepsTheContent) {
  for (size_t size : {size_t{0}, size_t{10}, size_t{3} << 20}) {
    Text s(size, u'a');
    if (size > 0) s.back() = u'z';
    Text before = s;
    ReserveText(s, size + (size_t{5} << 20));
    EXPECT_GE(s.capacity(), size + (size_t{5} << 20));
    EXPECT_EQ(s, before);
    GrowText(s, s.capacity() - s.size() + 1);  // one past the room there is
    EXPECT_EQ(s, before);
    EXPECT_GT(s.capacity(), size + (size_t{5} << 20));
    s.append(u"tail");
    EXPECT_EQ(s.substr(size), u"tail");
  }
  Text small = u"abc";
  ReserveText(small, 1);  // never shrinks
  EXPECT_EQ(small, u"abc");
}

// The heap's mapping in /proc/self/smaps: where it starts and ends, and how
// many KB of it are in huge pages; {0, 0, 0} when there is none.
struct HeapMapping {
  uintptr_t from = 0;
  uintptr_t to = 0;
  size_t huge_kb = 0;
};

HeapMapping ReadHeapMapping() {
  HeapMapping heap;
  std::FILE* smaps = std::fopen("/proc/self/smaps", "r");
  if (smaps == nullptr) return heap;
  char line[512];
  bool in_heap = false;
  while (std::fgets(line, sizeof line, smaps) != nullptr) {
    unsigned long from = 0, to = 0;
    size_t kb = 0;
    if (std::sscanf(line, "%lx-%lx ", &from, &to) == 2 && std::strchr(line, '-') != nullptr &&
        std::strstr(line, " rw") != nullptr) {
      // The heap may be split in parts as advice changes: all are counted.
      in_heap = std::strstr(line, "[heap]") != nullptr;
      if (in_heap) {
        if (heap.from == 0) heap.from = from;
        heap.to = to;
      }
    } else if (in_heap && std::sscanf(line, "AnonHugePages: %zu kB", &kb) == 1) {
      heap.huge_kb += kb;
    }
  }
  std::fclose(smaps);
  return heap;
}

// In a child process: puts the start of the heap's free top `offset` bytes
// into a 2 MB page, has the heap come in huge pages, and writes 8 MB in 4 KB
// blocks, as a page's rows and texts are had. Exits 0 when that took a
// handful of faults (huge pages), 1 when it took more, 2 when the blocks do
// not come from the heap.
[[noreturn]] void WriteBlocksAfterHeapAt(uintptr_t offset) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const uintptr_t free_top = reinterpret_cast<uintptr_t>(sbrk(0)) - mallinfo2().keepcost;
  void* volatile filler = std::malloc((offset - free_top % kHuge + kHuge) % kHuge + kHuge);
  (void)filler;
  UseHugePagesForHeap(size_t{64} << 20);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const long faults = usage.ru_minflt;
  constexpr size_t kBlock = size_t{4} << 10;
  std::vector<char*> blocks(2048);
  for (char*& block : blocks) {
    block = static_cast<char*>(std::malloc(kBlock));
    std::memset(block, 'x', kBlock);
  }
  getrusage(RUSAGE_SELF, &usage);
  const HeapMapping heap = ReadHeapMapping();
  const auto at = reinterpret_cast<uintptr_t>(blocks.front());
  if (at < heap.from || at >= heap.to) _exit(2);
  _exit(usage.ru_minflt - faults <= 64 ? 0 : 1);
}

TEST(UseHugePagesForHeap, LaterHeapBuffersComeInHugePages) {
  std::FILE* setting = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
  char mode[128] = {};
  if (setting != nullptr) {
    if (std::fgets(mode, sizeof mode, setting) == nullptr) mode[0] = 0;
    std::fclose(setting);
  }
  if (std::strstr(mode, "[madvise]") == nullptr && std::strstr(mode, "[always]") == nullptr)
    GTEST_SKIP() << "this system gives no huge pages on request";

  // As the command has it: texts of a few megabytes come from the heap.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // Wherever the heap's free top starts in its 2 MB page, what comes after
  // it comes in huge pages: the rest of that page is not handed out 4 KB at
  // a time, and no huge page is touched before it is advised.
  for (uintptr_t kb : {256, 768, 1024, 1300, 1800, 2040}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) WriteBlocksAfterHeapAt(kb << 10);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "this allocator keeps no such heap";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "free top " << kb << " KB into its 2 MB page";
  }
}

}  // namespace
}  // namespace vz
