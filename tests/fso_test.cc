#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/fso/code_page.h"
#include "platform/fso/decoder.h"
#include "platform/fso/encoder.h"
#include "platform/fso/fault.h"
#include "platform/fso/file_system.h"
#include "tests/store_fixture.h"

namespace vz::fso {
namespace {

using vz::testing::FailureOf;
using vz::testing::OpenDescriptors;
using vz::testing::TempDir;
using vz::testing::WriteBytes;

// Shows a text as code points, for failure messages.
std::string Dump(const Text& text) {
  std::string out;
  char unit[8];
  for (char16_t c : text) {
    snprintf(unit, sizeof unit, c < 0x80 && c >= 0x20 ? "%c" : "<%04X>", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

// A CharBuffer over a vector, grown only as asked.
class VectorBuffer final : public CharBuffer {
 public:
  char16_t* Reserve(size_t keep, size_t capacity) override {
    EXPECT_LE(keep, chars_.size());
    if (capacity > chars_.size()) chars_.resize(capacity);
    return chars_.data();
  }
  Text Take(size_t length) const { return Text(chars_.data(), length); }

 private:
  std::vector<char16_t> chars_;
};

struct DecodeCase {
  const char* code_page;
  std::string bytes;
  Text expected;
};

const DecodeCase kDecodeCases[] = {
    {"GBK", "\xC4\xA3\xB0\xE5", u"模板"},
    {"GBK", "<p>\xC4\xA3\xB0\xE5</p>\r\n", u"<p>模板</p>\r\n"},
    {"GBK", "\x80", u"€"},
    {"GBK", "a\xC4", u"a\uFFFD"},          // cut inside a character
    {"GBK", "\xC4\x20z", u"\uFFFD z"},     // a lead byte without its trail
    {"GBK", "\xFF\xC4\xA3", u"\uFFFD模"},  // a byte that leads nothing
    {"UTF-8", "\xE6\xA8\xA1\xE6\x9D\xBF", u"模板"},
    {"UTF-8", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"UTF-8", "\xEF\xBB\xBFx", u"\uFEFFx"},  // a byte-order mark is content
    {"UTF-8",
     "a\xFF"
     "b",
     u"a\uFFFDb"},
    {"UTF-8", "a\xE6\xA8", u"a\uFFFD"},
    {"UTF-8", "\xED\xA0\x80!", u"\uFFFD\uFFFD\uFFFD!"},  // an encoded surrogate
    {"UTF-8", "\xC0\xAF", u"\uFFFD\uFFFD"},              // an overlong form
    {"UTF-8", "x\ry\nz\r\n", u"x\ry\nz\r\n"},
    {"UTF-8", std::string("a\0b", 3), Text(u"a\0b", 3)},
    {"UTF-8", "", u""},
    {"CP950", "\xBC\xD2\xAA\x4F", u"模板"},
    // iconv steps past this invalid pair before it reports it
    {"CP949",
     "\xA2\xE8"
     "A",
     u"\uFFFDA"},
    {"CP949", "x\xA2\xE8\x9B,\xA2\xE8", u"x\uFFFD\uFFFD,\uFFFD"},
    {"CP1252", "caf\xE9 \x80 \x93q\x94", u"café € “q”"},
};

TEST(Decode, Table) {
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(std::string(c.code_page) + " " + Dump(c.expected));
    EXPECT_EQ(Dump(Decode(c.code_page, c.bytes)), Dump(c.expected));
  }
}

// Pieces may end anywhere: every way of cutting the input into three pieces
// decodes to the same text as the whole input.
TEST(Decode, EveryCutGivesTheSameText) {
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(std::string(c.code_page) + " " + Dump(c.expected));
    const std::string& b = c.bytes;
    for (size_t i = 0; i <= b.size(); ++i) {
      for (size_t j = i; j <= b.size(); ++j) {
        TextDecoder decoder(c.code_page);
        Text out;
        decoder.Feed(std::string_view(b).substr(0, i), out);
        decoder.Feed(std::string_view(b).substr(i, j - i), out);
        decoder.Feed(std::string_view(b).substr(j), out);
        decoder.Finish(out);
        ASSERT_EQ(Dump(out), Dump(c.expected)) << "cuts at " << i << " and " << j;
      }
    }
  }
}

// Random inputs made mostly of lead and trail bytes, cut at random places:
// the pieces decode to the same text as the whole input.
TEST(Decode, RandomInputsInRandomPieces) {
  std::mt19937 random(20261208);
  const char alphabet[] = "a\r\n\x80\x81\xA3\xB0\xC4\xE5\xE6\xA8\xF0\x9F\xFF\x40\x7F";
  for (const char* code_page : {"GBK", "UTF-8", "CP950", "CP1252"}) {
    for (int round = 0; round < 300; ++round) {
      std::string bytes;
      size_t length = random() % 40;
      for (size_t k = 0; k < length; ++k) bytes += alphabet[random() % (sizeof alphabet - 1)];
      Text whole = Decode(code_page, bytes);
      TextDecoder decoder(code_page);
      Text pieces;
      size_t at = 0;
      while (at < bytes.size()) {
        size_t n = std::min<size_t>(random() % 4, bytes.size() - at);
        decoder.Feed(std::string_view(bytes).substr(at, n), pieces);
        at += n;
      }
      decoder.Finish(pieces);
      ASSERT_EQ(Dump(pieces), Dump(whole)) << code_page << " round " << round;
      // Never more characters than bytes: each byte yields at most one unit
      // pair or one replacement.
      EXPECT_LE(whole.size(), bytes.size() * 2);
    }
  }
}

// Every prefix of a valid text: the whole characters in it, then one U+FFFD
// when the prefix ends inside a character.
TEST(Decode, EveryTruncation) {
  struct Case {
    const char* code_page;
    std::string bytes;
    std::vector<size_t> ends;  // byte offset where each character ends
    Text text;
  };
  const Case cases[] = {
      {"GBK", "a\xC4\xA3\xB0\xE5z", {1, 3, 5, 6}, u"a模板z"},
      {"UTF-8", "a\xE6\xA8\xA1\xF0\x9F\x98\x80z", {1, 4, 8, 9}, u"a模\U0001F600z"},
      {"CP950", "\xBC\xD2\xAA\x4F", {2, 4}, u"模板"},
  };
  for (const Case& c : cases) {
    // Characters as code units: the emoji is two of them.
    std::vector<Text> chars;
    for (size_t k = 0; k < c.text.size(); ++k) {
      bool pair = c.text[k] >= 0xD800 && c.text[k] < 0xDC00;
      chars.push_back(c.text.substr(k, pair ? 2 : 1));
      if (pair) ++k;
    }
    ASSERT_EQ(chars.size(), c.ends.size());
    for (size_t length = 0; length <= c.bytes.size(); ++length) {
      Text expected;
      size_t k = 0;
      for (; k < c.ends.size() && c.ends[k] <= length; ++k) expected += chars[k];
      size_t done = k == 0 ? 0 : c.ends[k - 1];
      if (done < length) expected += u'\uFFFD';
      EXPECT_EQ(Dump(Decode(c.code_page, c.bytes.substr(0, length))), Dump(expected))
          << c.code_page << " prefix " << length;
    }
  }
}

// The fast paths against iconv alone.

// Decodes with a decoder that is used again and again.
Text DecodeWith(TextDecoder& decoder, std::string_view bytes) {
  Text out;
  decoder.Feed(bytes, out);
  decoder.Finish(out);
  return out;
}

std::string Hex(std::string_view bytes) {
  std::string out;
  char byte[4];
  for (char c : bytes) {
    snprintf(byte, sizeof byte, "%02X ", static_cast<unsigned char>(c));
    out += byte;
  }
  return out;
}

// Every sequence of up to four bytes drawn from the bytes where UTF-8's
// rules change, alone and between ASCII letters.
TEST(Conversion, Utf8DecodingMatchesIconvOnEveryShortSequence) {
  const unsigned char kBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                  0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEE, 0xEF, 0xF0, 0xF1,
                                  0xF4, 0xF5, 0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  constexpr size_t kCount = sizeof kBytes;
  TextDecoder fast("UTF-8");
  TextDecoder reference("UTF-8", Conversion::kIconvOnly);
  for (size_t length = 1; length <= 4; ++length) {
    size_t combinations = 1;
    for (size_t k = 0; k < length; ++k) combinations *= kCount;
    for (size_t index = 0; index < combinations; ++index) {
      std::string bytes;
      for (size_t k = 0, rest = index; k < length; ++k, rest /= kCount)
        bytes += static_cast<char>(kBytes[rest % kCount]);
      for (const std::string& input : {bytes, "a" + bytes + "z"}) {
        ASSERT_EQ(Dump(DecodeWith(fast, input)), Dump(DecodeWith(reference, input))) << Hex(input);
      }
    }
  }
}

// Every sequence of up to four units drawn from the units where UTF-16's
// and UTF-8's rules change.
TEST(Conversion, Utf8EncodingMatchesIconvOnEveryShortSequence) {
  const char16_t kUnits[] = {0x00,   0x41,   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                             0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFE, 0xFFFF};
  constexpr size_t kCount = sizeof kUnits / sizeof kUnits[0];
  for (size_t length = 1; length <= 4; ++length) {
    size_t combinations = 1;
    for (size_t k = 0; k < length; ++k) combinations *= kCount;
    for (size_t index = 0; index < combinations; ++index) {
      Text text;
      for (size_t k = 0, rest = index; k < length; ++k, rest /= kCount)
        text += kUnits[rest % kCount];
      ASSERT_EQ(Hex(Encode("UTF-8", text)), Hex(Encode("UTF-8", text, Conversion::kIconvOnly)))
          << Dump(text);
      ASSERT_EQ(Unencodable("UTF-8", text), Unencodable("UTF-8", text, Conversion::kIconvOnly))
          << Dump(text);
    }
  }
}

// Random input for a code page: ASCII runs, characters of the code page,
// characters cut short, stray bytes and stray units.
class RandomInput {
 public:
  explicit RandomInput(const char* code_page) {
    // Characters of the code page: iconv's encodings of random code points
    // (some of them dropped without a word by iconv: the tag characters).
    for (int k = 0; characters_.size() < 400 && k < 4000; ++k) {
      const char32_t cp = k % 4 == 0 ? 0x80 + Below(0x780) : 0x80 + Below(0x10FF80);
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      const Text unit = cp < 0x10000
                            ? Text(1, static_cast<char16_t>(cp))
                            : Text{static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                                   static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
      std::string bytes = Encode(code_page, unit, Conversion::kIconvOnly);
      if (Unencodable(code_page, unit, Conversion::kIconvOnly).empty() && !bytes.empty())
        characters_.push_back(std::move(bytes));
    }
  }

  size_t Below(size_t n) { return static_cast<size_t>(random_() % n); }

  std::string Bytes(size_t atoms) {
    std::string bytes;
    for (size_t a = 0; a < atoms; ++a) {
      const std::string& character = characters_[Below(characters_.size())];
      switch (Below(5)) {
        case 0:
          for (size_t k = Below(40); k > 0; --k) bytes += static_cast<char>(Below(0x80));
          break;
        case 1:
        case 2:
          bytes += character;
          break;
        case 3:
          bytes += character.substr(0, Below(character.size()));
          break;
        default:
          bytes += static_cast<char>(Below(256));
      }
    }
    return bytes;
  }

  // `text` with up to three units that many sets cannot hold, lone
  // surrogates among them, put in anywhere.
  Text WithStrays(Text text) {
    static constexpr char16_t kStray[] = {0xD800, 0xDC00, 0xDBFF, 0xFFFD,
                                          0x20AC, 0x00E9, 0x4E2D, u'\\'};
    for (size_t k = Below(4); k > 0; --k) text.insert(Below(text.size() + 1), 1, kStray[Below(8)]);
    return text;
  }

 private:
  std::mt19937 random_{20260316};
  std::vector<std::string> characters_;
};

// Random input in random code pages, decoded whole, in random pieces and
// cut off anywhere; then text of every kind encoded back.
TEST(Conversion, FastPathsMatchIconvOnRandomInput) {
  const char* const kCodePages[] = {
      "UTF-8",  "utf8",   "GBK",      "GB18030",    "CP950",       "BIG5",       "CP932",
      "SJIS",   "EUC-JP", "EUC-KR",   "CP949",      "CP1252",      "CP1250",     "ISO-8859-1",
      "KOI8-R", "CP1258", "UTF-16LE", "BIG5-HKSCS", "ISO-2022-JP", "ISO-8859-15"};
  for (const char* code_page : kCodePages) {
    SCOPED_TRACE(code_page);
    RandomInput input(code_page);
    TextDecoder fast(code_page);
    TextDecoder reference(code_page, Conversion::kIconvOnly);
    for (int round = 0; round < 400; ++round) {
      const std::string bytes = input.Bytes(round % 50 == 0 ? 3000 : 1 + input.Below(30));
      const Text expected = DecodeWith(reference, bytes);
      const DecodeFaults faults = reference.faults();
      ASSERT_EQ(Dump(DecodeWith(fast, bytes)), Dump(expected)) << Hex(bytes);
      // The invalid sequences are counted alike, the first at a U+FFFD.
      ASSERT_EQ(fast.faults().count, faults.count) << Hex(bytes);
      ASSERT_EQ(fast.faults().first, faults.first) << Hex(bytes);
      if (faults.count > 0) {
        ASSERT_EQ(expected.at(static_cast<size_t>(faults.first)), 0xFFFD);
      }
      Text pieces;
      for (size_t at = 0; at < bytes.size();) {
        const size_t n = std::min(bytes.size() - at, 1 + input.Below(round % 2 ? 7 : 5000));
        fast.Feed(std::string_view(bytes).substr(at, n), pieces);
        at += n;
      }
      fast.Finish(pieces);
      ASSERT_EQ(Dump(pieces), Dump(expected)) << Hex(bytes);
      ASSERT_EQ(fast.faults().count, faults.count) << Hex(bytes);
      ASSERT_EQ(fast.faults().first, faults.first) << Hex(bytes);
      // The same written straight into a buffer that starts with no room.
      VectorBuffer buffer;
      CharsInBuffer into(buffer);
      for (size_t at = 0; at < bytes.size();) {
        const size_t n = std::min(bytes.size() - at, 1 + input.Below(round % 2 ? 7 : 5000));
        fast.Feed(std::string_view(bytes).substr(at, n), into);
        at += n;
      }
      fast.Finish(into);
      ASSERT_EQ(Dump(buffer.Take(into.length)), Dump(expected)) << Hex(bytes);
      ASSERT_EQ(fast.faults().count, faults.count) << Hex(bytes);
      ASSERT_EQ(fast.faults().first, faults.first) << Hex(bytes);
      const std::string cut = bytes.substr(0, input.Below(bytes.size() + 1));
      ASSERT_EQ(Dump(DecodeWith(fast, cut)), Dump(DecodeWith(reference, cut))) << Hex(cut);
      const Text text = input.WithStrays(expected);
      ASSERT_EQ(Hex(Encode(code_page, text)), Hex(Encode(code_page, text, Conversion::kIconvOnly)))
          << Dump(text);
      ASSERT_EQ(Unencodable(code_page, text), Unencodable(code_page, text, Conversion::kIconvOnly))
          << Dump(text);
      // In pieces cut anywhere, surrogate pairs included, the same bytes.
      // Its own cuts, so that the inputs drawn stay those of the checks above.
      static std::mt19937 piece_length(7);
      TextEncoder encoder(code_page);
      std::string streamed;
      const std::function<void(std::string_view)> take = [&](std::string_view b) { streamed += b; };
      for (size_t at = 0; at < text.size();) {
        const size_t n =
            std::min<size_t>(text.size() - at, 1 + piece_length() % (round % 2 ? 4 : 3000));
        encoder.Feed(TextView(text).substr(at, n), take);
        at += n;
      }
      encoder.Finish(take);
      ASSERT_EQ(Hex(streamed), Hex(Encode(code_page, text))) << Dump(text);
    }
  }
}

// Where the invalid sequences are: a valid U+FFFD in the input is none.
TEST(Decode, FaultsCountTheSequencesNotValidInTheCodePage) {
  const struct {
    const char* code_page;
    std::string bytes;
    int64_t count;
    int64_t first;
  } cases[] = {
      {"UTF-8", "plain", 0, -1},
      {"UTF-8", "\xEF\xBF\xBD", 0, -1},  // U+FFFD itself
      {"UTF-8",
       "ab\xFF"
       "c\xC3",
       2, 2},  // a stray byte, a cut character
      {"UTF-8", "\xE4\xB8\xAD\x80", 1, 1},
      {"GBK", "\xD6\xD0\xCE\xC4", 0, -1},
      {"GBK", "x\xD6", 1, 1},
      {"GBK", "\xD6\xD0\xFF\xFFz", 2, 1},
      {"CP1252", "caf\xE9", 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.code_page) + " " + Hex(c.bytes));
    TextDecoder decoder(c.code_page);
    Text out = u"kept";  // offsets count from where the input begins
    decoder.Feed(c.bytes, out);
    decoder.Finish(out);
    EXPECT_EQ(decoder.faults().count, c.count);
    EXPECT_EQ(decoder.faults().first, c.first);
  }
}

TEST(Decode, UnknownCodePage) {
  ErrorState error = FailureOf([] { TextDecoder decoder("NO-SUCH-SET"); });
  EXPECT_EQ(error.number, 5);
  EXPECT_EQ(error.description, u"Unknown code page 'NO-SUCH-SET'");
}

// Restores the code page a test changed.
class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCodePage(saved_); }
  std::string saved_ = CodePage();
};

TEST_F(CodePageTest, NumbersAndNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"936", "GBK"},       {"65001", "UTF-8"},   {"950", "CP950"},   {"1252", "CP1252"},
      {"932", "CP932"},     {"GBK", "GBK"},       {"utf-8", "utf-8"}, {"ISO-8859-1", "ISO-8859-1"},
      {"1200", "UTF-16LE"}, {"1201", "UTF-16BE"},
  };
  for (const auto& [setting, name] : cases) {
    SetCodePage(setting);
    EXPECT_EQ(CodePage(), name) << setting;
  }
}

