#pragma once

#include <expected>
#include <string>
#include <utility>

namespace murmela {

// The process exit code of each failure class; success is 0.
enum class ExitClass { Failed = 1, Usage = 2, NotRunning = 3 };

// The program's one failure value: a one-line message and its class.
struct CliError {
  std::string message;
  ExitClass exit_class = ExitClass::Failed;

  static CliError failed(std::string message) { return {std::move(message), ExitClass::Failed}; }
  static CliError usage(std::string message) { return {std::move(message), ExitClass::Usage}; }
  static CliError not_running(std::string message) {
    return {std::move(message), ExitClass::NotRunning};
  }

  friend bool operator==(const CliError&, const CliError&) = default;
};

template <typename T>
using Result = std::expected<T, CliError>;

// Success without a value.
using Done = Result<void>;

inline std::unexpected<CliError> fail(CliError error) { return std::unexpected(std::move(error)); }

}  // namespace murmela
