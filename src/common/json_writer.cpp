#include "common/json_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <vector>

#include "common/double_text.hpp"
#include "common/shown_text.hpp"
#include "common/text.hpp"
#include "common/utf8.hpp"

namespace murmela {

namespace {

constexpr std::size_t kFlushBytes = 1 << 16;
constexpr char kHexDigits[] = "0123456789abcdef";

// Quotation mark, backslash and control characters, as the request line
// and the output escape them; everything else stays as it is.
void append_escaped_char(std::string& out, unsigned char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      out += "\\u00";
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 0xF]);
  }
}

bool needs_escape(char c) { return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20; }

// The code point of a \u escape in the minimal form.
void append_code_point(std::string& out, std::uint32_t code_point) {
  if (code_point >= 0xD800 && code_point <= 0xDFFF) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
      out.push_back(kHexDigits[(code_point >> shift) & 0xF]);
  } else if (code_point >= 0x80) {
    append_utf8(out, code_point);
  } else if (needs_escape(static_cast<char>(code_point))) {
    append_escaped_char(out, static_cast<unsigned char>(code_point));
  } else {
    out.push_back(static_cast<char>(code_point));
  }
}

// Whether a number as written (and accepted by the reader) is already in the
// output layout, so that it needs no round trip through a double: plain
// decimal with a fraction and at most 15 significant digits (no shorter
// decimal reads back to the same double, since every decimal of up to 15
// digits reads back to a double of its own), no trailing zero but in ".0",
// and within the range the layout writes without an exponent. Most numbers
// apps send are written so.
bool in_output_layout(std::string_view source) {
  if (source.starts_with('-')) source.remove_prefix(1);
  const std::size_t point = source.find('.');
  if (point == std::string_view::npos) return false;
  const std::string_view whole = source.substr(0, point);
  const std::string_view fraction = source.substr(point + 1);
  if (fraction.empty() || !std::all_of(fraction.begin(), fraction.end(), is_digit))
    return false;  // an exponent
  if (fraction == "0") return whole.size() <= 15;
  if (fraction.back() == '0') return false;
  if (whole != "0") return whole.size() + fraction.size() <= 15;
  const std::size_t zeros = fraction.find_first_not_of('0');
  return zeros <= 4 && fraction.size() - zeros <= 15;
}

// A string's accepted source with its escapes in the minimal form. Its only
// special bytes are backslashes, and most escapes are minimal already
// (\" \\ \b \f \n \r \t), so the source goes out in runs up to the next
// solidus or \u escape, which are written anew: a lone surrogate, which has
// no UTF-8 form, keeps its escape (in lower case), so nothing is lost.
void append_rewritten(std::string& out, std::string_view source, BlockScan scan) {
  std::size_t run = 0;
  for (std::size_t i = 0; (i = find_string_special(source, i, scan)) < source.size();) {
    const char letter = source[i + 1];
    if (letter != 'u' && letter != '/') {
      i += 2;
      continue;
    }
    out.append(source.substr(run, i - run));
    i += 2;
    if (letter == '/') {
      out.push_back('/');
    } else {
      append_code_point(out, read_unicode_escape(source, i));
    }
    run = i;
  }
  out.append(source.substr(run));
}

// Text assembled here and handed to the output in large pieces. A piece
// always ends between two tokens, so the escapes for a terminal see whole
// characters.
class Sink {
 public:
  Sink(Output& out, bool for_terminal) : out_(out), for_terminal_(for_terminal) {
    buffer_.reserve(kFlushBytes + 4096);
  }
  ~Sink() { flush(); }

  std::string& buffer() { return buffer_; }
  void maybe_flush() {
    if (buffer_.size() >= kFlushBytes) flush();
  }
  void flush() {
    if (buffer_.empty()) return;
    out_.write(for_terminal_ ? with_json_controls_escaped(buffer_) : buffer_);
    buffer_.clear();
  }