TEST_F(CodePageTest, UnknownSettingChangesNothing) {
  SetCodePage("936");
  for (const char* bad : {"99999", "no-such-set", ""}) {
    ErrorState error = FailureOf([&] { SetCodePage(bad); });
    EXPECT_EQ(error.number, 5);
    EXPECT_EQ(error.description, Concat({u"Unknown code page '", FromUtf8(bad), u"'"}));
    EXPECT_EQ(CodePage(), "GBK");
  }
}

class TextFileTest : public CodePageTest {
 protected:
  void SetUp() override {
    descriptors_ = OpenDescriptors();
    streams_ = LiveTextStreams();
  }
  void TearDown() override {
    FailNthCall(0);
    EXPECT_EQ(OpenDescriptors(), descriptors_);
    EXPECT_EQ(LiveTextStreams(), streams_);
    CodePageTest::TearDown();
  }

  // Opens `path` (with "\" separators) and reads it whole, once into a text
  // and, unless `once`, again into a buffer, which must agree.
  static Text ReadWhole(const Text& path, bool once = false) {
    com::Ref<FileSystemObject> files = CreateFileSystemObject();
    com::Ref<TextStream> stream = files->OpenTextFile(path, ForReading, false, TristateFalse);
    Text text = stream->ReadAll();
    const DecodeFaults faults = stream->ReadFaults();
    stream->Close();
    if (once) return text;
    stream = files->OpenTextFile(path, ForReading, false, TristateFalse);
    VectorBuffer buffer;
    const size_t length = stream->ReadAllInto(buffer);
    EXPECT_TRUE(buffer.Take(length) == text) << Dump(text);
    EXPECT_EQ(stream->ReadFaults().count, faults.count);
    EXPECT_EQ(stream->ReadFaults().first, faults.first);
    stream->Close();
    return text;
  }

