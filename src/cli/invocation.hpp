#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/cli_error.hpp"

namespace murmela {

// The command line, scanned once and read by every command.
struct Invocation {
  std::vector<std::string> words;                           // positional words, in order
  std::map<std::string, std::string, std::less<>> options;  // later value wins
  bool detach = false;
  bool no_launch = false;
  bool confirm = false;  // --confirm or --yes
  bool cleaned = false;

  std::optional<std::string> option(std::string_view name) const {
    auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
  }
};

// Flags and options may stand anywhere; `--name value` takes the next argument
// whatever it looks like. Fails only for an option with nothing after it.
[[nodiscard]] Result<Invocation> scan(std::span<const std::string> arguments);

// Every argument that scan takes as a flag, in the order it tests them:
// "-h", "--help", ..., "--no-launch". Any other `--name` takes a value.
std::vector<std::string_view> flag_arguments();

// A decimal whole number as typed for --limit and --timeout: an optional
// leading '+', then one or more ASCII digits and nothing else, at most
// 18446744073709551615.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

}  // namespace murmela
