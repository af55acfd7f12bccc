#include "common/paths.hpp"

#include <cerrno>
#include <climits>

#include <sys/stat.h>
#include <unistd.h>

#include "common/system_error.hpp"
#include "common/try.hpp"

namespace murmela {

std::string join_path(std::string_view left, std::string_view right) {
  std::string joined(left);
  if (!joined.empty() && joined.back() != '/') joined.push_back('/');
  joined.append(right);
  return joined;
}

std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.starts_with('/')) parts.push_back("/");
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(pos, end - pos);
    // A "." after the first component changes nothing; a leading one does.
    if (!part.empty() && !(part == "." && !parts.empty())) parts.push_back(part);
    pos = end + 1;
  }
  return parts;
}

std::optional<std::string> parent_folder(std::string_view path) {
  auto parts = path_components(path);
  if (parts.empty() || (parts.size() == 1 && parts[0] == "/")) return std::nullopt;
  parts.pop_back();
  if (parts.empty()) return std::string();
  std::string parent;
  for (auto part : parts) parent = part == "/" ? std::string("/") : join_path(parent, part);
  return parent;
}

std::optional<std::string_view> file_name(std::string_view path) {
  auto parts = path_components(path);
  if (parts.empty() || parts.back() == "/" || parts.back() == "..") return std::nullopt;
  return parts.back();
}

std::expected<std::string, SystemError> current_directory() {
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return system_failure(errno);
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

bool is_directory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> split_search_path(std::string_view list) {
  std::vector<std::string> folders;
  std::size_t start = 0;
  for (;;) {
    const auto end = list.find(':', start);
    folders.emplace_back(list.substr(start, end - start));
    if (end == std::string_view::npos) return folders;
    start = end + 1;
  }
}

bool same_path(std::string_view a, std::string_view b) {
  return a == b || path_components(a) == path_components(b);
}

std::expected<std::string, SystemError> absolute_path(const std::string& argument) {
  if (argument.starts_with('/')) return argument;
  TRY_ASSIGN(auto cwd, current_directory());
  return join_path(cwd, argument);
}

namespace {
constexpr int kMaxLinkHops = 40;
}  // namespace

std::string final_link_target(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    char buffer[4096];
    const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer) return current;
    const std::string target(buffer, static_cast<std::size_t>(length));
    current =
        target.starts_with('/') ? target : join_path(parent_folder(current).value_or("."), target);
  }
  return current;
}

}  // namespace murmela