  static Text Windows(const std::string& posix) { return Replace(FromUtf8(posix), u"/", u"\\"); }

  TempDir dir_;
  int descriptors_ = 0;
  int64_t streams_ = 0;
};

TEST_F(TextFileTest, GbkFileWith936) {
  WriteBytes(dir_ / "gbk.htm", "<b>\xC4\xA3\xB0\xE5</b>\r\n");
  SetCodePage("936");
  EXPECT_EQ(ReadWhole(Windows(dir_ / "gbk.htm")), u"<b>模板</b>\r\n");
}

TEST_F(TextFileTest, CodePagesThatDecodeAFile) {
  const std::vector<std::string> common = {"65001", "936", "950", "932", "1252", "NO-SUCH-SET"};
  const struct {
    std::string bytes;
    std::vector<std::string> clean;
  } cases[] = {
      {"plain ASCII", {"65001", "936", "950", "932", "1252"}},
      {"<b>\xE6\xA8\xA1\xE6\x9D\xBF</b>", {"65001", "936", "932"}},  // UTF-8
      {"<b>\xC4\xA3\xB0\xE5</b>", {"936", "950", "1252"}},           // GBK
      {"\x81\x30", {}},  // nothing takes a lone lead byte before a digit but GB18030
  };
  for (const auto& c : cases) {
    WriteBytes(dir_ / "t.htm", c.bytes);
    EXPECT_EQ(CodePagesThatDecode(Windows(dir_ / "t.htm"), common), c.clean) << c.bytes;
  }
  EXPECT_TRUE(CodePagesThatDecode(Windows(dir_ / "none.htm"), common).empty());
}

