#include "agent_integration/json_members.hpp"

#include "common/json.hpp"

namespace murmela {

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
  auto document = read_json(std::string(text));
  if (!document || !document->root().is_object()) return std::nullopt;
  const JsonView object = document->root();
  MemberList list;
  for (std::uint32_t child = object.index() + 1; child < object.after_index();) {
    const JsonView key = object.at(child);
    const JsonView value = object.at(key.after_index());
    list.members.push_back({key.string(), std::string(value.source()), std::string(key.source())});
    child = value.after_index();
  }
  return list;
}

std::string format_members(const MemberList& list, std::size_t indent,
                           std::string_view line_ending) {
  if (list.members.empty()) return "{}";
  const std::string member_indent(indent + 2, ' ');
  std::string text = "{";
  text += line_ending;
  for (std::size_t i = 0; i < list.members.size(); ++i) {
    if (i > 0) {
      text += ",";
      text += line_ending;
    }
    const Member& member = list.members[i];
    text += member_indent +
            (member.raw_key.empty() ? to_compact(Json(member.key)) : member.raw_key) + ": " +
            member.raw;
  }
  text += line_ending;
  text += std::string(indent, ' ') + "}";
  return text;
}

}  // namespace murmela