 private:
  Output& out_;
  bool for_terminal_;
  std::string buffer_;
};

// Layout shared by both walks: separators, indentation and scalars.
class Layout {
 public:
  Layout(Output& out, JsonStyle style) : sink_(out, style.for_terminal), style_(style) {}

  JsonStyle style() const { return style_; }

  // Before each element or member of the innermost open container.
  void next_item(bool first) {
    std::string& out = sink_.buffer();
    if (!first) out.push_back(',');
    if (style_.pretty) new_line(depth_);
  }
  void open(char bracket) {
    sink_.buffer().push_back(bracket);
    ++depth_;
  }
  void close(char bracket) {
    --depth_;
    if (style_.pretty) new_line(depth_);
    sink_.buffer().push_back(bracket);
    sink_.maybe_flush();
  }
  void empty(char open, char close) {
    sink_.buffer().push_back(open);
    sink_.buffer().push_back(close);
  }
  void after_key() { sink_.buffer() += style_.pretty ? ": " : ":"; }
  void raw(std::string_view text) {
    sink_.buffer() += text;
    sink_.maybe_flush();
  }

  // Decoded UTF-8 text: the runs between characters that need escaping
  // go out whole.
  void string(std::string_view text) {
    std::string& out = sink_.buffer();
    out.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; (i = find_string_special(text, i, style_.scan)) < text.size(); ++i) {
      out.append(text.substr(run, i - run));
      append_escaped_char(out, static_cast<unsigned char>(text[i]));
      run = i + 1;
    }
    out.append(text.substr(run));
    out.push_back('"');
    sink_.maybe_flush();
  }

  // A string as the strict reader accepted it, between its quotes. One
  // whose escapes are all in the minimal form already goes out whole.
  void string_source(std::string_view source, bool as_written) {
    std::string& out = sink_.buffer();
    out.push_back('"');
    if (as_written) {
      out.append(source);
    } else {
      append_rewritten(out, source, style_.scan);
    }
    out.push_back('"');
    sink_.maybe_flush();
  }

  void number_source(std::string_view source) {
    if (style_.numbers_as_written) return raw(source);
    if (source.find_first_of(".eE") == std::string_view::npos) {
      // An integer of any size prints as written; only "-0" has another form.
      return raw(source == "-0" ? std::string_view("0") : source);
    }
    if (in_output_layout(source)) return raw(source);
    double value = 0;
    const auto parsed = double_from_chars(source.data(), source.data() + source.size(), value);
    if (parsed.ec != std::errc() || !std::isfinite(value)) return raw(source);
    raw(format_double(value));
  }

 private:
  void new_line(std::size_t depth) {
    std::string& out = sink_.buffer();
    out.push_back('\n');
    out.append(2 * depth, ' ');
  }

  Sink sink_;
  JsonStyle style_;
  std::size_t depth_ = 0;
};

// The walk over the text of a container whose contents the reader checked
// but did not index (so the text is well formed): the output is the same as
// ViewWriter's. An object's members are gathered with where each value
// ends, so that scalars are scanned once; the end of a nested container or
// a string comes from the reader's spans when it is large or long, or from
// a scan of its text.
class TextWriter {
 public:
  TextWriter(Layout& layout, std::string_view text, const std::vector<JsonSpan>& spans,
             const std::vector<JsonSpan>& string_spans)
      : layout_(layout),
        text_(text),
        spans_(spans),
        string_spans_(string_spans),
        next_string_(string_spans.begin()),
        scan_(layout.style().scan) {}

