#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace murmela {

// The variable's value, or nothing when it is unset.
inline std::optional<std::string> env_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace murmela
