#pragma once

#include "agent_integration/report.hpp"

namespace murmela {

// What a target holds under the name `murmela`, as the target reads it.
struct FoundEntry {
  bool present = false;      // something is registered under the name
  bool ours = false;         // and it runs murmela-cli (this one or another copy)
  bool points_here = false;  // and it runs this very CLI, as we would write it
};

// What to do about our entry. Every target decides alike; only how each one
// reads its entry and writes the change differs.
enum class EntryDecision {
  Absent,       // report "absent": nothing of ours to show or remove
  Present,      // report "present": already as we would write it
  Foreign,      // leave alone: the name belongs to another program
  CannotWrite,  // report "failed": the entry could not hold this CLI's path
  Add,
  Update,
  Remove,
};

// `can_write` says whether this CLI's path can be written into the target.
EntryDecision decide_entry(IntegrationMode mode, const FoundEntry& found, bool can_write);

// The state a decision reports once done: Add gives "added", Foreign
// "skipped", CannotWrite "failed", and so on.
ReportState reported_state(EntryDecision decision);

}  // namespace murmela