  void write(std::size_t start) {
    open(start);
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      const bool first = frame.first;
      frame.first = false;
      if (frame.object) {
        if (frame.next == frame.end) {
          close(frame.close_end);
          continue;
        }
        const Member member = members_[frame.next++];
        layout_.next_item(first);
        layout_.string_source(member.key_source, member.key_as_written);
        layout_.after_key();
        value(member.start, member.end, member.as_written);
      } else {
        std::size_t pos = skip_space(frame.next);
        if (text_[pos] == ']') {
          close(pos + 1);
          continue;
        }
        if (text_[pos] == ',') pos = skip_space(pos + 1);
        layout_.next_item(first);
        if (is_container(text_[pos])) {
          frame.next = pos;  // moved past the element when it closes
          open(pos);
          continue;
        }
        bool as_written = true;
        const std::size_t end = scalar_end(pos, as_written);
        frame.next = end;
        value(pos, end, as_written);
      }
    }
  }

 private:
  struct Member {
    std::string_view key;         // decoded, for ordering
    std::string_view key_source;  // as written
    bool key_as_written;
    bool as_written;  // of a string value
    std::size_t start, end;
  };
  struct Frame {
    bool object;
    bool first;
    std::size_t next;       // arrays: text offset; objects: position in members_
    std::size_t end;        // objects: end of their members in members_
    std::size_t close_end;  // objects: text offset one past the closing brace
    std::size_t members_mark;
    std::size_t decoded_mark;
  };

  static bool is_container(char c) { return c == '{' || c == '['; }
  static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  std::size_t skip_space(std::size_t pos) const {
    while (is_space(text_[pos])) ++pos;
    return pos;
  }

  // One past the closing quote of the string at `pos`; `as_written` turns
  // false on an escape the printer writes anew.
  std::size_t string_end(std::size_t pos, bool& as_written) {
    if (const JsonSpan* known = recorded_string(pos)) {
      if ((known->end & kPrintsAsWritten) == 0) as_written = false;
      return known->end & ~kPrintsAsWritten;
    }
    for (++pos;; pos += 2) {
      pos = find_string_special(text_, pos, scan_);
      if (text_[pos] == '"') return pos + 1;
      const char letter = text_[pos + 1];
      if (letter == 'u' || letter == '/') as_written = false;
    }
  }

  // The reader's span of the long string at `pos`, if it kept one. Strings
  // are asked for in text order but after a container's end was found by
  // scanning it, so the search goes on from the last answer and starts
  // over only when asked for an earlier place.
  const JsonSpan* recorded_string(std::size_t pos) {
    if (next_string_ != string_spans_.begin() && std::prev(next_string_)->start >= pos)
      next_string_ = std::ranges::lower_bound(string_spans_, pos, {}, &JsonSpan::start);
    while (next_string_ != string_spans_.end() && next_string_->start < pos) ++next_string_;
    if (next_string_ == string_spans_.end() || next_string_->start != pos) return nullptr;
    return &*next_string_++;
  }

  std::size_t scalar_end(std::size_t pos, bool& as_written) {
    switch (text_[pos]) {
      case '"':
        return string_end(pos, as_written);
      case 't':
      case 'n':
        return pos + 4;
      case 'f':
        return pos + 5;
      default:
        while (pos < text_.size() && std::string_view("0123456789+-.eE").contains(text_[pos]))
          ++pos;
        return pos;
    }
  }

  std::size_t container_end(std::size_t pos) {
    const auto span = std::ranges::lower_bound(spans_, pos, {}, &JsonSpan::start);
    if (span != spans_.end() && span->start == pos) return span->end;
    std::size_t depth = 0;
    for (;;) {
      const char c = text_[pos];
      if (c == '"') {
        bool ignored = true;
        pos = string_end(pos, ignored);
        continue;
      }
      ++pos;
      if (is_container(c)) {
        ++depth;
      } else if ((c == '}' || c == ']') && --depth == 0) {
        return pos;
      }
    }
  }

  void value(std::size_t start, std::size_t end, bool as_written) {
    switch (text_[start]) {
      case '"':
        return layout_.string_source(text_.substr(start + 1, end - start - 2), as_written);
      case 't':
      case 'f':
      case 'n':
        return layout_.raw(text_.substr(start, end - start));
      case '{':
      case '[':
        return open(start);
      default:
        return layout_.number_source(text_.substr(start, end - start));
    }
  }

  void open(std::size_t start) {
    const bool object = text_[start] == '{';
    const std::size_t inside = skip_space(start + 1);
    if (text_[inside] == (object ? '}' : ']')) {
      layout_.empty(object ? '{' : '[', object ? '}' : ']');
      return after_close(inside + 1);
    }
    layout_.open(object ? '{' : '[');
    if (!object) {
      frames_.push_back({false, true, inside, 0, 0, members_.size(), decoded_.size()});
      return;
    }
    const std::size_t begin = members_.size();
    const std::size_t mark = decoded_.size();
    const std::size_t close_end = gather_members(inside);
    frames_.push_back({true, true, begin, members_.size(), close_end, begin, mark});
  }

  // The members of the object whose first key is at `pos`, ordered as the
  // printer writes them; returns the offset one past the closing brace.
  std::size_t gather_members(std::size_t pos) {
    const std::size_t begin = members_.size();
    for (;;) {
      bool key_as_written = true;
      const std::size_t key_end = string_end(pos, key_as_written);
      const std::string_view key_source = text_.substr(pos + 1, key_end - pos - 2);
      std::string_view key = key_source;
      if (key.find('\\') != std::string_view::npos)
        key = decoded_.emplace_back(decode_json_string(key_source));
      const std::size_t start = skip_space(skip_space(key_end) + 1);  // past the colon
      bool as_written = true;
      const std::size_t end =
          is_container(text_[start]) ? container_end(start) : scalar_end(start, as_written);
      members_.push_back({key, key_source, key_as_written, as_written, start, end});
      pos = skip_space(end);
      if (text_[pos] == '}') break;
      pos = skip_space(pos + 1);  // past the comma
    }
    const auto first = members_.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto by_key = [](const Member& a, const Member& b) { return a.key < b.key; };
    const auto strictly_ascending = [](const Member& a, const Member& b) {
      return !(a.key < b.key);
    };
    if (std::adjacent_find(first, members_.end(), strictly_ascending) != members_.end()) {
      std::stable_sort(first, members_.end(), by_key);
      // Of a repeated key the last value counts, as when the text is parsed.
      auto kept = first;
      for (auto it = first; it != members_.end(); ++it) {
        if (std::next(it) != members_.end() && std::next(it)->key == it->key) continue;
        *kept++ = *it;
      }
      members_.erase(kept, members_.end());
    }
    return pos + 1;
  }

  // `end` is one past the container just written.
  void close(std::size_t end) {
    const Frame& frame = frames_.back();
    layout_.close(frame.object ? '}' : ']');
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(frame.members_mark),
                   members_.end());
    decoded_.resize(frame.decoded_mark);
    frames_.pop_back();
    after_close(end);
  }

  // An array goes on after its element that just ended.
  void after_close(std::size_t end) {
    if (!frames_.empty() && !frames_.back().object) frames_.back().next = end;
  }

  Layout& layout_;
  std::string_view text_;
  const std::vector<JsonSpan>& spans_;
  const std::vector<JsonSpan>& string_spans_;
  std::vector<JsonSpan>::const_iterator next_string_;
  BlockScan scan_;
  std::vector<Frame> frames_;
  std::vector<Member> members_;
  std::deque<std::string> decoded_;  // keys with escapes, decoded; stable addresses
};

