#pragma once

#include <string>

namespace murmela {

// The app's data folder, built from the environment at each call.
std::string app_data_folder();

// The app's socket, `cli.sock` in the data folder.
std::string socket_path();

}  // namespace murmela
