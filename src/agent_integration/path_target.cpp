#include "agent_integration/path_target.hpp"

#include <cerrno>
#include <filesystem>

#include <unistd.h>

#include <fmt/format.h>

#include "agent_integration/shared.hpp"
#include "common/environment.hpp"
#include "common/files.hpp"
#include "common/paths.hpp"

namespace murmela {

namespace {

TargetReport line(std::string state, std::string detail) {
  return {"PATH", std::move(state), std::move(detail)};
}

std::optional<std::string> folder_on_path(const std::string& cli_path) {
  auto folder = parent_folder(cli_path);
  auto path = env_value("PATH");
  if (!folder || !path) return std::nullopt;
  std::size_t start = 0;
  for (;;) {
    const auto end = path->find(':', start);
    if (same_path(path->substr(start, end - start), *folder)) return folder;
    if (end == std::string::npos) return std::nullopt;
    start = end + 1;
  }
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

// Errors here are ignored: the link is what matters; the profile is a help.
void add_path_block(const std::string& home) {
  for (const char* name : {".zprofile", ".zshrc", ".zshenv"}) {
    auto text = read_file(join_path(home, name));
    if (text && text->find(".local/bin") != std::string::npos) return;
  }
  const std::string profile = join_path(home, ".zprofile");
  auto current = read_file(profile);
  // An existing profile we cannot read must not be replaced by the block alone.
  if (!current && current.error() != ENOENT) return;
  write_file(profile, current.value_or("") + std::string(kPathBlock));
}

void remove_path_block(const std::string& home) {
  const std::string profile = join_path(home, ".zprofile");
  auto text = read_file(profile);
  if (!text) return;
  const auto found = text->find(kPathBlock);
  if (found == std::string::npos) return;
  text->erase(found, kPathBlock.size());
  write_file(profile, *text);
}

}  // namespace

TargetReport link_cli_on_path(IntegrationMode mode, const std::string& cli_path) {
  if (auto folder = folder_on_path(cli_path)) {
    return line(mode == IntegrationMode::Remove ? "skipped" : "present",
                fmt::format("{} is already on PATH", *folder));
  }
  auto home = home_folder();
  if (!home) return line("failed", "HOME is not set.");

  const std::string bin = join_path(*home, ".local/bin");
  const std::string link = join_path(bin, "murmela-cli");
  const auto target = read_link(link);
  std::string state;

  switch (mode) {
    case IntegrationMode::Status:
      return line(target && same_path(*target, cli_path) ? "present" : "absent", link);

    case IntegrationMode::Install:
      if (target && same_path(*target, cli_path)) {
        state = "present";
      } else if (target && is_own_cli(*target)) {
        if (::unlink(link.c_str()) != 0 || !make_link(cli_path, link)) return line("failed", link);
        state = "updated";
      } else if (target) {
        return line("skipped", fmt::format("{} points somewhere else", link));
      } else if (exists(link)) {
        return line("skipped", fmt::format("{} already exists", link));
      } else {
        std::error_code error;
        std::filesystem::create_directories(bin, error);
        if (error || !make_link(cli_path, link)) return line("failed", link);
        state = "added";
      }
      add_path_block(*home);
      return line(state, link);

    case IntegrationMode::Remove:
      if (!target || !is_own_cli(*target)) return line("absent", link);
      if (::unlink(link.c_str()) != 0) return line("failed", link);
      remove_path_block(*home);
      return line("removed", link);
  }
  return line("failed", link);
}

}  // namespace murmela
