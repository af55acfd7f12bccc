#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

#include "common/json.hpp"
#include "common/json_document.hpp"
#include "common/json_writer.hpp"
#include "common/output.hpp"

using namespace murmela;
using namespace std::string_literals;

namespace {

std::string nested(std::size_t levels) {
  return std::string(levels, '[') + std::string(levels, ']');
}

std::string quoted(std::string text) {
  text.insert(text.begin(), '"');
  text.push_back('"');
  return text;
}

std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

struct Verdict {
  std::string name;
  std::string text;
  bool accepted;
};

TEST(JsonReader, Verdicts) {
  const std::vector<Verdict> cases = {
      {"object", R"({"a":[1,-2.5e+3,true,false,null,"x"]})", true},
      {"whitespace around", " \t\r\n{} \n", true},
      {"NUL after the document", "{\"a\":1}\0garbage"s, false},
      {"NUL before the document", "\0{}"s, false},
      {"NUL between tokens", "[1,\0 2]"s, false},
      {"raw NUL inside a string", "\"a\0b\""s, false},
      {"escaped NUL inside a string", R"("a\u0000b")", true},
      {"byte order mark", "\xEF\xBB\xBF{}", false},
      {"no-break space around", "\xC2\xA0{}", false},
      {"vertical tab around", "{}\v", false},
      {"form feed around", "\f{}", false},
      {"lone high surrogate", R"("\ud800")", true},
      {"lone low surrogate", R"("x\uDC00y")", true},
      {"surrogate pair", R"("\ud83d\ude00")", true},
      {"unknown escape", R"("\x41")", false},
      {"short unicode escape", R"("\u12")", false},
      {"bad hex digit", R"("\u12g4")", false},
      {"raw control character", "\"a\tb\"", false},
      {"invalid UTF-8 in a string", "\"\xFF\"", false},
      {"overlong UTF-8", "\"\xC0\xAF\"", false},
      {"UTF-8 surrogate", "\"\xED\xA0\x80\"", false},
      {"plus sign", "+1", false},
      {"leading point", ".5", false},
      {"trailing point", "1.", false},
      {"leading zero", "01", false},
      {"bare minus", "-", false},
      {"empty exponent", "1e", false},
      {"signed empty exponent", "1e+", false},
      {"NaN", "NaN", false},
      {"Infinity", "Infinity", false},
      {"negative zero", "-0", true},
      {"exponent forms", "[1E5,1e-5,0.5e+1]", true},
      {"beyond a double", "1e400", true},
      {"beyond 64 bits", "123456789012345678901234567890", true},
      {"trailing comma in an array", "[1,]", false},
      {"trailing comma in an object", R"({"a":1,})", false},
      {"missing colon", R"({"a" 1})", false},
      {"number as key", "{1:2}", false},
      {"two documents", "1 2", false},
      {"unclosed", R"({"a":[1)", false},
      {"empty text", "", false},
      {"whitespace only", " \n", false},
      {"truncated literal", "tru", false},
      {"comment", "// x\n{}", false},
      {"1,000 levels", nested(1000), true},
      {"1,001 levels", nested(1001), false},
      {"100,000 levels", nested(100000), false},
      {"100,000 open objects", repeated("{\"a\":", 100000), false},
      {"32 MiB string", quoted(std::string(32 * 1024 * 1024, 'x')), true},
  };
  for (const BlockScan scan : available_block_scans()) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      auto document = read_json(c.text, LoneSurrogates::Kept, scan);
      EXPECT_EQ(document.has_value(), c.accepted) << (document ? "" : document.error());
      // Values left out of the index are checked just as strictly.
      EXPECT_EQ(read_json(c.text, LoneSurrogates::Kept, scan, 0).has_value(), c.accepted);
    }
  }
}

TEST(JsonReader, FaultsNameTheirLineAndColumn) {
  const std::pair<std::string, std::string> cases[] = {
      {"[1,\n 2,]", "expected value at line 2, column 4"},
      {"{\"a\":1}\0x"s, "trailing characters at line 1, column 8"},
      {"\xEF\xBB\xBF{}", "expected value at line 1, column 1"},
      {"[\"\xFF\"]", "invalid UTF-8 at line 1, column 3"},
      {nested(1001), "recursion limit exceeded at line 1, column 1001"},
      {"\"abc", "EOF while parsing a string at line 1, column 5"},
  };
  for (const BlockScan scan : available_block_scans()) {
    for (const auto& [text, error] : cases) {
      for (const std::size_t indexed_depth : {kMaxJsonDepth, std::size_t{0}, std::size_t{1}}) {
        auto document = read_json(text, LoneSurrogates::Kept, scan, indexed_depth);
        ASSERT_FALSE(document) << text;
        EXPECT_EQ(document.error(), error);
      }
    }
  }
}

