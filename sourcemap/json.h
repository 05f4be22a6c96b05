// A small strict JSON reader and the string writer the source maps need.
//
//   JsonValue map = ParseJson(R"({"version": 3, "names": ["box"]})");
//   const JsonValue* names = map.Find("names");   // an array of one string
//
// ParseJson takes exactly one value (RFC 8259) with blanks around it and
// nothing else: no comments, no trailing commas, strings of valid UTF-8 with
// no raw control characters, values nested at most kMaxJsonDepth deep. A text
// that breaks any of this throws SourceMapError "not JSON: WHAT at byte N"
// (N counts from 0). An object keeps its members in their order; Find gives
// the first of a name.

#ifndef VAVIZAR_SOURCEMAP_JSON_H_
#define VAVIZAR_SOURCEMAP_JSON_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vz {

inline constexpr int kMaxJsonDepth = 64;

struct JsonValue {
  enum class Type : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };

  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;             // kString, in UTF-8
  std::vector<JsonValue> items;   // kArray: the elements; kObject: the values
  std::vector<std::string> keys;  // kObject: the names, one per value

  // The value of the first member called `key`, or nullptr (also when this
  // is no object).
  const JsonValue* Find(std::string_view key) const;
  // The type's name for messages: "null", "true or false", "a number", ...
  static const char* TypeName(Type type);
};

JsonValue ParseJson(std::string_view text);

// Appends `utf8` as a JSON string literal, quotes included: the quote, the
// backslash and control characters escaped, bytes that are not UTF-8 written
// as U+FFFD (one per byte), everything else as it is.
void AppendJsonString(std::string& out, std::string_view utf8);

}  // namespace vz

#endif  // VAVIZAR_SOURCEMAP_JSON_H_
