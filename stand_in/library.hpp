#pragma once

#include <expected>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "meeting.hpp"

namespace stand_in {

// Meetings (and settings, when saved) as a JSON file: what --library loads
// and what --persist keeps in the data folder. A meeting's real audio is a
// WAV file of its own in `audio_folder`, named by its ID.
struct Library {
  std::vector<Meeting> meetings;  // oldest first
  std::optional<Json> settings;
};

// Reads a library file. In a hand-written fixture every member of a meeting
// but `title` may be left out: the ID is made, the rest is empty.
std::expected<Library, std::string> read_library(const std::string& path,
                                                 const std::string& audio_folder);

// Writes the library atomically, and the audio of meetings whose audio file
// is not there yet.
std::expected<void, std::string> write_library(const std::string& path,
                                               const std::list<Meeting>& meetings,
                                               const Json& settings,
                                               const std::string& audio_folder);

}  // namespace stand_in
