#include "agent_integration/json_members.hpp"

#include <gtest/gtest.h>

using namespace murmela;

namespace {

std::vector<std::pair<std::string, std::string>> pairs(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  auto list = parse_members(text);
  EXPECT_TRUE(list) << text;
  if (list) {
    for (const auto& m : list->members) out.emplace_back(m.key, m.raw);
  }
  return out;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(ParseMembers, KeepsEachValueAsWritten) {
  EXPECT_EQ(
      pairs(" {\n\t\"a\" :  1.50e+3 ,\"b\":[ 1, {\"c\" : \"]}\" } ],\r\n \"\\u0041\\n\\\"\": "
            "\"x\\\"}\\\\\" }\n"),
      (Pairs{{"a", "1.50e+3"}, {"b", "[ 1, {\"c\" : \"]}\" } ]"}, {"A\n\"", "\"x\\\"}\\\\\""}}));
  EXPECT_EQ(pairs("{}"), Pairs{});
  EXPECT_EQ(pairs("{ \"t\":true,\"f\":false,\"n\":null,\"neg\":-0,\"s\":\"\"}"),
            (Pairs{{"t", "true"}, {"f", "false"}, {"n", "null"}, {"neg", "-0"}, {"s", "\"\""}}));
  EXPECT_EQ(pairs(R"({"k":{"nested":{"deep":[[],{}]}},"e":"\u00e4\/"})"),
            (Pairs{{"k", R"({"nested":{"deep":[[],{}]}})"}, {"e", R"("\u00e4\/")"}}));
}

TEST(ParseMembers, DuplicatesStayAndLookupTakesTheFirst) {
  auto list = parse_members(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->members.size(), 3u);
  EXPECT_EQ(list->find("a")->raw, "1");
  list->erase("a");
  EXPECT_EQ(list->find("a")->raw, "3");
}

TEST(ParseMembers, RefusesWhatIsNotPlainJson) {
  for (const char* text :
       {"", "  ", "[]", "1", "\"s\"", "{\"a\":1,}", "{// c\n}", "/* c */{}", "{\"a\":1}{}",
        "{\"a\":1} x", "\xEF\xBB\xBF{}", "{'a':1}", "{\"a\":01}", "{\"a\":\"\xFF\"}", "{a:1}"}) {
    EXPECT_FALSE(parse_members(text)) << text;
  }
}

TEST(FormatMembers, OneMemberPerLine) {
  MemberList list;
  list.members = {{"github", R"({"command": "gh"})"},
                  {"murmela", R"({"args":["mcp"],"command":"/opt/bin/murmela-cli"})"}};
  EXPECT_EQ(format_members(list, 2, "\n"),
            "{\n    \"github\": {\"command\": \"gh\"},\n    \"murmela\": "
            "{\"args\":[\"mcp\"],\"command\":\"/opt/bin/murmela-cli\"}\n  }");
  list.members = {{"q\"\x01", "1"}};
  EXPECT_EQ(format_members(list, 0, "\r\n"), "{\r\n  \"q\\\"\\u0001\": 1\r\n}");
  EXPECT_EQ(format_members(MemberList{}, 4, "\n"), "{}");
}

}  // namespace
