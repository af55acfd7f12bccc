#pragma once

#include <optional>
#include <string>
#include <vector>

namespace murmela {

enum class IntegrationMode { Status, Install, Remove };

// One line of the `agents` report.
struct TargetReport {
  std::string target;
  std::string state;  // absent, present, added, updated, removed, skipped, failed
  std::optional<std::string> detail;

  friend bool operator==(const TargetReport&, const TargetReport&) = default;
};

using Reports = std::vector<TargetReport>;

}  // namespace murmela