// Strings whose escapes, control characters and multi-byte characters fall
// on every side of the 16- and 32-byte blocks the scans step by.
TEST(JsonReader, StringsAcrossBlockBoundaries) {
  for (const BlockScan scan : available_block_scans()) {
    for (std::size_t at = 0; at <= 70; ++at) {
      SCOPED_TRACE(at);
      const std::string before(at, 'x');
      auto document =
          read_json("[\"" + before + "\\\"\\n\xC3\xA4\\t\"]", LoneSurrogates::Kept, scan);
      ASSERT_TRUE(document) << document.error();
      EXPECT_EQ(document->root().children()[0].string(), before + "\"\n\xC3\xA4\t");
      auto control = read_json("[\"" + before + "\x01\"]", LoneSurrogates::Kept, scan);
      ASSERT_FALSE(control);
      EXPECT_EQ(control.error(),
                "control character (\\u0000-\\u001F) found while parsing a string at line 1, "
                "column " +
                    std::to_string(at + 3));
      auto open = read_json("\"" + before, LoneSurrogates::Kept, scan);
      ASSERT_FALSE(open);
      EXPECT_EQ(open.error(),
                "EOF while parsing a string at line 1, column " + std::to_string(at + 2));
    }
  }
}

// Half a surrogate pair stands for no character: kept as written where the
// document is only passed on, refused where it must become text.
TEST(JsonReader, LoneSurrogatesAreKeptOrRefused) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("\ud800")", "lone surrogate in a \\u escape at line 1, column 2"},
      {R"("\udfff")", "lone surrogate in a \\u escape at line 1, column 2"},
      {R"(["ok", "a\uDBFFb"])", "lone surrogate in a \\u escape at line 1, column 10"},
      {R"({"\ud83d\u0041": 1})", "lone surrogate in a \\u escape at line 1, column 3"},
      {R"("\udc00\ud800")", "lone surrogate in a \\u escape at line 1, column 2"},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text);
    auto refused = read_json(text, LoneSurrogates::Refused);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), error);
    EXPECT_EQ(parse_json(text).error(), error);
    EXPECT_TRUE(read_json(text));
  }
  for (const std::string text : {R"("\ud83d\ude00")", R"("\uD83D\uDE00 \u00e4")", R"("\\ud800")"}) {
    EXPECT_TRUE(read_json(text, LoneSurrogates::Refused)) << text;
  }
  EXPECT_EQ(*parse_json(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(*parse_json(R"("\\ud800")"), "\\ud800");
}

TEST(JsonReader, ViewsKeepSourceTextAndFindTheLastRepeatedMember) {
  auto document = read_json(R"( {"k":1e400,"s":"a\u00e4\ud800","k":[ 1 , 2 ]} )");
  ASSERT_TRUE(document);
  const JsonView root = document->root();
  EXPECT_EQ(root.source(), R"({"k":1e400,"s":"a\u00e4\ud800","k":[ 1 , 2 ]})");
  EXPECT_EQ(root.find("k")->source(), "[ 1 , 2 ]");
  EXPECT_EQ(root.find("s")->string_source(), R"(a\u00e4\ud800)");
  EXPECT_EQ(root.find("s")->string(), "a\xC3\xA4\xEF\xBF\xBD");
  EXPECT_FALSE(root.find("missing"));
  EXPECT_EQ(root.children().size(), 6u);
}

// Printed from the index, and checked to print the same straight from the
// text of a document whose root's contents were not indexed.
std::string printed(const std::string& text, JsonStyle style = kCompactJson) {
  auto document = read_json(text, LoneSurrogates::Kept, style.scan);
  EXPECT_TRUE(document) << text;
  if (!document) return "";
  const std::string from_index = json_text(document->root(), style);
  auto unindexed = read_json(text, LoneSurrogates::Kept, style.scan, 0);
  EXPECT_EQ(json_text(*unindexed, style), from_index) << text;
  return from_index;
}

// A random value with whitespace everywhere, escapes in keys and strings,
// repeated keys, and containers from empty to tens of KiB and strings of a
// few hundred bytes, so that many are longer than the reader's thresholds
// for remembering their spans.
void random_value(std::mt19937_64& random, std::string& out, int depth) {
  const auto space = [&] {
    out.append(random() % 3 == 0 ? random() % 3 : 0, " \t\n\r"[random() % 4]);
  };
  // Long strings: one that prints as written, and one with escapes the
  // printer writes anew.
  static const std::string long_text = [] {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "line \\\"q\\\" \xC3\xA4\\t\\n";
    return "\"" + text + "\"";
  }();
  static const std::string long_rewritten = "\"\\u00e4\\/" + long_text.substr(1);
  const std::string keys[] = {"\"a\"",   "\"b\"", "\"\\u0061\"",  "\"k\\\"q\"",
                              "\"\\/\"", "\"\"",  "\"\xC3\xA4\"", long_text};
  const std::string scalars[] = {"1.50",
                                 "-0",
                                 "1e2",
                                 "0.25",
                                 "true",
                                 "false",
                                 "null",
                                 "\"x\\/y\"",
                                 "\"\\u00e4\\ud800\\n\"",
                                 "\"plain text \xF0\x9F\x98\x80\"",
                                 "\"\\\"q\\\\\"",
                                 long_text,
                                 long_rewritten};
  space();
  const auto kind = depth > 3 ? 2 : random() % 4;
  if (kind >= 2) {
    out += scalars[random() % std::size(scalars)];
  } else {
    const bool object = kind == 0;
    out += object ? '{' : '[';
    space();
    const std::size_t count = random() % 4 == 0 ? 0
                                                : random() % (depth == 0   ? 80
                                                              : depth == 1 ? 30
                                                                           : 6);
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) out += ',';
      if (object) {
        space();
        out += keys[random() % std::size(keys)];
        space();
        out += ':';
      }
      random_value(random, out, depth + 1);
    }
    space();
    out += object ? '}' : ']';
  }
  space();
}

