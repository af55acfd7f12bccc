#include "common/system_error.hpp"

#include <cstring>

#include <fmt/format.h>

namespace murmela {

std::string system_error_text(int error_number) {
  return fmt::format("{} (os error {})", std::strerror(error_number), error_number);
}

std::string SystemError::text() const {
  if (doing.empty()) return system_error_text(number);
  return fmt::format("{}: {}", doing, system_error_text(number));
}

}  // namespace murmela
