#include "app_link/protocol.hpp"

#include <gtest/gtest.h>

#include "common/json_writer.hpp"
#include "common/output.hpp"

using namespace murmela;

TEST(Request, MembersInProtocolOrderArgsKeysInByteOrder) {
  Json args = Json::object();
  args["b"] = 1;
  args["a"] = "x";
  args["Z"] = true;
  EXPECT_EQ(serialize_request("get_state", args, true),
            "{\"version\":1,\"command\":\"get_state\",\"args\":{\"Z\":true,\"a\":\"x\",\"b\":1},"
            "\"detach\":true}\n");
}

TEST(Request, MinimalEscapingWithLowercaseHex) {
  Json args = {{"t", "q\"b\\s/\x01\x1f\n\t\xC3\xA4"}};
  EXPECT_EQ(serialize_request("c", args, false),
            "{\"version\":1,\"command\":\"c\",\"args\":{\"t\":\"q\\\"b\\\\s/"
            "\\u0001\\u001f\\n\\t\xC3\xA4\"},"
            "\"detach\":false}\n");
}

struct ReplyCase {
  const char* line;
  bool ok;
  const char* result;
  const char* error;  // nullptr: no error string
};

TEST(Reply, AcceptedEnvelopes) {
  const ReplyCase cases[] = {
      {R"({"ok":true})", true, "null", nullptr},
      {R"({"ok":true,"result":null})", true, "null", nullptr},
      {R"({"result":[1,2],"ok":true})", true, "[1,2]", nullptr},
      {R"({"ok":true,"x":5})", true, "null", nullptr},
      {R"({"ok":false})", false, "null", nullptr},
      {R"({"ok":false,"error":null})", false, "null", nullptr},
      {R"({"ok":false,"error":""})", false, "null", ""},
      {R"({"ok":false,"error":"Nope"})", false, "null", "Nope"},
      {"[true,{\"a\":1},null]\n", true, R"({"a":1})", nullptr},
      {"[true]", true, "null", nullptr},
      {"[false,null,\"bad\"]", false, "null", "bad"},
      {" {\"ok\":true} \r\n", true, "null", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    auto reply = parse_reply(c.line);
    ASSERT_TRUE(reply) << reply.error();
    EXPECT_EQ(reply->ok, c.ok);
    EXPECT_EQ(to_json(reply->result.root()), Json::parse(c.result));
    EXPECT_EQ(json_text(reply->result, kCompactJson), to_compact(Json::parse(c.result)));
    EXPECT_EQ(reply->has_error, c.error != nullptr);
    if (c.error) {
      EXPECT_EQ(reply->error, c.error);
    }
  }
}

TEST(Reply, UnreadableEnvelopes) {
  for (const char* line :
       {R"({"result":1})", R"({"ok":"yes"})", "[]", R"({"ok":true,"ok":true})",
        R"({"ok":true,"error":5})", R"({"ok":true} x)", "[true,1,null,4]", "42", "{"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(parse_reply(line));
  }
}

TEST(PrintJson, PrettySortedIntegersDoublesAndUtf8) {
  StringOutput out;
  print_json(
      out, Json::parse(R"({"z":1,"a":{"y":[],"b":{}},"n":1e2,"f":0.5,"s":"K\u00e4se","big":-3})"));
  EXPECT_EQ(out.text(),
            "{\n"
            "  \"a\": {\n"
            "    \"b\": {},\n"
            "    \"y\": []\n"
            "  },\n"
            "  \"big\": -3,\n"
            "  \"f\": 0.5,\n"
            "  \"n\": 100.0,\n"
            "  \"s\": \"K\xC3\xA4se\",\n"
            "  \"z\": 1\n"
            "}\n");
}

TEST(PrintJson, ScalarsPrintOnOneLine) {
  StringOutput out;
  print_json(out, "text");
  print_json(out, nullptr);
  EXPECT_EQ(out.text(), "\"text\"\nnull\n");
}

TEST(ParseJson, LongTokensAreCutInTheDescription) {
  std::string unterminated(100001, 'x');
  unterminated[0] = '"';
  auto parsed = parse_json(unterminated);
  ASSERT_FALSE(parsed);
  EXPECT_LT(parsed.error().size(), 200u);
  EXPECT_TRUE(parsed.error().starts_with("EOF while parsing a string at line 1, column 100002"))
      << parsed.error();
}
