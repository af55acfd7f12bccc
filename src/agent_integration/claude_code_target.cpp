#include "agent_integration/claude_code_target.hpp"

#include <vector>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/entry_decision.hpp"
#include "agent_integration/run_with_limit.hpp"
#include "common/environment.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr std::size_t kMaxDetailCharacters = 300;

// Every `claude` command runs in the home folder, so a folder of PATH that
// is relative (an empty entry is the current folder) is made absolute first.
std::string absolute_folder(const std::string& folder, const std::string& current) {
  if (folder.starts_with('/') || current.empty()) return folder;
  return folder.empty() || folder == "." ? current : join_path(current, folder);
}

std::vector<std::string> candidate_folders(const AgentEnvironment& environment) {
  std::vector<std::string> folders;
  if (const auto& path = environment.search_path) {
    for (const auto& folder : split_search_path(*path)) {
      folders.push_back(absolute_folder(folder, environment.current_folder));
    }
  }
  if (const auto& home = environment.home) {
    for (const char* folder : {".local/bin", ".claude/local", "AppData/Roaming/npm"}) {
      folders.push_back(join_path(*home, folder));
    }
  }
  folders.push_back("/opt/homebrew/bin");
  folders.push_back("/usr/local/bin");
  return folders;
}

// Whether `text` names `path` as a whole word: a longer path that merely
// starts with it (`/opt/bin/murmela-cli-old`) is another program.
bool names_path(std::string_view text, std::string_view path) {
  const auto is_boundary = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"' || c == '\'';
  };
  for (auto at = text.find(path); at != std::string_view::npos; at = text.find(path, at + 1)) {
    const bool starts = at == 0 || is_boundary(text[at - 1]);
    const bool ends = at + path.size() == text.size() || is_boundary(text[at + path.size()]);
    if (starts && ends) return true;
  }
  return false;
}

TargetReport claude_line(ReportState state, std::optional<std::string> detail = std::nullopt) {
  return {"Claude Code", state, std::move(detail)};
}

TargetReport from_change(const CommandOutcome& outcome, ReportState success_state) {
  if (!outcome.completed) return claude_line(ReportState::Failed, outcome.error);
  if (outcome.success) return claude_line(success_state);
  return claude_line(ReportState::Failed,
                     std::string(first_code_points(trim(outcome.output), kMaxDetailCharacters)));
}

}  // namespace

std::optional<std::string> find_claude_command(const AgentEnvironment& environment) {
  for (const auto& folder : candidate_folders(environment)) {
    const std::string candidate = join_path(folder, "claude");
    if (is_regular_file(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<TargetReport> update_claude_code(IntegrationMode mode,
                                               const AgentEnvironment& environment) {
  const std::string& cli_path = environment.cli_path;
  const auto& home = environment.home;
  const auto claude = find_claude_command(environment);
  if (!claude) {
    if (home && is_regular_file(join_path(*home, ".claude.json"))) {
      return claude_line(ReportState::Skipped, "The claude command was not found.");
    }
    return std::nullopt;
  }

  // `claude mcp get` also shows a project's local entry for the folder it runs
  // in; from the home folder it answers for the user scope we edit.
  const RunLimits limits{.working_directory = home.value_or("")};
  auto run = [&](std::vector<std::string> arguments) {
    return run_with_limit(*claude, arguments, limits);
  };
  const std::vector<std::string> remove_args{"mcp", "remove", "--scope", "user", "murmela"};
  const std::vector<std::string> add_args{"mcp",     "add", "--scope", "user",
                                          "murmela", "--",  cli_path,  "mcp"};

  const CommandOutcome query = run({"mcp", "get", "murmela"});
  if (!query.completed) return claude_line(ReportState::Failed, query.error);
  const bool registered = query.success;
  const bool points_here = names_path(query.output, lossy_utf8(cli_path));
  const bool mentions_cli = query.output.find("murmela-cli") != std::string::npos;

  // `claude` takes the path as an argument of its own, so any path can be written.
  switch (decide_entry(mode, {registered, mentions_cli, points_here}, true)) {
    case EntryDecision::Absent:
      return claude_line(ReportState::Absent);
    case EntryDecision::Present:
      return claude_line(ReportState::Present);
    case EntryDecision::Foreign:
      // Another program's server is nothing of ours to remove.
      if (mode == IntegrationMode::Remove) return claude_line(ReportState::Absent);
      if (mode == IntegrationMode::Status) return claude_line(ReportState::Skipped);
      return claude_line(ReportState::Skipped, "Another server is already named murmela.");
    case EntryDecision::CannotWrite:
      break;
    case EntryDecision::Add:
      return from_change(run(add_args), ReportState::Added);
    case EntryDecision::Update:
      run(remove_args);
      return from_change(run(add_args), ReportState::Updated);
    case EntryDecision::Remove:
      return from_change(run(remove_args), ReportState::Removed);
  }
  return std::nullopt;
}

}  // namespace murmela
