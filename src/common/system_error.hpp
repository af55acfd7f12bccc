#pragma once

#include <string>

namespace murmela {

// The system's description of an error number followed by " (os error N)",
// e.g. "No such file or directory (os error 2)".
std::string system_error_text(int error_number);

// Texts of failures that carry no error number.
inline constexpr const char* kInvalidUtf8Text = "stream did not contain valid UTF-8";
inline constexpr const char* kInteriorNulText = "paths must not contain interior null bytes";
inline constexpr const char* kWriteZeroText = "failed to write whole buffer";

}  // namespace murmela
