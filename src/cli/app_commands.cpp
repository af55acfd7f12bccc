#include "cli/app_commands.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "app_link/app_commands.hpp"
#include "common/platform.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

Json status_object(const Json& state) {
  const Json settings = member_or_null(state, "settings");
  const std::string* meeting_model = string_member(settings, "meetingAsrModel");
  auto cli = platform::executable_path();
  return {
      {"version", member_or_null(state, "version")},
      {"state", member_or_null(state, "state")},
      {"meetingRecording", member_or_null(state, "meetingRecording")},
      {"activeMeetingId", member_or_null(state, "activeMeetingId")},
      {"error", member_or_null(state, "error")},
      {"dictationModel", member_or_null(settings, "asrModel")},
      {"meetingModel", meeting_model && !meeting_model->empty()
                           ? Json(*meeting_model)
                           : member_or_null(settings, "asrModel")},
      {"meetingSpeakerLabels", member_or_null(settings, "meetingSpeakerLabels")},
      {"notesModel", member_or_null(settings, "notesModel")},
      {"cli", cli ? Json(lossy_utf8(*cli)) : Json(nullptr)},
  };
}

Result<Json> app_state(const Context& ctx) {
  return call_app(ctx, app_command("get_state").name, Json::object(), false);
}

// Every word is checked before anything is sent, so a bad word leaves the
// app's settings untouched.
Result<Json> merged_settings(Json settings, std::span<const std::string> pairs) {
  for (const std::string& pair : pairs) {
    const auto equals = pair.find('=');
    if (equals == std::string::npos) {
      return fail(CliError::usage(fmt::format("Use key=value, not `{}`.", pair)));
    }
    const std::string name = pair.substr(0, equals);
    auto member = settings.find(name);
    if (member == settings.end()) {
      return fail(CliError::usage(
          fmt::format("Unknown setting `{}`. Run `murmela-cli settings get` to list them.", name)));
    }
    *member = setting_value(pair.substr(equals + 1));
  }
  return settings;
}

// The settings go back whole, and a member whose text holds a lone surrogate
// escape would go back with U+FFFD in its place: another value. Nothing is
// sent unless the command replaces every such member.
Done check_sent_back_unchanged(JsonView settings, std::span<const std::string> pairs) {
  auto kept = [](JsonView text) {
    return read_json(std::string(text.source()), LoneSurrogates::Refused).has_value();
  };
  for (std::uint32_t child = settings.index() + 1; child < settings.after_index();) {
    const JsonView key = settings.at(child);
    const JsonView value = settings.at(key.after_index());
    child = value.after_index();
    if (kept(key) && kept(value)) continue;
    const std::string name = key.string();
    const bool replaced = kept(key) && std::ranges::any_of(pairs, [&](const std::string& pair) {
                            return std::string_view(pair).substr(0, pair.find('=')) == name;
                          });
    if (!replaced) {
      return fail(CliError::failed(fmt::format(
          "The setting `{}` holds a lone surrogate escape and cannot be sent back unchanged.",
          name)));
    }
  }
  return {};
}

}  // namespace

Done print_settings(const Context& ctx, const std::string* key) {
  TRY_ASSIGN(auto state, app_state(ctx));
  Json settings = member_or_null(state, "settings");
  print_json(ctx.out, key ? member_or_null(settings, *key) : settings);
  return {};
}

Done change_settings(const Context& ctx, std::span<const std::string> pairs) {
  TRY_ASSIGN(auto reply, ctx.app.call(app_command("get_state").name, Json::object(), false,
                                      ctx.invocation.no_launch));
  const auto settings_view = reply.root().find("settings");
  Json settings = settings_view ? to_json(*settings_view) : Json(nullptr);
  if (!settings.is_object()) return fail(CliError::failed("Murmela returned no settings."));

  TRY_ASSIGN(auto merged, merged_settings(std::move(settings), pairs));
  TRY(check_sent_back_unchanged(*settings_view, pairs));
  constexpr const AppCommand& kSave = app_command("save_settings");
  TRY_ASSIGN(auto saved, call_app(ctx, kSave.name, {{kSave.key("settings"), merged}}, false));
  print_json(ctx.out, member_or_null(saved, "settings"));
  return {};
}

Json setting_value(const std::string& text) {
  auto parsed = parse_json(text);
  return parsed ? *std::move(parsed) : Json(text);
}

Done run_status(const Context& ctx) {
  TRY_ASSIGN(auto state, app_state(ctx));
  print_json(ctx.out, status_object(state));
  return {};
}

// Quitting must never start the app just to stop it again, so it runs with a
// command line of its own: --no-launch, and nothing else.
Done run_quit(const Context& ctx) {
  Invocation quitting;
  quitting.no_launch = true;
  return call_and_print(Context{quitting, ctx.app, ctx.out}, app_command("quit_app").name,
                        Json::object());
}

Done run_open(const Context& ctx, const std::string& page) {
  constexpr const AppCommand& kShow = app_command("show_page");
  return call_and_print(ctx, kShow.name, {{kShow.key("page"), page}});
}

Done run_invoke(const Context& ctx, const std::string& command, const std::string* json_text) {
  Json args = Json::object();
  if (json_text) {
    auto parsed = parse_json(*json_text);
    if (!parsed) {
      return fail(
          CliError::usage(fmt::format("Arguments must be a JSON object: {}", parsed.error())));
    }
    args = *std::move(parsed);
  }
  return call_and_print(ctx, command, args);
}

}  // namespace murmela
