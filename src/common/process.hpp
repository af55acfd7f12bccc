#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "common/system_error.hpp"

namespace murmela {

// How to start a child process. Standard input is always the null device;
// output and error go to the null device or, when asked, to pipes whose read
// ends are handed back.
struct SpawnOptions {
  bool capture_output = false;
  bool new_process_group = false;
  std::string working_directory;  // empty: inherited
};

struct SpawnedProcess {
  pid_t pid = -1;
  int stdout_fd = -1;  // read ends, when output is captured
  int stderr_fd = -1;
};

// Starts `program` with `arguments` (argv[0] is the program path), inheriting
// the environment and working directory.
[[nodiscard]] std::expected<SpawnedProcess, SystemError> spawn_process(
    const std::string& program, const std::vector<std::string>& arguments, SpawnOptions options);

// Non-blocking check for the child's end: its wait status once it has ended
// (the child is reaped), nothing while it runs, -1 when the check fails.
std::optional<int> poll_exit(pid_t pid, bool& check_failed);

}  // namespace murmela
