#include "cli/completion_words.hpp"

#include <chrono>

#include "cli/described_words.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr std::string_view kUsage = "Use `__complete ids|keys|meetings|models`.";

// A string's decoded text, or nothing when it holds a lone surrogate escape,
// which no UTF-8 text can carry (the strict reader refuses it).
std::optional<std::string> exact_text(JsonView value) {
  if (!value.is_string()) return std::nullopt;
  auto exact = read_json(std::string(value.source()), LoneSurrogates::Refused);
  if (!exact) return std::nullopt;
  return exact->root().string();
}

void offer(const Context& ctx, const std::optional<std::string>& word) {
  if (!word || !is_offerable_word(*word)) return;
  ctx.out.write(*word);
  ctx.out.write("\n");
}

}  // namespace

bool is_offerable_word(std::string_view word) {
  if (word.empty() || !is_valid_utf8(word)) return false;
  for (const char c : word) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return false;
  }
  return true;
}

Done run_completion_words(const Context& ctx, std::span<const std::string> words) {
  const bool ids = words.size() == 1 && words[0] == "ids";
  const bool keys = words.size() == 1 && words[0] == "keys";
  if (words.size() == 1 && (words[0] == "meetings" || words[0] == "models")) {
    return run_described_words(ctx, words[0]);
  }
  if (!ids && !keys) return fail(CliError::usage(std::string(kUsage)));

  auto reply =
      ctx.app.call_within(ids ? "list_meetings" : "get_state", Json::object(), kCompletionBudget);
  if (!reply) return fail(reply.error());
  const JsonView root = reply->root();
  if (ids && root.is_array()) {
    for (const JsonView meeting : root.children()) {
      if (!meeting.is_object()) continue;
      if (auto id = meeting.find("id")) offer(ctx, exact_text(*id));
    }
  }
  if (keys && root.is_object()) {
    if (auto settings = root.find("settings"); settings && settings->is_object()) {
      const auto members = settings->children();
      for (std::size_t i = 0; i < members.size(); i += 2) offer(ctx, exact_text(members[i]));
    }
  }
  return {};
}

}  // namespace murmela
