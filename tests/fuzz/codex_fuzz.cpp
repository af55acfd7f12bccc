// libFuzzer target for the Codex config editor, which reads and rewrites a
// file the user owns line by line. Each input is Codex's config.toml; it is
// edited as `agents install`, `agents remove` and an install from another
// path would edit it, and after each: a file that was TOML is still TOML, a
// reported change is the one meant, anything else left the file as it was,
// and nothing crashed or tripped a sanitizer. The file lives in a folder of
// its own (in memory where /dev/shm exists, so that the fsync of each write
// costs nothing), removed at exit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <stdlib.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/codex_check.hpp"
#include "agent_integration/file_targets.hpp"
#include "agent_integration/report.hpp"
#include "common/files.hpp"

using namespace murmela;
namespace fs = std::filesystem;

namespace {

void check(bool promise) {
  if (!promise) std::abort();
}

// A plain array, not a string: the removal at exit runs after static
// objects are gone.
char folder[64];

const char* codex_home() {
  if (folder[0] == '\0') {
    std::snprintf(folder, sizeof folder, "%s/murmela-codex-fuzz-XXXXXX",
                  fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    check(::mkdtemp(folder) != nullptr);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    });
  }
  return folder;
}

// One edit, and what must hold of the file after it.
void edit_and_check(IntegrationMode mode, const std::string& cli_path) {
  AgentEnvironment environment;
  environment.cli_path = cli_path;
  environment.codex_home = codex_home();
  const std::string path = codex_config_path(environment);
  const std::string before = read_file(path).value_or("");
  const CodexConfig was = read_codex_config(before);

  const auto report = update_file_target(mode, codex_target(environment), real_disk());
  check(report.has_value());
  const std::string after = read_file(path).value_or("");
  const CodexConfig is = read_codex_config(after);
  const ReportState state = report->state;
  if (state == ReportState::Added || state == ReportState::Updated) {
    check(was.valid && is.valid && is.has_server && is.command == cli_path);
  } else if (state == ReportState::Removed) {
    check(was.valid && is.valid && !is.has_server);
  } else {
    check(after == before);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = std::string(codex_home()) + "/config.toml";
  check(write_file(path, std::string(reinterpret_cast<const char*>(data), size)).has_value());
  edit_and_check(IntegrationMode::Install, "/opt/murmela/murmela-cli");
  edit_and_check(IntegrationMode::Install, "/usr/local/bin/murmela-cli");
  edit_and_check(IntegrationMode::Remove, "/usr/local/bin/murmela-cli");
  return 0;
}
