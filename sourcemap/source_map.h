// Source maps of generated pages: where each character of a page came from,
// in the Source Map format (revision 3) that browsers' and editors' tools
// read, and back from a map to the template, the tag rows and the chain of
// expansions that put a character where it is.
//
//   std::string json = WriteSourceMap(trace, page, "out/12.asp", "templates/index.htm");
//   SourceMap map = SourceMap::Parse(json);
//   for (const MapLink& link : map.Resolve(45, 1)) ...   // innermost first
//
// The map's sources are the template (its content left out: it is a file of
// its own) and one per tag row applied, "web_tag row N: NAME" (N the row's
// place in the order applied, from 1) with the row's code as its content;
// `names` holds the rows' tag names in the same order. Lines end at CR LF, LF
// or a lone CR, in the page and in the sources alike, and columns count UTF-16
// code units. There is a segment where each run of the page's origins starts
// and where each line of the page starts inside a run. A segment of template
// text or of a code stands for the characters after it one to one (the next
// character of the page is the next character of the source); any other
// segment maps all its characters to the one place it names: an expansion's
// writing to the first character of its opening tag, the conversion to
// execute code to the character it writes for.
//
// The extension "x_vavizar" (an object) carries what the standard fields
// cannot say:
//   "version":     1;
//   "rows":        the tag rows' numbers N, in the order of `names`;
//   "lines":       the length of each line of the page, line end included;
//   "kinds":       one base64 VLQ per segment, laid out with the ";" and ","
//                  of "mappings": 8 * (o - p) + k, where k is the segment's
//                  kind (0 template text, 1 code, 2 written by an expansion,
//                  3, 4, 5 written by the conversion for a character of
//                  kind 0, 1, 2), o its occurrence (-1 for none) and p the
//                  occurrence of the segment before it (-1 before the first);
//   "occurrences": one array per expansion, in the order they were made:
//                  [source, line, column, tag, name, parent]: where the first
//                  character of its opening tag stands (an index of
//                  `sources`, 0-based line and column), the opening tag's
//                  text, the index in `names` of the row it expanded, and the
//                  expansion that brought in the code holding the tag (-1 when
//                  the tag is template text). A tag that an expansion wrote
//                  (inside the assignment lines of its attributes) has that
//                  expansion's place and that expansion as its parent.

#ifndef VAVIZAR_SOURCEMAP_SOURCE_MAP_H_
#define VAVIZAR_SOURCEMAP_SOURCE_MAP_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "generate/origins.h"
#include "platform/text.h"

namespace vz {

// A map that cannot be read or resolved, or origins that do not describe the
// page. The message is one line.
class SourceMapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The map of `generated`, the page `trace` describes, as JSON text in UTF-8.
// `file` is the page's file name, `template_source` the template's path as
// the map names it. Throws SourceMapError when trace.origins does not cover
// `generated` run by run or names rows, occurrences or places that are not
// there.
//
// A page of at least `parallel_runs` runs is written in two halves at once,
// on two threads, with the same result; tests set it low to compare.
inline constexpr size_t kParallelMapRuns = 16384;
std::string WriteSourceMap(const PageTrace& trace, TextView generated, std::string_view file,
                           std::string_view template_source,
                           size_t parallel_runs = kParallelMapRuns);

// A map as the pieces it was written in, one after another: their
// concatenation is the map. A large map goes to a file this way without
// being put together in memory first.
class SourceMapText {
 public:
  SourceMapText(std::vector<std::string_view> pieces, std::shared_ptr<const void> storage)
      : pieces_(std::move(pieces)), storage_(std::move(storage)) {}

  const std::vector<std::string_view>& pieces() const { return pieces_; }
  size_t size() const;
  std::string Joined() const;

 private:
  std::vector<std::string_view> pieces_;
  std::shared_ptr<const void> storage_;  // what the pieces lie in
};

// WriteSourceMap, in pieces.
SourceMapText WriteSourceMapText(const PageTrace& trace, TextView generated, std::string_view file,
                                 std::string_view template_source,
                                 size_t parallel_runs = kParallelMapRuns);

// One step of the answer to "where does this character come from".
struct MapLink {
  enum class Kind : uint8_t {
    kTemplate,   // template text at source:line:column
    kCode,       // the code of tag row `row` (`name`) at line:column of it
    kGenerated,  // written by expanding tag row `row` (`name`)
    kConverted,  // written by the conversion to execute code for the next link
    kExpanding,  // the opening tag `tag` of an expansion, at source:line:column:
                 // template text when `row` is 0, else in the code of row `row`
    kMapped,     // a map without x_vavizar: the place its segment names
  };
  Kind kind = Kind::kTemplate;
  std::string source;  // the map's name of the source, "" when none
  int64_t line = 0;    // 1-based; 0 when none
  int64_t column = 0;  // 1-based, in UTF-16 code units; 0 when none
  int64_t row = 0;     // the tag row's number N; 0 when none
  std::string name;    // the tag row's name, or (kMapped) the segment's name
  std::string tag;     // kExpanding: the opening tag
};

class SourceMap {
 public:
  // Reads a map. Throws SourceMapError when `json` is no JSON, no Source Map
  // of revision 3, or a map whose "x_vavizar" is not as written above.
  static SourceMap Parse(std::string_view json);

  // Whether the map has the x_vavizar extension.
  bool has_origins() const { return has_origins_; }
  // The map's "file", "" when none.
  const std::string& file() const { return file_; }
  // Lines of the generated file: those of "lines" in a map with the
  // extension, else those of "mappings".
  int64_t line_count() const;

  // Where the character at `line`, `column` (1-based, as an editor shows
  // them) of the generated file came from, innermost first. A map with the
  // extension gives the chain back to the template; another map gives one
  // kMapped link. Throws SourceMapError (one line, naming no file) when the
  // place lies past the end of the file or of its line, or the map says
  // nothing of it.
  std::vector<MapLink> Resolve(int64_t line, int64_t column) const;

 private:
  struct Segment {
    int32_t column = 0;  // generated, 0-based
    int32_t source = -1;
    int32_t line = 0;  // in the source, 0-based
    int32_t source_column = 0;
    int32_t name = -1;
    int32_t occurrence = -1;
    uint8_t kind = 0;
  };
  struct Occurrence {
    int32_t source = 0;
    int32_t line = 0;
    int32_t column = 0;
    int32_t name = 0;
    int32_t parent = -1;
    std::string tag;
  };
  class Reader;

  // kTemplate or kCode link at a place of a source.
  MapLink SourceLink(int32_t source, int64_t line, int64_t column) const;
  void AddChain(int32_t occurrence, std::vector<MapLink>& chain) const;

  bool has_origins_ = false;
  std::string file_;
  std::vector<std::string> sources_;
  std::vector<std::string> names_;
  std::vector<Segment> segments_;
  std::vector<size_t> line_starts_;  // first segment of each line, and the end
  std::vector<int64_t> rows_;
  std::vector<int64_t> line_lengths_;
  std::vector<Occurrence> occurrences_;
};

}  // namespace vz

#endif  // VAVIZAR_SOURCEMAP_SOURCE_MAP_H_
