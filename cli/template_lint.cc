#include "cli/template_lint.h"

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "cli/expansion_trace.h"
#include "cli/finding_printer.h"
#include "platform/fso/encoder.h"

namespace vz::cli {
namespace {

constexpr TextView kCommentStart = u"<!--";
constexpr TextView kCommentEnd = u"-->";

bool StartsAt(TextView text, size_t at, TextView what) {
  return at <= text.size() && text.substr(at, what.size()) == what;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f';
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Code units of the character at `at`: 2 for a surrogate pair, else 1.
size_t Units(TextView text, size_t at) {
  return at + 1 < text.size() && IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]) ? 2 : 1;
}

// The character at `at` as a code point.
char32_t CodePoint(TextView text, size_t at) {
  if (Units(text, at) == 2) {
    return 0x10000 + ((static_cast<char32_t>(text[at]) - 0xD800) << 10) +
           (static_cast<char32_t>(text[at + 1]) - 0xDC00);
  }
  return text[at];
}

std::string HexCodePoint(char32_t c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (char32_t v = c; v != 0 || hex.size() < 4; v >>= 4) hex.insert(hex.begin(), kDigits[v & 15]);
  return "U+" + hex;
}

Finding TextFinding(std::string_view kind, size_t offset, const Text& tag,
                    const std::string& message) {
  Finding f = MakeFinding(kind, offset, message);
  f.tag = tag;
  return f;
}

// "row 3 (`box`)", or "row 3" for a row without a name.
std::string RowLabel(size_t index, const TagRow& row) {
  return "row " + std::to_string(index + 1) + (row.name ? " (" + Quoted(*row.name) + ")" : "");
}

// The places of one tag name's markup in the text.
struct Markup {
  std::vector<size_t> openings;  // "<!--N " and "<!--N-->", ascending
  std::vector<bool> attributes;  // per opening: the "<!--N " form
  std::vector<size_t> closings;  // "<!--/N-->", ascending
};

// Why the trace cannot follow a name, or nothing when it can.
std::optional<std::string> OddNameReason(TextView name) {
  if (IsPlainTagName(name)) return std::nullopt;
  if (name.empty()) {
    return "has an empty name: every comment that starts with a blank, as `<!-- note -->`, is "
           "taken for its tag";
  }
  if (name.front() == u'/') return "has a name starting with `/`, so closing tags read as its tags";
  for (char16_t c : name) {
    if (!IsPlainTagName(TextView(&c, 1))) {
      return "has a name holding " + Quoted(TextView(&c, 1)) +
             ", which the expansion can match across other markup and code";
    }
  }
  return std::nullopt;
}

}  // namespace

