#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace murmela {

// Objects are std::map-backed, so members are always kept in ascending byte
// order of their keys, however they were built or received.
using Json = nlohmann::json;

// Parses exactly one JSON document (whitespace around it allowed). The error
// is the parser's description of the fault, with its line and column.
std::expected<Json, std::string> parse_json(std::string_view text);

// The parser's description of a fault, with its line and column.
std::string describe_parse_error(const Json::exception& error);

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
