#include "agent_integration/path_target.hpp"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "agent_integration/agent_environment.hpp"
#include "common/atomic_file.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"

namespace murmela {

namespace {

TargetReport line(ReportState state, std::string detail) {
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

std::optional<std::string> read_link(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

bool make_link(const std::string& cli_path, const std::string& link) {
  return ::symlink(cli_path.c_str(), link.c_str()) == 0;
}

// The block is only ever appended, in one write, so that a kill or a full
// disk can never leave the user's profile empty or cut: a write that does
// not go through whole is taken back. The error is the report's detail.
std::expected<void, std::string> add_path_block(const std::string& home) {
  for (const char* name : {".zprofile", ".zshrc", ".zshenv"}) {
    auto text = read_file(join_path(home, name));
    if (text && text->find(".local/bin") != std::string::npos) return {};
  }
  const std::string profile = join_path(home, ".zprofile");
  auto current = read_file(profile);
  // An existing profile we cannot read is left alone.
  if (!current && current.error() != ENOENT) return {};
  if (auto appended = append_whole(profile, kPathBlock); !appended) {
    return std::unexpected(
        fmt::format("Cannot write {}: {}", profile, system_error_text(appended.error())));
  }
  return {};
}

void remove_path_block(const std::string& home) {
  const std::string profile = join_path(home, ".zprofile");
  auto text = read_file(profile);
  if (!text) return;
  const auto found = text->find(kPathBlock);
  if (found == std::string::npos) return;
  text->erase(found, kPathBlock.size());
  (void)write_atomically(profile, *text);
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

}  // namespace

TargetReport link_cli_on_path(IntegrationMode mode, const AgentEnvironment& environment) {
  const std::string& cli_path = environment.cli_path;
  if (auto folder = folder_on_path(environment)) {
    return line(mode == IntegrationMode::Remove ? ReportState::Skipped : ReportState::Present,
                fmt::format("{} is already on PATH", *folder));
  }
  const auto& home = environment.home;
  if (!home) return line(ReportState::Failed, "HOME is not set.");

  const std::string bin = join_path(*home, ".local/bin");
  const std::string link = join_path(bin, "murmela-cli");
  const auto target = read_link(link);
  ReportState state = ReportState::Failed;

  switch (mode) {
    case IntegrationMode::Status:
      return line(
          target && (same_path(*target, cli_path) || is_the_link_or_its_target(cli_path, link))
              ? ReportState::Present
              : ReportState::Absent,
          link);

    case IntegrationMode::Install:
      if (target && (same_path(*target, cli_path) || is_the_link_or_its_target(cli_path, link))) {
        state = ReportState::Present;
      } else if (target && is_own_cli(*target)) {
        if (::unlink(link.c_str()) != 0 || !make_link(cli_path, link))
          return line(ReportState::Failed, link);
        state = ReportState::Updated;
      } else if (target) {
        return line(ReportState::Skipped, fmt::format("{} points somewhere else", link));
      } else if (exists(link)) {
        return line(ReportState::Skipped, fmt::format("{} already exists", link));
      } else {
        // A folder on PATH that others could write to would let them plant
        // programs there: created private, whatever the umask.
        if (!make_private_folders(bin) || !make_link(cli_path, link))
          return line(ReportState::Failed, link);
        state = ReportState::Added;
      }
      if (auto added = add_path_block(*home); !added)
        return line(ReportState::Failed, added.error());
      return line(state, link);

    case IntegrationMode::Remove:
      if (!target || !is_own_cli(*target)) return line(ReportState::Absent, link);
      // The block goes first: a run killed in between leaves the link, which
      // the next run finds and removes, never a block that nothing removes.
      remove_path_block(*home);
      if (::unlink(link.c_str()) != 0) return line(ReportState::Failed, link);
      return line(ReportState::Removed, link);
  }
  return line(ReportState::Failed, link);
}

}  // namespace murmela
