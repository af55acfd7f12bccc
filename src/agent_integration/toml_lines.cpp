#include "agent_integration/toml_lines.hpp"

namespace murmela {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t'; }

bool is_bare_key_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

class KeyReader {
 public:
  explicit KeyReader(std::string_view text) : text_(text) {}

  void skip_space() {
    while (pos_ < text_.size() && is_space(text_[pos_])) ++pos_;
  }
  bool at(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool take(char c) {
    if (!at(c)) return false;
    ++pos_;
    return true;
  }

  // One key: bare, "basic" (simple escapes decoded) or 'literal'.
  std::optional<std::string> key() {
    skip_space();
    std::string out;
    if (take('"')) {
      while (pos_ < text_.size() && text_[pos_] != '"') {
        if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
        out += text_[pos_++];
      }
      if (!take('"')) return std::nullopt;
    } else if (take('\'')) {
      while (pos_ < text_.size() && text_[pos_] != '\'') out += text_[pos_++];
      if (!take('\'')) return std::nullopt;
    } else {
      while (pos_ < text_.size() && is_bare_key_char(text_[pos_])) out += text_[pos_++];
      if (out.empty()) return std::nullopt;
    }
    skip_space();
    return out;
  }

  std::optional<std::vector<std::string>> dotted_key() {
    std::vector<std::string> path;
    do {
      auto part = key();
      if (!part) return std::nullopt;
      path.push_back(*part);
    } while (take('.'));
    return path;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

std::size_t count(std::string_view text, std::string_view what) {
  std::size_t found = 0;
  for (auto pos = text.find(what); pos != std::string_view::npos;
       pos = text.find(what, pos + what.size()))
    ++found;
  return found;
}

}  // namespace

TomlLine classify_toml_line(std::string_view line) {
  KeyReader reader(line);
  reader.skip_space();
  if (reader.take('[')) {
    reader.take('[');  // an array of tables names its path the same way
    if (auto path = reader.dotted_key(); path && reader.at(']'))
      return {TomlLine::Kind::Header, *path};
    return {};
  }
  if (reader.at('#')) return {};
  if (auto path = reader.dotted_key(); path && reader.at('=')) return {TomlLine::Kind::Key, *path};
  return {};
}

std::vector<TomlDefinition> toml_definitions(const std::vector<std::string>& lines) {
  std::vector<TomlDefinition> definitions;
  std::vector<std::string> table;
  bool in_basic = false, in_literal = false;  // inside a multi-line string
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (!in_basic && !in_literal) {
      const TomlLine parsed = classify_toml_line(line);
      if (parsed.kind == TomlLine::Kind::Header) {
        table = parsed.path;
        definitions.push_back({i, table, true});
      } else if (parsed.kind == TomlLine::Kind::Key) {
        auto full = table;
        full.insert(full.end(), parsed.path.begin(), parsed.path.end());
        definitions.push_back({i, std::move(full), false});
      }
    }
    if (count(line, "\"\"\"") % 2 == 1 && !in_literal) in_basic = !in_basic;
    if (count(line, "'''") % 2 == 1 && !in_basic) in_literal = !in_literal;
  }
  return definitions;
}

}  // namespace murmela
