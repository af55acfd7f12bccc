#pragma once

#include <string>
#include <string_view>

#include "common/block_scan.hpp"
#include "common/json.hpp"
#include "common/json_document.hpp"
#include "common/output.hpp"

namespace murmela {

struct JsonStyle {
  // Two-space indent and one member per line, or no whitespace at all.
  bool pretty = true;
  // Numbers as their source text instead of the output layout, for values
  // that must come back exactly as they were sent (a JSON-RPC id).
  bool numbers_as_written = false;
  // How strings are searched for what needs escaping (tests try each).
  BlockScan scan = BlockScan::Best;
  // For a person at a terminal: the characters of strings that would act on
  // it (DEL, the C1 and bidirectional controls, the line separators) are
  // escaped too, as \u escapes that read back the same.
  bool for_terminal = false;
};

inline constexpr JsonStyle kPrettyJson{.pretty = true};
inline constexpr JsonStyle kCompactJson{.pretty = false};

// Writes a value in `style`: object members in ascending byte order of their
// keys (of a repeated key, the last value), minimal string escaping, numbers
// in the output layout. Text reaches `out` in large pieces; no line feed is
// added. Neither walk recurses, whatever the depth of the value.
void write_json(Output& out, JsonView value, JsonStyle style);
void write_json(Output& out, const Json& value, JsonStyle style);
// A document's root; one whose contents were not indexed prints straight
// from the text, with the same output.
void write_json(Output& out, const JsonDocument& document, JsonStyle style);

std::string json_text(JsonView value, JsonStyle style);
std::string json_text(const Json& value, JsonStyle style);
std::string json_text(const JsonDocument& document, JsonStyle style);

// A double in the output layout: the shortest digits that read back to the
// same value; plain decimal (with ".0" on whole values) from 1e-5 up to 16
// integer digits, otherwise an exponent without plus sign or padding.
std::string format_double(double value);

}  // namespace murmela
