#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stand_in_fixture.hpp"

using namespace testing_support;

namespace {

struct JobCase {
  std::vector<std::string> before;  // sets the meeting up; empty when nothing is needed
  std::vector<std::string> start;   // starts the job and answers at once
  std::string meeting;
  std::vector<std::string> statuses;  // from the start's answer to the end, one step apart
};

// A job walks every one of its stages, one step each, and `wait` keeps
// waiting at every stage until the last: a stage skipped or a busy status
// taken for finished shows as a difference in the walk.
TEST_F(StandIn, JobsWalkEveryStageAndWaitWaitsAtEach) {
  const std::vector<JobCase> cases = {
      {{"meetings", "record", "start", "--title", "Standup"},
       {"meetings", "record", "stop"},
       "latest",
       {"finalizing", "transcribing", "generatingTitle", "ready"}},
      {{},
       {"meetings", "generate-notes", "3f1c", "--preset", "tasks", "--detach"},
       "3f1c",
       {"processingNotes", "ready"}},
  };
  for (const JobCase& c : cases) {
    SCOPED_TRACE(c.start[1]);
    if (!c.before.empty()) cli_json(c.before);
    std::vector<std::string> walked{cli_json(c.start)["status"]};
    for (std::size_t i = 0; i < c.statuses.size() && walked.back() != c.statuses.back(); ++i) {
      auto waited = run({"meetings", "wait", c.meeting, "--timeout", "0", "--no-launch"});
      EXPECT_EQ(waited.exit_code, 1) << walked.back() << ": " << waited.out;
      EXPECT_EQ(waited.err, "error: Still " + walked.back() + " after 0 s.\n");
      step();
      walked.push_back(cli_json({"meetings", "show", c.meeting})["status"]);
    }
    EXPECT_EQ(walked, c.statuses);
  }
}

}  // namespace
