#include "agent_integration/entry_decision.hpp"

#include <utility>

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

TargetReport unchanged_file_report(EntryDecision decision, std::string target,
                                   const std::string& path) {
  switch (decision) {
    case EntryDecision::Absent:
      return {std::move(target), ReportState::Absent, path};
    case EntryDecision::Present:
      return {std::move(target), ReportState::Present, path};
    case EntryDecision::CannotWrite:
      return {std::move(target), ReportState::Failed, "The CLI path is not valid UTF-8."};
    default:  // Foreign: the name belongs to another program
      return {std::move(target), ReportState::Skipped, path};
  }
}

}  // namespace murmela
