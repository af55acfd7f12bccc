#include "agent_integration/shared.hpp"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/environment.hpp"
#include "common/paths.hpp"
#include "common/system_error.hpp"
#include "common/utf8.hpp"

namespace murmela {

std::optional<std::string> home_folder() {
  auto home = env_value("HOME");
  if (!home || home->empty() || !is_directory(*home)) return std::nullopt;
  return home;
}

bool same_path(std::string_view a, std::string_view b) {
  return a == b || path_components(a) == path_components(b);
}

bool is_own_cli(std::string_view path) {
  auto name = file_name(path);
  if (!name || !is_valid_utf8(*name)) return false;
  auto equals_folded = [](std::string_view text, std::string_view lower) {
    return text.size() == lower.size() && std::equal(text.begin(), text.end(), lower.begin(), [](char c, char l) {
             return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == l;
           });
  };
  return equals_folded(*name, "murmela-cli") || equals_folded(*name, "murmela-cli.exe");
}

std::string temporary_path_for(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  if (dot != std::string::npos && dot > name_start) return path.substr(0, dot) + ".murmela-tmp";
  return path + ".murmela-tmp";
}

namespace {

std::expected<void, int> write_synced(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(errno);
  auto fail_with = [fd](int error) {
    ::close(fd);
    return std::unexpected(error);
  };
  if (mode != 0 && ::fchmod(fd, mode) != 0) return fail_with(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return fail_with(errno);
    done += static_cast<std::size_t>(wrote);
  }
  if (::fsync(fd) != 0) return fail_with(errno);
  if (::close(fd) != 0) return std::unexpected(errno);
  return {};
}

}  // namespace

std::expected<void, std::string> write_atomically(const std::string& path, const std::string& text) {
  // A config kept private (it may hold API keys) must stay private.
  struct stat existing;
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0;

  const std::string temporary = temporary_path_for(path);
  auto written = write_synced(temporary, text, mode);
  if (written && ::rename(temporary.c_str(), path.c_str()) != 0) written = std::unexpected(errno);
  if (!written) {
    ::unlink(temporary.c_str());
    return std::unexpected(fmt::format("Cannot write {}: {}", path, system_error_text(written.error())));
  }
  if (auto folder = parent_folder(path)) {
    const int dir = ::open(folder->empty() ? "." : folder->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }
  return {};
}

}  // namespace murmela
