#include "execute/execute_code.h"

#include "platform/failure.h"

namespace vz {
namespace {

constexpr TextView kOpen = u"<%";
constexpr TextView kClose = u"%>";
constexpr TextView kCrLf = u"\r\n";
constexpr TextView kWrite = u"Response.Write \"";
constexpr TextView kLineEnd = u"\" & vbCrLf\r\nResponse.Write \"";
constexpr TextView kLoneCr = u"\" & vbCr & \"";
constexpr TextView kLoneLf = u"\" & vbLf & \"";

bool Special(char16_t c) { return c == u'"' || c == u'\r' || c == u'\n'; }

// Length of the HTML statements for `html`, counted before anything is built
// so that the text bound is checked first.
int64_t HtmlLength(TextView html) {
  int64_t length = static_cast<int64_t>(kWrite.size()) + static_cast<int64_t>(html.size()) + 1;
  const size_t n = html.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t c = html[i];
    if (c > u'"') continue;
    if (c == u'"') {
      length += 1;
    } else if (c == u'\r') {
      if (i + 1 < n && html[i + 1] == u'\n') {
        length += static_cast<int64_t>(kLineEnd.size()) - 2;
        ++i;
      } else {
        length += static_cast<int64_t>(kLoneCr.size()) - 1;
      }
    } else if (c == u'\n') {
      length += static_cast<int64_t>(kLoneLf.size()) - 1;
    }
  }
  return length;
}

// Appends the statements for one HTML segment: quotes doubled, every CR LF
// closing a statement and opening the next, lone CR and LF written as
// constants. One pass over the segment.
void AppendHtml(Text& out, TextView html) {
  const int64_t length = HtmlLength(html);
  CheckTextLength(static_cast<int64_t>(out.size()) + length);
  GrowText(out, static_cast<size_t>(length));
  out.append(kWrite);
  const size_t n = html.size();
  size_t run = 0;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = html[i];
    if (c > u'"' || !Special(c)) continue;
    out.append(html.substr(run, i - run));
    if (c == u'"') {
      out.append(u"\"\"");
    } else if (c == u'\r' && i + 1 < n && html[i + 1] == u'\n') {
      out.append(kLineEnd);
      ++i;
    } else {
      out.append(c == u'\r' ? kLoneCr : kLoneLf);
    }
    run = i + 1;
  }
  out.append(html.substr(run));
  out.push_back(u'"');
}

void AppendCode(Text& out, TextView code) {
  CheckTextLength(static_cast<int64_t>(out.size()) + static_cast<int64_t>(code.size()) + 4);
  GrowText(out, code.size() + 4);
  out.append(kCrLf);
  out.append(code);
  out.append(kCrLf);
}

void AppendSegment(Text& out, TextView segment, bool is_code) {
  if (is_code) {
    AppendCode(out, segment);
  } else {
    AppendHtml(out, segment);
  }
}

// Position (1-based) of the first `delimiter` at or after `start`, or 0.
int64_t FindFrom(TextView text, TextView delimiter, int64_t start) {
  if (start > static_cast<int64_t>(text.size())) return 0;
  size_t at = Find(text, delimiter, static_cast<size_t>(start - 1));
  return at == TextView::npos ? 0 : static_cast<int64_t>(at) + 1;
}

// Whether "<%" stands at positions `at` and `at` + 1.
bool OpensAt(TextView text, int64_t at) {
  return at + 1 <= static_cast<int64_t>(text.size()) &&
         text.substr(static_cast<size_t>(at - 1), 2) == kOpen;
}

}  // namespace

Text GetDelimiter(bool IsCode) { return Text(IsCode ? kClose : kOpen); }

Text ConvertSegment(TextView Segment, bool IsCode) {
  Text out;
  AppendSegment(out, Segment, IsCode);
  return out;
}

Text ExecuteCodeOf(TextView text) {
  const int64_t length = static_cast<int64_t>(text.size());
  bool is_code = OpensAt(text, 1);
  int64_t start = is_code ? 3 : 1;
  int64_t found = FindFrom(text, is_code ? kClose : kOpen, start);
  // With no delimiter at the first search the whole text is one HTML
  // segment, a leading "<%" included.
  if (found == 0) return ConvertSegment(text, false);
  int64_t end = found - 1;

  Text out;
  ReserveText(out, static_cast<size_t>(length + length / 2 + 64));
  while (start <= length) {
    AppendSegment(out,
                  text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(end - start + 1)),
                  is_code);
    if (is_code) end += 2;  // onto the ">" of the closing "%>"
    is_code = OpensAt(text, end + 1);
    start = end + 1 + (is_code ? 2 : 0);
    found = FindFrom(text, is_code ? kClose : kOpen, start);
    end = found != 0 ? found - 1 : length;
  }
  return out;
}

}  // namespace vz
