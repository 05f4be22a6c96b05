#include "cli/template_lint.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <unordered_set>
#include <utility>

#include "cli/expansion_trace.h"
#include "cli/finding_printer.h"
#include "generate/asp_code.h"
#include "platform/failure.h"
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

// Calls visit(n, closing, attributes) for each tag of `tags` at the comment
// at `p` (opening tags: the name runs up to a blank or a "-->"; closing
// tags: "/", the name, "-->"). False when the comment is no tag of `tags`.
template <typename Visit>
bool VisitTagsAt(TextView text, size_t p, const TagNames& tags, Visit&& visit) {
  const size_t start = p + kCommentStart.size();
  bool is_tag = false;
  for (size_t k = start; k <= std::min(text.size(), start + tags.longest); ++k) {
    const bool attributes = k < text.size() && text[k] == u' ';
    if (!attributes && !StartsAt(text, k, kCommentEnd)) continue;
    std::optional<size_t> n = tags.Find(text.substr(start, k - start));
    if (!n) continue;
    visit(*n, false, attributes);
    is_tag = true;
  }
  if (StartsAt(text, start, u"/")) {
    for (size_t k = start + 1; k <= std::min(text.size(), start + 1 + tags.longest); ++k) {
      if (!StartsAt(text, k, kCommentEnd)) continue;
      std::optional<size_t> n = tags.Find(text.substr(start + 1, k - start - 1));
      if (!n) continue;
      visit(*n, true, false);
      is_tag = true;
    }
  }
  return is_tag;
}