// Containers of every size, nested in every way, print the same from the
// text as from the index at every indexed depth, and their views (indexed
// when first asked for) are the same too.
TEST(JsonWriter, UnindexedContentsPrintAsFromTheIndex) {
  std::mt19937_64 random(20);
  for (int round = 0; round < 100; ++round) {
    std::string text;
    random_value(random, text, 0);
    SCOPED_TRACE(text);
    auto full = read_json(text);
    ASSERT_TRUE(full) << full.error();
    for (const BlockScan scan : available_block_scans()) {
      for (const JsonStyle style : {kCompactJson, kPrettyJson}) {
        JsonStyle with_scan = style;
        with_scan.scan = scan;
        const std::string expected = json_text(full->root(), style);
        for (const std::size_t depth : {0, 1, 2, 3}) {
          auto partial = read_json(text, LoneSurrogates::Kept, scan, depth);
          ASSERT_TRUE(partial);
          EXPECT_EQ(json_text(*partial, with_scan), expected);
          EXPECT_EQ(json_text(partial->root(), with_scan), expected);
        }
      }
    }
    auto partial = read_json(text, LoneSurrogates::Kept, BlockScan::Best, 0);
    EXPECT_EQ(to_json(partial->root()), to_json(full->root()));
    EXPECT_EQ(partial->root().source(), full->root().source());
  }
}

TEST(JsonWriter, NumberLayout) {
  const std::pair<const char*, const char*> cases[] = {
      {"1e2", "100.0"},
      {"1e15", "1000000000000000.0"},
      {"1e16", "1e16"},
      {"1e21", "1e21"},
      {"1e-5", "0.00001"},
      {"1e-6", "1e-6"},
      {"1e-7", "1e-7"},
      {"1.5e-7", "1.5e-7"},
      {"0.1", "0.1"},
      {"0.928286", "0.928286"},
      {"0.955706", "0.955706"},
      {"12.50", "12.5"},
      {"-0.0", "-0.0"},
      {"0.0", "0.0"},
      {"1.7976931348623157e308", "1.7976931348623157e308"},
      {"5e-324", "5e-324"},
      {"1234.5e10", "12345000000000.0"},
      {"-0", "0"},
      {"42", "42"},
      {"123456789012345678901234567890", "123456789012345678901234567890"},
      {"1e400", "1e400"},  // no double holds it: kept as written
  };
  for (const auto& [input, output] : cases) EXPECT_EQ(printed(input), output) << input;
  EXPECT_EQ(format_double(100.0), "100.0");
  EXPECT_EQ(to_compact(Json::array({0.928286, 1e-7, 1e16, -3})), "[0.928286,1e-7,1e16,-3]");
}

