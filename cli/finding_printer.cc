#include "cli/finding_printer.h"

#include <algorithm>
#include <utility>

#include "sourcemap/json.h"

namespace vz::cli {
namespace {

// The window of a long source line: columns before the caret, and in all.
constexpr int kColumnsBefore = 70;
constexpr int kWindowColumns = 160;
constexpr size_t kCheckpoint = 1024;

// Code units of the character that ends at `at` (exclusive).
size_t UnitsBefore(TextView text, size_t at) {
  return at >= 2 && IsLowSurrogate(text[at - 1]) && IsHighSurrogate(text[at - 2]) ? 2 : 1;
}

bool IsLineEnd(char16_t c) { return c == u'\n' || c == u'\r'; }

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

// Terminal columns of the character at `at`; a tab counts one here, since
// it is shown as a tab on both lines.
int WidthAt(TextView text, size_t at) { return DisplayWidth(CodePointAt(text, at)); }

// East Asian Wide and Fullwidth ranges (Unicode 15), first and last.
constexpr std::pair<char32_t, char32_t> kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x16FF0, 0x16FF1}, {0x17000, 0x18CD5}, {0x18D00, 0x18D08}, {0x1AFF0, 0x1B2FB},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F200, 0x1F202}, {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251},
    {0x1F260, 0x1F265}, {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C},
    {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0},
    {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC},
    {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
    {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5},
    {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF},
    {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0},
    {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FA7C},
    {0x1FA80, 0x1FA88}, {0x1FA90, 0x1FABD}, {0x1FABF, 0x1FAC5}, {0x1FACE, 0x1FADB},
    {0x1FAE0, 0x1FAE8}, {0x1FAF0, 0x1FAF8}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

std::string Hex2(unsigned char u, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  return std::string{digits[u >> 4], digits[u & 15]};
}

}  // namespace

int DisplayWidth(char32_t c) {
  if (c < 0x1100) return 1;
  auto it = std::upper_bound(std::begin(kWide), std::end(kWide), c,
                             [](char32_t v, const auto& range) { return v < range.first; });
  if (it == std::begin(kWide)) return 1;
  --it;
  return c <= it->second ? 2 : 1;
}

LineColumn Locate(TextView text, size_t offset) {
  LineColumn at{1, 1};
  const size_t end = std::min(offset, text.size());
  for (size_t i = 0; i < end;) {
    const char16_t c = text[i];
    if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'))) {
      ++at.line;
      at.column = 1;
      ++i;
    } else if (c == u'\r') {
      ++i;  // the CR of a CR LF pair; the LF ends the line
    } else {
      ++at.column;
      i += UnitsAt(text, i);
    }
  }
  return at;
}

LineIndex::LineIndex(TextView text) : text_(text) {
  line_starts_.push_back(0);
  size_t pairs = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % kCheckpoint == 0) pairs_.push_back(static_cast<uint32_t>(pairs));
    const char16_t c = text[i];
    if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'))) {
      line_starts_.push_back(static_cast<uint32_t>(i + 1));
    } else if (IsLowSurrogate(c) && i > 0 && IsHighSurrogate(text[i - 1])) {
      ++pairs;
    }
  }
  pairs_.push_back(static_cast<uint32_t>(pairs));
}

size_t LineIndex::PairsBefore(size_t offset) const {
  const size_t block = std::min(offset / kCheckpoint, pairs_.size() - 1);
  size_t pairs = pairs_[block];
  for (size_t i = block * kCheckpoint; i < offset && i < text_.size(); ++i) {
    if (IsLowSurrogate(text_[i]) && i > 0 && IsHighSurrogate(text_[i - 1])) ++pairs;
  }
  return pairs;
}

LineColumn LineIndex::At(size_t offset) const {
  offset = std::min(offset, text_.size());
  auto it = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
  const size_t line = static_cast<size_t>(it - line_starts_.begin());
  size_t start = line_starts_[line - 1];
  // The CR of a CR LF pair belongs to no column.
  size_t end = offset;
  if (end > start && text_[end - 1] == u'\r' && end < text_.size() && text_[end] == u'\n') --end;
  if (end < start) end = start;
  const size_t units = end - start;
  return {static_cast<int64_t>(line),
          static_cast<int64_t>(units - (PairsBefore(end) - PairsBefore(start))) + 1};
}

std::string LineIndex::Where(size_t offset) const {
  const LineColumn at = At(offset);
  return std::to_string(at.line) + ":" + std::to_string(at.column);
}

std::string Escaped(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x" + Hex2(u, true);
    } else {
      out += c;
    }
  }
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out;
  AppendJsonString(out, utf8);
  return out;
}

