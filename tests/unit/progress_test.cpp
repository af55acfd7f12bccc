#include "cli/progress.hpp"

#include <gtest/gtest.h>

using namespace murmela;

TEST(ProgressLine, ShowsTheStatusAndTheClock) {
  const struct {
    long long seconds;
    const char* line;
  } cases[] = {{0, "transcribing 0:00"},
               {65, "transcribing 1:05"},
               {3599, "transcribing 59:59"},
               {3725, "transcribing 1:02:05"}};
  for (const auto& c : cases) EXPECT_EQ(progress_line("transcribing", c.seconds), c.line);
}

TEST(ProgressLine, NamesTheMeetingWithinTheTerminalsWidth) {
  const struct {
    const char* title;
    std::size_t columns;
    const char* line;
  } cases[] = {
      {"Weekly planning", 80, "transcribing 1:05 \u00B7 Weekly planning"},
      {"", 80, "transcribing 1:05"},
      {"Weekly planning", 30, "transcribing 1:05 \u00B7 Weekly p\u2026"},
      {"Grüße aus Köln", 30, "transcribing 1:05 \u00B7 Grüße au\u2026"},
      {"Weekly planning", 22, "transcribing 1:05"},  // no room for a name
      {"Weekly planning", 12, "transcribi\u2026"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(named_progress_line("transcribing", 65, c.title, c.columns), c.line)
        << c.title << " at " << c.columns;
  }
}

// The app's status and title reach the terminal without a character that
// could act on it or move what follows.
TEST(ProgressLine, ShowsNoControlCharacterOfTheApps) {
  EXPECT_EQ(
      named_progress_line("transcribing\x1b[2J\u202E", 65, "txt.\u2066fdp\u2069\r\n\xC2\x9B", 80),
      "transcribing[2J 1:05 \u00B7 txt.fdp  ");
}
