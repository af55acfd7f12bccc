#include "cli/meetings/text_input.hpp"

#include <fmt/format.h>

#include "common/files.hpp"
#include "common/system_error.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// What was read, as text; `doing` ("Cannot read notes.txt", or nothing for
// standard input) begins the message of a failure.
Result<std::string> as_text(std::expected<std::string, SystemError> bytes, std::string doing) {
  if (!bytes) return fail(SystemError{bytes.error().number, std::move(doing)});
  if (!is_valid_utf8(*bytes)) {
    return fail(CliError::failed(doing.empty() ? std::string(kInvalidUtf8Text)
                                               : fmt::format("{}: {}", doing, kInvalidUtf8Text)));
  }
  return *std::move(bytes);
}

}  // namespace

Result<std::string> read_text_input(const Invocation& invocation) {
  auto text = invocation.option("text");
  auto file = invocation.option("file");
  if (text.has_value() == file.has_value()) {
    return fail(CliError::usage(R"(Pass --text "..." or --file <path> (use - for stdin).)"));
  }
  if (text) return *text;
  if (*file == "-") return as_text(read_stream(0), "");
  return as_text(read_file(*file), fmt::format("Cannot read {}", *file));
}

}  // namespace murmela