FindingPrinter::FindingPrinter(std::string file, TextView text, bool json)
    : file_(std::move(file)), shown_file_(Escaped(file_)), text_(text), json_(json) {}

LineColumn FindingPrinter::Advance(size_t offset) {
  offset = std::min(offset, text_.size());
  if (offset < at_) {
    at_ = 0;
    line_start_ = 0;
    where_ = {1, 1};
  }
  while (at_ < offset) {
    const char16_t c = text_[at_];
    if (c == u'\n' || (c == u'\r' && (at_ + 1 >= text_.size() || text_[at_ + 1] != u'\n'))) {
      ++where_.line;
      where_.column = 1;
      line_start_ = ++at_;
    } else if (c == u'\r') {
      ++at_;  // the CR of a CR LF pair
    } else {
      ++where_.column;
      at_ += UnitsAt(text_, at_);
    }
  }
  return where_;
}

namespace {

// The shown part of the line around `offset` (which lies in the line that
// starts at `line_start`): [begin, end) within about kWindowColumns columns.
struct Window {
  size_t begin;
  size_t end;
  bool cut_begin;
  bool cut_end;
};

Window WindowAround(TextView text, size_t line_start, size_t offset) {
  // Back from the caret, then forward; columns left over at the end of the
  // line go to more of its start.
  size_t begin = offset;
  int before = 0;
  while (begin > line_start && before < kColumnsBefore) {
    begin -= UnitsBefore(text, begin);
    before += WidthAt(text, begin);
  }
  size_t end = offset;
  int after = 0;
  while (end < text.size() && !IsLineEnd(text[end]) && before + after < kWindowColumns) {
    after += WidthAt(text, end);
    end += UnitsAt(text, end);
  }
  while (begin > line_start && before + after < kWindowColumns) {
    begin -= UnitsBefore(text, begin);
    before += WidthAt(text, begin);
  }
  return {begin, end, begin > line_start, end < text.size() && !IsLineEnd(text[end])};
}

}  // namespace

std::string FindingPrinter::Format(const Finding& finding) {
  const bool placed = finding.offset != kNoOffset;
  const LineColumn at = placed ? Advance(finding.offset) : LineColumn{};
  if (json_) {
    auto optional_text = [](const std::optional<Text>& value) {
      return value ? JsonString(ToUtf8(*value)) : std::string("null");
    };
    return "{\"file\":" + JsonString(file_) + ",\"line\":" + std::to_string(at.line) +
           ",\"column\":" + std::to_string(at.column) +
           ",\"severity\":" + JsonString(SeverityName(finding.severity)) +
           ",\"kind\":" + JsonString(finding.kind) + ",\"tag\":" + optional_text(finding.tag) +
           ",\"row\":" + (finding.row > 0 ? std::to_string(finding.row) : std::string("null")) +
           ",\"row_name\":" + optional_text(finding.row_name) +
           ",\"message\":" + JsonString(ToUtf8(finding.message)) + "}\n";
  }
  std::string out = shown_file_;
  if (placed) {
    out += ':';
    out += std::to_string(at.line);
    out += ':';
    out += std::to_string(at.column);
  }
  if (!out.empty()) out += ": ";
  out += std::string(SeverityName(finding.severity)) + ": " + finding.kind + ": " +
         Escaped(ToUtf8(finding.message)) + "\n";
  if (!placed) return out;

  const size_t offset = std::min(finding.offset, text_.size());
  const Window w = WindowAround(text_, line_start_, offset);
  std::string caret;
  if (w.cut_begin) {
    out += "...";
    caret += "   ";
  }
  Text shown;
  for (size_t i = w.begin; i < w.end; i += UnitsAt(text_, i)) {
    const char32_t c = CodePointAt(text_, i);
    const bool is_tab = c == u'\t';
    if (IsControl(c) && !is_tab) {
      shown += u'?';
    } else {
      shown.append(text_.substr(i, UnitsAt(text_, i)));
    }
    if (i < offset)
      caret.append(is_tab ? 1 : static_cast<size_t>(DisplayWidth(c)), is_tab ? '\t' : ' ');
  }
  out += ToUtf8(shown);
  if (w.cut_end) out += "...";
  out += "\n" + caret + "^\n";
  return out;
}

std::string FormatHuman(const std::string& file, TextView text, const Finding& finding) {
  return FindingPrinter(file, text, false).Format(finding);
}

std::string FormatJson(const std::string& file, TextView text, const Finding& finding) {
  return FindingPrinter(file, text, true).Format(finding);
}

}  // namespace vz::cli
