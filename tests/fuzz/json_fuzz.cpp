// libFuzzer target for every reader of outside JSON: the reply envelope, an
// MCP line and an agent config file, plus the printer on what the strict
// reader accepts. Each input is tried in all of them, and the reader and the
// printer are run with every block scan, which must agree byte for byte; any
// crash, sanitizer report or broken promise below aborts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent_integration/json_members.hpp"
#include "app_link/protocol.hpp"
#include "cli/mcp.hpp"
#include "common/json_document.hpp"
#include "common/json_writer.hpp"
#include "common/utf8.hpp"

using namespace murmela;

namespace {

void check(bool promise) {
  if (!promise) std::abort();
}

// What the printer writes reads back, and prints the same again.
void printer_round_trip(const JsonDocument& document) {
  const std::string compact = json_text(document.root(), kCompactJson);
  const std::string pretty = json_text(document.root(), kPrettyJson);
  auto compact_again = read_json(compact);
  auto pretty_again = read_json(pretty);
  check(compact_again && pretty_again);
  check(json_text(pretty_again->root(), kCompactJson) == compact);
  check(json_text(compact_again->root(), kCompactJson) == compact);
}

// The simpler scans give the same verdict, fault and printed text as the
// fastest one, and so does a reading that indexes only the top levels and
// prints the rest straight from the text.
void block_scans_agree(const std::string& text,
                       const std::expected<JsonDocument, std::string>& document) {
  for (const BlockScan scan : available_block_scans()) {
    check(first_invalid_utf8(text, scan) == first_invalid_utf8(text));
    for (const std::size_t indexed_depth : {kMaxJsonDepth, std::size_t{0}, std::size_t{1}}) {
      auto again = read_json(text, LoneSurrogates::Kept, scan, indexed_depth);
      check(again.has_value() == document.has_value());
      if (!again) {
        check(again.error() == document.error());
        continue;
      }
      for (const JsonStyle style : {kCompactJson, kPrettyJson}) {
        JsonStyle with_scan = style;
        with_scan.scan = scan;
        const std::string expected = json_text(document->root(), style);
        check(json_text(*again, with_scan) == expected);
        check(json_text(again->root(), with_scan) == expected);
      }
    }
  }
}

// A config is either left alone, or its members come back byte for byte.
void member_scanner(std::string_view text, bool accepted) {
  auto members = parse_members(text);
  check(members.has_value() == (accepted && read_json(std::string(text))->root().is_object()));
  if (!members) return;
  const std::string rewritten = format_members(*members, 0, "\n");
  auto again = parse_members(rewritten);
  check(again && again->members.size() == members->members.size());
  for (std::size_t i = 0; i < members->members.size(); ++i) {
    check(again->members[i].key == members->members[i].key);
    check(again->members[i].raw == members->members[i].raw);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto document = read_json(text);
  if (document) printer_round_trip(*document);
  block_scans_agree(text, document);

  if (auto reply = parse_reply(text)) {
    check(json_text(reply->result, kPrettyJson) == json_text(reply->result.root(), kPrettyJson));
  }

  static const McpTexts texts{"GUIDE", "INSTRUCTIONS"};
  if (auto answer = mcp_reply(texts, text)) check(read_json(*answer).has_value());

  member_scanner(text, document.has_value());
  return 0;
}