TEST_F(TextFileTest, Utf8FileWith65001) {
  WriteBytes(dir_ / "utf8.htm", "<b>\xE6\xA8\xA1\xE6\x9D\xBF</b>\n");
  SetCodePage("65001");
  EXPECT_EQ(ReadWhole(Windows(dir_ / "utf8.htm")), u"<b>模板</b>\n");
}

TEST_F(TextFileTest, TruncatedAndInvalidBytesBecomeReplacementCharacters) {
  WriteBytes(dir_ / "cut.htm", "ok\xFF\xC4\xA3\xB0");
  SetCodePage("936");
  EXPECT_EQ(ReadWhole(Windows(dir_ / "cut.htm")), u"ok\uFFFD模\uFFFD");
}

// Files longer than one read, with characters lying across every possible
// offset of the read boundaries.
TEST_F(TextFileTest, LargeFilesAcrossReadBoundaries) {
  SetCodePage("65001");
  for (int lead = 0; lead < 3; ++lead) {
    std::string bytes(static_cast<size_t>(lead), 'a');
    Text expected(static_cast<size_t>(lead), u'a');
    for (int i = 0; i < 100000; ++i) {
      bytes += "\xE6\xA8\xA1";
      expected += u'模';
    }
    WriteBytes(dir_ / "big.htm", bytes);
    Text text = ReadWhole(Windows(dir_ / "big.htm"));
    ASSERT_EQ(text.size(), expected.size()) << lead;
    EXPECT_TRUE(text == expected) << lead;
  }
}

