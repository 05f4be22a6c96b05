// Tag expansion: turns the custom tags of one name in a page text into
// server-page script blocks that hold the tag's code.
//
// For a tag named N the text may hold opening tags "<!--N attributes-->" and
// "<!--N-->" and closing tags "<!--/N-->". ExpandTag works pass by pass: each
// pass takes the first opening tag with attributes (or, when none is left, the
// first one without), pairs it with the first closing tag after its "-->" when
// the text holds any closing tag, and rebuilds the text as
//   before + "<%" + attribute lines + code + "%>" + rest
// where every "[data]" of the code becomes "%>" + enclosed content + "<%" (the
// code goes in unchanged when the text has no closing tag). The next pass looks
// at the whole rebuilt text again, so markup that a pass brings in is expanded
// too. The result is exactly that of running the passes one after the other;
// the work done is close to linear in the size of the texts involved.
//
//   Text page = u"<p><!--box w=1&h=2--><b>Hi</b><!--/box--></p>";
//   Text out = ExpandTag(page, u"box", u"Start w, h\r\n[data]\r\nEnd");
//   // out == u"<p><%w=\"1\"\r\nh=\"2\"\r\nStart w, h\r\n%><b>Hi</b><%\r\nEnd%></p>"
//
// Failures (a failure ends the whole expansion; no partial text comes back):
//   5  "Invalid procedure call or argument" when the text holds closing tags
//      but none after the "-->" of the opening tag being expanded;
//   5  "Invalid procedure call or argument: tag <!--N at P has no -->" when an
//      opening tag, at position P of the text of that pass, has no "-->" at or
//      after it;
//   5  "Invalid procedure call or argument: the code of tag <!--N holds its own
//      opening tag" when the text holds an opening tag of N and the code holds
//      "<!--N " or "<!--N-->" (expanding would never end);
//   14 "Out of string space" when a pass would make the text longer than the
//      working limit. It is checked before the longer text is built, so a
//      runaway expansion (content copied by several "[data]" markers, pass
//      after pass) ends there instead of exhausting memory.

#ifndef VAVIZAR_GENERATE_EXPAND_TAG_H_
#define VAVIZAR_GENERATE_EXPAND_TAG_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "generate/page_text.h"
#include "platform/text.h"

namespace vz {

class OriginRecorder;

struct ExpandLimits {
  // The longest text a pass may produce. A host that wants expansion to stop
  // well before the memory for 2^31 characters is needed sets a smaller value.
  // REQUIRES: 0 <= max_length <= kMaxTextLength.
  int64_t max_length = kMaxTextLength;
};

// Where the three forms of a tag occur in a text: every start position of
// "<!--N ", of "<!--N-->" and of "<!--/N-->", ascending. A caller that
// already knows them saves the expansion its first searches of the text.
struct TagSightings {
  std::vector<size_t> with_attributes;
  std::vector<size_t> plain;
  std::vector<size_t> closing;
};

// `text` with every occurrence of the tag `tag_name` expanded with `tag_code`;
// `text` itself when it holds no opening tag of that name.
Text ExpandTag(Text text, Text tag_name, Text tag_code, const ExpandLimits& limits = {});

// The same in place, on a page text that lives on from one tag to the next,
// with the sightings of the tag in it given (they must be complete and
// exact; null to search). A failure leaves `page` in an unspecified state.
// With a recorder, every edit is also told to it (generate/origin_recorder.h);
// the text comes out the same.
void ExpandTag(PageText& page, TextView tag_name, TextView tag_code, const ExpandLimits& limits,
               const TagSightings* sightings, OriginRecorder* recorder = nullptr);

// Assignment lines for the attribute text of one opening tag: every "&"
// becomes a double quote and CR LF, every "=" becomes "=" and a double quote,
// and a double quote and CR LF end the last line. "w=1&h=2" gives
// "w=\"1\"\r\nh=\"2\"\r\n".
Text AttributesToCode(Text attributes);

}  // namespace vz

#endif  // VAVIZAR_GENERATE_EXPAND_TAG_H_
