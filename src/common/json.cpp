#include "common/json.hpp"

namespace murmela {

namespace {

constexpr std::size_t kMaxQuotedTokenBytes = 40;

}  // namespace

// nlohmann prefixes its messages with "[json.exception.parse_error.101] " and
// quotes the whole token it stopped in, which for a cut-off reply can be
// megabytes long; users need the description and the start of the token.
std::string describe_parse_error(const Json::exception& error) {
  std::string_view text = error.what();
  if (text.starts_with("[json.exception.")) {
    if (auto end = text.find("] "); end != std::string_view::npos) text.remove_prefix(end + 2);
  }
  constexpr std::string_view kLastRead = "; last read: '";
  const auto quote = text.find(kLastRead);
  if (quote == std::string_view::npos) return std::string(text);
  const auto token_start = quote + kLastRead.size();
  if (text.size() - token_start <= kMaxQuotedTokenBytes + 1) return std::string(text);
  std::size_t cut = token_start + kMaxQuotedTokenBytes;
  while (cut > token_start && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "...'";
}

std::expected<Json, std::string> parse_json(std::string_view text) {
  try {
    return Json::parse(text);
  } catch (const Json::exception& error) {
    return std::unexpected(describe_parse_error(error));
  }
}

std::string to_compact(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string to_pretty(const Json& value) {
  return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

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
