// What the writer and the reader of source maps share: the extension's name
// and version and the kinds of segment (sourcemap/source_map.h describes
// them), and how lines are told apart.

#ifndef VAVIZAR_SOURCEMAP_MAP_FORMAT_H_
#define VAVIZAR_SOURCEMAP_MAP_FORMAT_H_

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace vz::map_format {

inline constexpr char kExtension[] = "x_vavizar";
inline constexpr int kExtensionVersion = 1;

enum SegmentKind : uint8_t {
  kTemplateText = 0,
  kCodeText = 1,
  kGeneratedText = 2,
  kConverted = 3,  // + the kind of the character written for
  kKindCount = 6,
};

// Whether a line ends at `text[i]`: an LF, or a CR with no LF after it.
inline bool EndsLine(TextView text, size_t i) {
  const char16_t c = text[i];
  return c == u'\n' || (c == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'));
}

}  // namespace vz::map_format

#endif  // VAVIZAR_SOURCEMAP_MAP_FORMAT_H_
