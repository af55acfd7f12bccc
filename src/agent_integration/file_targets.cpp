#include "agent_integration/file_targets.hpp"

#include <cerrno>

#include <fmt/format.h>

#include "agent_integration/codex_format.hpp"
#include "agent_integration/entry_decision.hpp"
#include "agent_integration/json_format.hpp"
#include "agent_integration/json_targets.hpp"
#include "common/atomic_file.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"

namespace murmela {

namespace {

std::string codex_folder(const AgentEnvironment& environment) {
  if (environment.codex_home) return *environment.codex_home;
  return join_path(environment.home.value_or(""), ".codex");
}

bool is_change(EntryDecision decision) {
  return decision == EntryDecision::Add || decision == EntryDecision::Update ||
         decision == EntryDecision::Remove;
}

}  // namespace

std::string codex_config_path(const AgentEnvironment& environment) {
  return join_path(codex_folder(environment), "config.toml");
}

FileTarget codex_target(const AgentEnvironment& environment) {
  return {"Codex", codex_folder(environment), codex_config_path(environment),
          codex_format(environment.cli_path)};
}

std::vector<FileTarget> file_targets(const AgentEnvironment& environment) {
  if (!environment.home) return {};
  std::vector<FileTarget> targets{codex_target(environment)};
  for (const JsonTarget& json : json_targets(environment)) {
    targets.push_back({json.target, json.folder, json.file,
                       json_format(json.servers_key, json.shape, environment.cli_path)});
  }
  return targets;
}

std::optional<TargetReport> update_file_target(IntegrationMode mode, const FileTarget& target,
                                               Disk& disk) {
  if (!is_directory(target.folder)) return std::nullopt;
  const std::string& path = target.file;
  const ConfigFormat& format = target.format;
  auto line = [&](ReportState state, std::string detail) {
    return TargetReport{target.name, state, std::move(detail)};
  };

  auto read = disk.read(path);
  if (!read && read.error() != ENOENT)
    return line(ReportState::Failed, system_error_text(read.error()));
  const std::string text = read.value_or(format.missing_text);

  auto found = format.find(text);
  if (!found) return line(ReportState::Skipped, fmt::format("{}: {}", path, found.error()));
  const EntryDecision decision = decide_entry(mode, *found, format.can_name_cli);
  if (decision == EntryDecision::CannotWrite)
    return line(ReportState::Failed, "The CLI path is not valid UTF-8.");
  if (!is_change(decision)) return line(reported_state(decision), path);

  const std::string edited = format.edit(text, decision);
  // Nothing is written that the product's parser would not read as exactly
  // the change meant.
  if (!format.check(text, edited, decision)) {
    return line(ReportState::Skipped,
                fmt::format("{}: cannot edit this file safely, left alone", path));
  }
  if (auto written = write_atomically(path, edited, 0666, disk); !written)
    return line(ReportState::Failed, written.error());
  return line(reported_state(decision), path);
}

}  // namespace murmela
