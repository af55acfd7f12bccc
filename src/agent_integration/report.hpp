#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmela {

enum class IntegrationMode { Status, Install, Remove };

// What a report line says of a target; every target uses some of them.
enum class ReportState {
  Absent,   // no pointer of ours is there (under remove, nothing was done)
  Present,  // the pointer is there and names this CLI
  Added,    // install created the pointer
  Updated,  // install pointed an older pointer of ours to this CLI
  Removed,  // remove deleted our pointer
  Skipped,  // something not ours, or not safe to edit, is in the way: left alone
  Failed,   // the target could not be read, written or run; the detail says why
};

// The word the report prints: "absent", "present", ...
std::string_view to_string(ReportState state);

// One line of the `agents` report.
struct TargetReport {
  std::string target;
  ReportState state;
  std::optional<std::string> detail;

  friend bool operator==(const TargetReport&, const TargetReport&) = default;
};

using Reports = std::vector<TargetReport>;

}  // namespace murmela
