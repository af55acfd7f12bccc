#include "agent_integration/integration.hpp"

#include <optional>
#include <vector>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/claude_code_target.hpp"
#include "agent_integration/file_targets.hpp"
#include "agent_integration/path_target.hpp"
#include "common/atomic_file.hpp"
#include "common/files.hpp"
#include "common/json.hpp"
#include "common/paths.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// The app's data folder, created private (with any missing parents) when it
// is missing, whatever the umask; an existing folder keeps its mode. False
// when there is none to be had.
bool make_data_folder(const std::string& data_folder) {
  // Without HOME the folder would be relative, somewhere in the user's
  // current folder: better no marker than a stray one.
  if (!data_folder.starts_with('/')) return false;
  return make_private_folders(data_folder).has_value();
}

// The data folder may be writable by others (the app's to decide), so the
// marker and the lock are never reached through what may be planted there:
// the marker replaces whatever is at its path, and the lock is opened only as
// a file of our own.
void write_marker(IntegrationMode mode, const std::string& cli_path, const std::string& data_folder,
                  Disk& disk) {
  if (!is_valid_utf8(cli_path) || !make_data_folder(data_folder)) return;
  (void)replace_private_file(join_path(data_folder, kMarkerName),
                             marker_text(cli_path, mode == IntegrationMode::Remove), disk);
}

// Runs that write hold this lock from their first read to their last write,
// so two of them never interleave their edits of the same files. A run that
// cannot take it goes ahead unlocked: a missing data folder must not stop it.
class IntegrationLock {
 public:
  IntegrationLock(const std::string& data_folder, Disk& disk) : disk_(disk) {
    if (!make_data_folder(data_folder)) return;
    auto file = open_own_file(join_path(data_folder, kLockName));
    if (!file) return;
    file_ = *std::move(file);
    held_ = disk_.lock(file_.get()).has_value();
  }
  IntegrationLock(const IntegrationLock&) = delete;
  IntegrationLock& operator=(const IntegrationLock&) = delete;
  ~IntegrationLock() {
    if (held_) disk_.unlock(file_.get());
  }
  bool held() const { return held_; }

 private:
  Disk& disk_;
  FileDescriptor file_;
  bool held_ = false;
};

// What a killed earlier run may have left beside the files runs write.
void remove_leftovers(const AgentEnvironment& environment, const std::vector<FileTarget>& targets) {
  remove_stale_temporaries(join_path(environment.data_folder, kMarkerName), AtLink::Replace);
  if (const auto& home = environment.home) remove_stale_temporaries(join_path(*home, ".zprofile"));
  for (const auto& target : targets) remove_stale_temporaries(target.file);
}

// A developer's build, not an installed CLI: Cargo's target/debug|release,
// or this project's CMake folders, build/<preset>/murmela-cli.
bool runs_from_build_folder(const std::string& cli_path) {
  const auto parts = path_components(cli_path);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i] == "target" && (parts[i + 1] == "debug" || parts[i + 1] == "release")) return true;
  }
  return parts.size() >= 3 && parts[parts.size() - 3] == "build";
}

}  // namespace

std::string marker_text(const std::string& cli_path, bool removed) {
  return "{\n  \"cli\": " + to_compact(Json(cli_path)) +
         ",\n  \"removed\": " + (removed ? "true" : "false") + "\n}";
}

Reports run_integration(IntegrationMode mode, const AgentEnvironment& environment, Disk& disk) {
  const std::vector<FileTarget> targets = file_targets(environment);
  std::optional<IntegrationLock> lock;
  if (mode != IntegrationMode::Status) {
    lock.emplace(environment.data_folder, disk);
    // Only a run that holds the lock knows no other run is mid-write.
    if (lock->held()) remove_leftovers(environment, targets);
  }
  Reports reports{link_cli_on_path(mode, environment, disk)};
  if (environment.home) {
    auto add = [&](std::optional<TargetReport> report) {
      if (report) reports.push_back(*std::move(report));
    };
    add(update_claude_code(mode, environment));
    for (const FileTarget& target : targets) add(update_file_target(mode, target, disk));
  }
  if (mode != IntegrationMode::Status)
    write_marker(mode, environment.cli_path, environment.data_folder, disk);
  return reports;
}

std::optional<Reports> ensure_integration(const AgentEnvironment& environment, Disk& disk) {
  const std::string& cli_path = environment.cli_path;
  const std::string& data_folder = environment.data_folder;
  if (runs_from_build_folder(cli_path) || !is_regular_file(cli_path)) return std::nullopt;
  auto text = read_own_file(join_path(data_folder, kMarkerName));
  auto marker = text ? parse_json(*text) : std::unexpected(std::string());
  if (marker) {
    const std::string* cli = string_member(*marker, "cli");
    const Json removed = member_or_null(*marker, "removed");
    if (cli && removed.is_boolean()) {
      if (removed.get<bool>() || same_path(*cli, cli_path)) return std::nullopt;
    }
  }
  return run_integration(IntegrationMode::Install, environment, disk);
}

}  // namespace murmela