// Records the tag markup of the comment at `p`; false when it is no tag.
bool RecordTagsAt(TextView text, size_t p, const TagNames& tags, std::vector<Markup>& markup) {
  return VisitTagsAt(text, p, tags, [&](size_t n, bool closing, bool attributes) {
    if (closing) {
      markup[n].closings.push_back(p);
    } else {
      markup[n].openings.push_back(p);
      markup[n].attributes.push_back(attributes);
    }
  });
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

// The pairing of the opening tag number `i` of tag `name`: one without a
// "-->" after it, or one that pairs past another opening tag.
void CheckOpening(TextView text, const LineIndex& lines, const Text& name, const Markup& m,
                  size_t i, std::vector<Finding>& found) {
  const size_t o = m.openings[i];
  size_t f = o + kCommentStart.size() + name.size();  // the "-->" of the plain form
  if (m.attributes[i]) {
    f = vz::Find(text, kCommentEnd, o);
    if (f == TextView::npos) {
      found.push_back(TextFinding(
          "unterminated-tag", o, name,
          "opening tag of " + Quoted(name) + " has no `-->` after it: generating the page fails"));
      return;
    }
  }
  const size_t after = f + kCommentEnd.size();
  auto closing = std::lower_bound(m.closings.begin(), m.closings.end(), after);
  if (closing == m.closings.end()) return;
  auto between = std::lower_bound(m.openings.begin(), m.openings.end(), after);
  if (between != m.openings.end() && *between < *closing) {
    found.push_back(TextFinding("mispaired-tag", o, name,
                                "opening tag of " + Quoted(name) +
                                    " pairs with the closing tag at " + lines.Where(*closing) +
                                    ", past another opening tag of " + Quoted(name) + " at " +
                                    lines.Where(*between)));
  }
}

// A closing tag of `name` at `c` with no opening tag of the name before it.
void CheckClosing(const Text& name, const Markup& m, size_t c, std::vector<Finding>& found) {
  if (!m.openings.empty() && m.openings.front() < c) return;
  found.push_back(TextFinding("unopened-closing-tag", c, name,
                              "closing tag " + Quoted(Concat({u"<!--/", name, kCommentEnd})) +
                                  " has no opening tag of " + Quoted(name) + " before it"));
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

namespace {

// The findings about the markup of a page, comment by comment in the order
// of the text, each worked out when its comment is reached. What it keeps is
// the places of the tags, a few bytes each.
class MarkupStream {
 public:
  MarkupStream(TextView text, const std::vector<TagRow>& rows, const LintOptions& options)
      : text_(text),
        options_(options),
        tags_(rows),
        nearest_(tags_),
        closing_words_(ClosingWords(text, rows)),
        lines_(text),
        markup_(tags_.distinct.size()) {
    for (size_t p = Find(text, kCommentStart); p != TextView::npos;
         p = Find(text, kCommentStart, p + 1)) {
      if (RecordTagsAt(text, p, tags_, markup_)) continue;
      const size_t start = p + kCommentStart.size();
      const size_t end = WordEnd(text, start);
      if (end > start && (StartsAt(text, end, kCommentEnd) || StartsAt(text, end, u" ")))
        opening_words_.emplace(text.substr(start, end - start));
    }
  }

  // Appends the findings of the next comment that has any; false when no
  // comment is left.
  bool Next(std::vector<Finding>& out) {
    const size_t before = out.size();
    while (out.size() == before) {
      const size_t p = next_ > text_.size() ? TextView::npos : Find(text_, kCommentStart, next_);
      if (p == TextView::npos) return false;
      next_ = p + 1;
      if (!CheckTags(p, out)) Comment(p, out);
    }
    return true;
  }

 private:
  // The pairing findings of the tags at `p`, in the order of the names;
  // false when `p` holds no tag.
  bool CheckTags(size_t p, std::vector<Finding>& out) {
    std::vector<std::pair<size_t, bool>> here;  // (name, closing)
    if (!VisitTagsAt(text_, p, tags_, [&](size_t n, bool closing, bool) {
          here.push_back({n, closing});
        }))
      return false;
    std::sort(here.begin(), here.end());
    for (const auto& [n, closing] : here) {
      const Markup& m = markup_[n];
      if (closing) {
        CheckClosing(tags_.distinct[n], m, p, out);
        continue;
      }
      const size_t i = static_cast<size_t>(
          std::lower_bound(m.openings.begin(), m.openings.end(), p) - m.openings.begin());
      CheckOpening(text_, lines_, tags_.distinct[n], m, i, out);
    }
    return true;
  }

  void Comment(size_t p, std::vector<Finding>& out) {
    if (std::optional<CustomTag> tag = CustomTagAt(text_, p, closing_words_)) {
      out.push_back(TextFinding(
          "tag-not-applied", p, tag->word,
          Quoted(tag->shown, 40) + " is " + NotAppliedMessage(*tag, options_, nearest_)));
      return;
    }
    CheckMisspelling(text_, p, tags_, nearest_, opening_words_, out);
  }

  TextView text_;
  const LintOptions& options_;
  const TagNames tags_;
  NearestNames nearest_;
  const std::unordered_set<Text> closing_words_;
  std::unordered_set<Text> opening_words_;
  const LineIndex lines_;
  std::vector<Markup> markup_;
  size_t next_ = 0;
};

// The findings for characters the encoding cannot hold, run by run.
class EncodingStream {
 public:
  EncodingStream(TextView text, std::string_view encoding)
      : text_(text), encoding_(encoding), positions_(fso::Unencodable(encoding, text)) {}

  bool Next(std::vector<Finding>& out) {
    if (i_ >= positions_.size()) return false;
    // A run of adjacent characters; line ends are held by every set, so a
    // run stays on one line.
    size_t j = i_ + 1;
    while (j < positions_.size() &&
           positions_[j] == positions_[j - 1] + UnitsAt(text_, positions_[j - 1]))
      ++j;
    const size_t begin = positions_[i_];
    const size_t end = positions_[j - 1] + UnitsAt(text_, positions_[j - 1]);
    std::string points;
    constexpr size_t kShownPoints = 8;
    for (size_t k = i_; k < j && k < i_ + kShownPoints; ++k) {
      if (k > i_) points += ' ';
      points += HexCodePoint(CodePointAt(text_, positions_[k]));
    }
    if (j - i_ > kShownPoints) points += " ...";
    out.push_back(MakeFinding("unencodable", begin,
                              Quoted(text_.substr(begin, end - begin), 40) +
                                  " cannot be written in " + std::string(encoding_) + " (" +
                                  points + ")"));
    i_ = j;
    return true;
  }

 private:
  TextView text_;
  std::string_view encoding_;
  std::vector<size_t> positions_;
  size_t i_ = 0;
};

// Everything a stream has to say.
template <typename Stream>
std::vector<Finding> Drain(Stream& stream) {
  std::vector<Finding> found;
  while (stream.Next(found)) {
  }
  return found;
}

}  // namespace

std::vector<TagMark> FindTagMarks(TextView text, const std::vector<TagRow>& rows) {
  const TagNames tags(rows);
  std::vector<TagMark> marks;
  for (size_t p = Find(text, kCommentStart); p != TextView::npos;
       p = Find(text, kCommentStart, p + 1)) {
    VisitTagsAt(text, p, tags, [&](size_t n, bool closing, bool attributes) {
      const Text& name = tags.distinct[n];
      size_t end = p + kCommentStart.size() + (closing ? 1 : 0) + name.size() + kCommentEnd.size();
      if (attributes) {
        const size_t f = vz::Find(text, kCommentEnd, p);
        end = f == TextView::npos ? text.size() : f + kCommentEnd.size();
      }
      marks.push_back(TagMark{p, end, name, closing});
    });
  }
  return marks;
}

std::vector<Finding> LintMarkup(TextView text, const std::vector<TagRow>& rows,
                                const LintOptions& options) {
  MarkupStream stream(text, rows, options);
  return Drain(stream);
}

std::vector<Finding> LintEncoding(TextView text, std::string_view encoding) {
  EncodingStream stream(text, encoding);
  return Drain(stream);
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
        const char32_t c = CodePointAt(code, at);
        if (!seen.insert(c).second) continue;
        if (seen.size() > kShownPoints) {
          points += " ...";
          break;
        }
        if (!points.empty()) points += ' ';
        points += Quoted(TextView(code).substr(at, UnitsAt(code, at))) + " " + HexCodePoint(c);
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

// The trace leaves out rows with names it cannot follow; for a page with
// such a row the generation itself is run, within the trace's bound, so a
// page that fails still gets an error, if not its place.
void LintByGenerating(TextView text, const std::vector<TagRow>& rows, const LintOptions& options,
                      std::vector<Finding>& found) {
  size_t odd = rows.size();
  int64_t codes = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (!rows[r].name || !rows[r].code) return;  // fails anyway, and is told so
    if (odd == rows.size() && !IsPlainTagName(*rows[r].name)) odd = r;
    codes += static_cast<int64_t>(rows[r].code->size());
  }
  if (odd == rows.size() || rows.size() > kMaxTagRows) return;
  const int64_t bound = options.max_units != 0
                            ? static_cast<int64_t>(options.max_units)
                            : 4 * (static_cast<int64_t>(text.size()) + codes) + (int64_t{1} << 20);
  ado::RowTable table;
  table.columns = 4;
  table.rows = static_cast<int32_t>(rows.size());
  table.cells.resize(4 * rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    table.cells[r] = *rows[r].name;
    table.cells[3 * rows.size() + r] = *rows[r].code;
  }
  ExpandLimits limits;
  limits.max_length = std::min(options.max_length, bound);
  try {
    AssembleAspCode(Text(text), table, limits);
  } catch (const Failure& f) {
    // Past the bound but within the limit, whether it fails is not known.
    if (f.number() == kOutOfStringSpace && limits.max_length < options.max_length) return;
    Finding finding = MakeFinding(
        "generation-fails", kNoOffset,
        "generating the page fails (" + std::to_string(f.number()) + " " + ToUtf8(f.description()) +
            "); check cannot tell where, since it does not follow " + RowLabel(odd, rows[odd]));
    finding.row = static_cast<int64_t>(odd) + 1;
    finding.row_name = rows[odd].name;
    finding.tag = rows[odd].name;
    found.push_back(std::move(finding));
  }
}

}  // namespace

namespace {

// Findings of one source in the order of the text, taken one at a time.
template <typename Stream>
class Queue {
 public:
  explicit Queue(Stream& stream) : stream_(stream) {}

  // The next finding, or null when the source has no more.
  Finding* Front() {
    if (at_ == items_.size()) {
      items_.clear();
      at_ = 0;
      if (!stream_.Next(items_)) return nullptr;
    }
    return &items_[at_];
  }
  void Pop() { ++at_; }

 private:
  Stream& stream_;
  std::vector<Finding> items_;
  size_t at_ = 0;
};

// The findings the trace and the codes give, few next to the comments of a
// page, sorted by offset.
struct Placed {
  std::vector<Finding> items;
  size_t at = 0;
  bool Next(std::vector<Finding>& out) {
    if (at == items.size()) return false;
    out.push_back(std::move(items[at++]));
    return true;
  }
};

}  // namespace

void LintPage(TextView text, const std::vector<TagRow>& rows, const LintOptions& options,
              const std::function<void(Finding&&)>& sink) {
  std::vector<Finding> page = LintRows(text, rows);
  LintByGenerating(text, rows, options, page);
  for (Finding& f : page) sink(std::move(f));
  page.clear();

  TraceLimits limits;
  limits.max_length = options.max_length;
  limits.max_units = options.max_units;
  TraceResult trace = TraceExpansion(text, rows, limits);
  Placed placed{std::move(trace.findings)};
  LintCodes(text, rows, trace.first_use, options, placed.items);
  std::stable_sort(placed.items.begin(), placed.items.end(),
                   [](const Finding& a, const Finding& b) { return a.offset < b.offset; });

  // The three sources merged by offset; at one offset the markup comes
  // first, then the trace and the codes, then the encoding. The template's
  // own view and the trace can tell one thing twice.
  MarkupStream markup(text, rows, options);
  EncodingStream encoding(text, options.encoding);
  Queue<MarkupStream> a(markup);
  Queue<Placed> b(placed);
  Queue<EncodingStream> c(encoding);
  size_t offset = kNoOffset;
  std::set<std::pair<std::string, Text>> told;
  for (;;) {
    Finding* next = nullptr;
    auto consider = [&](Finding* f) {
      if (f != nullptr && (next == nullptr || f->offset < next->offset)) next = f;
    };
    Finding* fa = a.Front();
    Finding* fb = b.Front();
    Finding* fc = c.Front();
    consider(fa);
    consider(fb);
    consider(fc);
    if (next == nullptr) break;
    if (next->offset != offset) {
      offset = next->offset;
      told.clear();
    }
    const bool fresh = told.insert({next->kind, next->tag.value_or(Text())}).second;
    if (fresh) sink(std::move(*next));
    if (next == fa) {
      a.Pop();
    } else if (next == fb) {
      b.Pop();
    } else {
      c.Pop();
    }
  }
}

std::vector<Finding> LintPage(TextView text, const std::vector<TagRow>& rows,
                              const LintOptions& options) {
  std::vector<Finding> found;
  LintPage(text, rows, options, [&found](Finding&& f) { found.push_back(std::move(f)); });
  return found;
}

}  // namespace vz::cli
