#pragma once

#include <expected>
#include <string>
#include <utility>

#include "common/system_error.hpp"
#include "common/try.hpp"

namespace murmela {

// The process exit code of each failure class; success is 0.
enum class ExitClass { Failed = 1, Usage = 2, NotRunning = 3 };

// The program's one failure value: a one-line message and its class.
struct CliError {
  std::string message;
  ExitClass exit_class = ExitClass::Failed;

  CliError(std::string text, ExitClass failure_class)
      : message(std::move(text)), exit_class(failure_class) {}
  // A failed system call is a failure of its own text: so `TRY` passes a
  // `SystemError` up from a function returning a `Result`.
  CliError(const SystemError& error) : message(error.text()) {}

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
