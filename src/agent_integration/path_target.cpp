#include "agent_integration/path_target.hpp"

#include <cerrno>

#include <sys/stat.h>

#include <fmt/format.h>

#include "agent_integration/agent_environment.hpp"
#include "agent_integration/entry_decision.hpp"
#include "common/atomic_file.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"

namespace murmela {

namespace {

TargetReport path_line(ReportState state, std::string detail) {
  return {"PATH", state, std::move(detail)};
}

std::optional<std::string> folder_on_path(const AgentEnvironment& environment) {
  auto folder = parent_folder(environment.cli_path);
  if (!folder || !environment.search_path) return std::nullopt;
  for (const auto& entry : split_search_path(*environment.search_path)) {
    if (same_path(entry, *folder)) return folder;
  }
  return std::nullopt;
}

// The CLI was started through the link itself (~/.local/bin not on PATH),
// or through another path to the file the link leads to.
bool is_the_link_or_its_target(const std::string& cli_path, const std::string& link) {
  if (same_path(cli_path, link)) return true;
  struct stat cli {
  }, linked{};
  return ::stat(cli_path.c_str(), &cli) == 0 && ::stat(link.c_str(), &linked) == 0 &&
         cli.st_dev == linked.st_dev && cli.st_ino == linked.st_ino;
}

// What sits at the link path: a link of ours is one to any copy of the CLI.
FoundEntry found_link(const std::expected<std::string, SystemError>& target, const std::string& cli_path,
                      const std::string& link) {
  if (!target) return {.present = exists(link)};
  return {.present = true,
          .ours = is_own_cli(*target),
          .points_here = same_path(*target, cli_path) || is_the_link_or_its_target(cli_path, link)};
}

// Something not ours at the link path is never touched; only install,
// which would have put the link there, says what is in the way.
TargetReport not_ours(IntegrationMode mode, bool is_link, const std::string& link) {
  if (mode != IntegrationMode::Install) return path_line(ReportState::Absent, link);
  return path_line(ReportState::Skipped, is_link ? fmt::format("{} points somewhere else", link)
                                                 : fmt::format("{} already exists", link));
}

// The block is only ever appended, in one write, so that a kill or a full
// disk can never leave the user's profile empty or cut: a write that does
// not go through whole is taken back. The error is the report's detail.
std::expected<void, std::string> add_path_block(const std::string& home, Disk& disk) {
  for (const char* name : {".zprofile", ".zshrc", ".zshenv"}) {
    auto text = disk.read(join_path(home, name));
    if (text && text->find(".local/bin") != std::string::npos) return {};
  }
  const std::string profile = join_path(home, ".zprofile");
  auto current = disk.read(profile);
  // An existing profile we cannot read is left alone.
  if (!current && current.error() != ENOENT) return {};
  if (auto appended = disk.append(profile, kPathBlock); !appended) {
    return std::unexpected(
        fmt::format("Cannot write {}: {}", profile, system_error_text(appended.error())));
  }
  return {};
}

void remove_path_block(const std::string& home, Disk& disk) {
  const std::string profile = join_path(home, ".zprofile");
  auto text = disk.read(profile);
  if (!text) return;
  const auto found = text->find(kPathBlock);
  if (found == std::string::npos) return;
  text->erase(found, kPathBlock.size());
  (void)write_atomically(profile, *text, 0666, disk);
}

// The link's report once it is as it should be: under install, the PATH
// block is added too, and a block that could not be is the report.
TargetReport with_path_block(ReportState state, const std::string& home, const std::string& link,
                             Disk& disk) {
  if (auto added = add_path_block(home, disk); !added)
    return path_line(ReportState::Failed, added.error());
  return path_line(state, link);
}

}  // namespace

TargetReport link_cli_on_path(IntegrationMode mode, const AgentEnvironment& environment,
                              Disk& disk) {
  const std::string& cli_path = environment.cli_path;
  if (auto folder = folder_on_path(environment)) {
    return path_line(mode == IntegrationMode::Remove ? ReportState::Skipped : ReportState::Present,
                     fmt::format("{} is already on PATH", *folder));
  }
  const auto& home = environment.home;
  if (!home) return path_line(ReportState::Failed, "HOME is not set.");

  const std::string bin = join_path(*home, ".local/bin");
  const std::string link = join_path(bin, "murmela-cli");
  const auto target = disk.read_link(link);

  // A link can name any path, so it can always be written.
  switch (decide_entry(mode, found_link(target, cli_path, link), true)) {
    case EntryDecision::Absent:
      return path_line(ReportState::Absent, link);
    case EntryDecision::Foreign:
      return not_ours(mode, target.has_value(), link);
    case EntryDecision::Present:
      if (mode == IntegrationMode::Status) return path_line(ReportState::Present, link);
      return with_path_block(ReportState::Present, *home, link, disk);
    case EntryDecision::Add:
      // A folder on PATH that others could write to would let them plant
      // programs there: created private, whatever the umask.
      if (!disk.make_folders(bin) || !disk.make_link(cli_path, link))
        return path_line(ReportState::Failed, link);
      return with_path_block(ReportState::Added, *home, link, disk);
    case EntryDecision::Update:
      if (!disk.unlink(link) || !disk.make_link(cli_path, link))
        return path_line(ReportState::Failed, link);
      return with_path_block(ReportState::Updated, *home, link, disk);
    case EntryDecision::Remove:
      // The block goes first: a run killed in between leaves the link, which
      // the next run finds and removes, never a block that nothing removes.
      remove_path_block(*home, disk);
      if (!disk.unlink(link)) return path_line(ReportState::Failed, link);
      return path_line(ReportState::Removed, link);
    case EntryDecision::CannotWrite:
      break;
  }
  return path_line(ReportState::Failed, link);
}

}  // namespace murmela
