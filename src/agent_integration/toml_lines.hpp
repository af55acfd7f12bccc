#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmela {

// Just enough of TOML's line syntax to tell where a table or key is defined:
// the dotted key path of a table header line or of a `key = value` line.
struct TomlLine {
  enum class Kind { Other, Header, Key };
  Kind kind = Kind::Other;
  std::vector<std::string> path;  // the header's path, or the key's path
};

TomlLine classify_toml_line(std::string_view line);

// The file's lines, with the table path each one belongs to (the key path of a
// key line is appended to it). Lines inside multi-line strings are Other.
struct TomlDefinition {
  std::size_t line;
  std::vector<std::string> path;  // full path defined on that line
  bool header;
};
std::vector<TomlDefinition> toml_definitions(const std::vector<std::string>& lines);

}  // namespace murmela
