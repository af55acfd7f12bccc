#include "agent_integration/json_members.hpp"

#include "common/json.hpp"

namespace murmela {

namespace {

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Walks text that the JSON parser has already accepted, so it only needs to
// find where each token ends.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void skip_space() {
    while (pos_ < text_.size() && is_json_space(text_[pos_])) ++pos_;
  }
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void expect(char c) {
    skip_space();
    if (peek() == c) ++pos_;
  }

  std::string_view string_token() {
    const std::size_t start = pos_++;
    while (pos_ < text_.size() && text_[pos_] != '"') pos_ += text_[pos_] == '\\' ? 2 : 1;
    ++pos_;
    return text_.substr(start, pos_ - start);
  }

  std::string_view value() {
    skip_space();
    const std::size_t start = pos_;
    if (peek() == '"') {
      string_token();
    } else if (peek() == '{' || peek() == '[') {
      int depth = 0;
      do {
        const char c = peek();
        if (c == '"') {
          string_token();
          continue;
        }
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']') --depth;
        ++pos_;
      } while (depth > 0 && pos_ < text_.size());
    } else {
      while (pos_ < text_.size() && !is_json_space(peek()) && peek() != ',' && peek() != '}' && peek() != ']') {
        ++pos_;
      }
    }
    return text_.substr(start, pos_ - start);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

Member* MemberList::find(std::string_view key) {
  for (auto& member : members) {
    if (member.key == key) return &member;
  }
  return nullptr;
}

void MemberList::erase(std::string_view key) {
  for (auto it = members.begin(); it != members.end(); ++it) {
    if (it->key == key) {
      members.erase(it);
      return;
    }
  }
}

std::optional<MemberList> parse_members(std::string_view text) {
  // The JSON library would skip a byte order mark; a file with one is not
  // plain JSON to the tools that read these files.
  if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  auto whole = parse_json(text);
  if (!whole || !whole->is_object()) return std::nullopt;

  MemberList list;
  Scanner scan(text);
  scan.expect('{');
  scan.skip_space();
  while (scan.peek() == '"') {
    auto key = parse_json(scan.string_token());
    scan.expect(':');
    const std::string_view raw = scan.value();
    if (!key) return std::nullopt;
    list.members.push_back({key->get<std::string>(), std::string(raw)});
    scan.expect(',');
    scan.skip_space();
  }
  return list;
}

std::string format_members(const MemberList& list, std::size_t indent, std::string_view line_ending) {
  if (list.members.empty()) return "{}";
  const std::string member_indent(indent + 2, ' ');
  std::string text = "{";
  text += line_ending;
  for (std::size_t i = 0; i < list.members.size(); ++i) {
    if (i > 0) {
      text += ",";
      text += line_ending;
    }
    text += member_indent + to_compact(Json(list.members[i].key)) + ": " + list.members[i].raw;
  }
  text += line_ending;
  text += std::string(indent, ' ') + "}";
  return text;
}

}  // namespace murmela
