#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/json_document.hpp"

namespace murmela {

// Values that commands build and shape. Objects are std::map-backed, so
// members are always kept in ascending byte order of their keys, however
// they were built or received.
using Json = nlohmann::json;

// Parses exactly one JSON document with the strict reader. The error is the
// reader's description of the fault, with its line and column. A lone
// surrogate escape is refused: a Json string holds UTF-8 text, which has no
// form for it, and changing it into another character would change the value.
[[nodiscard]] std::expected<Json, std::string> parse_json(std::string_view text);

// A document's value as a Json value. Integers beyond 64 bits become
// doubles, and numbers beyond a double's range infinite.
Json to_json(JsonView value);

// A built value as a document, for code that takes documents.
JsonDocument to_document(const Json& value);

// Compact form: no spaces or line breaks; minimal escaping, UTF-8 kept.
std::string to_compact(const Json& value);

// Two-space indented form, without a final line feed.
std::string to_pretty(const Json& value);

// The member `key` of `object`, or null when it is missing or `object` is not
// an object.
Json member_or_null(const Json& object, std::string_view key);

// The member `key` of `object` when it is a string.
const std::string* string_member(const Json& object, std::string_view key);

}  // namespace murmela
