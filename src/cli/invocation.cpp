#include "cli/invocation.hpp"

#include <charconv>

#include <fmt/format.h>

namespace murmela {

Result<Invocation> scan(std::span<const std::string> arguments) {
  Invocation invocation;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help") {
      invocation.words.push_back("help");
    } else if (argument == "-V" || argument == "--version") {
      invocation.words.push_back("version");
    } else if (argument == "--yes" || argument == "--confirm") {
      invocation.confirm = true;
    } else if (argument == "--detach") {
      invocation.detach = true;
    } else if (argument == "--cleaned") {
      invocation.cleaned = true;
    } else if (argument == "--no-launch") {
      invocation.no_launch = true;
    } else if (argument.size() >= 3 && argument.starts_with("--")) {
      const std::string_view body = std::string_view(argument).substr(2);
      if (auto equals = body.find('='); equals != std::string_view::npos) {
        invocation.options.insert_or_assign(std::string(body.substr(0, equals)),
                                            std::string(body.substr(equals + 1)));
      } else if (i + 1 < arguments.size()) {
        invocation.options.insert_or_assign(std::string(body), arguments[++i]);
      } else {
        return fail(CliError::usage(fmt::format("{} needs a value.", argument)));
      }
    } else {
      invocation.words.push_back(argument);
    }
  }
  return invocation;
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace murmela
