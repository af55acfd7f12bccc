#include <gtest/gtest.h>

#include "cli/invocation.hpp"

using namespace murmela;

namespace {

Invocation scanned(std::vector<std::string> args) {
  auto result = scan(args);
  EXPECT_TRUE(result.has_value());
  return result.value_or(Invocation{});
}

TEST(Scan, FlagsAndOptionsMayStandAnywhere) {
  auto inv = scanned({"--detach", "meetings", "--title=A b", "join", "--yes", "x", "--model", "m"});
  EXPECT_EQ(inv.words, (std::vector<std::string>{"meetings", "join", "x"}));
  EXPECT_TRUE(inv.detach);
  EXPECT_TRUE(inv.confirm);
  EXPECT_FALSE(inv.no_launch);
  EXPECT_EQ(inv.option("title"), "A b");
  EXPECT_EQ(inv.option("model"), "m");
}

TEST(Scan, OptionValueIsTakenWhateverItLooksLike) {
  auto inv = scanned({"--title", "--detach"});
  EXPECT_EQ(inv.option("title"), "--detach");
  EXPECT_FALSE(inv.detach);
}

TEST(Scan, FlagWithValueIsAnOptionAndLaterValueWins) {
  auto inv = scanned({"--detach=true", "--source", "a", "--source=b", "--x="});
  EXPECT_FALSE(inv.detach);
  EXPECT_EQ(inv.option("detach"), "true");
  EXPECT_EQ(inv.option("source"), "b");
  EXPECT_EQ(inv.option("x"), "");
}

TEST(Scan, HelpAndVersionBecomeWordsInPlace) {
  EXPECT_EQ(scanned({"status", "--version"}).words,
            (std::vector<std::string>{"status", "version"}));
  EXPECT_EQ(scanned({"-h", "agents"}).words, (std::vector<std::string>{"help", "agents"}));
  EXPECT_EQ(scanned({"-V"}).words, (std::vector<std::string>{"version"}));
}

TEST(Scan, ShortAndDashOnlyArgumentsAreWords) {
  EXPECT_EQ(scanned({"--", "-", "-x", "--confirm", "--cleaned", "--no-launch"}).words,
            (std::vector<std::string>{"--", "-", "-x"}));
  auto inv = scanned({"--cleaned", "--no-launch", "--confirm"});
  EXPECT_TRUE(inv.cleaned);
  EXPECT_TRUE(inv.no_launch);
  EXPECT_TRUE(inv.confirm);
}

TEST(Scan, OptionWithoutValueAtTheEndIsAUsageError) {
  std::vector<std::string> args{"meetings", "--title"};
  auto result = scan(args);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), CliError::usage("--title needs a value."));
}

}  // namespace
