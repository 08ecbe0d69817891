// A small JSON reader for the OTLP documents: the whole value tree, numbers
// kept as their text (64-bit counts must not pass through a double), object
// members in document order.  Nesting is limited so that no input can
// exhaust the stack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varrow_formats {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  std::string text;  // a number's text or a string's value
  std::vector<JsonValue> items;  // an array's; an object's member values
  std::vector<std::string> names;  // an object's member names, one per item

  // The member of an object named by any of the names; nullptr when none.
  const JsonValue *member(std::string_view name, std::string_view other_name = {}) const;
};

inline constexpr int max_json_depth = 128;

// The document, or FormatError naming the line and column.
JsonValue parse_json(std::string_view text);

}  // namespace varrow_formats
