#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stand_in_fixture.hpp"
#include "wav.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// The stand-in with real audio: imports read by libsndfile, speech recognised
// by pocketsphinx, exports of the real samples.
class StandInAudio : public StandIn {
 protected:
  // Imports the audio and waits until the stand-in has transcribed it.
  json imported(const Wav& audio, const std::string& name = "talk.wav") {
    home.write(name, wav_file_bytes(audio));
    auto started = cli_json({"meetings", "import", home / name});
    return stepped_json({"meetings", "wait", started["id"]});
  }

  // Speech by flite's slt voice (16 kHz mono), which the recogniser hears
  // almost word for word.
  Wav spoken(const std::string& sentence) {
    const std::string file = home / "spoken.wav";
    auto made = run_program("/usr/bin/flite", {"-voice", "slt", "-t", sentence, "-o", file},
                            {env, "", home.path()});
    EXPECT_EQ(made.exit_code, 0) << made.err;
    return read_wav(read_file_text(file));
  }

  void skip_without_recogniser() {
    if (!fs::exists("/usr/bin/flite"))
      GTEST_SKIP() << "flite is not installed (apt-get install flite)";
    if (!fs::exists("/usr/share/pocketsphinx/model/en-us/en-us/mdef")) {
      GTEST_SKIP() << "the speech model is not installed (apt-get install pocketsphinx-en-us)";
    }
  }
};

std::size_t words_heard(const std::string& transcript, const std::vector<std::string>& words) {
  return static_cast<std::size_t>(std::ranges::count_if(
      words, [&](const std::string& word) { return transcript.find(word) != std::string::npos; }));
}

TEST_F(StandInAudio, ImportTakesTheFilesDurationAndRefusesWhatIsNotAudio) {
  auto meeting = imported({8000, 2, std::vector<std::int16_t>(8000 * 2 * 3 / 2)});
  EXPECT_EQ(meeting["durationSeconds"], 1.5);
  EXPECT_EQ(meeting["status"], "ready");

  home.write("notes.txt", "not audio at all");
  auto refused = run({"meetings", "import", "notes.txt", "--no-launch"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err.rfind(
                "error: " + (home / "notes.txt") + " is not an audio file Murmela can read: ", 0),
            0u)
      << refused.err;
}

// A FLAC file's header alone: a STREAMINFO block claiming `frames` frames,
// and no audio at all.
std::string flac_header(std::uint32_t rate, int channels, std::uint64_t frames) {
  std::string bytes = "fLaC";
  bytes += '\x80';  // the last metadata block, STREAMINFO
  bytes += std::string("\x00\x00\x22", 3);
  bytes += std::string("\x10\x00\x10\x00", 4);          // block sizes 4096
  bytes += std::string("\x00\x00\x00\x00\x00\x00", 6);  // frame sizes unknown
  // 20 bits of rate, 3 of channels - 1, 5 of bits - 1 (16), 36 of frames.
  const std::uint64_t packed = (std::uint64_t{rate} << 44) | (std::uint64_t(channels - 1) << 41) |
                               (std::uint64_t{15} << 36) |
                               (frames & ((std::uint64_t{1} << 36) - 1));
  for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>(packed >> shift);
  bytes += std::string(16, '\0');  // no MD5
  return bytes;
}

// Audio that claims or holds more than the stand-in takes is refused with a
// clear error, and the app goes on answering.
TEST_F(StandInAudio, AudioPastTheLimitsIsRefusedAndTheAppGoesOn) {
  struct Case {
    std::string name;
    std::string bytes;
    std::string error;  // after "error: "
  };
  const std::string too_long = ": it is longer than 4 hours, the most the stand-in takes.\n";
  const std::vector<Case> cases = {
      {"claims.flac", flac_header(16000, 1, (std::uint64_t{1} << 36) - 1),
       "Cannot import " + (home / "claims.flac") + too_long},
      {"claims-stereo.flac", flac_header(48000, 2, 2'000'000'000),
       "Cannot import " + (home / "claims-stereo.flac") + too_long},
      // Five minutes, but at 192 kHz and 8 channels: 880 MiB once decoded,
      // refused from the header, before a sample is decoded.
      {"bomb.flac", flac_header(192000, 8, 192000 * 300),
       "Cannot import " + (home / "bomb.flac") +
           ": at 8 channels and 192000 Hz it decodes to more than 512 MiB, the most the "
           "stand-in takes.\n"},
      // Four hours and a second at 8 Hz: a small file, but too long.
      {"long.wav", wav_file_bytes({8, 1, std::vector<std::int16_t>(8 * (4 * 3600 + 1))}),
       "Cannot import " + (home / "long.wav") + too_long},
      {"fast.wav", wav_file_bytes({1'000'000, 1, std::vector<std::int16_t>(100)}),
       (home / "fast.wav") +
           " is not an audio file Murmela can read: 1 channels at 1000000 Hz is more than the "
           "stand-in takes (8 channels, 192000 Hz at most)\n"},
  };
  for (const auto& c : cases) {
    home.write(c.name, c.bytes);
    auto refused = run({"meetings", "import", home / c.name, "--no-launch"});
    EXPECT_EQ(refused.exit_code, 1) << c.name;
    EXPECT_EQ(refused.err, "error: " + c.error) << c.name;
    EXPECT_TRUE(answers_ping()) << c.name;
  }
}

// A job queued behind a recognition still at work waits for it, then runs.
TEST_F(StandInAudio, AJobQueuedBehindARecognitionRunsAfterIt) {
  home.write("talk.wav", wav_file_bytes({16000, 1, std::vector<std::int16_t>(16000)}));
  const std::string id = cli_json({"meetings", "import", home / "talk.wav"})["id"];
  auto queued =
      run({"meetings", "transcribe", id, "--model", "large-v3", "--detach", "--no-launch"});
  EXPECT_EQ(queued.exit_code, 0) << queued.err;
  auto failed = run_stepping({"meetings", "wait", id});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_EQ(failed.err, "error: The model large-v3 is not downloaded.\n");
  EXPECT_EQ(cli_json({"ping"})["pong"], true);  // the stand-in is still there
}

TEST_F(StandInAudio, ExportedAudioIsTheImportedSamples) {
  Wav noise{22050, 2, {}};
  std::mt19937 random(7);
  for (int i = 0; i < 22050; ++i) noise.samples.push_back(static_cast<std::int16_t>(random()));
  auto meeting = imported(noise);
  const std::string id = meeting["id"];
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"meetings", "export-audio", id, home / "a.wav"},
           {"meetings", "export", id, home / "b.wav", "--format", "wav"}}) {
    auto exported = run(args);
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    const Wav back = read_wav(read_file_text(args[3]));
    EXPECT_EQ(back.sample_rate, 22050);
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.samples, noise.samples);
  }
}

