#pragma once

#include <expected>
#include <string>
#include <utility>

namespace murmela {

// The system's description of an error number followed by " (os error N)",
// e.g. "No such file or directory (os error 2)".
std::string system_error_text(int error_number);

// A failed system call: its error number and, where the message needs it,
// what was being done ("Cannot read notes.txt"). Its text is
// "{doing}: {system_error_text}", or the system's text alone.
struct SystemError {
  int number = 0;
  std::string doing;

  std::string text() const;

  friend bool operator==(const SystemError&, const SystemError&) = default;
  // Whether it is that error number, whatever was being done.
  friend bool operator==(const SystemError& error, int wanted) { return error.number == wanted; }
};

// The failure of a system call, as the error of an `std::expected`:
// `return system_failure(errno);`.
inline std::unexpected<SystemError> system_failure(int number, std::string doing = {}) {
  return std::unexpected(SystemError{number, std::move(doing)});
}

// The system's text of its number alone, for callers that say what was
// being done themselves.
inline std::string system_error_text(const SystemError& error) {
  return system_error_text(error.number);
}

// Texts of failures that carry no error number.
inline constexpr const char* kInvalidUtf8Text = "stream did not contain valid UTF-8";
inline constexpr const char* kInteriorNulText = "paths must not contain interior null bytes";
inline constexpr const char* kWriteZeroText = "failed to write whole buffer";

}  // namespace murmela
