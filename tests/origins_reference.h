// The literal passes of a page's assembly run on characters that carry
// their origin with them: the yardstick for the origins the fast assembly
// records. Used by the unit test and the pipeline fuzz target.

#ifndef VAVIZAR_TESTS_ORIGINS_REFERENCE_H_
#define VAVIZAR_TESTS_ORIGINS_REFERENCE_H_

#include <string>
#include <utility>
#include <vector>

#include "generate/origins.h"
#include "platform/ado/connection.h"
#include "platform/text.h"

namespace vz::reference {

// A character and where it came from.
struct Char {
  char16_t c;
  Origin origin;
};
using Chars = std::vector<Char>;

inline Text Plain(const Chars& chars) {
  Text text;
  for (const Char& ch : chars) text += ch.c;
  return text;
}

inline Origin Generated(int32_t occurrence) {
  Origin origin;
  origin.kind = Origin::Kind::kGenerated;
  origin.occurrence = occurrence;
  return origin;
}

inline void AddGenerated(Chars& out, TextView chars, int32_t occurrence) {
  for (char16_t c : chars) out.push_back({c, Generated(occurrence)});
}

inline void AddSlice(Chars& out, const Chars& from, size_t begin, size_t end) {
  out.insert(out.end(), from.begin() + static_cast<ptrdiff_t>(begin),
             from.begin() + static_cast<ptrdiff_t>(end));
}

// The literal passes of every row, on characters with origins. Returns
// false when a pass fails or the passes do not end soon.
inline bool ReferenceAssembly(const Text& templet, const ado::RowTable& tags, Chars& text,
                              PageOrigins& origins) {
  text.clear();
  for (size_t i = 0; i < templet.size(); ++i) {
    Origin origin;
    origin.offset = i;
    text.push_back({templet[i], origin});
  }
  int passes = 0;
  for (int32_t row = 0; row < tags.rows; ++row) {
    const Text name = ado::CellText(tags.At(0, row));
    const Text code = ado::CellText(tags.At(3, row));
    const Text with_attributes = Concat({u"<!--", name, u" "});
    const Text plain_form = Concat({u"<!--", name, u"-->"});
    const Text closing = Concat({u"<!--/", name, u"-->"});
    bool row_recorded = false;
    for (;;) {
      const Text plain = Plain(text);
      size_t e = plain.find(with_attributes);
      if (e == Text::npos) e = plain.find(plain_form);
      if (e == Text::npos) break;
      if (code.find(with_attributes) != Text::npos || code.find(plain_form) != Text::npos)
        return false;
      if (++passes > 300) return false;
      const size_t f = plain.find(u"-->", e);
      if (f == Text::npos) return false;
      if (!row_recorded) {
        origins.rows.push_back({row, name, code});
        row_recorded = true;
      }
      const auto k = static_cast<int32_t>(origins.occurrences.size());
      origins.occurrences.push_back({row, text[e].origin, plain.substr(e, f + 3 - e)});
      Chars lines;
      const size_t name_end = e + 4 + name.size();
      if (f > name_end) {
        // The assignment lines are the expansion's own writing.
        for (size_t i = name_end + 1; i < f; ++i) {
          if (text[i].c == u'&') {
            AddGenerated(lines, u"\"\r\n", k);
          } else {
            AddGenerated(lines, TextView(&text[i].c, 1), k);
            if (text[i].c == u'=') AddGenerated(lines, u"\"", k);
          }
        }
        AddGenerated(lines, u"\"\r\n", k);
      }
      Chars coded;
      for (size_t i = 0; i < code.size(); ++i) {
        Origin origin;
        origin.kind = Origin::Kind::kCode;
        origin.row = row;
        origin.occurrence = k;
        origin.offset = i;
        coded.push_back({code[i], origin});
      }
      Chars next;
      AddSlice(next, text, 0, e);
      AddGenerated(next, u"<%", k);
      AddSlice(next, lines, 0, lines.size());
      size_t rest;
      if (plain.find(closing) != Text::npos) {
        const size_t o = plain.find(closing, f + 3);
        if (o == Text::npos) return false;
        // Every "[data]" of the code, left to right, becomes the content.
        size_t done = 0;
        for (size_t at = code.find(u"[data]"); at != Text::npos; at = code.find(u"[data]", done)) {
          AddSlice(next, coded, done, at);
          AddGenerated(next, u"%>", k);
          AddSlice(next, text, f + 3, o);
          AddGenerated(next, u"<%", k);
          done = at + 6;
        }
        AddSlice(next, coded, done, coded.size());
        rest = o + closing.size();
      } else {
        AddSlice(next, coded, 0, coded.size());
        rest = f + 3;
      }
      AddGenerated(next, u"%>", k);
      AddSlice(next, text, rest, text.size());
      text = std::move(next);
    }
  }
  return true;
}

// The origin of every character the runs cover, one after another.
inline std::vector<Origin> PerCharacter(const PageOrigins& origins, std::string& error) {
  std::vector<Origin> out;
  for (const OriginRun& run : origins.runs) {
    if (run.length == 0) error = "an empty run";
    if (run.start != out.size()) error = "a run that does not start where the one before ended";
    for (size_t i = 0; i < run.length; ++i) {
      Origin origin = run.origin;
      if (origin.kind != Origin::Kind::kGenerated) origin.offset += i;
      out.push_back(origin);
    }
  }
  return out;
}

}  // namespace vz::reference

#endif  // VAVIZAR_TESTS_ORIGINS_REFERENCE_H_
