#include "meetings.hpp"

#include <algorithm>
#include <vector>

#include "library.hpp"

namespace stand_in {

namespace {

double as_mib(std::size_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

}  // namespace

std::string too_large_record(std::size_t bytes) {
  return fmt::format(
      "The change is too large: the meeting would take {:.1f} MiB, more than the {} MiB a "
      "meeting may take so that the CLI can read it back.",
      as_mib(bytes), kMaxRecordBytes >> 20);
}

std::string too_large_speakers(std::size_t bytes) {
  return fmt::format(
      "The meeting's speakers would take {:.1f} MiB to list, more than the {} MiB a reply may "
      "take so that the CLI can read it back.",
      as_mib(bytes), kMaxRecordBytes >> 20);
}

Meeting& Meetings::add(Meeting meeting) {
  meeting.sequence = next_sequence_++;
  if (meeting.kept_bytes == 0) meeting.kept_bytes = stored_bytes(meeting);
  if (meeting.listed_bytes == 0) meeting.listed_bytes = listed_bytes(meeting);
  meetings_.push_back(std::move(meeting));
  return meetings_.back();
}

void Meetings::remove(const std::string& id) {
  std::erase_if(meetings_, [&](const Meeting& m) { return m.id == id; });
}

std::expected<const Meeting*, std::string> Meetings::find(const Args& args) const {
  auto id = args.string("id");
  if (!id) return std::unexpected(id.error());
  for (const auto& m : meetings_) {
    if (m.id == *id) return &m;
  }
  return std::unexpected(fmt::format("No meeting with ID {}.", *id));
}

std::expected<Meeting*, std::string> Meetings::find_to_change(const Args& args) {
  auto id = args.string("id");
  if (!id) return std::unexpected(id.error());
  for (auto& m : meetings_) {
    if (m.id != *id) continue;
    m.changed();  // the handler may change it
    return &m;
  }
  return std::unexpected(fmt::format("No meeting with ID {}.", *id));
}

std::expected<Meeting*, std::string> Meetings::find_idle(const Args& args) {
  auto meeting = find_to_change(args);
  if (meeting && (*meeting)->busy()) {
    return std::unexpected(fmt::format("The meeting is busy ({}); wait for it or cancel it first.",
                                       (*meeting)->status()));
  }
  return meeting;
}

Meeting* Meetings::with_id(const std::string& id) {
  auto found = std::ranges::find_if(meetings_, [&](const Meeting& m) { return m.id == id; });
  return found == meetings_.end() ? nullptr : &*found;
}

const Meeting* Meetings::recording() const {
  const Meeting* active = nullptr;
  for (const auto& m : meetings_) {
    if (m.status() == "recording") active = &m;
  }
  return active;
}

bool Meetings::advance_jobs(Clock::time_point now) {
  bool landed = false;
  for (auto& meeting : meetings_) {
    if (!meeting.advance(now)) continue;
    landed = true;
    meeting.take_sizes({stored_bytes(meeting), listed_bytes(meeting)});
  }
  return landed;
}

int Meetings::step_jobs() {
  int stepped = 0;
  for (auto& meeting : meetings_) {
    if (!meeting.busy() || meeting.status() == "recording") continue;
    // Background work (recognition) ends when it is done, not when told.
    if (meeting.stages.front().work) continue;
    meeting.stages.front().until = Clock::time_point::min();
    meeting.advance(Clock::now());
    ++stepped;
  }
  return stepped;
}

std::size_t Meetings::library_bytes(std::size_t settings_bytes) const {
  constexpr std::size_t kFrame = 64;  // the braces and names around meetings and settings
  std::size_t bytes = kFrame + settings_bytes;
  for (const auto& m : meetings_) bytes += m.kept_bytes;
  return bytes;
}

std::size_t Meetings::list_bytes() const {
  std::size_t bytes = 2;  // the brackets
  for (const auto& m : meetings_) bytes += m.listed_bytes;
  return bytes;
}

std::expected<EntrySizes, std::string> Meetings::fits(const Meeting& changed,
                                                      const Meeting* replacing,
                                                      std::size_t settings_bytes) const {
  if (changed.title.size() > kMaxTitleBytes) {
    return std::unexpected(
        fmt::format("A meeting's title may take at most {} bytes.", kMaxTitleBytes));
  }
  if (!duration_in_bounds(changed.duration_seconds)) {
    return std::unexpected(
        fmt::format("The meeting would last {} s, more than the {} s a "
                    "meeting may last.",
                    changed.duration_seconds, kMaxDurationSeconds));
  }
  if (const std::size_t record = record_bytes(changed); record > kMaxRecordBytes) {
    return std::unexpected(too_large_record(record));
  }
  const std::size_t stored = stored_bytes(changed);
  const std::size_t now = library_bytes(settings_bytes);
  const std::size_t after = now - (replacing ? replacing->kept_bytes : 0) + stored;
  if (after > max_library_bytes() && after > now) {
    return std::unexpected(fmt::format(
        "The change is too large: the library would take {:.1f} MiB, more than the {} MiB it may "
        "take to be loaded again.",
        as_mib(after), max_library_bytes() >> 20));
  }
  const std::size_t listed = listed_bytes(changed);
  const std::size_t list_now = list_bytes();
  const std::size_t list_after = list_now - (replacing ? replacing->listed_bytes : 0) + listed;
  if (list_after > kMaxListBytes && list_after > list_now) {
    return std::unexpected(fmt::format(
        "The change is too large: the meeting list would take {:.1f} MiB, more than the {} MiB "
        "it may take so that the CLI can read it back.",
        as_mib(list_after), kMaxListBytes >> 20));
  }
  if (const std::size_t speakers = speakers_bytes(changed); speakers > kMaxRecordBytes) {
    return std::unexpected(too_large_speakers(speakers));
  }
  return EntrySizes{stored, listed};
}

Json Meetings::list_json() const {
  std::vector<const Meeting*> order;
  for (const auto& m : meetings_) order.push_back(&m);
  std::ranges::sort(order, [](auto* a, auto* b) { return a->sequence > b->sequence; });
  Json list = Json::array();
  for (const auto* m : order) list.push_back(m->list_json());
  return list;
}

}  // namespace stand_in
