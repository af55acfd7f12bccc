// The kept library without the stand-in's socket: what is written is read
// back the same, and a change the loader would refuse is refused before it
// is made.

#include <gtest/gtest.h>

#include <list>

#include "app.hpp"
#include "kept_library.hpp"
#include "library.hpp"
#include "meetings.hpp"
#include "temp_dir.hpp"

namespace stand_in {
namespace {

using testing_support::TempDir;

struct KeptPaths {
  std::string path;
  std::string audio;
};

std::expected<void, std::string> write_kept(const KeptPaths& kept, std::list<Meeting>& meetings,
                                       const Json& settings) {
  OwnAudio own;
  return write_library(kept.path, snapshot_library(meetings, settings), kept.audio, own);
}

std::expected<Library, std::string> read_kept(const KeptPaths& kept) {
  return read_library(kept.path, kept.audio, demo_settings());
}

TEST(KeptLibrary, WhatIsWrittenIsReadBackTheSame) {
  TempDir dir;
  const KeptPaths kept{dir / "library.json", dir / "audio"};
  std::list<Meeting> meetings;
  for (auto& meeting : demo_meetings()) meetings.push_back(std::move(meeting));
  // One with real audio, one busy with a job: it is kept as it rests.
  Meeting& heard = meetings.front();
  auto audio = std::make_shared<Audio>();
  audio->samples = {0, 1200, -1200, 32767, -32768, 7};
  heard.audio = audio;
  heard.audio_file = "0123456789abcdef0123456789abcdef.wav";
  heard.duration_seconds = audio->seconds();
  meetings.back().start_job({"transcribing"}, kManualSteps, nullptr);
  Json settings = demo_settings();
  settings["meetingSpeakerLabels"] = !settings["meetingSpeakerLabels"].get<bool>();

  ASSERT_TRUE(write_kept(kept, meetings, settings).has_value());
  auto library = read_kept(kept);
  ASSERT_TRUE(library.has_value()) << library.error();

  EXPECT_EQ(library->settings, settings);
  ASSERT_EQ(library->meetings.size(), meetings.size());
  auto written = meetings.begin();
  for (const Meeting& back : library->meetings) {
    SCOPED_TRACE(written->id);
    Json expected = written->to_json();
    // A job does not outlive the stand-in: the meeting is kept as it rests.
    if (written->busy()) expected["status"] = written->settled_status;
    EXPECT_EQ(back.to_json(), expected);
    EXPECT_EQ(back.audio_script, written->audio_script);
    ++written;
  }
  ASSERT_NE(library->meetings.front().audio, nullptr);
  EXPECT_EQ(library->meetings.front().audio->samples, audio->samples);
  EXPECT_EQ(library->meetings.front().audio_file, heard.audio_file);
}

// The loader's bounds and the ones a change is held to are the same: a
// meeting at the bound is taken and loads again, one past it is refused as
// a change, and so would the file be that held it.
TEST(KeptLibrary, AChangeIsRefusedWhereItCouldNotBeLoadedAgain) {
  Meetings meetings;
  Meeting longest = demo_meetings().front();
  longest.duration_seconds = kMaxDurationSeconds;
  EXPECT_TRUE(meetings.fits(longest, nullptr, 0).has_value());

  Meeting too_long = longest;
  too_long.duration_seconds = kMaxDurationSeconds * 2;
  const auto refused = meetings.fits(too_long, nullptr, 0);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "The meeting would last 20000000 s, more than the 10000000 s a "
                             "meeting may last.");

  TempDir dir;
  const KeptPaths kept{dir / "library.json", dir / "audio"};
  std::list<Meeting> at_bound{longest};
  ASSERT_TRUE(write_kept(kept, at_bound, demo_settings()).has_value());
  EXPECT_TRUE(read_kept(kept).has_value());
  std::list<Meeting> past_bound{too_long};
  ASSERT_TRUE(write_kept(kept, past_bound, demo_settings()).has_value());
  EXPECT_FALSE(read_kept(kept).has_value());
}

TEST(KeptLibrary, AChangeThatWouldOutgrowWhatIsLoadedIsRefused) {
  Meetings meetings;
  for (auto& meeting : demo_meetings()) meetings.add(std::move(meeting));
  const Meeting& first = meetings.all().front();
  // Settings taking all the library may: a new meeting, or one grown, would
  // not load again; one that shrinks still may.
  const std::size_t full = max_library_bytes();
  const auto grown = meetings.fits(first, nullptr, full);
  ASSERT_FALSE(grown.has_value());
  EXPECT_TRUE(grown.error().starts_with("The change is too large: the library would take"))
      << grown.error();

  Meeting shrunk = first;
  shrunk.transcript.clear();
  shrunk.notes.clear();
  EXPECT_TRUE(meetings.fits(shrunk, &first, full).has_value());
}

// Snapshots are taken in one order and may be written in another: a late
// older one is not written over a newer one, nor is its outcome reported.
TEST(KeptLibrary, ASnapshotWrittenLateLeavesTheNewerOneInPlace) {
  TempDir dir;
  KeptLibrary kept(dir / "library.json", dir / "audio", {});
  std::list<Meeting> meetings{demo_meetings().front()};
  const auto older = kept.snapshot(meetings, demo_settings());
  meetings.front().title = "Renamed";
  meetings.front().changed();
  const auto newer = kept.snapshot(meetings, demo_settings());
  ASSERT_TRUE(older && newer);
  EXPECT_EQ(kept.snapshots_taken(), 2u);

  const auto written = kept.write(*newer);
  ASSERT_TRUE(written.has_value()) << written.error();
  EXPECT_TRUE(kept.write(*older).has_value());
  kept.await_written(2);
  auto library = read_library(dir / "library.json", dir / "audio", demo_settings());
  ASSERT_TRUE(library.has_value()) << library.error();
  EXPECT_EQ(library->meetings.front().title, "Renamed");

  kept.remember(2, std::unexpected(std::string("disk full")));
  kept.remember(1, {});
  EXPECT_EQ(kept.save_error(), "disk full");
  kept.remember(3, {});
  EXPECT_EQ(kept.save_error(), std::nullopt);
}

TEST(KeptLibrary, NothingIsTakenWhereNothingIsKept) {
  KeptLibrary kept("", "", {});
  std::list<Meeting> meetings{demo_meetings().front()};
  EXPECT_FALSE(kept.kept());
  EXPECT_FALSE(kept.snapshot(meetings, demo_settings()).has_value());
}

}  // namespace
}  // namespace stand_in
