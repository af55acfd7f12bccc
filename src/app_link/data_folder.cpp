#include "app_link/data_folder.hpp"

#include "common/paths.hpp"
#include "common/platform.hpp"

namespace murmela {

std::string app_data_folder() { return platform::app_data_folder(); }

std::string socket_path() { return join_path(app_data_folder(), "cli.sock"); }

}  // namespace murmela
