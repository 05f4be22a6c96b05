#include "cli/template_lint.h"

#include <algorithm>
#include <unordered_map>

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

// The offset where the line holding `offset` starts.
size_t LineStart(TextView text, size_t offset) {
  size_t at = std::min(offset, text.size());
  while (at > 0) {
    const char16_t before = text[at - 1];
    if (before == u'\n') break;
    // A CR ends a line unless an LF follows it (then the LF ends it).
    if (before == u'\r' && (at >= text.size() || text[at] != u'\n')) break;
    --at;
  }
  return at;
}

// The offset where the line holding `offset` ends (its terminator not counted).
size_t LineEnd(TextView text, size_t offset) {
  size_t at = std::min(offset, text.size());
  while (at < text.size() && text[at] != u'\n' && text[at] != u'\r') ++at;
  return at;
}

std::string Quoted(TextView text) { return "`" + ToUtf8(text) + "`"; }

std::string Where(TextView text, size_t offset) {
  LineColumn at = Locate(text, offset);
  return std::to_string(at.line) + ":" + std::to_string(at.column);
}

std::string HexCodePoint(char32_t c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (char32_t v = c; v != 0 || hex.size() < 4; v >>= 4) hex.insert(hex.begin(), kDigits[v & 15]);
  return "U+" + hex;
}

Finding TextFinding(std::string kind, size_t offset, const Text& tag, const std::string& message) {
  Finding f;
  f.kind = std::move(kind);
  f.offset = offset;
  f.tag = tag;
  f.message = FromUtf8(message);
  return f;
}

// The places of one tag name's markup in the text.
struct Markup {
  std::vector<size_t> openings;  // "<!--N " and "<!--N-->", ascending
  std::vector<bool> attributes;  // per opening: the "<!--N " form
  std::vector<size_t> closings;  // "<!--/N-->", ascending
};

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

LineColumn Locate(TextView text, size_t offset) {
  LineColumn at{1, 1};
  const size_t end = std::min(offset, text.size());
  for (size_t i = 0; i < end;) {
    const char16_t c = text[i];
    if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'))) {
      ++at.line;
      at.column = 1;
      ++i;
    } else if (c == u'\r') {
      ++i;  // the CR of a CR LF pair; the LF ends the line
    } else {
      ++at.column;
      i += Units(text, i);
    }
  }
  return at;
}

std::vector<Finding> LintRows(TextView text, const std::vector<TagRow>& rows) {
  std::vector<Finding> found;
  for (size_t i = 0; i < rows.size(); ++i) {
    const TagRow& row = rows[i];
    const int64_t position = static_cast<int64_t>(i) + 1;
    const std::string label =
        "row " + std::to_string(position) + (row.name ? " (" + Quoted(*row.name) + ")" : "");
    auto add = [&](std::string kind, std::string message) {
      Finding f;
      f.kind = std::move(kind);
      f.tag = row.name;
      f.row = position;
      f.row_name = row.name;
      f.message = FromUtf8(message);
      found.push_back(std::move(f));
      return &found.back();
    };
    if (!row.name) add("null-name", label + " has a NULL name: generating the page fails");
    if (!row.code) add("null-code", label + " has a NULL code: generating the page fails");
    if (row.name && row.code) {
      const Text with_attributes = Concat({kCommentStart, *row.name, u" "});
      const Text plain = Concat({kCommentStart, *row.name, kCommentEnd});
      if (Find(*row.code, with_attributes) != TextView::npos ||
          Find(*row.code, plain) != TextView::npos) {
        Finding* f =
            add("code-opens-itself", "the code of " + label + " holds an opening tag of " +
                                         Quoted(*row.name) + ": expanding the tag never ends, so " +
                                         "generating a page that uses it fails");
        f->offset = std::min(Find(text, with_attributes), Find(text, plain));
        if (f->offset == TextView::npos) f->offset = kNoOffset;
      }
    }
  }
  if (rows.size() > kMaxTagRows) {
    Finding f;
    f.kind = "too-many-rows";
    f.row = static_cast<int64_t>(kMaxTagRows) + 1;
    f.row_name = rows[kMaxTagRows].name;
    f.tag = f.row_name;
    f.message = FromUtf8("the page has " + std::to_string(rows.size()) + " tag rows; row " +
                         std::to_string(kMaxTagRows + 1) +
                         " and later are past the last row index 32767, so generating the "
                         "page fails with \"Overflow\"");
    found.push_back(std::move(f));
  }
  return found;
}

