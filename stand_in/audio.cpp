#include "audio.hpp"

#include <cstring>
#include <memory>

#include <fmt/format.h>
#include <sndfile.h>

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
  const sf_count_t most_frames = sf_count_t{kMaxAudioHours} * 3600 * info.samplerate;
  const auto too_long = [] {
    return std::unexpected(AudioError{
        true, fmt::format("it is longer than {} hours, the most the stand-in takes",
                          kMaxAudioHours)});
  };
  // A header's frame count is only a claim: a few kilobytes may say hours.
  if (info.frames > most_frames) return too_long();

  Audio audio;
  audio.sample_rate = info.samplerate;
  audio.channels = info.channels;
  // Read a chunk at a time, so memory grows with what the file really holds.
  constexpr sf_count_t kChunkFrames = 1 << 16;
  sf_count_t frames = 0;
  for (;;) {
    audio.samples.resize(static_cast<std::size_t>(frames + kChunkFrames) * info.channels);
    const sf_count_t read =
        sf_readf_short(file.get(), audio.samples.data() + frames * info.channels, kChunkFrames);
    if (read < 0) return std::unexpected(AudioError{false, sf_strerror(file.get())});
    frames += read;
    if (frames > most_frames) return too_long();
    if (read < kChunkFrames) break;
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    return std::unexpected(AudioError{false, sf_strerror(file.get())});
  }
  audio.samples.resize(static_cast<std::size_t>(frames) * info.channels);
  audio.samples.shrink_to_fit();
  return audio;
}

std::expected<std::string, std::string> wav_bytes(const Audio& audio) {
  SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  MemoryFile memory;
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
