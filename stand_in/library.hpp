#pragma once

#include <cstdint>
#include <expected>
#include <list>
#include <memory>
#include <optional>
#include <set>
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

// What a kept library may hold. The loader refuses a file past these, so a
// change that would make one is refused before it is made: the stand-in
// always starts again on what it wrote.
//
// The most the library file may take (256 MiB: read whole, it is parsed into
// memory several times its size). MURMELA_STAND_IN_LIBRARY_MIB (whole MiB, 1
// to 256) lowers it, for the loader and every change alike, so that a test
// of a full library need not write 256 MiB. Read once.
std::size_t max_library_bytes();
// The longest a meeting may last, in seconds.
inline constexpr double kMaxDurationSeconds = 1e7;
bool duration_in_bounds(double seconds);

// What the app answers stays within what the CLI reads back (replies of up
// to 32 MiB). A change that would make a meeting's record, as the app sends
// it, larger than this is refused; 8 MiB of room are left for the reply
// around it. A library kept before may hold larger ones: they still load.
inline constexpr std::size_t kMaxRecordBytes = 24u << 20;
// The meeting list, which every ID lookup reads, stays as far within the
// CLI's reads: a change that would make it larger is refused (a title of
// control characters takes six times its bytes there, escaped).
inline constexpr std::size_t kMaxListBytes = 24u << 20;
// Titles are in every meeting list, which every ID lookup reads.
inline constexpr std::size_t kMaxTitleBytes = 4096;
// Settings are in every state reply and in the library.
inline constexpr std::size_t kMaxSettingsBytes = 1u << 20;

// The size of a meeting's record as the app sends it (compact JSON).
std::size_t record_bytes(const Meeting& meeting);
// The size of a meeting's entry in the meeting list, and the comma after it.
std::size_t listed_bytes(const Meeting& meeting);
// The size of the answer listing a meeting's speakers.
std::size_t speakers_bytes(const Meeting& meeting);
// The bytes a meeting's entry takes in the library file.
std::size_t stored_bytes(const Meeting& meeting);
// The bytes the settings take in the library file, and in a reply.
std::size_t settings_bytes(const Json& settings);

// Reads a library file, checking every member it takes: types, ranges, IDs
// that are unique and plain, and statuses a meeting rests in. In a
// hand-written fixture every member of a meeting may be left out: the ID is
// made, the rest is empty; settings left out are `default_settings`.
std::expected<Library, std::string> read_library(const std::string& path,
                                                 const std::string& audio_folder,
                                                 const Json& default_settings);

// Whether the kept library at `path` is there to start from: a regular file
// of its own (true), or nothing at all (false). Anything else there, a link
// (dangling, or to a FIFO, a device or a file elsewhere) or a folder, is
// refused with the reason: the stand-in neither reads through it nor
// replaces it with a library of its own.
std::expected<bool, std::string> kept_library_present(const std::string& path);

// Removes what a killed save left: temporary files beside the library and
// its audio files. Only while no other instance can be saving.
void remove_leftovers(const std::string& path, const std::string& audio_folder);

// The audio files that are the stand-in's own: those of the library it
// started from and those it wrote since. They are the only files it ever
// removes from the audio folder, and only once the library that no longer
// names them is written; anything else there (a user's files, where the
// folder is a link to one of theirs, or audio of a library that went
// missing) is left alone.
using OwnAudio = std::set<std::string>;
OwnAudio audio_files_of(const std::vector<Meeting>& meetings);

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
  // Files the library names whose audio could not be read at the start:
  // never written, never removed.
  std::vector<std::string> unread_audio;
};

// Makes the stored text of every meeting that has none since it changed.
LibrarySnapshot snapshot_library(std::list<Meeting>& meetings, const Json& settings);

// The library file's text: the same bytes as the whole library printed as
// two-space indented JSON, with a final line feed.
std::string library_file_text(const LibrarySnapshot& snapshot);

// Writes the audio files that are not there yet, then the library file
// (each a whole new file of its own, synced and renamed into place: a link
// at its path is replaced, never written through), then removes the audio
// of `own` that the library no longer names; `own` follows what was written.
std::expected<void, std::string> write_library(const std::string& path,
                                               const LibrarySnapshot& snapshot,
                                               const std::string& audio_folder, OwnAudio& own);

}  // namespace stand_in
