#pragma once
// Values as text and as JSON, the same for every front end: integers in
// decimal (chars with their character: 111 'o'), floats as the shortest text
// that reads back the same, pointers as space:address (code:0x0A58, and the
// string a char pointer points to), arrays and structures as {...}; a value
// that cannot be known is <unavailable>.
#include <nlohmann/json.hpp>
#include <string>

#include "debug/DebugModel.h"

namespace kz51::debug {

struct FormatStyle {
  bool compact = false;        // "{x=3, y=-4}", 8 items, nested aggregates as {...}
  std::size_t maxItems = 100;  // elements shown before ", ..."
};

std::string FormatValue(DebugModel& model, Value v, const FormatStyle& style = {});

// The fields `print` adds to its JSON object: "value" (a JSON number; for a
// pointer its space:address text with "space" and "address" of where it
// points), "char" for chars, "values" for arrays, "members" for structures,
// "hex" (the raw bytes), "location" where the object lives and, for objects
// in memory that are not pointers, "space" and "address" of the object.
// An unavailable value adds "unavailable" with the sentence.
void AddValueJson(DebugModel& model, Value v, nlohmann::ordered_json& j);

// A character as C writes it between quotes: o, \n, \x80.
std::string CharText(unsigned c);

}  // namespace kz51::debug