TEST_F(TextFileTest, EmptyFileReadsAsEmptyText) {
  WriteBytes(dir_ / "empty.htm", "");
  EXPECT_EQ(ReadWhole(Windows(dir_ / "empty.htm")), u"");
}

TEST_F(TextFileTest, BothSeparatorsReachTheSameFile) {
  std::filesystem::create_directory(dir_ / "sub");
  WriteBytes(dir_ / "sub/a.htm", "same");
  EXPECT_EQ(ReadWhole(Windows(dir_ / "sub/a.htm")), u"same");
  EXPECT_EQ(ReadWhole(FromUtf8(dir_ / "sub/a.htm")), u"same");
}

TEST_F(TextFileTest, StreamAfterTheEndAndAfterClose) {
  WriteBytes(dir_ / "a.htm", "abc");
  com::Ref<FileSystemObject> files = CreateFileSystemObject();
  com::Ref<TextStream> stream =
      files->OpenTextFile(Windows(dir_ / "a.htm"), ForReading, false, TristateFalse);
  EXPECT_EQ(stream->ReadAll(), u"abc");
  EXPECT_EQ(stream->ReadAll(), u"");
  stream->Close();
  EXPECT_EQ(FailureOf([&] { stream->ReadAll(); }).number, 5);
  EXPECT_EQ(FailureOf([&] { stream->Close(); }).number, 5);
}

