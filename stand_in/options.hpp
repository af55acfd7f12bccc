#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace stand_in {

// What `murmela --help` prints.
extern const char* const kHelp;

struct Options {
  // Unset: kept, unless a fixture is given or MURMELA_EPHEMERAL=1 says
  // otherwise; the command line has the last word.
  std::optional<bool> keep;
  bool verbose = false;
  std::optional<std::string> library;

  // A fixture run is throwaway unless asked: a test's or a demo's fixture
  // must never replace the library a user keeps.
  bool kept() const;
};

struct ShowHelp {};

// A command line the stand-in cannot take, and what is wrong with it.
struct UsageError {
  std::string message;
};

// Reads the command line (without the program's name). A library named in
// the environment is the fixture unless the command line names another.
std::variant<Options, ShowHelp, UsageError> parse_arguments(
    std::span<const std::string_view> arguments,
    std::optional<std::string> library_from_environment);

}  // namespace stand_in
