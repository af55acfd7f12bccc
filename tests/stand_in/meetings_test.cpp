// The meetings the stand-in keeps, without its socket: lookups, jobs moved on
// by the clock or by hand, and what a lookup leaves of a meeting's kept text.

#include <gtest/gtest.h>

#include "app.hpp"
#include "library.hpp"
#include "meetings.hpp"

namespace stand_in {
namespace {

Meetings demo_meeting_set() {
  Meetings meetings;
  for (auto& meeting : demo_meetings()) meetings.add(std::move(meeting));
  return meetings;
}

// A lookup that only reads leaves the text the last save made, so that the
// next save does not make it again; one for a change drops it.
TEST(Meetings, OnlyALookupForAChangeDropsTheKeptText) {
  Meetings meetings = demo_meeting_set();
  (void)snapshot_library(meetings.all(), demo_settings());
  const std::string id = meetings.all().front().id;
  const Json args = {{"id", id}};

  auto read = meetings.find(Args(args));
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_NE((*read)->stored_text, nullptr);

  auto changed = meetings.find_to_change(Args(args));
  ASSERT_TRUE(changed.has_value()) << changed.error();
  EXPECT_EQ((*changed)->stored_text, nullptr);
}

TEST(Meetings, LookupsNameWhatIsMissingOrBusy) {
  Meetings meetings = demo_meeting_set();
  EXPECT_EQ(meetings.find(Args(Json{{"id", "NOPE"}})).error(), "No meeting with ID NOPE.");

  Meeting& busy = meetings.all().front();
  busy.start_job({"transcribing"}, kManualSteps, nullptr);
  EXPECT_EQ(meetings.find_idle(Args(Json{{"id", busy.id}})).error(),
            "The meeting is busy (transcribing); wait for it or cancel it first.");
}

TEST(Meetings, JobsStepByHandOneStatusAtATimeAndLandByTheClock) {
  Meetings meetings = demo_meeting_set();
  Meeting& meeting = meetings.all().front();
  meeting.start_job({"finalizing", "transcribing"}, kManualSteps, nullptr);

  EXPECT_FALSE(meetings.advance_jobs(Clock::now()));
  EXPECT_EQ(meetings.step_jobs(), 1);
  EXPECT_EQ(meeting.status(), "transcribing");
  EXPECT_EQ(meetings.step_jobs(), 1);
  EXPECT_EQ(meeting.status(), "ready");
  EXPECT_EQ(meetings.step_jobs(), 0);

  meeting.start_job({"finalizing"}, std::chrono::seconds(1), nullptr);
  EXPECT_TRUE(meetings.advance_jobs(Clock::now() + std::chrono::seconds(2)));
  EXPECT_EQ(meeting.status(), "ready");
}

TEST(Meetings, ACancelledJobRestsAsCancelled) {
  Meetings meetings = demo_meeting_set();
  Meeting& meeting = meetings.all().front();
  meeting.start_job({"transcribing"}, kManualSteps, [](Meeting& m) { m.transcript = "kept"; });
  meeting.cancel_job();
  EXPECT_FALSE(meeting.busy());
  EXPECT_EQ(meeting.status(), "cancelled");
  EXPECT_NE(meeting.transcript, "kept");
}

TEST(Meetings, TheListIsMostRecentFirstAndRemovingTakesOneOut) {
  Meetings meetings = demo_meeting_set();
  const Json list = meetings.list_json();
  ASSERT_EQ(list.size(), meetings.size());
  EXPECT_EQ(list.front()["id"], meetings.all().back().id);

  const std::string id = meetings.all().front().id;
  meetings.remove(id);
  EXPECT_EQ(meetings.with_id(id), nullptr);
  EXPECT_EQ(meetings.list_json().size(), list.size() - 1);
}

}  // namespace
}  // namespace stand_in
