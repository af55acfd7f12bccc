#include "cli/mcp.hpp"

#include <csignal>
#include <cstdlib>

#include <unistd.h>

#include <fmt/format.h>

#include "cli/texts.hpp"
#include "common/json_writer.hpp"
#include "common/line_reader.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr const char* kDefaultProtocolVersion = "2025-06-18";
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidRequest = -32600;

// The client's protocol version when it names one as a string.
std::optional<std::string> requested_protocol(JsonView message) {
  const auto params = message.find("params");
  const auto version = params ? params->find("protocolVersion") : std::nullopt;
  if (!version || !version->is_string()) return std::nullopt;
  return version->string();
}

Json initialize_result(const McpTexts& texts, JsonView message) {
  const auto requested = requested_protocol(message);
  return {
      {"protocolVersion", requested ? *requested : kDefaultProtocolVersion},
      {"capabilities", {{"tools", Json::object()}}},
      {"serverInfo", {{"name", "murmela"}, {"version", kCliVersion}}},
      {"instructions", texts.instructions},
  };
}

Json tools_list_result(const McpTexts& texts) {
  Json tool = {
      {"name", "murmela_use_cli"},
      {"description", texts.instructions},
      {"inputSchema", {{"type", "object"}, {"properties", Json::object()}}},
  };
  return {{"tools", Json::array({tool})}};
}

Json tools_call_result(const McpTexts& texts) {
  Json content = {{"type", "text"}, {"text", texts.guide}};
  return {{"content", Json::array({content})}, {"isError", false}};
}

// The result for `method`, or nothing when the method is not served.
std::optional<Json> result_for(const McpTexts& texts, std::string_view method, JsonView message) {
  if (method == "initialize") return initialize_result(texts, message);
  if (method == "tools/list") return tools_list_result(texts);
  if (method == "tools/call") return tools_call_result(texts);
  if (method == "ping") return Json::object();
  if (method == "prompts/list") return Json{{"prompts", Json::array()}};
  if (method == "resources/list") return Json{{"resources", Json::array()}};
  return std::nullopt;
}

bool write_line(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
}

}  // namespace

std::string too_long_reply() {
  // Nothing of the message was read, its id included: JSON-RPC answers such
  // a request with a null id.
  const Json error = {
      {"code", kInvalidRequest},
      {"message", fmt::format("The message is longer than {} bytes.", kMaxMessageBytes)}};
  return fmt::format(R"({{"error":{},"id":null,"jsonrpc":"2.0"}})", to_compact(error));
}

McpTexts mcp_texts() {
  return {guide_text(),
          fmt::format("Murmela is controlled through its command-line tool, not MCP. Run `\"{}\" "
                      "guide` for the full reference; every GUI action is available, for example "
                      "`meetings list`, `meetings transcribe <id>` and `invoke <command> <json>`.",
                      cli_path_text())};
}

std::optional<std::string> mcp_reply(const McpTexts& texts, std::string_view line) {
  auto document = read_json(std::string(line));
  if (!document || !document->root().is_object()) return std::nullopt;
  const JsonView message = document->root();
  const auto id = message.find("id");
  if (!id) return std::nullopt;

  // The id goes back exactly as it came, numbers of any size included.
  const std::string id_text = json_text(*id, {.pretty = false, .numbers_as_written = true});
  const auto method = message.find("method");
  const std::string method_name = method && method->is_string() ? method->string() : "";
  if (auto result = result_for(texts, method_name, message)) {
    return fmt::format(R"({{"id":{},"jsonrpc":"2.0","result":{}}})", id_text, to_compact(*result));
  }
  const Json error = {{"code", kMethodNotFound}, {"message", texts.instructions}};
  return fmt::format(R"({{"error":{},"id":{},"jsonrpc":"2.0"}})", to_compact(error), id_text);
}

Done run_mcp() {
  // A client that goes away must end the server quietly, not kill it.
  std::signal(SIGPIPE, SIG_IGN);
  const McpTexts texts = mcp_texts();

  LineReader lines(STDIN_FILENO, kMaxMessageBytes);
  for (;;) {
    const auto read = lines.next();
    if (read.outcome == LineReader::Outcome::TooLong) {
      if (!write_line(too_long_reply())) break;
      continue;
    }
    if (read.outcome != LineReader::Outcome::Line) break;
    std::string_view line = read.text;
    // Bytes that are not UTF-8 are a broken stream rather than a message:
    // the server ends quietly, as at the end of its input, where a line that
    // is merely not JSON is passed over.
    if (!is_valid_utf8(line)) break;
    if (line.ends_with('\n')) {
      line.remove_suffix(1);
      if (line.ends_with('\r')) line.remove_suffix(1);
    }

    auto reply = mcp_reply(texts, line);
    if (reply && !write_line(*reply)) break;
  }
  return {};
}

}  // namespace murmela
