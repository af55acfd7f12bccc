#include "app_link/protocol.hpp"

#include <set>

#include <fmt/format.h>

namespace murmela {

std::string serialize_request(std::string_view command, const Json& args, bool detach) {
  return fmt::format(R"({{"version":{},"command":{},"args":{},"detach":{}}})"
                     "\n",
                     PROTOCOL_VERSION, to_compact(Json(command)), to_compact(args), detach);
}

namespace {

// The parser keeps the last of repeated members; the envelope must not have
// any, so they are caught while parsing.
std::expected<Json, std::string> parse_without_repeated_members(std::string_view line) {
  std::set<std::string> seen;
  std::string repeated;
  auto watch = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::key && depth == 1 && repeated.empty()) {
      const auto& key = parsed.get_ref<const std::string&>();
      if (!seen.insert(key).second) repeated = key;
    }
    return true;
  };
  Json value;
  try {
    value = Json::parse(line, watch);
  } catch (const Json::exception& error) {
    return std::unexpected(describe_parse_error(error));
  }
  if (!repeated.empty()) return std::unexpected(fmt::format("duplicate field `{}`", repeated));
  return value;
}

std::expected<Reply, std::string> reply_from(const Json& ok, const Json& result,
                                              const Json& error) {
  if (!ok.is_boolean()) return std::unexpected("`ok` must be a boolean");
  if (!error.is_null() && !error.is_string()) {
    return std::unexpected("`error` must be a string or null");
  }
  Reply reply;
  reply.ok = ok.get<bool>();
  reply.result = result;
  if (error.is_string()) {
    reply.error = error.get<std::string>();
    reply.has_error = true;
  }
  return reply;
}

}  // namespace

std::expected<Reply, std::string> parse_reply(std::string_view line) {
  auto value = parse_without_repeated_members(line);
  if (!value) return std::unexpected(value.error());

  if (value->is_object()) {
    auto ok = value->find("ok");
    if (ok == value->end()) return std::unexpected("missing field `ok`");
    return reply_from(*ok, member_or_null(*value, "result"), member_or_null(*value, "error"));
  }
  if (value->is_array()) {
    const auto& items = *value;
    if (items.empty()) return std::unexpected("missing field `ok`: the reply array is empty");
    if (items.size() > 3) {
      return std::unexpected(
          fmt::format("invalid length {}, expected at most 3 elements", items.size()));
    }
    const Json null;
    return reply_from(items[0], items.size() > 1 ? items[1] : null,
                      items.size() > 2 ? items[2] : null);
  }
  return std::unexpected(fmt::format("invalid type: {}, expected a reply object", value->type_name()));
}

}  // namespace murmela
