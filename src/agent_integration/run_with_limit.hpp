#pragma once

#include <chrono>
#include <string>
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
  std::chrono::milliseconds time_limit{45'000};
  std::string working_directory;  // empty: inherited
};

// Runs `program` in a process group of its own, with stdin on the null
// device and both outputs captured. Its answer is what it wrote before it
// exited: a background child that keeps the pipes open is not waited for.
// At the time limit the whole group is killed.
[[nodiscard]] CommandOutcome run_with_limit(const std::string& program,
                                            const std::vector<std::string>& arguments,
                                            const RunLimits& limits = {});

}  // namespace murmela
