#include "common/json_document.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "common/block_scan.hpp"
#include "common/platform.hpp"
#include "common/text.hpp"
#include "common/try.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::uint32_t read_hex4(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text.substr(0, 4)) value = value * 16 + static_cast<std::uint32_t>(hex_value(c));
  return value;
}

bool is_hex4(std::string_view text) {
  return text.size() >= 4 && hex_value(text[0]) >= 0 && hex_value(text[1]) >= 0 &&
         hex_value(text[2]) >= 0 && hex_value(text[3]) >= 0;
}

bool is_high_surrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Containers at least this long that get no index entry are remembered by
// their span, so that a walk over the text never scans one twice; the list
// stays tiny against the text.
constexpr std::size_t kSpanBytes = 1024;
// Strings at least this long that get no index entry are remembered too, so
// that the printer need not scan them again for their end; the list costs
// at most a thirty-second of the text.
constexpr std::size_t kStringSpanBytes = 256;

struct Indexed {
  std::vector<JsonNode> nodes;
  std::vector<JsonSpan> spans;         // sorted by start
  std::vector<JsonSpan> string_spans;  // sorted by start
};

// The reader: one pass over the text with an explicit stack of open
// containers, so the depth of the input never reaches the call stack.
class Reader {
 public:
  Reader(std::string_view text, LoneSurrogates lone_surrogates, BlockScan scan,
         std::size_t indexed_depth)
      : text_(text),
        lone_surrogates_(lone_surrogates),
        scan_(scan),
        indexed_depth_(indexed_depth) {}

  std::expected<Indexed, std::string> read() {
    // Offsets and node indexes are 32 bits, the top bit of an index a flag.
    if (text_.size() >= kPrintsAsWritten) {
      return std::unexpected(std::string("the text is too large for a JSON document"));
    }
    if (const std::size_t bad = first_invalid_utf8(text_, scan_); bad != std::string_view::npos) {
      pos_ = bad;
      return fail(kInvalidUtf8Fault);
    }
    // Every value takes at least two bytes but the last, so the index never
    // has to move while it grows; untouched capacity costs no memory.
    if (indexed_depth_ >= kMaxJsonDepth) {
      nodes_.reserve(text_.size() / 2 + 1);
      platform::prefer_huge_pages(nodes_.data(), nodes_.capacity() * sizeof(JsonNode));
    }
    skip_space();
    for (;;) {
      const Step step = value();
      if (step == Step::Failed) return std::unexpected(error_);
      if (step == Step::Opened) {
        // The first member or element of the container just opened.
        if (in_object() && !key()) return std::unexpected(error_);
        continue;
      }
      // A value is complete: close every container that ends here, then go
      // on with the next member or element of the innermost one still open.
      for (;;) {
        skip_space();
        if (open_.empty()) {
          if (pos_ != text_.size()) return fail("trailing characters");
          std::ranges::sort(spans_, {}, &JsonSpan::start);
          return Indexed{std::move(nodes_), std::move(spans_), std::move(string_spans_)};
        }
        const bool object = in_object();
        if (at(',')) {
          ++pos_;
          skip_space();
          if (object && !key()) return std::unexpected(error_);
          break;
        }
        if (at(object ? '}' : ']')) {
          close_container();
          continue;
        }
        if (pos_ == text_.size())
          return fail(object ? "EOF while parsing an object" : "EOF while parsing a list");
        return fail(object ? "expected `,` or `}`" : "expected `,` or `]`");
      }
    }
  }

 private:
  enum class Step { Complete, Opened, Failed };

  static constexpr std::uint32_t kNoNode = ~std::uint32_t{0};

  // A container not yet closed: where it starts, and its index entry (or
  // kNoNode when it is nested too deep to get one).
  struct Open {
    std::uint32_t start;
    std::uint32_t node;
  };

  bool in_object() const { return text_[open_.back().start] == '{'; }
  bool at(char c) const { return pos_ < text_.size() && text_[pos_] == c; }

  void skip_space() {
    while (pos_ < text_.size() && is_json_space(text_[pos_])) ++pos_;
  }

  std::unexpected<std::string> fail(std::string_view what) {
    set_error(what);
    return std::unexpected(error_);
  }