// A file that changes between its opening and its reading is read as it is
// then, to its end: grown past one read, cut short, emptied.
TEST_F(TextFileTest, AFileChangedAfterItsOpeningIsReadAsItIsThen) {
  SetCodePage("65001");
  const std::string path = dir_ / "c.htm";
  const std::string big(300000, 'b');
  const struct {
    std::string at_open, at_read;
  } cases[] = {{"abc", "abcdef"}, {"abc", big}, {big, "ab"}, {"abc", ""}, {"", "new"}};
  for (const auto& c : cases) {
    WriteBytes(path, c.at_open);
    com::Ref<FileSystemObject> files = CreateFileSystemObject();
    com::Ref<TextStream> stream =
        files->OpenTextFile(Windows(path), ForReading, false, TristateFalse);
    WriteBytes(path, c.at_read);
    EXPECT_EQ(ToUtf8(stream->ReadAll()), c.at_read)
        << c.at_open.size() << " -> " << c.at_read.size();
    stream->Close();
  }
}

TEST_F(TextFileTest, OnlyReadingIsOffered) {
  com::Ref<FileSystemObject> files = CreateFileSystemObject();
  Text path = Windows(dir_ / "new.htm");
  EXPECT_EQ(FailureOf([&] { files->OpenTextFile(path, 2, false, TristateFalse); }).number, 5);
  EXPECT_EQ(FailureOf([&] { files->OpenTextFile(path, ForReading, true, TristateFalse); }).number,
            5);
  EXPECT_EQ(FailureOf([&] { files->OpenTextFile(path, ForReading, false, -1); }).number, 5);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new.htm"));
}

