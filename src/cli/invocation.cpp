#include "cli/invocation.hpp"

#include <charconv>

#include <fmt/format.h>

namespace murmela {

namespace {

// The arguments that are flags wherever they stand; each sets one thing.
struct Flag {
  std::string_view argument;
  void (*apply)(Invocation&);
};

constexpr Flag kFlags[] = {
    {"-h", [](Invocation& i) { i.words.push_back("help"); }},
    {"--help", [](Invocation& i) { i.words.push_back("help"); }},
    {"-V", [](Invocation& i) { i.words.push_back("version"); }},
    {"--version", [](Invocation& i) { i.words.push_back("version"); }},
    {"--yes", [](Invocation& i) { i.confirm = true; }},
    {"--confirm", [](Invocation& i) { i.confirm = true; }},
    {"--detach", [](Invocation& i) { i.detach = true; }},
    {"--cleaned", [](Invocation& i) { i.cleaned = true; }},
    {"--no-launch", [](Invocation& i) { i.no_launch = true; }},
};

const Flag* flag_named(std::string_view argument) {
  for (const Flag& flag : kFlags) {
    if (flag.argument == argument) return &flag;
  }
  return nullptr;
}

}  // namespace

Result<Invocation> scan(std::span<const std::string> arguments) {
  Invocation invocation;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (const Flag* flag = flag_named(argument)) {
      flag->apply(invocation);
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

std::vector<std::string_view> flag_arguments() {
  std::vector<std::string_view> flags;
  for (const Flag& flag : kFlags) flags.push_back(flag.argument);
  return flags;
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
