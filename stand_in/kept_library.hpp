#pragma once

#include <condition_variable>
#include <cstdint>
#include <expected>
#include <list>
#include <mutex>
#include <optional>
#include <string>

#include "library.hpp"

namespace stand_in {

// The library kept in a file, and how it is saved. Saving is in two halves,
// so that no request waits for the disk: the library is taken as it stands
// under the app's lock (`snapshot`), then written without it (`write`).
// Writes go in the order snapshots were taken; one older than a snapshot
// already written is not written again, since the newer one holds its
// changes. A failure is remembered (`remember`, under the app's lock) for
// `get_diagnostics` until a save goes through.
class KeptLibrary {
 public:
  // With an empty `path`, nothing is kept. `own_audio` are the audio files
  // of the library the app started from.
  KeptLibrary(std::string path, std::string audio_folder, OwnAudio own_audio);

  bool kept() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

  // Under the app's lock: the library as it stands, numbered in the order
  // taken; nothing where none is kept.
  std::optional<LibrarySnapshot> snapshot(std::list<Meeting>& meetings, const Json& settings);
  // How many snapshots were taken: what an answer has shown.
  std::uint64_t snapshots_taken() const { return snapshots_taken_; }

  // Without the app's lock: writes the snapshot unless a newer one was
  // written first, and says why it could not be kept.
  std::expected<void, std::string> write(const LibrarySnapshot& snapshot);
  // Without the app's lock: waits until every snapshot up to `sequence` has
  // been written (or has failed to be).
  void await_written(std::uint64_t sequence);

  // Under the app's lock: keeps the outcome of the write of snapshot
  // `sequence` for `save_error`, unless a later one's is known.
  void remember(std::uint64_t sequence, const std::expected<void, std::string>& written);
  // Under the app's lock: why the latest save failed, if it did.
  const std::optional<std::string>& save_error() const { return save_error_; }

 private:
  const std::string path_;  // empty: nothing is kept
  const std::string audio_folder_;

  // Under the app's lock.
  std::uint64_t snapshots_taken_ = 0;
  std::optional<std::string> save_error_;
  std::uint64_t save_error_sequence_ = 0;  // the snapshot `save_error_` is about

  // Writes are ordered by `save_mutex_`, which guards what follows; it and
  // the app's lock are never held together.
  std::mutex save_mutex_;
  std::condition_variable written_;
  std::uint64_t written_through_ = 0;
  std::expected<void, std::string> last_write_;
  OwnAudio own_audio_;
};

}  // namespace stand_in