// The document walk. Each open container is a frame; an object's members
// are gathered in one shared arena, sorted there and dropped when the object
// closes, so the walk allocates little however many objects there are.
class ViewWriter {
 public:
  ViewWriter(Output& out, JsonStyle style) : layout_(out, style) {}

  void write(JsonView root) {
    value(root);
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      const bool first = frame.first;
      frame.first = false;
      if (frame.object) {
        if (frame.next == frame.end) {
          close();
          continue;
        }
        const Member member = members_[frame.next++];
        layout_.next_item(first);
        layout_.string_source(member.key_source, member.key_as_written);
        layout_.after_key();
        value(member.value);
      } else {
        if (frame.next == frame.end) {
          close();
          continue;
        }
        const JsonView element = frame.container.at(static_cast<std::uint32_t>(frame.next));
        frame.next = element.after_index();
        layout_.next_item(first);
        value(element);
      }
    }
  }

 private:
  struct Member {
    std::string_view key;         // decoded, for ordering
    std::string_view key_source;  // as written
    bool key_as_written;
    JsonView value;
  };
  struct Frame {
    JsonView container;
    bool object;
    bool first;
    std::size_t next;  // arrays: node index; objects: position in members_
    std::size_t end;
    std::size_t members_mark;  // objects: where their members start in members_
    std::size_t decoded_mark;
  };

  void value(JsonView view) {
    switch (view.kind()) {
      case JsonKind::String:
        return layout_.string_source(view.string_source(), view.prints_as_written());
      case JsonKind::Number:
        return layout_.number_source(view.source());
      case JsonKind::Null:
      case JsonKind::Boolean:
        return layout_.raw(view.source());
      case JsonKind::Array:
      case JsonKind::Object:
        if (!view.contents_indexed())
          return TextWriter(layout_, view.source(), kNoSpans, kNoSpans).write(0);
        return open(view);
    }
  }

  static inline const std::vector<JsonSpan> kNoSpans;

  void open(JsonView view) {
    const bool object = view.is_object();
    if (view.after_index() == view.index() + 1)
      return layout_.empty(object ? '{' : '[', object ? '}' : ']');
    layout_.open(object ? '{' : '[');
    if (!object) {
      frames_.push_back({view, false, true, view.index() + 1u, view.after_index(), members_.size(),
                         decoded_.size()});
      return;
    }
    const std::size_t begin = members_.size();
    const std::size_t mark = decoded_.size();
    gather_members(view);
    frames_.push_back({view, true, true, begin, members_.size(), begin, mark});
  }

  void gather_members(JsonView object) {
    const std::size_t begin = members_.size();
    for (std::uint32_t child = object.index() + 1; child < object.after_index();) {
      const JsonView name = object.at(child);
      const JsonView value = object.at(name.after_index());
      std::string_view key = name.string_source();
      const std::string_view key_source = key;
      if (key.find('\\') != std::string_view::npos) key = decoded_.emplace_back(name.string());
      members_.push_back({key, key_source, name.prints_as_written(), value});
      child = value.after_index();
    }
    const auto first = members_.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto by_key = [](const Member& a, const Member& b) { return a.key < b.key; };
    const auto strictly_ascending = [](const Member& a, const Member& b) {
      return !(a.key < b.key);
    };
    if (std::adjacent_find(first, members_.end(), strictly_ascending) == members_.end()) return;
    std::stable_sort(first, members_.end(), by_key);
    // Of a repeated key the last value counts, as when the text is parsed.
    auto kept = first;
    for (auto it = first; it != members_.end(); ++it) {
      if (std::next(it) != members_.end() && std::next(it)->key == it->key) continue;
      *kept++ = *it;
    }
    members_.erase(kept, members_.end());
  }

  void close() {
    const Frame& frame = frames_.back();
    layout_.close(frame.object ? '}' : ']');
    // Nothing above this object's members in the arena belongs to a frame
    // still open.
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(frame.members_mark),
                   members_.end());
    decoded_.resize(frame.decoded_mark);
    frames_.pop_back();
  }

  Layout layout_;
  std::vector<Frame> frames_;
  std::vector<Member> members_;
  std::deque<std::string> decoded_;  // keys with escapes, decoded; stable addresses
};

