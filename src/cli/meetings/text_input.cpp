#include "cli/meetings/text_input.hpp"

#include <fmt/format.h>

#include "common/files.hpp"
#include "common/system_error.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

std::expected<std::string, std::string> as_text(std::expected<std::string, int> bytes) {
  if (!bytes) return std::unexpected(system_error_text(bytes.error()));
  if (!is_valid_utf8(*bytes)) return std::unexpected(kInvalidUtf8Text);
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

  if (*file == "-") {
    auto input = as_text(read_stream(0));
    if (!input) return fail(CliError::failed(input.error()));
    return *input;
  }
  auto contents = as_text(read_file(*file));
  if (!contents) {
    return fail(CliError::failed(fmt::format("Cannot read {}: {}", *file, contents.error())));
  }
  return *contents;
}

}  // namespace murmela
