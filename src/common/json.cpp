#include "common/json.hpp"

#include <charconv>
#include <limits>
#include <vector>

#include "common/double_text.hpp"
#include "common/json_writer.hpp"
#include "common/try.hpp"

namespace murmela {

namespace {

Json number_value(std::string_view source) {
  const char* first = source.data();
  const char* last = first + source.size();
  // Like the library's own parser: whole numbers unsigned unless negative.
  if (source.find_first_of(".eE") == std::string_view::npos) {
    std::uint64_t unsigned_value = 0;
    if (std::from_chars(first, last, unsigned_value).ec == std::errc()) return unsigned_value;
    std::int64_t signed_value = 0;
    if (std::from_chars(first, last, signed_value).ec == std::errc()) return signed_value;
  }
  double value = 0;
  if (double_from_chars(first, last, value).ec == std::errc::result_out_of_range) {
    const bool tiny = source.find_first_of("eE") != std::string_view::npos &&
                      source.substr(source.find_first_of("eE") + 1).starts_with('-');
    if (tiny) return source.starts_with('-') ? -0.0 : 0.0;
    return source.starts_with('-') ? -std::numeric_limits<double>::infinity()
                                   : std::numeric_limits<double>::infinity();
  }
  return value;
}

Json scalar_value(JsonView view) {
  switch (view.kind()) {
    case JsonKind::Boolean:
      return view.boolean();
    case JsonKind::Number:
      return number_value(view.source());
    case JsonKind::String:
      return view.string();
    default:
      return nullptr;
  }
}

}  // namespace

// Depth is bounded by the reader, but the walk keeps its own stack anyway,
// like every other walk over a document.
Json to_json(JsonView root) {
  if (!root.is_array() && !root.is_object()) return scalar_value(root);
  struct Frame {
    JsonView container;
    Json* target;
    std::uint32_t next;
  };
  Json result = root.is_object() ? Json::object() : Json::array();
  std::vector<Frame> frames{{root, &result, root.index() + 1}};
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next >= frame.container.after_index()) {
      frames.pop_back();
      continue;
    }
    Json* slot = nullptr;
    JsonView child = frame.container.at(frame.next);
    if (frame.container.is_object()) {
      const JsonView value = child.at(child.after_index());
      slot = &(*frame.target)[child.string()];
      child = value;
    } else {
      slot = &frame.target->emplace_back();
    }
    frame.next = child.after_index();
    if (child.is_object() || child.is_array()) {
      *slot = child.is_object() ? Json::object() : Json::array();
      frames.push_back({child, slot, child.index() + 1});
    } else {
      *slot = scalar_value(child);
    }
  }
  return result;
}

std::expected<Json, std::string> parse_json(std::string_view text) {
  TRY_ASSIGN(auto document, read_json(std::string(text), LoneSurrogates::Refused));
  return to_json(document.root());
}

JsonDocument to_document(const Json& value) { return *read_json(to_compact(value)); }

std::string to_compact(const Json& value) { return json_text(value, kCompactJson); }

std::string to_pretty(const Json& value) { return json_text(value, kPrettyJson); }

Json member_or_null(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  return found == object.end() ? Json(nullptr) : *found;
}

const std::string* string_member(const Json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return nullptr;
  return found->get_ptr<const std::string*>();
}

}  // namespace murmela
