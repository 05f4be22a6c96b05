// What the generation of a page shows when the page is not what its author
// meant, read off the generation itself, and which findings of `vavizar
// check` account for each symptom. Shared by the property test of check and
// its fuzz target.
//
// Symptoms, each of a page that generated (or failed to):
//   fails          generating the page raises a failure
//   data           the result holds "[data]" though the template does not
//                  (a code's marker went in as it is)
//   tag-left       the result holds an opening tag of a row's name
//   custom         the result holds a comment that is plainly a custom tag
//                  of a word no row has: "<!--W-->" or "<!--W " with
//                  "<!--/W-->" in the result, or "<!--W name=..." attributes
//   attributes     assignment lines that do not compile; seen only when every
//                  code starts with kCodeMark, which tells where the lines of
//                  a block end (they are taken to start after the last "<%"
//                  before it, so attribute texts must hold no "<%")
//   unencodable    the result holds characters the encoding cannot write

#ifndef VAVIZAR_TESTS_PAGE_SYMPTOMS_H_
#define VAVIZAR_TESTS_PAGE_SYMPTOMS_H_

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli/template_lint.h"
#include "generate/asp_code.h"
#include "platform/failure.h"
#include "platform/fso/encoder.h"

namespace vz::symptoms {

// A character that codes of generated rows start with and templates never
// hold.
inline constexpr char16_t kCodeMark = u'\x01';

struct Generated {
  bool failed = false;
  int32_t number = 0;
  Text text;
};

// The page generated as the component does it, with the working limit
// `max_length`.
inline Generated Generate(const Text& templet, const std::vector<cli::TagRow>& rows,
                          int64_t max_length) {
  ado::RowTable table;
  table.columns = 4;
  table.rows = static_cast<int32_t>(rows.size());
  table.cells.resize(4 * rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].name) table.cells[r] = *rows[r].name;
    if (rows[r].code) table.cells[3 * rows.size() + r] = *rows[r].code;
  }
  ExpandLimits limits;
  limits.max_length = max_length;
  Generated out;
  try {
    out.text = AssembleAspCode(templet, table, limits);
  } catch (const Failure& f) {
    out.failed = true;
    out.number = f.number();
  }
  return out;
}

inline bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
inline bool IsWordChar(char16_t c) {
  return IsLetter(c) || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-' || c == u'.';
}

// Whether the result holds a comment that is plainly a custom tag of a word
// that is no row name.
inline bool HoldsCustomTag(TextView text, const std::set<Text>& names) {
  static const std::regex kNameEquals("^[ \t]*[A-Za-z][A-Za-z0-9_]*[ \t]*=");
  for (size_t p = text.find(u"<!--"); p != TextView::npos; p = text.find(u"<!--", p + 1)) {
    size_t k = p + 4;
    if (k >= text.size() || !(IsLetter(text[k]) || text[k] == u'_')) continue;
    while (k < text.size() && IsWordChar(text[k]) && text.substr(k, 3) != u"-->") ++k;
    const Text word(text.substr(p + 4, k - p - 4));
    if (names.count(word) != 0) continue;
    if (text.substr(k, 3) == u"-->" || (k < text.size() && text[k] == u' ')) {
      if (text.find(Concat({u"<!--/", word, u"-->"})) != TextView::npos) return true;
    }
    if (k < text.size() && text[k] == u' ') {
      const size_t end = std::min(text.find(u"-->", k), text.size());
      const TextView attributes = text.substr(k + 1, end - k - 1);
      if (attributes.find(u"<%") == TextView::npos &&
          std::regex_search(ToUtf8(attributes), kNameEquals))
        return true;
    }
  }
  return false;
}

// Whether some block's assignment lines (between its "<%" and the kCodeMark
// its code starts with) do not compile.
inline bool HoldsBadLines(TextView text) {
  static const std::regex kLines("^(?:[ \t\r\n]*[A-Za-z][A-Za-z0-9_]*[ \t]*=\"[^\"\r\n]*\"\r\n)+$");
  for (size_t m = text.find(kCodeMark); m != TextView::npos; m = text.find(kCodeMark, m + 1)) {
    const size_t open = text.rfind(u"<%", m);
    if (open == TextView::npos || open + 2 == m) continue;
    const std::string lines = ToUtf8(text.substr(open + 2, m - open - 2));
    if (lines.find("%>") != std::string::npos || !std::regex_match(lines, kLines)) return true;
  }
  return false;
}

// The symptoms of a page (see the top of this file).
inline std::vector<std::string> Of(const Generated& page, const Text& templet,
                                   const std::vector<cli::TagRow>& rows,
                                   const std::string& encoding, bool codes_marked) {
  std::vector<std::string> found;
  if (page.failed) {
    found.push_back("fails");
    return found;
  }
  const TextView out = page.text;
  std::set<Text> names;
  for (const cli::TagRow& row : rows) {
    if (row.name) names.insert(*row.name);
  }
  if (out.find(u"[data]") != TextView::npos && templet.find(u"[data]") == Text::npos)
    found.push_back("data");
  for (const Text& name : names) {
    if (out.find(Concat({u"<!--", name, u" "})) != TextView::npos ||
        out.find(Concat({u"<!--", name, u"-->"})) != TextView::npos) {
      found.push_back("tag-left");
      break;
    }
  }
  if (HoldsCustomTag(out, names)) found.push_back("custom");
  if (codes_marked && HoldsBadLines(out)) found.push_back("attributes");
  if (!fso::Unencodable(encoding, out).empty()) found.push_back("unencodable");
  return found;
}

// The kinds of finding that account for a symptom at its cause.
inline std::set<std::string> KindsFor(const std::string& symptom) {
  if (symptom == "fails") {
    return {"unterminated-tag",  "closing-tag-before", "attributes-run-on", "page-too-long",
            "code-opens-itself", "null-name",          "null-code",         "too-many-rows",
            "generation-fails",  "markup-grows"};
  }
  if (symptom == "data") return {"unclosed-tag"};
  if (symptom == "tag-left") return {"tag-left"};
  if (symptom == "custom") return {"tag-not-applied"};
  if (symptom == "attributes") return {"bad-attributes", "attributes-run-on"};
  return {"unencodable"};
}

// What is wrong with the findings of a page that shows `symptoms`: "" when
// each symptom has a finding of a kind that accounts for it. A page that
// check does not follow to the end (odd-tag-name, markup-grows) needs an
// error for a failure only.
inline std::string Unexplained(const std::vector<std::string>& symptoms,
                               const std::vector<cli::Finding>& findings) {
  std::set<std::string> kinds;
  for (const cli::Finding& f : findings) kinds.insert(f.kind);
  const bool not_followed = kinds.count("odd-tag-name") != 0 || kinds.count("markup-grows") != 0;
  std::string missing;
  for (const std::string& symptom : symptoms) {
    if (not_followed && symptom != "fails") continue;
    bool told = false;
    for (const std::string& kind : KindsFor(symptom)) told = told || kinds.count(kind) != 0;
    if (!told) missing += (missing.empty() ? "" : ", ") + symptom;
  }
  return missing;
}

}  // namespace vz::symptoms

#endif  // VAVIZAR_TESTS_PAGE_SYMPTOMS_H_