// Decimals of every length and scale print as their double would, whether
// the printer takes them as written or converts them.
TEST(JsonWriter, DecimalsPrintAsTheirDoubles) {
  std::mt19937_64 random(15);
  for (int round = 0; round < 20000; ++round) {
    std::string digits = std::to_string(random() | 1ULL << 62);  // starts with no zero
    digits.resize(1 + random() % 18);
    const std::size_t zeros = random() % 8;
    const std::size_t point = random() % (digits.size() + 1);
    std::string text = random() % 2 ? "-" : "";
    if (point == 0) {
      text += "0." + std::string(zeros, '0') + digits;
    } else {
      text +=
          digits.substr(0, point) + "." +
          (point == digits.size() ? std::string(random() % 2 ? "0" : "00") : digits.substr(point));
    }
    SCOPED_TRACE(text);
    EXPECT_EQ(printed(text), format_double(std::strtod(text.c_str(), nullptr)));
  }
}

TEST(JsonWriter, StringsAreWrittenWithTheMinimalEscapes) {
  const std::pair<const char*, const char*> cases[] = {
      {R"("\/\"\\")", R"("/\"\\")"},
      {R"("a\"\\\b\f\n\r\tz")", R"("a\"\\\b\f\n\r\tz")"},  // minimal already
      {R"("\u00e4\u00E4")", "\"\xC3\xA4\xC3\xA4\""},
      {R"("\u001F\u0000\b\f\n\r\t")", R"("\u001f\u0000\b\f\n\r\t")"},
      {R"("\u0008\u000a")", R"("\b\n")"},
      {R"("\ud83d\ude00")", "\"\xF0\x9F\x98\x80\""},
      {R"("\uD800 and \udc00")", R"("\ud800 and \udc00")"},  // no UTF-8 form: kept escaped
      {"\"K\xC3\xA4se\"", "\"K\xC3\xA4se\""},
  };
  for (const BlockScan scan : available_block_scans()) {
    const JsonStyle style{.pretty = false, .scan = scan};
    for (const auto& [input, output] : cases) EXPECT_EQ(printed(input, style), output) << input;
  }
  EXPECT_EQ(to_compact(Json("q\"\\\x01\n/\xC3\xA4")), "\"q\\\"\\\\\\u0001\\n/\xC3\xA4\"");
  EXPECT_EQ(to_compact(Json("bad \xFF byte")), "\"bad \xEF\xBF\xBD byte\"");
}

TEST(JsonWriter, EscapesAcrossBlockBoundaries) {
  for (const BlockScan scan : available_block_scans()) {
    const JsonStyle style{.pretty = false, .scan = scan};
    for (std::size_t at = 0; at <= 70; ++at) {
      SCOPED_TRACE(at);
      const std::string before(at, 'x');
      EXPECT_EQ(printed("\"" + before + R"(\"\/\u00e4\u0041\ud800\\\t")", style),
                "\"" + before +
                    R"(\"/)"
                    "\xC3\xA4"
                    R"(A\ud800\\\t")");
      EXPECT_EQ(printed("\"" + before + R"(\/")", style), "\"" + before + "/\"");
      // The same text from a value built in memory.
      EXPECT_EQ(json_text(Json(before + "\"\x01\n"), style), "\"" + before + R"(\"\u0001\n")");
    }
  }
}

// A result printed on a terminal shows every character that would act on it
// (DEL, the C1 controls, the bidirectional controls, the line separators) as
// a \u escape, which reads back as the same JSON; piped on, the output stays
// byte for byte what the app sent, and so does text without such characters.
TEST(JsonWriter, OnATerminalNoStringActsOnIt) {
  const std::string text =
      R"({"t":"a\u009b2J\u202efdp\u007f\u2028 \u2713 K\u00f6ln","\u0085k":[1.5,"\u2066"]})";
  const std::string piped =
      "{\n  \"t\": \"a\xC2\x9B"
      "2J\xE2\x80\xAE"
      "fdp\x7F\xE2\x80\xA8 \xE2\x9C\x93 K\xC3\xB6ln\",\n  \"\xC2\x85k\": [\n    1.5,\n"
      "    \"\xE2\x81\xA6\"\n  ]\n}\n";
  const std::string shown =
      "{\n  \"t\": \"a\\u009b2J\\u202efdp\\u007f\\u2028 \xE2\x9C\x93 K\xC3\xB6ln\",\n"
      "  \"\\u0085k\": [\n    1.5,\n    \"\\u2066\"\n  ]\n}\n";
  auto indexed = read_json(text);
  auto unindexed = read_json(text, LoneSurrogates::Kept, BlockScan::Best, 0);
  ASSERT_TRUE(indexed && unindexed);
  const auto printed_to = [](bool terminal, const auto& value) {
    StringOutput out(terminal);
    print_json(out, value);
    return out.text();
  };
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "terminal" : "piped");
    const std::string& expected = terminal ? shown : piped;
    EXPECT_EQ(printed_to(terminal, *indexed), expected);
    EXPECT_EQ(printed_to(terminal, *unindexed), expected);
    EXPECT_EQ(printed_to(terminal, indexed->root()), expected);
    EXPECT_EQ(printed_to(terminal, to_json(indexed->root())), expected);
    EXPECT_EQ(printed_to(terminal, Json::parse(R"({"a":"K\u00f6ln \t"})")),
              "{\n  \"a\": \"K\xC3\xB6ln \\t\"\n}\n");
  }
  // Past the size written in one piece, each piece is shown the same.
  const std::string many = "[" + repeated(R"("\u009b\u202e\u2713",)", 30000) + "0]";
  auto long_document = read_json(many);
  ASSERT_TRUE(long_document);
  const std::string long_shown = printed_to(true, *long_document);
  EXPECT_EQ(long_shown.find("\xC2\x9B"), std::string::npos);
  EXPECT_EQ(long_shown.find("\xE2\x80\xAE"), std::string::npos);
  auto read_back = read_json(long_shown);
  ASSERT_TRUE(read_back);
  EXPECT_EQ(to_json(read_back->root()), to_json(long_document->root()));
}

