#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace stand_in {

// A meeting's audio as the stand-in keeps it: 16-bit samples, interleaved,
// at the rate and with the channels of the file it came from.
struct Audio {
  int sample_rate = 16000;
  int channels = 1;
  std::vector<std::int16_t> samples;

  double seconds() const { return static_cast<double>(samples.size()) / channels / sample_rate; }
  // One channel's samples (0 is the left, or the only one).
  std::vector<std::int16_t> channel(int index) const;
};

// Reads any audio file libsndfile knows (WAV, FLAC, Ogg/Vorbis, ...). The
// error is the reason, as libsndfile gives it.
std::expected<Audio, std::string> read_audio(const std::string& path);

// The audio as a 16-bit PCM WAV file.
std::expected<std::string, std::string> wav_bytes(const Audio& audio);

}  // namespace stand_in
