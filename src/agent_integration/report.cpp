#include "agent_integration/report.hpp"

namespace murmela {

std::string_view to_string(ReportState state) {
  switch (state) {
    case ReportState::Absent:
      return "absent";
    case ReportState::Present:
      return "present";
    case ReportState::Added:
      return "added";
    case ReportState::Updated:
      return "updated";
    case ReportState::Removed:
      return "removed";
    case ReportState::Skipped:
      return "skipped";
    case ReportState::Failed:
      return "failed";
  }
  return "failed";
}

}  // namespace murmela
