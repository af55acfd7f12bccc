#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
  int exit_code = -1;  // -1 when killed by a signal
  std::string out;
  std::string err;
};

struct RunOptions {
  std::map<std::string, std::string> env;  // the whole environment
  std::string input;                       // fed to stdin, then closed
  std::string cwd;                         // empty: inherit
};

// The argument and environment arrays posix_spawn takes, kept alive with
// the strings they point into.
class SpawnVectors {
 public:
  SpawnVectors(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env);
  SpawnVectors(const SpawnVectors&) = delete;
  SpawnVectors& operator=(const SpawnVectors&) = delete;
  char* const* argv() { return argv_.data(); }
  char* const* envp() { return envp_.data(); }

 private:
  std::vector<std::string> words_, env_words_;
  std::vector<char*> argv_, envp_;
};

// Runs `program` with `args` and waits for it, collecting both streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options);

}  // namespace testing_support