namespace {

// The tag names of a page, each once, with a way from a name to its number.
struct TagNames {
  explicit TagNames(const std::vector<Text>& names) {
    for (const Text& name : names) {
      if (index.emplace(name, index.size()).second) longest = std::max(longest, name.size());
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
// is no tag name itself.
const Text* NearestName(TextView word, const TagNames& tags) {
  const Text* best = nullptr;
  size_t best_distance = 3;
  for (const Text& name : tags.distinct) {
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

// A comment at `p` that is no tag: is its first word a tag name mistyped? A
// comment that starts with a blank is an ordinary one, and "<!--[" opens a
// conditional comment.
void CheckMisspelling(TextView text, size_t p, const TagNames& tags, std::vector<Finding>& found) {
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
  const Text* best = NearestName(word, tags);
  if (best == nullptr) return;
  const std::string slash = closing ? "/" : "";
  const std::string shown =
      "<!--" + slash + ToUtf8(word) + (StartsAt(text, word_end, kCommentEnd) ? "-->" : "");
  found.push_back(TextFinding("misspelled-tag", p, *best,
                              Quoted(FromUtf8(shown)) + ": did you mean " +
                                  Quoted(FromUtf8(slash + ToUtf8(*best))) + "?"));
}

// The pairing of the markup of tag `name`: unterminated opening tags, those
// that pair past another opening tag, and closing tags with no opening tag
// before them.
void CheckPairing(TextView text, const Text& name, const Markup& m, std::vector<Finding>& found) {
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
                                      " pairs with the closing tag at " + Where(text, *closing) +
                                      ", past another opening tag of " + Quoted(name) + " at " +
                                      Where(text, *between)));
    }
  }
  for (size_t c : m.closings) {
    if (!m.openings.empty() && m.openings.front() < c) continue;
    found.push_back(TextFinding("unopened-closing-tag", c, name,
                                "closing tag " + Quoted(Concat({u"<!--/", name, kCommentEnd})) +
                                    " has no opening tag of " + Quoted(name) + " before it"));
  }
}

}  // namespace

std::vector<Finding> LintMarkup(TextView text, const std::vector<Text>& names) {
  const TagNames tags(names);
  std::vector<Markup> markup(tags.distinct.size());
  std::vector<Finding> found;
  for (size_t p = Find(text, kCommentStart); p != TextView::npos;
       p = Find(text, kCommentStart, p + 1)) {
    if (!RecordTagsAt(text, p, tags, markup)) CheckMisspelling(text, p, tags, found);
  }
  for (size_t n = 0; n < tags.distinct.size(); ++n)
    CheckPairing(text, tags.distinct[n], markup[n], found);
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
    Finding f;
    f.kind = "unencodable";
    f.offset = begin;
    f.message = FromUtf8(Quoted(text.substr(begin, end - begin)) + " cannot be written in " +
                         std::string(encoding) + " (" + points + ")");
    found.push_back(std::move(f));
    i = j;
  }
  return found;
}

std::vector<Finding> LintPage(TextView text, const std::vector<TagRow>& rows,
                              std::string_view encoding) {
  std::vector<Finding> found = LintRows(text, rows);
  std::vector<Text> names;
  for (const TagRow& row : rows) {
    if (row.name) names.push_back(*row.name);
  }
  std::vector<Finding> in_text = LintMarkup(text, names);
  std::vector<Finding> encoding_found = LintEncoding(text, encoding);
  in_text.insert(in_text.end(), encoding_found.begin(), encoding_found.end());
  std::stable_sort(in_text.begin(), in_text.end(),
                   [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
  found.insert(found.end(), in_text.begin(), in_text.end());
  return found;
}

std::string FormatHuman(const std::string& file, TextView text, const Finding& finding) {
  std::string out = file;
  if (finding.offset != kNoOffset) {
    const LineColumn at = Locate(text, finding.offset);
    out += ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
  }
  if (!out.empty()) out += ": ";
  out += finding.kind + ": " + ToUtf8(finding.message) + "\n";
  if (finding.offset == kNoOffset) return out;
  const size_t start = LineStart(text, finding.offset);
  const size_t end = LineEnd(text, finding.offset);
  out += ToUtf8(text.substr(start, end - start)) + "\n";
  // Tabs stay tabs so that the caret lines up under them.
  for (size_t i = start; i < finding.offset && i < end; i += Units(text, i))
    out += text[i] == u'\t' ? '\t' : ' ';
  out += "^\n";
  return out;
}

std::string JsonString(std::string_view utf8) {
  static constexpr char kDigits[] = "0123456789abcdef";
  // Bytes that are no UTF-8 (a path may hold them) become U+FFFD.
  const std::string valid = ToUtf8(FromUtf8(utf8));
  std::string out = "\"";
  for (char c : valid) {
    const unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += "\\u00";
          out += kDigits[u >> 4];
          out += kDigits[u & 15];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string FormatJson(const std::string& file, TextView text, const Finding& finding) {
  LineColumn at;
  if (finding.offset != kNoOffset) at = Locate(text, finding.offset);
  auto optional_text = [](const std::optional<Text>& value) {
    return value ? JsonString(ToUtf8(*value)) : std::string("null");
  };
  return "{\"file\":" + JsonString(file) + ",\"line\":" + std::to_string(at.line) +
         ",\"column\":" + std::to_string(at.column) + ",\"kind\":" + JsonString(finding.kind) +
         ",\"tag\":" + optional_text(finding.tag) +
         ",\"row\":" + (finding.row > 0 ? std::to_string(finding.row) : std::string("null")) +
         ",\"row_name\":" + optional_text(finding.row_name) +
         ",\"message\":" + JsonString(ToUtf8(finding.message)) + "}\n";
}

}  // namespace vz::cli
