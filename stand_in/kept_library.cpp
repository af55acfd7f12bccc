#include "kept_library.hpp"

#include <cstdio>

namespace stand_in {

KeptLibrary::KeptLibrary(std::string path, std::string audio_folder, OwnAudio own_audio)
    : path_(std::move(path)),
      audio_folder_(std::move(audio_folder)),
      own_audio_(std::move(own_audio)) {}

std::optional<LibrarySnapshot> KeptLibrary::snapshot(std::list<Meeting>& meetings,
                                                     const Json& settings) {
  if (!kept()) return std::nullopt;
  LibrarySnapshot snapshot = snapshot_library(meetings, settings);
  snapshot.sequence = ++snapshots_taken_;
  return snapshot;
}

std::expected<void, std::string> KeptLibrary::write(const LibrarySnapshot& snapshot) {
  std::unique_lock saving(save_mutex_);
  // A newer snapshot was written first: it holds this one's changes too.
  if (snapshot.sequence <= written_through_) return last_write_;
  last_write_ = write_library(path_, snapshot, audio_folder_, own_audio_);
  written_through_ = snapshot.sequence;
  const auto written = last_write_;
  saving.unlock();
  written_.notify_all();

  if (!written) {
    std::fprintf(stderr, "murmela (stand-in): cannot keep the library: %s\n",
                 written.error().c_str());
  }
  return written;
}

void KeptLibrary::await_written(std::uint64_t sequence) {
  std::unique_lock saving(save_mutex_);
  written_.wait(saving, [&] { return written_through_ >= sequence; });
}

void KeptLibrary::remember(std::uint64_t sequence,
                           const std::expected<void, std::string>& written) {
  if (sequence <= save_error_sequence_) return;
  save_error_sequence_ = sequence;
  save_error_ = written ? std::nullopt : std::optional(written.error());
}

}  // namespace stand_in
