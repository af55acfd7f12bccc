#pragma once

#include <cstdint>
#include <expected>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meeting.hpp"

namespace stand_in {

// Meetings (and settings, when saved) as a JSON file: what --library loads
// and what --persist keeps in the data folder. A meeting's real audio is a
// WAV file of its own in `audio_folder`, under a name the stand-in made.
struct Library {
  std::vector<Meeting> meetings;  // oldest first
  Json settings;
};

// Reads a library file, checking every member it takes: types, ranges, IDs
// that are unique and plain, and statuses a meeting rests in. In a
// hand-written fixture every member of a meeting may be left out: the ID is
// made, the rest is empty; settings left out are `default_settings`.
std::expected<Library, std::string> read_library(const std::string& path,
                                                 const std::string& audio_folder,
                                                 const Json& default_settings);

// Removes what a killed save left: temporary files beside the library and
// its audio files. Only while no other instance can be saving.
void remove_leftovers(const std::string& path, const std::string& audio_folder);

// The library as it stood at one moment, taken under the app's lock and
// written without it: each meeting's part of the file's text, and the audio
// every meeting that has some keeps. A meeting's text is made once after it
// changes and then shared, as its audio is (audio never changes once made),
// so taking a snapshot copies pointers, not the library.
struct LibrarySnapshot {
  struct KeptAudio {
    std::string file;
    std::shared_ptr<const Audio> audio;
  };
  std::uint64_t sequence = 0;  // the order snapshots were taken in, from 1
  std::vector<std::shared_ptr<const std::string>> meetings;  // oldest first
  std::string settings;
  std::vector<KeptAudio> audio;
};

// Makes the stored text of every meeting that has none since it changed.
LibrarySnapshot snapshot_library(std::list<Meeting>& meetings, const Json& settings);

// The library file's text: the same bytes as the whole library printed as
// two-space indented JSON, with a final line feed.
std::string library_file_text(const LibrarySnapshot& snapshot);

// Writes the audio files that are not there yet, then the library file
// atomically (each synced), then removes the audio of meetings that are gone.
std::expected<void, std::string> write_library(const std::string& path,
                                               const LibrarySnapshot& snapshot,
                                               const std::string& audio_folder);

}  // namespace stand_in