  bool set_error(std::string_view what) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < pos_; ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    error_ = fmt::format("{} at line {}, column {}", what, line, column);
    return false;
  }

  // The index entry of a value that starts at `start` and lies as deep as
  // the containers now open, or kNoNode below the indexed depth.
  std::uint32_t add_node(std::size_t start) {
    if (open_.size() > indexed_depth_) return kNoNode;
    nodes_.push_back({static_cast<std::uint32_t>(start), 0, 0});
    return static_cast<std::uint32_t>(nodes_.size() - 1);
  }

  void finish_node(std::uint32_t index) {
    if (index == kNoNode) return;
    nodes_[index].end = static_cast<std::uint32_t>(pos_);
    nodes_[index].after = static_cast<std::uint32_t>(nodes_.size());
  }

  void close_container() {
    ++pos_;
    const Open open = open_.back();
    open_.pop_back();
    if (open.node != kNoNode) {
      finish_node(open.node);
      if (open_.size() == indexed_depth_) nodes_[open.node].after |= kContentsNotIndexed;
    } else if (pos_ - open.start >= kSpanBytes) {
      spans_.push_back({open.start, static_cast<std::uint32_t>(pos_)});
    }
  }

  // One value. A container is only opened (and closed again when empty):
  // its contents are read by the loop in read().
  Step value() {
    if (pos_ == text_.size()) return failed("EOF while parsing a value");
    bool complete = false;
    switch (text_[pos_]) {
      case '{':
      case '[':
        return open_container();
      case '"':
        complete = string();
        break;
      case 't':
        complete = literal("true");
        break;
      case 'f':
        complete = literal("false");
        break;
      case 'n':
        complete = literal("null");
        break;
      default:
        if (text_[pos_] != '-' && !is_digit(text_[pos_])) return failed("expected value");
        complete = number();
    }
    return complete ? Step::Complete : Step::Failed;
  }

  Step failed(std::string_view what) {
    set_error(what);
    return Step::Failed;
  }

  Step open_container() {
    if (open_.size() >= kMaxJsonDepth) return failed("recursion limit exceeded");
    const bool object = text_[pos_] == '{';
    open_.push_back({static_cast<std::uint32_t>(pos_), add_node(pos_)});
    ++pos_;
    skip_space();
    if (at(object ? '}' : ']')) {
      close_container();
      return Step::Complete;
    }
    return Step::Opened;
  }

  // A member's key and the colon after it.
  bool key() {
    if (!at('"'))
      return set_error(pos_ == text_.size() ? "EOF while parsing an object"
                                            : "key must be a string");
    if (!string()) return false;
    skip_space();
    if (!at(':'))
      return set_error(pos_ == text_.size() ? "EOF while parsing an object" : "expected `:`");
    ++pos_;
    skip_space();
    return true;
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return set_error("expected value");
    const auto node = add_node(pos_);
    pos_ += word.size();
    finish_node(node);
    return true;
  }

  bool digits() {
    if (pos_ == text_.size() || !is_digit(text_[pos_])) {
      return set_error(pos_ == text_.size() ? "EOF while parsing a value" : "invalid number");
    }
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    return true;
  }

  bool number() {
    const auto node = add_node(pos_);
    if (at('-')) ++pos_;
    if (at('0')) {
      ++pos_;
    } else if (!digits()) {
      return false;
    }
    if (at('.')) {
      ++pos_;
      if (!digits()) return false;
    }
    if (at('e') || at('E')) {
      ++pos_;
      if (at('+') || at('-')) ++pos_;
      if (!digits()) return false;
    }
    finish_node(node);
    return true;
  }

  bool string() {
    const auto node = add_node(pos_);
    const std::size_t start = pos_;
    ++pos_;
    bool as_written = true;
    for (;;) {
      pos_ = find_string_special(text_, pos_, scan_);
      if (pos_ == text_.size()) return set_error("EOF while parsing a string");
      const auto byte = static_cast<unsigned char>(text_[pos_]);
      if (byte == '"') break;
      if (byte != '\\')
        return set_error("control character (\\u0000-\\u001F) found while parsing a string");
      const std::size_t backslash = pos_;
      if (!escape()) return false;
      const char letter = text_[backslash + 1];
      if (letter == 'u' || letter == '/') as_written = false;
    }
    ++pos_;
    finish_node(node);
    const std::uint32_t flag = as_written ? kPrintsAsWritten : 0;
    if (node != kNoNode) {
      nodes_[node].after |= flag;
    } else if (pos_ - start >= kStringSpanBytes) {
      string_spans_.push_back(
          {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(pos_) | flag});
    }
    return true;
  }

  bool escape() {
    ++pos_;
    if (pos_ == text_.size()) return set_error("EOF while parsing a string");
    const char c = text_[pos_];
    if (c == 'u') {
      for (int i = 1; i <= 4; ++i) {
        if (pos_ + i >= text_.size() || hex_value(text_[pos_ + i]) < 0) {
          pos_ += i;
          return set_error("invalid \\u escape");
        }
      }
      const std::size_t backslash = pos_ - 1;
      const std::uint32_t unit = read_hex4(text_.substr(pos_ + 1));
      pos_ += 5;
      if (lone_surrogates_ == LoneSurrogates::Kept || unit < 0xD800 || unit > 0xDFFF) return true;
      if (is_high_surrogate(unit) && text_.substr(pos_, 2) == "\\u" &&
          is_hex4(text_.substr(pos_ + 2)) && is_low_surrogate(read_hex4(text_.substr(pos_ + 2)))) {
        pos_ += 6;
        return true;
      }
      pos_ = backslash;
      return set_error("lone surrogate in a \\u escape");
    }
    switch (c) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't':
        ++pos_;
        return true;
      default:
        return set_error("invalid escape");
    }
  }

  std::string_view text_;
  LoneSurrogates lone_surrogates_;
  BlockScan scan_;
  std::size_t indexed_depth_;
  std::size_t pos_ = 0;
  std::vector<JsonNode> nodes_;
  std::vector<JsonSpan> spans_;
  std::vector<JsonSpan> string_spans_;  // found in text order, so sorted
  std::vector<Open> open_;
  std::string error_;
};

}  // namespace

