#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/block_scan.hpp"

namespace murmela {

// Deeper nesting than this is refused: nothing a person or the app writes
// comes near it, and it bounds every walk over a document.
inline constexpr std::size_t kMaxJsonDepth = 1000;

// A \u escape of half a surrogate pair stands for no character. RFC 8259
// lets a reader accept it: documents that are only passed on (the app's
// replies) keep it as written; text that must become characters refuses it.
enum class LoneSurrogates { Kept, Refused };

enum class JsonKind { Null, Boolean, Number, String, Array, Object };

// Where one value stands in a document's text. Containers also know where
// their descendants end in the flat list, so a walk can skip them.
struct JsonNode {
  std::uint32_t start;  // offset of the value's first byte
  std::uint32_t end;    // offset one past its last byte
  std::uint32_t after;  // index one past the value's last descendant, and the flag below
};

// Set in `after` of a string whose escapes are all in the form the printer
// writes (none is \u or \/), so that it prints exactly as written. Texts are
// shorter than 2 GiB, so no index reaches this bit.
inline constexpr std::uint32_t kPrintsAsWritten = 1u << 31;
// The same bit on a container: its contents were checked but not indexed
// (see read_json's `indexed_depth`).
inline constexpr std::uint32_t kContentsNotIndexed = kPrintsAsWritten;

// Where a large container or a long string that was read but not indexed
// starts and ends, so that a walk over the text can step over it at once.
// A string's `end` carries kPrintsAsWritten as its index entry would.
struct JsonSpan {
  std::uint32_t start;
  std::uint32_t end;
};

// One value inside a JsonDocument: a cheap handle, valid while the document
// lives. Scalars keep their exact source text, so nothing is lost between
// reading a value and writing it out again.
class JsonView {
 public:
  JsonKind kind() const;
  bool is_object() const { return kind() == JsonKind::Object; }
  bool is_array() const { return kind() == JsonKind::Array; }
  bool is_string() const { return kind() == JsonKind::String; }
  bool is_null() const { return kind() == JsonKind::Null; }

  // The value's source text, surrounding whitespace excluded.
  std::string_view source() const;
  // A string's text between its quotes, escapes as written.
  std::string_view string_source() const;
  // A string's decoded text; a lone surrogate escape becomes U+FFFD.
  std::string string() const;
  bool boolean() const;  // true for `true`
  // A number written without fraction or exponent.
  bool is_integer() const;

  // Containers: the elements of an array, or the keys and values of an object
  // alternately, in source order.
  std::vector<JsonView> children() const;
  // For walks without allocation: a container's children are the views from
  // index() + 1, each followed by the one at its after_index(), up to the
  // container's own after_index().
  std::uint32_t index() const { return index_; }
  std::uint32_t after_index() const { return nodes_[index_].after & ~kPrintsAsWritten; }
  // A string that prints exactly as written (see kPrintsAsWritten).
  bool prints_as_written() const { return (nodes_[index_].after & kPrintsAsWritten) != 0; }
  // False for a container below which the reader built no index: it has no
  // children as views, and prints from its text.
  bool contents_indexed() const {
    return (kind() != JsonKind::Object && kind() != JsonKind::Array) ||
           (nodes_[index_].after & kContentsNotIndexed) == 0;
  }
  JsonView at(std::uint32_t index) const { return {nodes_, text_, index}; }

  // An object's member `key` (the last one when it is repeated).
  std::optional<JsonView> find(std::string_view key) const;

 private:
  friend class JsonDocument;
  JsonView(const JsonNode* nodes, const char* text, std::uint32_t index)
      : nodes_(nodes), text_(text), index_(index) {}

  const JsonNode* nodes_;
  const char* text_;
  std::uint32_t index_;
};

// A JSON text that the strict reader accepted, with a flat index of its values.
class JsonDocument {
 public:
  JsonView root() const;
  // The same document with `value` (a value of this document at a depth
  // the reader indexed) as its root.
  JsonDocument rooted_at(JsonView value) &&;
  const std::string& text() const { return data_->text; }

  // A root container whose contents were not indexed, for printing straight
  // from the text: its source and the spans of the large containers and of
  // the long strings in it (each sorted by start, offsets into text()).
  // Nothing for any other root.
  struct Unindexed {
    std::string_view text;
    std::size_t start;
    std::size_t end;
    const std::vector<JsonSpan>* spans;
    const std::vector<JsonSpan>* string_spans;
  };
  std::optional<Unindexed> unindexed_root() const;

 private:
  friend std::expected<JsonDocument, std::string> read_json(std::string text, LoneSurrogates,
                                                            BlockScan, std::size_t);
  struct Data {
    std::string text;
    std::vector<JsonNode> nodes;
    std::vector<JsonSpan> spans;
    std::vector<JsonSpan> string_spans;
    LoneSurrogates lone_surrogates = LoneSurrogates::Kept;
    // The index of an unindexed root's contents, made when a view first
    // asks for it; its offsets count from the root's first byte.
    std::vector<JsonNode> root_nodes;
  };
  explicit JsonDocument(std::unique_ptr<Data> data) : data_(std::move(data)) {}

  std::unique_ptr<Data> data_;  // on the heap, so views survive moving the document
  std::uint32_t root_ = 0;
};

// How the reader's error for text that is not UTF-8 starts (its place
// follows). That fault is looked for before any other, so it wins over
// every other fault the text has.
inline constexpr std::string_view kInvalidUtf8Fault = "invalid UTF-8";

// Reads exactly one JSON document as RFC 8259 defines it: the whole byte
// range, valid UTF-8, only space, tab, line feed and carriage return around
// it, nesting up to kMaxJsonDepth. The error describes the fault with its
// line and column. Every block scan gives the same verdict.
//
// Values nested deeper than `indexed_depth` (the root is at depth 0) are
// checked as strictly but get no index entry, which costs about as much
// memory as the text for many small values. Containers at that depth print
// straight from their text but have no children as views, until the
// document is rooted at one: its index is then made when a view of it is
// first asked for.
[[nodiscard]] std::expected<JsonDocument, std::string> read_json(
    std::string text, LoneSurrogates lone_surrogates = LoneSurrogates::Kept,
    BlockScan scan = BlockScan::Best, std::size_t indexed_depth = kMaxJsonDepth);

// The decoded form of a string's source text (between the quotes), which the
// reader has accepted; a lone surrogate escape becomes U+FFFD.
std::string decode_json_string(std::string_view source);

// The code point of the \u escape whose four hex digits start at `pos` in a
// string's accepted source, joined with a low surrogate escape that follows a
// high one; `pos` moves past what was used. A lone surrogate is returned as
// it is.
std::uint32_t read_unicode_escape(std::string_view source, std::size_t& pos);

// The character a one-letter escape (the letter after the backslash) stands for.
char escaped_character(char letter);

// Walks a string's accepted source: `plain` gets each run of bytes without
// escapes, `escape` the code point of each escape (a lone surrogate as it is).
template <typename Plain, typename Escape>
void walk_json_string(std::string_view source, Plain plain, Escape escape) {
  for (std::size_t i = 0; i < source.size();) {
    const std::size_t backslash = source.find('\\', i);
    if (backslash == std::string_view::npos) {
      plain(source.substr(i));
      return;
    }
    plain(source.substr(i, backslash - i));
    const char letter = source[backslash + 1];
    i = backslash + 2;
    escape(letter == 'u'
               ? read_unicode_escape(source, i)
               : static_cast<std::uint32_t>(static_cast<unsigned char>(escaped_character(letter))));
  }
}

}  // namespace murmela
