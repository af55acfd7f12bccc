#pragma once

#include <chrono>
#include <string>
#include <variant>
#include <vector>

namespace murmela {

// How one run of an outside program went.
struct CommandOutcome {
  bool completed = false;  // false: `error` says why there is no result
  bool success = false;    // exited normally with code 0
  std::string output;      // stdout, a line feed, stderr (streams that are not UTF-8 left out)
  std::string error;
};

struct RunLimits {
  std::chrono::milliseconds poll_interval{100};
  std::chrono::seconds time_limit{45};
  std::string working_directory;  // empty: inherited
};

// Runs `program` with stdin on the null device and both outputs captured,
// killing it when it runs for the time limit or longer.
CommandOutcome run_with_limit(const std::string& program, const std::vector<std::string>& arguments,
                              const RunLimits& limits = {});

}  // namespace murmela
