#include "cli/described_words.hpp"

#include <ctime>

#include <fmt/format.h>

#include "app_link/app_commands.hpp"
#include "cli/completion_words.hpp"
#include "common/shown_text.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

// More than a menu can show; enough to stop an app that sends millions.
constexpr std::size_t kMostLines = 1000;
// A meeting ID is 32 hex digits; a model's a short name.
constexpr std::size_t kLongestWord = 200;
// Code points of a title or a name: a menu line, not a paragraph.
constexpr std::size_t kLongestText = 60;

// A string's exact text when it can be offered as a word, or nothing.
std::optional<std::string> exact_word(std::optional<JsonView> value) {
  auto word = value ? exact_text(*value) : std::nullopt;
  if (!word || word->size() > kLongestWord || !is_offerable_word(*word)) return std::nullopt;
  return word;
}

// Text to show, never to obey: control characters become spaces, and a
// long text ends in "…".
std::string shown_text(std::optional<JsonView> value) {
  if (!value || !value->is_string()) return {};
  std::string shown = with_controls_as_spaces(value->string());
  if (code_point_count(shown) > kLongestText) {
    shown = std::string(first_code_points(shown, kLongestText - 1)) + "\u2026";
  }
  return shown;
}

// When a meeting started, in local time to the minute, from the app's
// "2026-12-07T09:00:00Z"; any other text as it came, shortened.
std::string started(std::optional<JsonView> value) {
  std::string text = shown_text(value);
  std::tm time{};
  char zone = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &time.tm_year, &time.tm_mon,
                  &time.tm_mday, &time.tm_hour, &time.tm_min, &time.tm_sec, &zone) == 7 &&
      zone == 'Z') {
    time.tm_year -= 1900;
    time.tm_mon -= 1;
    const std::time_t moment = ::timegm(&time);
    std::tm local{};
    char buffer[32];
    if (moment != -1 && ::localtime_r(&moment, &local) != nullptr &&
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &local) > 0) {
      return buffer;
    }
  }
  return text;
}

void print_line(const Context& ctx, const std::string& word, const std::string& description) {
  ctx.out.write(description.empty() ? fmt::format("{}\n", word)
                                    : fmt::format("{}\t{}\n", word, description));
}

void print_meetings(const Context& ctx, JsonView root) {
  if (!root.is_array()) return;
  std::size_t lines = 0;
  for (const JsonView meeting : root.children()) {
    if (!meeting.is_object()) continue;
    const auto id = exact_word(meeting.find("id"));
    if (!id) continue;
    const std::string title = shown_text(meeting.find("title"));
    const std::string start = started(meeting.find("createdAt"));
    const std::string_view between = !title.empty() && !start.empty() ? " \u00b7 " : "";
    print_line(ctx, *id, fmt::format("{}{}{}", title, between, start));
    if (++lines == kMostLines) return;
  }
}

// The speech models: those the app marks as another kind (notes) transcribe
// nothing.
void print_models(const Context& ctx, JsonView root) {
  if (root.is_object()) {
    const auto models = root.find("models");
    if (!models) return;
    root = *models;
  }
  if (!root.is_array()) return;
  std::size_t lines = 0;
  for (const JsonView model : root.children()) {
    if (!model.is_object()) continue;
    if (const auto kind = model.find("kind");
        kind && kind->is_string() && kind->string() != "speech") {
      continue;
    }
    const auto id = exact_word(model.find("id"));
    if (!id) continue;
    std::string name = shown_text(model.find("name"));
    if (const auto installed = model.find("installed");
        installed && installed->kind() == JsonKind::Boolean && !installed->boolean()) {
      name += name.empty() ? "not installed" : ", not installed";
    }
    print_line(ctx, *id, name);
    if (++lines == kMostLines) return;
  }
}

}  // namespace

Done run_described_words(const Context& ctx, std::string_view what) {
  const bool meetings = what == "meetings";
  const std::string_view asked =
      meetings ? app_command("list_meetings").name : app_command("get_model_library").name;
  TRY_ASSIGN(auto reply, ctx.app.call_within(asked, Json::object(), kCompletionBudget));
  if (meetings) {
    print_meetings(ctx, reply.root());
  } else {
    print_models(ctx, reply.root());
  }
  return {};
}

}  // namespace murmela