std::uint32_t read_unicode_escape(std::string_view source, std::size_t& pos) {
  std::uint32_t code_point = read_hex4(source.substr(pos));
  pos += 4;
  if (code_point >= 0xD800 && code_point <= 0xDBFF && source.substr(pos, 2) == "\\u") {
    const std::uint32_t low = read_hex4(source.substr(pos + 2));
    if (low >= 0xDC00 && low <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
      pos += 6;
    }
  }
  return code_point;
}

JsonKind JsonView::kind() const {
  switch (text_[nodes_[index_].start]) {
    case '{':
      return JsonKind::Object;
    case '[':
      return JsonKind::Array;
    case '"':
      return JsonKind::String;
    case 't':
    case 'f':
      return JsonKind::Boolean;
    case 'n':
      return JsonKind::Null;
    default:
      return JsonKind::Number;
  }
}

std::string_view JsonView::source() const {
  const JsonNode& node = nodes_[index_];
  return {text_ + node.start, node.end - node.start};
}

std::string_view JsonView::string_source() const {
  const std::string_view text = source();
  return text.substr(1, text.size() - 2);
}

std::string JsonView::string() const { return decode_json_string(string_source()); }

bool JsonView::boolean() const { return text_[nodes_[index_].start] == 't'; }

bool JsonView::is_integer() const {
  return kind() == JsonKind::Number && source().find_first_of(".eE") == std::string_view::npos;
}

std::vector<JsonView> JsonView::children() const {
  std::vector<JsonView> found;
  for (std::uint32_t child = index_ + 1; child < after_index(); child = at(child).after_index()) {
    found.push_back(at(child));
  }
  return found;
}

std::optional<JsonView> JsonView::find(std::string_view key) const {
  if (!is_object()) return std::nullopt;
  std::optional<JsonView> found;
  for (std::uint32_t child = index_ + 1; child < after_index();) {
    const JsonView name = at(child);
    const JsonView value = at(name.after_index());
    const std::string_view source = name.string_source();
    const bool plain = source.find('\\') == std::string_view::npos;
    if (plain ? source == key : name.string() == key) found = value;
    child = value.after_index();
  }
  return found;
}

std::optional<JsonDocument::Unindexed> JsonDocument::unindexed_root() const {
  const JsonNode& node = data_->nodes[root_];
  const char first = data_->text[node.start];
  if ((first != '{' && first != '[') || (node.after & kContentsNotIndexed) == 0)
    return std::nullopt;
  return Unindexed{data_->text, node.start, node.end, &data_->spans, &data_->string_spans};
}

JsonView JsonDocument::root() const {
  const auto unindexed = unindexed_root();
  if (!unindexed) return {data_->nodes.data(), data_->text.data(), root_};
  // Views walk the index, so the root's contents get theirs now (once):
  // the text was accepted already, so this reading cannot fail.
  const std::string_view source =
      unindexed->text.substr(unindexed->start, unindexed->end - unindexed->start);
  if (data_->root_nodes.empty()) {
    auto indexed = Reader(source, data_->lone_surrogates, BlockScan::Best, kMaxJsonDepth).read();
    data_->root_nodes = std::move(indexed->nodes);
  }
  return {data_->root_nodes.data(), source.data(), 0};
}

JsonDocument JsonDocument::rooted_at(JsonView value) && {
  root_ = value.index();
  return std::move(*this);
}

std::expected<JsonDocument, std::string> read_json(std::string text, LoneSurrogates lone_surrogates,
                                                   BlockScan scan, std::size_t indexed_depth) {
  TRY_ASSIGN(auto indexed, Reader(text, lone_surrogates, scan, indexed_depth).read());
  auto data = std::make_unique<JsonDocument::Data>();
  data->text = std::move(text);
  data->nodes = std::move(indexed.nodes);
  data->spans = std::move(indexed.spans);
  data->string_spans = std::move(indexed.string_spans);
  data->lone_surrogates = lone_surrogates;
  return JsonDocument(std::move(data));
}

char escaped_character(char letter) {
  switch (letter) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:  // the quotation mark, the backslash and the solidus stand for themselves
      return letter;
  }
}

std::string decode_json_string(std::string_view source) {
  std::string out;
  out.reserve(source.size());
  walk_json_string(
      source, [&](std::string_view run) { out.append(run); },
      [&](std::uint32_t code_point) {
        append_utf8(out, code_point >= 0xD800 && code_point <= 0xDFFF ? 0xFFFD : code_point);
      });
  return out;
}

}  // namespace murmela
