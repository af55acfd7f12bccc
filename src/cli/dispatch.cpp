#include "cli/dispatch.hpp"

#include <span>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "cli/agents_command.hpp"
#include "cli/app_commands.hpp"
#include "cli/completion_words.hpp"
#include "cli/dictation.hpp"
#include "cli/mcp.hpp"
#include "cli/meetings/meetings.hpp"
#include "cli/texts.hpp"

namespace murmela {

namespace {

using Words = std::span<const std::string>;

Done print_text(const Context& ctx, std::string_view text) {
  ctx.out.write(text);
  return {};
}

bool is(Words words, std::initializer_list<std::string_view> expected) {
  return std::equal(words.begin(), words.end(), expected.begin(), expected.end());
}

// Commands that are one app command with `{}`, printed as the app answered.
const char* plain_app_command(Words words) {
  if (is(words, {"models"}) || is(words, {"models", "list"})) return "get_model_library";
  if (is(words, {"ai"}) || is(words, {"ai", "settings"})) return "get_ai_settings";
  if (is(words, {"vocabulary"}) || is(words, {"vocabulary", "list"})) return "get_vocabulary";
  if (is(words, {"diagnostics"})) return "get_diagnostics";
  if (is(words, {"snapshot"})) return "get_snapshot";
  if (is(words, {"commands"})) return "commands";
  if (is(words, {"ping"})) return "ping";
  return nullptr;
}

}  // namespace

Done dispatch(const Context& ctx) {
  const Words words = ctx.invocation.words;
  const std::string_view first = words.empty() ? std::string_view() : words[0];
  const Words rest = words.empty() ? words : words.subspan(1);

  if (words.empty() || is(words, {"help"})) return print_text(ctx, help_text());
  if (is(words, {"help", "agents"}) || is(words, {"guide"}) || is(words, {"agents"})) {
    return print_text(ctx, guide_text());
  }
  if (first == "agents") return run_agents(ctx, rest);
  if (is(words, {"version"})) return print_text(ctx, version_line());
  if (is(words, {"mcp"})) return run_mcp();
  if (is(words, {"status"})) return run_status(ctx);
  if (is(words, {"quit"})) return run_quit(ctx);
  if (is(words, {"open"})) return run_open(ctx, "dictation");
  if (first == "open" && words.size() == 2) return run_open(ctx, words[1]);
  if (first == "settings") return run_settings(ctx, rest);
  if (const char* command = plain_app_command(words)) {
    return call_and_print(ctx, command, Json::object());
  }
  if (first == "invoke" && (words.size() == 2 || words.size() == 3)) {
    return run_invoke(ctx, words[1], words.size() == 3 ? &words[2] : nullptr);
  }
  if (first == "meetings" || first == "meeting") return run_meetings(ctx, rest);
  if (first == "dictation") return run_dictation(ctx, rest);
  if (first == "__complete") return run_completion_words(ctx, rest);
  return fail(CliError::usage(fmt::format("Unknown command: {}", fmt::join(words, " "))));
}

}  // namespace murmela
