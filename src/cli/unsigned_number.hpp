#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace murmela {

// A decimal whole number as typed for --limit and --timeout: an optional
// leading '+', then one or more ASCII digits and nothing else, at most
// 18446744073709551615.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

}  // namespace murmela
