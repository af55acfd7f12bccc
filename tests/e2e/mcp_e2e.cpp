#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli_fixture.hpp"

using namespace testing_support;
using nlohmann::json;
using namespace std::string_literals;

namespace {

class Mcp : public CliTest {};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// A session as MCP client libraries run it: initialize, the initialized
// notification, then listing and calling tools, with junk in between.
TEST_F(Mcp, ClientSession) {
  const std::string input =
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18",)"
      R"("capabilities":{},"clientInfo":{"name":"test-client","version":"1.0.0"}}})"
      "\n"
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
      "\n"
      "\n   \nnot json\n[1,2]\n"
      R"({"jsonrpc":"2.0","id":1,"method":"tools/list","params":{}})"
      "\r\n"
      R"({"jsonrpc":"2.0","id":"two","method":"tools/call","params":{"name":"murmela_use_cli","arguments":{}}})"
      "\n"
      R"({"jsonrpc":"2.0","id":3,"method":"ping"})";  // last line without a line feed
  auto run = this->run({"mcp", "--detach", "--format", "x"}, input);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  auto replies = lines_of(run.out);
  ASSERT_EQ(replies.size(), 4u) << run.out;
  EXPECT_TRUE(run.out.ends_with("}\n"));

  auto init = json::parse(replies[0]);
  EXPECT_EQ(init["id"], 0);
  EXPECT_EQ(init["result"]["protocolVersion"], "2025-06-18");
  EXPECT_EQ(init["result"]["serverInfo"]["name"], "murmela");
  const std::string instructions = init["result"]["instructions"];
  EXPECT_EQ(instructions,
            "Murmela is controlled through its command-line tool, not MCP. Run `\"" + cli +
                "\" guide` for the full reference; every GUI action is available, for example "
                "`meetings list`, `meetings transcribe <id>` and `invoke <command> <json>`.");
  EXPECT_TRUE(replies[0].starts_with(
      R"({"id":0,"jsonrpc":"2.0","result":{"capabilities":{"tools":{}},"instructions":)"));

  EXPECT_EQ(json::parse(replies[1])["result"]["tools"][0]["name"], "murmela_use_cli");
  auto call = json::parse(replies[2]);
  EXPECT_EQ(call["id"], "two");
  EXPECT_EQ(call["result"]["content"][0]["text"], this->run({"guide"}).out);
  EXPECT_NE(replies[2].find("\\n"), std::string::npos);
  EXPECT_EQ(replies[3], R"({"id":3,"jsonrpc":"2.0","result":{}})");
}

TEST_F(Mcp, StrictLinesAndExactIds) {
  const std::string input =
      "{\"id\":1,\"method\":\"ping\"}\0junk\n"s +       // NUL: not JSON, not answered
      "\xEF\xBB\xBF{\"id\":2,\"method\":\"ping\"}\n" +  // byte order mark: the same
      "{\"id\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"method\":\"ping\"}\n" +
      "{\"id\":123456789012345678901234567890,\"method\":\"ping\"}\n"
      "{\"id\":1.50,\"method\":\"ping\"}\n"
      "{\"id\":\"\\u00e4\\/\",\"method\":\"ping\"}\n";
  auto run = this->run({"mcp"}, input);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "{\"id\":123456789012345678901234567890,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
            "{\"id\":1.50,\"jsonrpc\":\"2.0\",\"result\":{}}\n"
            "{\"id\":\"\xC3\xA4/\",\"jsonrpc\":\"2.0\",\"result\":{}}\n");
}

// A line longer than a message may be is passed over as it arrives, never
// held whole, and answered as an invalid request; the server goes on.
TEST_F(Mcp, AnswersATooLongLineAndGoesOn) {
  constexpr std::size_t kLimit = 4 * 1024 * 1024;
  const std::string ping = R"({"id":1,"method":"ping"})";
  const std::string longest = ping + std::string(kLimit - ping.size(), ' ');
  const std::string ping2 = R"({"id":2,"method":"ping"})";
  const std::string input = longest + "\n" + std::string(kLimit + 1, 'x') + "\n" + ping2 + "\n" +
                            std::string(3 * kLimit, '[');
  auto run = this->run({"mcp"}, input);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  const std::string too_long =
      R"({"error":{"code":-32600,"message":"The message is longer than 4194304 bytes."},)"
      R"("id":null,"jsonrpc":"2.0"})";
  const std::string pong1 = R"({"id":1,"jsonrpc":"2.0","result":{}})";
  const std::string pong2 = R"({"id":2,"jsonrpc":"2.0","result":{}})";
  EXPECT_EQ(run.out, pong1 + "\n" + too_long + "\n" + pong2 + "\n" + too_long + "\n");
}

TEST_F(Mcp, EndsQuietlyOnInputThatIsNotUtf8) {
  auto run =
      this->run({"mcp"}, "{\"id\":1,\"method\":\"ping\"}\n\xFF\n{\"id\":2,\"method\":\"ping\"}\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
}

TEST_F(Mcp, EndsQuietlyWhenTheClientStopsReading) {
  std::string input;
  for (int i = 0; i < 20000; ++i)
    input += "{\"id\":" + std::to_string(i) + ",\"method\":\"tools/call\"}\n";
  // A reader that goes away after ten bytes: the server must end with 0,
  // not be killed by SIGPIPE (pipefail reports the server's own status).
  auto run =
      run_program("/bin/bash", {"-c", "set -o pipefail; \"$0\" mcp | head -c 10 >/dev/null", cli},
                  {env, input, home.path()});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
}

}  // namespace
