#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "audio.hpp"

namespace stand_in {

// The speech model the stand-in recognises with, where Debian's
// pocketsphinx-en-us package has installed it.
inline constexpr const char* kRecognizerModelId = "pocketsphinx-en-us";
bool recognizer_installed();

// Silences the recogniser's log. Its log is one for the whole process, so it
// is set once, before any thread starts.
void quiet_recognizer_log();

// One stretch of speech on one channel, timed from the recogniser's words.
struct Segment {
  int channel = 0;
  double start = 0;  // seconds from the start of the audio
  double end = 0;
  std::string text;
};

// Recognises the English speech in each channel of `audio`, in chunks of
// about a second; stops between chunks once `cancelled` is set (the result
// is then an error). Segments come in the order they start. At most one
// recognition per core runs at once; the others wait for a turn.
std::expected<std::vector<Segment>, std::string> recognize(const Audio& audio,
                                                           const std::atomic<bool>& cancelled);

// What a recognition asked for but will not get, since the one recogniser
// here is English pocketsphinx: one sentence each, for the meeting's
// recognitionWarnings. `chosen_model` is a model someone chose; the app's
// default model is what pocketsphinx stands in for, and no choice.
// `language` is "auto", "en", "de", ...
std::vector<std::string> unmet_choices(const std::optional<std::string>& chosen_model,
                                       const std::string& language);

// The transcript of the segments: one "Speaker: text" line each. A stereo
// recording keeps the microphone on the left ("You") and the other side on
// the right ("Other speakers"); a mono one is one speaker.
std::string transcript_of(const std::vector<Segment>& segments, int channels);

}  // namespace stand_in
