#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <list>
#include <string>

#include "args.hpp"
#include "meeting.hpp"

namespace stand_in {

// The library's meetings and the jobs running on them: lookups by ID, adding
// and removing, moving jobs on by the clock, and the size bounds a change
// must keep. Not thread-safe: the app calls it under its lock.
class Meetings {
 public:
  // Adds a meeting as the most recent one.
  Meeting& add(Meeting meeting);
  // Removes the meeting with this ID, if there is one.
  void remove(const std::string& id);

  // The meeting named by the `id` argument, to read.
  std::expected<const Meeting*, std::string> find(const Args& args) const;
  // The same, to change: its kept text is dropped, to be made again at the
  // next save.
  std::expected<Meeting*, std::string> find_to_change(const Args& args);
  // The same, refused while a job runs on it.
  std::expected<Meeting*, std::string> find_idle(const Args& args);
  // The meeting with this ID, or null.
  Meeting* with_id(const std::string& id);
  // The meeting being recorded, or null.
  const Meeting* recording() const;

  // Moves every job on to `now`; true when one ended (a result to keep).
  bool advance_jobs(Clock::time_point now);
  // Moves every running job on by one status; how many moved.
  int step_jobs();

  // Whether a meeting as a change would make it (in place of `replacing`,
  // or as a new one) stays within what a record, the meeting list and the
  // kept library (with settings of `settings_bytes`) may hold: its entries'
  // sizes, or why the change is refused.
  std::expected<EntrySizes, std::string> fits(const Meeting& changed, const Meeting* replacing,
                                              std::size_t settings_bytes) const;
  // The kept library's size with settings of `settings_bytes`.
  std::size_t library_bytes(std::size_t settings_bytes) const;
  // The meeting list's size, as `list_meetings` answers it.
  std::size_t list_bytes() const;
  // The meeting list, most recent first.
  Json list_json() const;

  std::size_t size() const { return meetings_.size(); }
  std::list<Meeting>& all() { return meetings_; }

 private:
  std::list<Meeting> meetings_;  // a list: handlers keep pointers across unlocks
  std::uint64_t next_sequence_ = 1;
};

// Why a meeting of `bytes` is refused.
std::string too_large_record(std::size_t bytes);
// Why a meeting whose speakers take `bytes` to list is refused.
std::string too_large_speakers(std::size_t bytes);

}  // namespace stand_in