// A 440 Hz tone, the same on every channel.
Wav tone(int rate, int channels, double seconds) {
  Wav wav{rate, channels, {}};
  const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
  for (std::size_t i = 0; i < frames; ++i) {
    const double value = 0.3 * 32767 * std::sin(2 * std::numbers::pi * 440.0 * i / rate);
    for (int c = 0; c < channels; ++c) wav.samples.push_back(static_cast<std::int16_t>(value));
  }
  return wav;
}

double rms(const std::vector<std::int16_t>& samples, std::size_t first, std::size_t count) {
  double sum = 0;
  for (std::size_t i = first; i < first + count; ++i) sum += double(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(count));
}

// Parts of other rates and channel counts are converted to the first part's
// format: each keeps its duration and its sound.
TEST_F(StandInAudio, AJoinConvertsThePartsToTheFirstPartsFormat) {
  struct Part {
    int rate;
    int channels;
    double seconds;
  };
  const std::vector<std::vector<Part>> cases = {
      {{16000, 1, 1.0}, {22050, 2, 0.5}, {48000, 4, 0.25}},
      {{22050, 2, 0.5}, {16000, 1, 1.0}, {8000, 3, 0.75}},
  };
  const double tone_rms = 0.3 * 32767 / std::numbers::sqrt2;
  for (const auto& parts : cases) {
    std::vector<std::string> args{"meetings", "join"};
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const Part& p = parts[i];
      args.push_back(
          imported(tone(p.rate, p.channels, p.seconds), "part" + std::to_string(i) + ".wav")["id"]);
    }
    const std::string id = cli_json(args)["id"];
    auto joined = stepped_json({"meetings", "wait", id});
    double seconds = 0;
    for (const Part& p : parts) seconds += p.seconds;
    EXPECT_EQ(joined["durationSeconds"], seconds);
    EXPECT_EQ(joined["recognitionWarnings"], json::array());

    ASSERT_EQ(run({"meetings", "export-audio", id, home / "joined.wav", "--no-launch"}).exit_code,
              0);
    const Wav back = read_wav(home.read("joined.wav"));
    const Part& first = parts.front();
    ASSERT_EQ(back.sample_rate, first.rate);
    ASSERT_EQ(back.channels, first.channels);
    std::size_t at = 0;
    for (const Part& p : parts) {
      const auto frames = static_cast<std::size_t>(std::llround(p.seconds * first.rate));
      // The middle half of the part, away from the resampler's edges.
      const std::size_t first_sample = (at + frames / 4) * first.channels;
      ASSERT_LE(first_sample + frames / 2 * first.channels, back.samples.size());
      EXPECT_NEAR(rms(back.samples, first_sample, frames / 2 * first.channels), tone_rms,
                  tone_rms * 0.05)
          << p.rate << " Hz, " << p.channels << " channels";
      at += frames;
    }
    EXPECT_EQ(back.samples.size(), at * first.channels);
  }
}

