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

TEST(TerminalText, KeepsNoControlCharacter) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"Plain — Köln", "Plain — Köln"},
      {"a\x1b[2Jb", "a[2Jb"},
      {"title\x1b]0;x\x07", "title]0;x"},
      {"tab\tand\r\nbreaks", "tab and  breaks"},
      {"c1\xC2\x9B"
       "31m",
       "c131m"},
      {"del\x7F", "del"},
      {"bad\xFFutf8", "bad\uFFFDutf8"},
  };
  for (const auto& c : cases) EXPECT_EQ(terminal_text(c.text), c.shown) << c.text;
}
