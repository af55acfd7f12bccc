#include "audio.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include <samplerate.h>
#include <sndfile.h>

#include <fmt/format.h>

namespace stand_in {

namespace {

struct CloseSndfile {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFile = std::unique_ptr<SNDFILE, CloseSndfile>;

// A WAV file written into memory through libsndfile's virtual I/O.
struct MemoryFile {
  std::string bytes;
  sf_count_t position = 0;
};

sf_count_t memory_length(void* data) { return static_cast<MemoryFile*>(data)->bytes.size(); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* data) {
  auto* file = static_cast<MemoryFile*>(data);
  const sf_count_t base = whence == SEEK_SET   ? 0
                          : whence == SEEK_CUR ? file->position
                                               : static_cast<sf_count_t>(file->bytes.size());
  file->position = base + offset;
  return file->position;
}

sf_count_t memory_read(void* out, sf_count_t count, void* data) {
  auto* file = static_cast<MemoryFile*>(data);
  const auto size = static_cast<sf_count_t>(file->bytes.size());
  const sf_count_t taken = std::max<sf_count_t>(0, std::min(count, size - file->position));
  std::memcpy(out, file->bytes.data() + file->position, static_cast<std::size_t>(taken));
  file->position += taken;
  return taken;
}

sf_count_t memory_write(const void* in, sf_count_t count, void* data) {
  auto* file = static_cast<MemoryFile*>(data);
  const auto end = static_cast<std::size_t>(file->position + count);
  if (file->bytes.size() < end) file->bytes.resize(end);
  std::memcpy(file->bytes.data() + file->position, in, static_cast<std::size_t>(count));
  file->position += count;
  return count;
}

sf_count_t memory_tell(void* data) { return static_cast<MemoryFile*>(data)->position; }

struct DeleteResampler {
  void operator()(SRC_STATE* state) const { src_delete(state); }
};
using Resampler = std::unique_ptr<SRC_STATE, DeleteResampler>;

std::size_t frames_at(const Audio& part, int rate) {
  const std::size_t frames = part.samples.size() / part.channels;
  if (part.sample_rate == rate) return frames;
  return static_cast<std::size_t>(
      std::llround(static_cast<double>(frames) * rate / part.sample_rate));
}

// Frames [first, first + count) of `part` as floats with `channels`
// channels: more channels are mixed down (each output channel the mean of
// the inputs that fall on it), fewer are spread over the rest.
void map_channels(const Audio& part, std::size_t first, std::size_t count, int channels,
                  std::vector<float>& out) {
  out.assign(count * channels, 0.0f);
  const int from = part.channels;
  for (std::size_t frame = 0; frame < count; ++frame) {
    const std::int16_t* in = part.samples.data() + (first + frame) * from;
    float* mapped = out.data() + frame * channels;
    if (from > channels) {
      for (int i = 0; i < from; ++i) mapped[i % channels] += in[i];
      for (int c = 0; c < channels; ++c) {
        const int sharing = (from - c + channels - 1) / channels;
        mapped[c] /= static_cast<float>(sharing) * 32768.0f;
      }
    } else {
      for (int c = 0; c < channels; ++c) mapped[c] = in[c % from] / 32768.0f;
    }
  }
}

// Appends up to `end` samples in all: what the resampler makes past a
// part's length is dropped, so the joined buffer never outgrows its reserve.
void append_floats(const float* data, std::size_t count, std::size_t end,
                   std::vector<std::int16_t>& to) {
  const std::size_t at = to.size();
  count = std::min(count, end > at ? end - at : 0);
  to.resize(at + count);
  src_float_to_short_array(data, to.data() + at, static_cast<int>(count));
}

}  // namespace

std::vector<std::int16_t> Audio::channel(int index) const {
  std::vector<std::int16_t> one;
  one.reserve(samples.size() / channels);
  for (std::size_t i = index; i < samples.size(); i += channels) one.push_back(samples[i]);
  return one;
}

std::expected<Audio, AudioError> read_audio(int fd) {
  SF_INFO info{};
  SndFile file(sf_open_fd(fd, SFM_READ, &info, SF_FALSE));
  if (!file) return std::unexpected(AudioError{false, sf_strerror(nullptr)});
  if (info.channels < 1 || info.samplerate < 1) {
    return std::unexpected(AudioError{false, "it holds no audio"});
  }
  if (info.samplerate > kMaxSampleRate || info.channels > kMaxChannels) {
    return std::unexpected(AudioError{
        false, fmt::format("{} channels at {} Hz is more than the stand-in takes ({} channels, "
                           "{} Hz at most)",
                           info.channels, info.samplerate, kMaxChannels, kMaxSampleRate)});
  }
  const sf_count_t longest = sf_count_t{kMaxAudioHours} * 3600 * info.samplerate;
  const auto largest = static_cast<sf_count_t>(kMaxAudioSamples / info.channels);
  // Refused by whichever limit it passes: time, or decoded size.
  const auto past_limits = [&](sf_count_t frames) -> std::optional<AudioError> {
    if (frames > longest) {
      return AudioError{true, fmt::format("it is longer than {} hours, the most the stand-in takes",
                                          kMaxAudioHours)};
    }
    if (frames > largest) {
      return AudioError{
          true, fmt::format("at {} channels and {} Hz it decodes to more than {} MiB, the most "
                            "the stand-in takes",
                            info.channels, info.samplerate,
                            kMaxAudioSamples * sizeof(std::int16_t) >> 20)};
    }
    return std::nullopt;
  };
  // A header's frame count is only a claim: a few kilobytes may say hours.
  // One past the limits is refused before anything is decoded.
  if (auto refused = past_limits(info.frames)) return std::unexpected(*refused);

  Audio audio;
  audio.sample_rate = info.samplerate;
  audio.channels = info.channels;
  constexpr sf_count_t kChunkFrames = 1 << 16;
  // Room for what the header claims, taken at once rather than grown (which
  // would hold the old copy and the new one together): memory is only
  // touched as samples arrive, so it still follows what the file holds.
  if (info.frames > 0)
    audio.samples.reserve(static_cast<std::size_t>(info.frames + kChunkFrames) * info.channels);
  // Read a chunk at a time, so memory grows with what the file really holds.
  sf_count_t frames = 0;
  for (;;) {
    audio.samples.resize(static_cast<std::size_t>(frames + kChunkFrames) * info.channels);
    const sf_count_t read =
        sf_readf_short(file.get(), audio.samples.data() + frames * info.channels, kChunkFrames);
    if (read < 0) return std::unexpected(AudioError{false, sf_strerror(file.get())});
    frames += read;
    if (auto refused = past_limits(frames)) return std::unexpected(*refused);
    if (read < kChunkFrames) break;
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    return std::unexpected(AudioError{false, sf_strerror(file.get())});
  }
  audio.samples.resize(static_cast<std::size_t>(frames) * info.channels);
  // Only when the header claimed much more than there was: a copy the size
  // of what is there, to give back the rest.
  if (audio.samples.capacity() - audio.samples.size() >
      static_cast<std::size_t>(kChunkFrames) * info.channels) {
    audio.samples.shrink_to_fit();
  }
  return audio;
}

std::size_t converted_size(const Audio& part, const Audio& to) {
  return frames_at(part, to.sample_rate) * to.channels;
}

std::size_t joined_size(const std::vector<const Audio*>& parts) {
  std::size_t total = 0;
  for (const Audio* part : parts) total += converted_size(*part, *parts.front());
  return total;
}

std::expected<void, std::string> append_converted(const Audio& part, Audio& to) {
  if (part.sample_rate == to.sample_rate && part.channels == to.channels) {
    to.samples.insert(to.samples.end(), part.samples.begin(), part.samples.end());
    return {};
  }
  const std::size_t frames = part.samples.size() / part.channels;
  const std::size_t end = to.samples.size() + converted_size(part, to);
  const int channels = to.channels;
  const double ratio = static_cast<double>(to.sample_rate) / part.sample_rate;
  constexpr std::size_t kChunkFrames = 1 << 14;
  std::vector<float> in;
  std::vector<float> out((static_cast<std::size_t>(kChunkFrames * ratio) + 64) * channels);
  int error = 0;
  Resampler resampler(src_new(SRC_SINC_FASTEST, channels, &error));
  if (!resampler) return std::unexpected(src_strerror(error));
  for (std::size_t at = 0; at < frames; at += kChunkFrames) {
    const std::size_t count = std::min(kChunkFrames, frames - at);
    map_channels(part, at, count, channels, in);
    if (ratio == 1.0) {
      append_floats(in.data(), in.size(), end, to.samples);
      continue;
    }
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(count);
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size() / channels);
    data.src_ratio = ratio;
    data.end_of_input = at + count == frames;
    // Until this chunk is used up, and at the end until nothing more comes.
    for (;;) {
      if (const int failed = src_process(resampler.get(), &data); failed != 0) {
        return std::unexpected(src_strerror(failed));
      }
      append_floats(out.data(), static_cast<std::size_t>(data.output_frames_gen) * channels, end,
                    to.samples);
      data.data_in += data.input_frames_used * channels;
      data.input_frames -= data.input_frames_used;
      if (data.input_frames == 0 && (!data.end_of_input || data.output_frames_gen == 0)) break;
    }
  }
  // The resampler's filter delay leaves the count a few frames off: the part
  // keeps its duration exactly, so that joined parts keep their places.
  to.samples.resize(end, 0);
  return {};
}

std::expected<std::string, std::string> wav_bytes(const Audio& audio) {
  SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  MemoryFile memory;
  // The whole file's room at once: grown as it is written, the old copy and
  // the new one would be held together.
  memory.bytes.reserve(audio.samples.size() * sizeof(std::int16_t) + 4096);
  SF_INFO info{};
  info.samplerate = audio.sample_rate;
  info.channels = audio.channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  {
    SndFile file(sf_open_virtual(&io, SFM_WRITE, &info, &memory));
    if (!file) return std::unexpected(sf_strerror(nullptr));
    const auto frames = static_cast<sf_count_t>(audio.samples.size() / audio.channels);
    if (sf_writef_short(file.get(), audio.samples.data(), frames) != frames) {
      return std::unexpected(sf_strerror(file.get()));
    }
  }  // closing writes the header's sizes
  return std::move(memory.bytes);
}

}  // namespace stand_in
