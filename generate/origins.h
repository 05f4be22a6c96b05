// Where the characters of a generated page came from.
//
// Generating a page can record, beside the text, a list of runs that cover
// the text from its first character to its last. Each run says where its
// characters came from:
//   - the template: character i of the run is character offset + i of the
//     template text;
//   - a tag row's code: character i is character offset + i of the code of
//     row `row`, brought in by the expansion `occurrence`;
//   - an expansion itself: the "<%" and "%>" around a block and the
//     assignment lines made from the attributes of the opening tag, written
//     by the expansion `occurrence` (whose opening tag is where they were
//     written from).
// Content that a "[data]" marker moves keeps its origin; an expansion only
// moves it. Every expansion is an occurrence: the opening tag it replaced,
// and where the first character of that tag came from, itself a template or
// a code origin, so expansions inside expanded code form a chain back to
// the template.
//
// Execute code is described the same way, with one more kind of run: the
// characters the conversion writes (Response.Write, doubled quotes, line
// breaks and constants) are `converted`: they are written for one character
// of the server-page text, whose origin the run carries, and are not copies
// of it.

#ifndef VAVIZAR_GENERATE_ORIGINS_H_
#define VAVIZAR_GENERATE_ORIGINS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace vz {

struct Origin {
  enum class Kind : uint8_t {
    kTemplate,   // characters of the template from `offset` on
    kCode,       // characters of the code of row `row` from `offset` on
    kGenerated,  // written by the expansion `occurrence`
  };
  Kind kind = Kind::kTemplate;
  // Execute code only: written by the conversion for the character this
  // origin describes (for a whole run, not one character after another).
  bool converted = false;
  // kCode: the row, 0-based in the order the rows are applied.
  int32_t row = -1;
  // kCode, kGenerated: the occurrence that wrote it; -1 for kTemplate.
  int32_t occurrence = -1;
  // kTemplate, kCode: where the first character stands in its text.
  size_t offset = 0;

  friend bool operator==(const Origin&, const Origin&) = default;
};

// A stretch of the generated text, [start, start + length), and where it
// came from.
struct OriginRun {
  size_t start = 0;
  size_t length = 0;
  Origin origin;

  friend bool operator==(const OriginRun&, const OriginRun&) = default;
};

// One expansion: the opening tag it replaced ("<!--box w=1&h=2-->"), the row
// whose code it brought in, and where the tag's first character came from:
// the template, or the code that the expansion `at.occurrence` brought in,
// or (seldom: a tag inside the attributes of another) the assignment lines
// that the expansion `at.occurrence` wrote.
struct Occurrence {
  int32_t row = -1;
  Origin at;
  Text tag;

  friend bool operator==(const Occurrence&, const Occurrence&) = default;
};

// A row that expanded at least once: its index, name and code as applied.
struct RowApplied {
  int32_t row = -1;
  Text name;
  Text code;

  friend bool operator==(const RowApplied&, const RowApplied&) = default;
};

struct PageOrigins {
  // Ascending, no empty run, together exactly the generated text.
  std::vector<OriginRun> runs;
  // Indexed by the occurrence numbers of the runs, in the order the
  // expansions were made.
  std::vector<Occurrence> occurrences;
  // Ascending by row.
  std::vector<RowApplied> rows;
};

// What a generated page was made of, for a source map: the template's path
// and text as read, and the origins of the page.
struct PageTrace {
  Text template_path;
  Text template_text;
  PageOrigins origins;
};

}  // namespace vz

#endif  // VAVIZAR_GENERATE_ORIGINS_H_
