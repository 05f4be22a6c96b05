// Random page traces for the source map tests: a template and tag rows of
// random text (CR LF, LF and lone CR line ends, surrogate pairs, CJK), and a
// generated page made of random runs of every kind of origin, each copy run
// holding exactly the characters of its source. Also the literal answer a
// map must give for each character of such a page, found by counting.

#ifndef VAVIZAR_TESTS_RANDOM_PAGE_TRACE_H_
#define VAVIZAR_TESTS_RANDOM_PAGE_TRACE_H_

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "generate/origins.h"
#include "platform/text.h"
#include "sourcemap/source_map.h"

namespace vz::testing {

// Random text of `length` code units; a surrogate pair counts 2 and is never
// cut.
inline Text RandomMapText(std::mt19937& rng, size_t length) {
  static const char16_t* const kPieces[] = {
      u"a", u"b", u"<", u"-", u" ", u"=", u"\r\n", u"\n", u"\r", u"\U0001F600", u"中", u"\"", u"x"};
  Text out;
  while (out.size() < length) {
    const Text piece = kPieces[rng() % std::size(kPieces)];
    if (out.size() + piece.size() > length) continue;
    out += piece;
  }
  return out;
}

struct RandomTrace {
  PageTrace trace;
  Text generated;
};

// A trace of up to about `runs` runs over a template of up to
// `template_length` units and up to `row_count` rows. Converted runs only
// when `converted`.
inline RandomTrace MakeRandomTrace(std::mt19937& rng, size_t runs, size_t template_length,
                                   size_t row_count, bool converted) {
  RandomTrace out;
  PageTrace& trace = out.trace;
  trace.template_path = u"t.htm";
  trace.template_text = RandomMapText(rng, rng() % (template_length + 1));
  int32_t row = 0;
  for (size_t i = 0; i < row_count; ++i) {
    row += 1 + static_cast<int32_t>(rng() % 3);
    trace.origins.rows.push_back(
        {row, Text(u"tag") + DecimalText(row), RandomMapText(rng, rng() % 12)});
  }
  PageOrigins& origins = trace.origins;
  const auto pick_row = [&]() -> const RowApplied& {
    return origins.rows[rng() % origins.rows.size()];
  };
  // An origin of kind template or code, `length` units long from its offset
  // (false when no text is long enough).
  const auto source_origin = [&](size_t length, bool code, Origin& o) {
    if (code) {
      if (origins.occurrences.empty() || origins.rows.empty()) return false;
      const RowApplied& r = pick_row();
      if (r.code.size() < length) return false;
      o.kind = Origin::Kind::kCode;
      o.row = r.row;
      o.occurrence = static_cast<int32_t>(rng() % origins.occurrences.size());
      o.offset = rng() % (r.code.size() - length + 1);
      return true;
    }
    if (trace.template_text.size() < length) return false;
    o.kind = Origin::Kind::kTemplate;
    o.offset = rng() % (trace.template_text.size() - length + 1);
    return true;
  };
  const auto new_occurrence = [&] {
    if (origins.rows.empty()) return;
    Occurrence o;
    o.row = pick_row().row;
    if (!source_origin(0, rng() % 3 == 0, o.at)) source_origin(0, false, o.at);
    o.tag = u"<!--" + DecimalText(static_cast<int64_t>(origins.occurrences.size())) + u"\r\n-->";
    origins.occurrences.push_back(o);
  };
  new_occurrence();
  for (size_t i = 0; i < runs; ++i) {
    if (rng() % 4 == 0) new_occurrence();
    OriginRun run;
    run.start = out.generated.size();
    const unsigned choice = static_cast<unsigned>(rng() % (converted ? 4 : 3));
    if (choice == 2 || choice == 3) {
      // Written: by an expansion, or by the conversion for some character.
      Origin& o = run.origin;
      if (choice == 3) {
        o.converted = true;
        const unsigned of = static_cast<unsigned>(rng() % 3);
        if (of < 2 && source_origin(1, of == 1, o)) {
          out.generated += RandomMapText(rng, 1 + rng() % 8);
          run.length = out.generated.size() - run.start;
          origins.runs.push_back(run);
          continue;
        }
      }
      if (origins.occurrences.empty()) continue;
      o.kind = Origin::Kind::kGenerated;
      o.occurrence = static_cast<int32_t>(rng() % origins.occurrences.size());
      out.generated += RandomMapText(rng, 1 + rng() % 8);
    } else {
      const size_t length = 1 + rng() % 10;
      if (!source_origin(length, choice == 1, run.origin)) continue;
      const Origin& o = run.origin;
      const TextView source =
          o.kind == Origin::Kind::kTemplate
              ? TextView(trace.template_text)
              : TextView(std::find_if(origins.rows.begin(), origins.rows.end(),
                                      [&](const RowApplied& r) { return r.row == o.row; })
                             ->code);
      out.generated += source.substr(o.offset, length);
    }
    run.length = out.generated.size() - run.start;
    origins.runs.push_back(run);
  }
  return out;
}

// The 1-based line and column of `offset` in `text`, counted one unit at a
// time: a line ends after an LF, or after a CR with no LF after it.
inline void CountPlace(TextView text, size_t offset, int64_t& line, int64_t& column) {
  line = 1;
  column = 1;
  for (size_t i = 0; i < offset; ++i) {
    const bool ends =
        text[i] == u'\n' || (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'));
    if (ends) {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
}

// The chain the map must give for character `at` of the page, built from the
// trace alone.
inline std::vector<MapLink> ExpectedChain(const PageTrace& trace, size_t at,
                                          const std::string& template_source) {
  const PageOrigins& origins = trace.origins;
  const auto row_of = [&](int32_t row) -> const RowApplied& {
    return *std::find_if(origins.rows.begin(), origins.rows.end(),
                         [&](const RowApplied& r) { return r.row == row; });
  };
  const auto place = [&](const Origin& o, size_t plus, MapLink& link) {
    if (o.kind == Origin::Kind::kTemplate) {
      link.source = template_source;
      CountPlace(trace.template_text, o.offset + plus, link.line, link.column);
      return;
    }
    const RowApplied& r = row_of(o.row);
    link.source = "web_tag row " + std::to_string(r.row + 1) + ": " + ToUtf8(r.name);
    link.row = r.row + 1;
    link.name = ToUtf8(r.name);
    CountPlace(r.code, o.offset + plus, link.line, link.column);
  };
  std::vector<MapLink> chain;
  const OriginRun* run = nullptr;
  for (const OriginRun& r : origins.runs) {
    if (at >= r.start && at < r.start + r.length) run = &r;
  }
  const Origin& o = run->origin;
  if (o.converted) {
    MapLink link;
    link.kind = MapLink::Kind::kConverted;
    chain.push_back(link);
  }
  MapLink link;
  if (o.kind == Origin::Kind::kGenerated) {
    const RowApplied& r = row_of(origins.occurrences[static_cast<size_t>(o.occurrence)].row);
    link.kind = MapLink::Kind::kGenerated;
    link.row = r.row + 1;
    link.name = ToUtf8(r.name);
  } else {
    link.kind = o.kind == Origin::Kind::kTemplate ? MapLink::Kind::kTemplate : MapLink::Kind::kCode;
    place(o, o.converted ? 0 : at - run->start, link);
  }
  chain.push_back(link);
  for (int32_t k = o.occurrence; k >= 0;) {
    const Occurrence& occurrence = origins.occurrences[static_cast<size_t>(k)];
    MapLink expanding;
    expanding.kind = MapLink::Kind::kExpanding;
    expanding.tag = ToUtf8(occurrence.tag);
    // A tag that an expansion wrote (inside its assignment lines) stands
    // where that expansion's own tag stood.
    const Occurrence* placed = &occurrence;
    while (placed->at.kind == Origin::Kind::kGenerated)
      placed = &origins.occurrences[static_cast<size_t>(placed->at.occurrence)];
    place(placed->at, 0, expanding);
    chain.push_back(expanding);
    k = occurrence.at.kind == Origin::Kind::kTemplate ? -1 : occurrence.at.occurrence;
  }
  return chain;
}

}  // namespace vz::testing

#endif  // VAVIZAR_TESTS_RANDOM_PAGE_TRACE_H_
