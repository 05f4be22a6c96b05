// One differential check of the fast tag expansion against the literal one,
// shared by the unit test and the fuzz target.

#ifndef VAVIZAR_TESTS_EXPAND_TAG_DIFFERENTIAL_H_
#define VAVIZAR_TESTS_EXPAND_TAG_DIFFERENTIAL_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "generate/expand_tag.h"
#include "generate/page_text.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "tests/expand_tag_reference.h"

namespace vz::differential {

// Enough passes for every input the generators make that ends at all.
inline constexpr int64_t kReferencePassCap = 5000;

struct Verdict {
  bool same = true;
  bool reference_capped = false;
  bool failed = false;  // both failed alike
  std::string detail;   // what differs, when !same
};

inline std::string Show(const Text& text) {
  std::string out;
  for (char16_t c : text) {
    if (c == u'\r') {
      out += "\\r";
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[16];
      snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

// The expansion as a page's assembly runs it: on a page text, here of
// blocks of `block_chars`, searching for the tag itself.
inline Text ExpandOnBlocks(const Text& text, const Text& name, const Text& code,
                           const ExpandLimits& limits, size_t block_chars) {
  PageText page(text, block_chars);
  ExpandTag(page, name, code, limits, nullptr);
  return page.Take();
}

// Compares ExpandTag with the literal passes, and, unless `block_chars` is
// 0, the expansion on a page text of blocks that small too.
inline Verdict Compare(const Text& text, const Text& name, const Text& code, int64_t max_length,
                       int64_t pass_cap = kReferencePassCap, size_t block_chars = 0) {
  Verdict verdict;
  const reference::Outcome expected = reference::ExpandTag(text, name, code, max_length, pass_cap);
  bool failed = false;
  Text result;
  int32_t number = 0;
  Text description;
  ExpandLimits limits;
  limits.max_length = max_length;
  try {
    result = ExpandTag(text, name, code, limits);
  } catch (const Failure& failure) {
    failed = true;
    number = failure.number();
    description = failure.description();
  }
  if (block_chars != 0) {
    // Both ways must end alike; a difference shows as the result of the
    // second.
    bool blocks_failed = false;
    Text blocks_result;
    int32_t blocks_number = 0;
    Text blocks_description;
    try {
      blocks_result = ExpandOnBlocks(text, name, code, limits, block_chars);
    } catch (const Failure& failure) {
      blocks_failed = true;
      blocks_number = failure.number();
      blocks_description = failure.description();
    }
    if (blocks_failed != failed || blocks_result != result || blocks_number != number ||
        blocks_description != description) {
      failed = blocks_failed;
      result = blocks_result;
      number = blocks_number;
      description = blocks_description + u" (on blocks of " +
                    DecimalText(static_cast<int64_t>(block_chars)) + u")";
    }
  }
  std::string actual = failed ? "failure " + std::to_string(number) + " " + Show(description)
                              : "text \"" + Show(result) + "\"";
  switch (expected.kind) {
    case reference::Outcome::kText:
      verdict.same = !failed && result == expected.text;
      if (!verdict.same)
        verdict.detail = "expected text \"" + Show(expected.text) + "\", got " + actual;
      break;
    case reference::Outcome::kFailure:
      verdict.failed = true;
      verdict.same = failed && number == expected.number && description == expected.description;
      if (!verdict.same) {
        verdict.detail = "expected failure " + std::to_string(expected.number) + " " +
                         Show(expected.description) + ", got " + actual;
      }
      break;
    case reference::Outcome::kCapped:
      verdict.reference_capped = true;
      verdict.same = failed;
      if (!verdict.same)
        verdict.detail = "reference did not end; expected a failure, got " + actual;
      break;
  }
  if (!verdict.same) {
    verdict.detail += "\n  name \"" + Show(name) + "\"\n  code \"" + Show(code) + "\"\n  text \"" +
                      Show(text) + "\"\n  max_length " + std::to_string(max_length);
  }
  return verdict;
}

}  // namespace vz::differential

#endif  // VAVIZAR_TESTS_EXPAND_TAG_DIFFERENTIAL_H_
