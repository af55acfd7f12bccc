// Changes the stand-in answers in its own process, without a socket: what a
// join, a title or a transcript would make is weighed before it is made, so
// that every answer stays within what the CLI reads back (replies of up to
// 32 MiB) and the library within what the stand-in loads again.

#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "app.hpp"
#include "common/json.hpp"

namespace stand_in {
namespace {

constexpr std::size_t kCliReplyCap = 32u << 20;

Meeting meeting_of(std::string id, std::string title = "Meeting") {
  Meeting m;
  m.id = std::move(id);
  m.title = std::move(title);
  m.created_at = "2026-01-01T00:00:00Z";
  m.source = "import";
  return m;
}

Meeting recording(std::string id, int rate, int channels, int seconds) {
  Meeting m = meeting_of(std::move(id));
  auto audio = std::make_shared<Audio>();
  audio->sample_rate = rate;
  audio->channels = channels;
  audio->samples.assign(static_cast<std::size_t>(rate) * channels * seconds, 7);
  m.duration_seconds = seconds;
  m.audio = std::move(audio);
  m.audio_file = new_meeting_id() + ".wav";
  return m;
}

// A throwaway app (nothing kept) on the given meetings.
std::unique_ptr<App> app_with(std::vector<Meeting> meetings) {
  Library library{std::move(meetings), demo_settings()};
  return std::make_unique<App>("/nonexistent", "/nonexistent/cli.sock", kManualSteps,
                               std::move(library), "");
}

// The reply line as the stand-in sends it.
std::size_t reply_bytes(const Answer& answer) {
  return murmela::to_compact(Json{{"ok", true}, {"result", *answer}}).size() + 1;
}

// Every part is converted to the first one's format: a second of 192 kHz,
// 8 channels first makes 200 s of 8 kHz mono 617 MB, which the loader
// would refuse at the next start. In the other order it is 3 MB.
TEST(JoinSize, AJoinPastTheAudioTheLoaderTakesIsRefusedBeforeItIsMade) {
  auto app = app_with({recording("wide", 192000, 8, 1), recording("long", 8000, 1, 200)});
  const auto join = [&](const char* first, const char* second) {
    return app->handle("join_meetings", Json{{"ids", {first, second}}, {"title", nullptr}}, false);
  };
  const Answer refused = join("wide", "long");
  ASSERT_FALSE(refused) << "a 617 MB recording was joined";
  EXPECT_EQ(refused.error(),
            "The joined recording would take 588.9 MiB in the first part's format (192000 Hz, 8 "
            "channels), more than the 512 MiB of audio the stand-in takes.");
  EXPECT_EQ(app->handle("list_meetings", Json::object(), false)->size(), 2u);

  const Answer joined = join("long", "wide");
  ASSERT_TRUE(joined) << joined.error();
  EXPECT_EQ((*joined)["durationSeconds"], 201);
}

TEST(JoinSize, CountsEveryPartInTheFirstPartsFormat) {
  const Audio stereo{48000, 2, std::vector<std::int16_t>(48000 * 2 * 3)};
  const Audio mono{16000, 1, std::vector<std::int16_t>(16000 * 5)};
  EXPECT_EQ(joined_size({&stereo, &mono}), 48000u * 2 * 8);
  EXPECT_EQ(joined_size({&mono, &stereo}), 16000u * 8);
  EXPECT_EQ(joined_size({&mono, &mono, &mono}), 16000u * 15);
}

// Titles of control characters take six times their bytes in a reply
// (\u0001): about a thousand of the longest make a list the CLI could no
// longer read, and with it every ID lookup would fail.
TEST(ListSize, ChangesThatWouldPassTheListsBoundAreRefusedAndTheListStaysReadable) {
  const std::string wide_title(kMaxTitleBytes, '\x01');
  std::vector<Meeting> meetings;
  for (int i = 0; i < 960; ++i) meetings.push_back(meeting_of(fmt::format("m{}", i), wide_title));
  meetings.push_back(meeting_of("short", "Short"));
  meetings.push_back(meeting_of("part1", "Part"));
  meetings.push_back(meeting_of("part2", "Part"));
  auto app = app_with(std::move(meetings));
  const auto list_reply = [&] {
    return reply_bytes(app->handle("list_meetings", Json::object(), false));
  };
  ASSERT_LT(list_reply(), kMaxListBytes);

  // Joins with the longest titles until one is refused, then with shorter
  // ones: the list is then within a few KiB of its bound.
  for (const std::size_t title_bytes : {kMaxTitleBytes, std::size_t{256}}) {
    SCOPED_TRACE(title_bytes);
    const Json join = {{"ids", {"part1", "part2"}}, {"title", std::string(title_bytes, '\x01')}};
    Answer refused;
    int joins = 0;
    for (; joins < 300; ++joins) {
      refused = app->handle("join_meetings", join, false);
      if (!refused) break;
    }
    ASSERT_FALSE(refused) << "300 joins were taken";
    EXPECT_GT(joins, 0);
    EXPECT_EQ(refused.error(),
              "The change is too large: the meeting list would take 24.0 MiB, more than the 24 "
              "MiB it may take so that the CLI can read it back.");
  }
  const std::size_t full = list_reply();
  EXPECT_LT(full, kCliReplyCap - (4u << 20));

  struct Case {
    const char* command;
    Json args;
  };
  const std::vector<Case> past_the_bound = {
      {"save_meeting", {{"id", "short"}, {"title", wide_title}, {"transcript", ""}, {"notes", ""}}},
      {"start_meeting", {{"title", wide_title}, {"source", nullptr}}},
  };
  for (const auto& c : past_the_bound) {
    SCOPED_TRACE(c.command);
    const Answer answer = app->handle(c.command, c.args, false);
    ASSERT_FALSE(answer);
    EXPECT_TRUE(answer.error().starts_with("The change is too large: the meeting list would take "))
        << answer.error();
  }
  EXPECT_EQ(list_reply(), full);
  // What leaves the list no larger still goes through.
  const Json same_size = {{"id", "m5"},
                          {"title", std::string(kMaxTitleBytes, '\x02')},
                          {"transcript", ""},
                          {"notes", ""}};
  EXPECT_TRUE(app->handle("save_meeting", same_size, false));
  EXPECT_TRUE(app->handle(
      "save_meeting", Json{{"id", "m6"}, {"title", "Short now"}, {"transcript", ""}, {"notes", ""}},
      false));
  EXPECT_LT(list_reply(), full);
}

// One speaker per line of a few letters: each takes about three times its
// transcript bytes in the speakers' answer.
std::string transcript_of_speakers(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += fmt::format("{:x}: \n", i);
  return text;
}

TEST(SpeakersSize, ATranscriptWhoseSpeakersTheCliCouldNotReadIsRefused) {
  auto app = app_with({meeting_of("talk")});
  const Json save = {{"id", "talk"},
                     {"title", "Talk"},
                     {"transcript", transcript_of_speakers(1100000)},
                     {"notes", ""}};
  const Answer refused = app->handle("save_meeting", save, false);
  ASSERT_FALSE(refused) << "a transcript of 1.1 million speakers was taken";
  EXPECT_TRUE(refused.error().starts_with("The meeting's speakers would take ")) << refused.error();
  EXPECT_TRUE(refused.error().ends_with(
      " MiB to list, more than the 24 MiB a reply may take so that the CLI can read it back."))
      << refused.error();
  EXPECT_EQ((*app->handle("get_meeting", Json{{"id", "talk"}}, false))["transcript"], "");
}

TEST(SpeakersSize, TheSpeakersAnswerIsWhatWasWeighed) {
  Meeting m = meeting_of("talk");
  m.transcript = "Ann: hi\nBo: yes\n\x01\"\\: odd\nAnn: again\nno speaker here\n: none\nBo: x";
  const auto speakers = m.speakers();
  const std::vector<std::pair<std::string, int>> expected = {
      {"Ann", 2}, {"Bo", 2}, {"\x01\"\\", 1}};
  EXPECT_EQ(speakers, expected);
  EXPECT_EQ(speakers_bytes(m), murmela::to_compact(speakers_json(m)).size());
  m.transcript.clear();
  EXPECT_EQ(speakers_bytes(m), murmela::to_compact(speakers_json(m)).size());
}

// A meeting of a library kept before may hold more speakers than the CLI
// reads back: its speakers are refused with the reason, found in one pass.
TEST(SpeakersSize, AKeptMeetingOfTooManySpeakersIsAnsweredWithTheReason) {
  Meeting m = meeting_of("talk");
  m.transcript = transcript_of_speakers(1100000);
  auto app = app_with({std::move(m)});
  const Answer refused = app->handle("meeting_speakers", Json{{"id", "talk"}}, false);
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().starts_with("The meeting's speakers would take ")) << refused.error();
}

}  // namespace
}  // namespace stand_in
