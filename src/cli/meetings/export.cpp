#include "cli/meetings/export.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "app_link/app_commands.hpp"
#include "cli/meetings/commands.hpp"
#include "cli/meetings/meeting_id.hpp"
#include "common/paths.hpp"

namespace murmela {

std::optional<std::string> path_extension(const std::string& path) {
  auto name = file_name(path);
  if (!name) return std::nullopt;
  const auto dot = name->rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return std::string(name->substr(dot + 1));
}

Result<std::string> export_format_for(const std::string& absolute_path,
                                      const std::optional<std::string>& format_option) {
  std::string name;
  if (format_option) {
    name = *format_option;
  } else {
    name = path_extension(absolute_path).value_or("md");
    std::ranges::transform(name, name.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
  }

  static constexpr std::pair<std::string_view, const char*> kFormats[] = {
      {"md", "markdown"}, {"markdown", "markdown"}, {"txt", "text"},
      {"text", "text"},   {"htm", "html"},          {"html", "html"},
      {"pdf", "pdf"},     {"wav", "wav"},           {"audio", "wav"},
  };
  for (const auto& [accepted, sent] : kFormats) {
    if (name == accepted) return std::string(sent);
  }
  return fail(CliError::usage(
      fmt::format("Unknown export format `{}`. Use md, txt, html, pdf or wav.", name)));
}

}  // namespace murmela

namespace murmela::meetings {

// The app writes the file; success of the request is all the CLI needs, and
// it then names the file itself.
Done export_meeting(const Context& ctx, const std::string& id, const std::string& path) {
  TRY_ASSIGN(auto target, absolute_path(path));
  TRY_ASSIGN(auto format, export_format_for(target, ctx.invocation.option("format")));
  TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));

  constexpr const AppCommand& kExport = app_command("export_meeting");
  TRY(call_app(
      ctx, kExport.name,
      {{kExport.key("id"), full_id},
       {kExport.key("path"), target},
       {kExport.key("format"), format},
       {kExport.key("transcriptVersion"), ctx.invocation.cleaned ? "cleaned" : "recognized"}},
      false));
  print_json(ctx.out, {{"exported", target}, {"format", format}});
  return {};
}

Done export_audio(const Context& ctx, const std::string& id, const std::string& path) {
  TRY_ASSIGN(auto target, absolute_path(path));
  TRY_ASSIGN(auto full_id, resolve_meeting_id(ctx, id));

  constexpr const AppCommand& kExportAudio = app_command("export_meeting_audio");
  TRY(call_app(ctx, kExportAudio.name,
               {{kExportAudio.key("id"), full_id}, {kExportAudio.key("path"), target}}, false));
  print_json(ctx.out, {{"exported", target}});
  return {};
}

}  // namespace murmela::meetings
