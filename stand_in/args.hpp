#pragma once

#include <expected>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "common/json.hpp"

namespace stand_in {

using murmela::Json;

// What a command handler answers: its result, or the error text the app
// sends back.
using Answer = std::expected<Json, std::string>;

inline std::unexpected<std::string> refuse(std::string message) {
  return std::unexpected(std::move(message));
}

// Reads the request's argument object with clear messages for callers that
// get it wrong.
class Args {
 public:
  explicit Args(const Json& args) : args_(args) {}

  bool is_object() const { return args_.is_object(); }

  std::expected<std::string, std::string> string(const char* key) const {
    auto found = find(key);
    if (!found) return refuse(fmt::format("Missing argument `{}`.", key));
    if (!found->is_string()) return refuse(fmt::format("Argument `{}` must be a string.", key));
    return found->get<std::string>();
  }

  // A file's path: absolute, and without a NUL, which the system would take
  // for its end and so open a shorter path than the one named.
  std::expected<std::string, std::string> path(const char* key) const {
    auto text = string(key);
    if (!text) return text;
    if (text->find('\0') != std::string::npos)
      return refuse(fmt::format("Argument `{}` must not contain a NUL character.", key));
    if (!text->starts_with('/'))
      return refuse(fmt::format("Argument `{}` must be an absolute path.", key));
    return text;
  }

  // A string that may also be null or absent.
  std::expected<std::optional<std::string>, std::string> optional_string(const char* key) const {
    auto found = find(key);
    if (!found || found->is_null()) return std::optional<std::string>();
    if (!found->is_string())
      return refuse(fmt::format("Argument `{}` must be a string or null.", key));
    return std::optional<std::string>(found->get<std::string>());
  }

  std::expected<bool, std::string> boolean(const char* key,
                                           std::optional<bool> fallback = {}) const {
    auto found = find(key);
    if (!found && fallback) return *fallback;
    if (!found) return refuse(fmt::format("Missing argument `{}`.", key));
    if (!found->is_boolean())
      return refuse(fmt::format("Argument `{}` must be true or false.", key));
    return found->get<bool>();
  }

  const Json* find(const char* key) const {
    if (!args_.is_object()) return nullptr;
    auto found = args_.find(key);
    return found == args_.end() ? nullptr : &*found;
  }

 private:
  const Json& args_;
};

}  // namespace stand_in