// A part without recorded audio leaves the join without audio, which it
// says; its audio export is refused rather than made up.
TEST_F(StandInAudio, AJoinWithAPartWithoutAudioSaysItHasNone) {
  const std::string imported_id = imported(tone(16000, 1, 1.0))["id"];
  const std::string id = cli_json({"meetings", "join", imported_id, "8a4be"})["id"];
  auto joined = stepped_json({"meetings", "wait", id});
  EXPECT_EQ(joined["recognitionWarnings"],
            json::array({"The joined meeting has no audio: \"Client call, part 2\" has no "
                         "recorded audio to join."}));
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"meetings", "export-audio", id, home / "a.wav", "--no-launch"},
           {"meetings", "export", id, home / "b.wav", "--format", "wav", "--no-launch"}}) {
    auto refused = run(args);
    EXPECT_EQ(refused.exit_code, 1) << args[1];
    EXPECT_EQ(refused.err,
              "error: The meeting has no audio: its parts' audio could not be joined.\n");
    EXPECT_FALSE(fs::exists(args[3])) << args[1];
  }
}

TEST_F(StandInAudio, RecognisesWhatWasSaid) {
  skip_without_recogniser();
  auto meeting = imported(spoken("The quarterly budget review moves to Friday morning."));
  EXPECT_EQ(meeting["transcriptionModel"], "pocketsphinx-en-us");
  const std::string transcript = run({"meetings", "transcript", "latest", "--no-launch"}).out;
  EXPECT_TRUE(transcript.starts_with("Speaker 1: ")) << transcript;
  EXPECT_GE(words_heard(transcript, {"quarterly", "budget", "review", "moves", "friday"}), 4u)
      << transcript;
}

TEST_F(StandInAudio, AStereoRecordingIsTwoSpeakersByChannel) {
  skip_without_recogniser();
  const Wav first = spoken("The quarterly budget review moves to Friday morning.");
  const Wav second = delayed(spoken("Please send the summary to the whole team today."),
                             static_cast<double>(first.samples.size()) / first.sample_rate + 1);
  imported(stereo(first, second));
  const std::string transcript = run({"meetings", "transcript", "latest", "--no-launch"}).out;
  const auto other = transcript.find("\nOther speakers: ");
  ASSERT_TRUE(transcript.starts_with("You: ")) << transcript;
  ASSERT_NE(other, std::string::npos) << transcript;
  EXPECT_GE(words_heard(transcript.substr(0, other), {"quarterly", "budget", "review", "friday"}),
            3u)
      << transcript;
  EXPECT_GE(words_heard(transcript.substr(other), {"please", "send", "summary", "team", "today"}),
            3u)
      << transcript;
  auto speakers = cli_json({"meetings", "speakers", "latest"})["speakers"];
  EXPECT_EQ(speakers.size(), 2u);
}

// A language or model the stand-in has no recogniser for is heard as English
// by pocketsphinx, and the meeting says so.
TEST_F(StandInAudio, AChoiceWithoutARecogniserIsSaidInTheWarnings) {
  skip_without_recogniser();
  const std::string base =
      "Recognised with pocketsphinx-en-us: the stand-in app has no recogniser for the model ";
  // The app's default model is what the recogniser stands in for; any model
  // someone chose, even that one by name, is a choice it cannot honour.
  struct Case {
    std::string language;
    std::string model_setting;
    std::vector<std::string> transcribe;  // after the import, if any
    json warnings;
  };
  const std::vector<Case> cases = {
      {"de",
       "base",
       {},
       {"Recognised as English: the stand-in app has no recogniser for the language de."}},
      {"en-US", "base", {"--model", "tiny"}, {base + "tiny."}},
      {"en", "base", {"--model", "base"}, {base + "base."}},
      {"auto", "tiny", {}, {base + "tiny."}},
      {"auto", "base", {}, json::array()},
  };
  const Wav speech = spoken("The quarterly budget review moves to Friday morning.");
  for (const auto& c : cases) {
    cli_json({"settings", "set", "language=" + c.language, "asrModel=" + c.model_setting});
    json meeting = imported(speech);
    if (!c.transcribe.empty()) {
      std::vector<std::string> args{"meetings", "transcribe", meeting["id"]};
      args.insert(args.end(), c.transcribe.begin(), c.transcribe.end());
      meeting = stepped_json(args);
    }
    EXPECT_EQ(meeting["transcriptionModel"], "pocketsphinx-en-us") << c.language;
    EXPECT_EQ(meeting["recognitionWarnings"], c.warnings) << c.language;
    EXPECT_EQ(cli_json({"meetings", "show", meeting["id"]})["recognitionWarnings"], c.warnings)
        << c.language;
  }
}

