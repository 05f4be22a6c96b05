// Whether the attribute text of an opening tag gives assignment lines that a
// script host compiles, and what to write instead when it does not.
//
// The expansion turns every "&" into a double quote and a line end and every
// "=" into "=" and a double quote (generate/expand_tag.h), so only
// `name=value&name=value` with plain values comes out as assignments:
//
//   AttributeTextProblem(u"box", u"w=1&h=2")   // nothing
//   AttributeTextProblem(u"box", u"w=1 h=2")
//   // "attribute text `w=1 h=2` gives the line `w=\"1 h=\"2\"`, which a script
//   //  host cannot compile: a value cannot hold `\"` or `=`; write `w=1&h=2`"
//
// A line compiles when it is blanks or line ends, a name (a letter, then
// letters, digits or "_"), blanks, `="`, and a value without `"` or line
// ends; and no "%>" may stand anywhere in the lines, since it ends the
// script block.

#ifndef VAVIZAR_CLI_ATTRIBUTE_TEXT_H_
#define VAVIZAR_CLI_ATTRIBUTE_TEXT_H_

#include <optional>
#include <string>

#include "platform/text.h"

namespace vz::cli {

// Whether every assignment line of `lines` (the result of AttributesToCode)
// compiles, by the rule above.
bool AttributeLinesCompile(TextView lines);

// Nothing when the attribute text `attributes` of an opening tag of
// `tag_name` gives lines that compile; else why not, with the form that works
// when there is one (quotes dropped, pairs joined by "&").
std::optional<std::string> AttributeTextProblem(TextView tag_name, TextView attributes);

}  // namespace vz::cli

#endif  // VAVIZAR_CLI_ATTRIBUTE_TEXT_H_
