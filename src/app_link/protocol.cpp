#include "app_link/protocol.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "common/try.hpp"

namespace murmela {

std::string serialize_request(std::string_view command, const Json& args, bool detach) {
  return fmt::format(R"({{"version":{},"command":{},"args":{},"detach":{}}})"
                     "\n",
                     PROTOCOL_VERSION, to_compact(Json(command)), to_compact(args), detach);
}

namespace {

const char* type_name(JsonView value) {
  switch (value.kind()) {
    case JsonKind::Null:
      return "null";
    case JsonKind::Boolean:
      return "boolean";
    case JsonKind::Number:
      return "number";
    case JsonKind::String:
      return "string";
    case JsonKind::Array:
      return "array";
    case JsonKind::Object:
      return "object";
  }
  return "value";
}

// The envelope must not name a member twice; its values are found by name.
std::expected<std::vector<std::pair<std::string, JsonView>>, std::string> envelope_members(
    JsonView object) {
  std::vector<std::pair<std::string, JsonView>> members;
  const auto children = object.children();
  for (std::size_t i = 0; i + 1 < children.size(); i += 2)
    members.emplace_back(children[i].string(), children[i + 1]);
  auto sorted = members;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const auto repeated =
      std::adjacent_find(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.first == b.first; });
  if (repeated != sorted.end())
    return std::unexpected(fmt::format("duplicate field `{}`", repeated->first));
  return members;
}

struct Envelope {
  std::optional<JsonView> ok, result, error;
};

std::expected<Envelope, std::string> envelope_of(JsonView root) {
  Envelope envelope;
  if (root.is_object()) {
    TRY_ASSIGN(const auto members, envelope_members(root));
    for (const auto& [key, value] : members) {
      if (key == "ok") envelope.ok = value;
      if (key == "result") envelope.result = value;
      if (key == "error") envelope.error = value;
    }
    if (!envelope.ok) return std::unexpected("missing field `ok`");
    return envelope;
  }
  if (root.is_array()) {
    const auto items = root.children();
    if (items.empty()) return std::unexpected("missing field `ok`: the reply array is empty");
    if (items.size() > 3) {
      return std::unexpected(
          fmt::format("invalid length {}, expected at most 3 elements", items.size()));
    }
    envelope.ok = items[0];
    if (items.size() > 1) envelope.result = items[1];
    if (items.size() > 2) envelope.error = items[2];
    return envelope;
  }
  return std::unexpected(fmt::format("invalid type: {}, expected a reply object", type_name(root)));
}

}  // namespace

std::expected<Reply, std::string> parse_reply(std::string line) {
  // Only the envelope is indexed: the result is checked as strictly, and is
  // mostly printed straight from the text.
  TRY_ASSIGN(auto document, read_json(std::move(line), LoneSurrogates::Kept, BlockScan::Best, 1));
  TRY_ASSIGN(const auto envelope, envelope_of(document.root()));

  if (envelope.ok->kind() != JsonKind::Boolean) return std::unexpected("`ok` must be a boolean");
  const bool has_error = envelope.error && !envelope.error->is_null();
  if (has_error && !envelope.error->is_string())
    return std::unexpected("`error` must be a string or null");

  std::string error = has_error ? envelope.error->string() : std::string();
  const bool ok = envelope.ok->boolean();
  JsonDocument result =
      envelope.result ? std::move(document).rooted_at(*envelope.result) : *read_json("null");
  return Reply{
      .ok = ok, .result = std::move(result), .error = std::move(error), .has_error = has_error};
}

}  // namespace murmela
