#include "cli/mcp.hpp"

#include <gtest/gtest.h>

using namespace murmela;

namespace {

const McpTexts kTexts{"GUIDE\nline two\n", "INSTRUCTIONS"};

std::string reply(std::string_view line) {
  auto answer = mcp_reply(kTexts, line);
  return answer ? *answer : "(none)";
}

TEST(McpReply, MethodTable) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"id":1,"jsonrpc":"2.0","result":{}})"},
      {R"({"jsonrpc":"2.0","id":"a","method":"prompts/list"})",
       R"({"id":"a","jsonrpc":"2.0","result":{"prompts":[]}})"},
      {R"({"id":null,"method":"resources/list"})",
       R"({"id":null,"jsonrpc":"2.0","result":{"resources":[]}})"},
      {R"({"id":{"x":[1]},"method":"tools/list"})",
       R"({"id":{"x":[1]},"jsonrpc":"2.0","result":{"tools":[{"description":"INSTRUCTIONS","inputSchema":)"
       R"({"properties":{},"type":"object"},"name":"murmela_use_cli"}]}})"},
      {R"({"id":2,"method":"tools/call","params":{"name":"whatever","arguments":{"a":1}}})",
       R"({"id":2,"jsonrpc":"2.0","result":{"content":[{"text":"GUIDE\nline two\n","type":"text"}],"isError":false}})"},
      {R"({"id":3,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})",
       R"({"id":3,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"instructions":"INSTRUCTIONS",)"
       R"("protocolVersion":"2024-11-05","serverInfo":{"name":"murmela","version":"0.28.8"}}})"},
      {R"({"id":4,"method":"initialize","params":{"protocolVersion":7}})",
       R"({"id":4,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"instructions":"INSTRUCTIONS",)"
       R"("protocolVersion":"2025-06-18","serverInfo":{"name":"murmela","version":"0.28.8"}}})"},
      {R"({"id":5,"method":"TOOLS/LIST"})",
       R"({"error":{"code":-32601,"message":"INSTRUCTIONS"},"id":5,"jsonrpc":"2.0"})"},
      {R"({"id":6,"result":{}})",
       R"({"error":{"code":-32601,"message":"INSTRUCTIONS"},"id":6,"jsonrpc":"2.0"})"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(reply(line), expected) << line;
}

TEST(McpReply, UnansweredLines) {
  for (const char* line :
       {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", R"({"method":"ping"})", "",
        "   ", R"([{"id":1,"method":"ping"}])", "{broken", "42"}) {
    EXPECT_EQ(reply(line), "(none)") << line;
  }
}

// A line too long to read is answered as an invalid request whose id could
// not be known.
TEST(McpReply, TooLongALine) {
  EXPECT_EQ(too_long_reply(),
            R"({"error":{"code":-32600,"message":"The message is longer than 4194304 bytes."},)"
            R"("id":null,"jsonrpc":"2.0"})");
}

}  // namespace
