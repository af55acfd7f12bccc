#include "cli_fixture.hpp"

#include <filesystem>

namespace testing_support {

std::string CliTest::copy_cli_to(const std::string& folder, const std::string& name) const {
  std::filesystem::create_directories(folder);
  const std::string target = folder + "/" + name;
  std::filesystem::copy_file(kCliPath, target, std::filesystem::copy_options::overwrite_existing);
  return target;
}

}  // namespace testing_support
