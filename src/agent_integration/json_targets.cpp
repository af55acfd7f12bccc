#include "agent_integration/json_targets.hpp"

#include <cerrno>
#include <map>

#include <fmt/format.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/entry_decision.hpp"
#include "agent_integration/json_members.hpp"
#include "common/atomic_file.hpp"
#include "common/files.hpp"
#include "common/json.hpp"
#include "common/json_writer.hpp"
#include "common/paths.hpp"
#include "common/platform.hpp"
#include "common/system_error.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

Json desired_entry(EntryShape shape, const std::string& cli_path) {
  if (shape == EntryShape::Opencode) {
    return {{"type", "local"}, {"command", Json::array({cli_path, "mcp"})}, {"enabled", true}};
  }
  return {{"command", cli_path}, {"args", Json::array({"mcp"})}};
}

bool is_own_entry(const Json& value) {
  if (!value.is_object() || !value.contains("command")) return false;
  const Json* command = &value.at("command");
  if (command->is_array() && !command->empty()) command = &command->at(0);
  return command->is_string() && is_own_cli(command->get<std::string>());
}

// A value's text with keys in order and repeats resolved, numbers and strings
// as written: two values are the same JSON exactly when these are equal,
// including values no number or string type can hold.
std::string canonical(JsonView value) {
  return json_text(value, {.pretty = false, .numbers_as_written = true});
}

// The document's top-level members as canonical texts, our entry left out
// of the servers object (and that object left out once empty).
std::map<std::string, std::string> members_without_ours(JsonView root,
                                                        std::string_view servers_key) {
  std::map<std::string, std::string> members;
  for (std::uint32_t child = root.index() + 1; child < root.after_index();) {
    const JsonView key = root.at(child);
    const JsonView value = root.at(key.after_index());
    child = value.after_index();
    if (key.string() != servers_key || !value.is_object()) {
      members[key.string()] = canonical(value);
      continue;
    }
    std::map<std::string, std::string> servers;
    for (std::uint32_t server = value.index() + 1; server < value.after_index();) {
      const JsonView name = value.at(server);
      const JsonView entry = value.at(name.after_index());
      server = entry.after_index();
      if (name.string() != "murmela") servers[name.string()] = canonical(entry);
    }
    std::string text;
    for (const auto& [name, entry] : servers) text += name + '\0' + entry + '\0';
    if (servers.empty()) {
      members.erase(key.string());
    } else {
      members[key.string()] = text;
    }
  }
  return members;
}

// Whether the edited text is the original with exactly our entry changed:
// set to `desired` (compact text), or gone when there is none.
bool is_exact_edit(const std::string& original, const std::string& edited,
                   std::string_view servers_key, const std::optional<std::string>& desired) {
  auto before = read_json(original);
  auto after = read_json(edited);
  if (!before || !after || !after->root().is_object()) return false;
  const auto servers = after->root().find(servers_key);
  const auto ours = servers ? servers->find("murmela") : std::nullopt;
  if (desired ? !ours || canonical(*ours) != *desired : ours.has_value()) return false;
  return members_without_ours(before->root(), servers_key) ==
         members_without_ours(after->root(), servers_key);
}

std::string opencode_file(const std::string& folder) {
  for (const char* name : {"opencode.json", "opencode.jsonc"}) {
    if (is_regular_file(join_path(folder, name))) return join_path(folder, name);
  }
  return join_path(folder, "opencode.json");
}

}  // namespace

std::vector<JsonTarget> json_targets(const AgentEnvironment& environment) {
  if (!environment.home) return {};
  const std::string& home = *environment.home;
  const std::string config = platform::config_folder(home, environment.xdg_config_home);
  auto target = [](const char* name, const std::string& folder, const char* file) {
    return JsonTarget{name, folder, join_path(folder, file), "mcpServers", EntryShape::Standard};
  };
  const std::string opencode = join_path(config, "opencode");
  return {
      target("Gemini CLI", join_path(environment.gemini_cli_home.value_or(home), ".gemini"),
             "settings.json"),
      target("Cursor", join_path(home, ".cursor"), "mcp.json"),
      target("Windsurf", join_path(home, ".codeium/windsurf"), "mcp_config.json"),
      target("Claude Desktop", platform::claude_desktop_folder(home, config),
             "claude_desktop_config.json"),
      {"opencode", opencode, opencode_file(opencode), "mcp", EntryShape::Opencode},
  };
}

std::optional<TargetReport> update_json_target(IntegrationMode mode, const JsonTarget& target,
                                               const std::string& cli_path) {
  if (!is_directory(target.folder)) return std::nullopt;
  auto line = [&](ReportState state, std::string detail) {
    return TargetReport{target.target, state, std::move(detail)};
  };
  const std::string& path = target.file;

  auto read = read_file(path);
  if (!read && read.error() != ENOENT)
    return line(ReportState::Failed, system_error_text(read.error()));
  const std::string text = read ? *read : "{}";

  auto top = parse_members(text);
  if (!top)
    return line(ReportState::Skipped, fmt::format("{}: {}", path, "not plain JSON, left alone"));
  Member* servers_member = top->find(target.servers_key);
  MemberList servers;
  if (servers_member) {
    auto parsed = parse_members(servers_member->raw);
    if (!parsed) {
      return line(
          ReportState::Skipped,
          fmt::format("{}: {}", path, fmt::format("`{}` is not an object", target.servers_key)));
    }
    servers = *std::move(parsed);
  }

  // The entry names the CLI, so it can only be written for a path that is text.
  const bool path_is_text = is_valid_utf8(cli_path);
  const Json desired = desired_entry(target.shape, lossy_utf8(cli_path));
  Member* ours = servers.find("murmela");
  bool own = false, equal = false;
  if (ours) {
    auto value = parse_json(ours->raw);
    own = value && is_own_entry(*value);
    equal = value && path_is_text && *value == desired;
  }

  ReportState state = ReportState::Failed;
  const EntryDecision decision = decide_entry(mode, {ours != nullptr, own, equal}, path_is_text);
  switch (decision) {
    case EntryDecision::Update:
      ours->raw = to_compact(desired);
      state = ReportState::Updated;
      break;
    case EntryDecision::Add:
      servers.members.push_back({"murmela", to_compact(desired)});
      state = ReportState::Added;
      break;
    case EntryDecision::Remove:
      servers.erase("murmela");
      state = ReportState::Removed;
      break;
    default:
      return unchanged_file_report(decision, target.target, path);
  }

  const std::string line_ending = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::optional<std::string> written_entry =
      mode == IntegrationMode::Remove ? std::nullopt
                                      : std::optional<std::string>(to_compact(desired));
  if (servers.members.empty()) {
    top->erase(target.servers_key);
  } else if (servers_member) {
    servers_member->raw = format_members(servers, 2, line_ending);
  } else {
    top->members.push_back({target.servers_key, format_members(servers, 2, line_ending)});
  }
  const std::string new_text = format_members(*top, 0, line_ending) + line_ending;
  // The member editor keeps the user's bytes; the reader says whether the
  // edit is exactly the one meant before anything is written.
  if (!is_exact_edit(text, new_text, target.servers_key, written_entry)) {
    return line(ReportState::Skipped,
                fmt::format("{}: cannot edit this file safely, left alone", path));
  }
  if (auto written = write_atomically(path, new_text); !written)
    return line(ReportState::Failed, written.error());
  return line(state, path);
}

}  // namespace murmela