// The walk over a value built in memory, whose objects are ordered already.
class JsonWriter {
 public:
  JsonWriter(Output& out, JsonStyle style) : layout_(out, style) {}

  void write(const Json& root) {
    value(root);
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      if (frame.next == frame.end) {
        layout_.close(frame.container->is_object() ? '}' : ']');
        frames_.pop_back();
        continue;
      }
      const auto item = frame.next++;
      layout_.next_item(std::exchange(frame.first, false));
      if (frame.container->is_object()) {
        layout_.string(item.key());
        layout_.after_key();
      }
      value(*item);
    }
  }

 private:
  struct Frame {
    const Json* container;
    Json::const_iterator next;
    Json::const_iterator end;
    bool first;
  };

  void value(const Json& value) {
    switch (value.type()) {
      case Json::value_t::object:
      case Json::value_t::array:
        if (value.empty())
          return layout_.empty(value.is_object() ? '{' : '[', value.is_object() ? '}' : ']');
        layout_.open(value.is_object() ? '{' : '[');
        frames_.push_back({&value, value.begin(), value.end(), true});
        return;
      case Json::value_t::string: {
        const auto& text = value.get_ref<const std::string&>();
        if (is_valid_utf8(text)) return layout_.string(text);
        return layout_.string(lossy_utf8(text));
      }
      case Json::value_t::boolean:
        return layout_.raw(value.get<bool>() ? "true" : "false");
      case Json::value_t::number_integer:
        return layout_.raw(std::to_string(value.get<std::int64_t>()));
      case Json::value_t::number_unsigned:
        return layout_.raw(std::to_string(value.get<std::uint64_t>()));
      case Json::value_t::number_float: {
        const double number = value.get<double>();
        return layout_.raw(std::isfinite(number) ? format_double(number) : "null");
      }
      default:  // null, and the binary and discarded kinds, which nothing here makes
        return layout_.raw("null");
    }
  }

  Layout layout_;
  std::vector<Frame> frames_;
};

}  // namespace