// Imports from many clients at once are each recognised in full, however
// many recognitions wait for a turn (run under the tsan preset, this is the
// recogniser's thread check).
TEST_F(StandInAudio, ManyImportsAtOnceAreEachRecognised) {
  skip_without_recogniser();
  home.write("talk.wav",
             wav_file_bytes(spoken("The quarterly budget review moves to Friday morning.")));
  constexpr int kClients = 12;
  std::vector<std::string> ids(kClients);
  {
    std::vector<std::jthread> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.emplace_back([&, i] {
        auto started = run({"meetings", "import", home / "talk.wav", "--no-launch"});
        auto answer = json::parse(started.out, nullptr, false);
        if (started.exit_code == 0 && answer.contains("id")) ids[i] = answer["id"];
      });
    }
  }
  for (const auto& id : ids) {
    ASSERT_FALSE(id.empty());
    auto done = stepped_json({"meetings", "wait", id});
    EXPECT_EQ(done["status"], "ready") << done;
    const std::string transcript = run({"meetings", "transcript", id, "--no-launch"}).out;
    EXPECT_GE(words_heard(transcript, {"quarterly", "budget", "review", "moves", "friday"}), 4u)
        << transcript;
  }
}

TEST_F(StandInAudio, CancelStopsARecognition) {
  skip_without_recogniser();
  // A minute of speech: long enough that the cancel lands while it runs.
  const Wav sentence = spoken("The quarterly budget review moves to Friday morning.");
  const Wav minute = repeated_for(sentence, 60);
  home.write("long.wav", wav_file_bytes(minute));
  const std::string id = cli_json({"meetings", "import", home / "long.wav"})["id"];
  step();  // past importing: now it is transcribing
  EXPECT_EQ(cli_json({"meetings", "cancel", id})["cancelled"], true);
  EXPECT_EQ(cli_json({"meetings", "show", id})["status"], "cancelled");
}

// Under a low limit on descriptors and a crowd of imports, the recogniser's
// library still finds its model's files (it would end the process without a
// word when it cannot open one): each import is recognised or refused with a
// reason, and the app goes on.
TEST_F(StandInAudio, ACrowdUnderALowDescriptorLimitLeavesTheAppRunning) {
  skip_without_recogniser();
  if (!fs::exists("/usr/bin/prlimit")) GTEST_SKIP() << "prlimit is not installed";
  home.write("talk.wav", wav_file_bytes(spoken("Please send the report on Monday.")));
  app_answers("quit_app");
  ::waitpid(app, nullptr, 0);
  SpawnVectors vectors("/usr/bin/prlimit", {"--nofile=24", kStandInPath, "--startup"}, env);
  ASSERT_EQ(posix_spawn(&app, "/usr/bin/prlimit", nullptr, nullptr, vectors.argv(), vectors.envp()),
            0);
  ASSERT_TRUE(answers_ping());

  // Straight onto the socket from threads of this process: a crowd faster
  // than one of CLI processes.
  constexpr int kClients = 30;
  std::vector<std::string> ids(kClients);
  {
    std::vector<std::jthread> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.emplace_back([&, i] {
        auto started = murmela::send_request(socket_path(), "import_media",
                                             nlohmann::json{{"path", home / "talk.wav"}}, false);
        if (!started) return;
        if (auto id = started->root().find("id"); id && id->is_string())
          ids[i] = std::string(id->string());
      });
    }
  }
  for (const auto& id : ids) {
    if (id.empty()) continue;
    auto done = stepped_json({"meetings", "wait", id});
    EXPECT_TRUE(done["status"] == "ready" || done["status"] == "failed") << done;
  }
  int status = 0;
  EXPECT_EQ(::waitpid(app, &status, WNOHANG), 0) << "the app ended, status " << status;
  EXPECT_TRUE(app_answers("ping"));
}

}  // namespace
