#pragma once

#include <cstddef>
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

// The longest audio the stand-in takes: what a header claims, or what a
// file turns out to hold, past this is refused rather than held in memory.
inline constexpr int kMaxAudioHours = 4;
// Rates and channel counts past these are no recording anyone made; they
// would let a short claim in hours still mean gigabytes.
inline constexpr int kMaxSampleRate = 192000;
inline constexpr int kMaxChannels = 8;

// However short in time, decoded audio past this many samples is refused:
// 512 MiB of 16-bit samples. The stand-in holds a meeting's audio in memory
// (and, while it keeps it, its WAV file too), so this bounds what one import
// can take: 4 hours of 16 kHz mono, 2 hours 20 minutes of 16 kHz stereo, 46
// minutes of 48 kHz stereo. Without it a few hundred kilobytes of FLAC
// silence at 192 kHz and 8 channels decode to gigabytes.
inline constexpr std::size_t kMaxAudioSamples = std::size_t{1} << 28;

// Why a file could not be read: not audio at all, or more audio than the
// stand-in takes. `reason` is a clause ("it is longer than 4 hours").
struct AudioError {
  bool too_long = false;
  std::string reason;
};

// Reads any audio file libsndfile knows (WAV, FLAC, Ogg/Vorbis, ...) from an
// open descriptor, which stays the caller's. Memory follows what the file
// really holds, never what its header claims.
std::expected<Audio, AudioError> read_audio(int fd);

// Appends `part` to `to` in `to`'s format: channels mixed down or spread,
// then resampled in chunks, as many frames as the part's duration takes at
// `to`'s rate. On an error `to` may hold part of it.
std::expected<void, std::string> append_converted(const Audio& part, Audio& to);

// How many samples `part` becomes in `to`'s format.
std::size_t converted_size(const Audio& part, const Audio& to);

// How many samples the parts take joined: each in the first one's format.
std::size_t joined_size(const std::vector<const Audio*>& parts);

// The audio as a 16-bit PCM WAV file.
std::expected<std::string, std::string> wav_bytes(const Audio& audio);

}  // namespace stand_in
