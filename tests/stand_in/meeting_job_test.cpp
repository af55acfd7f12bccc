// The stand-in's own logic, without its socket: a meeting's job moving
// through its statuses by the clock.

#include <gtest/gtest.h>

#include "meeting.hpp"

namespace stand_in {
namespace {

TEST(MeetingJob, MovesThroughItsStatusesAndRunsItsEndOnce) {
  Meeting meeting;
  int done = 0;
  const auto start = Clock::now();
  meeting.start_job({"queued", "transcribing"}, std::chrono::seconds(10),
                    [&](Meeting&) { ++done; });
  ASSERT_TRUE(meeting.busy());
  EXPECT_EQ(meeting.status(), "queued");

  EXPECT_FALSE(meeting.advance(start + std::chrono::seconds(15)));
  EXPECT_EQ(meeting.status(), "transcribing");

  EXPECT_TRUE(meeting.advance(start + std::chrono::seconds(25)));
  EXPECT_FALSE(meeting.busy());
  EXPECT_EQ(meeting.status(), "ready");
  EXPECT_EQ(done, 1);
}

}  // namespace
}  // namespace stand_in