size_t EditDistance(TextView a, TextView b) {
  // Rows i-2, i-1 and i of the distance table.
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      size_t best = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        best = std::min(best, before[j - 2] + 1);
      current[j] = best;
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::vector<Finding> LintRows(TextView text, const std::vector<TagRow>& rows) {
  std::vector<Finding> found;
  for (size_t i = 0; i < rows.size(); ++i) {
    const TagRow& row = rows[i];
    const std::string label = RowLabel(i, row);
    auto add = [&](std::string_view kind, const std::string& message) {
      Finding f = MakeFinding(kind, kNoOffset, message);
      f.tag = row.name;
      f.row = static_cast<int64_t>(i) + 1;
      f.row_name = row.name;
      found.push_back(std::move(f));
      return &found.back();
    };
    if (!row.name) add("null-name", label + " has a NULL name: generating the page fails");
    if (!row.code) add("null-code", label + " has a NULL code: generating the page fails");
    if (!row.name || !row.code) continue;
    const Text with_attributes = Concat({kCommentStart, *row.name, u" "});
    const Text plain = Concat({kCommentStart, *row.name, kCommentEnd});
    if (Find(*row.code, with_attributes) != TextView::npos ||
        Find(*row.code, plain) != TextView::npos) {
      Finding* f = add("code-opens-itself", "the code of " + label + " holds an opening tag of " +
                                                Quoted(*row.name) +
                                                ": expanding the tag never ends, so generating a "
                                                "page that uses it fails");
      f->offset = std::min(Find(text, with_attributes), Find(text, plain));
      if (f->offset == TextView::npos) f->offset = kNoOffset;
    }
    if (std::optional<std::string> why = OddNameReason(*row.name)) {
      add("odd-tag-name", label + " " + *why + "; check does not follow this row's tags");
    }
  }
  if (rows.size() > kMaxTagRows) {
    Finding f = MakeFinding("too-many-rows", kNoOffset,
                            "the page has " + std::to_string(rows.size()) + " tag rows; row " +
                                std::to_string(kMaxTagRows + 1) +
                                " and later are past the last row index 32767, so generating the "
                                "page fails with \"Overflow\"");
    f.row = static_cast<int64_t>(kMaxTagRows) + 1;
    f.row_name = rows[kMaxTagRows].name;
    f.tag = f.row_name;
    found.push_back(std::move(f));
  }
  return found;
}

namespace {

// The tag names of a page, each once, with a way from a name to its number.
struct TagNames {
  explicit TagNames(const std::vector<TagRow>& rows) {
    for (const TagRow& row : rows) {
      if (!row.name) continue;
      if (index.emplace(*row.name, index.size()).second)
        longest = std::max(longest, row.name->size());
    }
    distinct.resize(index.size());
    for (const auto& [name, i] : index) distinct[i] = name;
  }
  // The number of `name`, or nothing when it is no tag name.
  std::optional<size_t> Find(TextView name) const {
    auto it = index.find(Text(name));
    if (it == index.end()) return std::nullopt;
    return it->second;
  }

  std::unordered_map<Text, size_t> index;
  std::vector<Text> distinct;  // by number
  size_t longest = 0;
};

// Records the tag markup of the comment at `p` (opening tags: the name runs
// up to a blank or a "-->"; closing tags: "/", the name, "-->"). False when
// the comment is no tag of `tags`.
bool RecordTagsAt(TextView text, size_t p, const TagNames& tags, std::vector<Markup>& markup) {
  const size_t start = p + kCommentStart.size();
  bool is_tag = false;
  for (size_t k = start; k <= std::min(text.size(), start + tags.longest); ++k) {
    const bool attributes = k < text.size() && text[k] == u' ';
    if (!attributes && !StartsAt(text, k, kCommentEnd)) continue;
    std::optional<size_t> n = tags.Find(text.substr(start, k - start));
    if (!n) continue;
    markup[*n].openings.push_back(p);
    markup[*n].attributes.push_back(attributes);
    is_tag = true;
  }
  if (StartsAt(text, start, u"/")) {
    for (size_t k = start + 1; k <= std::min(text.size(), start + 1 + tags.longest); ++k) {
      if (!StartsAt(text, k, kCommentEnd)) continue;
      std::optional<size_t> n = tags.Find(text.substr(start + 1, k - start - 1));
      if (!n) continue;
      markup[*n].closings.push_back(p);
      is_tag = true;
    }
  }
  return is_tag;
}

// The tag name that `word` is one or two edits from, if any and if `word`
// is no tag name itself; answers are kept, since a page repeats its words.
class NearestNames {
 public:
  explicit NearestNames(const TagNames& tags) : tags_(tags) {}

  const Text* Of(TextView word) {
    auto [it, added] = known_.emplace(Text(word), nullptr);
    if (added) it->second = Search(word);
    return it->second;
  }

 private:
  const Text* Search(TextView word) const {
    const Text* best = nullptr;
    size_t best_distance = 3;
    for (const Text& name : tags_.distinct) {
      const size_t gap =
          name.size() > word.size() ? name.size() - word.size() : word.size() - name.size();
      if (gap > 2) continue;
      const size_t d = EditDistance(word, name);
      if (d == 0) return nullptr;
      // A word must keep something of the name: "x" is no misspelling of "t".
      if (d < best_distance && d < name.size()) {
        best = &name;
        best_distance = d;
      }
    }
    return best;
  }

  const TagNames& tags_;
  std::unordered_map<Text, const Text*> known_;
};

// A comment at `p` that is no tag: is its first word a tag name mistyped? A
// comment that starts with a blank is an ordinary one, and "<!--[" opens a
// conditional comment. The closing tag of a word that also opens a comment
// belongs to that custom tag, which is told of at its opening.
void CheckMisspelling(TextView text, size_t p, const TagNames& tags, NearestNames& nearest,
                      const std::unordered_set<Text>& opening_words, std::vector<Finding>& found) {
  const size_t start = p + kCommentStart.size();
  const bool closing = StartsAt(text, start, u"/");
  const size_t word_start = start + (closing ? 1 : 0);
  if (word_start >= text.size() || IsBlank(text[word_start]) || text[word_start] == u'[') return;
  size_t word_end = word_start;
  while (word_end < text.size() && !IsBlank(text[word_end]) &&
         !StartsAt(text, word_end, kCommentEnd) && word_end - word_start <= tags.longest + 2)
    ++word_end;
  const TextView word = text.substr(word_start, word_end - word_start);
  if (word.empty() || word.size() > tags.longest + 2) return;
  if (closing && StartsAt(text, word_end, kCommentEnd) && opening_words.count(Text(word)) != 0)
    return;
  const Text* best = nearest.Of(word);
  if (best == nullptr) return;
  const Text slash = closing ? u"/" : u"";
  const Text shown = Concat({kCommentStart, slash, word,
                             StartsAt(text, word_end, kCommentEnd) ? kCommentEnd : TextView()});
  found.push_back(
      TextFinding("misspelled-tag", p, *best,
                  Quoted(shown) + ": did you mean " + Quoted(Concat({slash, *best})) + "?"));
}

// The pairing of the markup of tag `name`: unterminated opening tags, those
// that pair past another opening tag, and closing tags with no opening tag
// before them.
void CheckPairing(TextView text, const LineIndex& lines, const Text& name, const Markup& m,
                  std::vector<Finding>& found) {
  for (size_t i = 0; i < m.openings.size(); ++i) {
    const size_t o = m.openings[i];
    size_t f = o + kCommentStart.size() + name.size();  // the "-->" of the plain form
    if (m.attributes[i]) {
      f = vz::Find(text, kCommentEnd, o);
      if (f == TextView::npos) {
        found.push_back(TextFinding("unterminated-tag", o, name,
                                    "opening tag of " + Quoted(name) +
                                        " has no `-->` after it: generating the page fails"));
        continue;
      }
    }
    const size_t after = f + kCommentEnd.size();
    auto closing = std::lower_bound(m.closings.begin(), m.closings.end(), after);
    if (closing == m.closings.end()) continue;
    auto between = std::lower_bound(m.openings.begin(), m.openings.end(), after);
    if (between != m.openings.end() && *between < *closing) {
      found.push_back(TextFinding("mispaired-tag", o, name,
                                  "opening tag of " + Quoted(name) +
                                      " pairs with the closing tag at " + lines.Where(*closing) +
                                      ", past another opening tag of " + Quoted(name) + " at " +
                                      lines.Where(*between)));
    }
  }
  for (size_t c : m.closings) {
    if (!m.openings.empty() && m.openings.front() < c) continue;
    found.push_back(TextFinding("unopened-closing-tag", c, name,
                                "closing tag " + Quoted(Concat({u"<!--/", name, kCommentEnd})) +
                                    " has no opening tag of " + Quoted(name) + " before it"));
  }
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsWordChar(char16_t c) {
  return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-' || c == u'.';
}

// The word of a custom tag at `at`: a letter or "_", then letters, digits,
// "_", "-" and "."; it ends before a "-->".
size_t WordEnd(TextView text, size_t at) {
  if (at >= text.size() || !(IsAsciiLetter(text[at]) || text[at] == u'_')) return at;
  size_t k = at;
  while (k < text.size() && IsWordChar(text[k]) && !StartsAt(text, k, kCommentEnd)) ++k;
  return k;
}

// Every word W of a closing tag "<!--/W-->" in `text`.
void CollectClosingWords(TextView text, std::unordered_set<Text>& words) {
  for (size_t p = Find(text, u"<!--/"); p != TextView::npos; p = Find(text, u"<!--/", p + 1)) {
    const size_t start = p + 5;
    const size_t end = WordEnd(text, start);
    if (end > start && StartsAt(text, end, kCommentEnd))
      words.emplace(text.substr(start, end - start));
  }
}

// The closing-tag words of a page: in its template and in its rows' codes,
// which may put them into the page.
std::unordered_set<Text> ClosingWords(TextView text, const std::vector<TagRow>& rows) {
  std::unordered_set<Text> words;
  CollectClosingWords(text, words);
  for (const TagRow& row : rows) {
    if (row.code) CollectClosingWords(*row.code, words);
  }
  return words;
}

// A comment that is plainly a custom tag: "<!--W-->" or "<!--W attributes-->"
// with a closing tag "<!--/W-->" somewhere in the page, or with attribute
// text that starts "name=".
struct CustomTag {
  Text word;
  Text shown;  // the comment, up to its "-->"
  std::string why;
};

std::optional<CustomTag> CustomTagAt(TextView text, size_t p,
                                     const std::unordered_set<Text>& closing_words) {
  const size_t start = p + kCommentStart.size();
  const size_t end = WordEnd(text, start);
  if (end == start) return std::nullopt;
  const bool plain = StartsAt(text, end, kCommentEnd);
  if (!plain && (end >= text.size() || text[end] != u' ')) return std::nullopt;
  CustomTag tag;
  tag.word = Text(text.substr(start, end - start));
  size_t close = Find(text, kCommentEnd, end);
  close = close == TextView::npos ? text.size() : close;
  tag.shown = Text(text.substr(p, std::min(text.size(), close + kCommentEnd.size()) - p));
  const Text closing = Concat({u"<!--/", tag.word, kCommentEnd});
  if (closing_words.count(tag.word) != 0) {
    tag.why = "it has a closing tag " + Quoted(closing);
    return tag;
  }
  if (plain) return std::nullopt;
  // Attribute text that starts with a name and "=".
  size_t i = end + 1;
  while (i < close && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i >= close || !IsAsciiLetter(text[i])) return std::nullopt;
  while (i < close &&
         (IsAsciiLetter(text[i]) || (text[i] >= u'0' && text[i] <= u'9') || text[i] == u'_'))
    ++i;
  while (i < close && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i >= close || text[i] != u'=') return std::nullopt;
  tag.why = "it has name=value attributes";
  return tag;
}

// "function 7", "functions 7 and 9", "functions 7, 9, 12 and 3 more".
std::string Functions(const std::vector<Text>& functions) {
  constexpr size_t kShown = 3;
  std::string out = functions.size() == 1 ? "function " : "functions ";
  const size_t shown = std::min(functions.size(), kShown);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) out += i + 1 == functions.size() ? " and " : ", ";
    out += ToUtf8(functions[i]);
  }
  if (functions.size() > kShown)
    out += " and " + std::to_string(functions.size() - kShown) + " more";
  return out;
}

// The message of a custom tag that no row applying to the page has.
std::string NotAppliedMessage(const CustomTag& tag, const LintOptions& options,
                              NearestNames& nearest) {
  std::string message = "plainly a custom tag (" + tag.why + "), but ";
  const std::vector<Text>* functions = nullptr;
  if (options.function_tags != nullptr) {
    auto it = options.function_tags->find(tag.word);
    if (it != options.function_tags->end() && !it->second.empty()) functions = &it->second;
  }
  if (functions != nullptr) {
    return message + "no tag row named " + Quoted(tag.word) +
           " applies to this page: web_tag has it for " + Functions(*functions) +
           ", which web_page2func does not attach to the page";
  }
  message += "no tag row of the page is named " + Quoted(tag.word) +
             ", so the page keeps the comment as it is";
  if (const Text* best = nearest.Of(tag.word)) message += "; did you mean " + Quoted(*best) + "?";
  return message;
}

}  // namespace

