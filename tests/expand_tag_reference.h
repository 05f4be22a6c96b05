// The slow, literal form of tag expansion, kept as the yardstick for the fast
// one: every pass searches the whole text from position 1 with the run-time's
// string operations and rebuilds it as before + block + rest. Used by the
// differential test, the benchmark and the fuzz target.
//
// It carries the same ending rules as the fast code (the refused tag code, the
// opening tag without "-->", the length limit) and, on top, a cap on the number
// of passes, so that it ends on every input; kCapped says the cap was reached.

#ifndef VAVIZAR_TESTS_EXPAND_TAG_REFERENCE_H_
#define VAVIZAR_TESTS_EXPAND_TAG_REFERENCE_H_

#include <cstdint>

#include "platform/failure.h"
#include "platform/text.h"

namespace vz::reference {

inline Text AttributesToCode(Text attributes) {
  Text lines = Replace(attributes, u"&", u"\"\r\n");
  lines = Replace(lines, u"=", u"=\"");
  return Concat({lines, u"\"\r\n"});
}

// One pass over `text`. Returns false when no opening tag is left.
inline bool ExpandOnePass(Text& text, const Text& name, const Text& code, int64_t max_length) {
  const int32_t L = Len(name);
  const Text with_attributes = Concat({u"<!--", name, u" "});
  const Text plain = Concat({u"<!--", name, u"-->"});
  const Text closing = Concat({u"<!--/", name, u"-->"});

  // 1, 2: the form with attributes wins wherever it stands.
  if (InStr(1, text, with_attributes) == 0 && InStr(1, text, plain) == 0) return false;
  const Text& form = InStr(1, text, with_attributes) > 0 ? with_attributes : plain;
  // 3
  const int32_t e = InStr(1, text, form);
  const Text before = Left(text, e - 1);
  // 4
  const int32_t f = InStr(e, text, u"-->");
  if (f == 0) {
    Raise(kInvalidArgument, Concat({StandardDescription(kInvalidArgument), u": tag <!--", name,
                                    u" at ", DecimalText(e), u" has no -->"}));
  }
  // 5
  Text attribute_lines;
  if (f > e + L + 4) attribute_lines = AttributesToCode(Mid(text, e + L + 5, f - (e + L + 5)));
  // 6
  Text body;
  Text rest;
  if (InStr(1, text, closing) > 0) {
    const int32_t o = InStr(f + 3, text, closing);
    const Text content = Mid(text, f + 3, o - (f + 3));
    body = Concat({attribute_lines, Replace(code, u"[data]", Concat({u"%>", content, u"<%"}))});
    rest = Mid(text, o + L + 8);
  } else {
    body = Concat({attribute_lines, code});
    rest = Mid(text, f + 3);
  }
  // 7
  const int64_t length = static_cast<int64_t>(before.size()) + 2 +
                         static_cast<int64_t>(body.size()) + 2 + static_cast<int64_t>(rest.size());
  if (length > max_length) Raise(kOutOfStringSpace);
  text = Concat({before, u"<%", body, u"%>", rest});
  return true;
}

struct Outcome {
  enum Kind { kText, kFailure, kCapped };
  Kind kind = kText;
  Text text;  // the result, for kText
  int32_t number = 0;
  Text description;  // the failure, for kFailure
};

inline Outcome ExpandTag(Text text, const Text& name, const Text& code, int64_t max_length,
                         int64_t max_passes) {
  Outcome out;
  try {
    const Text with_attributes = Concat({u"<!--", name, u" "});
    const Text plain = Concat({u"<!--", name, u"-->"});
    if (InStr(1, text, with_attributes) > 0 || InStr(1, text, plain) > 0) {
      if (InStr(1, code, with_attributes) > 0 || InStr(1, code, plain) > 0) {
        Raise(kInvalidArgument,
              Concat({StandardDescription(kInvalidArgument), u": the code of tag <!--", name,
                      u" holds its own opening tag"}));
      }
    }
    for (int64_t pass = 0;; ++pass) {
      if (pass == max_passes) {
        out.kind = Outcome::kCapped;
        return out;
      }
      if (!ExpandOnePass(text, name, code, max_length)) break;
    }
    out.text = std::move(text);
  } catch (const Failure& failure) {
    out.kind = Outcome::kFailure;
    out.number = failure.number();
    out.description = failure.description();
  }
  return out;
}

}  // namespace vz::reference

#endif  // VAVIZAR_TESTS_EXPAND_TAG_REFERENCE_H_
