#include "agent_integration/entry_decision.hpp"

namespace murmela {

EntryDecision decide_entry(IntegrationMode mode, const FoundEntry& found, bool can_write) {
  switch (mode) {
    case IntegrationMode::Status:
      if (!found.present) return EntryDecision::Absent;
      return found.points_here ? EntryDecision::Present : EntryDecision::Foreign;
    case IntegrationMode::Install:
      if (found.present && found.points_here) return EntryDecision::Present;
      if (found.present && !found.ours) return EntryDecision::Foreign;
      if (!can_write) return EntryDecision::CannotWrite;
      return found.present ? EntryDecision::Update : EntryDecision::Add;
    case IntegrationMode::Remove:
      if (!found.present) return EntryDecision::Absent;
      return found.ours ? EntryDecision::Remove : EntryDecision::Foreign;
  }
  return EntryDecision::Foreign;
}

ReportState reported_state(EntryDecision decision) {
  switch (decision) {
    case EntryDecision::Absent:
      return ReportState::Absent;
    case EntryDecision::Present:
      return ReportState::Present;
    case EntryDecision::Foreign:
      return ReportState::Skipped;
    case EntryDecision::CannotWrite:
      return ReportState::Failed;
    case EntryDecision::Add:
      return ReportState::Added;
    case EntryDecision::Update:
      return ReportState::Updated;
    case EntryDecision::Remove:
      return ReportState::Removed;
  }
  return ReportState::Failed;
}

}  // namespace murmela
