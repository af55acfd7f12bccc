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
