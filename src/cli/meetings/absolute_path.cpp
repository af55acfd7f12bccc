#include "cli/meetings/absolute_path.hpp"

#include "common/paths.hpp"

namespace murmela {

Result<std::string> absolute_path(const std::string& argument) {
  if (argument.starts_with('/')) return argument;
  auto cwd = current_directory();
  if (!cwd) return fail(CliError::failed(cwd.error()));
  return join_path(*cwd, argument);
}

}  // namespace murmela
