#include "sourcemap/json.h"

#include <charconv>
#include <limits>

#include "sourcemap/source_map.h"

namespace vz {
namespace {

// Length of the UTF-8 sequence at `at` when it is a valid one, else 0.
size_t Utf8Length(std::string_view s, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(at);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + n > s.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return n;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue Document() {
    JsonValue value;
    SkipBlanks();
    Value(value, 0);
    SkipBlanks();
    if (at_ < text_.size()) Fail("more text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw SourceMapError("not JSON: " + what + " at byte " + std::to_string(at_));
  }

  // "unexpected 'x'" or "unexpected end of the text".
  [[noreturn]] void Unexpected(const char* expected) const {
    if (at_ >= text_.size()) Fail(std::string("the text ends where ") + expected + " should be");
    const unsigned char c = static_cast<unsigned char>(text_[at_]);
    std::string seen =
        c >= 0x20 && c < 0x7F ? std::string("'") + text_[at_] + "'" : "byte " + std::to_string(c);
    Fail(std::string("expected ") + expected + ", not " + seen);
  }

  void SkipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }

  bool Take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void Value(JsonValue& value, int depth) {
    if (at_ >= text_.size()) Unexpected("a value");
    switch (text_[at_]) {
      case '{':
        return Object(value, depth + 1);
      case '[':
        return Array(value, depth + 1);
      case '"':
        value.type = JsonValue::Type::kString;
        return String(value.string);
      case 't':
        return Word("true", value, JsonValue::Type::kBool, true);
      case 'f':
        return Word("false", value, JsonValue::Type::kBool, false);
      case 'n':
        return Word("null", value, JsonValue::Type::kNull, false);
      default:
        if (text_[at_] == '-' || (text_[at_] >= '0' && text_[at_] <= '9')) return Number(value);
        Unexpected("a value");
    }
  }

  void Word(std::string_view word, JsonValue& value, JsonValue::Type type, bool boolean) {
    if (text_.substr(at_, word.size()) != word) Unexpected("a value");
    at_ += word.size();
    value.type = type;
    value.boolean = boolean;
  }

  void CheckDepth(int depth) const {
    if (depth > kMaxJsonDepth)
      Fail("values nested more than " + std::to_string(kMaxJsonDepth) + " deep");
  }

  void Object(JsonValue& value, int depth) {
    CheckDepth(depth);
    value.type = JsonValue::Type::kObject;
    ++at_;
    SkipBlanks();
    if (Take('}')) return;
    for (;;) {
      if (at_ >= text_.size() || text_[at_] != '"') Unexpected("a member name");
      value.keys.emplace_back();
      String(value.keys.back());
      SkipBlanks();
      if (!Take(':')) Unexpected("':'");
      SkipBlanks();
      value.items.emplace_back();
      Value(value.items.back(), depth);
      SkipBlanks();
      if (Take('}')) return;
      if (!Take(',')) Unexpected("',' or '}'");
      SkipBlanks();
    }
  }

  void Array(JsonValue& value, int depth) {
    CheckDepth(depth);
    value.type = JsonValue::Type::kArray;
    ++at_;
    SkipBlanks();
    if (Take(']')) return;
    for (;;) {
      value.items.emplace_back();
      Value(value.items.back(), depth);
      SkipBlanks();
      if (Take(']')) return;
      if (!Take(',')) Unexpected("',' or ']'");
      SkipBlanks();
    }
  }

  void Number(JsonValue& value) {
    const size_t start = at_;
    const auto digits = [&] {
      const size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - from;
    };
    Take('-');
    if (Take('0')) {
      // No digit may follow a leading zero.
    } else if (digits() == 0) {
      Unexpected("a digit");
    }
    if (Take('.') && digits() == 0) Unexpected("a digit");
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (digits() == 0) Unexpected("a digit");
    }
    value.type = JsonValue::Type::kNumber;
    // Numbers past the range of a double read as infinities; the map's
    // readers refuse them as out of range.
    const auto result = std::from_chars(text_.data() + start, text_.data() + at_, value.number);
    if (result.ec == std::errc::result_out_of_range) {
      const double huge = std::numeric_limits<double>::infinity();
      value.number = text_[start] == '-' ? -huge : huge;
    }
  }

  uint32_t Hex4() {
    if (at_ + 4 > text_.size()) {
      at_ = text_.size();
      Unexpected("four hexadecimal digits");
    }
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i, ++at_) {
      const char c = text_[at_];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        Unexpected("a hexadecimal digit");
      }
    }
    return v;
  }

  // The string at `at_` (its opening quote), unescaped into `out`.
  void String(std::string& out) {
    ++at_;
    for (;;) {
      // The plain stretch up to the next quote, backslash or special byte.
      size_t end = at_;
      while (end < text_.size()) {
        const unsigned char c = static_cast<unsigned char>(text_[end]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++end;
      }
      out.append(text_.data() + at_, end - at_);
      at_ = end;
      if (at_ >= text_.size()) Fail("a string has no closing quote");
      const unsigned char c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return;
      }
      if (c < 0x20) Fail("a control character in a string");
      if (c >= 0x80) {
        const size_t n = Utf8Length(text_, at_);
        if (n == 0) Fail("bytes that are not UTF-8");
        out.append(text_.data() + at_, n);
        at_ += n;
        continue;
      }
      Escape(out);
    }
  }

  void Escape(std::string& out) {
    ++at_;  // the backslash
    if (at_ >= text_.size()) Fail("a string has no closing quote");
    const char e = text_[at_++];
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out.push_back(e);
        return;
      case 'b':
        out.push_back('\b');
        return;
      case 'f':
        out.push_back('\f');
        return;
      case 'n':
        out.push_back('\n');
        return;
      case 'r':
        out.push_back('\r');
        return;
      case 't':
        out.push_back('\t');
        return;
      case 'u':
        break;
      default:
        --at_;
        Unexpected("an escape (\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\uXXXX)");
    }
    uint32_t c = Hex4();
    if (c >= 0xD800 && c <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
      const size_t before = at_;
      at_ += 2;
      const uint32_t low = Hex4();
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      } else {
        at_ = before;  // the next escape stands on its own
      }
    }
    // A surrogate without its other half is no character.
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }

  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
  if (type != Type::kObject) return nullptr;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == key) return &items[i];
  }
  return nullptr;
}

const char* JsonValue::TypeName(Type type) {
  switch (type) {
    case Type::kNull:
      return "null";
    case Type::kBool:
      return "true or false";
    case Type::kNumber:
      return "a number";
    case Type::kString:
      return "a string";
    case Type::kArray:
      return "an array";
    case Type::kObject:
      return "an object";
  }
  return "a value";
}

JsonValue ParseJson(std::string_view text) { return Parser(text).Document(); }

void AppendJsonString(std::string& out, std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t at = 0;
  while (at < utf8.size()) {
    size_t end = at;
    while (end < utf8.size()) {
      const unsigned char c = static_cast<unsigned char>(utf8[end]);
      if (c == '"' || c == '\\' || c < 0x20 || c >= 0x7F) break;
      ++end;
    }
    out.append(utf8.data() + at, end - at);
    at = end;
    if (at >= utf8.size()) break;
    const unsigned char c = static_cast<unsigned char>(utf8[at]);
    if (c > 0x7F) {
      const size_t n = Utf8Length(utf8, at);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++at;
      } else {
        out.append(utf8.data() + at, n);
        at += n;
      }
      continue;
    }
    ++at;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
  }
  out.push_back('"');
}

}  // namespace vz
