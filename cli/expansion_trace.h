// The expansion of a page followed step by step, to say where it fails or
// leaves what its author did not mean, at the place in the template that
// causes it.
//
// The trace applies the rows in order and expands each tag pass by pass by
// the rules of generate/expand_tag.h: the first opening tag with attributes
// (else the first without) is taken, its "-->" is the first one after it,
// and it pairs with the first closing tag after that whenever the text holds
// any closing tag of the name. It works on a stand-in of the page: the
// template as it is, and each code reduced to its markup (every "<!--" with
// the characters a tag name can reach, every "-->"), the rest of a code kept
// only as its length. Every character remembers where it came from, so what
// happens to markup a code brought in is told at the tag of the template
// whose expansion brought it. Lengths are counted exactly, so a page that
// grows past the working limit is seen as the component sees it.
//
// The stand-in is exact for tag names that cannot be matched across the
// "<%" and "%>" the expansion puts around code (see IsPlainTagName); rows
// with other names are left out of the trace (LintRows warns of them).
//
//   TraceResult r = TraceExpansion(u"<!--box w=1\n<!--/box-->", {{u"box", u"S[data]E"}}, {});
//   // r.findings[0].kind == "attributes-run-on" (generating the page fails)

#ifndef VAVIZAR_CLI_EXPANSION_TRACE_H_
#define VAVIZAR_CLI_EXPANSION_TRACE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cli/finding.h"
#include "platform/text.h"

namespace vz::cli {

struct TraceLimits {
  // The longest text generating the page may build (failure 14 past it).
  int64_t max_length = 268435456;
  // The most characters the stand-in may hold; 0 for four times the template
  // and codes plus 1 Mi. Past it the trace stops with a markup-grows finding.
  size_t max_units = 0;
};

struct TraceResult {
  // Findings of the kinds unterminated-tag, closing-tag-before,
  // attributes-run-on, unclosed-tag, bad-attributes, page-too-long, tag-left
  // and markup-grows, in the order met.
  std::vector<Finding> findings;
  // Per row: the template offset of the tag whose expansion first put the
  // row's code into the page; kNoOffset when it never goes in.
  std::vector<size_t> first_use;
  // False when the trace stopped before the last row: at a failure, at a
  // NULL cell, or at the max_units bound.
  bool complete = true;
};

// Whether the tag name `name` can be followed exactly: not empty, not
// starting with "/", and holding no blank, line end, "<", ">", "%", "\"",
// "&" or "=".
bool IsPlainTagName(TextView name);

// Follows the generation of a page with template `text` and tag rows `rows`
// (in the order applied).
TraceResult TraceExpansion(TextView text, const std::vector<TagRow>& rows,
                           const TraceLimits& limits);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_EXPANSION_TRACE_H_