struct OpenFailureCase {
  std::string relative;  // under the test folder; "" for the empty path
  int32_t number;
  const char16_t* description;
};

TEST_F(TextFileTest, OpenFailures) {
  WriteBytes(dir_ / "file.htm", "x");
  std::filesystem::create_directory(dir_ / "folder");
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const OpenFailureCase cases[] = {
      {"missing.htm", 53, u"File not found"},
      {"nofolder/missing.htm", 76, u"Path not found"},
      {"no/such/folder/x.htm", 76, u"Path not found"},
      {"file.htm/x.htm", 76, u"Path not found"},
      {"folder", 75, u"Path/File access error"},
      {"folder/", 75, u"Path/File access error"},
      {"fifo", 75, u"Path/File access error"},  // and no hang waiting for a writer
      {"", 75, u"Path/File access error"},
  };
  com::Ref<FileSystemObject> files = CreateFileSystemObject();
  for (const OpenFailureCase& c : cases) {
    SCOPED_TRACE(c.relative);
    Text path = c.relative.empty() ? Text() : Windows(dir_ / c.relative);
    ErrorState error =
        FailureOf([&] { files->OpenTextFile(path, ForReading, false, TristateFalse); });
    EXPECT_EQ(error.number, c.number);
    EXPECT_EQ(error.description, c.description);
    EXPECT_EQ(OpenDescriptors(), descriptors_);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.htm"));
}

// Root reads every file, so as root the open runs in a child process that
// has given up root for the "nobody" user.
TEST_F(TextFileTest, NoPermission) {
  WriteBytes(dir_ / "secret.htm", "x");
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod((dir_ / "secret.htm").c_str(), 0), 0);
  auto attempt = [&] { return FailureOf([&] { ReadWhole(Windows(dir_ / "secret.htm")); }); };
  if (geteuid() != 0) {
    ErrorState error = attempt();
    EXPECT_EQ(error.number, 70);
    EXPECT_EQ(error.description, u"Permission denied");
    return;
  }
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    ErrorState error = attempt();
    _exit(error.number == 70 && error.description == u"Permission denied" ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: could not drop root; 2: wrong failure";
}

TEST(RaiseFileError, ErrnoMapping) {
  TempDir dir;
  struct Case {
    int error;
    std::string path;
    int32_t number;
    const char16_t* description;
  };
  const Case cases[] = {
      {ENOENT, dir / "x.htm", 53, u"File not found"},
      {ENOENT, dir / "none/x.htm", 76, u"Path not found"},
      {ENOTDIR, dir / "x.htm", 76, u"Path not found"},
      {EACCES, dir / "x.htm", 70, u"Permission denied"},
      {EPERM, dir / "x.htm", 70, u"Permission denied"},
      {EISDIR, dir / "x.htm", 75, u"Path/File access error"},
      {ENAMETOOLONG, dir / "x.htm", 75, u"Path/File access error"},
      {EMFILE, dir / "x.htm", 67, u"Too many files"},
      {ENOMEM, "", 7, u"Out of memory"},
      {EIO, "", 57, u"Device I/O error"},
      {ESTALE, "", 57, u"Device I/O error"},
  };
  for (const Case& c : cases) {
    ErrorState error = FailureOf([&] { RaiseFileError(c.error, c.path); });
    EXPECT_EQ(error.number, c.number) << c.error;
    EXPECT_EQ(error.description, c.description) << c.error;
  }
}

// Fails the open, the reads and the close in turn; every run ends with the
// I/O error, no open descriptor and no stream alive; then a run succeeds.
TEST_F(TextFileTest, FaultSweepOverARead) {
  WriteBytes(dir_ / "a.htm", "abc");
  int64_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE(n);
    FailNthCall(n);
    Text text;
    ErrorState error = FailureOf([&] { text = ReadWhole(Windows(dir_ / "a.htm"), true); });
    EXPECT_EQ(OpenDescriptors(), descriptors_);
    EXPECT_EQ(LiveTextStreams(), streams_);
    if (!FaultFired()) {
      EXPECT_EQ(error.number, 0);
      EXPECT_EQ(text, u"abc");
      break;
    }
    EXPECT_EQ(error.number, 57);
    EXPECT_EQ(error.description, u"Device I/O error");
    ASSERT_LT(n, 100);
  }
  EXPECT_EQ(n, 4);  // open, one read (short of its buffer: the end), close
}

}  // namespace
}  // namespace vz::fso
