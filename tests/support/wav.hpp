#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// 16-bit PCM audio, interleaved, as the tests write and read WAV files.
struct Wav {
  int sample_rate = 16000;
  int channels = 1;
  std::vector<std::int16_t> samples;
};

std::string wav_file_bytes(const Wav& wav);

// Reads the format and data chunks of a 16-bit PCM WAV file; empty samples
// when the bytes are not one.
Wav read_wav(const std::string& bytes);

// Left and right channels side by side; the shorter one padded with silence.
Wav stereo(const Wav& left, const Wav& right);

// `seconds` of silence before the audio.
Wav delayed(const Wav& audio, double seconds);

// The audio said again and again until it lasts at least `seconds`: speech
// long enough that a cancel or a quit lands while it is being heard.
Wav repeated_for(const Wav& audio, double seconds);

}  // namespace testing_support
