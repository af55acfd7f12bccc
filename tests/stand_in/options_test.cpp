#include "options.hpp"

#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

namespace {

using stand_in::Options;
using stand_in::parse_arguments;

std::variant<Options, stand_in::ShowHelp, stand_in::UsageError> parsed(
    std::vector<std::string_view> arguments, std::optional<std::string> from_environment = {}) {
  return parse_arguments(arguments, std::move(from_environment));
}

TEST(StandInOptions, LibraryForms) {
  struct Case {
    std::vector<std::string_view> arguments;
    std::optional<std::string> library;
  };
  for (const auto& [arguments, library] : std::vector<Case>{
           {{"--library", "meetings.json"}, "meetings.json"},
           {{"--library=meetings.json"}, "meetings.json"},
           {{"--library=--odd.json"}, "--odd.json"},
           {{"--library", "./--odd.json"}, "./--odd.json"},
           {{"--startup"}, "from-environment.json"},
           {{"--library", "a.json", "--library", "b.json"}, "b.json"},
       }) {
    SCOPED_TRACE(arguments.front());
    const auto result = parsed(arguments, "from-environment.json");
    ASSERT_TRUE(std::holds_alternative<Options>(result));
    EXPECT_EQ(std::get<Options>(result).library, library);
  }
}

TEST(StandInOptions, FlagsAndHelp) {
  const auto result = parsed({"--startup", "--verbose", "--ephemeral", "--persist"});
  ASSERT_TRUE(std::holds_alternative<Options>(result));
  EXPECT_TRUE(std::get<Options>(result).verbose);
  EXPECT_EQ(std::get<Options>(result).keep, true);
  EXPECT_EQ(std::get<Options>(parsed({"--ephemeral"})).keep, false);
  EXPECT_TRUE(std::holds_alternative<stand_in::ShowHelp>(parsed({"--verbose", "-h"})));
  EXPECT_TRUE(std::holds_alternative<stand_in::ShowHelp>(parsed({"--help", "--bogus"})));
}

TEST(StandInOptions, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string_view> arguments;
    std::string message;
  };
  for (const auto& [arguments, message] : std::vector<Case>{
           {{"--library"}, "--library needs a value (a JSON file)."},
           {{"--library", "--verbose"}, "--library needs a value (a JSON file)."},
           {{"--library="}, "--library needs a value (a JSON file)."},
           {{"--bogus", "--help"}, "Unknown option: --bogus"},
           {{"-x"}, "Unknown option: -x"},
           {{"extra"}, "Unexpected argument: extra (the stand-in takes options only)"},
       }) {
    SCOPED_TRACE(message);
    const auto result = parsed(arguments);
    ASSERT_TRUE(std::holds_alternative<stand_in::UsageError>(result));
    EXPECT_EQ(std::get<stand_in::UsageError>(result).message, message);
  }
}

}  // namespace