std::vector<Finding> LintMarkup(TextView text, const std::vector<TagRow>& rows,
                                const LintOptions& options) {
  const TagNames tags(rows);
  NearestNames nearest(tags);
  const std::unordered_set<Text> closing_words = ClosingWords(text, rows);
  const LineIndex lines(text);
  std::vector<Markup> markup(tags.distinct.size());
  std::vector<Finding> found;
  std::vector<size_t> comments;
  std::unordered_set<Text> opening_words;
  for (size_t p = Find(text, kCommentStart); p != TextView::npos;
       p = Find(text, kCommentStart, p + 1)) {
    if (RecordTagsAt(text, p, tags, markup)) continue;
    comments.push_back(p);
    const size_t start = p + kCommentStart.size();
    const size_t end = WordEnd(text, start);
    if (end > start && (StartsAt(text, end, kCommentEnd) || StartsAt(text, end, u" ")))
      opening_words.emplace(text.substr(start, end - start));
  }
  for (size_t p : comments) {
    if (std::optional<CustomTag> tag = CustomTagAt(text, p, closing_words)) {
      found.push_back(
          TextFinding("tag-not-applied", p, tag->word,
                      Quoted(tag->shown, 40) + " is " + NotAppliedMessage(*tag, options, nearest)));
      continue;
    }
    CheckMisspelling(text, p, tags, nearest, opening_words, found);
  }
  for (size_t n = 0; n < tags.distinct.size(); ++n)
    CheckPairing(text, lines, tags.distinct[n], markup[n], found);
  std::stable_sort(found.begin(), found.end(),
                   [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
  return found;
}

std::vector<Finding> LintEncoding(TextView text, std::string_view encoding) {
  const std::vector<size_t> positions = fso::Unencodable(encoding, text);
  std::vector<Finding> found;
  for (size_t i = 0; i < positions.size();) {
    // A run of adjacent characters; line ends are held by every set, so a
    // run stays on one line.
    size_t j = i + 1;
    while (j < positions.size() && positions[j] == positions[j - 1] + Units(text, positions[j - 1]))
      ++j;
    const size_t begin = positions[i];
    const size_t end = positions[j - 1] + Units(text, positions[j - 1]);
    std::string points;
    constexpr size_t kShownPoints = 8;
    for (size_t k = i; k < j && k < i + kShownPoints; ++k) {
      if (k > i) points += ' ';
      points += HexCodePoint(CodePoint(text, positions[k]));
    }
    if (j - i > kShownPoints) points += " ...";
    found.push_back(MakeFinding("unencodable", begin,
                                Quoted(text.substr(begin, end - begin), 40) +
                                    " cannot be written in " + std::string(encoding) + " (" +
                                    points + ")"));
    i = j;
  }
  return found;
}

namespace {

// Findings about what the codes that go into the page hold: characters the
// encoding cannot write, custom tags no row applies. Each is placed at the
// tag whose expansion first puts the code in.
void LintCodes(TextView text, const std::vector<TagRow>& rows, const std::vector<size_t>& first_use,
               const LintOptions& options, std::vector<Finding>& found) {
  const TagNames tags(rows);
  NearestNames nearest(tags);
  const std::unordered_set<Text> closing_words = ClosingWords(text, rows);
  for (size_t r = 0; r < rows.size() && r < first_use.size(); ++r) {
    if (first_use[r] == kNoOffset || !rows[r].code) continue;
    const Text& code = *rows[r].code;
    auto add = [&](std::string_view kind, const std::string& message) {
      Finding f = MakeFinding(kind, first_use[r], message);
      f.tag = rows[r].name;
      f.row = static_cast<int64_t>(r) + 1;
      f.row_name = rows[r].name;
      found.push_back(std::move(f));
    };
    const std::vector<size_t> positions = fso::Unencodable(options.encoding, code);
    if (!positions.empty()) {
      std::string points;
      std::set<char32_t> seen;
      constexpr size_t kShownPoints = 8;
      for (size_t at : positions) {
        const char32_t c = CodePoint(code, at);
        if (!seen.insert(c).second) continue;
        if (seen.size() > kShownPoints) {
          points += " ...";
          break;
        }
        if (!points.empty()) points += ' ';
        points += Quoted(TextView(code).substr(at, Units(code, at))) + " " + HexCodePoint(c);
      }
      add("unencodable", "the code of " + RowLabel(r, rows[r]) +
                             ", which goes into the page here, holds characters that " +
                             options.encoding + " cannot write: " + points);
    }
    std::set<Text> told;
    for (size_t p = Find(code, kCommentStart); p != TextView::npos;
         p = Find(code, kCommentStart, p + 1)) {
      std::optional<CustomTag> tag = CustomTagAt(code, p, closing_words);
      if (!tag || tags.Find(tag->word) || !told.insert(tag->word).second) continue;
      add("tag-not-applied", "the code of " + RowLabel(r, rows[r]) + " holds " +
                                 Quoted(tag->shown, 40) + ", " +
                                 NotAppliedMessage(*tag, options, nearest));
    }
  }
}

}  // namespace

std::vector<Finding> LintPage(TextView text, const std::vector<TagRow>& rows,
                              const LintOptions& options) {
  std::vector<Finding> found = LintRows(text, rows);
  std::vector<Finding> in_text = LintMarkup(text, rows, options);
  TraceLimits limits;
  limits.max_length = options.max_length;
  limits.max_units = options.max_units;
  TraceResult trace = TraceExpansion(text, rows, limits);
  for (Finding& f : trace.findings) in_text.push_back(std::move(f));
  for (Finding& f : LintEncoding(text, options.encoding)) in_text.push_back(std::move(f));
  LintCodes(text, rows, trace.first_use, options, in_text);
  std::stable_sort(in_text.begin(), in_text.end(),
                   [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
  // The template's own view and the trace can tell one thing twice.
  std::set<std::tuple<size_t, std::string, Text>> told;
  for (Finding& f : in_text) {
    if (told.insert({f.offset, f.kind, f.tag.value_or(Text())}).second)
      found.push_back(std::move(f));
  }
  return found;
}

}  // namespace vz::cli
