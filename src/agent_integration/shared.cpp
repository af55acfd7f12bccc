#include "agent_integration/shared.hpp"

#include <algorithm>
#include "common/environment.hpp"
#include "common/paths.hpp"
#include "common/utf8.hpp"

namespace murmela {

bool same_path(std::string_view a, std::string_view b) {
  return a == b || path_components(a) == path_components(b);
}

bool is_own_cli(std::string_view path) {
  auto name = file_name(path);
  if (!name || !is_valid_utf8(*name)) return false;
  auto equals_folded = [](std::string_view text, std::string_view lower) {
    return text.size() == lower.size() && std::equal(text.begin(), text.end(), lower.begin(), [](char c, char l) {
             return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == l;
           });
  };
  return equals_folded(*name, "murmela-cli") || equals_folded(*name, "murmela-cli.exe");
}

}  // namespace murmela
