#include "agent_integration/integration.hpp"

#include <filesystem>

#include "agent_integration/claude_code_target.hpp"
#include "agent_integration/codex_target.hpp"
#include "agent_integration/json_targets.hpp"
#include "agent_integration/path_target.hpp"
#include "agent_integration/shared.hpp"
#include "common/files.hpp"
#include "common/json.hpp"
#include "common/paths.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

void write_marker(IntegrationMode mode, const std::string& cli_path, const std::string& data_folder) {
  if (!is_valid_utf8(cli_path)) return;
  std::error_code ignored;
  std::filesystem::create_directories(data_folder, ignored);
  write_file(join_path(data_folder, kMarkerName), marker_text(cli_path, mode == IntegrationMode::Remove));
}

bool runs_from_build_folder(const std::string& cli_path) {
  const auto parts = path_components(cli_path);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i] == "target" && (parts[i + 1] == "debug" || parts[i + 1] == "release")) return true;
  }
  return false;
}

}  // namespace

std::string marker_text(const std::string& cli_path, bool removed) {
  return "{\n  \"cli\": " + to_compact(Json(cli_path)) + ",\n  \"removed\": " + (removed ? "true" : "false") + "\n}";
}

Reports run_integration(IntegrationMode mode, const std::string& cli_path, const std::string& data_folder) {
  Reports reports{link_cli_on_path(mode, cli_path)};
  if (auto home = home_folder()) {
    auto add = [&](std::optional<TargetReport> report) {
      if (report) reports.push_back(*std::move(report));
    };
    add(update_claude_code(mode, cli_path));
    add(update_codex(mode, cli_path));
    for (const auto& target : json_targets(*home)) add(update_json_target(mode, target, cli_path));
  }
  if (mode != IntegrationMode::Status) write_marker(mode, cli_path, data_folder);
  return reports;
}

std::optional<Reports> ensure_integration(const std::string& cli_path, const std::string& data_folder) {
  if (runs_from_build_folder(cli_path) || !is_regular_file(cli_path)) return std::nullopt;
  auto text = read_file(join_path(data_folder, kMarkerName));
  auto marker = text ? parse_json(*text) : std::unexpected(std::string());
  if (marker) {
    const std::string* cli = string_member(*marker, "cli");
    const Json removed = member_or_null(*marker, "removed");
    if (cli && removed.is_boolean()) {
      if (removed.get<bool>() || same_path(*cli, cli_path)) return std::nullopt;
    }
  }
  return run_integration(IntegrationMode::Install, cli_path, data_folder);
}

}  // namespace murmela