TEST(JsonWriter, ObjectsSortByDecodedKeyAndKeepTheLastRepeat) {
  EXPECT_EQ(printed(R"({"b":1,"\u0061":2,"a":3,"\u00e4":4,"Z":5,"b":6})"),
            "{\"Z\":5,\"a\":3,\"b\":6,\"\xC3\xA4\":4}");
  EXPECT_EQ(printed(R"({"z":{"y":1,"x":[{"b":2,"a":1}]},"a":[]})"),
            R"({"a":[],"z":{"x":[{"a":1,"b":2}],"y":1}})");
}

TEST(JsonWriter, PrettyLayout) {
  EXPECT_EQ(
      printed(R"({"b":{},"a":[1,{"c":null}],"e":[]})", kPrettyJson),
      "{\n  \"a\": [\n    1,\n    {\n      \"c\": null\n    }\n  ],\n  \"b\": {},\n  \"e\": []\n}");
  EXPECT_EQ(printed("\"x\"", kPrettyJson), "\"x\"");
  EXPECT_EQ(to_pretty(Json::parse(R"({"b":[true],"a":{}})")),
            "{\n  \"a\": {},\n  \"b\": [\n    true\n  ]\n}");
}

TEST(JsonWriter, NumbersAsWrittenForIds) {
  EXPECT_EQ(printed("[1.50,1e2,123456789012345678901234567890,-0]",
                    {.pretty = false, .numbers_as_written = true}),
            "[1.50,1e2,123456789012345678901234567890,-0]");
}

TEST(JsonWriter, TheDeepestDocumentPrintsLinearly) {
  const std::string text = nested(1000);
  EXPECT_EQ(printed(text), text);
  const std::string pretty = printed(text, kPrettyJson);
  EXPECT_TRUE(pretty.starts_with("[\n  [\n    [\n"));
  EXPECT_EQ(printed(pretty), text);
  EXPECT_EQ(to_json(read_json(text)->root()).dump(), text);
}

TEST(JsonValue, ConversionKeepsKindsLikeTheLibraryParser) {
  auto value = parse_json(
      R"({"u":5,"n":-5,"big":18446744073709551615,"huge":123456789012345678901234567890,)"
      R"("d":0.5,"tiny":1e-400,"inf":-1e400})");
  ASSERT_TRUE(value) << value.error();
  EXPECT_TRUE((*value)["u"].is_number_unsigned());
  EXPECT_TRUE((*value)["n"].is_number_integer());
  EXPECT_EQ((*value)["big"].get<std::uint64_t>(), 18446744073709551615ULL);
  EXPECT_TRUE((*value)["huge"].is_number_float());
  EXPECT_EQ((*value)["tiny"].get<double>(), 0.0);
  EXPECT_TRUE(std::isinf((*value)["inf"].get<double>()));
  // A reply's lone surrogate, which the reader keeps, has no UTF-8 form.
  EXPECT_EQ(to_json(read_json(R"({"s":"\ud800"})")->root())["s"], "\xEF\xBF\xBD");
  EXPECT_FALSE(parse_json("\xEF\xBB\xBF{}"));
  EXPECT_FALSE(parse_json("{}\0"s));
}

}  // namespace