void write_json(Output& out, JsonView value, JsonStyle style) {
  ViewWriter(out, style).write(value);
}

void write_json(Output& out, const Json& value, JsonStyle style) {
  JsonWriter(out, style).write(value);
}

void write_json(Output& out, const JsonDocument& document, JsonStyle style) {
  if (const auto unindexed = document.unindexed_root()) {
    Layout layout(out, style);
    return TextWriter(layout, unindexed->text, *unindexed->spans, *unindexed->string_spans)
        .write(unindexed->start);
  }
  write_json(out, document.root(), style);
}

std::string json_text(const JsonDocument& document, JsonStyle style) {
  StringOutput out;
  write_json(out, document, style);
  return out.text();
}

std::string json_text(JsonView value, JsonStyle style) {
  StringOutput out;
  write_json(out, value, style);
  return out.text();
}

std::string json_text(const Json& value, JsonStyle style) {
  StringOutput out;
  write_json(out, value, style);
  return out.text();
}

std::string format_double(double value) {
  char buffer[64];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));

  std::string out;
  if (text.starts_with('-')) {
    out.push_back('-');
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  std::string digits(text.substr(0, e));
  std::erase(digits, '.');
  int exponent = 0;
  std::string_view exponent_text = text.substr(e + 1);
  if (exponent_text.starts_with('+')) exponent_text.remove_prefix(1);
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

  // The value is digits × 10^k; the decimal point stands after kk digits.
  const int length = static_cast<int>(digits.size());
  const int k = exponent - (length - 1);
  const int kk = exponent + 1;
  if (k >= 0 && kk <= 16) {
    out += digits;
    out.append(static_cast<std::size_t>(k), '0');
    out += ".0";
  } else if (kk > 0 && kk <= 16) {
    out += digits.substr(0, static_cast<std::size_t>(kk));
    out.push_back('.');
    out += digits.substr(static_cast<std::size_t>(kk));
  } else if (kk > -5 && kk <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-kk), '0');
    out += digits;
  } else {
    out.push_back(digits[0]);
    if (length > 1) {
      out.push_back('.');
      out += digits.substr(1);
    }
    out += 'e';
    out += std::to_string(kk - 1);
  }
  return out;
}

}  // namespace murmela
